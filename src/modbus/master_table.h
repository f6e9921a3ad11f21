// The Modbus master request table: the 30 requests the card polls on its
// RS-485 port. The card keeps them as 19-byte entries inside its record; the
// table file PlC1MEM.datr and the dialog's list keep them widened to 45-byte
// records. Row i of the list is always entry i and record i of the file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/ports.h"
#include "link/channel.h"
#include "link/record.h"
#include "platform/clock.h"
#include "platform/i18n.h"

namespace card::modbus {

constexpr std::size_t kRequests = 30;
constexpr std::size_t kEntrySize = 19;
constexpr std::size_t kFileRecordSize = 45;
constexpr std::size_t kTableFileSize = kRequests * kFileRecordSize;  // 1350
constexpr std::size_t kColumns = 12;
// The card takes "set C_DD" lines for the first 20 requests only.
constexpr std::size_t kSentRequests = 20;
constexpr std::uint8_t kEmptyFunction = 38;  // '&'
constexpr int kLinePauseMs = 2000;
constexpr int kUploadEndPauseMs = 500;
constexpr const char* kTableFileName = "PlC1MEM.datr";
// The RS-485 mode whose headers name raw bytes ("22-称重仪器定制").
constexpr int kWeighingMode = 22;

inline constexpr const char* kMsgFileMissing = TR_NOOP("文件不存在");

// One request as the card stores it (19 bytes, little-endian).
struct RequestEntry {
  std::uint8_t function = 0;
  std::uint8_t slave = 0;
  std::uint16_t address = 0;
  std::uint8_t count = 0;
  std::uint16_t divisor = 0;
  std::uint16_t multiplier = 0;
  std::uint8_t master = 0;
  std::uint16_t calPlus = 0;
  std::uint16_t calMinus = 0;
  std::uint8_t delay = 0;
  std::uint16_t upper = 0;
  std::int16_t lower = 0;

  // What the tool writes for no request: function 38, divisor, multiplier
  // and delay 1, the rest 0.
  static RequestEntry Empty();
  bool empty() const { return function == 0 || function == kEmptyFunction; }
  bool operator==(const RequestEntry&) const = default;
};

// One request as the file and the list keep it (45 bytes, little-endian,
// every field a signed 32-bit number except the delay).
struct RequestRecord {
  std::int32_t master = 0;
  std::int32_t slave = 0;
  std::int32_t address = 0;
  std::int32_t function = 0;
  std::int32_t count = 0;
  std::int32_t divisor = 0;
  std::int32_t calPlus = 0;
  std::int32_t calMinus = 0;
  std::int32_t multiplier = 0;
  std::uint8_t delay = 0;
  std::int32_t upper = 0;
  std::int32_t lower = 0;

  // The one test of "no request" for the record, the file and the list.
  bool empty() const { return function == 0 || function == kEmptyFunction; }
  bool operator==(const RequestRecord&) const = default;
};

using EntryTable = std::array<RequestEntry, kRequests>;
using RecordTable = std::array<RequestRecord, kRequests>;
using RowTexts = std::array<std::string, kColumns>;
using TableTexts = std::array<RowTexts, kRequests>;

RequestEntry ReadEntry(const DeviceStatusRecord& r, std::size_t index);
void WriteEntry(DeviceStatusRecord* r, std::size_t index, const RequestEntry& e);
EntryTable ReadEntries(const DeviceStatusRecord& r);

// Widens every field; the lower limit keeps its sign. Function 0 gives an
// all-zero record.
RequestRecord ToRecord(const RequestEntry& e);
// Keeps the low 8 or 16 bits of each field. An empty record gives the
// empty entry.
RequestEntry ToEntry(const RequestRecord& r);
RecordTable ToRecords(const EntryTable& t);
EntryTable ToEntries(const RecordTable& t);

// The file: the 30 records back to back, no header.
std::string EncodeTableFile(const RecordTable& t);
struct TableFileLoad {
  RecordTable records;      // previous records where the file stops short
  std::size_t whole = 0;    // whole records the file held (at most 30)
  std::size_t bytes = 0;    // the file's length
};
// Takes whole records only; where the file ends, previous stays.
TableFileLoad DecodeTableFile(std::string_view bytes, const RecordTable& previous);
// What the user is told about a file that is not exactly one table; empty
// for a whole table.
std::string TableFileNotice(const TableFileLoad& load);
bool WriteTableFile(const std::string& path, const RecordTable& t);

// Column c of the list and its field. Headers in both header sets.
const std::array<std::string, kColumns>& NormalHeaders();
const std::array<std::string, kColumns>& WeighingHeaders();
// Widths in fifteenths of a sixth of the list's client width.
const std::array<int, kColumns>& NormalWidthFifteenths();
constexpr int kWeighingWidthFifteenths = 10;

// The row's cell texts: all empty for an empty record; the lower limit signed.
RowTexts ToRow(const RequestRecord& r);
TableTexts ToRows(const RecordTable& t);
// The cells the add dialog writes into a row.
RowTexts AddedRow(const RequestRecord& r);

struct TableParse {
  RecordTable records;
  std::vector<std::string> errors;    // cells that do not hold a value of their field
  std::vector<std::string> warnings;  // rows that are stored, but not as they read
  bool ok() const { return errors.empty(); }
};
// Reads every cell whole against its field's range; headers name the
// columns in the messages. A row without a function code is no request.
TableParse ParseRows(const TableTexts& rows, const std::array<std::string, kColumns>& headers);

// Whole-number text of a cell or field: blanks around it, an optional sign,
// digits and nothing else, within [low, high]. Empty text is 0.
std::optional<long long> ParseWhole(std::string_view text, long long low, long long high);

// Doubts about a stored table that do not stop it: slave addresses outside
// 1..247, request counts the function code cannot carry, register ranges
// past 65535, a divisor of 0, and reads whose master storage overlaps.
std::vector<std::string> CheckTable(const RecordTable& t);

// Function codes the card takes in a "set C_DD" line.
bool Sendable(int function);
// "set C_DD %d %d %d %d %d %d %d %d %d %d %d %d %d\n" of the entry widened.
std::string CddLine(std::size_t index, const RequestEntry& e);
// Requests that an upload leaves on the PC: function codes the card does
// not take, and requests past the 20th. One line each.
std::vector<std::string> UnsentRequests(const EntryTable& t);

// The RTU frame of a row, for the list, or why the row makes none.
std::string RowFrameText(const RequestRecord& r);

// Items of the add dialog's drop-downs and the value behind each position.
struct AddRequestItems {
  std::vector<std::string> slaves, addresses, functions, counts, masters, delays;
};
const AddRequestItems& AddItems();
extern const int kAddFunctionValues[4];
// The add dialog's fields as the user left them.
struct AddRequestValues {
  int slave = 0, address = 0, function = 0, count = 0, master = 0, delay = 0;  // positions
  std::string multiplier, divisor, calPlus, calMinus, upper, lower;           // texts
};
// The request, or the errors of the text fields.
std::optional<RequestRecord> AddedRequest(const AddRequestValues& v, std::vector<std::string>* errors);

// How far an upload got: the lines it had to send and those that went out,
// also when a cancel cut it short; linkLost when a line could not be sent
// (the line before it may not have reached the card either).
struct UploadReport {
  int total = 0;
  int sent = 0;
  bool linkLost = false;
};

// Sends the first 20 sendable entries of table as "set C_DD" lines, 2000 ms
// apart, then waits 500 ms and disconnects. Each entry goes into *record as
// its line goes out; the entries no line is sent for (past the 20th, or a
// function code the card does not take) go into *record at once, so the
// record keeps the whole table. The first failed send stops the upload with
// a message. True when every line went out.
bool UploadTable(Channel& link, platform::Clock& clock, UserPort& user, ProgressPort& progress,
                 const std::string& address, const EntryTable& table, DeviceStatusRecord* record,
                 UploadReport* report = nullptr);

}  // namespace card::modbus
