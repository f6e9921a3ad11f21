// Any address text: the driver's strict parser takes only what prints back
// the same, and the blank-separated form of the command lines never writes
// outside its four bytes or reads past the text.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "ipv4.h"
#include "params/network.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (auto v = pcomm::ParseIpv4(text)) {
    char back[32];
    std::snprintf(back, sizeof back, "%u.%u.%u.%u", *v >> 24, (*v >> 16) & 0xFF, (*v >> 8) & 0xFF, *v & 0xFF);
    // Leading zeros ("010") are refused or print back differently: only a
    // canonical text may pass, or one whose octets say the same.
    if (text.size() > 15) __builtin_trap();
    if (pcomm::ParseIpv4(back) != v) __builtin_trap();
  }
  card::DeviceStatusRecord r, before;
  card::StoreBlankAddress(r, card::rec::kServerAddress, card::BlankSeparated(text));
  for (std::size_t i = 0; i < card::rec::kSize; ++i)
    if ((i < card::rec::kServerAddress || i >= card::rec::kServerAddress + 4) && r.u8(i) != before.u8(i))
      __builtin_trap();
  // Written and read back, the four bytes always say the same.
  const std::string blank = card::RecordAddressBlank(r, card::rec::kServerAddress);
  card::DeviceStatusRecord again;
  card::StoreBlankAddress(again, card::rec::kServerAddress, blank);
  if (card::RecordAddressBlank(again, card::rec::kServerAddress) != blank) __builtin_trap();
  return 0;
}
