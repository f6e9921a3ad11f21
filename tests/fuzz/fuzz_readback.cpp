// The read-back of a program slot ("编辑" with "是否回读") against a card
// whose directory and program come from the input, answered in pieces at
// virtual times the input picks: at once, late, cut short or never. The
// card answers its requests in order, and a reply once begun does not pause
// for as long as the tool's quiet time (a link without frames cannot tell
// such a pause from the end of a short reply). Whatever arrives, a working
// file that is written holds exactly the program the card keeps, and
// nothing is written otherwise.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "link/command_channel.h"
#include "platform/files.h"
#include "programs/program_files.h"
#include "programs/program_slots.h"
#include "support/fake_channel.h"
#include "support/fake_ports.h"
#include "fuzz/fuzz_dir.h"

namespace {

// Reads the input from the front; zeros once it is used up.
struct Input {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t pos = 0;
  std::uint8_t Byte() { return pos < size ? data[pos++] : 0; }
  std::uint32_t U16() { return static_cast<std::uint32_t>(Byte()) | static_cast<std::uint32_t>(Byte()) << 8; }
};

void PutLe32(std::string* s, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) (*s)[at + static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in{data, size};
  const int slot = in.Byte() % card::kDirectorySlots;
  // The card's flash: the directory, then the slot's program at its address.
  const std::uint32_t programAddress = 0x610000 + 0x10000 * static_cast<std::uint32_t>(slot);
  const std::uint32_t length = in.U16() % 6000;
  std::string directory(card::kProgramDirectorySize, '\0');
  PutLe32(&directory, 0, in.Byte() % 3);  // count 0, 1 or 2
  PutLe32(&directory, 12 + 48 * static_cast<std::size_t>(slot), in.Byte() % 4 ? 1 : 0);
  PutLe32(&directory, 44 + 48 * static_cast<std::size_t>(slot), programAddress);
  PutLe32(&directory, 48 + 48 * static_cast<std::size_t>(slot), length);
  std::string program(card::RoundUpTo128(length), '\0');
  for (std::size_t i = 0; i < program.size(); ++i) program[i] = static_cast<char>((i * 31 + length) & 0xFF);

  platform::VirtualClock clock;
  testing_support::FakeChannel file(&clock), command(&clock);
  testing_support::FakeUser user(&clock);
  testing_support::FakeProcesses processes;
  const testing_support::TempDir& dir = fuzz_support::FreshFuzzDir();
  card::MainState state;
  state.setSelectedAddress("192.168.1.20");
  state.setCardOpened();
  card::SysCfg cfg{dir.file("SysCfg.ini")};
  card::Siblings siblings{processes, dir.path() + "/"};
  card::ProgramContext ctx{file, command, clock, user, state, cfg, siblings};

  // Each request is answered by the rest of the input: per piece a delay
  // (ms after the previous piece, or after the request) and a length.
  std::int64_t busyUntil = 0;
  file.onSend([&](const std::string& line) {
    unsigned address = 0;
    int asked = 0;
    if (std::sscanf(line.c_str(), "file read_raw 0x%x %d\n", &address, &asked) != 2 || asked < 0) __builtin_trap();
    const std::string& source = address < programAddress ? directory : program;
    const std::size_t from = address - (address < programAddress ? card::kProgramDirectoryAddress : programAddress);
    if (from > source.size()) __builtin_trap();  // never asks past what it asked for before
    std::size_t left = std::min(static_cast<std::size_t>(asked), source.size() - from);
    std::size_t at = from;
    std::int64_t due = std::max(busyUntil, clock.now());
    for (int piece = 0; piece < 8 && left > 0; ++piece) {
      const std::uint8_t op = in.Byte();
      if (op == 0xFF) return;  // the card sends no more of this reply
      // Pieces of a reply that has begun follow within the quiet time; the
      // first may come late.
      due += piece == 0 ? in.Byte() * 8 : in.Byte() % (card::kReplyQuietMs / 2);
      std::size_t n = piece == 7 ? left : std::min<std::size_t>(left, 1 + in.U16() % 5000);
      file.queueReplyAt(due, source.substr(at, n));
      at += n;
      left -= n;
    }
    busyUntil = due;
  });

  const std::string path = card::WorkingFilePath(dir.path() + "/", slot + 1, "cmd.txt");
  card::ProgramChoice choice;
  choice.slot = slot;
  const card::ReadBackOutcome outcome = card::ReadBackProgram(ctx, choice);
  if (outcome == card::ReadBackOutcome::Written) {
    const std::string written = testing_support::ReadFile(path);
    auto entry = card::ProgramDirectory::Decode(reinterpret_cast<const std::uint8_t*>(directory.data()),
                                                directory.size())
                     .Used(slot);
    const std::string expected = entry ? program.substr(0, length) : std::string();
    if (written != expected) __builtin_trap();
    if (!user.texts().empty()) __builtin_trap();
  } else if (outcome == card::ReadBackOutcome::Failed) {
    if (user.texts().size() != 1) __builtin_trap();  // told once why
    if (platform::FileExists(path)) __builtin_trap();
  } else {
    __builtin_trap();
  }
  if (file.connected()) __builtin_trap();
  return 0;
}
