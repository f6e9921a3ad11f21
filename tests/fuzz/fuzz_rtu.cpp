// Any RS-485 byte stream, cut into any pieces with any pauses: the framer
// loses and repeats no byte, a frame it calls good has a good CRC, and what
// waits for more stays shorter than a frame.
#include <cstddef>
#include <cstdint>
#include <string>

#include "modbus/monitor.h"
#include "modbus/rtu.h"

namespace mb = card::modbus;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t piece = data[0] % 16 + 1;
  const std::string stream(reinterpret_cast<const char*>(data + 1), size - 1);
  mb::RtuFramer framer;
  std::string out;
  std::int64_t now = 0;
  auto take = [&](const std::vector<mb::RtuFrame>& frames) {
    for (const auto& f : frames) {
      if (f.bytes.empty() || f.bytes.size() > 9 + 255) __builtin_trap();
      if (f.crcOk && !mb::CrcOk(f.bytes)) __builtin_trap();
      if (mb::DescribeFrame(f).empty()) __builtin_trap();
      out += f.bytes;
    }
  };
  for (std::size_t at = 0; at < stream.size(); at += piece) {
    const std::string chunk = stream.substr(at, piece);
    // A pause now and then, sometimes long enough to end a frame.
    now += (static_cast<unsigned char>(chunk[0]) % 7 == 0) ? mb::RtuFramer::kGapMs + 1 : 3;
    take(framer.Feed(chunk, now));
    if (framer.pending() >= mb::RtuFramer::kMaxFrame) __builtin_trap();
    mb::MonitorBlock block{chunk, now, mb::kMonitorHex};
    (void)mb::FormatBlock(block);
  }
  take(framer.Flush());
  if (framer.pending() != 0 || out != stream) __builtin_trap();
  return 0;
}
