// Any bytes as a backup, through to what a restore would send: a file the
// reader accepts is exactly the file it would write itself; any record,
// script and programs a file can hold plan without a crash, every planned
// line goes to the command or the file port in time order, and a plan that
// cannot be carried out says why.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>

#include "cardctl/cardctl.h"
#include "cardctl/snapshot.h"
#include "link/driver_binding.h"

namespace {

// Where the plans keep their working files: in memory, made once and
// removed when the fuzzer ends.
struct Folder {
  std::string path;
  Folder() {
    char tmpl[] = "/dev/shm/fuzz-restore-XXXXXX";
    char fallback[] = "/tmp/fuzz-restore-XXXXXX";
    const char* made = ::mkdtemp(tmpl);
    path = made ? made : ::mkdtemp(fallback);
  }
  ~Folder() { std::filesystem::remove_all(path); }
};

const std::string& WorkDir() {
  static const Folder folder;
  return folder.path;
}

// A card as a restore finds it: a valid record, a script and two programs.
card::cli::CardState Card() {
  card::cli::CardState c;
  card::DeviceStatusRecord& r = c.record;
  r.setU16(card::rec::kCodeWord, 0x8111);
  r.setU16(card::rec::kWidth, 128);
  r.setU16(card::rec::kHeight, 32);
  r.setU16(card::rec::kBaudRate, 9600);
  r.setU16(card::rec::kFirmware, 39);
  r.setU8(card::rec::kIpMode, 1);
  for (int i = 0; i < 4; ++i) r.setU8(card::rec::kCardAddress + static_cast<std::size_t>(i), i == 0 ? 10 : 1);
  r.setSerialBytes("202300000000000000000001");
  r.updateChecksum();
  c.contentsRead = true;
  c.script = std::string("a=1\r\n");
  c.programs = {{0, "zero\n"}, {3, "three\n"}};
  return c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  card::SnapshotRead read = card::DecodeSnapshot(bytes);
  card::Snapshot s;
  if (read.ok()) {
    if (card::EncodeSnapshot(read.snapshot) != bytes) __builtin_trap();
    s = read.snapshot;
  } else {
    // Most inputs are no file: take them as what a file holds.
    std::memcpy(s.record.data(), bytes.data(), std::min(bytes.size(), card::rec::kSize));
    std::size_t at = std::min(bytes.size(), card::rec::kSize);
    const std::size_t scriptLength = at < bytes.size() ? static_cast<unsigned char>(bytes[at++]) * 16u : 0;
    if (at < bytes.size()) s.script = bytes.substr(at, scriptLength);
    at += scriptLength;
    for (int slot = 0; at < bytes.size() && slot < card::kMaxSnapshotPrograms; ++slot, at += 64)
      if (bytes[at] & 1) s.programs[slot] = bytes.substr(at, 64);
    const card::SnapshotRead again = card::DecodeSnapshot(card::EncodeSnapshot(s));
    if (!again.ok() || !(again.snapshot == s)) __builtin_trap();
  }
  const card::cli::CardState card = Card();
  for (bool withNetwork : {false, true}) {
    const card::cli::Desired d = card::cli::DesiredFrom(s, card.record, withNetwork, size % 2 == 1);
    const card::cli::Plan plan = card::cli::MakePlan("10.1.1.1", card, d, WorkDir() + "/plan");
    if (!plan.ok && plan.failure.empty()) __builtin_trap();
    std::int64_t last = 0;
    for (const auto& line : plan.lines) {
      if (line.port != card::kCommandPort && line.port != card::kFilePort) __builtin_trap();
      if (line.atMs < last || line.bytes.empty()) __builtin_trap();
      last = line.atMs;
    }
    if (plan.ok && plan.totalMs < last) __builtin_trap();
  }
  return 0;
}
