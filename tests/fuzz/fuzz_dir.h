// One working folder for a fuzz target's whole run, in memory where the
// machine has /dev/shm: the files the tool writes are synced to disk, and a
// folder per input would make the disk the whole cost of a run. fresh()
// empties it for the next input.
#pragma once

#include <filesystem>
#include <system_error>

#include "support/temp_dir.h"

namespace fuzz_support {

inline testing_support::TempDir& FuzzDir() {
  static testing_support::TempDir dir(std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp");
  return dir;
}

// The folder, emptied of whatever the last input left in it.
inline const testing_support::TempDir& FreshFuzzDir() {
  testing_support::TempDir& dir = FuzzDir();
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path(), ec))
    std::filesystem::remove_all(entry.path(), ec);
  return dir;
}

}  // namespace fuzz_support
