#include "modbus/master_table.h"

#include <algorithm>
#include <cctype>

#include "link/command_channel.h"
#include "modbus/rtu.h"
#include "platform/files.h"
#include "platform/i18n.h"
#include "platform/text.h"

namespace card::modbus {
namespace {

// Entry field offsets.
constexpr std::size_t kEFunction = 0, kESlave = 1, kEAddress = 2, kECount = 4, kEDivisor = 5, kEMultiplier = 7,
                      kEMaster = 9, kECalPlus = 10, kECalMinus = 12, kEDelay = 14, kEUpper = 15, kELower = 17;

// Column c of the list: the record field it shows and that field's range as
// the card stores it.
struct Column {
  std::int32_t RequestRecord::*field;
  long long low, high;
};
constexpr long long kU8 = 255, kU16 = 65535;
const Column kColumnFields[kColumns] = {
    {&RequestRecord::slave, 0, kU8},       {&RequestRecord::address, 0, kU16},
    {&RequestRecord::function, 0, kU8},    {&RequestRecord::count, 0, kU8},
    {&RequestRecord::divisor, 0, kU16},    {&RequestRecord::multiplier, 0, kU16},
    {&RequestRecord::calPlus, 0, kU16},    {&RequestRecord::calMinus, 0, kU16},
    {&RequestRecord::master, 0, kU8},      {nullptr, 0, kU8},  // delay, the one byte field
    {&RequestRecord::upper, 0, kU16},      {&RequestRecord::lower, -32768, 32767}};
constexpr std::size_t kFunctionColumn = 2;
constexpr std::size_t kDelayColumn = 9;

std::int32_t Get(const RequestRecord& r, std::size_t c) {
  return c == kDelayColumn ? r.delay : r.*kColumnFields[c].field;
}
void Set(RequestRecord& r, std::size_t c, long long v) {
  if (c == kDelayColumn)
    r.delay = static_cast<std::uint8_t>(v);
  else
    r.*kColumnFields[c].field = static_cast<std::int32_t>(v);
}

std::string Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return std::string(s.substr(b, e - b));
}

void PutI32(std::string& out, std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((u >> (8 * i)) & 0xFF));
}
std::int32_t GetI32(std::string_view b, std::size_t at) {
  std::uint32_t u = 0;
  for (int i = 0; i < 4; ++i) u |= static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + i])) << (8 * i);
  return static_cast<std::int32_t>(u);
}

// The lower limit as a signed 16-bit number: older tables carry it as the
// unsigned reading of its pattern (65531 for -5).
std::int32_t SignedLower(std::int32_t v) { return v >= 32768 && v <= 65535 ? v - 65536 : v; }

bool IsRead(int function) { return function >= 1 && function <= 4; }

}  // namespace

RequestEntry RequestEntry::Empty() {
  RequestEntry e;
  e.function = kEmptyFunction;
  e.divisor = 1;
  e.multiplier = 1;
  e.delay = 1;
  return e;
}

RequestEntry ReadEntry(const DeviceStatusRecord& r, std::size_t index) {
  const std::size_t b = rec::kModbusTable + index * kEntrySize;
  RequestEntry e;
  e.function = r.u8(b + kEFunction);
  e.slave = r.u8(b + kESlave);
  e.address = r.u16(b + kEAddress);
  e.count = r.u8(b + kECount);
  e.divisor = r.u16(b + kEDivisor);
  e.multiplier = r.u16(b + kEMultiplier);
  e.master = r.u8(b + kEMaster);
  e.calPlus = r.u16(b + kECalPlus);
  e.calMinus = r.u16(b + kECalMinus);
  e.delay = r.u8(b + kEDelay);
  e.upper = r.u16(b + kEUpper);
  e.lower = static_cast<std::int16_t>(r.u16(b + kELower));
  return e;
}

void WriteEntry(DeviceStatusRecord* r, std::size_t index, const RequestEntry& e) {
  const std::size_t b = rec::kModbusTable + index * kEntrySize;
  r->setU8(b + kEFunction, e.function);
  r->setU8(b + kESlave, e.slave);
  r->setU16(b + kEAddress, e.address);
  r->setU8(b + kECount, e.count);
  r->setU16(b + kEDivisor, e.divisor);
  r->setU16(b + kEMultiplier, e.multiplier);
  r->setU8(b + kEMaster, e.master);
  r->setU16(b + kECalPlus, e.calPlus);
  r->setU16(b + kECalMinus, e.calMinus);
  r->setU8(b + kEDelay, e.delay);
  r->setU16(b + kEUpper, e.upper);
  r->setU16(b + kELower, static_cast<std::uint16_t>(e.lower));
}

EntryTable ReadEntries(const DeviceStatusRecord& r) {
  EntryTable t;
  for (std::size_t i = 0; i < kRequests; ++i) t[i] = ReadEntry(r, i);
  return t;
}

RequestRecord ToRecord(const RequestEntry& e) {
  RequestRecord r;
  if (e.function == 0) return r;
  r.function = e.function;
  r.slave = e.slave;
  r.address = e.address;
  r.count = e.count;
  r.divisor = e.divisor;
  r.multiplier = e.multiplier;
  r.master = e.master;
  r.calPlus = e.calPlus;
  r.calMinus = e.calMinus;
  r.delay = e.delay;
  r.upper = e.upper;
  r.lower = e.lower;
  return r;
}

RequestEntry ToEntry(const RequestRecord& r) {
  if (r.empty()) return RequestEntry::Empty();
  RequestEntry e;
  e.function = static_cast<std::uint8_t>(r.function);
  e.slave = static_cast<std::uint8_t>(r.slave);
  e.address = static_cast<std::uint16_t>(r.address);
  e.count = static_cast<std::uint8_t>(r.count);
  e.divisor = static_cast<std::uint16_t>(r.divisor);
  e.multiplier = static_cast<std::uint16_t>(r.multiplier);
  e.master = static_cast<std::uint8_t>(r.master);
  e.calPlus = static_cast<std::uint16_t>(r.calPlus);
  e.calMinus = static_cast<std::uint16_t>(r.calMinus);
  e.delay = r.delay;
  e.upper = static_cast<std::uint16_t>(r.upper);
  e.lower = static_cast<std::int16_t>(static_cast<std::uint16_t>(r.lower));
  return e;
}

RecordTable ToRecords(const EntryTable& t) {
  RecordTable out;
  for (std::size_t i = 0; i < kRequests; ++i) out[i] = ToRecord(t[i]);
  return out;
}

EntryTable ToEntries(const RecordTable& t) {
  EntryTable out;
  for (std::size_t i = 0; i < kRequests; ++i) out[i] = ToEntry(t[i]);
  return out;
}

std::string EncodeTableFile(const RecordTable& t) {
  std::string out;
  out.reserve(kTableFileSize);
  for (const RequestRecord& r : t) {
    for (std::int32_t v : {r.master, r.slave, r.address, r.function, r.count, r.divisor, r.calPlus, r.calMinus,
                           r.multiplier})
      PutI32(out, v);
    out.push_back(static_cast<char>(r.delay));
    PutI32(out, r.upper);
    PutI32(out, r.lower);
  }
  return out;
}

TableFileLoad DecodeTableFile(std::string_view bytes, const RecordTable& previous) {
  TableFileLoad load;
  load.records = previous;
  load.bytes = bytes.size();
  load.whole = std::min(bytes.size() / kFileRecordSize, kRequests);
  for (std::size_t i = 0; i < load.whole; ++i) {
    const std::size_t b = i * kFileRecordSize;
    RequestRecord& r = load.records[i];
    std::int32_t* fields[] = {&r.master, &r.slave, &r.address, &r.function, &r.count, &r.divisor, &r.calPlus,
                              &r.calMinus, &r.multiplier};
    for (std::size_t k = 0; k < 9; ++k) *fields[k] = GetI32(bytes, b + 4 * k);
    r.delay = static_cast<std::uint8_t>(bytes[b + 36]);
    r.upper = GetI32(bytes, b + 37);
    r.lower = GetI32(bytes, b + 41);
  }
  return load;
}

std::string TableFileNotice(const TableFileLoad& load) {
  if (load.bytes == kTableFileSize) return {};
  if (load.whole == 0)
    return platform::Format(platform::Tr("文件长度为%zu字节，没有一条完整的请求（每条45字节），列表保持不变。"), load.bytes);
  if (load.bytes < kTableFileSize)
    return platform::Format(
        platform::Tr("文件长度为%zu字节，不是完整的请求表（1350字节）：只载入了前%zu条完整的请求，第%zu行起保持不变。"), load.bytes,
        load.whole, load.whole + 1);
  return platform::Format(platform::Tr("文件长度为%zu字节，超过请求表的1350字节：只载入了前30条请求，多余部分未载入。"), load.bytes);
}

bool WriteTableFile(const std::string& path, const RecordTable& t) {
  const std::string bytes = EncodeTableFile(t);
  return platform::WriteFileAtomic(path, bytes.data(), bytes.size());
}

const std::array<std::string, kColumns>& NormalHeaders() {
  static const std::array<std::string, kColumns> h = {TR_NOOP("从站地址 "), TR_NOOP("寄存器地址 "), TR_NOOP("功能码"), TR_NOOP("请求个数"),
                                                      TR_NOOP("除倍数"),    TR_NOOP("乘倍数"),      TR_NOOP("校准+"),  TR_NOOP("校准-"),
                                                      TR_NOOP("主寄存器地址"), TR_NOOP("延时(ms)"), TR_NOOP("上限值"), TR_NOOP("下限值")};
  return h;
}

const std::array<std::string, kColumns>& WeighingHeaders() {
  static const std::array<std::string, kColumns> h = {
      TR_NOOP(" 0 (16进制）"), TR_NOOP(" 1 (16进制）"), TR_NOOP(" 2 (16进制）"), TR_NOOP(" 3 (16进制）"), TR_NOOP(" 4 (16进制）"),   TR_NOOP(" 5 (16进制）"),
      TR_NOOP(" 6 (16进制）"), TR_NOOP(" 7 (16进制）"), TR_NOOP(" 8 (16进制）"), TR_NOOP("延时 (10进制）"), TR_NOOP(" 上限 (10进制）"), TR_NOOP(" 下限 (10进制）")};
  return h;
}

const std::array<int, kColumns>& NormalWidthFifteenths() {
  static const std::array<int, kColumns> w = {9, 9, 6, 9, 6, 6, 6, 6, 12, 9, 6, 6};
  return w;
}

RowTexts ToRow(const RequestRecord& r) {
  RowTexts row;
  if (r.empty()) return row;
  for (std::size_t c = 0; c < kColumns; ++c) {
    std::int32_t v = Get(r, c);
    if (c == kColumns - 1) v = SignedLower(v);
    row[c] = std::to_string(v);
  }
  return row;
}

TableTexts ToRows(const RecordTable& t) {
  TableTexts out;
  for (std::size_t i = 0; i < kRequests; ++i) out[i] = ToRow(t[i]);
  return out;
}

RowTexts AddedRow(const RequestRecord& r) { return ToRow(r); }

std::optional<long long> ParseWhole(std::string_view text, long long low, long long high) {
  const std::string t = Trim(text);
  if (t.empty()) return 0 >= low && 0 <= high ? std::optional<long long>(0) : std::nullopt;
  std::size_t i = 0;
  bool negative = false;
  if (t[0] == '+' || t[0] == '-') {
    negative = t[0] == '-';
    i = 1;
  }
  if (i == t.size()) return std::nullopt;
  long long v = 0;
  for (; i < t.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(t[i]))) return std::nullopt;
    v = v * 10 + (t[i] - '0');
    if (v > 100000000000LL) return std::nullopt;  // far beyond every field
  }
  if (negative) v = -v;
  if (v < low || v > high) return std::nullopt;
  return v;
}

TableParse ParseRows(const TableTexts& rows, const std::array<std::string, kColumns>& headers) {
  TableParse out;
  for (std::size_t i = 0; i < kRequests; ++i) {
    const RowTexts& row = rows[i];
    RequestRecord r;
    bool rowOk = true, anyValue = false;
    for (std::size_t c = 0; c < kColumns; ++c) {
      const Column& col = kColumnFields[c];
      auto v = ParseWhole(row[c], col.low, col.high);
      if (!v) {
        out.errors.push_back(platform::Format(platform::Tr("第%zu行“%s”：“%s”不是%lld到%lld之间的整数"), i + 1,
                                              Trim(headers[c]).c_str(), Trim(row[c]).c_str(), col.low, col.high));
        rowOk = false;
        continue;
      }
      if (c != kFunctionColumn && *v != 0) anyValue = true;
      Set(r, c, *v);
    }
    if (!rowOk) continue;
    if (r.empty()) {
      if (anyValue)
        out.warnings.push_back(platform::Format(platform::Tr("第%zu行：没有功能码，这一行按空请求保存，其中的数值不保留。"), i + 1));
      r = RequestRecord{};
    }
    out.records[i] = r;
  }
  return out;
}

std::vector<std::string> CheckTable(const RecordTable& t) {
  std::vector<std::string> out;
  struct Span {
    std::size_t row;
    long long first, last;
  };
  std::vector<Span> reads;
  for (std::size_t i = 0; i < kRequests; ++i) {
    const RequestRecord& r = t[i];
    if (r.empty()) continue;
    // Wide arithmetic: a record read from a file may hold any 32-bit value.
    const int fc = r.function, row = static_cast<int>(i + 1);
    const long long count = r.count, address = r.address;
    if (FunctionName(fc).empty()) {
      out.push_back(platform::Format(platform::Tr("第%d行：功能码%d不是Modbus主站的读写功能码（1–6、15、16）。"), row, fc));
      continue;
    }
    if (r.slave < 0 || r.slave > 247)
      out.push_back(platform::Format(platform::Tr("第%d行：从站地址%d超出了1到247。"), row, r.slave));
    else if (r.slave == 0 && IsRead(fc))
      out.push_back(platform::Format(platform::Tr("第%d行：从站地址0是广播地址，读请求不会得到应答。"), row));
    // The entry keeps the count in one byte: 255 at most, whatever the code allows.
    const long long most = std::min(MostItems(fc), 255);
    if (most && (count < 1 || count > most))
      out.push_back(platform::Format(platform::Tr("第%d行：功能码%d的请求个数应在1到%lld之间，现为%lld。"), row, fc, most, count));
    const long long span = most ? std::max(1LL, count) : 1;
    if (address < 0 || address + span - 1 > 65535)
      out.push_back(platform::Format(platform::Tr("第%d行：从寄存器地址%lld起的%lld个地址超出了65535。"), row, address, span));
    if (r.divisor == 0) out.push_back(platform::Format(platform::Tr("第%d行：除倍数为0。"), row));
    if (IsRead(fc)) {
      // Registers land one each in master storage, coils and inputs 16 to a register.
      const long long words = fc >= 3 ? span : (span + 15) / 16;
      reads.push_back({i + 1, r.master, r.master + words - 1});
    }
  }
  for (std::size_t a = 0; a < reads.size(); ++a)
    for (std::size_t b = a + 1; b < reads.size(); ++b)
      if (reads[a].first <= reads[b].last && reads[b].first <= reads[a].last)
        out.push_back(platform::Format(platform::Tr("第%zu行与第%zu行的主寄存器地址范围重叠（%lld–%lld 与 %lld–%lld）。"), reads[a].row,
                                       reads[b].row, reads[a].first, reads[a].last, reads[b].first, reads[b].last));
  return out;
}

bool Sendable(int function) {
  switch (function) {
    case 2: case 3: case 4: case 6: case 16: case kEmptyFunction: return true;
    default: return false;
  }
}

std::string CddLine(std::size_t index, const RequestEntry& e) {
  RequestEntry w = e;
  if (e.function == 0) {
    w = RequestEntry::Empty();
    w.function = 0;
  }
  return platform::Format("set C_DD %zu %d %d %d %d %d %d %d %d %d %d %d %d\n", index, w.function, w.slave, w.address,
                          w.count, w.divisor, w.calPlus, w.calMinus, w.master, w.multiplier, w.delay, w.upper,
                          w.lower);
}

std::vector<std::string> UnsentRequests(const EntryTable& t) {
  std::vector<std::string> out;
  std::string late;
  for (std::size_t i = 0; i < kRequests; ++i) {
    if (t[i].empty()) continue;
    if (i >= kSentRequests)
      late += platform::Format(late.empty() ? platform::Tr("第%zu行") : platform::Tr("、第%zu行"), i + 1);
    else if (!Sendable(t[i].function))
      out.push_back(platform::Format(platform::Tr("第%zu行：功能码%d的请求设备不接收，不会发送。"), i + 1, t[i].function));
  }
  if (!late.empty()) out.push_back(platform::Tr("设备只接收前20条请求，") + late + platform::Tr("只保存在表中，不会发送。"));
  return out;
}

std::string RowFrameText(const RequestRecord& r) {
  if (r.empty()) return {};
  return RequestFrameText(r.slave, r.function, r.address, r.count);
}

const int kAddFunctionValues[4] = {3, 4, 6, 16};

const AddRequestItems& AddItems() {
  static const AddRequestItems items = [] {
    AddRequestItems it;
    for (int v = 1; v <= 255; ++v) it.slaves.push_back(platform::Format("%02d", v));
    for (int v = 0; v <= 254; ++v) it.addresses.push_back(platform::Format("%02x", v));
    it.functions = {"03", "04", "06", "10"};
    for (int v = 0; v <= 199; ++v) it.counts.push_back(platform::Format("%02d", v));
    for (int v = 1; v <= 200; ++v) it.masters.push_back(platform::Format("%02d", v));
    // The delay is one byte: 250 ms is the longest it holds.
    for (int v = 20; v <= 250; v += 10) it.delays.push_back(platform::Format("%02dms", v));
    return it;
  }();
  return items;
}

std::optional<RequestRecord> AddedRequest(const AddRequestValues& v, std::vector<std::string>* errors) {
  const AddRequestItems& items = AddItems();
  auto inRange = [](int pos, const std::vector<std::string>& list) { return pos >= 0 && pos < static_cast<int>(list.size()); };
  RequestRecord r;
  if (!inRange(v.slave, items.slaves) || !inRange(v.address, items.addresses) ||
      !inRange(v.function, items.functions) || !inRange(v.count, items.counts) || !inRange(v.master, items.masters) ||
      !inRange(v.delay, items.delays)) {
    errors->push_back(platform::Tr("请在每个下拉列表中选择一项。"));
    return std::nullopt;
  }
  r.slave = v.slave + 1;
  r.address = v.address;
  r.function = kAddFunctionValues[v.function];
  r.count = v.count;
  r.master = v.master + 1;
  r.delay = static_cast<std::uint8_t>(20 + 10 * v.delay);
  struct Text {
    const char* label;
    const std::string* text;
    std::int32_t RequestRecord::*field;
    long long low, high;
  };
  const Text texts[] = {{TR_NOOP("乘倍数"), &v.multiplier, &RequestRecord::multiplier, 0, kU16},
                        {TR_NOOP("除倍数"), &v.divisor, &RequestRecord::divisor, 0, kU16},
                        {TR_NOOP("校准+"), &v.calPlus, &RequestRecord::calPlus, 0, kU16},
                        {TR_NOOP("校准-"), &v.calMinus, &RequestRecord::calMinus, 0, kU16},
                        {TR_NOOP("上限值"), &v.upper, &RequestRecord::upper, 0, kU16},
                        {TR_NOOP("下限值"), &v.lower, &RequestRecord::lower, -32768, 32767}};
  const std::size_t before = errors->size();
  for (const Text& t : texts) {
    auto value = ParseWhole(*t.text, t.low, t.high);
    if (!value)
      errors->push_back(platform::Format(platform::Tr("“%s”：“%s”不是%lld到%lld之间的整数"), platform::Tr(t.label), Trim(*t.text).c_str(), t.low, t.high));
    else
      r.*t.field = static_cast<std::int32_t>(*value);
  }
  if (errors->size() != before) return std::nullopt;
  return r;
}

bool UploadTable(Channel& link, platform::Clock& clock, UserPort& user, ProgressPort& progress,
                 const std::string& address, const EntryTable& table, DeviceStatusRecord* record,
                 UploadReport* report) {
  UploadReport own;
  UploadReport& r = report ? *report : own;
  r = UploadReport{};
  // No line ever carries these: the record keeps them as the table has them.
  for (std::size_t i = 0; i < kRequests; ++i)
    if (i >= kSentRequests || !Sendable(table[i].function)) WriteEntry(record, i, table[i]);
  for (std::size_t i = 0; i < kSentRequests; ++i) r.total += Sendable(table[i].function) ? 1 : 0;
  if (link.Connect(address) != 0) {
    user.Message(kMsgConnectFailed, kTitleError, Icon::Error);
    return false;
  }
  // Disconnects on every way out, a cancel included.
  struct Hangup {
    Channel& link;
    ~Hangup() { link.Disconnect(); }
  } hangup{link};
  progress.Progress(0);
  for (std::size_t i = 0; i < kSentRequests; ++i) {
    if (!Sendable(table[i].function)) continue;
    progress.Status(platform::Format(platform::Tr("正在发送第%zu行的请求（%d/%d）"), i + 1, r.sent + 1, r.total));
    if (SendLine(link, CddLine(i, table[i])) != 0) {
      r.linkLost = true;
      user.Message(platform::Format(platform::Tr("%s\n第%zu行的请求没有发出，上传已停止（已发送 %d/%d 项）。"), platform::Tr(kMsgConnectFailed),
                                    i + 1, r.sent, r.total),
                   kTitleError, Icon::Error);
      return false;
    }
    // The card has this request now, and so has our copy of its record.
    WriteEntry(record, i, table[i]);
    ++r.sent;
    progress.Progress(r.sent * 100 / std::max(r.total, 1));
    clock.sleepMs(kLinePauseMs);
  }
  clock.sleepMs(kUploadEndPauseMs);
  progress.Progress(100);
  return true;
}

}  // namespace card::modbus
