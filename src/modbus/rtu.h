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
// Empty for function codes the card does not poll.
std::string RequestFrameText(int slave, int function, int address, int count);

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
// bytes that make no frame come out as Unknown. The frame lengths follow from
// the function code (and byte counts); where a request and a response could
// both fit, the CRC decides, and a pending request makes its response the
// first guess.
class RtuFramer {
 public:
  // Longest RTU frame.
  static constexpr std::size_t kMaxFrame = 256;
  // A quiet gap this long ends whatever is pending: its bytes will never
  // complete a frame.
  static constexpr std::int64_t kGapMs = 1000;

  // The frames that the next bytes of the stream complete, in order.
  std::vector<RtuFrame> Feed(std::string_view bytes, std::int64_t nowMs);
  // Everything pending, as unknown bytes.
  std::vector<RtuFrame> Flush();
  void Reset();
  std::size_t pending() const { return buffer_.size(); }

 private:
  void Cut(std::vector<RtuFrame>* out, bool final);
  void Emit(std::vector<RtuFrame>* out, RtuFrame::Kind kind, std::size_t length, bool crcOk);

  std::string buffer_;
  std::int64_t lastMs_ = 0;
  bool awaiting_ = false;  // a request waits for its answer
  int awaitSlave_ = 0;
  int awaitFunction_ = 0;
};

// One line about a frame: its bytes, what it is, and the CRC verdict.
std::string DescribeFrame(const RtuFrame& frame);

}  // namespace card::modbus
