// "高级设置": the steps "确定" turns changes into (exact lines, order,
// announcements and pauses) and the refusals.
#include "params/advanced.h"

#include <gtest/gtest.h>

#include "platform/codec.h"
#include "platform/text.h"
#include "support/fake_channel.h"
#include "support/fake_ports.h"
#include "support/main_fixture.h"

namespace {

namespace rec = card::rec;

// A card with a fixed address; RS-485 heartbeat on (10 s), start-up delay on
// (5 s), daily restart on at 03:15:00, server heartbeat off.
card::DeviceStatusRecord Card() {
  card::DeviceStatusRecord r;
  const int mac[6] = {0x02, 0x4B, 0x56, 0x00, 0x01, 0x2A};
  for (int i = 0; i < 6; ++i) r.setU16(79 + 2 * static_cast<std::size_t>(i), static_cast<std::uint16_t>(mac[i]));
  for (auto [off, v] : {std::pair<std::size_t, int>{121, 85}, {123, 10}, {127, 3000}, {135, 85}, {137, 5}, {141, 100},
                        {153, 85}, {155, 3}, {157, 15}})
    r.setU16(off, static_cast<std::uint16_t>(v));
  r.setU8(207, 1);
  r.setU8(255, 85);
  r.setSerialBytes("202300000000000000000042");
  const std::uint8_t mask[4] = {255, 255, 255, 0}, gw[4] = {192, 168, 1, 1};
  for (std::size_t i = 0; i < 4; ++i) {
    r.setU8(256 + i, mask[i]);
    r.setU8(260 + i, gw[i]);
  }
  r.updateChecksum();
  return r;
}

class Advanced : public ::testing::Test {
 protected:
  card::AdvancedOutcome Save(const card::AdvancedValues& v) {
    return card::SaveAdvanced(link, clock, user, &progress, "192.168.1.20", &copy, v);
  }
  std::vector<std::string> FieldLines() { return testing_support::FieldLinesOf(link.sent()); }
  card::AdvancedValues Shown() { return card::AdvancedFromRecord(copy); }
  platform::VirtualClock clock{0};
  testing_support::FakeChannel link{&clock};
  testing_support::FakeUser user{&clock};
  testing_support::FakeProgress progress;
  card::DeviceStatusRecord copy = Card();
};

}  // namespace

TEST_F(Advanced, EveryStepInItsOrderWithItsPause) {
  const card::AdvancedValues v{
      .dataBits = 1, .stopBits = 2, .parity = 2, .rs485Heartbeat = 0, .rs485Interval = 10, .dailyRestart = false,
      .hour = 0, .minute = 0, .second = 0, .fixedAllowed = true, .fixedNetwork = false, .gateway = "10.0.0.1",
      .mask = "255.255.0.0", .dns = "1.1.1.1", .startDelay = 0, .startDelaySeconds = 5, .serverHeartbeat = 1,
      .serverInterval = 30, .modbusStorage = 1, .counterDirection = 1, .counterStart = {"499", "0", "0", "0", "7"},
      .mac = {"02", "4B", "56", "00", "01", "2b"}, .deviceName = "2023ABCDEFGHIJKLMNOPQRST", .blue = 1, .voice = 1,
      .script = 1, .role = 1, .splitX = 3, .splitY = 4};
  ASSERT_EQ(Save(v), card::AdvancedOutcome::Confirmed);
  EXPECT_EQ(FieldLines(), (std::vector<std::string>{
                              "set local_ip_sn  255 255 0 0 \n",   "set local_ip_user  0  \n",
                              "set local_ip_gw  10 0 0 1 \n",      "set local_ip_user  0  \n",
                              "set local_ip_dns  1 1 1 1 \n",      "set local_ip_user  0  \n",
                              "set Mac  2 4b 56 0 1 2b    \n",     "set SN  2023ABCDEFGHIJKLMNOPQRST    \n",
                              "set safedate 0  499  \n",           "set safedate 4  7  \n",
                              "set safedi 1  \n",                  "set reset_Enable  0 0 0 0  \n",
                              "set N_M_Enable  85 3000   \n",      "set uart1  1  2 2  \n",
                              "set RS_M_Enable  0 10   \n",        "set NET_W_Enable  0 5   \n",
                              "set Load_M_Enable  85    \n",       "set RoleMorS  1 \n",
                              "set xyilne  3 4\n",                 "set Script_Enable  85    \n",
                              "set Blue_Disable  85    \n",        "set SFE_Disable  85    \n"}));
  // 2500 ms after each announcement, then the step's own pause.
  const auto t = link.sendTimes();
  const int pauses[] = {5000, 5000, 5000, 5000, 5000, 5000, 5000, 5000, 3000, 3000, 1000,
                        5000, 5000, 5000, 5000, 5000, 5000, 5000, 5000, 5000, 5000};
  ASSERT_EQ(t.size(), 44u);
  for (std::size_t i = 0; i < 22; ++i) EXPECT_EQ(t[2 * i + 1] - t[2 * i], 2500) << i;
  for (std::size_t i = 0; i < 21; ++i) EXPECT_EQ(t[2 * i + 2] - t[2 * i + 1], pauses[i]) << i;
  EXPECT_EQ(copy.serialBytes(), "2023ABCDEFGHIJKLMNOPQRST");
  EXPECT_EQ(copy.u16(rec::kRs485HeartbeatInterval), 10) << "switching off keeps the interval";
  EXPECT_EQ(link.sent()[42], platform::Format("set Sys_Crc %x \n", copy.computeChecksum()));
  EXPECT_EQ(copy.u32(rec::kChecksum), copy.computeChecksum());
  EXPECT_EQ(link.events().back().kind, testing_support::ChannelEvent::Disconnect);
  EXPECT_EQ(link.events().back().at, t.back() + 5000);
  EXPECT_EQ(progress.percents.back(), 100);
}

TEST_F(Advanced, ValuesChangedWhileTheirFlagStaysOnAreSent) {
  copy.setU16(125, 85);
  copy.setU16(127, 1000);
  card::AdvancedValues v = Shown();
  v.hour = 6;
  v.minute = 30;
  v.rs485Interval = 20;
  v.startDelaySeconds = 9;
  v.serverInterval = 15;
  ASSERT_EQ(Save(v), card::AdvancedOutcome::Confirmed);
  EXPECT_EQ(FieldLines(), (std::vector<std::string>{"set reset_Enable  85 6 30 0  \n", "set N_M_Enable  85 1500   \n",
                                                    "set RS_M_Enable  85 20   \n", "set NET_W_Enable  85 9   \n"}));
  // Unchanged fields never send, even when the card's value lies beyond the list.
  copy.setU16(123, 75);
  link.clearEvents();
  ASSERT_EQ(Save(Shown()), card::AdvancedOutcome::Confirmed);
  EXPECT_TRUE(link.sent().empty());
}

TEST_F(Advanced, BadMacOrStartValueRefusesBeforeAnythingIsSent) {
  const std::tuple<int, std::string, std::string> cases[] = {
      {1, "1g", "MAC地址第2段必须是两位十六进制数(0-9,A-F)！！！"},
      {5, "A", "MAC地址第6段必须是两位十六进制数(0-9,A-F)！！！"},
      {10, "500", "起始计数值1必须是0到499之间的整数！！！"},
      {14, "", "起始计数值5必须是0到499之间的整数！！！"}};
  for (const auto& [field, text, message] : cases) {
    card::AdvancedValues v = Shown();
    v.gateway = "10.0.0.1";
    (field < 10 ? v.mac[static_cast<std::size_t>(field)] : v.counterStart[static_cast<std::size_t>(field - 10)]) = text;
    EXPECT_EQ(Save(v), card::AdvancedOutcome::StayOpen) << text;
    EXPECT_TRUE(link.events().empty()) << text;
    EXPECT_EQ(user.texts().back(), message);
  }
  EXPECT_EQ(copy, Card());
  // Fields left as the card filled them pass, whatever the card holds.
  copy.setU16(rec::kMac + 2, 0x1FF);
  copy.setU16(rec::kCounterStart + 2, 600);
  EXPECT_EQ(Shown().mac[1], "1FF");
  EXPECT_FALSE(card::AdvancedInputProblem(copy, Shown()).has_value());
  EXPECT_TRUE(card::PlanAdvanced(copy, Shown()).steps.empty());
}

TEST_F(Advanced, DeviceNameIs24GbkBytesWithoutBlanks) {
  auto run = [&](const std::string& name) {
    copy = Card();
    link.clearEvents();
    card::AdvancedValues v = Shown();
    v.deviceName = name;
    v.blue = 1;
    return Save(v);
  };
  // A refused name keeps the dialog open after the other steps went out.
  const std::pair<std::string, std::string> refused[] = {
      {"20230000000000000000004", "提示:设备名长度为23,长度必须24个字节，以2023开头！！\n"},
      {"2023 0000000000000000042", "提示:设备名不能含有空格或控制字符！！\n"},
      {"2023\t0000000000000000042", "提示:设备名不能含有空格或控制字符！！\n"},
      {"2023000000000000000000\xF0\x9F\x98\x80" "0", "提示:设备名含有无法保存到设备的字符！！\n"}};
  for (const auto& [name, message] : refused) {
    EXPECT_EQ(run(name), card::AdvancedOutcome::StayOpen) << name;
    EXPECT_EQ(user.texts().back(), message);
    EXPECT_EQ(FieldLines(), (std::vector<std::string>{"set Blue_Disable  85    \n"}));
  }
  // Any 24 bytes, also without "2023"; Chinese counts two bytes a character
  // and goes out in GBK.
  EXPECT_EQ(run("ABCD00000000000000000042"), card::AdvancedOutcome::Confirmed);
  const std::string chinese = "2023显示屏一号0000000000";
  EXPECT_EQ(run(chinese), card::AdvancedOutcome::Confirmed);
  EXPECT_EQ(FieldLines().front(), "set SN  " + platform::Utf8ToGbk(chinese) + "    \n");
  EXPECT_EQ(copy.serialBytes(), platform::Utf8ToGbk(chinese));
}

TEST_F(Advanced, UnselectedListsDirectionSplitLinesAndTheAutomaticAddress) {
  copy.setU16(139, 5);  // counting down, stored as 5
  copy.setU8(207, 2);   // anything but 1 is an automatic address
  card::AdvancedValues v = Shown();
  EXPECT_FALSE(v.fixedAllowed);
  EXPECT_FALSE(v.fixedNetwork);
  v.counterDirection = 1;
  v.dataBits = -1;
  v.parity = 3;
  v.role = -1;
  v.blue = -1;
  v.splitX = 9;  // not a sending card: not sent
  auto lines = [&] {
    std::vector<std::string> out;
    for (const auto& s : card::PlanAdvanced(copy, v).steps) out.push_back(s.line);
    return out;
  };
  EXPECT_EQ(lines(), (std::vector<std::string>{"set uart1  0  3 0  \n"}));
  v.counterDirection = 0;
  v.role = 1;
  EXPECT_EQ(lines(), (std::vector<std::string>{"set safedi 0  \n", "set uart1  0  3 0  \n", "set RoleMorS  1 \n",
                                               "set xyilne  9 0\n"}));
}

TEST_F(Advanced, AFailedConnectOrSendStopsWithTheCopyAtWhatWasSentAndSaysHowFarItGot) {
  card::AdvancedValues v = Shown();
  v.blue = 1;
  v.voice = 1;
  card::AdvancedReport report;
  link.queueConnectResult(-1);
  EXPECT_EQ(card::SaveAdvanced(link, clock, user, &progress, "192.168.1.20", &copy, v, &report),
            card::AdvancedOutcome::Failed);
  EXPECT_TRUE(link.sent().empty());
  EXPECT_EQ(report.total * 100 + report.sent, 200);
  EXPECT_FALSE(report.linkLost) << "nothing went out";
  link.failSendsFrom(3);  // the voice line does not go out
  EXPECT_EQ(card::SaveAdvanced(link, clock, user, &progress, "192.168.1.20", &copy, v, &report),
            card::AdvancedOutcome::Failed);
  EXPECT_EQ(copy.u8(rec::kBlueSwitch), 85);
  EXPECT_EQ(copy.u8(rec::kVoiceSwitch), 0);
  EXPECT_FALSE(link.connected());
  EXPECT_EQ(report.sent, 1);
  EXPECT_TRUE(report.linkLost);
  EXPECT_EQ(user.texts(), (std::vector<std::string>{"连接设备失败", "连接设备失败\n已发送 1/2 项，其余设置没有发送。"}));
}

TEST_F(Advanced, AnAddressFieldThatIsEmptyOrIncompleteIsRefusedByName) {
  const std::tuple<std::string card::AdvancedValues::*, std::string, std::string> cases[] = {
      {&card::AdvancedValues::mask, "", "子网掩码"},
      {&card::AdvancedValues::mask, "255.255.255.", "子网掩码"},
      {&card::AdvancedValues::gateway, "192.168.1", "网关"},
      {&card::AdvancedValues::dns, "8.8.8.256", "DNS"},
      {&card::AdvancedValues::dns, "8..8.8", "DNS"},
      {&card::AdvancedValues::gateway, "10.0.0.1.5", "网关"}};
  for (const auto& [field, text, label] : cases) {
    card::AdvancedValues v = Shown();
    v.*field = text;
    v.blue = 1;
    EXPECT_EQ(Save(v), card::AdvancedOutcome::StayOpen) << text;
    EXPECT_TRUE(link.events().empty()) << text;
    EXPECT_EQ(user.texts().back(), platform::Format(card::kMsgAddressIncomplete, label.c_str())) << text;
  }
  EXPECT_EQ(copy, Card());
  // A whole address goes; a field left as filled passes even when the card
  // holds 0.0.0.0 there.
  card::AdvancedValues v = Shown();
  EXPECT_EQ(v.dns, "0.0.0.0");
  v.mask = "255.255.0.0";
  ASSERT_EQ(Save(v), card::AdvancedOutcome::Confirmed);
  EXPECT_EQ(FieldLines(), (std::vector<std::string>{"set local_ip_sn  255 255 0 0 \n", "set local_ip_user  85  \n"}));
}

TEST_F(Advanced, ANameLeftAsFilledSendsNothingWhateverBytesTheCardHolds) {
  // A byte GBK cannot decode shows as '?'; an erased name is all 0xFF.
  const std::string held[] = {std::string("20230000000000000000004") + "\x80",
                              std::string(40, '\xFF'), std::string("2023\xFF\xFE")};
  for (const std::string& bytes : held) {
    copy = Card();
    copy.setSerialBytes(bytes);
    copy.updateChecksum();
    link.clearEvents();
    card::AdvancedValues v = Shown();
    EXPECT_EQ(Save(v), card::AdvancedOutcome::Confirmed) << v.deviceName;
    EXPECT_TRUE(link.sent().empty()) << v.deviceName;
    // Typed over, the name is checked and sent as ever.
    v.deviceName = "2023ABCDEFGHIJKLMNOPQRST";
    EXPECT_EQ(Save(v), card::AdvancedOutcome::Confirmed);
    EXPECT_EQ(FieldLines(), std::vector<std::string>{"set SN  2023ABCDEFGHIJKLMNOPQRST    \n"});
  }
  EXPECT_TRUE(user.texts().empty());
}
