// The virtual card against the hand-written vectors: its record layout, what
// the quoted set lines do to the golden record, and its answers to the
// quoted lines. Nothing here comes from the tool.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <utility>
#include <vector>

#include "card.h"
#include "support/temp_dir.h"
#include "vectors/record_vectors.h"

namespace {

namespace field = sim::field;

sim::CardRecord Golden() {
  auto bytes = vectors::GoldenRecord();
  sim::CardRecord r;
  EXPECT_TRUE(r.assign(std::string(bytes.begin(), bytes.end())));
  return r;
}

std::uint32_t Read(const sim::CardRecord& r, std::size_t at, int width) {
  return width == 1 ? r.u8(at) : width == 2 ? r.u16(at) : r.u32(at);
}

// Feeds bytes to a card the way a connection does and collects the replies.
struct Wire {
  explicit Wire(sim::Card& c) : card(c) {}
  sim::Card& card;
  sim::Session session;
  std::string replies;
  sim::CommandStream stream{[this](sim::Command&& c) {
    for (auto& r : card.Execute(c, session, 0)) replies += r.bytes;
  }};
  std::string Send(std::string_view bytes) {
    replies.clear();
    stream.Feed(bytes);
    return replies;
  }
};

TEST(SimVectors, TheCardKeepsEveryFieldWhereTheTableSays) {
  namespace q = sim::request;
  const std::vector<std::pair<const char*, std::size_t>> card = {
      {"code word", field::kDisplayCode}, {"width", field::kScreenWidth}, {"height", field::kScreenHeight},
      {"blue switch", field::kBlueOff}, {"script start", field::kScriptOn}, {"width copy", field::kHardWidth},
      {"driver constant", field::kDriverFixed}, {"display mode", field::kDisplayMode},
      {"double-sided", field::kTwoFaced}, {"development number", field::kDevNumber},
      {"factory byte", field::kFactoryFlag}, {"X split line", field::kSplitLineX}, {"Y split line", field::kSplitLineY},
      {"U-shaped fold", field::kUFold}, {"row/column conversion", field::kRowColumnSwap}, {"DZ fold", field::kDzFold},
      {"data polarity", field::kDataLevel}, {"OE polarity", field::kOeLevel}, {"baud rate", field::kBaud},
      {"platform status", field::kCloudLink}, {"refresh rate", field::kRefresh}, {"lock", field::kStoreLock},
      {"snake direction", field::kSnake}, {"brightness", field::kBrightness},
      {"Modbus address", field::kModbusSlave}, {"MAC", field::kMacWords},
      {"RS-485 heartbeat flag", field::kRs485Watch}, {"RS-485 heartbeat interval", field::kRs485WatchSeconds},
      {"server heartbeat flag", field::kServerBeat}, {"server heartbeat interval", field::kServerBeatPeriod},
      {"Modbus storage", field::kModbusLoad}, {"start-up delay flag", field::kStartDelayOn},
      {"start-up delay", field::kStartDelaySeconds}, {"counter direction", field::kCountDown},
      {"counter start values", field::kDayCounters}, {"daily restart", field::kDailyReset},
      {"restart hour", field::kDailyResetHour}, {"restart minute", field::kDailyResetMinute},
      {"restart second", field::kDailyResetSecond}, {"firmware version", field::kVersion},
      {"RS-485 mode", field::kRs485Mode}, {"module width", field::kModuleWidth}, {"service type", field::kServiceKind},
      {"module height", field::kModuleHeight}, {"server connection", field::kServerOn}, {"scan", field::kScanGroups},
      {"fold width", field::kFoldWidth}, {"row-scan chip", field::kRowChip}, {"IP mode", field::kFixedAddress},
      {"card role", field::kRole}, {"fold rows", field::kFoldRows}, {"serial number", field::kName},
      {"card address", field::kIp}, {"fixed network settings", field::kUseNetSettings},
      {"subnet mask", field::kNetmask}, {"gateway", field::kGatewayIp}, {"DNS server", field::kDnsIp},
      {"card port", field::kLocalPort}, {"server address", field::kServerIp}, {"stop bits", field::kStopBitsIndex},
      {"parity", field::kParityIndex}, {"data bits", field::kDataBitsIndex}, {"voice switch", field::kVoiceOn},
      {"server port", field::kServerTcpPort}, {"checksum", field::kCrc}, {"Modbus request table", field::kRequests},
  };
  // The internal code is only shown by the tool; the card has no use for it.
  ASSERT_EQ(card.size() + 1, std::size(vectors::kFields));
  const auto golden = Golden();
  for (const auto& [name, offset] : card) {
    const auto& v = vectors::FieldNamed(name);
    EXPECT_EQ(offset, v.offset) << name;
    EXPECT_EQ(Read(golden, offset, v.width <= 4 ? v.width : 1), v.golden) << name;
  }
  const std::vector<std::pair<const char*, std::size_t>> request = {
      {"function code", q::kFunction}, {"slave address", q::kSlave}, {"register address", q::kRegister},
      {"request count", q::kCount}, {"divisor", q::kDivisor}, {"multiplier", q::kMultiplier},
      {"master storage", q::kMasterSlot}, {"calibration plus", q::kCalPlus}, {"calibration minus", q::kCalMinus},
      {"delay", q::kDelayMs}, {"upper limit", q::kUpper}, {"lower limit", q::kLower},
  };
  ASSERT_EQ(request.size(), std::size(vectors::kRequestFields));
  for (std::size_t i = 0; i < request.size(); ++i) EXPECT_EQ(request[i].second, vectors::kRequestFields[i].offset);
  EXPECT_EQ(field::kBlockSize, vectors::kRecordSize);
  EXPECT_EQ(golden.crc(), vectors::FieldNamed("checksum").golden);
  EXPECT_EQ(golden.name(), vectors::kGoldenSerial);
  EXPECT_EQ(golden.ip(), 0x7F00000Au);
  EXPECT_EQ(golden.macText(), "02-4B-58-10-20-1FF");
  EXPECT_EQ(golden.versionText(), "39.2.1");
}

TEST(SimVectors, QuotedSetLinesChangeTheirFieldsAndResealTheRecord) {
  for (const auto& e : vectors::kSetEffects) {
    sim::CardRecord r = Golden();
    std::vector<sim::Command> lines;
    sim::CommandStream stream([&](sim::Command&& c) { lines.push_back(std::move(c)); });
    stream.Feed(e.line);
    stream.Finish();
    for (const auto& c : lines) EXPECT_TRUE(sim::ApplySetLine(r, c.words).known) << e.line;
    EXPECT_EQ(Read(r, e.offset, e.width), e.value) << e.line << " at " << e.offset;
    EXPECT_EQ(r.u32(field::kCrc), crc32(0, r.data(), 256)) << e.line;
  }
}

TEST(SimVectors, TheCardAnswersTheQuotedLines) {
  testing_support::TempDir dir;
  const auto golden = vectors::GoldenRecord();
  testing_support::WriteFile(dir.file("record.bin"), std::string(golden.begin(), golden.end()));
  sim::Card card(0, 0x7F00000A, sim::CardOptions{}, dir.path());
  Wire wire(card);

  std::string record = wire.Send(vectors::line::kQueryTcp);
  EXPECT_EQ(record, std::string(golden.begin(), golden.end()));
  EXPECT_EQ(wire.Send(vectors::line::kSearch), record);

  wire.Send(vectors::line::kProgramAbc);
  std::string dirBytes = wire.Send(vectors::line::kProgramDirectory);
  ASSERT_EQ(dirBytes.size(), vectors::flash::kDirectorySize);
  auto u32 = [&](std::uint32_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<std::uint8_t>(dirBytes[at + static_cast<std::uint32_t>(i)]);
    return v;
  };
  EXPECT_GE(u32(0), 1u) << "the directory counts a program";
  EXPECT_NE(u32(vectors::flash::DirInUse(0)), 0u);
  EXPECT_EQ(u32(vectors::flash::DirLength(0)), 3u);
  const std::uint32_t at = u32(vectors::flash::DirAddress(0));
  EXPECT_GE(at, vectors::flash::kPrograms);
  EXPECT_LT(at, vectors::flash::kPrograms + vectors::flash::kProgramsSize);
  EXPECT_EQ(card.flash().Read(at, 3), "abc");

  wire.Send(vectors::line::kTextAbc);
  EXPECT_EQ(card.counters().textsStored, 1);
  EXPECT_EQ(wire.Send(vectors::line::kScriptRead).size(), vectors::flash::kScriptSize);
  EXPECT_EQ(wire.Send(vectors::line::kModbusPage64).size(), 128u);
  wire.Send(std::string(vectors::line::kModbusWrite) + std::string(vectors::line::kModbusWriteBytes));
  EXPECT_EQ(card.registers().at(9), 0x0000);
  EXPECT_EQ(card.registers().at(10), 0xC03F);
  EXPECT_EQ(card.counters().unknownLines, 0);

  for (auto reset : {vectors::line::kReset, vectors::line::kResetForUpgrade}) {
    card.ClearRestart();
    wire.Send(reset);
    EXPECT_TRUE(card.restartDue().has_value()) << reset;
  }

  for (const auto& p : vectors::kPaced)
    EXPECT_EQ(sim::PacedAcksDue(p.bytes, p.bytes, p.major), p.acks) << p.bytes << " bytes, major " << p.major;
  EXPECT_EQ(sim::kFlashSize, vectors::flash::kSize);
  EXPECT_EQ(sim::kProgramDirectory, vectors::flash::kPrograms);
  EXPECT_EQ(sim::kProgramRegionEnd, vectors::flash::kPrograms + vectors::flash::kProgramsSize);
  EXPECT_EQ(sim::kScriptRegion, vectors::flash::kScript);
  EXPECT_EQ(sim::kScriptSize, vectors::flash::kScriptSize);
}

}  // namespace
