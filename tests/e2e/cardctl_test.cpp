// The terminal tool against virtual cards: a backup restored onto a changed
// card makes it equal the backup again; a clone to ten cards leaves each
// equal to the source but for its identity; a card that stops taking
// connections is reported while the others complete; the command line
// refuses bad values before anything is sent.
#include <sys/wait.h>

#include <cstdio>
#include <memory>
#include <mutex>
#include <sstream>

#include "cardctl/cardctl.h"
#include "cardctl/fields.h"
#include "e2e/fixture.h"
#include "modbus/master_table.h"
#include "platform/codec.h"
#include "platform/text.h"
#include "support/temp_dir.h"

namespace e2e {
namespace {

namespace rec = card::rec;
using card::cli::Target;

class CardctlTest : public CardSimTest {
 protected:
  card::LinkFactory Links() {
    return [lib = lib_](int port) { return lib->CreateLink(port); };
  }
  std::unique_ptr<Target> TargetFor(const std::string& address) {
    return std::make_unique<Target>(Links(), address, fast_, user_, work_.path() + "/" + address);
  }
  // What a card holds, read back through the tool.
  card::cli::CardState Read(const std::string& address) {
    auto t = TargetFor(address);
    auto s = card::cli::ReadCardState(*t, true);
    EXPECT_TRUE(s.has_value()) << address;
    return s.value_or(card::cli::CardState{});
  }
  // Changes a card the way an installer would: panel, advanced settings,
  // Modbus requests, script and a program.
  void Configure(const std::string& address) {
    auto t = TargetFor(address);
    auto card = card::cli::ReadCard(*t);
    ASSERT_TRUE(card);
    card::DeviceStatusRecord want = *card;
    for (const char* a : {"brightness=25", "display_target=5", "width=256", "refresh_rate=7", "server_port=9000"})
      ASSERT_FALSE(card::cli::ApplyAssignment(&want, a)) << a;
    want.setU8(rec::kScriptStart, 85);                     // advanced: "脚本启动" on
    want.setU8(rec::kModuleWidth, 64);                     // panel driver
    auto table = card::modbus::ReadEntries(want);          // a third Modbus request
    table[2] = table[0];
    table[2].slave = 9;
    for (std::size_t i = 0; i < table.size(); ++i) card::modbus::WriteEntry(&want, i, table[i]);
    ASSERT_TRUE(card::cli::ApplyRecord(*t, *card, want));
    card::Snapshot content;
    content.record = card::cli::ReadCard(*t).value();
    content.script = std::string("a=1\r\nshow a\r\n");
    content.programs[1] = platform::Utf8ToGbk("节目二\n温度 23℃\n");
    auto now = card::cli::ReadCardState(*t, true);
    ASSERT_TRUE(now);
    ASSERT_TRUE(card::cli::ApplySnapshot(*t, *now, content, {}));
  }
  static std::string DifferingOffsets(const card::DeviceStatusRecord& a, const card::DeviceStatusRecord& b) {
    std::string out = "differs at";
    for (std::size_t i = 0; i < rec::kSize; ++i)
      if (a.u8(i) != b.u8(i)) out += platform::Format(" %zu:%02x/%02x", i, a.u8(i), b.u8(i));
    return out;
  }
  // Everything but the identity the clone keeps.
  static card::DeviceStatusRecord Settings(const card::DeviceStatusRecord& r, const card::DeviceStatusRecord& identity) {
    card::DeviceStatusRecord out = card::cli::KeepIdentity(r, identity);
    out.updateChecksum();
    return out;
  }

  void TearDown() override {
    if (HasFailure()) std::cerr << "operations said:\n" << log_.str();
    CardSimTest::TearDown();
  }

  std::mutex lock_;
  std::ostringstream log_;
  card::cli::ConsoleUser user_{log_, lock_, "", true};
  testing_support::TempDir work_;
};

TEST_F(CardctlTest, ABackupRestoredOntoAChangedCardMakesItEqualTheBackupAgain) {
  StartSim({"--cards", "1", "--boot-ms", "200"});
  Configure(kCard0);
  auto t = TargetFor(kCard0);
  auto before = card::cli::ReadCardState(*t, true);
  ASSERT_TRUE(before);
  ASSERT_EQ(before->programs.size(), 1u);
  const card::Snapshot snap = card::cli::SnapshotOf(*before, kCard0, "6.2");
  ASSERT_TRUE(card::WriteSnapshot(work_.file("a.snap"), snap));

  // Someone changes the card afterwards.
  card::DeviceStatusRecord changed = before->record;
  ASSERT_FALSE(card::cli::ApplyAssignment(&changed, "brightness=3"));
  ASSERT_FALSE(card::cli::ApplyAssignment(&changed, "rs485_mode=2"));
  changed.setU8(rec::kFoldRows, 2);
  ASSERT_TRUE(card::cli::ApplyRecord(*t, before->record, changed));
  card::Snapshot other = snap;
  other.record = changed;
  other.script = std::string("b=2\r\n");
  other.programs = {{0, "zero\n"}};
  ASSERT_TRUE(card::cli::ApplySnapshot(*t, Read(kCard0), other, {}));

  const std::size_t sentBefore = Received(kCard0, card::kCommandPort).size();
  auto read = card::ReadSnapshot(work_.file("a.snap"));
  ASSERT_TRUE(read.ok());
  ASSERT_TRUE(card::cli::ApplySnapshot(*t, Read(kCard0), read.snapshot, {}));
  auto after = Read(kCard0);
  EXPECT_TRUE(after.record == before->record);
  EXPECT_EQ(StoredRecord(0), before->record) << "the card's own copy";
  EXPECT_EQ(after.script, before->script);
  EXPECT_EQ(after.programs, before->programs);
  EXPECT_EQ(StatusValue(0, "crc_mismatches"), 0);
  // Only what differed went out: no line for the width that never changed.
  const std::string sent = Received(kCard0, card::kCommandPort).substr(sentBefore);
  EXPECT_NE(sent.find("set ld 25 \n"), std::string::npos);
  EXPECT_EQ(sent.find("set soft "), std::string::npos) << sent;
}

TEST_F(CardctlTest, ACloneLeavesEachCardEqualToTheSourceButForItsIdentity) {
  StartSim({"--cards", "10", "--boot-ms", "200"});
  Configure(kCard0);
  const auto source = Read(kCard0);
  const card::Snapshot snap = card::cli::SnapshotOf(source, kCard0, "6.2");
  std::vector<std::thread> jobs;
  std::vector<int> ok(9, 0);
  for (int i = 1; i < 10; ++i)
    jobs.emplace_back([&, i] {
      const std::string address = platform::Format("127.0.0.%d", 10 + i);
      auto t = TargetFor(address);
      auto state = card::cli::ReadCardState(*t, true);
      ok[static_cast<std::size_t>(i - 1)] = state ? (card::cli::ApplySnapshot(*t, *state, snap, {}) ? 1 : 2) : 3;
    });
  for (auto& j : jobs) j.join();
  for (int i = 1; i < 10; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(ok[static_cast<std::size_t>(i - 1)], 1);
    // The card writes its state a moment after it acted on the last line.
    card::DeviceStatusRecord r;
    EXPECT_TRUE(Eventually([&] {
      r = StoredRecord(i);
      return r == Settings(source.record, r);
    })) << DifferingOffsets(r, Settings(source.record, r));
    EXPECT_EQ(card::AddressText(r), platform::Format("127.0.0.%d", 10 + i)) << "its own address";
    EXPECT_NE(card::MacText(r), card::MacText(source.record)) << "its own MAC";
    EXPECT_EQ(StatusValue(i, "crc_mismatches"), 0);
  }
  const auto one = Read("127.0.0.15");
  EXPECT_EQ(one.script, source.script);
  EXPECT_EQ(one.programs, source.programs);
}

TEST_F(CardctlTest, TheCommandLineRefusesBeforeSendingAndReportsACardThatStopsAnswering) {
  // The third card takes two connections (its read), then refuses.
  StartSim({"--cards", "3", "--boot-ms", "200"});
  StartSim({"--address", "127.0.0.30", "--refuse-after", "2"});
  std::string out;
  const std::size_t before = Received(kCard0, card::kCommandPort).size();
  EXPECT_EQ(RunCardctl({"set", kCard0, "brightness=25", "width=99999"}, &out), 2) << out;
  EXPECT_NE(out.find("像素宽点数"), std::string::npos) << out;
  EXPECT_EQ(Received(kCard0, card::kCommandPort).find("set ", before), std::string::npos)
      << "the card is read, but no setting goes out for a refused value";

  out.clear();
  ASSERT_EQ(RunCardctl({"set", kCard0, "brightness=25", "display_target=6-- 行8S_折16"}, &out), 0) << out;
  EXPECT_EQ(StoredRecord(0).u8(rec::kBrightness), 25);
  out.clear();
  ASSERT_EQ(RunCardctl({"backup", kCard0, work_.file("c.snap")}, &out), 0) << out;
  out.clear();
  ASSERT_EQ(RunCardctl({"restore", work_.file("c.snap"), kCard1, "--dry-run"}, &out), 0) << out;
  EXPECT_NE(out.find("set ld 25 \\n"), std::string::npos) << out;
  EXPECT_NE(StoredRecord(1).u8(rec::kBrightness), 25) << "a dry run sends nothing";

  out.clear();
  EXPECT_EQ(RunCardctl({"--lang", "en", "clone", work_.file("c.snap"), kCard1, "127.0.0.12", "127.0.0.30"}, &out), 1) << out;
  EXPECT_NE(out.find("127.0.0.30  failed"), std::string::npos) << out;
  EXPECT_NE(out.find("2 done, 1 failed"), std::string::npos) << out;
  EXPECT_EQ(StoredRecord(1).u8(rec::kBrightness), 25);
  EXPECT_EQ(StoredRecord(2).u8(rec::kBrightness), 25);

  // A damaged backup is refused.
  std::string bytes = testing_support::ReadFile(work_.file("c.snap"));
  bytes[bytes.size() / 2] ^= 0x20;
  testing_support::WriteFile(work_.file("d.snap"), bytes);
  out.clear();
  EXPECT_EQ(RunCardctl({"restore", work_.file("d.snap"), kCard1}, &out), 2) << out;
}

}  // namespace
}  // namespace e2e
