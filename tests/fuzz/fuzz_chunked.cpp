// Any sequence of chunk replies (lengths, empty replies, failures): the
// chunked read never hands more than asked to its sink, keeps the bytes in
// order, asks each time from the first byte not yet received, and ends.
#include <cstddef>
#include <cstdint>
#include <string>

#include "link/command_channel.h"
#include "platform/text.h"
#include "support/fake_channel.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  platform::VirtualClock clock;
  testing_support::FakeChannel ch(&clock, true, testing_support::FakeChannel::AlreadyConnected);
  const std::uint32_t total = 1 + ((data[0] | data[1] << 8) % 20000);
  const std::uint32_t start = 0x600000;
  // The card's memory: byte i at start + i is (i * 7) & 0xFF.
  std::size_t pos = 2;
  std::uint32_t served = 0;
  ch.onSend([&](const std::string& line) {
    const std::string expected = platform::Format("file read_raw 0x%x 4096\n", start + served);
    if (line != expected) __builtin_trap();
    if (pos >= size) {
      ch.queueReply("");
      return;
    }
    const std::uint8_t op = data[pos++];
    if (op == 0xFF) {
      ch.queueReceiveFailure();
      return;
    }
    // 0..4096 bytes of the asked range, sometimes past the end of it.
    std::size_t n = (static_cast<std::size_t>(op) * 4096) / 254;
    std::string bytes(n, '\0');
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>(((served + i) * 7) & 0xFF);
    served += static_cast<std::uint32_t>(std::min<std::size_t>(n, total - served));
    ch.queueReply(bytes);
  });
  card::MemorySink sink;
  auto r = card::ReadRawChunked(ch, clock, start, total, sink);
  const auto& got = sink.bytes();
  if (got.size() > total || r.received != got.size()) __builtin_trap();
  for (std::size_t i = 0; i < got.size(); ++i)
    if (got[i] != static_cast<std::uint8_t>((i * 7) & 0xFF)) __builtin_trap();
  if (r.status == card::ChunkedStatus::Complete && got.size() != total) __builtin_trap();
  return 0;
}
