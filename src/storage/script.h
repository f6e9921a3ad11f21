// "脚本程序": the card's script, plain text lines ended by CR LF in the 4 KiB
// flash region at 0x6f0000, read into a list of 256 rows, edited, saved to or
// loaded from a file, and written back with one "file program" command.
//
// The program is what the list shows: the rows up to the last one with code.
// Nothing is remembered beside the list, so what is written or saved is
// always what the user sees. A line is bytes, shown as the codec's edit text
// (bytes that are no GBK character as \xNN), so a line that is read and not
// edited goes back to the card or into a file byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/ports.h"
#include "link/channel.h"
#include "platform/clock.h"
#include "storage/session.h"

namespace card {

inline constexpr std::uint32_t kScriptAddress = 0x6f0000;
inline constexpr std::size_t kScriptRegionBytes = 4096;
inline constexpr int kScriptRows = 256;
inline constexpr std::size_t kScriptLineMaxBytes = 127;  // GBK bytes, without the CR LF
inline constexpr std::size_t kScriptFileMaxBytes = 102400;
// Cards whose firmware major is above this are not read.
inline constexpr int kScriptReadMaxFirmware = 128;
inline constexpr int kLogOffPauseMs = 800;
inline constexpr int kScriptSendPauseMs = 100;

inline constexpr const char* kScriptFilter = "Bin Files (*.kxdatr);;All Files (*.*)";
inline constexpr const char* kScriptProposedName = "config_script.kxdatr";

inline constexpr const char* kMsgScriptReadFailed = "读取设备程序失败";
inline constexpr const char* kMsgScriptTooManyLines = "脚本程序超过256行，不能载入";
inline constexpr const char* kMsgScriptFileTooLarge = "脚本文件超过102400字节，不能打开";
inline constexpr const char* kMsgScriptTooLong = "脚本程序超过4096字节，控制卡存不下，请删减后再下载";
inline constexpr const char* kMsgScriptTooManyRows = "脚本程序超过256行，请删减后再下载";
inline constexpr const char* kFmtScriptEmptyLine = "第%02d行是空行，控制卡读到空行就停止，请删除空行后再下载";
inline constexpr const char* kFmtScriptLineTooLong = "第%02d行超过127字节，请缩短后再下载";
inline constexpr const char* kFmtScriptLineNotGbk = "第%02d行含有控制卡不能显示的字符，请修改后再下载";
inline constexpr const char* kMsgScriptEmptyAsk = "脚本程序为空，下载后控制卡中的脚本程序将被清除。确定下载吗？";
inline constexpr const char* kFmtScriptLineNotGbkSave = "第%02d行含有GBK编码以外的字符，不能保存";
inline constexpr const char* kFmtScriptLineBadEscape = "第%02d行中的“\\”后应为“\\\\”或“\\xNN”（两位十六进制），请修改";
inline constexpr const char* kFmtScriptLineBreaks = "第%02d行含有\\x00或\\x0D\\x0A，读取时会在此截断，请修改";

// How a script text ends. On the card an empty line ends it (the card stops
// reading there); in a file an empty line is an empty row of the program.
enum class ScriptSource { Card, File };

struct ScriptSplit {
  std::vector<std::string> lines;  // without their CR LF
  bool endedAtEmptyLine = false;   // Card: an empty line ended the script right after lines
};

// Splits bytes into the lines ended by CR LF, never looking past the bytes
// given, and ending at the first zero byte (padding). Text after the last
// CR LF is not a line. nullopt when the bytes hold no CR LF at all.
std::optional<ScriptSplit> SplitScriptLines(std::string_view bytes, ScriptSource source);

// The program in the rows of the list: up to the last non-empty row.
std::vector<std::string> ProgramRows(const std::vector<std::string>& rows);

// Each line followed by CR LF.
std::string ScriptText(const std::vector<std::string>& lines);

// Lines as the list shows them (edit text).
std::vector<std::string> ScriptEditTexts(const std::vector<std::string>& lines);

// The bytes of rows given as edit text; at the first row that cannot be
// stored, its index and why (a character GBK cannot carry, a stray
// backslash, or a zero byte or CR LF, which would end or split the line
// when it is read again).
enum class RowProblem { None, NotGbk, BadEscape, BreaksLine };
struct RowBytes {
  std::vector<std::string> lines;
  int badRow = -1;
  RowProblem problem = RowProblem::None;
};
RowBytes ScriptRowBytes(const std::vector<std::string>& rows);

// The program rows (edit text) as the card takes them: their bytes, or the
// message that refuses them (a line too long or not storable, an empty line
// inside, too many lines, more than the region holds).
struct CardScript {
  std::vector<std::string> gbkLines;  // the lines' bytes
  std::string refusal;  // empty: fits
};
CardScript ScriptForCard(const std::vector<std::string>& programRows);

// "file program 0x6f0000 %d  \n" followed by the text, for one Send.
std::string ScriptProgramCommand(std::string_view text);

// What the script tool works with: its own link, the clock of the run, the
// user, the selected card and its firmware major (from the WorkingRecord).
struct ScriptTools {
  Channel& link;
  platform::Clock& clock;
  UserPort& user;
  std::string address;
  int firmwareMajor = 0;
};

// At opening: connects, and only when connected sends "set LOG 0 \n" and
// waits 800 ms. False (after "连接设备失败") when the card was not reached.
bool SwitchLogOff(ScriptTools& t);

enum class ScriptReadOutcome { Read, NotConnected, Skipped, ReadFailed, NoLines, TooManyLines };
struct ScriptRead {
  ScriptReadOutcome outcome = ScriptReadOutcome::ReadFailed;
  ScriptSplit split;   // lines as edit text, when Read
  std::string region;  // the region's bytes as the card sent them, once read whole
};
// "读设备程序": the script region read in full, split at the card's rules.
// Cards above firmware major 128 are skipped. Only Read changes the list.
ScriptRead ReadScript(ScriptTools& t);

enum class ScriptWriteOutcome { Sent, Refused, NotConfirmed, NotConnected, SendFailed };
// "下载到设备": the program of rows (UTF-8 cells), refused with a message
// before anything is connected when the card cannot take it; an empty
// program (which clears the card's script) only after the user confirmed.
ScriptWriteOutcome WriteScript(ScriptTools& t, const std::vector<std::string>& rows);

enum class ScriptFileOutcome { Loaded, FileMissing, TooLarge, NoLines, TooManyLines };
struct ScriptFile {
  ScriptFileOutcome outcome = ScriptFileOutcome::FileMissing;
  std::vector<std::string> lines;  // edit text, when Loaded
};
// "打开程序": the lines of a script file (at most 102400 bytes), every empty
// line kept. Tells the user why a file is not loaded.
ScriptFile LoadScriptFile(const std::string& path, UserPort& user);
// "保存程序": the program of rows, each line's bytes with CR LF, written whole.
bool SaveScriptFile(const std::string& path, const std::vector<std::string>& rows, UserPort& user);

}  // namespace card
