// The card's 908-byte parameter and identity block, packed little-endian.
// Fields are named offsets with accessors; several 16-bit fields lie at odd
// offsets, so nothing here overlays a struct on the bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace card {

namespace rec {
constexpr std::size_t kSize = 908;

constexpr std::size_t kCodeWord = 0;          // u16, top nibble 1000b marks a valid record
constexpr std::size_t kWidth = 2;             // u16
constexpr std::size_t kHeight = 4;            // u16
constexpr std::size_t kBlueSwitch = 8;        // u8, 85 = blue disabled
constexpr std::size_t kScriptStart = 9;       // u8, 85 = on
constexpr std::size_t kWidthCopy = 10;        // u16, carried by "set hard"
constexpr std::size_t kDriverConstant = 12;   // u8, 16 with every "set ledpara"
constexpr std::size_t kDisplayMode = 13;      // u8, index 0..8
constexpr std::size_t kDoubleSided = 14;      // u8
constexpr std::size_t kDevelopmentNo = 15;    // u8
constexpr std::size_t kFactoryByte = 16;      // u8
constexpr std::size_t kSplitX = 19;           // u8
constexpr std::size_t kSplitY = 20;           // u8
constexpr std::size_t kUFold = 21;            // u8
constexpr std::size_t kRowColConversion = 22; // u8
constexpr std::size_t kDzFold = 23;           // u8
constexpr std::size_t kDataPolarity = 24;     // u8
constexpr std::size_t kOePolarity = 25;       // u8
constexpr std::size_t kBaudRate = 26;         // u16, bit/s
constexpr std::size_t kPlatformStatus = 28;   // u16, 0x55 = connected to the cloud platform
constexpr std::size_t kRefreshRate = 30;      // u8
constexpr std::size_t kLock = 34;             // u8
constexpr std::size_t kSnakeDirection = 35;   // u8
constexpr std::size_t kBrightness = 36;       // u8
constexpr std::size_t kModbusAddress = 37;    // u16 (odd offset)
constexpr std::size_t kMac = 79;              // 6 x u16, one octet per word
constexpr std::size_t kInternalCode = 119;    // 8 x u16
constexpr std::size_t kRs485HeartbeatFlag = 121;
constexpr std::size_t kRs485HeartbeatInterval = 123;
constexpr std::size_t kServerHeartbeatFlag = 125;
constexpr std::size_t kServerHeartbeatInterval = 127;
constexpr std::size_t kModbusStorage = 133;
constexpr std::size_t kStartDelayFlag = 135;
constexpr std::size_t kStartDelay = 137;
constexpr std::size_t kCounterDirection = 139;
constexpr std::size_t kCounterStart = 141;    // 5 x u16
constexpr std::size_t kDailyRestart = 153;
constexpr std::size_t kRestartHour = 155;
constexpr std::size_t kRestartMinute = 157;
constexpr std::size_t kRestartSecond = 159;
constexpr std::size_t kFirmware = 193;        // 3 x u16: major, minor, patch
constexpr std::size_t kRs485Mode = 199;       // u8
constexpr std::size_t kModuleWidth = 200;     // u8
constexpr std::size_t kServiceType = 201;     // u8
constexpr std::size_t kModuleHeight = 202;    // u8
constexpr std::size_t kServerEnable = 203;    // u8
constexpr std::size_t kScan = 204;            // u8
constexpr std::size_t kFoldWidth = 205;       // u8
constexpr std::size_t kRowScanChip = 206;     // u8
constexpr std::size_t kIpMode = 207;          // u8, 1 = fixed address
constexpr std::size_t kCardRole = 209;        // u8
constexpr std::size_t kFoldRows = 210;        // u8
constexpr std::size_t kSerial = 211;          // char[40]
constexpr std::size_t kSerialSize = 40;
constexpr std::size_t kCardAddress = 251;     // u8[4]
constexpr std::size_t kFixedNetwork = 255;    // u8, 85 = use mask, gateway, DNS
constexpr std::size_t kSubnetMask = 256;      // u8[4]
constexpr std::size_t kGateway = 260;         // u8[4]
constexpr std::size_t kDns = 264;             // u8[4]
constexpr std::size_t kCardPort = 278;        // u16
constexpr std::size_t kServerAddress = 292;   // u8[4]
constexpr std::size_t kStopBits = 296;        // u8
constexpr std::size_t kParity = 297;          // u8
constexpr std::size_t kDataBits = 298;        // u8
constexpr std::size_t kVoiceSwitch = 299;     // u8
constexpr std::size_t kServerPort = 317;      // u16
constexpr std::size_t kChecksum = 333;        // u32, CRC-32 of bytes 0..255
constexpr std::size_t kChecksumSpan = 256;
constexpr std::size_t kModbusTable = 338;     // 30 x 19 bytes
constexpr std::size_t kModbusEntries = 30;
constexpr std::size_t kModbusEntrySize = 19;
static_assert(kModbusTable + kModbusEntries * kModbusEntrySize == kSize);

// Firmware major version gates.
constexpr int kChecksumFromMajor = 17;
constexpr int kLockOnFromMajor = 17;
constexpr int kPolarityFieldsFromMajor = 36;
constexpr int kPacedUploadsAboveMajor = 38;

// A search reply must at least reach the end of the checksum to be judged.
constexpr std::size_t kMinSearchReply = kChecksum + 4;
}  // namespace rec

class DeviceStatusRecord {
 public:
  DeviceStatusRecord() { bytes_.fill(0); }

  std::uint8_t u8(std::size_t off) const { return bytes_.at(off); }
  std::uint16_t u16(std::size_t off) const {
    return static_cast<std::uint16_t>(bytes_.at(off) | (bytes_.at(off + 1) << 8));
  }
  std::uint32_t u32(std::size_t off) const {
    return static_cast<std::uint32_t>(u16(off)) | (static_cast<std::uint32_t>(u16(off + 2)) << 16);
  }
  void setU8(std::size_t off, std::uint8_t v) { bytes_.at(off) = v; }
  void setU16(std::size_t off, std::uint16_t v) {
    bytes_.at(off) = static_cast<std::uint8_t>(v & 0xFF);
    bytes_.at(off + 1) = static_cast<std::uint8_t>(v >> 8);
  }
  void setU32(std::size_t off, std::uint32_t v) {
    setU16(off, static_cast<std::uint16_t>(v & 0xFFFF));
    setU16(off + 2, static_cast<std::uint16_t>(v >> 16));
  }

  const std::uint8_t* data() const { return bytes_.data(); }
  std::uint8_t* data() { return bytes_.data(); }
  static constexpr std::size_t size() { return rec::kSize; }
  bool operator==(const DeviceStatusRecord&) const = default;

  int firmwareMajor() const { return u16(rec::kFirmware); }

  // CRC-32 of bytes 0..255, the value announced with "set Sys_Crc".
  std::uint32_t computeChecksum() const;
  // Recomputes the checksum and stores it at offset 333; returns it.
  std::uint32_t updateChecksum();

  // The serial number bytes at 211 up to their terminator, never past the
  // 40-byte field (raw GBK bytes).
  std::string serialBytes() const;
  // Writes text into the serial field, zero-filling the rest of the 40 bytes.
  void setSerialBytes(const std::string& bytes);

 private:
  std::array<std::uint8_t, rec::kSize> bytes_;
};

// Position in a reply where the record starts: the first of reply positions
// 1..27 that holds 0x80, 0x81 or 0x88 (the high byte of the code word), minus
// one. Only bytes that arrived are looked at.
std::optional<std::size_t> LocateRecord(const std::uint8_t* reply, std::size_t received);

// 908 bytes from start on; bytes that did not arrive count as 0.
DeviceStatusRecord CopyRecord(const std::uint8_t* reply, std::size_t received, std::size_t start);

// (code word AND 0xF000) equals 0x8000.
bool CheckRecord(const DeviceStatusRecord& r);

// Whether the checksum is tested at all (firmware major 17 or more).
bool ChecksumTested(const DeviceStatusRecord& r);
// True when the stored checksum matches, or when the record is too old to be tested.
bool VerifyChecksum(const DeviceStatusRecord& r);
// Polarity comes from offsets 24/25 instead of the code-word bits (major 36 or more).
bool PolarityFromFields(const DeviceStatusRecord& r);
// Long program uploads go in acknowledged pieces (major above 38).
bool PacesUploads(int firmwareMajor);
inline bool PacesUploads(const DeviceStatusRecord& r) { return PacesUploads(r.firmwareMajor()); }
// "set Store_lock on" is understood from major 17 on; "off" by every card.
bool LockCanBeSwitchedOn(const DeviceStatusRecord& r);

// The serial is the card's name in the list and goes into broadcast query
// lines: blanks and control characters in it would cut or extend the line.
bool SerialIsPlain(const DeviceStatusRecord& r);

// Whether a search datagram of received bytes describes a card: long enough
// to hold the checksum, a valid code word, the checksum right where the
// firmware keeps one, and a plain serial. Anything else never becomes a row.
bool IsCardReply(const std::uint8_t* reply, std::size_t received);

// Display texts of the device list.
std::string MacText(const DeviceStatusRecord& r);       // "%02X-%02X-%02X-%02X-%02X-%02X" of the six words
std::string AddressText(const DeviceStatusRecord& r);   // card address "%d.%d.%d.%d"
std::string FirmwareText(const DeviceStatusRecord& r);  // "%d.%d.%d"
std::string SerialText(const DeviceStatusRecord& r);    // serial as UTF-8 (converted from GBK)
std::string Ipv4Text(const DeviceStatusRecord& r, std::size_t off);

}  // namespace card
