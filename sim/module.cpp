#include "module.h"

#include <algorithm>
#include <cstdlib>

namespace sim {
namespace {

bool ToInt(const std::string& text, int low, int high, int* out) {
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end || v < low || v > high) return false;
  *out = static_cast<int>(v);
  return true;
}

int PositiveMod(long v, long m) { return static_cast<int>(((v % m) + m) % m); }

}  // namespace

bool ParseModule(const std::string& text, std::optional<ModuleWiring>* out, std::string* error) {
  if (text == "none") {
    out->reset();
    return true;
  }
  ModuleWiring m;
  std::size_t colon = text.find(':');
  std::string size = text.substr(0, colon);
  std::size_t x = size.find('x');
  if (x == std::string::npos || !ToInt(size.substr(0, x), 1, 255, &m.width) ||
      !ToInt(size.substr(x + 1), 1, 255, &m.height)) {
    *error = "module size must be WxH, 1..255 dots each: " + size;
    return false;
  }
  bool scanGiven = false, foldWidthGiven = false;
  while (colon != std::string::npos) {
    std::size_t next = text.find(':', colon + 1);
    std::string item = text.substr(colon + 1, next == std::string::npos ? std::string::npos : next - colon - 1);
    colon = next;
    std::size_t eq = item.find('=');
    std::string key = item.substr(0, eq), value = eq == std::string::npos ? "" : item.substr(eq + 1);
    bool ok = false;
    if (key == "scan") ok = scanGiven = ToInt(value, 1, 255, &m.scan);
    else if (key == "fold-rows") ok = ToInt(value, 1, 255, &m.foldRows);
    else if (key == "fold-width") ok = foldWidthGiven = ToInt(value, 1, 255, &m.foldWidth);
    else if (key == "snake") ok = ToInt(value, 0, 1, &m.snake);
    else if (key == "data") ok = ToInt(value, 0, 1, &m.dataLevel);
    else if (key == "oe") ok = ToInt(value, 0, 1, &m.oeLevel);
    else if (key == "chip") ok = ToInt(value, 0, 23, &m.chip);
    if (!ok) {
      *error = "bad module item: " + item;
      return false;
    }
  }
  if (!scanGiven) m.scan = std::max(1, m.height / m.foldRows);
  if (!foldWidthGiven) m.foldWidth = m.width;
  if (m.height % (m.scan * m.foldRows) != 0) {
    *error = "module height must be a multiple of scan x fold-rows";
    return false;
  }
  if (m.foldWidth > m.width || m.width % m.foldWidth != 0) {
    *error = "fold width must divide the module width";
    return false;
  }
  *out = m;
  return true;
}

Drive DriveFromRecord(const CardRecord& r) {
  Drive d;
  d.screenWidth = r.u16(field::kScreenWidth);
  d.screenHeight = r.u16(field::kScreenHeight);
  // An unset module size is taken as 64 x 32, the usual P-type module.
  d.moduleWidth = r.u8(field::kModuleWidth) ? r.u8(field::kModuleWidth) : 64;
  d.moduleHeight = r.u8(field::kModuleHeight) ? r.u8(field::kModuleHeight) : 32;
  d.scan = std::max<int>(1, r.u8(field::kScanGroups));
  d.foldRows = std::max<int>(1, r.u8(field::kFoldRows));
  d.foldWidth = r.u8(field::kFoldWidth) ? r.u8(field::kFoldWidth) : d.moduleWidth;
  d.snake = r.u8(field::kSnake) & 1;
  d.chip = r.u8(field::kRowChip);
  d.brightness = r.u8(field::kBrightness);
  if (r.major() >= kLevelsFromFieldsMajor) {
    d.dataLevel = r.u8(field::kDataLevel) != 0;
    d.oeLevel = r.u8(field::kOeLevel) != 0;
  } else {
    // Older firmware takes the levels from the code word: a set bit is "正".
    const std::uint16_t code = r.u16(field::kDisplayCode);
    d.dataLevel = (code & 0x01) ? 0 : 1;
    d.oeLevel = (code & 0x10) ? 0 : 1;
  }
  return d;
}

int DotLevel(int brightness, bool oeMatches) {
  const int b = std::clamp(brightness, 0, 39);
  return (oeMatches ? b + 1 : 40 - b) * 255 / 40;
}

bool Chain::Dot(int q, int* column, int* row) const {
  const int segment = q / foldWidth;
  const int turn = segment % foldRows;
  *row = snake ? foldRows - 1 - turn : turn;
  *column = segment / foldRows * foldWidth + q % foldWidth;
  return q >= 0 && q < length() && *column < width;
}

int Chain::Position(int column, int row) const {
  if (column < 0 || column >= width || row < 0 || row >= foldRows) return -1;
  const int turn = snake ? foldRows - 1 - row : row;
  const int q = (column / foldWidth * foldRows + turn) * foldWidth + column % foldWidth;
  return q < length() ? q : -1;
}

int PanelPicture::Lit() const {
  return static_cast<int>(std::count_if(grey.begin(), grey.end(), [](std::uint8_t g) { return g != 0; }));
}

int PanelPicture::Level() const { return grey.empty() ? 0 : *std::max_element(grey.begin(), grey.end()); }

std::string PanelPicture::Pgm() const {
  std::string out = "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  out.append(grey.begin(), grey.end());
  return out;
}

PanelPicture ShowOnModule(const Framebuffer& screen, const Drive& drive, const std::optional<ModuleWiring>& module) {
  PanelPicture pic;
  pic.width = module ? module->width : drive.moduleWidth;
  pic.height = module ? module->height : drive.moduleHeight;
  pic.grey.assign(static_cast<std::size_t>(pic.width) * static_cast<std::size_t>(pic.height), 0);
  if (!module || module->chip != drive.chip) return pic;
  const ModuleWiring& m = *module;
  const bool inverted = m.dataLevel != drive.dataLevel;
  const auto level = static_cast<std::uint8_t>(DotLevel(drive.brightness, m.oeLevel == drive.oeLevel));

  // The card's view of its top module row: nx modules of one chain each per
  // address, shifted left module first, so the last bits stay in the first
  // (right-most) module.
  const Chain card{drive.moduleWidth, drive.foldRows, std::max(1, drive.foldWidth), drive.snake};
  const Chain real{m.width, m.foldRows, m.foldWidth, m.snake};
  const int modules = std::max(1, (drive.screenWidth + drive.moduleWidth - 1) / drive.moduleWidth);
  const long shifted = static_cast<long>(modules) * card.length();
  const int cardBand = drive.scan * drive.foldRows;
  const int rowsDriven = std::min(drive.moduleHeight, drive.screenHeight);
  const int realBand = m.scan * m.foldRows;

  for (int y = 0; y < m.height; ++y) {
    const int line = y / realBand, address = y % realBand % m.scan, row = y % realBand / m.scan;
    for (int x = 0; x < m.width; ++x) {
      const int q = real.Position(x, row);
      if (q < 0) continue;
      // What the card shifted into this place of the chain; a chain longer
      // than that shows it again.
      const int t = PositiveMod(shifted - real.length() + q, shifted);
      int column = 0, cardRow = 0;
      const bool onModule = card.Dot(t % card.length(), &column, &cardRow);
      const int sx = t / card.length() * drive.moduleWidth + column;
      bool lit = false, driven = false;
      // Every card address that the module's address lines cannot tell from
      // this row's address lights it for its share of the time.
      for (int a = address; a < drive.scan; a += m.scan) {
        driven = true;
        const int sy = line * cardBand + cardRow * drive.scan + a;
        bool bit = onModule && sy < rowsDriven && screen.Lit(sx, sy);
        lit = lit || (bit != inverted);
      }
      if (driven && lit) pic.grey[static_cast<std::size_t>(y) * static_cast<std::size_t>(m.width) +
                                  static_cast<std::size_t>(x)] = level;
    }
  }
  return pic;
}

}  // namespace sim
