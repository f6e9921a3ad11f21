// Any datagrams answering a search: the list never holds more than 50 rows
// and never the same MAC twice.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "app/main_context.h"
#include "link/discovery.h"
#include "support/fake_channel.h"
#include "support/fake_ports.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  platform::VirtualClock clock;
  testing_support::FakeChannel search(&clock), command(&clock), file(&clock), recovery(&clock);
  testing_support::FakeUser user(&clock);
  testing_support::FakeBusy busy;
  testing_support::FakeList list;
  testing_support::FakePanel panel;
  testing_support::FakeProcesses processes;
  card::MainContext ctx(clock, user, busy, list, panel, processes, card::SysCfg("/nonexistent/SysCfg.ini"));
  ctx.search = &search;
  ctx.command = &command;
  ctx.file = &file;
  ctx.recovery = &recovery;
  search.setDatagrams(true);
  // Datagrams: a two-byte length, then that many bytes.
  std::size_t pos = 0;
  while (pos + 2 <= size) {
    std::size_t n = (data[pos] | (data[pos + 1] << 8)) % 1200;
    pos += 2;
    n = std::min(n, size - pos);
    search.queueReply(std::string(reinterpret_cast<const char*>(data + pos), n));
    pos += n;
  }
  card::SearchDevices(ctx);
  auto rows = list.rows();
  if (rows.size() > card::DeviceTable::kSlots) __builtin_trap();
  std::set<std::string> macs;
  for (const auto& r : rows)
    if (!macs.insert(r.mac).second) __builtin_trap();
  if (busy.isBusy()) __builtin_trap();
  return 0;
}
