#include "programs/program_files.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/crc32.h"
#include "platform/text.h"

namespace card {
namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// The existing entry of dir whose name matches part without regard to case;
// the first in byte order when there are several.
std::optional<std::string> MatchEntry(const std::string& dir, std::string_view part) {
  // Every step takes an error code: a folder that cannot be listed (or stops
  // being listable half-way) is a folder without a match, never a throw.
  std::error_code ec;
  std::filesystem::directory_iterator it(dir.empty() ? std::string(".") : dir, ec);
  std::vector<std::string> matches;
  for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (EqualNoCase(name, part)) matches.push_back(std::move(name));
  }
  if (matches.empty()) return std::nullopt;
  return *std::min_element(matches.begin(), matches.end());
}

std::int32_t I32(const std::uint8_t* b, std::size_t received, std::size_t at) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < 4; ++i)
    if (at + i < received) v |= static_cast<std::uint32_t>(b[at + i]) << (8 * i);
  return static_cast<std::int32_t>(v);
}

}  // namespace

std::string ResolveNoCase(const std::string& base, std::string_view relative) {
  std::string path = base;
  bool exists = true;  // while every part so far exists, look up the next one
  std::size_t start = 0;
  while (start <= relative.size()) {
    std::size_t slash = relative.find('/', start);
    std::string_view part = relative.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
    if (!part.empty()) {
      std::optional<std::string> found = exists ? MatchEntry(path, part) : std::nullopt;
      exists = found.has_value();
      if (!path.empty() && path.back() != '/') path += '/';
      path += found ? *found : std::string(part);
    }
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  return path;
}

std::string WorkingFilePath(const std::string& subsysDir, int slotNumber, std::string_view fileName) {
  return ResolveNoCase(subsysDir, platform::Format("ledsys/CMD%d/", slotNumber) + std::string(fileName));
}

std::string TextModeRead(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    out.push_back(raw[i]);
  }
  return out;
}

std::string_view UpToNul(std::string_view text) {
  std::size_t nul = text.find('\0');
  return nul == std::string_view::npos ? text : text.substr(0, nul);
}

std::string_view CutAtTripleLineFeed(std::string_view text) {
  std::size_t at = text.find("\n\n\n");
  return at == std::string_view::npos ? text : text.substr(0, at + 1);
}

ProgramText PrepareProgramText(std::string_view fileBytes, std::size_t limit) {
  ProgramText out;
  const std::string text = TextModeRead(fileBytes.substr(0, std::min(fileBytes.size(), 2 * limit + 2)));
  std::string_view body = UpToNul(text);
  if (body.size() >= limit) {
    out.tooLong = true;
    return out;
  }
  out.text = std::string(CutAtTripleLineFeed(body));
  return out;
}

std::string UploadCommand(int slotIndex, std::string_view text, int dwell) {
  return platform::Format("file cmd %d %d %x %d \n", slotIndex, static_cast<int>(text.size()), Crc32(text), dwell) +
         std::string(text);
}

ProgramDirectory ProgramDirectory::Decode(const std::uint8_t* bytes, std::size_t received) {
  ProgramDirectory d;
  received = std::min(received, kProgramDirectorySize);
  d.count = I32(bytes, received, 0);
  for (std::size_t i = 0; i < kDirectorySlots; ++i) {
    d.entries[i].inUse = I32(bytes, received, 12 + 48 * i) != 0;
    d.entries[i].address = static_cast<std::uint32_t>(I32(bytes, received, 44 + 48 * i));
    d.entries[i].length = I32(bytes, received, 48 + 48 * i);
  }
  return d;
}

std::optional<DirectoryEntry> ProgramDirectory::Used(int slotIndex) const {
  if (count < 1 || slotIndex < 0 || slotIndex >= kDirectorySlots) return std::nullopt;
  const DirectoryEntry& e = entries[static_cast<std::size_t>(slotIndex)];
  if (!e.inUse) return std::nullopt;
  return e;
}

EntryCheck CheckEntry(const DirectoryEntry& e) {
  if (e.length < 0) return EntryCheck::Corrupt;
  if (static_cast<std::size_t>(e.length) > kProgramReadBuffer) return EntryCheck::TooLong;
  if (static_cast<std::uint64_t>(e.address) + RoundUpTo128(static_cast<std::uint32_t>(e.length)) > kCardFlashSize)
    return EntryCheck::Corrupt;
  return EntryCheck::Ok;
}

std::uint32_t RoundUpTo128(std::uint32_t length) { return (length + 127u) / 128u * 128u; }

}  // namespace card
