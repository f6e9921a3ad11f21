// A card's settings in one file: the record (with its Modbus table), the
// script and the program slots its directory lists, with the card's identity
// and the tool version. Every byte of the file is covered by the CRC-32 on
// its last line, so a flipped bit anywhere (a header, an identity line, a
// length) makes the whole file refused; each part also carries its own CRC-32
// so a refusal can name it. Parts come in one fixed order and at most once.
// Backups are written whole (temporary file, then rename).
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
  std::optional<std::string> script;       // the card's script bytes; none when it could not be read
  std::map<int, std::string> programs;     // slot index (0-based) -> program text (GBK bytes)
  bool operator==(const Snapshot&) const = default;
};

// Bounds a reader holds a file to.
constexpr std::size_t kMaxSnapshotPart = 1 << 20;
constexpr int kMaxSnapshotPrograms = 8;
constexpr std::size_t kMaxSnapshotFile = 16 * kMaxSnapshotPart;

std::string EncodeSnapshot(const Snapshot& s);

enum class SnapshotError {
  None,
  Missing,        // no such file
  Unreadable,     // it exists but cannot be read (a folder, no permission)
  TooLarge,       // larger than any backup can be
  NotASnapshot,   // not a backup file at all
  OldFormat,      // a backup of the first format, whose header lines no checksum covers
  BadChecksum,    // the file's own checksum fails: some byte changed
  Truncated,      // ends before its last line
  UnknownLayout,  // made from another record layout
  BadPart,        // a line or part out of place, repeated or unknown
};
struct SnapshotRead {
  SnapshotError error = SnapshotError::None;
  std::string detail;  // which part or line
  Snapshot snapshot;
  bool ok() const { return error == SnapshotError::None; }
};
SnapshotRead DecodeSnapshot(const std::string& bytes);

bool WriteSnapshot(const std::string& path, const Snapshot& s);
SnapshotRead ReadSnapshot(const std::string& path);

// Why a file was refused, for a person (in the language chosen for cardctl).
std::string SnapshotErrorText(const SnapshotRead& r);

}  // namespace card
