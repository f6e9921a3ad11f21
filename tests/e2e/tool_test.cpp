// The tool's own operations over the real driver against virtual cards: the
// search, opening a card, submitting the panel, the network and clock steps,
// restarts, opening a card by its address, and the parameter dialogs.
#include <cstdlib>
#include <ctime>
#include <thread>

#include "e2e/fixture.h"
#include "params/advanced.h"
#include "params/discovery.h"
#include "params/network.h"
#include "params/panel.h"
#include "params/panel_driver.h"
#include "platform/ini.h"
#include "platform/text.h"
#include "support/fake_ports.h"
#include "support/main_fixture.h"

namespace e2e {
namespace {

namespace rec = card::rec;
using testing_support::ReadFile;

class ToolTest : public ToolContextTest {
 protected:
  // The command lines with their checksum announcements left out, checking
  // that each one had its announcement right before it.
  static std::vector<std::string> FieldLines(const std::string& received) {
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < received.size();) {
      std::size_t nl = received.find('\n', start);
      if (nl == std::string::npos) nl = received.size() - 1;
      lines.push_back(received.substr(start, nl + 1 - start));
      start = nl + 1;
    }
    return testing_support::FieldLinesOf(lines);
  }
  std::string ini(const char* section, const char* key) {
    return platform::ReadIniKey(cfg_.path(), section, key, "<none>", 260);
  }

};

TEST_F(ToolTest, SearchOpenSubmitAndReadBack) {
  StartSim({"--cards", "3", "--firmware", "39.2.1"});
  SearchAndOpen();
  auto rows = list_.rows();
  ASSERT_EQ(rows.size(), 3u);
  for (const auto& row : rows)
    for (const std::string* text : {&row.number, &row.serial, &row.address, &row.autoIp, &row.status, &row.mac,
                                    &row.firmware, &row.platform})
      EXPECT_FALSE(text->empty());
  EXPECT_EQ(rows[2].address, "127.0.0.12");
  EXPECT_EQ(rows[2].firmware, "39.2.1");
  // The last card found is open and shown.
  EXPECT_EQ(state_.selectedAddress(), "127.0.0.12");
  EXPECT_TRUE(state_.cardOpened());
  EXPECT_EQ(timerStarts_, 1);
  EXPECT_EQ(panel_.values.cardIp, "127.0.0.12");
  EXPECT_EQ(state_.record(), StoredRecord(2));
  EXPECT_TRUE(user_.shown().empty());
  const std::string before = Received("127.0.0.12", card::kCommandPort);

  card::PanelValues& p = panel_.values;
  p.widthText = "256";
  p.target = 5;  // "6-- 行8S_折16"
  p.oe = 1;
  p.data = 1;
  p.mode = 2;
  p.refresh = 7;
  p.brightness = 25;
  p.modbus = 9;
  p.rs485 = 1;
  p.devNo = 2;
  p.service = 3;
  p.baud = 5;
  card::SubmitAll(*ctx_);
  EXPECT_TRUE(user_.shown().empty());

  const std::string sent = Received("127.0.0.12", card::kCommandPort).substr(before.size());
  auto lines = FieldLines(sent);
  ASSERT_EQ(lines.size(), 14u) << sent;
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 12),
            (std::vector<std::string>{"set chrct machine 8801 \n", "set hard 128 0 2\n", "set soft 256 32 \n",
                                      "set LED_OEP 1 \n", "set LED_DATP 1 \n", "set pl 7 \n",
                                      "set modbus_dev_addr 9 \n", "set Modebus_Master 1 \n", "set _315MHZ 2 \n",
                                      "set SEVER_M 3 \n", "set baud 19200 8 0 1 \n", "set ld 25 \n"}));
  // Then the clock step, whose line ends with a line feed and two blanks.
  EXPECT_EQ(lines[12].rfind("set time ", 0), 0u);
  EXPECT_EQ(lines[13], "  ");

  // The card holds the new values with a correct checksum, and agreed with
  // every announcement.
  auto r = StoredRecord(2);
  EXPECT_EQ(r.u16(rec::kCodeWord), 0x8801);
  EXPECT_EQ(r.u16(rec::kWidth), 256);
  EXPECT_EQ(r.u8(rec::kDisplayMode), 2);
  EXPECT_EQ(r.u8(rec::kOePolarity), 1);
  EXPECT_EQ(r.u8(rec::kDataPolarity), 1);
  EXPECT_EQ(r.u8(rec::kRefreshRate), 7);
  EXPECT_EQ(r.u8(rec::kBrightness), 25);
  EXPECT_EQ(r.u16(rec::kModbusAddress), 9);
  EXPECT_EQ(r.u8(rec::kRs485Mode), 1);
  EXPECT_EQ(r.u8(rec::kDevelopmentNo), 2);
  EXPECT_EQ(r.u8(rec::kServiceType), 3);
  EXPECT_EQ(r.u16(rec::kBaudRate), 19200);
  EXPECT_TRUE(card::VerifyChecksum(r));
  EXPECT_EQ(StatusValue(2, "crc_mismatches"), 0);
  EXPECT_GE(StatusValue(2, "crc_checks"), 12);
  EXPECT_EQ(state_.record(), r);
  // The vertical mode: the viewer's width is the panel height.
  EXPECT_EQ(ini("LEDPARA", "WIDTH"), "32");
  EXPECT_EQ(ini("LEDPARA", "HEIGHT"), "256");

  // Reading the card again shows the new values.
  panel_.values = card::PanelValues{};
  card::ReadRecord(*ctx_, *open_);
  EXPECT_EQ(panel_.values.widthText, "256");
  EXPECT_EQ(panel_.values.target, 5);
  EXPECT_EQ(panel_.values.baud, 5);
  EXPECT_EQ(panel_.values.brightness, 25);
}

TEST_F(ToolTest, UnchangedSubmitSetsOnlyTheClock) {
  StartSim();
  SearchAndOpen();
  const std::size_t before = Received(kCard0, card::kCommandPort).size();
  card::SubmitAll(*ctx_);
  const std::string sent = Received(kCard0, card::kCommandPort).substr(before);
  EXPECT_EQ(sent.rfind("set time ", 0), 0u) << sent;
  EXPECT_EQ(sent.find("set ", 1), std::string::npos) << sent;
  EXPECT_EQ(ini("RemotIP", "RemotIP"), kCard0);
  // The virtual card's clock now reads the PC's time.
  ASSERT_TRUE(Eventually([&] { return StatusValue(0, "clock_offset_s") != -1; }));
  EXPECT_LE(std::labs(StatusValue(0, "clock_offset_s")), 2);
}

TEST_F(ToolTest, NewAddressRestartsTheCardWhichIsFoundThereAgain) {
  StartSim();
  SearchAndOpen();
  panel_.values.cardIp = "127.0.0.40";
  panel_.values.serverIp = "127.0.0.2";
  panel_.values.serverPort = "9000";
  card::SubmitAll(*ctx_);
  EXPECT_EQ(user_.texts(), (std::vector<std::string>{card::kMsgReaddressed}));
  EXPECT_EQ(panel_.values.widthText, "");
  EXPECT_EQ(ini("RemotIP", "RemotIP"), "127.0.0.40");
  // The card comes back at its new address with the server settings it got
  // in the same submit.
  card::DeviceStatusRecord found;
  ASSERT_TRUE(Eventually(
      [&] {
        SearchAndOpen();
        auto rows = list_.rows();
        return rows.size() == 1 && rows[0].address == "127.0.0.40";
      },
      10000));
  auto r = state_.record();
  EXPECT_EQ(card::AddressText(r), "127.0.0.40");
  EXPECT_EQ(card::Ipv4Text(r, rec::kServerAddress), "127.0.0.2");
  EXPECT_EQ(r.u16(rec::kServerPort), 9000);
  EXPECT_EQ(StatusValue(0, "crc_mismatches"), 0);
}

TEST_F(ToolTest, RestartAndBroadcastRestart) {
  StartSim();
  SearchAndOpen();
  card::RestartCard(*ctx_, search_.get());
  ASSERT_EQ(user_.texts(), (std::vector<std::string>{"复位成功"}));
  EXPECT_EQ(panel_.values.cardIp, "");
  ASSERT_TRUE(Eventually([&] { return StatusValue(0, "restarts") == 1; }));
  // The card is back after its boot delay.
  ASSERT_TRUE(Eventually([&] { return command_->Connect(kCard0) == 0; }, 10000));
  command_->Disconnect();

  // By broadcast: a fixed address for a card that is not reachable directly.
  panel_.values.broadcast = true;
  panel_.values.autoIp = false;
  panel_.values.cardIp = "127.0.0.60";
  card::RestartCard(*ctx_, search_.get());
  EXPECT_EQ(user_.texts().size(), 1u);  // no message on this path
  ASSERT_TRUE(Eventually([&] { return command_->Connect("127.0.0.60") == 0; }, 10000));
  command_->Disconnect();
  ASSERT_TRUE(Eventually([&] { return card::AddressText(StoredRecord(0)) == "127.0.0.60"; }));
  EXPECT_EQ(StoredRecord(0).u8(rec::kIpMode), 1);
  EXPECT_EQ(StatusValue(0, "crc_mismatches"), 0);
}

TEST_F(ToolTest, TheStorageLockReachesTheCard) {
  StartSim({"--firmware", "17.0.0"});
  SearchAndOpen();
  panel_.values.lock = true;
  card::SubmitAll(*ctx_);
  EXPECT_EQ(StoredRecord(0).u8(rec::kLock), 1);
  EXPECT_NE(Received(kCard0, card::kCommandPort).find("set Store_lock on \n  "), std::string::npos);
  panel_.values.lock = false;
  card::SubmitAll(*ctx_);
  EXPECT_EQ(StoredRecord(0).u8(rec::kLock), 0);
  EXPECT_EQ(StatusValue(0, "crc_mismatches"), 0);
}

TEST_F(ToolTest, ACardThatDoesNotAnswerTheSearchOpensByAddress) {
  StartSim({"--no-search"});
  SearchAndOpen();
  EXPECT_TRUE(list_.rows().empty());
  EXPECT_EQ(user_.texts(), (std::vector<std::string>{card::kMsgNoCardFound}));
  // "添加设备" with the card's address.
  for (int i = 0; i < 2; ++i) {
    state_.setSelectedAddress(kCard0);
    card::OpenCard(*ctx_, *open_);
  }
  auto rows = list_.rows();
  ASSERT_EQ(rows.size(), 1u);  // read again, not listed twice
  EXPECT_EQ(rows[0].number, " 1");
  EXPECT_EQ(rows[0].address, kCard0);
  EXPECT_EQ(panel_.values.cardIp, kCard0);
  EXPECT_TRUE(state_.cardOpened());
  EXPECT_EQ(user_.texts().size(), 1u);
}

TEST_F(ToolTest, MalformedOrUnreachableAddressesFailWithMessages) {
  StartSim();
  for (const char* address : {"300.1.2.3", "abc", "127.0.0.99"}) {
    state_.setSelectedAddress(address);
    card::OpenCard(*ctx_, *open_);
  }
  auto texts = user_.texts();
  // Per address: the read and the probe cannot connect.
  EXPECT_EQ(std::count(texts.begin(), texts.end(), std::string("连接设备失败")), 6) << texts.size();
  EXPECT_TRUE(list_.rows().empty());
}

TEST_F(ToolTest, ACardInItsRecoveryFirmwareGoesToTheLoader) {
  StartSim({"--recovery"});
  state_.setSelectedAddress(kCard0);
  card::OpenCard(*ctx_, *open_);
  auto texts = user_.texts();
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back(), card::kMsgRecovery);
  EXPECT_EQ(ini("LEDPARA", "Restore_En"), "1");
  EXPECT_EQ(ini("RemotIP", "RemotIP"), kCard0);
  EXPECT_EQ(processes_.started, (std::vector<std::string>{dir_.path() + "/fwloader"}));
}

TEST_F(ToolTest, BroadcastSearchBootsTheCardAndBroadcastReadFindsItBySerial) {
  StartSim({"--cards", "2", "--boot-ms", "300"});
  SearchAndOpen();
  ASSERT_EQ(list_.rows().size(), 2u);
  const std::string serial = list_.rows()[0].serial;

  panel_.values.broadcast = true;
  SearchAndOpen();
  // Both cards were flagged, restarted, and answered the boot query.
  EXPECT_EQ(list_.rows().size(), 2u);
  EXPECT_NE(Received("*", card::kSearchPort).find("set S_Foctory 0x80 \n"), std::string::npos);
  EXPECT_EQ(StatusValue(0, "restarts"), 1);

  // Read by broadcast: only the card with this serial answers.
  state_.setSelectedSerial(serial);
  card::ReadRecord(*ctx_, *open_);
  EXPECT_EQ(panel_.values.cardIp, kCard0);
}

// The parameter dialogs' operations on their own link (port 1002): afterwards
// the card keeps exactly the WorkingRecord and every announced checksum
// matched; a cancelled run sends nothing more.
class ParamsDialogsTest : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    if (IsSkipped()) return;
    StartSim({"--cards", "1", "--firmware", "39.2.1"});
    SearchAndOpen();
    ASSERT_EQ(state_.record(), StoredRecord());
  }
  void ExpectCardHoldsTheWorkingRecord() {
    EXPECT_TRUE(Eventually([&] { return StoredRecord() == state_.record(); }));
    EXPECT_EQ(StatusValue(0, "crc_mismatches"), 0);
  }
  std::string DialogWire() { return Received(kCard0, card::kFilePort); }
  static card::AdvancedValues ManyChanges(const card::DeviceStatusRecord& r) {
    card::AdvancedValues v = card::AdvancedFromRecord(r);
    v = {.dataBits = 1, .stopBits = 0, .parity = 2, .rs485Heartbeat = 1, .rs485Interval = 45, .dailyRestart = true,
         .hour = 4, .minute = 30, .second = 0, .fixedAllowed = true, .fixedNetwork = true, .gateway = "127.0.0.254",
         .mask = "255.255.255.0", .dns = v.dns, .startDelay = 1, .startDelaySeconds = 8, .serverHeartbeat = 1,
         .serverInterval = 20, .modbusStorage = 1, .counterDirection = 1, .counterStart = {"12", "0", "499", "0", "0"},
         .mac = {v.mac[0], v.mac[1], v.mac[2], v.mac[3], v.mac[4], "7E"}, .deviceName = "2023显示屏一号0000000000",
         .blue = 1, .voice = 1, .script = 1, .role = 1, .splitX = 2, .splitY = 3};
    return v;
  }
};

TEST_F(ParamsDialogsTest, AdvancedOkLeavesTheCardWithTheToolsRecord) {
  card::DeviceStatusRecord copy = state_.record();
  auto link = Link(card::kFilePort);
  ASSERT_EQ(card::SaveAdvanced(*link, fast_, user_, nullptr, state_.selectedAddress(), &copy, ManyChanges(copy)),
            card::AdvancedOutcome::Confirmed);
  EXPECT_TRUE(user_.shown().empty());
  state_.setRecord(copy);  // the hand-over when the dialog closes
  ExpectCardHoldsTheWorkingRecord();
  EXPECT_EQ(StoredRecord().u16(rec::kServerHeartbeatInterval), 2000);
  EXPECT_EQ(StatusValue(0, "crc_checks"), 20) << "one check per line";

  // "启用固定设置" at its click, on a link of its own connection.
  ASSERT_TRUE(card::SwitchFixedNetwork(*link, fast_, user_, state_.selectedAddress(), &copy, false));
  state_.setRecord(copy);
  ExpectCardHoldsTheWorkingRecord();
  EXPECT_EQ(StoredRecord().u8(rec::kFixedNetwork), 0);
  // The card answers searches under its new name.
  card::SearchBody(*ctx_, *open_, false);
  ASSERT_EQ(list_.rows().size(), 1u);
  EXPECT_EQ(list_.rows()[0].serial, "2023显示屏一号0000000000");
}

TEST_F(ParamsDialogsTest, PanelDriverSaveAndTheFollowOnSubmitLeaveTheCardWithTheToolsRecord) {
  card::DeviceStatusRecord copy = state_.record();
  const card::PanelDriverValues v{.width = 8, .height = 8, .scan = 6, .chip = 5, .foldWidth = 4, .uFold = 1,
                                  .dzFold = 0, .snake = 1, .foldRows = 2, .conversion = 1};
  auto link = Link(card::kFilePort);
  ASSERT_TRUE(card::SaveLedPara(*link, fast_, user_, state_.selectedAddress(), &copy, v));
  EXPECT_NE(DialogWire().find("set ledpara  64 32 16 64 4 16 1 1 1 5 0 0 0 \n"), std::string::npos) << DialogWire();

  // What the main window does once the dialog closed.
  state_.setRecord(copy);
  panel_.values = card::PanelAfterPanelDriver(panel_.values, copy);
  panel_.values.target = 22;
  const std::string before = Received(kCard0, card::kCommandPort);
  card::SubmitAll(*ctx_);
  EXPECT_TRUE(user_.shown().empty());
  EXPECT_NE(Received(kCard0, card::kCommandPort).find("set chrct machine 88ff \n", before.size()), std::string::npos);
  ExpectCardHoldsTheWorkingRecord();
  EXPECT_EQ(StoredRecord().u16(rec::kCodeWord), 0x88FF);
}

TEST_F(ParamsDialogsTest, ACancelledAdvancedRunSendsNothingMore) {
  card::DeviceStatusRecord copy = state_.record();
  auto link = Link(card::kFilePort);
  platform::CancellableClock clock(fast_);
  bool aborted = false;
  std::thread run([&] {
    try {
      card::SaveAdvanced(*link, clock, user_, nullptr, state_.selectedAddress(), &copy, ManyChanges(copy));
    } catch (const platform::OperationAborted&) {
      aborted = true;
    }
  });
  ASSERT_TRUE(Eventually([&] { return DialogWire().find("set Mac ") != std::string::npos; }, 10000));
  clock.cancel();
  run.join();
  EXPECT_TRUE(aborted);
  const std::string atCancel = DialogWire();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(DialogWire(), atCancel);
  EXPECT_EQ(atCancel.find("set SFE_Disable"), std::string::npos);
  // The copy holds what went out, and the card agrees with it.
  state_.setRecord(copy);
  ExpectCardHoldsTheWorkingRecord();
  EXPECT_EQ(StoredRecord().u16(rec::kMac + 10), 0x7E);
}

}  // namespace
}  // namespace e2e
