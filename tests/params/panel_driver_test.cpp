// "更多目标设置": the one "set ledpara" line with its announcement and
// pauses, and records whose values no list item stands for.
#include "params/panel_driver.h"

#include <gtest/gtest.h>

#include "platform/crc32.h"
#include "platform/text.h"
#include "support/fake_channel.h"
#include "support/fake_ports.h"

namespace {

namespace rec = card::rec;

// 32 × 16 dots, scan 8, fold width 16, fold rows 2, reverse snake,
// conversion 2, U fold, chip 2, DZ 4, OE 1, data 0.
card::DeviceStatusRecord Module() {
  card::DeviceStatusRecord r;
  const std::pair<std::size_t, int> fields[] = {{200, 32}, {202, 16}, {204, 8}, {205, 16}, {210, 2}, {35, 1},
                                                {22, 2},   {21, 1},   {206, 2}, {23, 4},   {25, 1},  {24, 0}};
  for (auto [off, v] : fields) r.setU8(off, static_cast<std::uint8_t>(v));
  r.updateChecksum();
  return r;
}

class PanelDriver : public ::testing::Test {
 protected:
  bool Save(const card::PanelDriverValues& v) { return card::SaveLedPara(link, clock, user, "192.168.1.20", &copy, v); }
  platform::VirtualClock clock{1000};
  testing_support::FakeChannel link{&clock};
  testing_support::FakeUser user{&clock};
  card::DeviceStatusRecord copy = Module();
};

}  // namespace

TEST_F(PanelDriver, SaveAnnouncesWaitsSendsTheLineWaitsAndDisconnects) {
  card::PanelDriverValues v = card::PanelDriverFromRecord(copy);
  EXPECT_EQ(v, (card::PanelDriverValues{.width = 4, .height = 4, .scan = 3, .chip = 2, .foldWidth = 2, .uFold = 1,
                                        .dzFold = 0, .snake = 1, .foldRows = 1, .conversion = 2}));
  v = {.width = 8, .height = 8, .scan = 8, .chip = 23, .foldWidth = 5, .uFold = 0, .dzFold = 3, .snake = 0,
       .foldRows = 3, .conversion = 4};
  ASSERT_TRUE(Save(v));
  card::DeviceStatusRecord expected = Module();
  for (auto [off, value] : {std::pair<std::size_t, int>{200, 64}, {202, 32}, {12, 16}, {204, 32}, {205, 128},
                            {210, 8}, {35, 0}, {206, 23}, {22, 4}, {21, 0}})
    expected.setU8(off, static_cast<std::uint8_t>(value));
  expected.updateChecksum();
  // Width, height, 16, fold width, fold rows, scan, snake, conversion, U,
  // chip, then DZ, OE and data as the record holds them.
  const std::string line = "set ledpara  64 32 16 128 8 32 0 4 0 23 4 1 0 \n";
  const std::string announce = platform::Format("set Sys_Crc %x \n", card::Crc32(expected.data(), 256));
  EXPECT_EQ(link.sent(), (std::vector<std::string>{announce, line}));
  EXPECT_EQ(link.sendTimes(), (std::vector<std::int64_t>{1000, 2500}));
  EXPECT_EQ(link.events().back().kind, testing_support::ChannelEvent::Disconnect);
  EXPECT_EQ(link.events().back().at, 3500);
  EXPECT_EQ(copy, expected);
  // Nothing changed: the line goes out all the same.
  ASSERT_TRUE(Save(card::PanelDriverFromRecord(copy)));
  EXPECT_EQ(link.sent().back(), line);
}

TEST_F(PanelDriver, UnsetModuleShowsDefaultsAndValuesWithoutAnItemAreKept) {
  // Never set: the lists show 64, 32, 1/32, 32 and no fold, the copy keeps 0.
  for (std::size_t off : {200, 202, 204, 205, 210}) copy.setU8(off, 0);
  const card::PanelDriverValues shown = card::PanelDriverFromRecord(copy);
  EXPECT_EQ(shown.width, 8);
  EXPECT_EQ(shown.height, 8);
  ASSERT_TRUE(Save(shown));
  EXPECT_EQ(link.sent().back(), "set ledpara  64 32 16 32 1 32 1 2 1 2 4 1 0 \n");

  // No item for width 36 (not a whole step), height 200 (beyond the list),
  // scan 5, fold width 12, fold rows 5, chip 30, conversion 7: no selection,
  // and the line carries the card's own values, never -1, -8 or 255.
  for (auto [off, value] : {std::pair<std::size_t, int>{200, 36}, {202, 200}, {204, 5}, {205, 12}, {210, 5},
                            {206, 30}, {22, 7}})
    copy.setU8(off, static_cast<std::uint8_t>(value));
  const card::PanelDriverValues v = card::PanelDriverFromRecord(copy);
  for (int list : {v.width, v.height, v.scan, v.foldWidth, v.foldRows, v.chip, v.conversion}) EXPECT_EQ(list, -1);
  ASSERT_TRUE(Save(v));
  EXPECT_EQ(link.sent().back(), "set ledpara  36 200 16 12 5 5 1 7 1 30 4 1 0 \n");
  // A fold-rows value of 3 is read as the list position "8行折".
  copy.setU8(210, 3);
  ASSERT_TRUE(Save(card::PanelDriverFromRecord(copy)));
  EXPECT_EQ(link.sent().back(), "set ledpara  36 200 16 12 8 5 1 7 1 30 4 1 0 \n");
}

TEST_F(PanelDriver, AFailedConnectOrSendLeavesTheCopyAndSaysSo) {
  card::PanelDriverValues v = card::PanelDriverFromRecord(copy);
  v.width = 16;
  link.queueConnectResult(-1);
  EXPECT_FALSE(Save(v));
  EXPECT_TRUE(link.sent().empty());
  link.failSendsFrom(1);  // the announcement goes, the line does not
  EXPECT_FALSE(Save(v));
  EXPECT_EQ(copy, Module());
  EXPECT_FALSE(link.connected());
  EXPECT_EQ(user.texts(), (std::vector<std::string>{"连接设备失败", "连接设备失败"}));
  EXPECT_EQ(user.shown()[0].title, "错误");
}
