// Any reply bytes: locating, copying and showing a record never reads past
// what arrived and never crashes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/main_state.h"
#include "link/record.h"
#include "params/panel.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // An exact-size copy, so that reading one byte too far is caught.
  std::vector<std::uint8_t> reply(data, data + size);
  auto at = card::LocateRecord(reply.data(), reply.size());
  card::DeviceStatusRecord r = card::CopyRecord(reply.data(), reply.size(), at.value_or(0));
  if (at && *at + 1 >= reply.size()) __builtin_trap();
  (void)card::CheckRecord(r);
  (void)card::VerifyChecksum(r);
  (void)card::MakeDeviceListEntry(r, 1);
  std::vector<std::string> messages;
  card::PanelValues v = card::FilledPanel(r, {}, card::FillVariant::Direct, &messages);
  card::FilledPanel(r, v, card::FillVariant::Broadcast, &messages);
  if (messages.size() > 3) __builtin_trap();
  return 0;
}
