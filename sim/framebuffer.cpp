#include "framebuffer.h"

#include <algorithm>
#include <cstdlib>

namespace sim {

void Framebuffer::Resize(int width, int height) {
  width_ = std::clamp(width, 1, kMaxScreenWidth);
  height_ = std::clamp(height, 1, kMaxScreenHeight);
  pixels_.assign(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_), 0);
}

void Framebuffer::Clear() { std::fill(pixels_.begin(), pixels_.end(), 0); }

void Framebuffer::Point(int x, int y) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  pixels_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x)] = 255;
}

void Framebuffer::Line(int x0, int y0, int x1, int y1) {
  // Bresenham, so a diagonal lights one pixel per step.
  int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
  int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
  int err = dx + dy;
  for (int guard = 0; guard < 2 * (kMaxScreenWidth + kMaxScreenHeight) + 8; ++guard) {
    Point(x0, y0);
    if (x0 == x1 && y0 == y1) break;
    int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x0 += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y0 += sy;
    }
  }
}

void Framebuffer::Rect(int x0, int y0, int x1, int y1) {
  Line(x0, y0, x1, y0);
  Line(x1, y0, x1, y1);
  Line(x1, y1, x0, y1);
  Line(x0, y1, x0, y0);
}

void Framebuffer::Text(int x, int y, std::string_view gbk) {
  for (std::size_t i = 0; i < gbk.size() && x < width_;) {
    bool wide = static_cast<unsigned char>(gbk[i]) >= 0x81 && i + 1 < gbk.size();
    int w = wide ? 12 : 6;
    Rect(x, y, x + w - 2, y + 11);
    x += w;
    i += wide ? 2 : 1;
  }
}

void Framebuffer::TestPattern(int n) {
  int cell = n > 0 ? n : 1;
  for (int y = 0; y < height_; ++y)
    for (int x = 0; x < width_; ++x)
      if (n == 2 || ((x / cell) + (y / cell)) % 2 == 0) Point(x, y);
}

bool Framebuffer::Lit(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return false;
  return pixels_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x)] != 0;
}

int Framebuffer::LitCount() const {
  return static_cast<int>(std::count_if(pixels_.begin(), pixels_.end(), [](std::uint8_t p) { return p != 0; }));
}

std::string Framebuffer::Pgm() const {
  std::string out = "P5\n" + std::to_string(width_) + " " + std::to_string(height_) + "\n255\n";
  out.append(pixels_.begin(), pixels_.end());
  return out;
}

}  // namespace sim
