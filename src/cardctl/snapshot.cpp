#include "cardctl/snapshot.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/crc32.h"
#include "platform/files.h"
#include "platform/text.h"

namespace card {
namespace {

constexpr const char* kMagic = "CARDSNAP 1";

std::string Part(const std::string& name, const std::string& bytes) {
  return platform::Format("part %s %zu %08x\n", name.c_str(), bytes.size(), Crc32(bytes)) + bytes + "\n";
}

// Reads "key value\n" lines and "part name length crc\n" + bytes + "\n".
class Reader {
 public:
  explicit Reader(const std::string& bytes) : b_(bytes) {}
  bool Line(std::string* out) {
    std::size_t nl = b_.find('\n', pos_);
    if (nl == std::string::npos || nl - pos_ > 512) return false;
    *out = b_.substr(pos_, nl - pos_);
    pos_ = nl + 1;
    return true;
  }
  bool Bytes(std::size_t n, std::string* out) {
    if (n > b_.size() - pos_ || b_.size() - pos_ - n < 1 || b_[pos_ + n] != '\n') return false;
    *out = b_.substr(pos_, n);
    pos_ += n + 1;
    return true;
  }

 private:
  const std::string& b_;
  std::size_t pos_ = 0;
};

bool SplitWords(const std::string& line, std::vector<std::string>* words) {
  words->clear();
  std::size_t at = 0;
  while (at < line.size()) {
    std::size_t sp = line.find(' ', at);
    if (sp == std::string::npos) sp = line.size();
    words->push_back(line.substr(at, sp - at));
    at = sp + 1;
  }
  return !words->empty();
}

bool Number(const std::string& text, int base, unsigned long long max, unsigned long long* out) {
  if (text.empty() || text.size() > 20) return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long v = std::strtoull(text.c_str(), &end, base);
  if (errno != 0 || *end != '\0' || v > max || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
  *out = v;
  return true;
}

}  // namespace

std::string EncodeSnapshot(const Snapshot& s) {
  std::string out = std::string(kMagic) + "\n";
  out += "tool " + s.toolVersion + "\n";
  out += platform::Format("layout %zu\n", rec::kSize);
  out += "address " + s.address + "\nmac " + s.mac + "\nserial " + s.serial + "\nfirmware " + s.firmware + "\n";
  out += Part("record", std::string(reinterpret_cast<const char*>(s.record.data()), rec::kSize));
  if (s.script) out += Part("script", *s.script);
  for (const auto& [slot, text] : s.programs) out += Part(platform::Format("program%d", slot), text);
  out += "end\n";
  return out;
}

SnapshotRead DecodeSnapshot(const std::string& bytes) {
  SnapshotRead r;
  Reader in(bytes);
  std::string line;
  std::vector<std::string> w;
  auto fail = [&](SnapshotError e, const std::string& detail) {
    r.error = e;
    r.detail = detail;
    return r;
  };
  if (!in.Line(&line) || line != kMagic) return fail(SnapshotError::NotASnapshot, {});
  bool haveRecord = false, sawLayout = false;
  // Identity texts carry no blanks; anything longer than this is no identity.
  auto identity = [&](const std::string& key, std::string* field) {
    if (line.rfind(key + " ", 0) != 0) return false;
    *field = line.substr(key.size() + 1);
    return true;
  };
  for (;;) {
    if (!in.Line(&line)) return fail(SnapshotError::Truncated, {});
    if (line == "end") break;
    if (identity("tool", &r.snapshot.toolVersion) || identity("address", &r.snapshot.address) ||
        identity("mac", &r.snapshot.mac) || identity("serial", &r.snapshot.serial) ||
        identity("firmware", &r.snapshot.firmware))
      continue;
    if (!SplitWords(line, &w)) return fail(SnapshotError::BadPart, line);
    if (w[0] == "layout") {
      unsigned long long size = 0;
      if (w.size() != 2 || !Number(w[1], 10, 1 << 20, &size) || size != rec::kSize)
        return fail(SnapshotError::UnknownLayout, line);
      sawLayout = true;
      continue;
    }
    if (w[0] != "part" || w.size() != 4) return fail(SnapshotError::BadPart, line.substr(0, 64));
    unsigned long long length = 0, crc = 0;
    if (!Number(w[2], 10, kMaxSnapshotPart, &length) || !Number(w[3], 16, 0xFFFFFFFFull, &crc))
      return fail(SnapshotError::BadPart, w[1]);
    std::string part;
    if (!in.Bytes(static_cast<std::size_t>(length), &part)) return fail(SnapshotError::Truncated, w[1]);
    if (Crc32(part) != crc) return fail(SnapshotError::BadChecksum, w[1]);
    if (w[1] == "record") {
      if (part.size() != rec::kSize) return fail(SnapshotError::UnknownLayout, w[1]);
      std::memcpy(r.snapshot.record.data(), part.data(), rec::kSize);
      haveRecord = true;
    } else if (w[1] == "script") {
      r.snapshot.script = part;
    } else if (w[1].rfind("program", 0) == 0) {
      unsigned long long slot = 0;
      if (!Number(w[1].substr(7), 10, kMaxSnapshotPrograms - 1, &slot)) return fail(SnapshotError::BadPart, w[1]);
      r.snapshot.programs[static_cast<int>(slot)] = part;
    } else {
      return fail(SnapshotError::BadPart, w[1]);
    }
  }
  if (!sawLayout) return fail(SnapshotError::UnknownLayout, "layout");
  if (!haveRecord) return fail(SnapshotError::BadPart, "record");
  return r;
}

bool WriteSnapshot(const std::string& path, const Snapshot& s) {
  const std::string bytes = EncodeSnapshot(s);
  return platform::WriteFileAtomic(path, bytes.data(), bytes.size());
}

SnapshotRead ReadSnapshot(const std::string& path) {
  std::string bytes;
  // A snapshot is a record, a script and eight programs at most.
  if (!platform::ReadWholeFile(path, &bytes, 16 * kMaxSnapshotPart)) {
    SnapshotRead r;
    r.error = SnapshotError::NotASnapshot;
    r.detail = path;
    return r;
  }
  return DecodeSnapshot(bytes);
}

}  // namespace card
