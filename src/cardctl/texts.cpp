#include "cardctl/texts.h"

#include <atomic>
#include <utility>
#include <vector>

#include "core/ports.h"
#include "params/advanced.h"
#include "params/discovery.h"
#include "params/network.h"
#include "params/panel.h"
#include "programs/program_slots.h"
#include "storage/script.h"
#include "storage/session.h"

namespace card::cli {
namespace {

std::atomic<bool> gEnglish{false};

struct Pair {
  std::string zh, en;
};

// The operations' texts that reach a terminal, beside their English. A
// conversion (%d, %s, %zu, %02d, %x) stands for whatever the message holds
// there; the English takes the same values in the same order.
const std::vector<Pair>& Pairs() {
  static const std::vector<Pair> pairs = {
      {kTitleError, "error"},
      {kTitleNotice, "notice"},
      {kTitleSuccess, "done"},
      {kMsgConnectFailed, "could not connect to the card"},
      {kMsgNotConnected, "no card connected"},
      {kMsgCrcError, "CRC ERROR! (the record fails its own checksum)"},
      {kMsgNoRecord, "the card sent no parameters"},
      {kMsgShortRecord, "the card sent incomplete parameters"},
      {kMsgSelectCardFirst, "no card selected"},
      {kMsgReaddressed, "address changed; the card restarts at its new address"},
      {kMsgLockUnsupported, "this card's firmware cannot be locked"},
      {kMsgSizeTooLarge, "width or height above the maximum"},
      {kMsgSizeNegative, "width or height below 0"},
      {kMsgRecovery, "the card started abnormally (recovery firmware)"},
      {kMsgDeviceNameLength, "the device name is %d bytes long; it must be 24 bytes and start with 2023\n"},
      {kMsgDeviceNameBlank, "the device name must not hold blanks or control characters\n"},
      {kMsgDeviceNameCharset, "the device name holds characters the card cannot store\n"},
      {kMsgMacDigits, "MAC field %d must be two hexadecimal digits (0-9, A-F)"},
      {kMsgCounterStart, "start value %d must be a whole number from 0 to %d"},
      {"%s\n第%zu行的请求没有发出，上传已停止。", "%s\nrequest %zu was not sent; the upload stopped."},
      {kMsgStorageLimited, "the card's storage is limited; upgrade the card"},
      {kMsgNoProgramSelected, "no program slot chosen"},
      {kMsgProgramFileMissing, "the file of program %d does not exist"},
      {kMsgDirectoryMissing, "the card sent no program directory"},
      {kMsgDirectoryShort, "the card sent an incomplete program directory"},
      {kMsgDirectoryCorrupt, "the card's program directory is wrong; no program read back"},
      {kMsgProgramTooLong, "a program is longer than the read-back buffer (40960 bytes); not read back"},
      {kMsgProgramMissing, "the card sent no program content"},
      {kMsgProgramShort, "the card sent an incomplete program"},
      {kMsgWorkingFileFailed, "cannot write the program file: %s"},
      {kMsgUploadNoAck, "the card did not acknowledge; the program upload failed"},
      {kMsgUploadSendFailed, "the program could not be sent"},
      {kMsgResetAfterUploadFailed, "the program was sent, but the card could not be restarted; restart it"},
      {kMsgDeleted, "program %d deleted"},
      {kMsgDeleteFailed, "the program could not be deleted"},
      {kMsgFileMissing, "file not found"},
      {kMsgScriptReadFailed, "reading the card's script failed"},
      {kMsgScriptTooManyLines, "the script has more than 256 lines"},
      {kMsgScriptTooLong, "the script is longer than the card's 4096 bytes"},
      {kMsgScriptTooManyRows, "the script has more than 256 lines"},
      {kFmtScriptEmptyLine, "line %02d is empty; the card stops reading at an empty line"},
      {kFmtScriptLineTooLong, "line %02d is longer than 127 bytes"},
      {kFmtScriptLineNotGbk, "line %02d holds characters the card cannot show"},
      {kMsgScriptEmptyAsk, "the script is empty: writing it clears the card's script. Write it?"},
  };
  return pairs;
}

// Matches text against a printf format, collecting what each conversion
// stands for. Conversions take the shortest text that lets the rest match.
bool Match(const std::string& format, std::size_t f, const std::string& text, std::size_t t,
           std::vector<std::string>* args) {
  if (f == format.size()) return t == text.size();
  if (format[f] == '%' && f + 1 < format.size() && format[f + 1] == '%')
    return t < text.size() && text[t] == '%' && Match(format, f + 2, text, t + 1, args);
  if (format[f] == '%') {
    std::size_t end = f + 1;
    while (end < format.size() && std::string_view("0123456789.-lzh").find(format[end]) != std::string_view::npos)
      ++end;
    if (end == format.size()) return false;
    for (std::size_t n = 1; t + n <= text.size(); ++n) {
      args->push_back(text.substr(t, n));
      if (Match(format, end + 1, text, t + n, args)) return true;
      args->pop_back();
    }
    return false;
  }
  return t < text.size() && text[t] == format[f] && Match(format, f + 1, text, t + 1, args);
}

// The English format with each conversion replaced by the next value.
std::string Fill(const std::string& format, const std::vector<std::string>& args) {
  std::string out;
  std::size_t next = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      out += format[i];
      continue;
    }
    if (i + 1 < format.size() && format[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    while (i + 1 < format.size() && std::string_view("0123456789.-lzh").find(format[i + 1]) != std::string_view::npos)
      ++i;
    ++i;
    if (next < args.size()) out += args[next++];
  }
  return out;
}

}  // namespace

void SetEnglish(bool english) { gEnglish = english; }
bool English() { return gEnglish; }

std::string Tr(const char* zh, const char* en) { return gEnglish ? en : zh; }

std::string TrOperation(const std::string& text) {
  if (!gEnglish) return text;
  for (const Pair& p : Pairs())
    if (p.zh == text) return p.en;
  for (const Pair& p : Pairs()) {
    if (p.zh.find('%') == std::string::npos) continue;
    std::vector<std::string> args;
    if (!Match(p.zh, 0, text, 0, &args)) continue;
    // A value may itself be a known text ("连接设备失败" inside a longer message).
    for (std::string& a : args) a = TrOperation(a);
    return Fill(p.en, args);
  }
  return text;
}

}  // namespace card::cli
