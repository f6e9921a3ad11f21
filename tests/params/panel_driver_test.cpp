// "更多目标设置": how a record shows in the lists, the one "set ledpara"
// line of "固化到设备" with its announcement and pauses, and the panel the
// main window submits afterwards.
#include "params/panel_driver.h"

#include <gtest/gtest.h>

#include "link/crc32.h"
#include "platform/text.h"
#include "support/fake_channel.h"
#include "support/fake_ports.h"

namespace {

namespace rec = card::rec;
using testing_support::ChannelEvent;

// A module as a card keeps it: 32 × 16 dots, 1/8 scan, fold width 16, fold
// rows 2, reverse snake, conversion 128, U fold, chip SM5266, DZ 4, OE and
// data polarity 1 and 0.
card::DeviceStatusRecord Module() {
  card::DeviceStatusRecord r;
  r.setU16(rec::kCodeWord, 0x88FF);
  r.setU16(rec::kWidth, 256);
  r.setU16(rec::kHeight, 64);
  r.setU8(12, 16);
  r.setU8(200, 32);
  r.setU8(202, 16);
  r.setU8(204, 8);
  r.setU8(205, 16);
  r.setU8(210, 2);
  r.setU8(35, 1);
  r.setU8(22, 2);
  r.setU8(21, 1);
  r.setU8(206, 2);
  r.setU8(23, 4);
  r.setU8(25, 1);
  r.setU8(24, 0);
  r.setU8(36, 25);
  r.updateChecksum();
  return r;
}

// Each call of the link as "<ms> <kind> <bytes>", times relative to the first.
std::vector<std::string> Trace(const testing_support::FakeChannel& ch) {
  std::vector<std::string> out;
  auto events = ch.events();
  const std::int64_t t0 = events.empty() ? 0 : events.front().at;
  const char* kinds[] = {"connect", "disconnect", "send", "receive", "begin", "end"};
  for (const auto& e : events)
    out.push_back(platform::Format("%lld %s %s", static_cast<long long>(e.at - t0), kinds[e.kind], e.bytes.c_str()));
  return out;
}

std::string Announce(const card::DeviceStatusRecord& r) {
  return platform::Format("set Sys_Crc %x \n", card::Crc32(r.data(), 256));
}

class PanelDriver : public ::testing::Test {
 protected:
  platform::VirtualClock clock{1000};
  testing_support::FakeChannel link{&clock};
  testing_support::FakeUser user{&clock};
};

}  // namespace

TEST_F(PanelDriver, ListsShowTheModuleAndTheLineCarriesItInItsOrder) {
  const card::DeviceStatusRecord r = Module();
  const card::PanelDriverValues v = card::PanelDriverFromRecord(r);
  EXPECT_EQ(v, (card::PanelDriverValues{.width = 4, .height = 4, .scan = 3, .chip = 2, .foldWidth = 2, .uFold = 1,
                                        .dzFold = 0, .snake = 1, .foldRows = 1, .conversion = 2}));
  // Width, height, 16, fold width, fold rows, scan, snake, conversion, U,
  // chip, DZ, OE, data.
  EXPECT_EQ(card::LedParaLine(r), "set ledpara  32 16 16 16 2 8 1 2 1 2 4 1 0 \n");
  EXPECT_EQ(card::ModuleWidthItems().back(), "136");
  EXPECT_EQ(card::ModuleWidthItems()[1], "08");
  EXPECT_EQ(card::ModuleHeightItems().back(), "68");
  EXPECT_EQ(card::RowScanChipItems().size(), 24u);
  EXPECT_EQ(card::RowScanChipItems()[23], "VOD5958");
}

TEST_F(PanelDriver, SaveAnnouncesWaitsSendsTheLineWaitsAndDisconnects) {
  card::DeviceStatusRecord copy = Module();
  card::PanelDriverValues v = card::PanelDriverFromRecord(copy);
  v.width = 8;       // 64 dots
  v.height = 8;      // 32 dots
  v.scan = 8;        // 1/32
  v.foldWidth = 5;   // 128
  v.foldRows = 3;    // 8 rows
  v.snake = 0;
  v.chip = 23;
  v.conversion = 4;
  v.uFold = 0;
  v.dzFold = 3;      // shown only: the record's 4 goes out
  ASSERT_TRUE(card::SaveLedPara(link, clock, user, "192.168.1.20", &copy, v));

  card::DeviceStatusRecord expected = Module();
  for (auto [off, value] : std::initializer_list<std::pair<std::size_t, int>>{
           {200, 64}, {202, 32}, {204, 32}, {205, 128}, {210, 8}, {35, 0}, {206, 23}, {22, 4}, {21, 0}})
    expected.setU8(off, static_cast<std::uint8_t>(value));
  expected.updateChecksum();
  EXPECT_EQ(Trace(link), (std::vector<std::string>{
                             "0 connect 192.168.1.20",
                             "0 begin ",
                             "0 send " + Announce(expected),
                             "0 end ",
                             "1500 begin ",
                             "1500 send set ledpara  64 32 16 128 8 32 0 4 0 23 4 1 0 \n",
                             "1500 end ",
                             "2500 disconnect ",
                         }));
  EXPECT_EQ(copy, expected);
  EXPECT_TRUE(user.shown().empty());

  // Nothing changed: the line goes out all the same.
  link.clearEvents();
  ASSERT_TRUE(card::SaveLedPara(link, clock, user, "192.168.1.20", &copy, card::PanelDriverFromRecord(copy)));
  EXPECT_EQ(link.sent(), (std::vector<std::string>{Announce(expected),
                                                   "set ledpara  64 32 16 128 8 32 0 4 0 23 4 1 0 \n"}));
}

TEST_F(PanelDriver, UnsetModuleShowsDefaultsWithoutChangingTheCopyUntilSaved) {
  card::DeviceStatusRecord copy = Module();
  for (std::size_t off : {200, 202, 204, 205, 210}) copy.setU8(off, 0);
  copy.updateChecksum();
  const card::DeviceStatusRecord before = copy;
  const card::PanelDriverValues v = card::PanelDriverFromRecord(copy);
  EXPECT_EQ(v.width, 8) << "64 dots";
  EXPECT_EQ(v.height, 8) << "32 dots";
  EXPECT_EQ(v.scan, 8) << "1/32";
  EXPECT_EQ(v.foldWidth, 3) << "32折宽点数";
  EXPECT_EQ(v.foldRows, 0) << "无折线";
  EXPECT_EQ(copy, before);
  ASSERT_TRUE(card::SaveLedPara(link, clock, user, "192.168.1.20", &copy, v));
  EXPECT_EQ(link.sent().at(1), "set ledpara  64 32 16 32 1 32 1 2 1 2 4 1 0 \n");
  EXPECT_EQ(copy.u8(200), 64);
}

TEST_F(PanelDriver, StoredValuesNoItemStandsForKeepTheirListEmptyAndTheirValue) {
  // Width 36 and height 200 are no list item (not whole steps, beyond the
  // list); scan 5, fold width 12, fold rows 5, chip 30 and conversion 7
  // neither. Fold rows 3, a list position, still shows "8行折".
  card::DeviceStatusRecord copy = Module();
  for (auto [off, value] : std::initializer_list<std::pair<std::size_t, int>>{
           {200, 36}, {202, 200}, {204, 5}, {205, 12}, {210, 5}, {206, 30}, {22, 7}})
    copy.setU8(off, static_cast<std::uint8_t>(value));
  const card::PanelDriverValues v = card::PanelDriverFromRecord(copy);
  for (int list : {v.width, v.height, v.scan, v.foldWidth, v.foldRows, v.chip, v.conversion}) EXPECT_EQ(list, -1);
  ASSERT_TRUE(card::SaveLedPara(link, clock, user, "192.168.1.20", &copy, v));
  EXPECT_EQ(link.sent().at(1), "set ledpara  36 200 16 12 5 5 1 7 1 30 4 1 0 \n");
  EXPECT_EQ(copy.u8(200), 36);

  copy.setU8(210, 3);
  EXPECT_EQ(card::PanelDriverFromRecord(copy).foldRows, 3);
  link.clearEvents();
  ASSERT_TRUE(card::SaveLedPara(link, clock, user, "192.168.1.20", &copy, card::PanelDriverFromRecord(copy)));
  EXPECT_EQ(link.sent().at(1), "set ledpara  36 200 16 12 8 5 1 7 1 30 4 1 0 \n");
}

TEST_F(PanelDriver, AFailedConnectOrSendLeavesTheCopyAndSaysSo) {
  card::DeviceStatusRecord copy = Module();
  card::PanelDriverValues v = card::PanelDriverFromRecord(copy);
  v.width = 16;
  link.queueConnectResult(-1);
  EXPECT_FALSE(card::SaveLedPara(link, clock, user, "192.168.1.20", &copy, v));
  EXPECT_TRUE(link.sent().empty());
  EXPECT_EQ(copy, Module());

  link.failSendsFrom(1);  // the announcement goes, the line does not
  EXPECT_FALSE(card::SaveLedPara(link, clock, user, "192.168.1.20", &copy, v));
  EXPECT_EQ(copy, Module());
  EXPECT_FALSE(link.connected());
  ASSERT_EQ(user.shown().size(), 2u);
  for (const auto& m : user.shown()) {
    EXPECT_EQ(m.text, "连接设备失败");
    EXPECT_EQ(m.title, "错误");
    EXPECT_EQ(m.icon, card::Icon::Error);
  }
}

TEST_F(PanelDriver, ACancelAfterTheLineKeepsWhatWasSentAndClosesTheLink) {
  platform::CancellableClock cancellable(clock);
  link.onSend([&](const std::string& line) {
    if (line.rfind("set ledpara", 0) == 0) cancellable.cancel();
  });
  card::DeviceStatusRecord copy = Module();
  card::PanelDriverValues v = card::PanelDriverFromRecord(copy);
  v.width = 16;
  EXPECT_THROW(card::SaveLedPara(link, cancellable, user, "192.168.1.20", &copy, v), platform::OperationAborted);
  EXPECT_EQ(copy.u8(200), 128) << "the card got it, so the copy has it";
  EXPECT_FALSE(link.connected());
}

TEST_F(PanelDriver, PanelTakesSizePolarityAndBrightnessFromTheHandedBackRecord) {
  card::PanelValues panel;
  panel.widthText = "1";
  panel.target = 22;
  panel.mode = 3;
  card::DeviceStatusRecord r = Module();
  panel = card::PanelAfterPanelDriver(panel, r);
  EXPECT_EQ(panel.widthText, "256");
  EXPECT_EQ(panel.heightText, "64");
  EXPECT_EQ(panel.oe, 1);
  EXPECT_EQ(panel.data, 0);
  EXPECT_EQ(panel.brightness, 25);
  EXPECT_EQ(panel.target, 22);
  EXPECT_EQ(panel.mode, 3);
  r.setU8(36, 60);
  r.setU8(25, 7);
  panel = card::PanelAfterPanelDriver(panel, r);
  EXPECT_EQ(panel.brightness, -1);
  EXPECT_EQ(panel.oe, -1);
}
