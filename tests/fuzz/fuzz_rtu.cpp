// Any RS-485 byte stream, cut into any pieces with any pauses: the framer
// loses and repeats no byte, a frame it calls good has a good CRC, nothing it
// gives out is longer than a frame, and what waits for more stays shorter
// than two frames. Without pauses, how the stream was cut changes nothing.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "modbus/rtu.h"

namespace mb = card::modbus;

namespace {

std::vector<std::string> Lines(std::vector<mb::RtuFrame> frames, std::vector<mb::RtuFrame> more) {
  frames.insert(frames.end(), more.begin(), more.end());
  std::vector<std::string> out;
  for (const auto& f : frames) out.push_back(mb::DescribeFrame(f));
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t piece = data[0] % 16 + 1;
  const std::string stream(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string out;
  auto take = [&](const std::vector<mb::RtuFrame>& frames) {
    for (const auto& f : frames) {
      if (f.bytes.empty() || f.bytes.size() > mb::RtuFramer::kMaxFrame) __builtin_trap();
      if (f.kind == mb::RtuFrame::Unknown && f.bytes.size() > mb::RtuFramer::kMaxUnknownRun) __builtin_trap();
      if (f.crcOk && !mb::CrcOk(f.bytes)) __builtin_trap();
      if (mb::DescribeFrame(f).empty()) __builtin_trap();
      out += f.bytes;
    }
  };

  // Pieces with a pause now and then, sometimes long enough to end a frame.
  mb::RtuFramer framer;
  std::int64_t now = 0;
  for (std::size_t at = 0; at < stream.size(); at += piece) {
    const std::string chunk = stream.substr(at, piece);
    now += (static_cast<unsigned char>(chunk[0]) % 7 == 0) ? mb::RtuFramer::kGapMs + 1 : 3;
    take(framer.Feed(chunk, now));
    if (framer.pending() >= mb::RtuFramer::kMaxPending) __builtin_trap();
  }
  take(framer.Flush());
  if (framer.pending() != 0 || out != stream) __builtin_trap();

  // The same stream in one read and in pieces without a pause: the same frames.
  mb::RtuFramer whole, pieces;
  auto one = whole.Feed(stream, 0);
  std::vector<mb::RtuFrame> split;
  for (std::size_t at = 0; at < stream.size(); at += piece) {
    auto got = pieces.Feed(std::string_view(stream).substr(at, piece), 0);
    split.insert(split.end(), got.begin(), got.end());
  }
  if (Lines(one, whole.Flush()) != Lines(split, pieces.Flush())) __builtin_trap();
  return 0;
}
