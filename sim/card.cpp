#include "card.h"

#include <cstdlib>
#include <filesystem>
#include <ctime>

#include "json.h"
#include "platform/crc32.h"
#include "platform/files.h"
#include "platform/text.h"
#include "rtu.h"

namespace sim {
namespace {

long Dec(const std::vector<std::string>& w, std::size_t i) {
  return i < w.size() ? std::strtol(w[i].c_str(), nullptr, 10) : 0;
}
std::uint32_t Hex(const std::vector<std::string>& w, std::size_t i) {
  return i < w.size() ? static_cast<std::uint32_t>(std::strtoul(w[i].c_str(), nullptr, 16)) : 0;
}
bool Is(const std::vector<std::string>& w, const char* family, const char* op) {
  return w.size() >= 2 && w[0] == family && w[1] == op;
}
std::uint32_t Length(const std::vector<std::string>& w, std::size_t i) {
  long n = Dec(w, i);
  return n < 0 ? 0 : static_cast<std::uint32_t>(n);
}

bool ArrivesPaced(std::size_t commandBytes, int firmwareMajor) {
  return commandBytes >= kPieceBytes && firmwareMajor > kPacedAboveMajor;
}

}  // namespace

int PacedAcksDue(std::size_t commandBytes, std::size_t received, int firmwareMajor) {
  if (!ArrivesPaced(commandBytes, firmwareMajor)) return 0;
  std::size_t total = commandBytes == kPieceBytes ? 1 : (commandBytes - 1) / kPieceBytes;
  return static_cast<int>(std::min(received / kPieceBytes, total));
}

Card::Card(int index, std::uint32_t address, const CardOptions& options, std::string stateDir)
    : index_(index),
      address_(address),
      options_(options),
      dir_(std::move(stateDir)),
      record_(MakeRecord(index, address, options.firmware)),
      registers_(kModbusRegisters) {
  for (std::size_t i = 0; i < registers_.size(); ++i) registers_[i] = static_cast<std::uint16_t>(i);
  Load();
  flash_.Write(0, record_.bytes());
  screen_.Resize(record_.u16(field::kScreenWidth), record_.u16(field::kScreenHeight));
}

void Card::Load() {
  if (dir_.empty()) return;
  std::error_code ec;
  std::filesystem::create_directories(dir_, ec);
  std::string bytes;
  if (platform::ReadWholeFile(dir_ + "/record.bin", &bytes) && record_.assign(bytes)) recordDirty_ = false;
  if (platform::ReadWholeFile(dir_ + "/flash.bin", &bytes) && bytes.size() == kFlashSize)
    flash_.Assign(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
  else
    flashDirty_ = true;
  if (platform::ReadWholeFile(dir_ + "/registers.bin", &bytes) && bytes.size() == 2 * kModbusRegisters) {
    for (std::size_t i = 0; i < kModbusRegisters; ++i)
      registers_[i] = static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[2 * i]) |
                                                 static_cast<std::uint8_t>(bytes[2 * i + 1]) << 8);
  }
  if (platform::ReadWholeFile(dir_ + "/status.json", &bytes)) {
    auto at = bytes.find("\"clock_offset_s\":");
    if (at != std::string::npos) clockOffsetS_ = std::strtoll(bytes.c_str() + at + 17, nullptr, 10);
  }
  address_ = record_.ip();
}

void Card::GoDown() {
  up_ = false;
  // Recognition mode lives only until the card restarts.
  recognition_ = false;
  ++counters_.restarts;
  statusDirty_ = true;
}

void Card::Boot(std::int64_t nowMs) {
  up_ = true;
  address_ = record_.ip();
  bootWindowEnd_ = record_.u8(field::kFactoryFlag) == 0x80 ? nowMs + options_.bootWindowMs : 0;
  screen_.Resize(record_.u16(field::kScreenWidth), record_.u16(field::kScreenHeight));
  ScreenChanged();
}

bool Card::InBootWindow(std::int64_t nowMs) const {
  return up_ && record_.u8(field::kFactoryFlag) == 0x80 && nowMs < bootWindowEnd_;
}

void Card::RecordChanged() {
  flash_.Write(0, record_.bytes());
  recordDirty_ = statusDirty_ = panelStale_ = true;
}

void Card::ScreenChanged() { screenDirty_ = statusDirty_ = panelStale_ = true; }

const PanelPicture& Card::panel() const {
  if (panelStale_ && options_.moduleGiven) panel_ = ShowOnModule(screen_, DriveFromRecord(record_), options_.module);
  panelStale_ = false;
  return panel_;
}

void Card::Processed(std::size_t bytes) {
  if (bytes == 0) return;
  counters_.bytesProcessed += static_cast<std::int64_t>(bytes);
  statusDirty_ = true;
}

void Card::ApplySet(const Command& c, Session* s, std::int64_t nowMs) {
  const std::uint16_t oldW = record_.u16(field::kScreenWidth), oldH = record_.u16(field::kScreenHeight);
  SetResult r = ApplySetLine(record_, c.words);
  if (!r.known) ++counters_.unknownLines;
  if (r.changed) RecordChanged();
  // An announced checksum is checked against the card's own once the line
  // it announces has been applied.
  if (r.announced) {
    announced_ = r.announced;
  } else if (announced_) {
    ++counters_.crcChecks;
    if (*announced_ != record_.crc()) ++counters_.crcMismatches;
    announced_.reset();
  }
  if (r.moveAddress) restartDue_ = nowMs + kMoveDelayMs;
  if (r.clock) clockOffsetS_ = *r.clock - static_cast<std::int64_t>(std::time(nullptr));
  if (r.rs485 >= 0 && s) s->rs485 = r.rs485;
  if (r.recognition) recognition_ = true;
  if (r.log) log_ = *r.log;
  if (record_.u16(field::kScreenWidth) != oldW || record_.u16(field::kScreenHeight) != oldH) {
    screen_.Resize(record_.u16(field::kScreenWidth), record_.u16(field::kScreenHeight));
    ScreenChanged();
  }
  statusDirty_ = true;
}

std::vector<Card::Reply> Card::Execute(const Command& c, Session& s, std::int64_t nowMs) {
  std::vector<Reply> out;
  const auto& w = c.words;
  if (w.empty()) return out;
  if (w[0] == "query" && w.size() >= 2 &&
      (w[1] == "all_in_struct_tcp" || w[1] == "all_in_strut" || w[1] == "all_in_boot")) {
    out.push_back({record_.bytes(), true});
  } else if (w[0] == "set") {
    ApplySet(c, &s, nowMs);
  } else if (w[0] == "reset") {
    restartDue_ = nowMs;
  } else if (Is(w, "file", "read_raw")) {
    out.push_back({flash_.Read(Hex(w, 2), std::min({Length(w, 3), kMaxReadLength, options_.maxRawReply}))});
  } else if (Is(w, "file", "read_modbus")) {
    out.push_back({ReadModbus(Hex(w, 2), std::min({Length(w, 3), kMaxReadLength, options_.maxModbusReply}))});
  } else if (Is(w, "file", "write_modbus")) {
    WriteModbus(Hex(w, 2), c.payload);
  } else if (Is(w, "file", "cmd")) {
    s.acksSent = 0;
    if (ArrivesPaced(c.wireBytes, record_.major())) {
      // A paced program is complete only with its "file end".
      s.awaitingEnd = true;
      s.program = c;
    } else {
      FinishProgram(c);
    }
  } else if (c.line == "file end") {
    if (s.awaitingEnd) {
      s.awaitingEnd = false;
      FinishProgram(s.program);
      s.program = {};
    }
  } else if (Is(w, "file", "cmdremove")) {
    flash_.RemoveProgram(static_cast<int>(Dec(w, 2)));
    flashDirty_ = statusDirty_ = true;
  } else if (Is(w, "file", "cmdformat")) {
    flash_.FormatPrograms();
    flashDirty_ = statusDirty_ = true;
    out.push_back({"format ok\r\n"});
  } else if (Is(w, "file", "data")) {
    bool ok = c.complete && c.payload.size() == Length(w, 3) && card::Crc32(c.payload) == Hex(w, 4) &&
              flash_.StoreText(static_cast<int>(Dec(w, 2)), c.payload, Hex(w, 4));
    ++(ok ? counters_.textsStored : counters_.textMismatches);
    flashDirty_ = statusDirty_ = true;
  } else if (Is(w, "file", "program")) {
    flash_.StoreScript(Hex(w, 2), c.payload);
    flashDirty_ = statusDirty_ = true;
  } else if (w[0] == "led") {
    Draw(c);
  } else {
    ++counters_.unknownLines;
    statusDirty_ = true;
  }
  return out;
}

void Card::ExecuteBroadcast(const Command& c, std::int64_t nowMs) {
  if (c.words.empty()) return;
  if (c.words[0] == "set") ApplySet(c, nullptr, nowMs);
  else if (c.words[0] == "reset") restartDue_ = nowMs;
}

int Card::AcksOwed(const Command& partial, std::size_t wireBytes, Session& s) {
  if (!Is(partial.words, "file", "cmd")) return 0;
  std::size_t header = partial.wireBytes - partial.payload.size();
  int due = PacedAcksDue(header + partial.declared, wireBytes, record_.major());
  int owed = due - s.acksSent;
  if (owed <= 0) return 0;
  s.acksSent = due;
  if (!options_.acknowledge) return 0;
  counters_.acksSent += owed;
  statusDirty_ = true;
  return owed;
}

void Card::SessionClosed(Session& s) {
  if (s.awaitingEnd) {
    // The paced program never got its "file end": not stored.
    ++counters_.programMismatches;
    statusDirty_ = true;
  }
  s = {};
}

void Card::FinishProgram(const Command& c) {
  const auto& w = c.words;
  bool ok = c.complete && c.payload.size() == Length(w, 3) && card::Crc32(c.payload) == Hex(w, 4) &&
            flash_.StoreProgram(static_cast<int>(Dec(w, 2)), c.payload);
  ++(ok ? counters_.programsStored : counters_.programMismatches);
  flashDirty_ = statusDirty_ = true;
}

void Card::Draw(const Command& c) {
  const auto& w = c.words;
  auto v = [&](std::size_t i) { return static_cast<int>(Dec(w, i)); };
  if (w.size() >= 2 && w[1] == "clearall") {
    screen_.Clear();
  } else if (w.size() >= 5 && w[1] == "p") {
    screen_.Point(v(3), v(4));
  } else if (w.size() >= 7 && w[1] == "l") {
    screen_.Line(v(3), v(4), v(5), v(6));
  } else if (w.size() >= 7 && w[1] == "r") {
    screen_.Rect(v(3), v(4), v(5), v(6));
  } else if (w.size() >= 6 && w[1] == "12t") {
    // The text is everything after the position, blanks included.
    std::size_t at = c.line.find(w[4], c.line.find(w[3], c.line.find("12t") + 3) + w[3].size());
    lastText_ = c.line.substr(at + w[4].size() + 1);
    screen_.Text(v(3), v(4), lastText_);
  } else if (w.size() >= 4 && w[1] == "scr_t") {
    screen_.Clear();
    screen_.TestPattern(v(3));
  } else {
    ++counters_.unknownLines;
  }
  ScreenChanged();
}

std::string Card::ReadModbus(std::uint32_t start, std::uint32_t bytes) const {
  std::string out;
  for (std::uint32_t r = start; out.size() < bytes && r < registers_.size(); ++r) {
    out.push_back(static_cast<char>(registers_[r] & 0xFF));
    if (out.size() < bytes) out.push_back(static_cast<char>(registers_[r] >> 8));
  }
  return out;
}

void Card::WriteModbus(std::uint32_t start, const std::string& bytes) {
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    std::size_t r = start + i / 2;
    if (r >= registers_.size()) break;
    std::uint16_t lo = static_cast<std::uint8_t>(bytes[i]);
    // An odd byte count changes only the low byte of the last register.
    std::uint16_t hi = i + 1 < bytes.size() ? static_cast<std::uint8_t>(bytes[i + 1]) : registers_[r] >> 8;
    registers_[r] = static_cast<std::uint16_t>(lo | hi << 8);
  }
  registersDirty_ = statusDirty_ = true;
}

std::string Card::Rs485Block(Session& s) {
  std::string out;
  for (const auto& e : MasterTraffic(record_, registers_, s.rs485Tick++))
    out += s.rs485 == 1 ? e.request + e.response : TextView(e);
  return out;
}

std::int64_t Card::CardTimeSeconds(std::int64_t) const {
  return static_cast<std::int64_t>(std::time(nullptr)) + clockOffsetS_;
}

std::string Card::StatusJson(std::int64_t nowMs) const {
  std::time_t t = static_cast<std::time_t>(CardTimeSeconds(nowMs));
  std::tm tm{};
  gmtime_r(&t, &tm);
  char when[32];
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &tm);
  const Counters& k = counters_;
  return platform::Format(
             "{\n  \"address\": \"%u.%u.%u.%u\",\n  \"serial\": %s,\n  \"mac\": \"%s\",\n  \"firmware\": \"%s\",\n"
             "  \"up\": %s,\n  \"boot_window\": %s,\n  \"recognition\": %s,\n  \"log\": %d,\n",
             address_ >> 24, (address_ >> 16) & 0xFF, (address_ >> 8) & 0xFF, address_ & 0xFF,
             JsonString(serial()).c_str(), record_.macText().c_str(), record_.versionText().c_str(),
             up_ ? "true" : "false", InBootWindow(nowMs) ? "true" : "false", recognition_ ? "true" : "false", log_) +
         platform::Format(
             "  \"crc_checks\": %d,\n  \"crc_mismatches\": %d,\n  \"programs_stored\": %d,\n"
             "  \"program_mismatches\": %d,\n  \"texts_stored\": %d,\n  \"text_mismatches\": %d,\n"
             "  \"acks_sent\": %d,\n  \"unknown_lines\": %d,\n  \"restarts\": %d,\n",
             k.crcChecks, k.crcMismatches, k.programsStored, k.programMismatches, k.textsStored, k.textMismatches,
             k.acksSent, k.unknownLines, k.restarts) +
         platform::Format("  \"clock_offset_s\": %lld,\n  \"card_time\": \"%s\",\n  \"screen_lit\": %d,\n"
                          "  \"last_text\": %s,\n",
                          static_cast<long long>(clockOffsetS_), when, screen_.LitCount(),
                          JsonString(lastText_).c_str()) +
         (options_.moduleGiven ? platform::Format("  \"panel_lit\": %d,\n  \"panel_level\": %d,\n", panel().Lit(),
                                                  panel().Level())
                               : std::string()) +
         // Last, so that a reader who sees it sees everything the card did
         // with those bytes.
         platform::Format("  \"bytes_processed\": %lld\n}\n", static_cast<long long>(k.bytesProcessed));
}

void Card::Persist(std::int64_t nowMs) {
  if (dir_.empty()) return;
  auto write = [&](const char* name, const void* data, std::size_t n) {
    platform::WriteFileAtomic(dir_ + "/" + name, data, n);
  };
  if (recordDirty_) write("record.bin", record_.data(), field::kBlockSize);
  if (flashDirty_) write("flash.bin", flash_.bytes().data(), flash_.bytes().size());
  if (registersDirty_) {
    std::string b;
    for (auto r : registers_) {
      b.push_back(static_cast<char>(r & 0xFF));
      b.push_back(static_cast<char>(r >> 8));
    }
    write("registers.bin", b.data(), b.size());
  }
  if (screenDirty_) {
    std::string pgm = screen_.Pgm();
    write("screen.pgm", pgm.data(), pgm.size());
  }
  if (options_.moduleGiven && (screenDirty_ || recordDirty_)) {
    std::string pgm = panel().Pgm();
    write("panel.pgm", pgm.data(), pgm.size());
  }
  if (statusDirty_) {
    std::string s = StatusJson(nowMs);
    write("status.json", s.data(), s.size());
  }
  recordDirty_ = flashDirty_ = registersDirty_ = screenDirty_ = statusDirty_ = false;
}

}  // namespace sim
