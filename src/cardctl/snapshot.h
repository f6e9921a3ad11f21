// A card's settings in one file: the record (with its Modbus table), the
// script and the program slots its directory lists, with the card's identity
// and the tool version, each part with its own CRC-32. Backups are written
// whole (temporary file, then rename); a file whose parts do not check, or
// that was made from another record layout, is refused.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "link/record.h"

namespace card {

struct Snapshot {
  std::string toolVersion;
  // Who the snapshot was taken from.
  std::string address, mac, serial, firmware;
  DeviceStatusRecord record;
  std::optional<std::string> script;       // the card's script bytes
  std::map<int, std::string> programs;     // slot index (0-based) -> program text (GBK bytes)
  bool operator==(const Snapshot&) const = default;
};

// Bounds a reader holds a file to.
constexpr std::size_t kMaxSnapshotPart = 1 << 20;
constexpr int kMaxSnapshotPrograms = 8;

std::string EncodeSnapshot(const Snapshot& s);

enum class SnapshotError { None, NotASnapshot, UnknownLayout, BadPart, BadChecksum, Truncated };
struct SnapshotRead {
  SnapshotError error = SnapshotError::None;
  std::string detail;  // which part
  Snapshot snapshot;
  bool ok() const { return error == SnapshotError::None; }
};
SnapshotRead DecodeSnapshot(const std::string& bytes);

bool WriteSnapshot(const std::string& path, const Snapshot& s);
SnapshotRead ReadSnapshot(const std::string& path);

}  // namespace card
