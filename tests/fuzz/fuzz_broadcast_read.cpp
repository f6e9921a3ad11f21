// The broadcast path from a search to the panel: any datagrams answering
// the search query (the boot variant too) and then the broadcast read of
// the selected card ("广播" ticked). The panel is filled only from a whole
// record that carries the asked serial; otherwise the WorkingRecord stays
// as it was and the user is told.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "params/discovery.h"
#include "platform/codec.h"
#include "support/fake_channel.h"
#include "support/fake_ports.h"
#include "fuzz/fuzz_dir.h"

namespace {

struct Input {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t pos = 0;
  bool done() const { return pos >= size; }
  std::uint8_t Byte() { return pos < size ? data[pos++] : 0; }
  std::size_t U16() { return static_cast<std::size_t>(Byte()) | static_cast<std::size_t>(Byte()) << 8; }
};

// A plausible reply to start from: a valid code word, firmware 16 (no
// checksum test), a plain serial and a MAC of its own.
std::string Template(int n) {
  card::DeviceStatusRecord r;
  r.setU16(card::rec::kCodeWord, 0x8000);
  r.setU16(card::rec::kFirmware, 16);
  r.setU16(card::rec::kMac, static_cast<std::uint16_t>(n));
  for (int i = 0; i < 4; ++i) r.setU8(card::rec::kCardAddress + static_cast<std::size_t>(i), std::uint8_t(i == 0 ? 192 : n));
  r.setSerialBytes("20230000000000000000000" + std::to_string(n % 10));
  return std::string(reinterpret_cast<const char*>(r.data()), r.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in{data, size};
  const bool bootSearch = in.Byte() & 1;

  platform::VirtualClock clock;
  testing_support::FakeChannel search(&clock), command(&clock), recovery(&clock);
  search.Connect("192.168.1.5");
  search.setDatagrams(true);
  testing_support::FakeUser user(&clock);
  testing_support::FakeList list;
  testing_support::FakePanel panel;
  testing_support::FakeProcesses processes;
  const testing_support::TempDir& dir = fuzz_support::FreshFuzzDir();
  card::MainState state;
  state.setLocalAddress("192.168.1.5");
  card::SysCfg cfg{dir.file("SysCfg.ini")};
  card::Siblings siblings{processes, dir.path() + "/"};
  card::PanelContext ctx{command, clock, user, panel, state, cfg};
  card::OpenContext open{&search, recovery, list, siblings, {}};

  // Every query is answered by the next datagrams of the input.
  std::vector<std::string> sent;
  search.onSend([&](const std::string& line) {
    if (line.rfind("query ", 0) != 0) return;
    for (int n = 0; n < 16 && !in.done(); ++n) {
      const std::uint8_t op = in.Byte();
      std::string d;
      switch (op % 4) {
        case 0: {
          d = Template(op / 4);
          for (int edits = in.Byte() % 8; edits > 0; --edits) d[in.U16() % d.size()] = static_cast<char>(in.Byte());
          if (in.Byte() & 1) d.resize(in.U16() % 1200, '\0');
          break;
        }
        case 1: d.assign(in.U16() % 1200, '\0'); for (char& c : d) c = static_cast<char>(in.Byte()); break;
        case 2: if (!sent.empty()) d = sent[in.Byte() % sent.size()]; break;
        case 3: return;
      }
      sent.push_back(d);
      search.queueReply(d);
    }
  });

  card::SearchDevices(&search, clock, user, list, state, bootSearch);
  const card::DeviceStatusRecord before = state.record();
  const std::string serial = platform::Utf8ToGbk(state.selectedSerial());
  panel.values.broadcast = true;
  const std::size_t toldBefore = user.texts().size();
  const bool read = card::ReadRecord(ctx, open);

  if (read) {
    bool fromAnAnswer = false;
    for (const std::string& d : sent) {
      if (d.size() < card::rec::kSize) continue;
      const card::DeviceStatusRecord r =
          card::CopyRecord(reinterpret_cast<const std::uint8_t*>(d.data()), d.size(), 0);
      if (card::CheckRecord(r) && r.serialBytes() == serial && r == state.record()) fromAnAnswer = true;
    }
    if (!fromAnAnswer) __builtin_trap();
  } else {
    if (!(state.record() == before)) __builtin_trap();
    const auto texts = user.texts();
    if (texts.size() != toldBefore + 1 ||
        (texts.back() != card::kMsgNoBroadcastAnswer && texts.back() != card::kMsgShortRecord))
      __builtin_trap();
  }
  if (command.connectCount() != 0) __builtin_trap();  // the broadcast read never uses the command link
  return 0;
}
