// The advanced settings and the panel driver parameters over the real driver
// against a virtual card: afterwards the card keeps exactly the record the
// tool holds, every announced checksum matched, and a cancelled run sends
// nothing more.
#include <thread>

#include "e2e/fixture.h"
#include "params/advanced.h"
#include "params/discovery.h"
#include "params/panel.h"
#include "params/panel_driver.h"
#include "support/fake_ports.h"
#include "support/main_fixture.h"

namespace e2e {
namespace {

namespace rec = card::rec;
using testing_support::ReadFile;

class ParamsDialogsTest : public CardSimTest {
 protected:
  void SetUp() override {
    CardSimTest::SetUp();
    if (IsSkipped()) return;
    testing_support::UseUtc();
    search_ = lib_->CreateSearch();
    command_ = lib_->CreateLink(card::kCommandPort);
    recovery_ = lib_->CreateLink(card::kRecoveryPort);
    ctx_ = std::make_unique<card::PanelContext>(card::PanelContext{*command_, fast_, user_, panel_, state_, cfg_});
    open_ = std::make_unique<card::OpenContext>(card::OpenContext{search_.get(), *recovery_, list_, siblings_, [] {}});
    state_.setLocalAddress(kLocal);
    ASSERT_EQ(search_->Connect(kLocal), 0);
    StartSim({"--cards", "1", "--firmware", "39.2.1"});
    card::SearchBody(*ctx_, *open_, false);
    ASSERT_EQ(state_.selectedAddress(), kCard0);
    ASSERT_EQ(state_.record(), StoredRecord());
  }

  card::DeviceStatusRecord StoredRecord() {
    const std::string bytes = ReadFile(StateFile(0, "record.bin"));
    EXPECT_EQ(bytes.size(), rec::kSize);
    return card::CopyRecord(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), 0);
  }
  // The card's record file holds the WorkingRecord byte for byte, and the
  // card never counted a checksum that did not match.
  void ExpectCardHoldsTheWorkingRecord() {
    EXPECT_TRUE(Eventually([&] { return StoredRecord() == state_.record(); }));
    EXPECT_EQ(StoredRecord(), state_.record());
    EXPECT_EQ(StatusValue(0, "crc_mismatches"), 0);
  }
  // Lines the card got on the dialogs' port (1002).
  std::string DialogWire() { return Received(kCard0, card::kFilePort); }

  static card::AdvancedValues ManyChanges(const card::DeviceStatusRecord& r) {
    card::AdvancedValues v = card::AdvancedFromRecord(r);
    v.mask = "255.255.255.0";
    v.gateway = "127.0.0.254";
    v.mac[5] = "7E";
    v.deviceName = "2023显示屏一号0000000000";
    v.counterStart = {"12", "0", "499", "0", "0"};
    v = {.dataBits = 1, .stopBits = 0, .parity = 2, .rs485Heartbeat = 1, .rs485Interval = 45, .dailyRestart = true,
         .hour = 4, .minute = 30, .second = 0, .fixedAllowed = true, .fixedNetwork = true, .gateway = v.gateway,
         .mask = v.mask, .dns = v.dns, .startDelay = 1, .startDelaySeconds = 8, .serverHeartbeat = 1,
         .serverInterval = 20, .modbusStorage = 1, .counterDirection = 1, .counterStart = v.counterStart, .mac = v.mac,
         .deviceName = v.deviceName, .blue = 1, .voice = 1, .script = 1, .role = 1, .splitX = 2, .splitY = 3};
    return v;
  }

  testing_support::TempDir dir_;
  platform::VirtualClock stamps_;
  testing_support::FakeUser user_{&stamps_};
  testing_support::FakeList list_;
  testing_support::FakePanel panel_;
  testing_support::FakeProcesses processes_;
  card::MainState state_;
  card::SysCfg cfg_{dir_.file("SysCfg.ini")};
  card::Siblings siblings_{processes_, dir_.path() + "/"};
  std::unique_ptr<card::Channel> search_, command_, recovery_;
  std::unique_ptr<card::PanelContext> ctx_;
  std::unique_ptr<card::OpenContext> open_;
};

}  // namespace

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

}  // namespace e2e
