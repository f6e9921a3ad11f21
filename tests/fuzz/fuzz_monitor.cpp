// Any block the card forwards, shown in every view of the run monitor: the
// hex dump has three characters per byte and a line break every 32, the text
// view stops at a zero byte, and the Modbus view gives a bounded line per
// frame, block after block, with the quiet line settling what waits.
#include <cstddef>
#include <cstdint>
#include <string>

#include "modbus/monitor.h"
#include "modbus/rtu.h"

namespace mb = card::modbus;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // First byte: the length of the pieces the rest is forwarded in.
  const std::size_t piece = data[0] % 64 + 1;
  const std::string stream(reinterpret_cast<const char*>(data + 1), size - 1);
  mb::RtuFramer framer;
  std::int64_t at = 1700000000000;
  for (std::size_t off = 0; off < stream.size(); off += piece) {
    const std::string bytes = stream.substr(off, piece);
    at += bytes[0] & 0x7F;
    for (int type : {mb::kMonitorHex, mb::kMonitorAscii}) {
      const mb::MonitorBlock b{bytes, at, type};
      const std::string shown = mb::FormatBlock(b);
      const std::string head = "\n[" + mb::BlockStamp(b) + "]: \n";
      if (shown.compare(0, head.size(), head) != 0 || shown.back() != '\n') __builtin_trap();
      const std::string body = shown.substr(head.size(), shown.size() - head.size() - 1);
      if (type == mb::kMonitorHex && body.size() != 3 * bytes.size() + bytes.size() / 32) __builtin_trap();
      if (type == mb::kMonitorAscii && body != mb::AsciiBody(bytes)) __builtin_trap();
    }
    const std::string rtu = mb::FormatRtuBlock({bytes, at, mb::kMonitorRtu}, framer);
    for (std::size_t from = 0, nl; from < rtu.size(); from = nl + 1) {
      nl = rtu.find('\n', from);
      if (nl == std::string::npos) __builtin_trap();
      // A frame's bytes in hex and what it is: never more than a frame's worth.
      if (nl - from > 3 * mb::RtuFramer::kMaxFrame + 200) __builtin_trap();
    }
    if (framer.pending() >= mb::RtuFramer::kMaxPending) __builtin_trap();
  }
  const std::string settled = mb::FormatRtuIdle(at + mb::RtuFramer::kGapMs + 1, framer);
  if (framer.pending() != 0) __builtin_trap();
  if (!settled.empty() && settled.find("线路空闲") == std::string::npos) __builtin_trap();
  return 0;
}
