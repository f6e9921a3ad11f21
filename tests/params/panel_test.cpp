// Filling the panel from a record and submitting it: the exact lines, their
// order, the pauses and the messages.
#include "params/panel.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/crc32.h"
#include "params/panel_lists.h"
#include "platform/text.h"
#include "support/main_fixture.h"

using card::FillVariant;
using card::PanelValues;
using platform::Format;
namespace rec = card::rec;

namespace {

class Panel : public testing_support::MainFixture {
 protected:
  static std::string Announce(const card::DeviceStatusRecord& r) {
    return Format("set Sys_Crc %x \n", card::Crc32(r.data(), 256));
  }
};

}  // namespace

TEST_F(Panel, DirectFillShowsEveryFieldAndStoresTheViewedSize) {
  auto r = CardRecord("192.168.1.20", 39);
  r.setU16(rec::kCardPort, 5005);
  r.setU16(119, 0xab);
  r.setU16(133, 0x55);
  r.setU8(rec::kDisplayMode, 2);  // vertical
  r.setU8(rec::kIpMode, 1);
  r.setU8(rec::kDoubleSided, 1);
  r.setU8(rec::kRs485Mode, 12);
  r.setU8(rec::kServiceType, 3);
  r.setU8(rec::kDevelopmentNo, 33);
  card::FillParameterPanel(ctx, r, FillVariant::Direct);
  const PanelValues& v = panel.values;
  EXPECT_EQ(v.widthText, "128");
  EXPECT_EQ(v.heightText, "64");
  EXPECT_EQ(v.cardPortText, "5005");
  EXPECT_EQ(v.cardIp, "192.168.1.20");
  EXPECT_EQ(v.serverIp, "192.168.1.2");
  EXPECT_EQ(v.serverPort, "8080");
  EXPECT_EQ(v.internalCode, "ab_0_0_0_0_0_0_55");
  EXPECT_EQ(v.program, 0);
  EXPECT_EQ(v.dwell, 4);
  EXPECT_EQ(v.mode, 2);
  EXPECT_EQ(v.refresh, 5);
  EXPECT_EQ(v.brightness, 20);
  EXPECT_EQ(v.modbus, 1);
  EXPECT_EQ(v.baud, 3);
  EXPECT_EQ(v.rs485, 12);
  EXPECT_EQ(v.service, 3);
  EXPECT_EQ(v.devNo, 33);
  EXPECT_FALSE(v.autoIp);
  EXPECT_TRUE(v.doubleSided);
  EXPECT_TRUE(user.shown().empty());
  // Vertical mode: WIDTH holds the height text.
  EXPECT_EQ(ini("LEDPARA", "WIDTH"), "64");
  EXPECT_EQ(ini("LEDPARA", "HEIGHT"), "128");
}

TEST_F(Panel, PolarityComesFromTheCodeWordBefore36AndFromTheFieldsAfter) {
  auto r = CardRecord("192.168.1.20", 35);
  r.setU16(rec::kCodeWord, 0x8110);  // OE bit set, data bit clear: no fixed code
  r.setU8(rec::kOePolarity, 1);
  r.setU8(rec::kDataPolarity, 0);
  std::vector<std::string> msgs;
  PanelValues v = card::FilledPanel(r, {}, FillVariant::Direct, &msgs);
  EXPECT_EQ(v.target, 0);  // bit 8 set: "1-- 常规P10"
  EXPECT_EQ(v.oe, 0);
  EXPECT_EQ(v.data, 1);
  r.setU16(rec::kFirmware, 36);
  v = card::FilledPanel(r, {}, FillVariant::Broadcast, &msgs);
  EXPECT_EQ(v.oe, 1);
  EXPECT_EQ(v.data, 0);
  r.setU16(rec::kCodeWord, 0x8010);
  EXPECT_EQ(card::FilledPanel(r, {}, FillVariant::Broadcast, &msgs).target, 1);
  r.setU16(rec::kCodeWord, 0x8801);
  EXPECT_EQ(card::FilledPanel(r, {}, FillVariant::Direct, &msgs).target, 5);
  r.setU16(rec::kCodeWord, 0x88FF);
  EXPECT_EQ(card::FilledPanel(r, {}, FillVariant::Direct, &msgs).target, card::kMoreTargetsIndex);
  EXPECT_TRUE(msgs.empty());
}

TEST_F(Panel, OutOfRangeValuesShowTheirMessagesOrLeaveTheListWithoutSelection) {
  auto r = CardRecord("192.168.1.20");
  r.setU8(rec::kDisplayMode, 9);
  r.setU8(rec::kRefreshRate, 0x64);
  r.setU8(rec::kBrightness, 0xC8);
  r.setU8(rec::kRs485Mode, 150);
  r.setU16(rec::kBaudRate, static_cast<std::uint16_t>(115200 & 0xFFFF));
  r.setU16(rec::kModbusAddress, 300);
  PanelValues before;
  before.mode = 4;
  before.refresh = 7;
  before.brightness = 8;
  before.rs485 = 2;
  std::vector<std::string> msgs;
  PanelValues v = card::FilledPanel(r, before, FillVariant::Direct, &msgs);
  EXPECT_EQ(msgs, (std::vector<std::string>{"模式异常 9", "频率 异常 64", "亮度 异常 c8"}));
  EXPECT_EQ(v.mode, 4);
  EXPECT_EQ(v.refresh, 7);
  EXPECT_EQ(v.brightness, 8);
  EXPECT_EQ(v.rs485, 2);     // above 101: kept
  EXPECT_EQ(v.baud, -1);     // 115200 cannot be stored: no item
  EXPECT_EQ(v.modbus, -1);   // beyond the 255 items
  r.setU8(rec::kRs485Mode, 50);  // 101 or less, but no such item
  r.setU8(rec::kRefreshRate, 45);
  v = card::FilledPanel(r, before, FillVariant::Direct, &msgs);
  EXPECT_EQ(v.rs485, -1);
  EXPECT_EQ(v.refresh, -1);
  // The message box is shown by the fill on the window, once per value.
  auto bad = CardRecord("192.168.1.20");
  bad.setU8(rec::kBrightness, 0xFF);
  card::FillParameterPanel(ctx, bad, FillVariant::Direct);
  ASSERT_EQ(user.texts(), (std::vector<std::string>{"亮度 异常 ff"}));
}

TEST_F(Panel, BroadcastFillLeavesProgramsModeAndSysCfgAlone) {
  auto r = CardRecord("192.168.1.20");
  r.setU8(rec::kDisplayMode, 3);
  r.setU8(rec::kRefreshRate, 150);
  panel.values.program = 6;
  panel.values.dwell = 9;
  panel.values.mode = 1;
  card::FillParameterPanel(ctx, r, FillVariant::Broadcast);
  EXPECT_EQ(panel.values.program, 6);
  EXPECT_EQ(panel.values.dwell, 9);
  EXPECT_EQ(panel.values.mode, 1);
  EXPECT_EQ(panel.values.refresh, -1);
  EXPECT_TRUE(user.shown().empty());
  EXPECT_EQ(ini("LEDPARA", "WIDTH"), "<none>");
}

TEST_F(Panel, ClearEmptiesTheFieldsAndDisconnects) {
  OpenWith(CardRecord("192.168.1.20"));
  panel.values.broadcast = true;
  panel.values.lock = true;
  card::ClearParameterPanel(ctx);
  PanelValues expected;
  expected.broadcast = true;
  expected.readBack = panel.values.readBack;
  EXPECT_EQ(panel.values, expected);
  EXPECT_EQ(panel.Read().cardIp, "0.0.0.0");
  ASSERT_FALSE(command.events().empty());
  EXPECT_EQ(command.events().back().kind, testing_support::ChannelEvent::Disconnect);
}

TEST_F(Panel, UnchangedSubmitSendsNothingButStillRunsNetworkAndClock) {
  OpenWith(CardRecord("192.168.1.20"));
  card::SubmitAll(ctx);
  // SubmitParameters and the network step send no line; the clock step sends one.
  EXPECT_EQ(command.sent(), (std::vector<std::string>{"set time 2025 12 9 5 28 30 2 0 \n  "}));
  EXPECT_EQ(command.connectCount(), 3);
  EXPECT_EQ(clock.sleeps(), (std::vector<int>{500, 500, 500}));
  EXPECT_FALSE(command.connected());
  EXPECT_TRUE(user.shown().empty());
  EXPECT_EQ(ini("RemotIP", "RemotIP"), "192.168.1.20");
}

TEST_F(Panel, SizeLimits) {
  OpenWith(CardRecord("192.168.1.20"));
  for (auto [w, h] : {std::pair{"2001", "64"}, std::pair{"128", "1025"}}) {
    panel.values.widthText = w;
    panel.values.heightText = h;
    card::SubmitAll(ctx);
  }
  panel.values.widthText = "-8";
  panel.values.heightText = "64";
  card::SubmitAll(ctx);
  EXPECT_EQ(user.texts(), (std::vector<std::string>{card::kMsgSizeTooLarge, card::kMsgSizeTooLarge,
                                                    card::kMsgSizeNegative}));
  EXPECT_EQ(command.connectCount(), 0);
  panel.values.widthText = "2000";
  panel.values.heightText = "1024";
  card::SubmitAll(ctx);
  EXPECT_EQ(command.sent()[1], "set soft 2000 1024 \n");
}

TEST_F(Panel, DisplayTargetItemOneToTwoBuildsTheCodeWordFromThePolarities) {
  auto r = CardRecord("192.168.1.20");
  r.setU16(rec::kCodeWord, 0x8111);
  OpenWith(r);
  ASSERT_EQ(panel.values.target, 0);
  ASSERT_EQ(panel.values.oe, 0);
  ASSERT_EQ(panel.values.data, 0);
  panel.values.target = 1;
  ASSERT_EQ(card::SubmitParameters(ctx, panel.Read()), 0);
  auto sent = command.sent();
  ASSERT_EQ(sent.size(), 2u);
  auto expected = r;
  expected.setU16(rec::kCodeWord, 0x8011);
  EXPECT_EQ(sent[0], Announce(expected));
  EXPECT_EQ(sent[1], "set chrct machine 8011 \n");
  auto times = command.sendTimes();
  EXPECT_EQ(times[1] - times[0], 2000);
  EXPECT_EQ(state.record().u16(rec::kCodeWord), 0x8011);
  EXPECT_EQ(state.record().u32(rec::kChecksum), card::Crc32(expected.data(), 256));
}

TEST_F(Panel, ModeAndWidthInOneSubmitSendHardWithTheOldWidthThenSoft) {
  OpenWith(CardRecord("192.168.1.20"));
  panel.values.mode = 2;
  panel.values.widthText = "256";
  ASSERT_EQ(card::SubmitParameters(ctx, panel.Read()), 0);
  EXPECT_EQ(FieldLines(), (std::vector<std::string>{"set hard 128 0 2\n", "set soft 256 64 \n"}));
  auto r = state.record();
  EXPECT_EQ(r.u16(rec::kWidthCopy), 128);
  EXPECT_EQ(r.u16(rec::kWidth), 256);
  // Vertical mode: the viewer's width is the panel height.
  EXPECT_EQ(ini("LEDPARA", "WIDTH"), "64");
  EXPECT_EQ(ini("LEDPARA", "HEIGHT"), "256");
}

TEST_F(Panel, EveryFieldInTableOrderWithItsPauses) {
  OpenWith(CardRecord("192.168.1.20", 39));
  panel.values.target = 3;
  panel.values.oe = 1;
  panel.values.data = 1;
  panel.values.refresh = 9;
  panel.values.modbus = 17;
  panel.values.rs485 = 1;
  panel.values.devNo = 2;
  panel.values.service = 5;
  panel.values.baud = 8;
  panel.values.brightness = 39;
  ASSERT_EQ(card::SubmitParameters(ctx, panel.Read()), 0);
  EXPECT_EQ(FieldLines(), (std::vector<std::string>{
                              "set chrct machine 8007 \n", "set LED_OEP 1 \n", "set LED_DATP 1 \n", "set pl 9 \n",
                              "set modbus_dev_addr 17 \n", "set Modebus_Master 1 \n", "set _315MHZ 2 \n",
                              "set SEVER_M 5 \n", "set baud 57600 8 0 1 \n", "set ld 39 \n"}));
  // 2000 ms per field, 200 ms after the brightness, 500 ms before the disconnect.
  EXPECT_EQ(clock.totalSlept(), 10 * 2000 + 200 + 500);
  auto r = state.record();
  EXPECT_EQ(r.u16(rec::kBaudRate), 57600);
  EXPECT_EQ(r.u16(rec::kModbusAddress), 17);
  EXPECT_EQ(r.u8(rec::kBrightness), 39);
  EXPECT_TRUE(card::VerifyChecksum(r));
  // Each announcement carries the checksum of the record as it stood then:
  // the last one that of the final record.
  auto sent = command.sent();
  EXPECT_EQ(sent[sent.size() - 2], Announce(r));
}

TEST_F(Panel, OnlyOeChangedSendsOneAnnouncementAndItsLine) {
  // A fixed-code target: items 1 and 2 would carry the OE bit in the code word too.
  auto r = CardRecord("192.168.1.20", 36);
  r.setU16(rec::kCodeWord, 0x800A);
  OpenWith(r);
  panel.values.oe = 1;
  ASSERT_EQ(card::SubmitParameters(ctx, panel.Read()), 0);
  auto sent = command.sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].rfind("set Sys_Crc ", 0), 0u);
  EXPECT_EQ(sent[1], "set LED_OEP 1 \n");
}

TEST_F(Panel, BaudRate115200IsResentWithEverySubmit) {
  OpenWith(CardRecord("192.168.1.20"));
  panel.values.baud = 9;
  for (int i = 0; i < 2; ++i) {
    command.clearEvents();
    ASSERT_EQ(card::SubmitParameters(ctx, panel.Read()), 0);
    EXPECT_EQ(FieldLines(), (std::vector<std::string>{"set baud 115200 8 0 1 \n"}));
  }
  EXPECT_EQ(state.record().u16(rec::kBaudRate), 115200 & 0xFFFF);
}

TEST_F(Panel, ListsWithoutASelectionAreSkippedNeverSentAsMinusOne) {
  OpenWith(CardRecord("192.168.1.20"));
  panel.values.target = panel.values.mode = panel.values.oe = panel.values.data = -1;
  panel.values.refresh = panel.values.brightness = panel.values.modbus = -1;
  panel.values.rs485 = panel.values.baud = panel.values.devNo = panel.values.service = -1;
  auto before = state.record();
  ASSERT_EQ(card::SubmitParameters(ctx, panel.Read()), 0);
  EXPECT_TRUE(command.sent().empty());
  EXPECT_EQ(state.record(), before);
}

TEST_F(Panel, ASubmitNeedsThePanelToShowTheSelectedCardsRecord) {
  card::SubmitAll(ctx);
  // Cleared by a restart, or the selection moved to a card whose read failed:
  // the empty fields would go out as size 0 x 0 and address 0.0.0.0.
  OpenWith(CardRecord("192.168.1.20"));
  card::ClearParameterPanel(ctx);
  card::SubmitAll(ctx);
  OpenWith(CardRecord("192.168.1.20"));
  state.setSelectedAddress("192.168.1.21");
  card::SubmitAll(ctx);
  EXPECT_EQ(user.texts(), std::vector<std::string>(3, card::kMsgSelectCardFirst));
  EXPECT_EQ(user.shown()[0].title, "错误");
  EXPECT_EQ(command.connectCount(), 0);
}

TEST_F(Panel, NoConnectionSkipsTheRest) {

  OpenWith(CardRecord("192.168.1.20"));
  panel.values.brightness = 3;
  auto before = state.record();
  command.queueConnectResult(-1);
  card::SubmitAll(ctx);
  EXPECT_EQ(user.texts().back(), "连接设备失败");
  EXPECT_EQ(command.connectCount(), 1);  // no network or clock step
  EXPECT_TRUE(command.sent().empty());
  EXPECT_EQ(state.record(), before);
}

TEST_F(Panel, AfterALostLinkTheNextSubmitComparesWithTheCardsRecordReadAgain) {
  OpenWith(CardRecord("192.168.1.20"));
  // Brightness and refresh rate; the second line finds the link gone. The
  // first went out as far as the driver could tell, so the copy took it.
  panel.values.brightness = 3;
  panel.values.refresh = 4;
  command.failSendsFrom(3);
  card::SubmitAll(ctx);
  EXPECT_TRUE(state.recordUnconfirmed());
  EXPECT_EQ(state.record().u8(card::rec::kRefreshRate), 4);

  // The card never got the refresh rate: the next submit reads the card's
  // record first and sends both again.
  testing_support::FakeChannel fresh(&clock);
  card::PanelContext again{fresh, clock, user, panel, state, cfg};
  fresh.onSend([&](const std::string& line) {
    if (line == "query all_in_struct_tcp \n") fresh.queueReply(Bytes(CardRecord("192.168.1.20")));
  });
  card::SubmitAll(again);
  EXPECT_FALSE(state.recordUnconfirmed());
  const auto lines = testing_support::FieldLinesOf(fresh.sent());
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 4),
            (std::vector<std::string>{"query all_in_struct_tcp \n", "query all_in_struct_tcp \n", "set pl 4 \n",
                                      "set ld 3 \n"}));
  EXPECT_EQ(state.record().u8(card::rec::kBrightness), 3);

  // No record comes back: nothing is sent and the mark stays.
  state.markRecordUnconfirmed();
  testing_support::FakeChannel silent(&clock);
  card::PanelContext none{silent, clock, user, panel, state, cfg};
  card::SubmitAll(none);
  EXPECT_EQ(user.texts().back(), card::kMsgNoRecord);
  for (const auto& line : silent.sent()) EXPECT_EQ(line, "query all_in_struct_tcp \n");
  EXPECT_TRUE(state.recordUnconfirmed());
}

TEST(PanelLists, ItemsAndMappings) {
  EXPECT_EQ(card::DisplayTargetItems().size(), 23u);
  EXPECT_EQ(card::Rs485ModeItems().size(), 32u);
  EXPECT_EQ(card::DevelopmentItems().size(), 34u);
  EXPECT_EQ(card::DevelopmentItems()[17], "17-- 编号16");
  EXPECT_EQ(card::DevelopmentItems()[21], "21-- 编号20");
  EXPECT_EQ(card::ModbusAddressItems()[5], "5-0x 5");
  EXPECT_EQ(card::ModbusAddressItems()[254], "254-0xfe");
  EXPECT_EQ(card::DwellItems()[4], " 4秒");
  EXPECT_EQ(card::DwellItems()[59], "59秒");
  EXPECT_EQ(card::CodeWordFor(0, 0, 0), 0x8111);
  EXPECT_EQ(card::CodeWordFor(0, 1, 1), 0x8100);
  EXPECT_EQ(card::CodeWordFor(1, 1, 0), 0x8001);
  EXPECT_EQ(card::CodeWordFor(2, 0, 0), 0x800A);  // fixed codes ignore the polarity
  EXPECT_EQ(card::CodeWordFor(-1, 0, 0), std::nullopt);
  EXPECT_EQ(card::BaudIndexForRate(57600), 8);
  EXPECT_EQ(card::BaudIndexForRate(115200 & 0xFFFF), 10);
  EXPECT_STREQ(card::BaudFor(21)->line, "set baud 9600 8 2 1 \n");
}
