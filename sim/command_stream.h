// Cuts what a connection (or one datagram) delivers into the card's
// commands. TCP gives a byte stream, so one read may hold several lines, half
// a line, or a header whose payload follows in later reads:
//  - a command is a line ended by a line feed; blanks before it (the tool
//    often puts one or two after the previous line feed) are skipped;
//  - "file cmd", "file data", "file program" and "file write_modbus" carry a
//    payload of the length their header names (the fourth word), which may
//    contain line feeds or any byte at all;
//  - "file end" is eight bytes without a line end;
//  - "set ld %d" is sent without a line end: it is completed when the next
//    command starts right behind its number, when the stream ends, or when
//    nothing more arrives for a while (the server calls FlushIdle).
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// Payloads larger than this are refused (the header is handled as a plain
// line); the biggest the tool sends is a 34096-byte program.
constexpr std::size_t kMaxPayload = 1 << 20;

struct Command {
  std::string line;                // the header line, without its line feed
  std::vector<std::string> words;  // line split at any white space
  std::string payload;             // payload commands only
  std::size_t declared = 0;        // payload length the header named
  bool hasPayload = false;
  bool complete = true;            // false: the stream ended before the payload did
  std::size_t wireBytes = 0;       // header, line feed and payload as they arrived
};

std::vector<std::string> SplitWords(std::string_view line);

class CommandStream {
 public:
  // Called for every finished command, in order.
  using CommandFn = std::function<void(Command&&)>;
  // Called whenever payload bytes arrive: the command so far and how many of
  // its bytes (header included) have arrived. Paced uploads count on it.
  using ProgressFn = std::function<void(const Command& partial, std::size_t wireBytes)>;

  CommandStream(CommandFn onCommand, ProgressFn onProgress = {});

  void Feed(std::string_view bytes);
  // The stream ended: a pending line or a short payload is delivered as it is.
  void Finish();
  // Delivers a line that has waited without its line end.
  void FlushIdle();
  bool HasPartialLine() const;
  bool InPayload() const { return inPayload_; }
  // Bytes fed so far that belong to delivered commands (or were blanks
  // between them): everything but a partial line and a payload command
  // still waiting for its bytes.
  std::size_t consumed() const { return inPayload_ ? heldFrom_ : erased_; }

 private:
  void Drain();
  bool TakeLine();
  void StartCommand(std::string line);
  void Erase(std::size_t n);

  CommandFn onCommand_;
  ProgressFn onProgress_;
  std::string buffer_;
  bool inPayload_ = false;
  Command current_;
  std::size_t erased_ = 0;    // bytes taken out of buffer_ so far
  std::size_t lineFrom_ = 0;  // erased_ where the line being started began
  std::size_t heldFrom_ = 0;  // erased_ where the pending payload command began
};

}  // namespace sim
