// The card's 908-byte parameter and identity block as the card keeps it and
// sends it, what each "set" line does to it, and the record a virtual card
// starts with. Little-endian, packed: several 16-bit fields lie at odd
// offsets. Every change recomputes the checksum at offset 333, as the real
// card keeps it, so a tool that announced the right value sees it match.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// Where the card keeps each parameter.
namespace field {
constexpr std::size_t kBlockSize = 908;
constexpr std::size_t kDisplayCode = 0;      // u16; top nibble 1000b, OE bit 0x10, data bit 0x01
constexpr std::size_t kScreenWidth = 2;      // u16
constexpr std::size_t kScreenHeight = 4;     // u16
constexpr std::size_t kBlueOff = 8;          // u8, 85 = blue disabled
constexpr std::size_t kScriptOn = 9;         // u8, 85 = run the script at start
constexpr std::size_t kHardWidth = 10;       // u16, first number of "set hard"
constexpr std::size_t kDriverFixed = 12;     // u8, third number of "set ledpara"
constexpr std::size_t kDisplayMode = 13;     // u8
constexpr std::size_t kTwoFaced = 14;        // u8
constexpr std::size_t kDevNumber = 15;       // u8
constexpr std::size_t kFactoryFlag = 16;     // u8, 0x80: open the boot window at the next start
constexpr std::size_t kSplitLineX = 19;      // u8
constexpr std::size_t kSplitLineY = 20;      // u8
constexpr std::size_t kUFold = 21;           // u8
constexpr std::size_t kRowColumnSwap = 22;   // u8
constexpr std::size_t kDzFold = 23;          // u8
constexpr std::size_t kDataLevel = 24;       // u8, 0 "正", 1 "负" (firmware 36 on)
constexpr std::size_t kOeLevel = 25;         // u8, 0 "正", 1 "负" (firmware 36 on)
constexpr std::size_t kBaud = 26;            // u16, bit/s
constexpr std::size_t kCloudLink = 28;       // u16, 0x55 = on the cloud platform
constexpr std::size_t kRefresh = 30;         // u8
constexpr std::size_t kStoreLock = 34;       // u8
constexpr std::size_t kSnake = 35;           // u8
constexpr std::size_t kBrightness = 36;      // u8
constexpr std::size_t kModbusSlave = 37;     // u16 (odd offset)
constexpr std::size_t kMacWords = 79;        // 6 x u16, one octet each
constexpr std::size_t kRs485Watch = 121;     // u16 flag, then u16 seconds at 123
constexpr std::size_t kRs485WatchSeconds = 123;
constexpr std::size_t kServerBeat = 125;     // u16 flag, then u16 seconds x 100 at 127
constexpr std::size_t kServerBeatPeriod = 127;
constexpr std::size_t kModbusLoad = 133;     // u16
constexpr std::size_t kStartDelayOn = 135;   // u16 flag, then u16 seconds at 137
constexpr std::size_t kStartDelaySeconds = 137;
constexpr std::size_t kCountDown = 139;      // u16
constexpr std::size_t kDayCounters = 141;    // 5 x u16
constexpr std::size_t kDailyReset = 153;     // u16 flag, then hour, minute, second at 155, 157, 159
constexpr std::size_t kDailyResetHour = 155;
constexpr std::size_t kDailyResetMinute = 157;
constexpr std::size_t kDailyResetSecond = 159;
constexpr std::size_t kVersion = 193;        // 3 x u16: major, minor, patch
constexpr std::size_t kRs485Mode = 199;      // u8
constexpr std::size_t kModuleWidth = 200;    // u8, dots
constexpr std::size_t kServiceKind = 201;    // u8
constexpr std::size_t kModuleHeight = 202;   // u8, dots
constexpr std::size_t kServerOn = 203;       // u8
constexpr std::size_t kScanGroups = 204;     // u8
constexpr std::size_t kFoldWidth = 205;      // u8, dots
constexpr std::size_t kRowChip = 206;        // u8
constexpr std::size_t kFixedAddress = 207;   // u8, 1 = fixed address
constexpr std::size_t kRole = 209;           // u8
constexpr std::size_t kFoldRows = 210;       // u8
constexpr std::size_t kName = 211;           // char[40], the serial number
constexpr std::size_t kNameSize = 40;
constexpr std::size_t kIp = 251;             // u8[4], first octet first
constexpr std::size_t kUseNetSettings = 255; // u8, 85 = use mask, gateway, DNS
constexpr std::size_t kNetmask = 256;        // u8[4]
constexpr std::size_t kGatewayIp = 260;      // u8[4]
constexpr std::size_t kDnsIp = 264;          // u8[4]
constexpr std::size_t kLocalPort = 278;      // u16
constexpr std::size_t kServerIp = 292;       // u8[4]
constexpr std::size_t kStopBitsIndex = 296;  // u8
constexpr std::size_t kParityIndex = 297;    // u8
constexpr std::size_t kDataBitsIndex = 298;  // u8
constexpr std::size_t kVoiceOn = 299;        // u8
constexpr std::size_t kServerTcpPort = 317;  // u16
constexpr std::size_t kCrc = 333;            // u32, CRC-32 of bytes 0..255
constexpr std::size_t kCrcSpan = 256;
constexpr std::size_t kRequests = 338;       // 30 Modbus master requests of 19 bytes
constexpr std::size_t kRequestCount = 30;
constexpr std::size_t kRequestSize = 19;
static_assert(kRequests + kRequestCount * kRequestSize == kBlockSize);
}  // namespace field

// One Modbus master request inside the block, offsets from its start.
namespace request {
constexpr std::size_t kFunction = 0;     // u8; 0 or 38 ('&') = empty
constexpr std::size_t kSlave = 1;        // u8
constexpr std::size_t kRegister = 2;     // u16
constexpr std::size_t kCount = 4;        // u8
constexpr std::size_t kDivisor = 5;      // u16
constexpr std::size_t kMultiplier = 7;   // u16
constexpr std::size_t kMasterSlot = 9;   // u8
constexpr std::size_t kCalPlus = 10;     // u16
constexpr std::size_t kCalMinus = 12;    // u16
constexpr std::size_t kDelayMs = 14;     // u8
constexpr std::size_t kUpper = 15;       // u16
constexpr std::size_t kLower = 17;       // i16
}  // namespace request

// Firmware major versions from which the card behaves differently.
constexpr int kLevelsFromFieldsMajor = 36;  // polarity from offsets 24/25, not the code word
constexpr int kPacedAboveMajor = 38;        // long programs arrive in acknowledged pieces

class CardRecord {
 public:
  CardRecord() { bytes_.fill(0); }

  std::uint8_t u8(std::size_t at) const { return bytes_.at(at); }
  std::uint16_t u16(std::size_t at) const {
    return static_cast<std::uint16_t>(bytes_.at(at) | bytes_.at(at + 1) << 8);
  }
  std::uint32_t u32(std::size_t at) const { return u16(at) | static_cast<std::uint32_t>(u16(at + 2)) << 16; }
  void put8(std::size_t at, std::uint8_t v) { bytes_.at(at) = v; }
  void put16(std::size_t at, std::uint16_t v) {
    bytes_.at(at) = static_cast<std::uint8_t>(v);
    bytes_.at(at + 1) = static_cast<std::uint8_t>(v >> 8);
  }
  void put32(std::size_t at, std::uint32_t v) {
    put16(at, static_cast<std::uint16_t>(v));
    put16(at + 2, static_cast<std::uint16_t>(v >> 16));
  }

  const std::uint8_t* data() const { return bytes_.data(); }
  std::uint8_t* data() { return bytes_.data(); }
  std::string bytes() const { return std::string(reinterpret_cast<const char*>(bytes_.data()), bytes_.size()); }
  // False when bytes is not exactly one block.
  bool assign(const std::string& bytes);
  bool operator==(const CardRecord&) const = default;

  int major() const { return u16(field::kVersion); }
  std::uint32_t crc() const;  // CRC-32 of bytes 0..255
  void seal() { put32(field::kCrc, crc()); }

  std::string name() const;  // serial bytes up to the terminator, at most 40
  void setName(const std::string& bytes);  // zero-fills the rest of the field
  std::uint32_t ip() const;  // host byte order
  std::string macText() const;      // "02-4B-58-10-00-00"
  std::string versionText() const;  // "39.2.1"

 private:
  std::array<std::uint8_t, field::kBlockSize> bytes_;
};

struct Firmware {
  int major = 39;
  int minor = 2;
  int patch = 1;
};
// "39.2.1"; false on anything else.
bool ParseFirmware(const std::string& text, Firmware* out);

// A plausible record for the index-th card of a process: code word 0x8111,
// a MAC and a 24-character serial (beginning with 2023) unique to the index,
// the address at offset 251, a 128 x 32 screen of 32 x 16 modules, a Modbus
// master table with two requests, and a correct checksum.
CardRecord MakeRecord(int index, std::uint32_t address, const Firmware& fw);

struct SetResult {
  bool known = true;                       // a line the card understands
  bool changed = false;                    // some record byte changed
  std::optional<std::uint32_t> announced;  // "set Sys_Crc %x"
  std::optional<std::int64_t> clock;       // "set time": the civil time given, in seconds
  bool moveAddress = false;                // "set local_ip": the card restarts on the new address
  int rs485 = -1;                          // "set get485": 0 off, 1 hex view, 2 text view
  bool recognition = false;                // "set Regonize_M"
  std::optional<int> log;                  // "set LOG %d"
};

// Applies one "set" line (its words, "set" first) to the record.
SetResult ApplySetLine(CardRecord& r, const std::vector<std::string>& words);

}  // namespace sim
