// The framing every operation uses to talk to a card: a line, a line and its
// reply, raw memory in 4096-byte chunks, and long payloads paced by the
// card's acknowledgements. The caller connects before and disconnects after.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "link/channel.h"
#include "platform/clock.h"

namespace card {

// BeginExchange on construction, EndExchange when the scope ends, on every
// path: an operation cut short (a failed send, an abort of the clock) never
// leaves the handle's exchange held.
class ExchangeScope {
 public:
  explicit ExchangeScope(Channel& ch) : ch_(ch) { ch_.BeginExchange(); }
  ~ExchangeScope() { ch_.EndExchange(); }
  ExchangeScope(const ExchangeScope&) = delete;
  ExchangeScope& operator=(const ExchangeScope&) = delete;

 private:
  Channel& ch_;
};

// BeginExchange, Send, EndExchange: a fire-and-forget line. Returns Send's result.
int SendLine(Channel& ch, std::string_view text);

struct Reply {
  int result = 0;          // Receive's result (or Send's, when the send failed)
  std::size_t count = 0;   // bytes received
  bool ok() const { return result == 0; }
};

// BeginExchange, Send, a fixed pause, one Receive into buffer, EndExchange.
// The buffer is zero-filled first, so a short text reply is terminated. A
// failed Send is reported in result and nothing is received.
Reply Exchange(Channel& ch, platform::Clock& clock, std::string_view text, int pauseMs, void* buffer,
               std::size_t capacity);

// Exchange with "file read_raw 0x%x %d\n".
Reply ReadRaw(Channel& ch, platform::Clock& clock, std::uint32_t address, int length, int pauseMs,
              void* buffer, std::size_t capacity);

std::string ReadRawLine(std::uint32_t address, int length);

// Where chunked reads put their bytes.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual bool Append(const std::uint8_t* data, std::size_t length) = 0;
  virtual bool Close() { return true; }
};

// Keeps up to limit bytes in memory; bytes beyond the limit are dropped.
class MemorySink : public ByteSink {
 public:
  explicit MemorySink(std::size_t limit = SIZE_MAX) : limit_(limit) {}
  bool Append(const std::uint8_t* data, std::size_t length) override;
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  std::size_t limit_;
  std::vector<std::uint8_t> bytes_;
};

constexpr int kChunkSize = 4096;
constexpr int kChunkPauseMs = 100;
// A card that keeps answering a chunk request with nothing is given up on
// after this many empty replies in a row (2 s of 100 ms polls).
constexpr int kMaxEmptyChunkReplies = 20;

enum class ChunkedStatus { Complete, SendFailed, ReceiveFailed, NoReply, SinkFailed };

struct ChunkedResult {
  ChunkedStatus status = ChunkedStatus::Complete;
  std::uint32_t received = 0;  // bytes handed to the sink
};

// percent = received * 100 / total, reported after every chunk, 100 at the end.
using ProgressFn = std::function<void(int percent)>;

// Reads total bytes from start on, 4096 bytes a request with a 100 ms pause
// before each Receive. Each request starts at the first byte not yet
// received; an empty reply repeats it. The sink never gets more than total
// bytes, even when the card answers the last request in full.
ChunkedResult ReadRawChunked(Channel& ch, platform::Clock& clock, std::uint32_t start, std::uint32_t total,
                             ByteSink& sink, const ProgressFn& progress = {});

constexpr std::size_t kPacedPieceSize = 1200;
constexpr int kAckPollMs = 500;
// How long SendPaced waits for one acknowledgement: 20 polls of 500 ms.
constexpr int kMaxAckPolls = 20;

enum class PacedStatus { Sent, SendFailed, ReceiveFailed, NoAcknowledgement };

// Whether a payload command goes out paced: 1200 bytes or more to a card
// that paces its uploads (firmware major above 38).
bool ShouldSendPaced(std::size_t commandLength, int firmwareMajor);

// Sends text in 1200-byte pieces, waiting for an acknowledgement before each
// piece after the first, then "file end" 2000 ms after the last piece. Stops
// at the first failed Send or Receive, and when one acknowledgement does not
// come within kMaxAckPolls polls; "file end" goes out only after a whole
// transfer.
PacedStatus SendPaced(Channel& ch, platform::Clock& clock, std::string_view text);

}  // namespace card
