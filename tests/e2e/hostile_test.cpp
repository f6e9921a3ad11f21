// Peers that misbehave on purpose: a card that repeats its search reply
// every few milliseconds, search traffic that outlasts the drain before the
// query, and a card whose replies trickle in a byte at a time. Each ends
// within its bound, with its message.
#include <chrono>

#include "e2e/fixture.h"
#include "link/command_channel.h"
#include "platform/files.h"
#include "storage/flash_save.h"
#include "storage/script.h"

namespace e2e {
namespace {

// A margin for a loaded machine on top of each bound.
constexpr long long kMarginMs = 1000;

long long MsSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
}

class HostileTest : public ToolContextTest {
 protected:
  card::ScanResult Search() { return card::SearchDevices(search_.get(), fast_, user_, list_, state_, false); }
};

TEST_F(HostileTest, ACardRepeatingItsSearchReplyIsListedOnceAndTheSearchEnds) {
  StartSim({"--cards", "2", "--repeat-search-ms", "5"});
  auto t0 = std::chrono::steady_clock::now();
  card::ScanResult scan = Search();
  // The receive bound ended it, not the reply window.
  EXPECT_LT(MsSince(t0), card::kSearchWindowMs);
  EXPECT_FALSE(scan.flooded);
  EXPECT_EQ(list_.rows().size(), 2u);
  EXPECT_EQ(scan.cards, 2);
  EXPECT_GT(scan.replies, 2) << "the repeats did come";
  EXPECT_TRUE(user_.texts().empty());
}

TEST_F(HostileTest, TrafficLongerThanTheDrainEndsTheSearchWithItsMessage) {
  // Once searched, something on the segment sends a datagram every ms.
  StartSim({"--search-noise-ms", "1"});
  // However the noise and the drain meet on a loaded machine, a search ends
  // within the drain, the pause and the reply window.
  const long long bound = card::kMaxDrainMs + 350 + card::kSearchWindowMs + kMarginMs;
  auto t0 = std::chrono::steady_clock::now();
  card::ScanResult scan = Search();
  EXPECT_LT(MsSince(t0), bound);
  EXPECT_EQ(list_.rows().size(), 1u) << "the card answered before the noise began";
  EXPECT_GT(scan.rejected, 0);

  // The noise goes on: the next search ends flooded and says so.
  t0 = std::chrono::steady_clock::now();
  scan = Search();
  EXPECT_LT(MsSince(t0), bound);
  EXPECT_TRUE(scan.flooded);
  EXPECT_GT(scan.drained + scan.rejected, 0);
  EXPECT_EQ(user_.texts().back(), card::kMsgSearchFlooded);

  // cardctl search: a failing exit and the counts, not an empty list.
  search_->Disconnect();
  std::string out;
  EXPECT_EQ(RunCardctl({"search", "--local", kLocal}, &out), 1) << out;
  EXPECT_NE(out.find("网络上的数据过多"), std::string::npos) << out;
  EXPECT_NE(out.find("搜索前丢弃"), std::string::npos) << out;
  out.clear();
  EXPECT_EQ(RunCardctl({"--lang", "en", "search", "--local", kLocal}, &out), 1) << out;
  EXPECT_NE(out.find("datagrams drained before the query"), std::string::npos) << out;
}

TEST_F(HostileTest, ACardWhoseRepliesTrickleEndsTheReadWithItsMessage) {
  testing_support::FakeFiles files;
  testing_support::FakeProgress progress;
  testing_support::TempDir out;
  // A byte every 20 ms: the reply never goes quiet and never completes.
  StartSim({"--trickle-ms", "20"});
  auto link = Link(card::kFilePort);
  card::StorageTools tools{*link, fast_, user_, files, progress, kCard0, out.path()};
  files.saves = {out.file("script.kxdatr")};
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(card::DumpRegion(tools, 4), card::DumpOutcome::ReadFailed);
  EXPECT_LT(MsSince(t0), card::kReadMarginMs + kMarginMs);
  EXPECT_EQ(user_.texts(), (std::vector<std::string>{card::kMsgReadFailed}));
  EXPECT_FALSE(platform::FileExists(out.file("script.kxdatr"))) << "no file from a failed read";

  // A byte every 1.5 s: each reply seems to end short after its first byte,
  // so the read goes on asking, until its deadline.
  RestartSim(0, {"--trickle-ms", "1500"});
  card::ScriptTools script{*link, fast_, user_, kCard0, 39};
  t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(card::ReadScript(script).outcome, card::ScriptReadOutcome::ReadFailed);
  EXPECT_LT(MsSince(t0), card::kReadMarginMs + kMarginMs);
  EXPECT_EQ(user_.texts().back(), card::kMsgScriptReadFailed);
}

}  // namespace
}  // namespace e2e
