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

// BeginExchange, Send, a fixed pause, one Receive into buffer (repeated on a
// shortened clock: ReceiveAfterPause), EndExchange. The buffer is
// zero-filled first, so a short text reply is terminated. A failed Send is
// reported in result and nothing is received.
Reply Exchange(Channel& ch, platform::Clock& clock, std::string_view text, int pauseMs, void* buffer,
               std::size_t capacity);

// Exchange with "file read_raw 0x%x %d\n".
Reply ReadRaw(Channel& ch, platform::Clock& clock, std::uint32_t address, int length, int pauseMs,
              void* buffer, std::size_t capacity);

std::string ReadRawLine(std::uint32_t address, int length);

// Between Receives while a reply is awaited.
constexpr int kReplyPollMs = 10;

// One Receive after a request's pause. On a shortened clock (the tests'
// CARD_CLOCK_SCALE) the pause may end before a busy card has answered, so
// while nothing has come the Receive is repeated until the answer window of
// the pause (platform::AnswerWindowMs) has passed since sentAt, clock.now()
// when the request went out. At full time this is exactly one Receive.
int ReceiveAfterPause(Channel& ch, platform::Clock& clock, std::int64_t sentAt, int pauseMs, void* buffer,
                      std::size_t capacity, std::size_t* count);

// Gathering the reply to one request for raw bytes. A byte stream has no
// frames: a reply ends when its asked length is in, or once it has begun and
// the link then stays quiet for kReplyQuietMs (a card may answer short).
// Bytes beyond the asked length belong to no request: they stay on the link
// and shift all that follows by as much, so a read in requests ends with a
// check that nothing is left over (ReadRawInRequests).
constexpr int kReplyQuietMs = 400;
// The deadline of a read in requests: beyond its own pauses it may wait
// kReadMarginMs, and kReadAllowanceMs more for every 4096 bytes it placed.
// A card that answers in full takes a few ms of it per request; one whose
// replies trickle in, or never come, runs out of it within seconds.
constexpr int kReadMarginMs = 3000;
constexpr int kReadAllowanceMs = 2000;

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

enum class ChunkedStatus {
  Complete,
  SendFailed,
  ReceiveFailed,
  TimedOut,     // the replies did not come within the read's deadline
  Unplaceable,  // bytes arrived that answer no request: the read cannot tell where they belong
  SinkFailed,
};

struct ChunkedResult {
  ChunkedStatus status = ChunkedStatus::Complete;
  std::uint32_t received = 0;  // bytes handed to the sink
};

// percent = received * 100 / total, reported after every chunk, 100 at the end.
using ProgressFn = std::function<void(int percent)>;

// How a raw read asks: the pause before each reply, the length each request
// asks for (given the bytes already placed), and whether the read ends with
// one more pause.
struct RawReadPlan {
  int pauseMs = kChunkPauseMs;
  std::function<std::uint32_t(std::uint32_t done)> ask;
  bool pauseAtEnd = true;
};

// Reads total bytes from start on in requests of plan.ask(done) bytes; each
// request starts at the first byte not yet placed, once the reply to the
// one before has ended. Every arriving byte is counted against the request
// it answers: bytes left over at the end mean that some were taken for the
// wrong request, and the read ends Unplaceable. A reply that has not come
// is waited for, never asked for again; past the read's deadline
// (kReadMarginMs, kReadAllowanceMs) it ends TimedOut. The sink never gets
// more than total bytes.
ChunkedResult ReadRawInRequests(Channel& ch, platform::Clock& clock, std::uint32_t start, std::uint32_t total,
                                ByteSink& sink, const RawReadPlan& plan, const ProgressFn& progress = {});

// ReadRawInRequests with 4096-byte requests and a 100 ms pause before each
// Receive and after the last.
ChunkedResult ReadRawChunked(Channel& ch, platform::Clock& clock, std::uint32_t start, std::uint32_t total,
                             ByteSink& sink, const ProgressFn& progress = {});

constexpr std::size_t kPacedPieceSize = 1200;
constexpr int kAckPollMs = 500;
// How long SendPaced waits for one acknowledgement: 20 polls of 500 ms (on
// a shortened clock, the answer window of those 10 s).
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
