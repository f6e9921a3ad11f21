// What the "led" lines draw on the card's screen, kept as one byte per pixel
// (0 dark, 255 lit) and written out as a PGM picture.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// Screens larger than this are drawn on a cut-out of this size.
constexpr int kMaxScreenWidth = 2048;
constexpr int kMaxScreenHeight = 1024;

class Framebuffer {
 public:
  void Resize(int width, int height);  // clamped to 1..max; clears
  int width() const { return width_; }
  int height() const { return height_; }

  void Clear();
  void Point(int x, int y);
  void Line(int x0, int y0, int x1, int y1);
  void Rect(int x0, int y0, int x1, int y1);  // outline
  // A 12-dot font is not modelled: each character is drawn as the outline of
  // its cell (12 x 12 for a double-byte GBK character, 6 x 12 for ASCII).
  void Text(int x, int y, std::string_view gbk);
  // Test pattern n: 2 lights everything, any other number a checkerboard of
  // n x n cells.
  void TestPattern(int n);

  bool Lit(int x, int y) const;
  int LitCount() const;
  std::string Pgm() const;  // binary PGM (P5)

 private:
  int width_ = 0;
  int height_ = 0;
  std::vector<std::uint8_t> pixels_;
};

}  // namespace sim
