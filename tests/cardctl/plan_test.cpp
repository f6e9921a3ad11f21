// The plan of a change: every setting that can be set is carried by some
// line (none is reported done while nothing carries it); the questions a
// run would ask are known before it starts; only the programs meant are
// touched; a card that already holds everything gets no line; a restarted
// card is waited for by the clock, however long each attempt takes.
#include "cardctl/cardctl.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "platform/text.h"
#include "storage/script.h"
#include "support/main_fixture.h"
#include "support/temp_dir.h"

namespace cli = card::cli;
namespace rec = card::rec;

namespace {

// Every item of a list, or a few values of a range.
std::vector<std::string> ValuesOf(const cli::Field& f) {
  if (!f.items.empty()) {
    std::vector<std::string> v;
    for (std::size_t i = 0; i < f.items.size(); ++i) v.push_back("#" + std::to_string(i));
    return v;
  }
  if (f.kind == cli::ValueKind::Number) return {"0", "7", "59", "499", "2000", "65535"};
  return {"10.1.2.3", "255.255.0.0", "0.0.0.0"};
}

cli::CardState Card(const card::DeviceStatusRecord& r) {
  cli::CardState s;
  s.record = r;
  return s;
}

}  // namespace

TEST(Plan, EverySettableValueIsCarriedByALineOrRefusedBeforeAnythingGoesOut) {
  // The plans' working files in memory: each plan writes SysCfg.ini whole, a disk would sync it.
  char tmpl[] = "/dev/shm/cardctl-plans-XXXXXX";
  const std::string shm = ::mkdtemp(tmpl) ? tmpl : "";
  testing_support::TempDir fallback;
  struct Gone {
    std::string path;
    ~Gone() {
      if (!path.empty()) std::filesystem::remove_all(path);
    }
  } gone{shm};
  const std::string dir = shm.empty() ? fallback.path() : shm;
  // A card with every switch off: the values they guard must still reach it.
  card::DeviceStatusRecord base = testing_support::CardRecord("192.168.1.20", 39);
  base.setU8(rec::kIpMode, 1);
  base.updateChecksum();
  int planned = 0;
  for (const cli::Field& f : cli::Fields()) {
    if (!f.set) continue;
    for (const std::string& value : ValuesOf(f)) {
      cli::Desired d;
      d.record = base;
      d.withNetwork = true;  // the card's own address and addressing are compared too
      if (cli::ApplyValue(&d.record, f.name, value)) continue;  // refused up front, with its reason
      if (f.show(d.record) == f.show(base)) continue;
      const cli::Plan plan = cli::MakePlan("192.168.1.20", Card(base), d, dir + "/plan");
      ++planned;
      EXPECT_TRUE(plan.ok) << f.name << "=" << value << ": " << plan.failure;
      std::string left;
      for (const cli::Field* n : plan.notCarried) left += n->name + " ";
      EXPECT_TRUE(plan.notCarried.empty()) << f.name << "=" << value << " leaves " << left;
      EXPECT_FALSE(plan.empty()) << f.name << "=" << value;
      ASSERT_FALSE(plan.changes.empty()) << f.name;
      EXPECT_EQ(plan.changes[0]->name, f.name);
    }
  }
  EXPECT_GT(planned, 600);
}

TEST(Plan, QuestionsAreKnownBeforehandOnlyTheMeantProgramsAreTouchedAndNothingIsSentForNothing) {
  testing_support::TempDir dir;
  cli::CardState card = Card(testing_support::CardRecord("192.168.1.20", 39));
  card.contentsRead = true;
  card.script = std::string("a=1\r\n");
  card.programs = {{0, "zero\n"}, {2, "two\n"}};

  cli::Desired same;
  same.record = card.record;
  same.script = card.script;
  same.programs = card.programs;
  const cli::Plan nothing = cli::MakePlan("192.168.1.20", card, same, dir.path() + "/p0");
  EXPECT_TRUE(nothing.empty()) << "not even the clock: " << (nothing.lines.empty() ? "" : nothing.lines[0].bytes);
  EXPECT_TRUE(nothing.questions.empty());

  cli::Desired d = same;
  d.script = std::string();  // clears the card's script: asked first
  d.programs = {{1, "one\n"}, {2, "two\n"}};
  d.record.setU8(rec::kBrightness, 25);
  cli::Plan keep = cli::MakePlan("192.168.1.20", card, d, dir.path() + "/p1");
  EXPECT_TRUE(keep.ok) << keep.failure;
  EXPECT_EQ(keep.questions, std::vector<std::string>{card::kMsgScriptEmptyAsk});
  EXPECT_EQ(keep.uploads, std::vector<int>{1}) << "slot 2 holds its text already";
  EXPECT_TRUE(keep.deletes.empty()) << "slots the backup lacks stay unless replaced";
  EXPECT_TRUE(keep.scriptChanges);
  d.replacePrograms = true;
  const cli::Plan replace = cli::MakePlan("192.168.1.20", card, d, dir.path() + "/p2");
  EXPECT_EQ(replace.deletes, std::vector<int>{0});

  // The times a dry run prints are the run's: steps in order, each starting where the one before ended.
  std::int64_t at = 0;
  for (const cli::PlannedStep& s : keep.steps) {
    EXPECT_GE(s.startMs, at) << cli::StepName(s.step, s.slot);
    at = s.startMs + s.durationMs;
  }
  EXPECT_EQ(at, keep.totalMs);
  ASSERT_GE(keep.lines.size(), 2u);
  EXPECT_EQ(keep.lines[0].bytes.rfind("set Sys_Crc ", 0), 0u);
  EXPECT_EQ(keep.lines[1].bytes, "set ld 25 \n");
  EXPECT_EQ(keep.lines[1].atMs - keep.lines[0].atMs, 2000);
}

namespace {

// A card that went down and does not come back; each connect attempt waits
// for the driver's timeout.
class Gone : public card::Channel {
 public:
  explicit Gone(platform::VirtualClock& clock) : clock_(clock) {}
  bool exists() const override { return true; }
  int Connect(const std::string&) override {
    clock_.advance(1000);
    return -1;
  }
  void Disconnect() override {}
  int Send(const void*, std::size_t) override { return -1; }
  int Receive(void*, std::size_t, std::size_t* count) override {
    *count = 0;
    return -1;
  }
  void BeginExchange() override {}
  void EndExchange() override {}

 private:
  platform::VirtualClock& clock_;
};

}  // namespace

TEST(Plan, ARestartedCardIsWaitedForByTheClockNotByCountingPolls) {
  testing_support::TempDir dir;
  platform::VirtualClock clock(1'000'000);
  std::mutex lock;
  std::ostringstream out;
  cli::ConsoleUser user(out, lock, "");
  cli::Target t([&](int) { return std::make_unique<Gone>(clock); }, "192.168.1.20", clock, user, dir.path());
  const std::int64_t start = clock.now();
  EXPECT_FALSE(cli::WaitForRestart(t, "192.168.1.20"));
  const std::int64_t waited = clock.now() - start;
  EXPECT_GE(waited, cli::kBackWithinMs);
  // One connect to see it down, then polls until the bound: never the 150 polls of 1.2 s a count would allow.
  EXPECT_LE(waited, cli::kBackWithinMs + 2 * 1000 + cli::kRestartPollMs);
  ASSERT_TRUE(t.failure());
  EXPECT_FALSE(t.failure()->message.empty());
}
