#include "card_record.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/text.h"

namespace sim {
namespace {

namespace rec = card::rec;

long Dec(const std::string& w) { return std::strtol(w.c_str(), nullptr, 10); }
unsigned long Hex(const std::string& w) { return std::strtoul(w.c_str(), nullptr, 16); }

void SetModbusEntry(card::DeviceStatusRecord& r, int i, int fc, int slave, int reg, int count, int div, int calPlus,
                    int calMinus, int master, int mult, int delay, int upper, int lower) {
  std::size_t e = rec::kModbusTable + static_cast<std::size_t>(i) * rec::kModbusEntrySize;
  r.setU8(e + 0, static_cast<std::uint8_t>(fc));
  r.setU8(e + 1, static_cast<std::uint8_t>(slave));
  r.setU16(e + 2, static_cast<std::uint16_t>(reg));
  r.setU8(e + 4, static_cast<std::uint8_t>(count));
  r.setU16(e + 5, static_cast<std::uint16_t>(div));
  r.setU16(e + 7, static_cast<std::uint16_t>(mult));
  r.setU8(e + 9, static_cast<std::uint8_t>(master));
  r.setU16(e + 10, static_cast<std::uint16_t>(calPlus));
  r.setU16(e + 12, static_cast<std::uint16_t>(calMinus));
  r.setU8(e + 14, static_cast<std::uint8_t>(delay));
  r.setU16(e + 15, static_cast<std::uint16_t>(upper));
  r.setU16(e + 17, static_cast<std::uint16_t>(static_cast<std::int16_t>(lower)));
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
      {"hard", false, {{rec::kWidthCopy, 2}, {0, 0}, {rec::kDisplayMode, 1}}},
      {"soft", false, {{rec::kWidth, 2}, {rec::kHeight, 2}}},
      {"LED_OEP", false, {{rec::kOePolarity, 1}}},
      {"LED_DATP", false, {{rec::kDataPolarity, 1}}},
      {"pl", false, {{rec::kRefreshRate, 1}}},
      {"ld", false, {{rec::kBrightness, 1}}},
      {"modbus_dev_addr", false, {{rec::kModbusAddress, 2}}},
      {"Modebus_Master", false, {{rec::kRs485Mode, 1}}},
      {"_315MHZ", false, {{rec::kDevelopmentNo, 1}}},
      {"SEVER_M", false, {{rec::kServiceType, 1}}},
      // Only the rate is kept; the 16-bit field holds its low bits.
      {"baud", false, {{rec::kBaudRate, 2}, {0, 0}, {0, 0}, {0, 0}}},
      // Network group.
      {"dhcp_diable", false, {{rec::kIpMode, 1}}},
      {"sever_enable", false, {{rec::kServerEnable, 1}}},
      {"T_Face", false, {{rec::kDoubleSided, 1}}},
      {"server_ip", false, {{rec::kServerAddress, 1}, {rec::kServerAddress + 1, 1}, {rec::kServerAddress + 2, 1},
                            {rec::kServerAddress + 3, 1}}},
      {"server_port", false, {{rec::kServerPort, 2}}},
      // Advanced settings.
      {"local_ip_user", false, {{rec::kFixedNetwork, 1}}},
      {"local_ip_sn", false, {{rec::kSubnetMask, 1}, {rec::kSubnetMask + 1, 1}, {rec::kSubnetMask + 2, 1},
                              {rec::kSubnetMask + 3, 1}}},
      {"local_ip_gw", false, {{rec::kGateway, 1}, {rec::kGateway + 1, 1}, {rec::kGateway + 2, 1},
                              {rec::kGateway + 3, 1}}},
      {"local_ip_dns", false, {{rec::kDns, 1}, {rec::kDns + 1, 1}, {rec::kDns + 2, 1}, {rec::kDns + 3, 1}}},
      {"Mac", true, {{rec::kMac, 2}, {rec::kMac + 2, 2}, {rec::kMac + 4, 2}, {rec::kMac + 6, 2},
                     {rec::kMac + 8, 2}, {rec::kMac + 10, 2}}},
      {"safedi", false, {{rec::kCounterDirection, 2}}},
      {"reset_Enable", false, {{rec::kDailyRestart, 2}, {rec::kRestartHour, 2}, {rec::kRestartMinute, 2},
                               {rec::kRestartSecond, 2}}},
      {"N_M_Enable", false, {{rec::kServerHeartbeatFlag, 2}, {rec::kServerHeartbeatInterval, 2}}},
      {"uart1", false, {{rec::kDataBits, 1}, {rec::kParity, 1}, {rec::kStopBits, 1}}},
      {"RS_M_Enable", false, {{rec::kRs485HeartbeatFlag, 2}, {rec::kRs485HeartbeatInterval, 2}}},
      {"NET_W_Enable", false, {{rec::kStartDelayFlag, 2}, {rec::kStartDelay, 2}}},
      {"Load_M_Enable", false, {{rec::kModbusStorage, 2}}},
      {"RoleMorS", false, {{rec::kCardRole, 1}}},
      {"xyilne", false, {{rec::kSplitX, 1}, {rec::kSplitY, 1}}},
      {"Script_Enable", false, {{rec::kScriptStart, 1}}},
      {"Blue_Disable", false, {{rec::kBlueSwitch, 1}}},
      {"SFE_Disable", false, {{rec::kVoiceSwitch, 1}}},
      // Panel driver parameters, in the order the line carries them.
      {"ledpara", false, {{rec::kModuleWidth, 1}, {rec::kModuleHeight, 1}, {rec::kDriverConstant, 1},
                          {rec::kFoldWidth, 1}, {rec::kFoldRows, 1}, {rec::kScan, 1}, {rec::kSnakeDirection, 1},
                          {rec::kRowColConversion, 1}, {rec::kUFold, 1}, {rec::kRowScanChip, 1},
                          {rec::kDzFold, 1}, {rec::kOePolarity, 1}, {rec::kDataPolarity, 1}}},
  };
  return lines;
}

void Store(card::DeviceStatusRecord& r, const Slot& s, unsigned long v) {
  if (s.width == 1) r.setU8(s.offset, static_cast<std::uint8_t>(v & 0xFF));
  if (s.width == 2) r.setU16(s.offset, static_cast<std::uint16_t>(v & 0xFFFF));
}

bool ApplyFieldLine(card::DeviceStatusRecord& r, const std::vector<std::string>& w) {
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

bool ParseFirmware(const std::string& text, Firmware* out) {
  int a = 0, b = 0, c = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%d.%d.%d%c", &a, &b, &c, &tail) != 3) return false;
  if (a < 0 || a > 0xFFFF || b < 0 || b > 0xFFFF || c < 0 || c > 0xFFFF) return false;
  *out = {a, b, c};
  return true;
}

card::DeviceStatusRecord MakeRecord(int index, std::uint32_t address, const Firmware& fw) {
  card::DeviceStatusRecord r;
  r.setU16(rec::kCodeWord, 0x8111);
  r.setU16(rec::kWidth, 128);
  r.setU16(rec::kHeight, 32);
  r.setU16(rec::kWidthCopy, 128);
  r.setU8(rec::kDriverConstant, 16);
  // Polarity "1-- 正" in the fields, as the code word's bits 0x10 and 0x01 say.
  r.setU8(rec::kDataPolarity, 0);
  r.setU8(rec::kOePolarity, 0);
  r.setU16(rec::kBaudRate, 9600);
  r.setU8(rec::kRefreshRate, 10);
  r.setU8(rec::kBrightness, 15);
  r.setU16(rec::kModbusAddress, 1);
  const std::uint8_t mac[6] = {0x02, 0x4B, 0x58, 0x10, static_cast<std::uint8_t>(index >> 8),
                               static_cast<std::uint8_t>(index)};
  for (int i = 0; i < 6; ++i) r.setU16(rec::kMac + 2 * static_cast<std::size_t>(i), mac[i]);
  r.setU16(rec::kRs485HeartbeatInterval, 10);
  r.setU16(rec::kServerHeartbeatInterval, 3000);
  r.setU16(rec::kFirmware, static_cast<std::uint16_t>(fw.major));
  r.setU16(rec::kFirmware + 2, static_cast<std::uint16_t>(fw.minor));
  r.setU16(rec::kFirmware + 4, static_cast<std::uint16_t>(fw.patch));
  r.setU8(rec::kModuleWidth, 32);
  r.setU8(rec::kModuleHeight, 16);
  r.setU8(rec::kScan, 4);
  r.setU8(rec::kFoldWidth, 32);
  r.setU8(rec::kIpMode, 1);
  r.setU8(rec::kFoldRows, 1);
  r.setSerialBytes(platform::Format("2023%04d%016d", 815, index + 1));
  for (int i = 0; i < 4; ++i)
    r.setU8(rec::kCardAddress + static_cast<std::size_t>(i), static_cast<std::uint8_t>(address >> (24 - 8 * i)));
  r.setU8(rec::kFixedNetwork, 85);
  const std::uint8_t mask[4] = {255, 0, 0, 0}, local[4] = {127, 0, 0, 1};
  for (std::size_t i = 0; i < 4; ++i) {
    r.setU8(rec::kSubnetMask + i, mask[i]);
    r.setU8(rec::kGateway + i, local[i]);
    r.setU8(rec::kDns + i, local[i]);
    r.setU8(rec::kServerAddress + i, local[i]);
  }
  r.setU16(rec::kCardPort, 1001);
  r.setU16(rec::kServerPort, 8080);
  // Two requests polled on RS-485, the rest of the table empty.
  SetModbusEntry(r, 0, 3, 1, 0, 2, 1, 0, 0, 1, 1, 20, 1000, -100);
  SetModbusEntry(r, 1, 4, 2, 16, 1, 10, 0, 0, 3, 1, 30, 500, 0);
  for (int i = 2; i < static_cast<int>(rec::kModbusEntries); ++i) SetModbusEntry(r, i, 38, 0, 0, 0, 1, 0, 0, 0, 1, 1, 0, 0);
  r.updateChecksum();
  return r;
}

std::uint32_t RecordAddress(const card::DeviceStatusRecord& r) {
  return static_cast<std::uint32_t>(r.u8(rec::kCardAddress)) << 24 | r.u8(rec::kCardAddress + 1) << 16 |
         r.u8(rec::kCardAddress + 2) << 8 | r.u8(rec::kCardAddress + 3);
}

SetResult ApplySetLine(card::DeviceStatusRecord& r, const std::vector<std::string>& w) {
  SetResult res;
  if (w.size() < 2 || w[0] != "set") {
    res.known = false;
    return res;
  }
  const card::DeviceStatusRecord before = r;
  const std::string& key = w[1];
  auto arg = [&](std::size_t i) -> const std::string& {
    static const std::string none;
    return i < w.size() ? w[i] : none;
  };
  if (key == "Sys_Crc") {
    res.announced = static_cast<std::uint32_t>(Hex(arg(2)));
  } else if (key == "chrct" && arg(2) == "machine") {
    r.setU16(rec::kCodeWord, static_cast<std::uint16_t>(Hex(arg(3))));
  } else if (key == "S_Foctory") {
    r.setU8(rec::kFactoryByte, static_cast<std::uint8_t>(std::strtoul(arg(2).c_str(), nullptr, 0)));
  } else if (key == "local_ip") {
    for (std::size_t i = 0; i < 4; ++i) r.setU8(rec::kCardAddress + i, static_cast<std::uint8_t>(Dec(arg(2 + i))));
    res.moveAddress = true;
  } else if (key == "Store_lock") {
    if (arg(2) == "on") r.setU8(rec::kLock, 1);
    else if (arg(2) == "off") r.setU8(rec::kLock, 0);
    else res.known = false;
  } else if (key == "SN") {
    // The tool writes the name and its terminator and leaves the rest of the field.
    std::string name = arg(2).substr(0, rec::kSerialSize - 1);
    std::memcpy(r.data() + rec::kSerial, name.c_str(), name.size() + 1);
  } else if (key == "safedate") {
    long i = Dec(arg(2));
    if (i >= 0 && i < 5) r.setU16(rec::kCounterStart + 2 * static_cast<std::size_t>(i), static_cast<std::uint16_t>(Dec(arg(3))));
    else res.known = false;
  } else if (key == "C_DD") {
    long i = Dec(arg(2));
    if (i < 0 || i >= static_cast<long>(rec::kModbusEntries) || w.size() < 15) {
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
    r.updateChecksum();
  }
  return res;
}

}  // namespace sim
