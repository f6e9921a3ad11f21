#include "storage/script.h"

#include "link/command_channel.h"
#include "platform/codec.h"
#include "platform/files.h"
#include "platform/text.h"
#include "storage/session.h"

namespace card {

std::optional<ScriptSplit> SplitScriptLines(std::string_view bytes, ScriptSource source) {
  // Erased or cleared flash after the script: a zero byte ends the text.
  bytes = bytes.substr(0, std::min(bytes.find('\0'), bytes.size()));
  if (bytes.find("\r\n") == std::string_view::npos) return std::nullopt;
  ScriptSplit split;
  std::size_t at = 0;
  for (std::size_t end; (end = bytes.find("\r\n", at)) != std::string_view::npos; at = end + 2) {
    std::string_view line = bytes.substr(at, end - at);
    if (line.empty() && source == ScriptSource::Card) {
      split.endedAtEmptyLine = true;
      break;
    }
    split.lines.emplace_back(line);
  }
  return split;
}

std::vector<std::string> ProgramRows(const std::vector<std::string>& rows) {
  std::size_t n = rows.size();
  while (n > 0 && rows[n - 1].empty()) --n;
  return {rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(n)};
}

std::string ScriptText(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\r\n";
  return text;
}

std::vector<std::string> ScriptEditTexts(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  out.reserve(lines.size());
  for (const auto& l : lines) out.push_back(platform::BytesToEditText(l));
  return out;
}

RowBytes ScriptRowBytes(const std::vector<std::string>& rows) {
  RowBytes out;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    platform::EditTextError why = platform::EditTextError::None;
    std::optional<std::string> bytes = platform::EditTextToBytes(rows[i], &why);
    RowProblem problem = RowProblem::None;
    if (!bytes)
      problem = why == platform::EditTextError::NotGbk ? RowProblem::NotGbk : RowProblem::BadEscape;
    else if (bytes->find('\0') != std::string::npos || bytes->find("\r\n") != std::string::npos)
      problem = RowProblem::BreaksLine;
    if (problem != RowProblem::None) {
      out.lines.clear();
      out.badRow = static_cast<int>(i);
      out.problem = problem;
      return out;
    }
    out.lines.push_back(std::move(*bytes));
  }
  return out;
}

namespace {

// The message for a row that cannot be stored; notGbk differs between the
// card and a file.
std::string RowRefusal(const RowBytes& b, const char* notGbk) {
  switch (b.problem) {
    case RowProblem::NotGbk: return platform::Format(notGbk, b.badRow);
    case RowProblem::BadEscape: return platform::Format(kFmtScriptLineBadEscape, b.badRow);
    case RowProblem::BreaksLine: return platform::Format(kFmtScriptLineBreaks, b.badRow);
    case RowProblem::None: break;
  }
  return {};
}

}  // namespace

CardScript ScriptForCard(const std::vector<std::string>& programRows) {
  CardScript s;
  if (programRows.size() > static_cast<std::size_t>(kScriptRows)) {
    s.refusal = kMsgScriptTooManyRows;
    return s;
  }
  // The card ends its script at the first empty line: what follows would be
  // written and never run.
  for (std::size_t i = 0; i < programRows.size(); ++i) {
    if (programRows[i].empty()) {
      s.refusal = platform::Format(kFmtScriptEmptyLine, static_cast<int>(i));
      return s;
    }
  }
  RowBytes bytes = ScriptRowBytes(programRows);
  if (bytes.problem != RowProblem::None) {
    s.refusal = RowRefusal(bytes, kFmtScriptLineNotGbk);
    return s;
  }
  std::size_t total = 0;
  for (std::size_t i = 0; i < bytes.lines.size(); ++i) {
    if (bytes.lines[i].size() > kScriptLineMaxBytes) {
      s.refusal = platform::Format(kFmtScriptLineTooLong, static_cast<int>(i));
      return s;
    }
    total += bytes.lines[i].size() + 2;
  }
  if (total > kScriptRegionBytes) {
    s.refusal = kMsgScriptTooLong;
    return s;
  }
  s.gbkLines = std::move(bytes.lines);
  return s;
}

std::string ScriptProgramCommand(std::string_view text) {
  return platform::Format("file program 0x%x %d  \n", kScriptAddress, static_cast<int>(text.size())) +
         std::string(text);
}

bool SwitchLogOff(ScriptTools& t) {
  CardSession session(t.link, t.address, t.user);
  if (!session.connected()) return false;
  SendLine(t.link, "set LOG 0 \n");
  t.clock.sleepMs(kLogOffPauseMs);
  return true;
}

ScriptRead ReadScript(ScriptTools& t) {
  ScriptRead read;
  CardSession session(t.link, t.address, t.user);
  if (!session.connected()) {
    read.outcome = ScriptReadOutcome::NotConnected;
    return read;
  }
  if (t.firmwareMajor > kScriptReadMaxFirmware) {
    read.outcome = ScriptReadOutcome::Skipped;
    return read;
  }
  MemorySink region(kScriptRegionBytes);
  if (ReadRawChunked(t.link, t.clock, kScriptAddress, kScriptRegionBytes, region).status != ChunkedStatus::Complete) {
    t.user.Message(kMsgScriptReadFailed, kTitleError, Icon::Error);
    read.outcome = ScriptReadOutcome::ReadFailed;
    return read;
  }
  const auto& b = region.bytes();
  read.region.assign(b.begin(), b.end());
  auto split = SplitScriptLines(std::string_view(reinterpret_cast<const char*>(b.data()), b.size()),
                                ScriptSource::Card);
  if (!split) {
    read.outcome = ScriptReadOutcome::NoLines;
    return read;
  }
  if (split->lines.size() > static_cast<std::size_t>(kScriptRows)) {
    t.user.Message(kMsgScriptTooManyLines, kTitleError, Icon::Error);
    read.outcome = ScriptReadOutcome::TooManyLines;
    return read;
  }
  read.outcome = ScriptReadOutcome::Read;
  read.split.lines = ScriptEditTexts(split->lines);
  read.split.endedAtEmptyLine = split->endedAtEmptyLine;
  return read;
}

ScriptWriteOutcome WriteScript(ScriptTools& t, const std::vector<std::string>& rows) {
  const CardScript script = ScriptForCard(ProgramRows(rows));
  if (!script.refusal.empty()) {
    t.user.Message(script.refusal, kTitleError, Icon::Error);
    return ScriptWriteOutcome::Refused;
  }
  if (script.gbkLines.empty() && !t.user.Ask(kMsgScriptEmptyAsk, kTitleNotice))
    return ScriptWriteOutcome::NotConfirmed;
  CardSession session(t.link, t.address, t.user);
  if (!session.connected()) return ScriptWriteOutcome::NotConnected;
  int sent = 0;
  {
    ExchangeScope exchange(t.link);
    sent = t.link.Send(ScriptProgramCommand(ScriptText(script.gbkLines)));
    t.clock.sleepMs(kScriptSendPauseMs);
  }
  if (sent != 0) {
    t.user.Message(kMsgConnectFailed, kTitleError, Icon::Error);
    return ScriptWriteOutcome::SendFailed;
  }
  return ScriptWriteOutcome::Sent;
}

ScriptFile LoadScriptFile(const std::string& path, UserPort& user) {
  ScriptFile file;
  std::string bytes;
  if (!platform::ReadWholeFile(path, &bytes, kScriptFileMaxBytes + 1)) {
    user.Message(kMsgFileMissing, kTitleError, Icon::Error);
    file.outcome = ScriptFileOutcome::FileMissing;
    return file;
  }
  // A longer file would lose its end without a word.
  if (bytes.size() > kScriptFileMaxBytes) {
    user.Message(kMsgScriptFileTooLarge, kTitleError, Icon::Error);
    file.outcome = ScriptFileOutcome::TooLarge;
    return file;
  }
  auto split = SplitScriptLines(bytes, ScriptSource::File);
  if (!split) {
    file.outcome = ScriptFileOutcome::NoLines;
    return file;
  }
  if (split->lines.size() > static_cast<std::size_t>(kScriptRows)) {
    user.Message(kMsgScriptTooManyLines, kTitleError, Icon::Error);
    file.outcome = ScriptFileOutcome::TooManyLines;
    return file;
  }
  file.outcome = ScriptFileOutcome::Loaded;
  file.lines = ScriptEditTexts(split->lines);
  return file;
}

bool SaveScriptFile(const std::string& path, const std::vector<std::string>& rows, UserPort& user) {
  const RowBytes bytes = ScriptRowBytes(ProgramRows(rows));
  if (bytes.problem != RowProblem::None) {
    user.Message(RowRefusal(bytes, kFmtScriptLineNotGbkSave), kTitleError, Icon::Error);
    return false;
  }
  const std::string text = ScriptText(bytes.lines);
  if (!platform::WriteFileAtomic(path, text.data(), text.size())) {
    user.Message(kMsgFileMissing, kTitleError, Icon::Error);
    return false;
  }
  return true;
}

}  // namespace card
