#include "card_record.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/crc32.h"
#include "platform/text.h"

namespace sim {
namespace {

long Dec(const std::string& w) { return std::strtol(w.c_str(), nullptr, 10); }
unsigned long Hex(const std::string& w) { return std::strtoul(w.c_str(), nullptr, 16); }

void SetModbusEntry(CardRecord& r, int i, int fc, int slave, int reg, int count, int div, int calPlus,
                    int calMinus, int master, int mult, int delay, int upper, int lower) {
  std::size_t e = field::kRequests + static_cast<std::size_t>(i) * field::kRequestSize;
  r.put8(e + request::kFunction, static_cast<std::uint8_t>(fc));
  r.put8(e + request::kSlave, static_cast<std::uint8_t>(slave));
  r.put16(e + request::kRegister, static_cast<std::uint16_t>(reg));
  r.put8(e + request::kCount, static_cast<std::uint8_t>(count));
  r.put16(e + request::kDivisor, static_cast<std::uint16_t>(div));
  r.put16(e + request::kMultiplier, static_cast<std::uint16_t>(mult));
  r.put8(e + request::kMasterSlot, static_cast<std::uint8_t>(master));
  r.put16(e + request::kCalPlus, static_cast<std::uint16_t>(calPlus));
  r.put16(e + request::kCalMinus, static_cast<std::uint16_t>(calMinus));
  r.put8(e + request::kDelayMs, static_cast<std::uint8_t>(delay));
  r.put16(e + request::kUpper, static_cast<std::uint16_t>(upper));
  r.put16(e + request::kLower, static_cast<std::uint16_t>(static_cast<std::int16_t>(lower)));
}

// A value of a "set" line and the record field it goes to. Width 0 means
// the value is accepted but not kept in the record.
struct Slot {
  std::size_t offset;
  int width;
};

struct FieldLine {
  const char* key;
  bool hex;
  std::vector<Slot> slots;
};

const std::vector<FieldLine>& FieldLines() {
  static const std::vector<FieldLine> lines = {
      // Main panel.
      {"hard", false, {{field::kHardWidth, 2}, {0, 0}, {field::kDisplayMode, 1}}},
      {"soft", false, {{field::kScreenWidth, 2}, {field::kScreenHeight, 2}}},
      {"LED_OEP", false, {{field::kOeLevel, 1}}},
      {"LED_DATP", false, {{field::kDataLevel, 1}}},
      {"pl", false, {{field::kRefresh, 1}}},
      {"ld", false, {{field::kBrightness, 1}}},
      {"modbus_dev_addr", false, {{field::kModbusSlave, 2}}},
      {"Modebus_Master", false, {{field::kRs485Mode, 1}}},
      {"_315MHZ", false, {{field::kDevNumber, 1}}},
      {"SEVER_M", false, {{field::kServiceKind, 1}}},
      // Only the rate is kept; the 16-bit field holds its low bits.
      {"baud", false, {{field::kBaud, 2}, {0, 0}, {0, 0}, {0, 0}}},
      // Network group.
      {"dhcp_diable", false, {{field::kFixedAddress, 1}}},
      {"sever_enable", false, {{field::kServerOn, 1}}},
      {"T_Face", false, {{field::kTwoFaced, 1}}},
      {"server_ip", false, {{field::kServerIp, 1}, {field::kServerIp + 1, 1}, {field::kServerIp + 2, 1},
                            {field::kServerIp + 3, 1}}},
      {"server_port", false, {{field::kServerTcpPort, 2}}},
      // Advanced settings.
      {"local_ip_user", false, {{field::kUseNetSettings, 1}}},
      {"local_ip_sn", false, {{field::kNetmask, 1}, {field::kNetmask + 1, 1}, {field::kNetmask + 2, 1},
                              {field::kNetmask + 3, 1}}},
      {"local_ip_gw", false, {{field::kGatewayIp, 1}, {field::kGatewayIp + 1, 1}, {field::kGatewayIp + 2, 1},
                              {field::kGatewayIp + 3, 1}}},
      {"local_ip_dns", false, {{field::kDnsIp, 1}, {field::kDnsIp + 1, 1}, {field::kDnsIp + 2, 1}, {field::kDnsIp + 3, 1}}},
      {"Mac", true, {{field::kMacWords, 2}, {field::kMacWords + 2, 2}, {field::kMacWords + 4, 2}, {field::kMacWords + 6, 2},
                     {field::kMacWords + 8, 2}, {field::kMacWords + 10, 2}}},
      {"safedi", false, {{field::kCountDown, 2}}},
      {"reset_Enable", false, {{field::kDailyReset, 2}, {field::kDailyResetHour, 2}, {field::kDailyResetMinute, 2},
                               {field::kDailyResetSecond, 2}}},
      {"N_M_Enable", false, {{field::kServerBeat, 2}, {field::kServerBeatPeriod, 2}}},
      {"uart1", false, {{field::kDataBitsIndex, 1}, {field::kParityIndex, 1}, {field::kStopBitsIndex, 1}}},
      {"RS_M_Enable", false, {{field::kRs485Watch, 2}, {field::kRs485WatchSeconds, 2}}},
      {"NET_W_Enable", false, {{field::kStartDelayOn, 2}, {field::kStartDelaySeconds, 2}}},
      {"Load_M_Enable", false, {{field::kModbusLoad, 2}}},
      {"RoleMorS", false, {{field::kRole, 1}}},
      {"xyilne", false, {{field::kSplitLineX, 1}, {field::kSplitLineY, 1}}},
      {"Script_Enable", false, {{field::kScriptOn, 1}}},
      {"Blue_Disable", false, {{field::kBlueOff, 1}}},
      {"SFE_Disable", false, {{field::kVoiceOn, 1}}},
      // Panel driver parameters, in the order the line carries them.
      {"ledpara", false, {{field::kModuleWidth, 1}, {field::kModuleHeight, 1}, {field::kDriverFixed, 1},
                          {field::kFoldWidth, 1}, {field::kFoldRows, 1}, {field::kScanGroups, 1}, {field::kSnake, 1},
                          {field::kRowColumnSwap, 1}, {field::kUFold, 1}, {field::kRowChip, 1},
                          {field::kDzFold, 1}, {field::kOeLevel, 1}, {field::kDataLevel, 1}}},
  };
  return lines;
}

void Store(CardRecord& r, const Slot& s, unsigned long v) {
  if (s.width == 1) r.put8(s.offset, static_cast<std::uint8_t>(v & 0xFF));
  if (s.width == 2) r.put16(s.offset, static_cast<std::uint16_t>(v & 0xFFFF));
}

bool ApplyFieldLine(CardRecord& r, const std::vector<std::string>& w) {
  for (const auto& f : FieldLines()) {
    if (w[1] != f.key) continue;
    // A line with fewer values than its field list sets the ones it has.
    for (std::size_t i = 0; i < f.slots.size() && i + 2 < w.size(); ++i)
      Store(r, f.slots[i], f.hex ? Hex(w[i + 2]) : static_cast<unsigned long>(Dec(w[i + 2])));
    return true;
  }
  return false;
}

std::int64_t CivilSeconds(long y, long mo, long d, long h, long mi, long s) {
  std::tm t{};
  t.tm_year = static_cast<int>(y - 1900);
  t.tm_mon = static_cast<int>(mo - 1);
  t.tm_mday = static_cast<int>(d);
  t.tm_hour = static_cast<int>(h);
  t.tm_min = static_cast<int>(mi);
  t.tm_sec = static_cast<int>(s);
  // The card keeps civil time without a zone, so UTC arithmetic is exact.
  return static_cast<std::int64_t>(timegm(&t));
}

}  // namespace

bool CardRecord::assign(const std::string& bytes) {
  if (bytes.size() != bytes_.size()) return false;
  std::memcpy(bytes_.data(), bytes.data(), bytes_.size());
  return true;
}

std::uint32_t CardRecord::crc() const { return card::Crc32(bytes_.data(), field::kCrcSpan); }

std::string CardRecord::name() const {
  const char* p = reinterpret_cast<const char*>(bytes_.data() + field::kName);
  std::size_t n = 0;
  while (n < field::kNameSize && p[n] != '\0') ++n;
  return std::string(p, n);
}

void CardRecord::setName(const std::string& bytes) {
  std::memset(bytes_.data() + field::kName, 0, field::kNameSize);
  std::memcpy(bytes_.data() + field::kName, bytes.data(), std::min(bytes.size(), field::kNameSize));
}

std::uint32_t CardRecord::ip() const {
  return static_cast<std::uint32_t>(u8(field::kIp)) << 24 | u8(field::kIp + 1) << 16 | u8(field::kIp + 2) << 8 |
         u8(field::kIp + 3);
}

std::string CardRecord::macText() const {
  std::string out;
  for (std::size_t i = 0; i < 6; ++i)
    out += platform::Format(i ? "-%02X" : "%02X", u16(field::kMacWords + 2 * i));
  return out;
}

std::string CardRecord::versionText() const {
  return platform::Format("%d.%d.%d", u16(field::kVersion), u16(field::kVersion + 2), u16(field::kVersion + 4));
}

bool ParseFirmware(const std::string& text, Firmware* out) {
  int a = 0, b = 0, c = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%d.%d.%d%c", &a, &b, &c, &tail) != 3) return false;
  if (a < 0 || a > 0xFFFF || b < 0 || b > 0xFFFF || c < 0 || c > 0xFFFF) return false;
  *out = {a, b, c};
  return true;
}

CardRecord MakeRecord(int index, std::uint32_t address, const Firmware& fw) {
  CardRecord r;
  r.put16(field::kDisplayCode, 0x8111);
  r.put16(field::kScreenWidth, 128);
  r.put16(field::kScreenHeight, 32);
  r.put16(field::kHardWidth, 128);
  r.put8(field::kDriverFixed, 16);
  // Polarity "1-- 正" in the fields, as the code word's bits 0x10 and 0x01 say.
  r.put8(field::kDataLevel, 0);
  r.put8(field::kOeLevel, 0);
  r.put16(field::kBaud, 9600);
  r.put8(field::kRefresh, 10);
  r.put8(field::kBrightness, 15);
  r.put16(field::kModbusSlave, 1);
  const std::uint8_t mac[6] = {0x02, 0x4B, 0x58, 0x10, static_cast<std::uint8_t>(index >> 8),
                               static_cast<std::uint8_t>(index)};
  for (int i = 0; i < 6; ++i) r.put16(field::kMacWords + 2 * static_cast<std::size_t>(i), mac[i]);
  r.put16(field::kRs485WatchSeconds, 10);
  r.put16(field::kServerBeatPeriod, 3000);
  r.put16(field::kVersion, static_cast<std::uint16_t>(fw.major));
  r.put16(field::kVersion + 2, static_cast<std::uint16_t>(fw.minor));
  r.put16(field::kVersion + 4, static_cast<std::uint16_t>(fw.patch));
  r.put8(field::kModuleWidth, 32);
  r.put8(field::kModuleHeight, 16);
  r.put8(field::kScanGroups, 4);
  r.put8(field::kFoldWidth, 32);
  r.put8(field::kFixedAddress, 1);
  r.put8(field::kFoldRows, 1);
  r.setName(platform::Format("2023%04d%016d", 815, index + 1));
  for (int i = 0; i < 4; ++i)
    r.put8(field::kIp + static_cast<std::size_t>(i), static_cast<std::uint8_t>(address >> (24 - 8 * i)));
  r.put8(field::kUseNetSettings, 85);
  const std::uint8_t mask[4] = {255, 0, 0, 0}, local[4] = {127, 0, 0, 1};
  for (std::size_t i = 0; i < 4; ++i) {
    r.put8(field::kNetmask + i, mask[i]);
    r.put8(field::kGatewayIp + i, local[i]);
    r.put8(field::kDnsIp + i, local[i]);
    r.put8(field::kServerIp + i, local[i]);
  }
  r.put16(field::kLocalPort, 1001);
  r.put16(field::kServerTcpPort, 8080);
  // Two requests polled on RS-485, the rest of the table empty.
  SetModbusEntry(r, 0, 3, 1, 0, 2, 1, 0, 0, 1, 1, 20, 1000, -100);
  SetModbusEntry(r, 1, 4, 2, 16, 1, 10, 0, 0, 3, 1, 30, 500, 0);
  for (int i = 2; i < static_cast<int>(field::kRequestCount); ++i) SetModbusEntry(r, i, 38, 0, 0, 0, 1, 0, 0, 0, 1, 1, 0, 0);
  r.seal();
  return r;
}

SetResult ApplySetLine(CardRecord& r, const std::vector<std::string>& w) {
  SetResult res;
  if (w.size() < 2 || w[0] != "set") {
    res.known = false;
    return res;
  }
  const CardRecord before = r;
  const std::string& key = w[1];
  auto arg = [&](std::size_t i) -> const std::string& {
    static const std::string none;
    return i < w.size() ? w[i] : none;
  };
  if (key == "Sys_Crc") {
    res.announced = static_cast<std::uint32_t>(Hex(arg(2)));
  } else if (key == "chrct" && arg(2) == "machine") {
    r.put16(field::kDisplayCode, static_cast<std::uint16_t>(Hex(arg(3))));
  } else if (key == "S_Foctory") {
    r.put8(field::kFactoryFlag, static_cast<std::uint8_t>(std::strtoul(arg(2).c_str(), nullptr, 0)));
  } else if (key == "local_ip") {
    for (std::size_t i = 0; i < 4; ++i) r.put8(field::kIp + i, static_cast<std::uint8_t>(Dec(arg(2 + i))));
    res.moveAddress = true;
  } else if (key == "Store_lock") {
    if (arg(2) == "on") r.put8(field::kStoreLock, 1);
    else if (arg(2) == "off") r.put8(field::kStoreLock, 0);
    else res.known = false;
  } else if (key == "SN") {
    // The tool writes the name and its terminator and leaves the rest of the field.
    std::string name = arg(2).substr(0, field::kNameSize - 1);
    std::memcpy(r.data() + field::kName, name.c_str(), name.size() + 1);
  } else if (key == "safedate") {
    long i = Dec(arg(2));
    if (i >= 0 && i < 5) r.put16(field::kDayCounters + 2 * static_cast<std::size_t>(i), static_cast<std::uint16_t>(Dec(arg(3))));
    else res.known = false;
  } else if (key == "C_DD") {
    long i = Dec(arg(2));
    if (i < 0 || i >= static_cast<long>(field::kRequestCount) || w.size() < 15) {
      res.known = false;
    } else {
      // Order on the line: fc, slave, register, count, divisor, cal+, cal-, master, multiplier, delay, upper, lower.
      auto v = [&](std::size_t k) { return static_cast<int>(Dec(arg(3 + k))); };
      SetModbusEntry(r, static_cast<int>(i), v(0), v(1), v(2), v(3), v(4), v(5), v(6), v(7), v(8), v(9), v(10), v(11));
    }
  } else if (key == "time") {
    if (w.size() >= 8) res.clock = CivilSeconds(Dec(arg(2)), Dec(arg(3)), Dec(arg(4)), Dec(arg(5)), Dec(arg(6)), Dec(arg(7)));
    else res.known = false;
  } else if (key == "get485" || key == "get485ascii") {
    res.rs485 = Dec(arg(2)) == 0 ? 0 : (key == "get485" ? 1 : 2);
  } else if (key == "Regonize_M") {
    res.recognition = true;
  } else if (key == "LOG") {
    res.log = static_cast<int>(Dec(arg(2)));
  } else if (!ApplyFieldLine(r, w)) {
    res.known = false;
  }
  if (!(r == before)) {
    res.changed = true;
    r.seal();
  }
  return res;
}

}  // namespace sim
