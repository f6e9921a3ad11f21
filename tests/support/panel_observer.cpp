#include "support/panel_observer.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "platform/files.h"

namespace testing_support {
namespace {

// The next header number of a PGM, skipping white space and # comments.
bool Number(const std::string& s, std::size_t* at, int* out) {
  for (;;) {
    while (*at < s.size() && std::isspace(static_cast<unsigned char>(s[*at]))) ++*at;
    if (*at < s.size() && s[*at] == '#') {
      while (*at < s.size() && s[*at] != '\n') ++*at;
      continue;
    }
    break;
  }
  std::size_t start = *at;
  while (*at < s.size() && std::isdigit(static_cast<unsigned char>(s[*at]))) ++*at;
  if (*at == start || *at - start > 6) return false;
  *out = std::atoi(s.substr(start, *at - start).c_str());
  return true;
}

double MeanLit(const Picture& p) {
  long sum = 0, n = 0;
  for (auto g : p.grey)
    if (g) sum += g, ++n;
  return n ? static_cast<double>(sum) / static_cast<double>(n) : 0.0;
}

}  // namespace

bool Picture::lit(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) return false;
  return grey[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)] != 0;
}

std::optional<Picture> ParsePgm(const std::string& bytes) {
  if (bytes.compare(0, 2, "P5") != 0) return std::nullopt;
  std::size_t at = 2;
  Picture p;
  int maxval = 0;
  if (!Number(bytes, &at, &p.width) || !Number(bytes, &at, &p.height) || !Number(bytes, &at, &maxval) ||
      maxval != 255 || at >= bytes.size() || p.width <= 0 || p.height <= 0)
    return std::nullopt;
  ++at;  // the one white space byte before the pixels
  const std::size_t n = static_cast<std::size_t>(p.width) * static_cast<std::size_t>(p.height);
  if (bytes.size() - at != n) return std::nullopt;
  p.grey.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.end());
  return p;
}

std::optional<Picture> LoadPgm(const std::string& path) {
  std::string bytes;
  if (!platform::ReadWholeFile(path, &bytes)) return std::nullopt;
  return ParsePgm(bytes);
}

bool PanelObserver::WholeAreaLit() const {
  return !now_.grey.empty() && std::all_of(now_.grey.begin(), now_.grey.end(), [](auto g) { return g != 0; });
}

bool PanelObserver::BrighterThan(const Picture& before) const { return MeanLit(now_) > MeanLit(before); }

int PanelObserver::PointsLit() const {
  return static_cast<int>(std::count_if(now_.grey.begin(), now_.grey.end(), [](auto g) { return g != 0; }));
}

bool PanelObserver::PointsInOneLine(int n) const {
  if (n <= 0 || PointsLit() != n) return false;
  int x0 = now_.width, y0 = now_.height, x1 = -1, y1 = -1;
  for (int y = 0; y < now_.height; ++y)
    for (int x = 0; x < now_.width; ++x)
      if (now_.lit(x, y)) x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
  // n dots in a box one dot high (or wide) and n long leave no gap.
  return (y0 == y1 && x1 - x0 + 1 == n) || (x0 == x1 && y1 - y0 + 1 == n);
}

int PanelObserver::LineCount() const {
  int lines = 0;
  for (int y = 0; y < now_.height; ++y) {
    int runs = 0, dots = 0;
    for (int x = 0; x < now_.width; ++x) {
      if (!now_.lit(x, y)) continue;
      ++dots;
      if (!now_.lit(x - 1, y)) ++runs;
    }
    if (runs > 1 || dots == 1) return -1;
    lines += runs;
  }
  return lines;
}

bool PanelObserver::SquareShown() const {
  int x0 = now_.width, y0 = now_.height, x1 = -1, y1 = -1;
  for (int y = 0; y < now_.height; ++y)
    for (int x = 0; x < now_.width; ++x)
      if (now_.lit(x, y)) x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
  if (x1 - x0 < 2 || x1 - x0 != y1 - y0) return false;
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x) {
      const bool edge = x == x0 || x == x1 || y == y0 || y == y1;
      if (now_.lit(x, y) != edge) return false;
    }
  return true;
}

}  // namespace testing_support
