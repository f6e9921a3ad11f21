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
#include "platform/text.h"
#include "support/fake_ports.h"

namespace e2e {
namespace {

namespace mb = card::modbus;
namespace rec = card::rec;
using testing_support::ReadFile;

class ModbusTest : public CardSimTest {
 protected:
  card::DeviceStatusRecord CardRecord(int cardIndex) {
    std::string bytes = ReadFile(StateFile(cardIndex, "record.bin"));
    EXPECT_EQ(bytes.size(), rec::kSize);
    return card::CopyRecord(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), 0);
  }
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
    ASSERT_TRUE(Eventually([&] { return mb::ReadEntry(CardRecord(0), 27).function == 7; }));
  }
  auto command = Connected(kCard0, card::kCommandPort);
  card::DeviceStatusRecord working = QueryRecord(*command);
  command->Disconnect();
  ASSERT_EQ(TableBytes(working), TableBytes(CardRecord(0)));

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
  ASSERT_TRUE(Eventually([&] { return mb::ReadEntry(CardRecord(0), 15).slave == 9; }));
  EXPECT_EQ(TableBytes(CardRecord(0)), TableBytes(working));
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

}  // namespace e2e
