// The tool's record layout, record checks and line builders against the
// hand-written vectors: the tool's own constants are never their own oracle.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <utility>
#include <vector>

#include "link/command_channel.h"
#include "platform/crc32.h"
#include "link/record.h"
#include "vectors/record_vectors.h"

namespace {

namespace rec = card::rec;

card::DeviceStatusRecord Golden() {
  auto bytes = vectors::GoldenRecord();
  return card::CopyRecord(bytes.data(), bytes.size(), 0);
}

std::uint32_t Read(const card::DeviceStatusRecord& r, std::size_t at, int width) {
  switch (width) {
    case 1: return r.u8(at);
    case 2: return r.u16(at);
    default: return r.u32(at);
  }
}

TEST(RecordVectors, EveryOffsetConstantMatchesTheTableAndReadsTheGoldenValue) {
  const std::vector<std::pair<const char*, std::size_t>> tool = {
      {"code word", rec::kCodeWord}, {"width", rec::kWidth}, {"height", rec::kHeight},
      {"blue switch", rec::kBlueSwitch}, {"script start", rec::kScriptStart}, {"width copy", rec::kWidthCopy},
      {"driver constant", rec::kDriverConstant}, {"display mode", rec::kDisplayMode},
      {"double-sided", rec::kDoubleSided}, {"development number", rec::kDevelopmentNo},
      {"factory byte", rec::kFactoryByte}, {"X split line", rec::kSplitX}, {"Y split line", rec::kSplitY},
      {"U-shaped fold", rec::kUFold}, {"row/column conversion", rec::kRowColConversion}, {"DZ fold", rec::kDzFold},
      {"data polarity", rec::kDataPolarity}, {"OE polarity", rec::kOePolarity}, {"baud rate", rec::kBaudRate},
      {"platform status", rec::kPlatformStatus}, {"refresh rate", rec::kRefreshRate}, {"lock", rec::kLock},
      {"snake direction", rec::kSnakeDirection}, {"brightness", rec::kBrightness},
      {"Modbus address", rec::kModbusAddress}, {"MAC", rec::kMac}, {"internal code", rec::kInternalCode},
      {"RS-485 heartbeat flag", rec::kRs485HeartbeatFlag}, {"RS-485 heartbeat interval", rec::kRs485HeartbeatInterval},
      {"server heartbeat flag", rec::kServerHeartbeatFlag}, {"server heartbeat interval", rec::kServerHeartbeatInterval},
      {"Modbus storage", rec::kModbusStorage}, {"start-up delay flag", rec::kStartDelayFlag},
      {"start-up delay", rec::kStartDelay}, {"counter direction", rec::kCounterDirection},
      {"counter start values", rec::kCounterStart}, {"daily restart", rec::kDailyRestart},
      {"restart hour", rec::kRestartHour}, {"restart minute", rec::kRestartMinute},
      {"restart second", rec::kRestartSecond}, {"firmware version", rec::kFirmware},
      {"RS-485 mode", rec::kRs485Mode}, {"module width", rec::kModuleWidth}, {"service type", rec::kServiceType},
      {"module height", rec::kModuleHeight}, {"server connection", rec::kServerEnable}, {"scan", rec::kScan},
      {"fold width", rec::kFoldWidth}, {"row-scan chip", rec::kRowScanChip}, {"IP mode", rec::kIpMode},
      {"card role", rec::kCardRole}, {"fold rows", rec::kFoldRows}, {"serial number", rec::kSerial},
      {"card address", rec::kCardAddress}, {"fixed network settings", rec::kFixedNetwork},
      {"subnet mask", rec::kSubnetMask}, {"gateway", rec::kGateway}, {"DNS server", rec::kDns},
      {"card port", rec::kCardPort}, {"server address", rec::kServerAddress}, {"stop bits", rec::kStopBits},
      {"parity", rec::kParity}, {"data bits", rec::kDataBits}, {"voice switch", rec::kVoiceSwitch},
      {"server port", rec::kServerPort}, {"checksum", rec::kChecksum}, {"Modbus request table", rec::kModbusTable},
  };
  ASSERT_EQ(tool.size(), std::size(vectors::kFields)) << "every field of the table is pinned";
  const auto golden = Golden();
  for (const auto& [name, offset] : tool) {
    const auto& v = vectors::FieldNamed(name);
    EXPECT_EQ(offset, v.offset) << name;
    EXPECT_EQ(Read(golden, offset, v.width <= 4 ? v.width : 1), v.golden) << name;
  }
  EXPECT_EQ(rec::kSize, vectors::kRecordSize);
  EXPECT_EQ(rec::kSerialSize, 40u);
  EXPECT_EQ(rec::kModbusEntries, 30u);
  EXPECT_EQ(rec::kModbusEntrySize, 19u);
  EXPECT_EQ(rec::kChecksumSpan, 256u);
  // Whole arrays and texts of the golden record through the tool's helpers.
  EXPECT_EQ(card::MacText(golden), "02-4B-58-10-20-1FF");
  EXPECT_EQ(card::AddressText(golden), "127.0.0.10");
  EXPECT_EQ(card::FirmwareText(golden), "39.2.1");
  EXPECT_EQ(golden.serialBytes(), vectors::kGoldenSerial);
  EXPECT_EQ(card::Ipv4Text(golden, rec::kServerAddress), "10.1.2.30");
  EXPECT_EQ(golden.firmwareMajor(), 39);
}

TEST(RecordVectors, ChecksGateAndLocateTheGoldenRecord) {
  const auto bytes = vectors::GoldenRecord();
  auto golden = Golden();
  EXPECT_TRUE(card::CheckRecord(golden));
  EXPECT_TRUE(card::VerifyChecksum(golden));
  EXPECT_EQ(golden.computeChecksum(), vectors::FieldNamed("checksum").golden);
  EXPECT_EQ(crc32(0, bytes.data(), 256), vectors::FieldNamed("checksum").golden) << "the vector itself is sound";
  EXPECT_EQ(card::Crc32("abc"), vectors::kCrcOfAbc);

  auto tail = golden;
  tail.setU8(vectors::kRecordSize - 1, 0x5A);  // outside the checked bytes
  EXPECT_TRUE(card::VerifyChecksum(tail));
  auto last = golden;
  last.setU8(255, 0x5A);
  EXPECT_FALSE(card::VerifyChecksum(last));
  last.setU16(vectors::FieldNamed("firmware version").offset, 16);  // too old to be tested
  EXPECT_TRUE(card::VerifyChecksum(last));
  EXPECT_FALSE(card::PolarityFromFields(last));
  EXPECT_TRUE(card::PolarityFromFields(golden));
  auto invalid = golden;
  invalid.setU16(0, 0x7111);
  EXPECT_FALSE(card::CheckRecord(invalid));

  // A reply with one stray byte in front: the marker 0x81 sits at position 2.
  std::vector<std::uint8_t> reply = {0x00};
  reply.insert(reply.end(), bytes.begin(), bytes.end());
  auto at = card::LocateRecord(reply.data(), reply.size());
  ASSERT_EQ(at, 1u);
  EXPECT_EQ(card::CopyRecord(reply.data(), reply.size(), *at), golden);
}

TEST(RecordVectors, LinesAndPacingFollowTheProtocol) {
  EXPECT_EQ(card::ReadRawLine(vectors::flash::kScript, 4096), vectors::line::kScriptRead);
  EXPECT_EQ(card::ReadRawLine(vectors::flash::kPrograms, vectors::flash::kDirectorySize),
            vectors::line::kProgramDirectory);
  EXPECT_EQ(card::ReadRawLine(vectors::flash::kPictures + 143 * 4096, 4096), vectors::line::kPictureLast);
  EXPECT_EQ(vectors::line::kProgramAbc.size(), 28u);
  EXPECT_EQ(vectors::line::kFileEnd.size(), 8u);
  for (const auto& p : vectors::kPaced)
    EXPECT_EQ(card::ShouldSendPaced(p.bytes, p.major), p.acks > 0) << p.bytes << " bytes, major " << p.major;
}

}  // namespace
