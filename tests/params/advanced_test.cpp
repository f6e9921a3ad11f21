// "高级设置": the fields a record fills, the steps "确定" turns changes into
// (exact lines, order, announcements and pauses), the refusals, and
// "启用固定设置" at its click.
#include "params/advanced.h"

#include <gtest/gtest.h>

#include "link/crc32.h"
#include "platform/codec.h"
#include "platform/text.h"
#include "support/fake_channel.h"
#include "support/fake_ports.h"

namespace {

namespace rec = card::rec;

// A card with a fixed address and every advanced setting in a known state.
card::DeviceStatusRecord Card() {
  card::DeviceStatusRecord r;
  r.setU16(rec::kCodeWord, 0x8111);
  const int mac[6] = {0x02, 0x4B, 0x56, 0x00, 0x01, 0x2A};
  for (int i = 0; i < 6; ++i) r.setU16(79 + 2 * static_cast<std::size_t>(i), static_cast<std::uint16_t>(mac[i]));
  r.setU16(121, 85);  // RS-485 heartbeat on, 10 s
  r.setU16(123, 10);
  r.setU16(125, 0);   // server heartbeat off
  r.setU16(127, 3000);
  r.setU16(135, 85);  // start-up delay on, 5 s
  r.setU16(137, 5);
  r.setU16(141, 100);
  r.setU16(153, 85);  // daily restart at 03:15:00
  r.setU16(155, 3);
  r.setU16(157, 15);
  r.setU8(207, 1);
  r.setU8(209, 0);
  r.setSerialBytes("202300000000000000000042");
  r.setU8(255, 85);
  const std::uint8_t mask[4] = {255, 255, 255, 0}, gw[4] = {192, 168, 1, 1}, dns[4] = {8, 8, 8, 8};
  for (std::size_t i = 0; i < 4; ++i) {
    r.setU8(256 + i, mask[i]);
    r.setU8(260 + i, gw[i]);
    r.setU8(264 + i, dns[i]);
  }
  r.setU8(296, 0);
  r.setU8(297, 0);
  r.setU8(298, 0);
  r.updateChecksum();
  return r;
}

std::vector<std::string> Trace(const testing_support::FakeChannel& ch) {
  std::vector<std::string> out;
  auto events = ch.events();
  const std::int64_t t0 = events.empty() ? 0 : events.front().at;
  for (const auto& e : events) {
    if (e.kind == testing_support::ChannelEvent::Begin || e.kind == testing_support::ChannelEvent::End) continue;
    const char* kind = e.kind == testing_support::ChannelEvent::Send ? "send" :
                       e.kind == testing_support::ChannelEvent::Connect ? "connect" : "disconnect";
    out.push_back(platform::Format("%lld %s %s", static_cast<long long>(e.at - t0), kind, e.bytes.c_str()));
  }
  return out;
}

// The lines without their announcements; each must follow one.
std::vector<std::string> FieldLines(const testing_support::FakeChannel& ch) {
  std::vector<std::string> out;
  auto sent = ch.sent();
  for (std::size_t i = 0; i < sent.size(); ++i) {
    if (sent[i].rfind("set Sys_Crc ", 0) == 0) continue;
    EXPECT_TRUE(i > 0 && sent[i - 1].rfind("set Sys_Crc ", 0) == 0) << "no announcement before " << sent[i];
    out.push_back(sent[i]);
  }
  return out;
}

class Advanced : public ::testing::Test {
 protected:
  card::AdvancedOutcome Save(const card::AdvancedValues& v) {
    return card::SaveAdvanced(link, clock, user, &progress, "192.168.1.20", &copy, v);
  }
  platform::VirtualClock clock{1000};
  testing_support::FakeChannel link{&clock};
  testing_support::FakeUser user{&clock};
  testing_support::FakeProgress progress;
  card::DeviceStatusRecord copy = Card();
};

}  // namespace

TEST_F(Advanced, FormShowsTheRecord) {
  card::AdvancedValues v = card::AdvancedFromRecord(copy);
  EXPECT_EQ(v.rs485Heartbeat, 1);
  EXPECT_EQ(v.rs485Interval, 10);
  EXPECT_EQ(v.serverHeartbeat, 0);
  EXPECT_EQ(v.serverInterval, 0) << "an interval shows only while its flag is on";
  EXPECT_TRUE(v.dailyRestart);
  EXPECT_EQ(v.hour, 3);
  EXPECT_EQ(v.minute, 15);
  EXPECT_TRUE(v.fixedAllowed);
  EXPECT_TRUE(v.fixedNetwork);
  EXPECT_EQ(v.mask, "255.255.255.0");
  EXPECT_EQ(v.gateway, "192.168.1.1");
  EXPECT_EQ(v.mac, (std::array<std::string, 6>{"02", "4B", "56", "00", "01", "2A"}));
  EXPECT_EQ(v.counterStart[0], "100");
  EXPECT_EQ(v.deviceName, "202300000000000000000042");
  EXPECT_EQ(v.blue, 0);

  // Never set (255) reads as the first item; beyond a list, no item; modulo
  // rules; any value but 1 at 207 means an automatic address.
  for (std::size_t off : {296, 297, 298}) copy.setU8(off, 255);
  copy.setU16(123, 75);
  copy.setU16(125, 85);
  copy.setU16(127, 6500);
  copy.setU8(209, 7);
  copy.setU8(19, 70);
  copy.setU8(207, 2);
  copy.setU16(139, 5);
  v = card::AdvancedFromRecord(copy);
  EXPECT_EQ(v.dataBits, 0);
  EXPECT_EQ(v.stopBits, 0);
  EXPECT_EQ(v.parity, 0);
  EXPECT_EQ(v.rs485Interval, 15);
  EXPECT_EQ(v.serverInterval, 5);
  EXPECT_EQ(v.role, 0);
  EXPECT_EQ(v.splitX, -1);
  EXPECT_EQ(v.counterDirection, 1);
  EXPECT_FALSE(v.fixedAllowed);
  EXPECT_FALSE(v.fixedNetwork);
  copy.setU8(296, 3);
  EXPECT_EQ(card::AdvancedFromRecord(copy).stopBits, -1);
  EXPECT_EQ(card::TwoDigitItems(60, 32).back(), "1888");
  EXPECT_EQ(card::TwoDigitItems(60, 16)[1], "16");
}

TEST_F(Advanced, NothingChangedConnectsSendsNothingAndCloses) {
  EXPECT_EQ(Save(card::AdvancedFromRecord(copy)), card::AdvancedOutcome::Confirmed);
  EXPECT_EQ(Trace(link), (std::vector<std::string>{"0 connect 192.168.1.20", "0 disconnect "}));
  EXPECT_EQ(copy, Card());
}

TEST_F(Advanced, AChangedGatewayIsFollowedByTheFixedSettingsStep) {
  card::AdvancedValues v = card::AdvancedFromRecord(copy);
  v.gateway = "192.168.1.254";
  ASSERT_EQ(Save(v), card::AdvancedOutcome::Confirmed);
  card::DeviceStatusRecord after = Card();
  after.setU8(263, 254);
  const std::uint32_t crc = card::Crc32(after.data(), 256);  // 255 stays 85
  EXPECT_EQ(Trace(link), (std::vector<std::string>{
                             "0 connect 192.168.1.20",
                             platform::Format("0 send set Sys_Crc %x \n", crc),
                             "2500 send set local_ip_gw  192 168 1 254 \n",
                             platform::Format("7500 send set Sys_Crc %x \n", crc),
                             "10000 send set local_ip_user  85  \n",
                             "15000 disconnect ",
                         }));
  after.updateChecksum();
  EXPECT_EQ(copy, after);
  EXPECT_EQ(progress.percents.back(), 100);
}

TEST_F(Advanced, EveryStepInItsOrderWithItsPause) {
  card::AdvancedValues v = card::AdvancedFromRecord(copy);
  v.mask = "255.255.0.0";
  v.gateway = "10.0.0.1";
  v.dns = "1.1.1.1";
  v.fixedNetwork = false;
  v.mac = {"02", "4b", "56", "00", "01", "2b"};
  v.deviceName = "2023ABCDEFGHIJKLMNOPQRST";
  v.counterStart = {"499", "0", "0", "0", "7"};
  v.counterDirection = 1;
  v.dailyRestart = false;
  v.serverHeartbeat = 1;
  v.serverInterval = 30;
  v.dataBits = 1;
  v.parity = 2;
  v.stopBits = 2;
  v.rs485Heartbeat = 0;
  v.startDelay = 0;
  v.modbusStorage = 1;
  v.role = 1;
  v.splitX = 3;
  v.splitY = 4;
  v.script = 1;
  v.blue = 1;
  v.voice = 1;
  ASSERT_EQ(Save(v), card::AdvancedOutcome::Confirmed);
  EXPECT_EQ(FieldLines(link), (std::vector<std::string>{
                                  "set local_ip_sn  255 255 0 0 \n",
                                  "set local_ip_user  0  \n",
                                  "set local_ip_gw  10 0 0 1 \n",
                                  "set local_ip_user  0  \n",
                                  "set local_ip_dns  1 1 1 1 \n",
                                  "set local_ip_user  0  \n",
                                  "set Mac  2 4b 56 0 1 2b    \n",
                                  "set SN  2023ABCDEFGHIJKLMNOPQRST    \n",
                                  "set safedate 0  499  \n",
                                  "set safedate 4  7  \n",
                                  "set safedi 1  \n",
                                  "set reset_Enable  0 0 0 0  \n",
                                  "set N_M_Enable  85 3000   \n",
                                  "set uart1  1  2 2  \n",
                                  "set RS_M_Enable  0 10   \n",
                                  "set NET_W_Enable  0 5   \n",
                                  "set Load_M_Enable  85    \n",
                                  "set RoleMorS  1 \n",
                                  "set xyilne  3 4\n",
                                  "set Script_Enable  85    \n",
                                  "set Blue_Disable  85    \n",
                                  "set SFE_Disable  85    \n",
                              }));
  // 2500 ms after each announcement, then the step's own pause.
  const auto times = link.sendTimes();
  const int pauses[] = {5000, 5000, 5000, 5000, 5000, 5000, 5000, 5000, 3000, 3000, 1000,
                        5000, 5000, 5000, 5000, 5000, 5000, 5000, 5000, 5000, 5000, 5000};
  ASSERT_EQ(times.size(), 44u);
  for (std::size_t i = 0; i < 22; ++i) {
    EXPECT_EQ(times[2 * i + 1] - times[2 * i], 2500) << i;
    if (i + 1 < 22) EXPECT_EQ(times[2 * i + 2] - times[2 * i + 1], pauses[i]) << i;
  }
  // The copy holds every value, the name as 24 bytes and a terminator.
  EXPECT_EQ(copy.u8(rec::kSubnetMask + 2), 0);
  EXPECT_EQ(copy.u8(rec::kFixedNetwork), 0);
  EXPECT_EQ(copy.u16(rec::kMac + 10), 0x2B);
  EXPECT_EQ(copy.serialBytes(), "2023ABCDEFGHIJKLMNOPQRST");
  EXPECT_EQ(copy.u16(rec::kCounterStart), 499);
  EXPECT_EQ(copy.u16(rec::kServerHeartbeatInterval), 3000);
  EXPECT_EQ(copy.u16(rec::kRs485HeartbeatInterval), 10) << "switching off keeps the interval";
  EXPECT_EQ(copy.u8(rec::kSplitY), 4);
  EXPECT_EQ(copy.u8(rec::kVoiceSwitch), 85);
  EXPECT_EQ(copy.u32(rec::kChecksum), copy.computeChecksum());
  EXPECT_EQ(link.sent()[42], platform::Format("set Sys_Crc %x \n", copy.computeChecksum()));
}

TEST_F(Advanced, ValuesChangedWhileTheirFlagStaysOnAreSent) {
  copy.setU16(125, 85);
  copy.setU16(127, 1000);
  card::AdvancedValues v = card::AdvancedFromRecord(copy);
  v.hour = 6;
  v.minute = 30;
  v.rs485Interval = 20;
  v.startDelaySeconds = 9;
  v.serverInterval = 15;
  ASSERT_EQ(Save(v), card::AdvancedOutcome::Confirmed);
  EXPECT_EQ(FieldLines(link), (std::vector<std::string>{"set reset_Enable  85 6 30 0  \n",
                                                        "set N_M_Enable  85 1500   \n", "set RS_M_Enable  85 20   \n",
                                                        "set NET_W_Enable  85 9   \n"}));
  // Unchanged lists never send, even when the stored value lies beyond them.
  copy.setU16(123, 75);
  copy.updateChecksum();
  link.clearEvents();
  ASSERT_EQ(Save(card::AdvancedFromRecord(copy)), card::AdvancedOutcome::Confirmed);
  EXPECT_TRUE(link.sent().empty());
}

TEST_F(Advanced, BadMacOrStartValueRefusesBeforeAnythingIsSent) {
  struct Case {
    int field;  // 0..5 MAC, 10.. start value
    std::string text;
    std::string message;
  };
  const Case cases[] = {
      {1, "1g", "MAC地址第2段必须是两位十六进制数(0-9,A-F)！！！"},
      {5, "A", "MAC地址第6段必须是两位十六进制数(0-9,A-F)！！！"},
      {0, "", "MAC地址第1段必须是两位十六进制数(0-9,A-F)！！！"},
      {10, "500", "起始计数值1必须是0到499之间的整数！！！"},
      {14, "", "起始计数值5必须是0到499之间的整数！！！"},
  };
  for (const Case& c : cases) {
    card::AdvancedValues v = card::AdvancedFromRecord(copy);
    v.gateway = "10.0.0.1";
    if (c.field < 10)
      v.mac[static_cast<std::size_t>(c.field)] = c.text;
    else
      v.counterStart[static_cast<std::size_t>(c.field - 10)] = c.text;
    link.clearEvents();
    EXPECT_EQ(Save(v), card::AdvancedOutcome::StayOpen) << c.text;
    EXPECT_TRUE(link.events().empty()) << c.text;
    EXPECT_EQ(copy, Card());
    EXPECT_EQ(user.texts().back(), c.message);
  }
  // A field left as the card filled it passes, whatever the card holds.
  copy.setU16(rec::kMac + 2, 0x1FF);
  copy.setU16(rec::kCounterStart + 2, 600);
  card::AdvancedValues v = card::AdvancedFromRecord(copy);
  EXPECT_EQ(v.mac[1], "1FF");
  EXPECT_FALSE(card::AdvancedInputProblem(copy, v).has_value());
  EXPECT_TRUE(card::PlanAdvanced(copy, v).steps.empty());
}

TEST_F(Advanced, DeviceNameIs24GbkBytesWithoutBlanks) {
  auto run = [&](const std::string& name) {
    copy = Card();
    link.clearEvents();
    card::AdvancedValues v = card::AdvancedFromRecord(copy);
    v.deviceName = name;
    v.blue = 1;
    return Save(v);
  };
  // Refused names keep the dialog open after the other steps went out.
  const std::pair<std::string, std::string> refused[] = {
      {"20230000000000000000004", "提示:设备名长度为23,长度必须24个字节，以2023开头！！\n"},
      {"2023 0000000000000000042", "提示:设备名不能含有空格或控制字符！！\n"},
      {"2023\t0000000000000000042", "提示:设备名不能含有空格或控制字符！！\n"},
      {"2023000000000000000000\xF0\x9F\x98\x80" "0", "提示:设备名含有无法保存到设备的字符！！\n"},
  };
  for (const auto& [name, message] : refused) {
    EXPECT_EQ(run(name), card::AdvancedOutcome::StayOpen) << name;
    EXPECT_EQ(user.texts().back(), message);
    EXPECT_EQ(FieldLines(link), (std::vector<std::string>{"set Blue_Disable  85    \n"}));
    EXPECT_EQ(copy.serialBytes(), "202300000000000000000042");
  }
  // Any 24 bytes are taken, also without "2023" in front; Chinese counts two
  // bytes a character and goes out in GBK.
  EXPECT_EQ(run("ABCD00000000000000000042"), card::AdvancedOutcome::Confirmed);
  EXPECT_EQ(FieldLines(link).front(), "set SN  ABCD00000000000000000042    \n");
  const std::string chinese = "2023显示屏一号0000000000";  // 4 + 5 × 2 + 10 = 24 bytes
  EXPECT_EQ(run(chinese), card::AdvancedOutcome::Confirmed);
  const std::string gbk = platform::Utf8ToGbk(chinese);
  ASSERT_EQ(gbk.size(), 24u);
  EXPECT_EQ(FieldLines(link).front(), "set SN  " + gbk + "    \n");
  EXPECT_EQ(copy.serialBytes(), gbk);
  // Only the 24 bytes and their terminator are written.
  copy = Card();
  copy.setU8(rec::kSerial + 30, 'Z');
  card::AdvancedValues v = card::AdvancedFromRecord(copy);
  v.deviceName = "2023ZZZZZZZZZZZZZZZZZZZZ";
  const auto plan = card::PlanAdvanced(copy, v);
  ASSERT_EQ(plan.steps.size(), 1u);
  EXPECT_EQ(plan.steps[0].record.u8(rec::kSerial + 24), 0);
  EXPECT_EQ(plan.steps[0].record.u8(rec::kSerial + 30), 'Z');
}

TEST_F(Advanced, ListsWithoutSelectionAndTheDirectionAndSplitRules) {
  copy.setU16(139, 5);  // counting down, stored as 5
  card::AdvancedValues v = card::AdvancedFromRecord(copy);
  v.counterDirection = 1;
  v.dataBits = -1;
  v.parity = 3;
  v.role = -1;
  v.blue = -1;
  v.modbusStorage = -1;
  v.splitX = 9;  // the card is no sending card: not sent
  auto plan = card::PlanAdvanced(copy, v);
  ASSERT_EQ(plan.steps.size(), 1u);
  EXPECT_EQ(plan.steps[0].line, "set uart1  0  3 0  \n");

  v.counterDirection = 0;
  v.role = 1;
  plan = card::PlanAdvanced(copy, v);
  std::vector<std::string> lines;
  for (const auto& s : plan.steps) lines.push_back(s.line);
  EXPECT_EQ(lines, (std::vector<std::string>{"set safedi 0  \n", "set uart1  0  3 0  \n", "set RoleMorS  1 \n",
                                             "set xyilne  9 0\n"}));
  EXPECT_EQ(plan.steps[0].pauseMs, 1000);
}

TEST_F(Advanced, AFailedConnectOrSendStopsWithTheCopyAtWhatWasSent) {
  card::AdvancedValues v = card::AdvancedFromRecord(copy);
  v.blue = 1;
  v.voice = 1;
  link.queueConnectResult(-1);
  EXPECT_EQ(Save(v), card::AdvancedOutcome::Failed);
  EXPECT_TRUE(link.sent().empty());
  EXPECT_EQ(copy, Card());

  link.failSendsFrom(3);  // the voice line does not go out
  EXPECT_EQ(Save(v), card::AdvancedOutcome::Failed);
  EXPECT_EQ(copy.u8(rec::kBlueSwitch), 85);
  EXPECT_EQ(copy.u8(rec::kVoiceSwitch), 0);
  EXPECT_FALSE(link.connected());
  EXPECT_EQ(user.texts(), (std::vector<std::string>{"连接设备失败", "连接设备失败"}));
}

TEST_F(Advanced, ACancelEndsTheStepsAfterTheLineInFlight) {
  platform::CancellableClock cancellable(clock);
  link.onSend([&](const std::string& line) {
    if (line.rfind("set Blue_Disable", 0) == 0) cancellable.cancel();
  });
  card::AdvancedValues v = card::AdvancedFromRecord(copy);
  v.script = 1;
  v.blue = 1;
  v.voice = 1;
  EXPECT_THROW(card::SaveAdvanced(link, cancellable, user, nullptr, "192.168.1.20", &copy, v),
               platform::OperationAborted);
  EXPECT_EQ(FieldLines(link), (std::vector<std::string>{"set Script_Enable  85    \n", "set Blue_Disable  85    \n"}));
  EXPECT_EQ(copy.u8(rec::kBlueSwitch), 85);
  EXPECT_EQ(copy.u8(rec::kVoiceSwitch), 0);
  EXPECT_FALSE(link.connected());
}

TEST_F(Advanced, FixedSettingsGoToTheCardAtTheClick) {
  ASSERT_TRUE(card::SwitchFixedNetwork(link, clock, user, "192.168.1.20", &copy, false));
  card::DeviceStatusRecord off = Card();
  off.setU8(255, 0);
  EXPECT_EQ(Trace(link), (std::vector<std::string>{
                             "0 connect 192.168.1.20",
                             platform::Format("0 send set Sys_Crc %x \n", card::Crc32(off.data(), 256)),
                             "2500 send set local_ip_user  0  \n",
                             "2500 disconnect ",
                         }));
  EXPECT_EQ(copy.u8(255), 0);
  link.queueConnectResult(-1);
  EXPECT_FALSE(card::SwitchFixedNetwork(link, clock, user, "192.168.1.20", &copy, true));
  EXPECT_EQ(copy.u8(255), 0);
  EXPECT_EQ(user.texts(), (std::vector<std::string>{"连接设备失败"}));
}
