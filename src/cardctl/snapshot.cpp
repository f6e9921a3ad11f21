#include "cardctl/snapshot.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "cardctl/texts.h"
#include "platform/crc32.h"
#include "platform/files.h"
#include "platform/text.h"

namespace card {
namespace {

using cli::Tr;
using platform::Format;

constexpr const char* kMagic = "CARDSNAP 2";
constexpr const char* kOldMagic = "CARDSNAP 1";
// "end " and eight lower-case hexadecimal digits: the CRC-32 of every byte before it.
constexpr std::size_t kTrailerSize = 13;
constexpr const char* kIdentityKeys[] = {"tool", "layout", "address", "mac", "serial", "firmware"};

bool IsLowerHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

// Identity texts are single lines: a control character or a backslash goes
// in as \xNN, so a name with a line feed cannot cut the file.
std::string Escape(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F || c == '\\')
      out += Format("\\x%02x", c);
    else
      out += static_cast<char>(c);
  }
  return out;
}

// The exact inverse of Escape: any other spelling is no backup of ours.
std::optional<std::string> Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) return std::nullopt;
    if (c != '\\') {
      out += static_cast<char>(c);
      continue;
    }
    if (i + 3 >= text.size() + 0 || text[i + 1] != 'x' || !IsLowerHex(text[i + 2]) || !IsLowerHex(text[i + 3]))
      return std::nullopt;
    const int v = std::stoi(text.substr(i + 2, 2), nullptr, 16);
    if (v >= 0x20 && v != 0x7F && v != '\\') return std::nullopt;
    out += static_cast<char>(v);
    i += 3;
  }
  return out;
}

std::string Part(const std::string& name, const std::string& bytes) {
  return Format("part %s %zu %08x\n", name.c_str(), bytes.size(), Crc32(bytes)) + bytes + "\n";
}

// A decimal number as Encode writes it: no sign, no leading zero.
bool Decimal(const std::string& text, std::size_t max, std::size_t* out) {
  if (text.empty() || text.size() > 8 || (text.size() > 1 && text[0] == '0')) return false;
  std::size_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<std::size_t>(c - '0');
  }
  if (v > max) return false;
  *out = v;
  return true;
}

bool Hex8(const std::string& text, std::uint32_t* out) {
  if (text.size() != 8) return false;
  for (char c : text)
    if (!IsLowerHex(c)) return false;
  *out = static_cast<std::uint32_t>(std::stoul(text, nullptr, 16));
  return true;
}

class Reader {
 public:
  explicit Reader(std::string_view bytes) : b_(bytes) {}
  bool Line(std::string* out) {
    std::size_t nl = b_.find('\n', pos_);
    if (nl == std::string::npos || nl - pos_ > 1024) return false;
    *out = std::string(b_.substr(pos_, nl - pos_));
    pos_ = nl + 1;
    return true;
  }
  bool Bytes(std::size_t n, std::string* out) {
    if (n > b_.size() - pos_ || b_.size() - pos_ - n < 1 || b_[pos_ + n] != '\n') return false;
    *out = std::string(b_.substr(pos_, n));
    pos_ += n + 1;
    return true;
  }
  bool AtEnd() const { return pos_ == b_.size(); }

 private:
  std::string_view b_;
  std::size_t pos_ = 0;
};

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> w;
  std::size_t at = 0;
  while (at <= line.size()) {
    std::size_t sp = line.find(' ', at);
    if (sp == std::string::npos) sp = line.size();
    w.push_back(line.substr(at, sp - at));
    at = sp + 1;
  }
  return w;
}

}  // namespace

std::string EncodeSnapshot(const Snapshot& s) {
  std::string out = std::string(kMagic) + "\n";
  out += "tool " + Escape(s.toolVersion) + "\n";
  out += Format("layout %zu\n", rec::kSize);
  out += "address " + Escape(s.address) + "\nmac " + Escape(s.mac) + "\nserial " + Escape(s.serial) +
         "\nfirmware " + Escape(s.firmware) + "\n";
  out += Part("record", std::string(reinterpret_cast<const char*>(s.record.data()), rec::kSize));
  if (s.script) out += Part("script", *s.script);
  for (const auto& [slot, text] : s.programs) out += Part(Format("program%d", slot), text);
  out += Format("end %08x\n", Crc32(out));
  return out;
}

SnapshotRead DecodeSnapshot(const std::string& bytes) {
  SnapshotRead r;
  auto fail = [&](SnapshotError e, const std::string& detail) {
    r.error = e;
    r.detail = detail;
    r.snapshot = Snapshot{};
    return r;
  };
  const std::size_t firstLine = bytes.find('\n');
  const std::string magic = bytes.substr(0, firstLine);
  if (magic == kOldMagic) return fail(SnapshotError::OldFormat, {});
  if (firstLine == std::string::npos || magic != kMagic) return fail(SnapshotError::NotASnapshot, {});

  // The last line first: nothing is believed before the file's own checksum holds.
  if (bytes.size() < kTrailerSize + firstLine + 1) return fail(SnapshotError::Truncated, {});
  const std::size_t body = bytes.size() - kTrailerSize;
  const std::string trailer = bytes.substr(body);
  std::uint32_t crc = 0;
  if (trailer.compare(0, 4, "end ") != 0 || trailer.back() != '\n' || !Hex8(trailer.substr(4, 8), &crc) ||
      (body > 0 && bytes[body - 1] != '\n'))
    return fail(SnapshotError::Truncated, {});
  if (Crc32(reinterpret_cast<const std::uint8_t*>(bytes.data()), body) != crc)
    return fail(SnapshotError::BadChecksum, {});

  Reader in(std::string_view(bytes).substr(0, body));
  std::string line;
  in.Line(&line);
  // The identity lines, each once, in their order.
  std::string* identity[] = {&r.snapshot.toolVersion, nullptr, &r.snapshot.address, &r.snapshot.mac,
                             &r.snapshot.serial, &r.snapshot.firmware};
  for (std::size_t i = 0; i < std::size(kIdentityKeys); ++i) {
    const std::string key = std::string(kIdentityKeys[i]) + " ";
    if (!in.Line(&line) || line.compare(0, key.size(), key) != 0)
      return fail(SnapshotError::BadPart, kIdentityKeys[i]);
    const std::string value = line.substr(key.size());
    if (!identity[i]) {
      if (value != std::to_string(rec::kSize)) return fail(SnapshotError::UnknownLayout, value);
      continue;
    }
    auto text = Unescape(value);
    if (!text) return fail(SnapshotError::BadPart, kIdentityKeys[i]);
    *identity[i] = *text;
  }

  // The record, then the script, then programs by rising slot: each at most once.
  int order = -1;  // 0 record, 1 script, 2 + slot for programs
  while (!in.AtEnd()) {
    if (!in.Line(&line)) return fail(SnapshotError::BadPart, line.substr(0, 64));
    const std::vector<std::string> w = Words(line);
    if (w.size() != 4 || w[0] != "part") return fail(SnapshotError::BadPart, line.substr(0, 64));
    const std::string& name = w[1];
    int rank = -1;
    if (name == "record") {
      rank = 0;
    } else if (name == "script") {
      rank = 1;
    } else if (name.size() == 8 && name.compare(0, 7, "program") == 0 && name[7] >= '0' &&
               name[7] < '0' + kMaxSnapshotPrograms) {
      rank = 2 + (name[7] - '0');
    } else {
      return fail(SnapshotError::BadPart, name.substr(0, 64));
    }
    if (rank <= order || (rank > 0 && order < 0)) return fail(SnapshotError::BadPart, name);
    order = rank;
    std::size_t length = 0;
    std::uint32_t partCrc = 0;
    if (!Decimal(w[2], kMaxSnapshotPart, &length) || !Hex8(w[3], &partCrc)) return fail(SnapshotError::BadPart, name);
    std::string part;
    if (!in.Bytes(length, &part)) return fail(SnapshotError::Truncated, name);
    if (Crc32(part) != partCrc) return fail(SnapshotError::BadChecksum, name);
    if (rank == 0) {
      if (part.size() != rec::kSize) return fail(SnapshotError::UnknownLayout, name);
      std::memcpy(r.snapshot.record.data(), part.data(), rec::kSize);
    } else if (rank == 1) {
      r.snapshot.script = part;
    } else {
      r.snapshot.programs[rank - 2] = part;
    }
  }
  if (order < 0) return fail(SnapshotError::BadPart, "record");
  return r;
}

bool WriteSnapshot(const std::string& path, const Snapshot& s) {
  const std::string bytes = EncodeSnapshot(s);
  return platform::WriteFileAtomic(path, bytes.data(), bytes.size());
}

SnapshotRead ReadSnapshot(const std::string& path) {
  SnapshotRead r;
  r.detail = path;
  if (!platform::FileExists(path)) {
    r.error = platform::DirectoryExists(path) || errno != ENOENT ? SnapshotError::Unreadable : SnapshotError::Missing;
    return r;
  }
  std::string bytes;
  if (!platform::ReadWholeFile(path, &bytes, kMaxSnapshotFile + 1)) {
    r.error = SnapshotError::Unreadable;
    return r;
  }
  if (bytes.size() > kMaxSnapshotFile) {
    r.error = SnapshotError::TooLarge;
    return r;
  }
  return DecodeSnapshot(bytes);
}

std::string SnapshotErrorText(const SnapshotRead& r) {
  switch (r.error) {
    case SnapshotError::None: return {};
    case SnapshotError::Missing: return Tr("文件不存在", "no such file");
    case SnapshotError::Unreadable: return Tr("文件无法读取", "the file cannot be read");
    case SnapshotError::TooLarge: return Tr("文件太大，不是备份文件", "too large to be a backup");
    case SnapshotError::NotASnapshot: return Tr("不是备份文件", "not a backup file");
    case SnapshotError::OldFormat:
      return Tr("这是旧格式（CARDSNAP 1）的备份，它的标题行没有校验保护，无法确认未被损坏；请用本版本的 cardctl backup 重新备份",
                "a backup of the old format (CARDSNAP 1), whose header lines no checksum protects, so it cannot be "
                "told from a damaged one; make the backup again with this cardctl");
    case SnapshotError::BadChecksum:
      return r.detail.empty() ? Tr("文件校验失败，文件已损坏", "the file fails its checksum: it is damaged")
                              : Format(Tr("%s 校验失败，文件已损坏", "part %s fails its checksum: the file is damaged").c_str(),
                                       r.detail.c_str());
    case SnapshotError::Truncated: return Tr("文件不完整（被截断）", "the file is incomplete (cut short)");
    case SnapshotError::UnknownLayout:
      return Tr("备份来自另一种参数格式", "made from another record layout");
    case SnapshotError::BadPart:
      return Format(Tr("文件内容有误（%s）", "the file is malformed (%s)").c_str(), r.detail.c_str());
  }
  return {};
}

}  // namespace card
