#include "platform/ini.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/files.h"

namespace platform {
namespace {

struct Line {
  std::string text;  // without its line end
  std::string end;   // "\r\n", "\n" or "" for a last line without one
};

std::vector<Line> SplitLines(const std::string& data) {
  std::vector<Line> lines;
  std::size_t pos = 0;
  while (pos < data.size()) {
    std::size_t nl = data.find('\n', pos);
    if (nl == std::string::npos) {
      lines.push_back({data.substr(pos), ""});
      break;
    }
    std::size_t end = nl;
    std::string eol = "\n";
    if (end > pos && data[end - 1] == '\r') {
      --end;
      eol = "\r\n";
    }
    lines.push_back({data.substr(pos, end - pos), eol});
    pos = nl + 1;
  }
  return lines;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Text is C text in the files we share with the sibling programs: a NUL ends it.
std::string_view CutAtNul(std::string_view s) {
  std::size_t nul = s.find('\0');
  return nul == std::string_view::npos ? s : s.substr(0, nul);
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// A section header: "[name]" after leading blanks. A header without its
// closing bracket still opens a section, as the Windows parser treats it.
bool SectionName(std::string_view line, std::string_view* name) {
  line = Trim(CutAtNul(line));
  if (line.empty() || line.front() != '[') return false;
  line.remove_prefix(1);
  std::size_t close = line.find(']');
  *name = Trim(close == std::string_view::npos ? line : line.substr(0, close));
  return true;
}

bool KeyValue(std::string_view line, std::string_view* key, std::string_view* value) {
  line = CutAtNul(line);
  std::size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  *key = Trim(line.substr(0, eq));
  *value = Trim(line.substr(eq + 1));
  return true;
}

// Index range [first, last) of the lines inside the first section named
// section (after its header), or first == npos when there is none.
struct SectionSpan {
  std::size_t header = std::string::npos;
  std::size_t end = 0;
};

SectionSpan FindSection(const std::vector<Line>& lines, std::string_view section) {
  SectionSpan span;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string_view name;
    if (!SectionName(lines[i].text, &name)) continue;
    if (span.header != std::string::npos) {
      span.end = i;
      return span;
    }
    if (EqualNoCase(name, Trim(section))) span.header = i;
  }
  span.end = lines.size();
  return span;
}

std::string Cut(std::string_view text, std::size_t capacity) {
  if (capacity == 0) return {};
  return std::string(text.substr(0, std::min(text.size(), capacity - 1)));
}

std::mutex& WriteMutex() {
  static std::mutex m;
  return m;
}

}  // namespace

std::string ReadIniKey(const std::string& path, std::string_view section, std::string_view key,
                       std::string_view def, std::size_t capacity) {
  std::string data;
  if (!ReadWholeFile(path, &data)) return Cut(def, capacity);
  std::vector<Line> lines = SplitLines(data);
  SectionSpan span = FindSection(lines, section);
  if (span.header == std::string::npos) return Cut(def, capacity);
  for (std::size_t i = span.header + 1; i < span.end; ++i) {
    std::string_view k, v;
    if (KeyValue(lines[i].text, &k, &v) && EqualNoCase(k, Trim(key))) return Cut(v, capacity);
  }
  return Cut(def, capacity);
}

bool WriteIniKey(const std::string& path, std::string_view section, std::string_view key,
                 std::string_view value) {
  // One writer at a time inside the process, so that two threads writing
  // different keys do not lose each other's change.
  std::lock_guard<std::mutex> lock(WriteMutex());

  std::size_t lineBreak = value.find_first_of("\r\n");
  if (lineBreak != std::string_view::npos) value = value.substr(0, lineBreak);
  section = Trim(section);
  key = Trim(key);

  std::string data;
  bool exists = ReadWholeFile(path, &data);
  if (exists && !IsWritableFile(path)) return false;

  std::vector<Line> lines = SplitLines(data);
  std::string eol = "\n";
  for (const Line& l : lines) {
    if (!l.end.empty()) {
      eol = l.end;
      break;
    }
  }

  SectionSpan span = FindSection(lines, section);
  bool done = false;
  if (span.header != std::string::npos) {
    for (std::size_t i = span.header + 1; i < span.end && !done; ++i) {
      std::string_view k, v;
      if (KeyValue(lines[i].text, &k, &v) && EqualNoCase(k, key)) {
        lines[i].text = std::string(k) + "=" + std::string(value);
        done = true;
      }
    }
    if (!done) {
      // Insert after the last non-empty line of the section, so that a blank
      // line separating it from the next section stays where it is.
      std::size_t at = span.end;
      while (at > span.header + 1 && Trim(lines[at - 1].text).empty()) --at;
      if (lines[at - 1].end.empty()) lines[at - 1].end = eol;
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at),
                   Line{std::string(key) + "=" + std::string(value), eol});
      done = true;
    }
  } else {
    if (!lines.empty() && lines.back().end.empty()) lines.back().end = eol;
    lines.push_back({"[" + std::string(section) + "]", eol});
    lines.push_back({std::string(key) + "=" + std::string(value), eol});
  }

  std::string out;
  out.reserve(data.size() + key.size() + value.size() + section.size() + 8);
  for (const Line& l : lines) {
    out += l.text;
    out += l.end;
  }
  return WriteFileAtomic(path, out.data(), out.size());
}

int ParseLeadingInt(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' ||
                             text[i] == '\r' || text[i] == '\v' || text[i] == '\f'))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<std::int64_t>(INT_MAX) + 1) value = static_cast<std::int64_t>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  return static_cast<int>(std::clamp<std::int64_t>(value, INT_MIN, INT_MAX));
}

}  // namespace platform
