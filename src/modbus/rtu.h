// Modbus RTU as it travels on the card's RS-485 port: the CRC-16 that ends
// every frame, the request frame a master-table entry makes the card send,
// and a framer that cuts the forwarded byte stream back into frames so the
// monitor can name what it sees.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace card::modbus {

// CRC-16/MODBUS: reflected polynomial 0xA001, initial value 0xFFFF.
std::uint16_t Crc16(std::string_view bytes);
// body followed by its CRC, low byte first.
std::string WithCrc(std::string body);
// A frame of at least 4 bytes whose last two bytes are the CRC of the rest.
bool CrcOk(std::string_view frame);

// "01 03 00 00 00 0A C5 CD".
std::string HexText(std::string_view bytes);

// Function codes by their Chinese names ("读保持寄存器"); empty for codes
// outside the public set.
std::string FunctionName(int function);
std::string ExceptionName(int code);

// The request a master entry puts on the wire. Reads (1..4) are complete
// frames; writes carry data the card takes from its master storage at run
// time, so only their header is known and the text says what follows.
// Empty for function codes the card does not poll. Values no frame can
// carry (a slave past 247, an address past 65535, a count the function
// code does not allow, a range past the last register) give the reason in
// brackets instead of a frame: the numbers come from files and cells, and
// none of them is trusted to fit.
std::string RequestFrameText(long long slave, long long function, long long address, long long count);
// The most items one request of function may ask for (125 registers for 3
// and 4, 123 for 16, 2000 coils or inputs, 1968 coils for 15); 0 for the
// single writes 5 and 6, whose count is not sent, and for unknown codes.
int MostItems(int function);

struct RtuFrame {
  enum Kind { Request, Response, Exception, Unknown };
  Kind kind = Unknown;
  std::string bytes;
  bool crcOk = false;
  // A response or exception that answers the request right before it.
  bool answersRequest = false;
  // A request that came while an earlier one still waited for its answer.
  bool previousUnanswered = false;
};

// Cuts a byte stream into RTU frames. A frame may arrive in several pieces;
// bytes that make no frame come out as Unknown, one piece per run of them.
// The frame lengths follow from the function code (and byte counts); where a
// request and a response could both fit, the CRC decides, and a pending
// request makes its response the first guess. Nothing is judged while later
// bytes could still change the verdict: a frame that may be completing is
// waited for before the bytes in front of it are called noise, so the frames
// found do not depend on how the stream was cut into reads.
class RtuFramer {
 public:
  // Longest RTU frame; no reading longer than this is taken for a frame.
  static constexpr std::size_t kMaxFrame = 256;
  // Longest piece of unknown bytes: a long run of noise comes out in pieces
  // of at most this many bytes, one line each.
  static constexpr std::size_t kMaxUnknownRun = 256;
  // What may wait for more bytes: a frame that starts inside a damaged
  // frame's length and is not complete yet.
  static constexpr std::size_t kMaxPending = 2 * kMaxFrame;
  // A quiet gap this long ends whatever is pending: its bytes will never
  // complete a frame.
  static constexpr std::int64_t kGapMs = 1000;

  // The frames that the next bytes of the stream complete, in order.
  std::vector<RtuFrame> Feed(std::string_view bytes, std::int64_t nowMs);
  // Everything pending, judged as it stands: frames where they are whole,
  // the rest unknown bytes.
  std::vector<RtuFrame> Flush();
  // A look at the line while nothing arrives: once it has been quiet for
  // kGapMs, what is pending is flushed. Nothing otherwise.
  std::vector<RtuFrame> Idle(std::int64_t nowMs);
  void Reset();
  std::size_t pending() const { return buffer_.size(); }

 private:
  struct Reading {
    RtuFrame::Kind kind;
    std::size_t length;
  };
  enum class Verdict { Good, Bad, Pending };
  // What the bytes from offset k can be: a whole frame with a good CRC
  // (*good), none at all, or not known before more bytes arrive.
  Verdict Judge(std::size_t k, bool final, Reading* good) const;
  // The frames that could start at b[0], most likely first.
  struct Readings {
    Reading items[2];
    std::size_t count = 0;
  };
  Readings ReadingsAt(std::string_view b) const;
  void Cut(std::vector<RtuFrame>* out, bool final);
  void Emit(std::vector<RtuFrame>* out, RtuFrame::Kind kind, std::size_t length, bool crcOk);

  std::string buffer_;
  // The offsets 1 .. noiseChecked_ - 1 of a held-back piece of noise start
  // no frame.
  std::size_t noiseChecked_ = 0;
  std::int64_t lastMs_ = 0;
  bool awaiting_ = false;  // a request waits for its answer
  int awaitSlave_ = 0;
  int awaitFunction_ = 0;
};

// One line about a frame: its bytes, what it is, and the CRC verdict.
std::string DescribeFrame(const RtuFrame& frame);

}  // namespace card::modbus
