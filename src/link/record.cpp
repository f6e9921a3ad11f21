#include "link/record.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/crc32.h"
#include "platform/codec.h"

namespace card {

std::uint32_t DeviceStatusRecord::computeChecksum() const {
  return Crc32(bytes_.data(), rec::kChecksumSpan);
}

std::uint32_t DeviceStatusRecord::updateChecksum() {
  std::uint32_t c = computeChecksum();
  setU32(rec::kChecksum, c);
  return c;
}

std::string DeviceStatusRecord::serialBytes() const {
  const auto* p = reinterpret_cast<const char*>(bytes_.data() + rec::kSerial);
  std::size_t n = 0;
  while (n < rec::kSerialSize && p[n] != '\0') ++n;
  return std::string(p, n);
}

void DeviceStatusRecord::setSerialBytes(const std::string& bytes) {
  std::uint8_t* p = bytes_.data() + rec::kSerial;
  std::memset(p, 0, rec::kSerialSize);
  std::memcpy(p, bytes.data(), std::min(bytes.size(), rec::kSerialSize));
}

std::optional<std::size_t> LocateRecord(const std::uint8_t* reply, std::size_t received) {
  if (!reply) return std::nullopt;
  for (std::size_t pos = 1; pos <= 27 && pos < received; ++pos) {
    std::uint8_t b = reply[pos];
    if (b == 0x80 || b == 0x81 || b == 0x88) return pos - 1;
  }
  return std::nullopt;
}

DeviceStatusRecord CopyRecord(const std::uint8_t* reply, std::size_t received, std::size_t start) {
  DeviceStatusRecord r;
  if (reply && start < received)
    std::memcpy(r.data(), reply + start, std::min(rec::kSize, received - start));
  return r;
}

bool CheckRecord(const DeviceStatusRecord& r) { return (r.u16(rec::kCodeWord) & 0xF000) == 0x8000; }

bool ChecksumTested(const DeviceStatusRecord& r) { return r.firmwareMajor() >= rec::kChecksumFromMajor; }

bool VerifyChecksum(const DeviceStatusRecord& r) {
  if (!ChecksumTested(r)) return true;
  return r.computeChecksum() == r.u32(rec::kChecksum);
}

bool PolarityFromFields(const DeviceStatusRecord& r) {
  return r.firmwareMajor() >= rec::kPolarityFieldsFromMajor;
}

bool PacesUploads(int firmwareMajor) { return firmwareMajor > rec::kPacedUploadsAboveMajor; }

bool LockCanBeSwitchedOn(const DeviceStatusRecord& r) { return r.firmwareMajor() >= rec::kLockOnFromMajor; }

bool SerialIsPlain(const DeviceStatusRecord& r) {
  for (unsigned char c : r.serialBytes())
    if (c <= 0x20 || c == 0x7F) return false;
  return true;
}

bool IsCardReply(const std::uint8_t* reply, std::size_t received) {
  if (!reply || received < rec::kMinSearchReply) return false;
  const DeviceStatusRecord r = CopyRecord(reply, received, 0);
  return CheckRecord(r) && VerifyChecksum(r) && SerialIsPlain(r);
}

std::string MacText(const DeviceStatusRecord& r) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%02X-%02X-%02X-%02X-%02X-%02X", r.u16(rec::kMac), r.u16(rec::kMac + 2),
                r.u16(rec::kMac + 4), r.u16(rec::kMac + 6), r.u16(rec::kMac + 8), r.u16(rec::kMac + 10));
  return buf;
}

std::string Ipv4Text(const DeviceStatusRecord& r, std::size_t off) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d.%d.%d.%d", r.u8(off), r.u8(off + 1), r.u8(off + 2), r.u8(off + 3));
  return buf;
}

std::string AddressText(const DeviceStatusRecord& r) { return Ipv4Text(r, rec::kCardAddress); }

std::string FirmwareText(const DeviceStatusRecord& r) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d.%d.%d", r.u16(rec::kFirmware), r.u16(rec::kFirmware + 2),
                r.u16(rec::kFirmware + 4));
  return buf;
}

std::string SerialText(const DeviceStatusRecord& r) { return platform::GbkToUtf8(r.serialBytes()); }

}  // namespace card
