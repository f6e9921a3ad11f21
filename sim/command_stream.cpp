#include "command_stream.h"

#include <cctype>
#include <cstdlib>

namespace sim {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

constexpr std::string_view kFileEnd = "file end";

// Length named by a payload header, or -1 when the line carries none.
long PayloadLength(const std::vector<std::string>& w) {
  if (w.size() < 4 || w[0] != "file") return -1;
  if (w[1] != "cmd" && w[1] != "data" && w[1] != "program" && w[1] != "write_modbus") return -1;
  long n = std::strtol(w[3].c_str(), nullptr, 10);
  if (n < 0) n = 0;
  if (static_cast<std::size_t>(n) > kMaxPayload) return -1;
  return n;
}

// "set ld 19" directly followed by the next command: where the number ends.
std::size_t GluedBrightnessEnd(std::string_view line) {
  constexpr std::string_view kLd = "set ld ";
  if (line.substr(0, kLd.size()) != kLd) return std::string_view::npos;
  std::size_t p = kLd.size();
  while (p < line.size() && line[p] == ' ') ++p;
  std::size_t digits = p;
  while (p < line.size() && std::isdigit(static_cast<unsigned char>(line[p]))) ++p;
  if (p == digits || p >= line.size() || IsBlank(line[p])) return std::string_view::npos;
  return p;
}

}  // namespace

std::vector<std::string> SplitWords(std::string_view line) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    std::size_t start = i;
    while (i < line.size() && !IsBlank(line[i])) ++i;
    if (i > start) words.emplace_back(line.substr(start, i - start));
  }
  return words;
}

CommandStream::CommandStream(CommandFn onCommand, ProgressFn onProgress)
    : onCommand_(std::move(onCommand)), onProgress_(std::move(onProgress)) {}

void CommandStream::Feed(std::string_view bytes) {
  buffer_.append(bytes);
  Drain();
}

void CommandStream::Finish() {
  Drain();
  if (inPayload_) {
    current_.complete = false;
    inPayload_ = false;
    onCommand_(std::move(current_));
    current_ = {};
  }
  FlushIdle();
}

void CommandStream::FlushIdle() {
  if (inPayload_) return;
  std::size_t start = 0;
  while (start < buffer_.size() && IsBlank(buffer_[start])) ++start;
  if (start == buffer_.size()) {
    Erase(buffer_.size());
    return;
  }
  std::string line = buffer_.substr(start);
  Erase(start);
  lineFrom_ = erased_;
  Erase(buffer_.size());
  StartCommand(std::move(line));
  Drain();
}

bool CommandStream::HasPartialLine() const {
  if (inPayload_) return false;
  for (char c : buffer_)
    if (!IsBlank(c)) return true;
  return false;
}

void CommandStream::Drain() {
  for (;;) {
    if (inPayload_) {
      std::size_t want = current_.declared - current_.payload.size();
      std::size_t take = std::min(want, buffer_.size());
      if (take == 0 && want > 0) return;
      current_.payload.append(buffer_, 0, take);
      Erase(take);
      current_.wireBytes += take;
      if (onProgress_ && take > 0) onProgress_(current_, current_.wireBytes);
      if (current_.payload.size() < current_.declared) return;
      inPayload_ = false;
      onCommand_(std::move(current_));
      current_ = {};
      continue;
    }
    if (!TakeLine()) return;
  }
}

bool CommandStream::TakeLine() {
  std::size_t start = 0;
  while (start < buffer_.size() && IsBlank(buffer_[start])) ++start;
  Erase(start);
  if (buffer_.empty()) return false;
  lineFrom_ = erased_;
  if (buffer_.compare(0, kFileEnd.size(), kFileEnd) == 0) {
    Erase(kFileEnd.size());
    StartCommand(std::string(kFileEnd));
    return true;
  }
  std::size_t nl = buffer_.find('\n');
  std::string_view pending(buffer_.data(), nl == std::string::npos ? buffer_.size() : nl);
  std::size_t glued = GluedBrightnessEnd(pending);
  if (glued != std::string_view::npos) {
    std::string line = buffer_.substr(0, glued);
    Erase(glued);
    StartCommand(std::move(line));
    return true;
  }
  if (nl == std::string::npos) return false;
  std::string line = buffer_.substr(0, nl);
  Erase(nl + 1);
  StartCommand(std::move(line));
  return true;
}

void CommandStream::Erase(std::size_t n) {
  buffer_.erase(0, n);
  erased_ += n;
}

void CommandStream::StartCommand(std::string line) {
  Command c;
  c.words = SplitWords(line);
  c.wireBytes = line.size() + 1;
  c.line = std::move(line);
  long payload = c.line == kFileEnd ? -1 : PayloadLength(c.words);
  if (payload < 0) {
    onCommand_(std::move(c));
    return;
  }
  c.hasPayload = true;
  c.declared = static_cast<std::size_t>(payload);
  heldFrom_ = lineFrom_;
  current_ = std::move(c);
  inPayload_ = true;
  if (onProgress_) onProgress_(current_, current_.wireBytes);
}

}  // namespace sim
