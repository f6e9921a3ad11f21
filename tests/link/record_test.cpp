#include "link/record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/crc32.h"

using card::DeviceStatusRecord;
namespace rec = card::rec;

namespace {

DeviceStatusRecord SampleRecord(int firmwareMajor) {
  DeviceStatusRecord r;
  r.setU16(rec::kCodeWord, 0x8111);
  r.setU16(rec::kWidth, 128);
  r.setU16(rec::kFirmware, static_cast<std::uint16_t>(firmwareMajor));
  r.setU16(rec::kFirmware + 2, 2);
  r.setU16(rec::kFirmware + 4, 15);
  const std::uint8_t mac[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0xFE};
  for (int i = 0; i < 6; ++i) r.setU16(rec::kMac + 2 * i, mac[i]);
  const std::uint8_t ip[4] = {192, 168, 1, 77};
  for (int i = 0; i < 4; ++i) r.setU8(rec::kCardAddress + i, ip[i]);
  r.setSerialBytes("202312345678901234567890");
  r.updateChecksum();
  return r;
}

}  // namespace

TEST(Record, LittleEndianAccessorsAtOddOffsets) {
  DeviceStatusRecord r;
  r.setU16(rec::kModbusAddress, 0xABCD);  // offset 37
  EXPECT_EQ(r.data()[37], 0xCD);
  EXPECT_EQ(r.data()[38], 0xAB);
  EXPECT_EQ(r.u16(rec::kModbusAddress), 0xABCD);
  r.setU32(rec::kChecksum, 0x11223344);  // offset 333
  EXPECT_EQ(r.data()[333], 0x44);
  EXPECT_EQ(r.data()[336], 0x11);
  EXPECT_EQ(r.u32(rec::kChecksum), 0x11223344u);
  EXPECT_THROW(r.u16(rec::kSize - 1), std::out_of_range);
}

TEST(Record, ChecksumCoversTheFirst256BytesOnly) {
  DeviceStatusRecord r = SampleRecord(20);
  EXPECT_EQ(r.u32(rec::kChecksum), card::Crc32(r.data(), 256));
  EXPECT_TRUE(card::VerifyChecksum(r));
  r.setU8(300, 9);  // outside the checked span
  EXPECT_TRUE(card::VerifyChecksum(r));
  r.setU8(255, 1);
  EXPECT_FALSE(card::VerifyChecksum(r));
}

TEST(Record, FirmwareGates) {
  DeviceStatusRecord old = SampleRecord(16);
  old.setU8(2, 99);  // checksum now wrong, but version 16 is never tested
  EXPECT_FALSE(card::ChecksumTested(old));
  EXPECT_TRUE(card::VerifyChecksum(old));
  DeviceStatusRecord v17 = SampleRecord(17);
  v17.setU8(2, 99);
  EXPECT_TRUE(card::ChecksumTested(v17));
  EXPECT_FALSE(card::VerifyChecksum(v17));
  EXPECT_FALSE(card::PolarityFromFields(SampleRecord(35)));
  EXPECT_TRUE(card::PolarityFromFields(SampleRecord(36)));
  EXPECT_FALSE(card::PacesUploads(SampleRecord(38)));
  EXPECT_TRUE(card::PacesUploads(SampleRecord(39)));
}

TEST(Record, CheckRecordLooksAtTheTopNibble) {
  DeviceStatusRecord r;
  for (std::uint16_t code : {0x8000, 0x8100, 0x88FF, 0x8FFF}) {
    r.setU16(rec::kCodeWord, code);
    EXPECT_TRUE(card::CheckRecord(r)) << std::hex << code;
  }
  for (std::uint16_t code : {0x0000, 0x7FFF, 0x9000, 0xC800}) {
    r.setU16(rec::kCodeWord, code);
    EXPECT_FALSE(card::CheckRecord(r)) << std::hex << code;
  }
}

TEST(Record, LocateFindsTheMarkerInPositionsOneToTwentySeven) {
  DeviceStatusRecord r = SampleRecord(20);
  std::vector<std::uint8_t> reply(r.data(), r.data() + rec::kSize);
  ASSERT_EQ(card::LocateRecord(reply.data(), reply.size()), 0u);

  // One stray byte before the record: the marker sits at position 2.
  std::vector<std::uint8_t> stray = {0x0A};
  stray.insert(stray.end(), reply.begin(), reply.end());
  auto at = card::LocateRecord(stray.data(), stray.size());
  ASSERT_EQ(at, 1u);
  EXPECT_EQ(card::CopyRecord(stray.data(), stray.size(), *at), r);

  // A marker at position 0 does not count; neither does one after 27.
  std::vector<std::uint8_t> early(40, 0);
  early[0] = 0x80;
  EXPECT_FALSE(card::LocateRecord(early.data(), early.size()));
  std::vector<std::uint8_t> late(40, 0);
  late[28] = 0x81;
  EXPECT_FALSE(card::LocateRecord(late.data(), late.size()));
  late[27] = 0x88;
  EXPECT_EQ(card::LocateRecord(late.data(), late.size()), 26u);

  // Bytes that did not arrive are never looked at.
  std::vector<std::uint8_t> buffer(8192, 0);
  buffer[5] = 0x80;
  EXPECT_FALSE(card::LocateRecord(buffer.data(), 5));
  EXPECT_EQ(card::LocateRecord(buffer.data(), 6), 4u);
  EXPECT_FALSE(card::LocateRecord(nullptr, 100));
}

TEST(Record, ShortRepliesCopyOnlyWhatArrived) {
  // A marker at position 27 of a 30-byte reply: 4 bytes of record, the rest zero.
  std::vector<std::uint8_t> reply(30, 0x11);
  reply[27] = 0x80;
  auto at = card::LocateRecord(reply.data(), reply.size());
  ASSERT_EQ(at, 26u);
  DeviceStatusRecord r = card::CopyRecord(reply.data(), reply.size(), *at);
  EXPECT_EQ(r.u16(0), 0x8011);
  EXPECT_EQ(r.u16(2), 0x1111);
  for (std::size_t i = 4; i < rec::kSize; ++i) ASSERT_EQ(r.u8(i), 0) << i;
  DeviceStatusRecord none = card::CopyRecord(reply.data(), reply.size(), 40);
  EXPECT_EQ(none, DeviceStatusRecord());
}

TEST(Record, DeviceListTexts) {
  DeviceStatusRecord r = SampleRecord(20);
  EXPECT_EQ(card::MacText(r), "00-1A-2B-3C-4D-FE");
  EXPECT_EQ(card::AddressText(r), "192.168.1.77");
  EXPECT_EQ(card::FirmwareText(r), "20.2.15");
  EXPECT_EQ(card::SerialText(r), "202312345678901234567890");
  // A MAC word above 0xFF is printed in full.
  r.setU16(rec::kMac + 10, 0x1FF);
  EXPECT_EQ(card::MacText(r), "00-1A-2B-3C-4D-1FF");
}

TEST(Record, SerialWithoutTerminatorStopsAtItsFortyBytes) {
  DeviceStatusRecord r;
  std::memset(r.data() + rec::kSerial, 'A', rec::kSerialSize);
  r.setU8(rec::kCardAddress, 'B');  // the byte right after the field
  EXPECT_EQ(card::SerialText(r), std::string(40, 'A'));
  // GBK text is shown as UTF-8.
  r.setSerialBytes("\xB2\xE2\xCA\xD4");
  EXPECT_EQ(card::SerialText(r), "测试");
}
