// bench_storage: the dump of the 832 KiB program region ("3-- 节目数据")
// through the tool's own DumpRegion and the real pcomm driver against
// cardsim, as a ratio to the pauses the read must take anyway (100 ms before
// each of the 208 receives and 100 ms after the last). Runs in a private
// network namespace of its own, so nothing leaves the machine.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <unistd.h>

#include "harness/netns.h"
#include "harness/sim_process.h"
#include "link/command_channel.h"
#include "link/driver_binding.h"
#include "storage/flash_save.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

class QuietUser : public card::UserPort {
 public:
  void Message(const std::string& text, const std::string&, card::Icon) override { last = text; }
  bool Ask(const std::string&, const std::string&) override { return false; }
  std::optional<int> Choose(const std::string&, const std::string&, const std::vector<std::string>&, int) override {
    return std::nullopt;
  }
  std::string last;
};

class OneFile : public card::FilePort {
 public:
  explicit OneFile(std::string path) : path_(std::move(path)) {}
  std::optional<std::string> OpenFile(const card::FileRequest&) override { return path_; }
  std::optional<std::string> SaveFile(const card::FileRequest&) override { return path_; }

 private:
  std::string path_;
};

class NoProgress : public card::ProgressPort {
 public:
  void Progress(int) override {}
};

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2;
  std::string problem = harness::EnterPrivateNetwork();
  if (!problem.empty()) {
    std::fprintf(stderr, "bench_storage: needs a private network namespace: %s\n", problem.c_str());
    return 1;
  }
  auto lib = card::DriverLibrary::Load(PCOMM_PATH);
  if (!lib) {
    std::fprintf(stderr, "bench_storage: cannot load %s\n", PCOMM_PATH);
    return 1;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  harness::SimProcess sim;
  std::string error;
  if (!sim.Start(CARDSIM_PATH, {}, 20000, &error)) {
    std::fprintf(stderr, "bench_storage: %s\n", error.c_str());
    return 1;
  }
  const std::string path = std::filesystem::temp_directory_path() / ("bench-storage-" + std::to_string(::getpid()) + ".kxdatr");
  const card::FlashRegion& region = card::FlashRegions()[3];
  const int chunks = static_cast<int>(region.size / card::kChunkSize);
  const double mandated = (chunks + 1) * card::kChunkPauseMs;
  int failed = 0;
  for (int run = 0; run < runs; ++run) {
    auto link = lib->CreateLink(card::kFilePort);
    platform::RealClock clock;
    QuietUser user;
    OneFile files(path);
    NoProgress progress;
    card::StorageTools t{*link, clock, user, files, progress, "127.0.0.10", "/tmp"};
    auto t0 = SteadyClock::now();
    card::DumpOutcome outcome = card::DumpRegion(t, 3);
    double ms = std::chrono::duration<double, std::milli>(SteadyClock::now() - t0).count();
    std::error_code ec;
    auto size = std::filesystem::file_size(path, ec);
    const bool ok = outcome == card::DumpOutcome::Saved && size == region.size;
    failed |= ok ? 0 : 1;
    std::printf("dump of \"%s\" (%u bytes, %d chunks): %s, %.0f ms, ratio %.4f to %.0f ms of pauses"
                " (%.2f ms per chunk beyond the pause)\n",
                region.item, region.size, chunks, ok ? "complete" : ("FAILED: " + user.last).c_str(), ms,
                ms / mandated, mandated, (ms - mandated) / chunks);
    std::filesystem::remove(path, ec);
  }
  return failed;
}
