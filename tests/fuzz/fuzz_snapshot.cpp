// Any bytes as a backup file: the reader never crashes, never accepts a part
// whose checksum fails, and what it accepts is the very file the writer makes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "cardctl/snapshot.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  auto r = card::DecodeSnapshot(bytes);
  if (!r.ok()) return 0;
  if (r.snapshot.programs.size() > static_cast<std::size_t>(card::kMaxSnapshotPrograms)) __builtin_trap();
  // What the reader takes is exactly what the writer writes: no second spelling of one backup.
  if (card::EncodeSnapshot(r.snapshot) != bytes) __builtin_trap();
  auto again = card::DecodeSnapshot(card::EncodeSnapshot(r.snapshot));
  if (!again.ok() || !(again.snapshot == r.snapshot)) __builtin_trap();
  return 0;
}
