// bench_storage: the dump of the 832 KiB program region ("3-- 节目数据")
// through the tool's own DumpRegion and the real pcomm driver against
// cardsim, as a ratio to the pauses the read must take anyway (100 ms before
// each of the 208 receives and 100 ms after the last). Runs in a private
// network namespace of its own, so nothing leaves the machine.
//
//   bench_storage [runs] [cardsim options...]
//
// cardsim options after the run count give the card a fault (for example
// --split-bytes 1460 --split-gap-ms 60, or --short-reads 1000); each dump is
// then also compared with the card's own flash, after programs were put in
// every slot so that a misplaced chunk shows.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "harness/netns.h"
#include "harness/sim_process.h"
#include "link/command_channel.h"
#include "link/driver_binding.h"
#include "platform/crc32.h"
#include "platform/text.h"
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

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// A program in each of the six directory slots; true once the card's flash
// on disk holds the last one.
bool FillProgramSlots(card::DriverLibrary& lib, const std::string& flashFile) {
  auto link = lib.CreateLink(card::kFilePort);
  if (link->Connect("127.0.0.10") != 0) return false;
  std::string last;
  for (int slot = 0; slot < 6; ++slot) {
    std::string text;
    for (int line = 0; text.size() < 1000; ++line) text += platform::Format("slot %d line %d\r\n", slot, line);
    card::SendLine(*link, platform::Format("file cmd %d %zu %x 4 \n", slot, text.size(), card::Crc32(text)) + text);
    last = text;
  }
  link->Disconnect();
  for (int i = 0; i < 100; ++i) {
    if (ReadWhole(flashFile).find(last) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

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
  const std::vector<std::string> faults(argv + std::min(argc, 2), argv + argc);
  const std::filesystem::path tmp = std::filesystem::temp_directory_path();
  const std::string stateDir = tmp / ("bench-storage-" + std::to_string(::getpid()) + "-state");
  const std::string flashFile = stateDir + "/card00/flash.bin";
  std::vector<std::string> simArgs = faults;
  if (!faults.empty()) simArgs.insert(simArgs.end(), {"--state", stateDir});
  harness::SimProcess sim;
  std::string error;
  if (!sim.Start(CARDSIM_PATH, simArgs, 20000, &error)) {
    std::fprintf(stderr, "bench_storage: %s\n", error.c_str());
    return 1;
  }
  if (!faults.empty() && !FillProgramSlots(*lib, flashFile)) {
    std::fprintf(stderr, "bench_storage: the programs did not reach the card\n");
    return 1;
  }
  const std::string path = tmp / ("bench-storage-" + std::to_string(::getpid()) + ".kxdatr");
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
    std::string equal;
    if (ok && !faults.empty()) {
      const bool same = ReadWhole(path) == ReadWhole(flashFile).substr(region.start, region.size);
      equal = same ? ", equal to the card's flash" : ", DIFFERS from the card's flash";
      failed |= same ? 0 : 1;
    }
    std::printf("dump of \"%s\" (%u bytes, %d chunks): %s%s, %.0f ms, ratio %.4f to %.0f ms of pauses"
                " (%.2f ms per chunk beyond the pause)\n",
                region.item, region.size, chunks, ok ? "complete" : ("FAILED: " + user.last).c_str(), equal.c_str(),
                ms, ms / mandated, mandated, (ms - mandated) / chunks);
    std::filesystem::remove(path, ec);
  }
  std::error_code ec;
  std::filesystem::remove_all(stateDir, ec);
  return failed;
}
