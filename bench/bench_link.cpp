// bench_link: how the real pcomm driver performs against cardsim, as ratios
// to the pauses the tool's operations are required to take anyway. Runs in a
// private network namespace of its own, so nothing leaves the machine.
//
//   search (1, 10, 50 cards)  vs 50 + 300 ms of pauses
//   ReadRawChunked of 1 MiB   vs 100 ms per 4096-byte chunk
//   Receive latency           with a reply waiting, and with nothing coming
#include <algorithm>
#include <thread>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "harness/netns.h"
#include "link/scan.h"
#include "harness/sim_process.h"
#include "link/command_channel.h"
#include "link/driver_binding.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

bool StartSim(harness::SimProcess& sim, const std::vector<std::string>& args) {
  std::string error;
  if (sim.Start(CARDSIM_PATH, args, 20000, &error)) return true;
  std::fprintf(stderr, "bench_link: %s\n", error.c_str());
  return false;
}

int BenchSearch(card::DriverLibrary& lib) {
  platform::RealClock clock;
  std::printf("search (pauses 50 + 300 ms, then receives until 10 past the last card)\n");
  for (int cards : {1, 10, 50}) {
    harness::SimProcess sim;
    if (!StartSim(sim, {"--cards", std::to_string(cards)})) return 1;
    auto search = lib.CreateSearch();
    if (search->Connect("127.0.0.1") != 0) {
      std::fprintf(stderr, "bench_link: search socket does not bind\n");
      return 1;
    }
    std::vector<double> times;
    std::size_t found = 0;
    for (int run = 0; run < 3; ++run) {
      auto t0 = Clock::now();
      auto result = card::ScanCards(*search, clock, card::kSearchQuery, {});
      times.push_back(MsSince(t0));
      found = static_cast<std::size_t>(result.cards);
    }
    double t = Median(times);
    std::printf("  %2d cards: found %2zu, %6.1f ms (median of 3), ratio %.2f to 350 ms; %.1f ms past the pauses\n",
                cards, found, t, t / 350.0, t - 350.0);
  }
  return 0;
}

int BenchChunked(card::DriverLibrary& lib) {
  harness::SimProcess sim;
  if (!StartSim(sim, {})) return 1;
  auto link = lib.CreateLink(card::kFilePort);
  if (link->Connect("127.0.0.10") != 0) return 1;
  platform::RealClock clock;
  card::MemorySink sink;
  constexpr std::uint32_t kTotal = 1u << 20;
  auto t0 = Clock::now();
  auto r = card::ReadRawChunked(*link, clock, 0, kTotal, sink);
  double t = MsSince(t0);
  // 256 chunks with 100 ms before each Receive, and 100 ms after the last.
  double mandated = (kTotal / card::kChunkSize + 1) * card::kChunkPauseMs;
  std::printf("ReadRawChunked 1 MiB (real clock): %s, %zu bytes, %.0f ms, ratio %.3f to %.0f ms of pauses"
              " (%.2f ms per chunk beyond the pause)\n",
              r.status == card::ChunkedStatus::Complete ? "complete" : "INCOMPLETE", sink.bytes().size(), t,
              t / mandated, mandated, (t - mandated) / (kTotal / card::kChunkSize));
  return r.status == card::ChunkedStatus::Complete ? 0 : 1;
}

int BenchReceive(card::DriverLibrary& lib) {
  harness::SimProcess sim;
  if (!StartSim(sim, {})) return 1;
  auto link = lib.CreateLink(card::kFilePort);
  if (link->Connect("127.0.0.10") != 0) return 1;
  char buf[4096];
  std::vector<double> waiting, none;
  for (int i = 0; i < 50; ++i) {
    link->Send(std::string_view("file read_modbus 0x0 128\n"));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the reply is in by now
    std::size_t n = 0;
    auto t0 = Clock::now();
    link->Receive(buf, sizeof buf, &n);
    waiting.push_back(MsSince(t0));
    if (n != 128) std::fprintf(stderr, "bench_link: short reply %zu\n", n);
  }
  for (int i = 0; i < 20; ++i) {
    std::size_t n = 0;
    auto t0 = Clock::now();
    link->Receive(buf, sizeof buf, &n);
    none.push_back(MsSince(t0));
  }
  std::printf("Receive latency: reply waiting median %.2f ms (max %.2f), nothing coming median %.2f ms (max %.2f)\n",
              Median(waiting), *std::max_element(waiting.begin(), waiting.end()), Median(none),
              *std::max_element(none.begin(), none.end()));
  return 0;
}

}  // namespace

int main() {
  std::string problem = harness::EnterPrivateNetwork();
  if (!problem.empty()) {
    std::fprintf(stderr, "bench_link: needs a private network namespace: %s\n", problem.c_str());
    return 1;
  }
  auto lib = card::DriverLibrary::Load(PCOMM_PATH);
  if (!lib) {
    std::fprintf(stderr, "bench_link: cannot load %s\n", PCOMM_PATH);
    return 1;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  int failed = BenchReceive(*lib);
  failed |= BenchSearch(*lib);
  failed |= BenchChunked(*lib);
  return failed;
}
