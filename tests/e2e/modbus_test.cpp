// The Modbus tools over the real driver against virtual cards: the master
// request table, the register view and the RS-485 monitor.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "e2e/fixture.h"
#include "link/command_channel.h"
#include "modbus/master_table.h"
#include "modbus/monitor.h"
#include "modbus/register_view.h"
#include "platform/text.h"
#include "support/fake_ports.h"
#include "support/temp_dir.h"

namespace e2e {
namespace {

namespace mb = card::modbus;
namespace rec = card::rec;
using testing_support::ReadFile;

class ModbusTest : public CardSimTest {
 protected:
  // The card's register image as it keeps it.
  std::vector<std::uint16_t> Registers(int cardIndex) {
    const std::string b = ReadFile(StateFile(cardIndex, "registers.bin"));
    std::vector<std::uint16_t> out(b.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i)
      out[i] = static_cast<std::uint16_t>(static_cast<std::uint8_t>(b[2 * i]) | static_cast<std::uint8_t>(b[2 * i + 1]) << 8);
    return out;
  }

  platform::VirtualClock stamps_;
  testing_support::FakeUser user_{&stamps_};
  testing_support::FakeProgress progress_;
};

std::string TableBytes(const card::DeviceStatusRecord& r) {
  return std::string(reinterpret_cast<const char*>(r.data()) + rec::kModbusTable, rec::kSize - rec::kModbusTable);
}

}  // namespace

TEST_F(ModbusTest, ATableWithGapsCode15AndLateEntriesIsOpenedStoredAndUploaded) {
  StartSim();
  {
    // The card's table: gaps, a code the card polls but does not take by
    // C_DD (15), one it does not know (7), and entries past 20.
    auto link = Connected(kCard0, card::kCommandPort);
    for (const char* line : {"set C_DD 0 3 1 0 2 1 0 0 1 1 20 1000 -100\n", "set C_DD 3 15 2 0 8 1 0 0 5 1 30 0 0\n",
                             "set C_DD 7 16 3 100 2 1 0 0 9 1 40 500 -5\n", "set C_DD 12 0 0 0 0 0 0 0 0 0 0 0 0\n",
                             "set C_DD 24 4 4 10 1 10 1 2 20 3 50 100 -1\n", "set C_DD 27 7 5 0 1 1 0 0 30 1 20 0 0\n"})
      card::SendLine(*link, line);
    ASSERT_TRUE(Eventually([&] { return mb::ReadEntry(StoredRecord(0), 27).function == 7; }));
  }
  auto command = Connected(kCard0, card::kCommandPort);
  card::DeviceStatusRecord working = QueryRecord(*command);
  command->Disconnect();
  ASSERT_EQ(TableBytes(working), TableBytes(StoredRecord(0)));

  // Opened: row i is entry i, every request shown.
  mb::TableTexts rows = mb::ToRows(mb::ToRecords(mb::ReadEntries(working)));
  for (std::size_t i : {0u, 3u, 7u, 24u, 27u}) EXPECT_FALSE(rows[i][2].empty()) << i;
  EXPECT_EQ(rows[7][11], "-5");
  EXPECT_EQ(rows[12], mb::RowTexts{});
  // Edited and stored: one request changed, one deleted, one added.
  rows[7][3] = "6";
  rows[0] = mb::RowTexts{};
  rows[15] = {"9", "200", "4", "3", "1", "1", "0", "0", "40", "20", "0", "0"};
  const auto parse = mb::ParseRows(rows, mb::NormalHeaders());
  ASSERT_TRUE(parse.ok());
  const mb::EntryTable table = mb::ToEntries(parse.records);
  EXPECT_EQ(mb::UnsentRequests(table).size(), 2u);  // row 4 (15) and rows 25, 28

  auto upload = Link(card::kCommandPort);
  ASSERT_TRUE(mb::UploadTable(*upload, fast_, user_, progress_, kCard0, table, &working));
  EXPECT_TRUE(user_.shown().empty());
  // The card's table, byte for byte, is the WorkingRecord's.
  ASSERT_TRUE(Eventually([&] { return mb::ReadEntry(StoredRecord(0), 15).slave == 9; }));
  EXPECT_EQ(TableBytes(StoredRecord(0)), TableBytes(working));
  EXPECT_EQ(mb::ReadEntry(working, 7).count, 6);
  EXPECT_EQ(mb::ReadEntry(working, 0), mb::RequestEntry::Empty());
  EXPECT_EQ(mb::ReadEntry(working, 3).function, 15);
  EXPECT_EQ(mb::ReadEntry(working, 24).lower, -1);
  // 19 lines: every entry below 20 but the one with code 15.
  const std::string sent = Received(kCard0, card::kCommandPort);
  std::size_t lines = 0;
  for (std::size_t at = sent.find("set C_DD "); at != std::string::npos; at = sent.find("set C_DD ", at + 1)) ++lines;
  EXPECT_EQ(lines, 6u + 19u);
}

TEST_F(ModbusTest, RowsPastTheTwentiethAndACodeTheCardDoesNotTakeSurviveStoreAndReopen) {
  StartSim();
  auto command = Connected(kCard0, card::kCommandPort);
  card::DeviceStatusRecord working = QueryRecord(*command);
  command->Disconnect();
  const card::DeviceStatusRecord before = StoredRecord(0);
  testing_support::TempDir dir;
  const std::string file = dir.file("PlC1MEM.datr");

  // The table as the user typed it: a read with code 1 in row 6 (not taken
  // by C_DD) and requests in rows 21 to 30.
  mb::TableTexts rows = mb::ToRows(mb::ToRecords(mb::ReadEntries(working)));
  rows[0] = {"1", "0", "3", "2", "1", "1", "0", "0", "1", "20", "0", "0"};
  rows[5] = {"2", "10", "1", "8", "1", "1", "0", "0", "5", "30", "0", "0"};
  for (int r = 20; r < 30; ++r)
    rows[static_cast<std::size_t>(r)] = {std::to_string(r), "100", "4", "2", "1", "1", "0", "0",
                                         std::to_string(40 + 2 * r), "50", "0", "-" + std::to_string(r)};
  const auto parse = mb::ParseRows(rows, mb::NormalHeaders());
  ASSERT_TRUE(parse.ok());
  ASSERT_TRUE(mb::WriteTableFile(file, parse.records));  // "加载到设备", confirmed
  auto upload = Link(card::kCommandPort);
  ASSERT_TRUE(mb::UploadTable(*upload, fast_, user_, progress_, kCard0, mb::ToEntries(parse.records), &working));
  EXPECT_TRUE(user_.shown().empty());

  // Only what a line carries reached the card: row 1, not row 6 or 21..30.
  ASSERT_TRUE(Eventually([&] { return mb::ReadEntry(StoredRecord(0), 0).function == 3; }));
  EXPECT_EQ(mb::ReadEntry(StoredRecord(0), 5), mb::ReadEntry(before, 5));
  EXPECT_EQ(mb::ReadEntry(StoredRecord(0), 25), mb::ReadEntry(before, 25));

  // Reopened on the WorkingRecord the window keeps: the dialog shows every
  // row again and writes the same table to its working file.
  const mb::RecordTable reopened = mb::ToRecords(mb::ReadEntries(working));
  EXPECT_EQ(mb::ToRows(reopened), mb::ToRows(parse.records));
  ASSERT_TRUE(mb::WriteTableFile(file, reopened));
  const mb::TableFileLoad load = mb::DecodeTableFile(testing_support::ReadFile(file), {});
  EXPECT_EQ(mb::ToRows(load.records), mb::ToRows(parse.records));
  EXPECT_EQ(mb::ToRows(load.records)[29][11], "-29");
  EXPECT_EQ(mb::ToRows(load.records)[5][2], "1");
}

TEST_F(ModbusTest, EachTypeWrittenThroughTheSingleWriteReadsBackTheSame) {
  StartSim();
  auto link = Link(card::kFilePort);
  const struct {
    int type;
    const char* typed;
    const char* shown;
  } values[] = {{mb::kU16, "65534", "65534"},     {mb::kFloatCdab, "1.5", "1.500"},
                {mb::kI16, "-2", "-2"},           {mb::kFloatNegAbcd, "-2.25", "-2.250"},
                {mb::kFloatDcba, "1.5", "1.500"}, {mb::kU32, "4000000000", "4000000000"},
                {mb::kI32, "-123456789", "-123456789"}, {mb::kFloatBadc, "3.125", "3.125"},
                {mb::kU32Swapped, "3000000000", "3000000000"}, {mb::kI32Swapped, "-2", "-2"},
                {mb::kString, "ABC", "AB"}};
  for (const auto& v : values) {
    const std::uint32_t reg = 70 + 6 * static_cast<std::uint32_t>(v.type);  // even, inside the first 300
    std::string error;
    auto bytes = mb::EncodeSingle(v.type, v.typed, &error);
    ASSERT_TRUE(bytes) << error;
    ASSERT_TRUE(mb::WriteRegisters(*link, fast_, user_, kCard0, reg, *bytes));
    const std::uint32_t start = reg / 64 * 64;
    const mb::PageRead read = mb::ReadPage(*link, fast_, user_, kCard0, start);
    ASSERT_EQ(read.outcome, mb::ReadOutcome::Whole);
    const mb::GridTexts grid = mb::DecodePage(v.type, read.page);
    const std::uint32_t at = reg - start;
    EXPECT_EQ(grid[at / 16][at % 16], v.shown) << v.type;
    if (v.type == mb::kString) {
      EXPECT_EQ(grid[at / 16][at % 16 + 1], "C") << "the odd character has a register of its own";
    }
  }
  EXPECT_TRUE(user_.shown().empty());
  // The card holds the worked value's byte order: 1.5 as "浮点数DCBA" at 94.
  const auto regs = Registers(0);
  EXPECT_EQ(regs[94], 0x0000);
  EXPECT_EQ(regs[95], 0xC03F);
}

TEST_F(ModbusTest, AnEditedPageWriteChangesOnlyTheEditedRegisters) {
  StartSim();
  auto link = Link(card::kFilePort);
  // A register far away rewritten with what it holds: the card keeps its map in its state from now on.
  const mb::PageRead far = mb::ReadPage(*link, fast_, user_, kCard0, 1024);
  ASSERT_TRUE(mb::WriteRegisters(*link, fast_, user_, kCard0, 1024, std::string(far.page.bytes.begin(), far.page.bytes.begin() + 2)));
  ASSERT_TRUE(Eventually([&] { return !Registers(0).empty(); }));
  const mb::PageRead read = mb::ReadPage(*link, fast_, user_, kCard0, 128);
  ASSERT_EQ(read.outcome, mb::ReadOutcome::Whole);
  const mb::GridTexts shown = mb::DecodePage(mb::kI16, read.page);
  EXPECT_EQ(shown[0][0], "128");
  mb::GridTexts now = shown;
  now[0][3] = "-7";
  now[2][5] = "12345";
  const mb::PageWrite w = mb::BuildPageWrite(mb::kI16, read.page, shown, now);
  ASSERT_TRUE(w.errors.empty());
  ASSERT_EQ(w.edited, 2);
  const auto before = Registers(0);
  ASSERT_TRUE(mb::WriteRegisters(*link, fast_, user_, kCard0, 128, std::string(w.bytes.begin(), w.bytes.end())));
  ASSERT_TRUE(Eventually([&] { return Registers(0)[131] == 0xFFF9; }));
  const auto after = Registers(0);
  ASSERT_EQ(after.size(), before.size());
  for (std::size_t r = 0; r < after.size(); ++r) {
    if (r == 131) continue;
    if (r == 165) {
      EXPECT_EQ(after[r], 12345);
      continue;
    }
    EXPECT_EQ(after[r], before[r]) << r;
  }
  // Read again, the page shows the edits.
  const mb::PageRead again = mb::ReadPage(*link, fast_, user_, kCard0, 128);
  EXPECT_EQ(mb::DecodePage(mb::kI16, again.page), now);
}

TEST_F(ModbusTest, ReadsCollectSplitAndLateRepliesAndGiveUpOnASilentCard) {
  StartSim({"--split-bytes", "40", "--split-gap-ms", "5"});
  auto link = Link(card::kFilePort);
  auto expect = [](std::uint32_t start) {
    std::string page;
    for (std::uint32_t r = start; r < start + 64; ++r) {
      page.push_back(static_cast<char>(r & 0xFF));
      page.push_back(static_cast<char>(r >> 8));
    }
    return page;
  };
  mb::PageRead r = mb::ReadPage(*link, fast_, user_, kCard0, 1024);
  EXPECT_EQ(r.outcome, mb::ReadOutcome::Whole);
  EXPECT_EQ(std::string(r.page.bytes.begin(), r.page.bytes.end()), expect(1024));

  RestartSim(0, {"--delay-ms", "40"});
  r = mb::ReadPage(*link, fast_, user_, kCard0, 64);
  EXPECT_EQ(r.outcome, mb::ReadOutcome::Whole);
  EXPECT_EQ(std::string(r.page.bytes.begin(), r.page.bytes.end()), expect(64));
  EXPECT_TRUE(user_.shown().empty());

  RestartSim(0, {"--drop-replies"});
  const auto t0 = std::chrono::steady_clock::now();
  r = mb::ReadPage(*link, fast_, user_, kCard0, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
  EXPECT_EQ(r.outcome, mb::ReadOutcome::Nothing);
  EXPECT_EQ(mb::DecodePage(mb::kU16, r.page)[0][0], "") << "nothing read is shown as nothing, not 0";
  EXPECT_EQ(user_.texts().back(), mb::kMsgReadNothing);
  const std::string sent = Received(kCard0, card::kFilePort);
  EXPECT_NE(sent.find("file read_modbus 0x0 128\n"), std::string::npos);
  std::size_t reads = 0;
  for (std::size_t at = sent.find("file read_modbus 0x0 "); at != std::string::npos; at = sent.find("file read_modbus 0x0 ", at + 1))
    ++reads;
  EXPECT_EQ(reads, static_cast<std::size_t>(mb::kReadRequests));
}

TEST_F(ModbusTest, TheMonitorShowsTheStreamInAllThreeTypesAndStopsWhenTheCardRestarts) {
  StartSim({"--rs485-period-ms", "30"});
  auto link = Link(card::kFilePort);
  platform::CancellableClock clock(real_);
  std::atomic<int> type{mb::kMonitorAscii};
  mb::BlockQueue queue;
  std::atomic<bool> ended{false};
  mb::MonitorEnd end = mb::MonitorEnd::ConnectFailed;
  std::thread worker([&] {
    try {
      end = mb::RunMonitor(*link, clock, kCard0, type, queue);
    } catch (const platform::OperationAborted&) {
    }
    ended = true;
  });
  struct Join {
    std::thread& t;
    platform::CancellableClock& c;
    ~Join() {
      c.cancel();
      if (t.joinable()) t.join();
    }
  } join{worker, clock};

  std::vector<mb::MonitorBlock> blocks;
  auto collect = [&](int wanted, std::size_t atLeast) {
    return Eventually([&] {
      for (auto& b : queue.Drain().blocks) blocks.push_back(std::move(b));
      std::size_t n = 0;
      for (const auto& b : blocks) n += b.type == wanted ? 1 : 0;
      return n >= atLeast;
    }, 5000);
  };
  ASSERT_TRUE(collect(mb::kMonitorAscii, 2));
  std::string text;
  for (const auto& b : blocks) if (b.type == mb::kMonitorAscii) text += mb::FormatBlock(b);
  EXPECT_NE(text.find("TX: 01 03 00 00 00 02"), std::string::npos) << text;

  type = mb::kMonitorHex;
  blocks.clear();
  ASSERT_TRUE(collect(mb::kMonitorHex, 3));
  std::string hex;
  for (const auto& b : blocks) if (b.type == mb::kMonitorHex) hex += mb::FormatBlock(b);
  EXPECT_NE(hex.find("01 03 00 00 00 02 C4 0B "), std::string::npos) << hex;

  type = mb::kMonitorRtu;
  blocks.clear();
  ASSERT_TRUE(collect(mb::kMonitorRtu, 3));
  mb::RtuFramer framer;
  int pairs = 0, bad = 0;
  std::string rtu;
  for (const auto& b : blocks) {
    if (b.type != mb::kMonitorRtu) continue;
    rtu += mb::FormatRtuBlock(b, framer);
  }
  // Frames were cut whole: requests answered, every CRC good.
  framer.Reset();
  for (const auto& b : blocks)
    if (b.type == mb::kMonitorRtu)
      for (const auto& f : framer.Feed(b.bytes, b.at)) {
        bad += f.crcOk ? 0 : 1;
        pairs += f.answersRequest ? 1 : 0;
      }
  EXPECT_GE(pairs, 2) << rtu;
  EXPECT_EQ(bad, 0) << rtu;
  EXPECT_NE(rtu.find("→ 请求 从站1 功能码03(读保持寄存器) 地址0 数量2  CRC正确"), std::string::npos) << rtu;

  // The opening's line twice (the worker's first turn repeats it, as cards
  // expect), then only the type changes that need another stream.
  const std::string sent = Received(kCard0, card::kFilePort);
  EXPECT_EQ(sent, "set get485ascii 1 \nset get485ascii 1 \nset get485 1 \n");

  // The card restarts: the link closes and the monitor stops by itself.
  auto command = Connected(kCard0, card::kCommandPort);
  card::SendLine(*command, "reset \n");
  ASSERT_TRUE(Eventually([&] { return ended.load(); }, 5000));
  EXPECT_EQ(end, mb::MonitorEnd::LinkClosed);
}

}  // namespace e2e
