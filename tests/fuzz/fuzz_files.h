// What the two halves of fuzz_files share: the check, the parse of a
// "file cmd" or "file data" command, and the program file half (kept in a
// file of its own because the program and storage headers cannot be
// included together).
#pragma once

#include <string>

#include "platform/clock.h"
#include "support/fake_ports.h"
#include "support/temp_dir.h"

namespace fuzz_files {

inline void Check(bool ok) {
  if (!ok) __builtin_trap();
}

// The header numbers and what follows the line feed; checks the length and
// the CRC-32 against the text.
struct Payload {
  int id = -1, length = -1, id2 = -1;
  unsigned crc = 0;
  std::string text;
};
Payload Parse(const std::string& command, const char* format);

void Program(const testing_support::TempDir& dir, const std::string& bytes, testing_support::FakeUser& user,
             platform::VirtualClock& clock, int slot);

}  // namespace fuzz_files
