// bench_clone: `cardctl clone` as users run it. A source card gets k changed
// fields (`cardctl set`), is backed up (`cardctl backup`), and the backup is
// cloned to 1, 10 and 50 fresh virtual cards at once (`cardctl clone`, every
// card its own link). Each time is printed against the one-card clone of the
// same backup; the goal is at most 1.05. Runs at full time in a private
// network namespace of its own.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "harness/netns.h"
#include "harness/sim_process.h"

namespace {

using Steady = std::chrono::steady_clock;

// Runs cardctl with args; its output goes to log. Returns the exit status.
int Cardctl(const std::vector<std::string>& args, const std::string& log) {
  std::fflush(stdout);
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(CARDCTL_PATH));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::freopen(log.c_str(), "a", stdout);
    std::freopen(log.c_str(), "a", stderr);
    ::execv(CARDCTL_PATH, argv.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Address(int i) { return "127.0.1." + std::to_string(i + 1); }

}  // namespace

int main() {
  std::string problem = harness::EnterPrivateNetwork();
  if (!problem.empty()) {
    std::fprintf(stderr, "bench_clone: no private network namespace: %s\n", problem.c_str());
    return 1;
  }
  char tmpl[] = "/tmp/bench-clone-XXXXXX";
  const std::string work = ::mkdtemp(tmpl);
  const std::string log = work + "/cardctl.log";
  ::unsetenv("CARD_CLOCK_SCALE");

  const char* changes[] = {"brightness=25", "refresh_rate=7", "rs485_mode=2", "development_no=3", "service_type=4",
                           "baud_rate=19200"};
  std::printf("cardctl clone of a backup with k changed fields, all cards at once\n");
  std::printf("   k  cards   measured   one card   ratio\n");
  for (int k : {1, 3, 6}) {
    // The source: a card with k fields changed, backed up as an installer would.
    harness::SimProcess source;
    std::string error;
    if (!source.Start(CARDSIM_PATH, {"--address", "127.0.0.10"}, 30000, &error)) {
      std::fprintf(stderr, "bench_clone: %s\n", error.c_str());
      return 1;
    }
    std::vector<std::string> set = {"set", "127.0.0.10"};
    for (int i = 0; i < k; ++i) set.push_back(changes[i]);
    const std::string snap = work + "/k" + std::to_string(k) + ".snap";
    if (Cardctl(set, log) != 0 || Cardctl({"backup", "127.0.0.10", snap}, log) != 0) {
      std::fprintf(stderr, "bench_clone: the source could not be set up (see %s)\n", log.c_str());
      return 1;
    }
    source.Stop();
    double one = 0;
    for (int cards : {1, 10, 50}) {
      // Fresh cards each round: the same k fields differ on every one.
      harness::SimProcess round;
      std::vector<std::string> args = {"--cards", std::to_string(cards)};
      std::vector<std::string> clone = {"clone", snap};
      for (int c = 0; c < cards; ++c) {
        args.push_back("--address");
        args.push_back(Address(c));
        clone.push_back(Address(c));
      }
      if (!round.Start(CARDSIM_PATH, args, 30000, &error)) {
        std::fprintf(stderr, "bench_clone: %s\n", error.c_str());
        return 1;
      }
      const auto t0 = Steady::now();
      const int status = Cardctl(clone, log);
      const double ms = std::chrono::duration<double, std::milli>(Steady::now() - t0).count();
      if (cards == 1) one = ms;
      std::printf("%4d %6d %8.0f ms %8.0f ms %7.3f%s\n", k, cards, ms, one, ms / one,
                  status == 0 ? "" : "  (cardctl failed, see the log)");
      std::fflush(stdout);
    }
  }
  std::printf("cardctl's output: %s\n", log.c_str());
  return 0;
}
