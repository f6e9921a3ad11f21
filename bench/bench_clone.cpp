// bench_clone: a clone of one backup with k changed fields to 1, 10 and 50
// virtual cards, one link per card, all at once, timed against the pauses
// one card must take (its record read and the restore's own pauses, as the
// restore's plan counts them). Goal: 50 cards in at most 1.2 x one card.
// Runs in a private network namespace of its own.
#include <chrono>
#include <cstdio>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cardctl/cardctl.h"
#include "cardctl/fields.h"
#include "harness/netns.h"
#include "harness/sim_process.h"
#include "link/driver_binding.h"
#include "platform/text.h"

namespace {

using Steady = std::chrono::steady_clock;

// Two attempts of 500 ms and 500 ms before the disconnect.
constexpr double kReadPausesMs = 1500;

}  // namespace

int main() {
  std::string problem = harness::EnterPrivateNetwork();
  if (!problem.empty()) {
    std::fprintf(stderr, "bench_clone: no private network namespace: %s\n", problem.c_str());
    return 1;
  }
  harness::SimProcess sim;
  std::string error;
  if (!sim.Start(CARDSIM_PATH, {"--cards", "51"}, 30000, &error)) {
    std::fprintf(stderr, "bench_clone: %s\n", error.c_str());
    return 1;
  }
  auto lib = card::DriverLibrary::Load(PCOMM_PATH);
  if (!lib) return 1;
  card::LinkFactory links = [lib](int port) { return lib->CreateLink(port); };
  platform::RealClock clock;
  std::mutex lock;
  std::ostringstream log;
  char tmpl[] = "/tmp/bench-clone-XXXXXX";
  const std::string work = ::mkdtemp(tmpl);

  // The source: the first card with k fields changed.
  card::cli::ConsoleUser user(log, lock, "", true);
  card::cli::Target source(links, "127.0.0.10", clock, user, work + "/source");
  auto base = card::cli::ReadCard(source);
  if (!base) return 1;
  const char* changes[] = {"brightness=25", "refresh_rate=7", "rs485_mode=2", "development_no=3", "service_type=4",
                           "baud_rate=5"};
  std::printf("clone of a backup with k changed fields, all cards at once\n");
  std::printf("   k  cards   measured   one card's pauses   ratio\n");
  for (int k : {1, 3, 6}) {
    card::DeviceStatusRecord wanted = *base;
    for (int i = 0; i < k; ++i) card::cli::ApplyAssignment(&wanted, changes[i]);
    card::cli::CardState state{wanted, std::nullopt, {}};
    const card::Snapshot snap = card::cli::SnapshotOf(state, "127.0.0.10", "6.2");
    card::cli::CardState fresh{*base, std::nullopt, {}};
    const auto plan = card::cli::PlanSnapshot("127.0.0.11", fresh, snap, {}, work + "/plan");
    const double required = kReadPausesMs + static_cast<double>(plan.totalMs);
    for (int cards : {1, 10, 50}) {
      // Fresh cards each round: the same k fields differ on every one.
      harness::SimProcess round;
      std::vector<std::string> args = {"--cards", std::to_string(cards)};
      for (int c = 0; c < cards; ++c) {
        args.push_back("--address");
        args.push_back(platform::Format("127.0.1.%d", c + 1));
      }
      if (!round.Start(CARDSIM_PATH, args, 30000, &error)) {
        std::fprintf(stderr, "bench_clone: %s\n", error.c_str());
        return 1;
      }
      std::vector<std::thread> jobs;
      std::vector<int> ok(static_cast<std::size_t>(cards), 0);
      const auto t0 = Steady::now();
      for (int c = 0; c < cards; ++c)
        jobs.emplace_back([&, c] {
          const std::string address = platform::Format("127.0.1.%d", c + 1);
          card::cli::ConsoleUser u(log, lock, address, true);
          card::cli::Target t(links, address, clock, u, work + "/" + address);
          auto st = card::cli::ReadCardState(t, false);
          ok[static_cast<std::size_t>(c)] = st && card::cli::ApplySnapshot(t, *st, snap, {});
        });
      for (auto& j : jobs) j.join();
      const double ms = std::chrono::duration<double, std::milli>(Steady::now() - t0).count();
      int good = 0;
      for (int v : ok) good += v;
      std::printf("%4d %6d %8.0f ms %12.0f ms %10.3f%s\n", k, cards, ms, required, ms / required,
                  good == cards ? "" : platform::Format("  (%d failed)", cards - good).c_str());
      std::fflush(stdout);
    }
  }
  return 0;
}
