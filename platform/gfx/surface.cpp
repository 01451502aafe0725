#include "platform/gfx/surface.hpp"

#include <cstring>

namespace gfx {

Surface::Surface(int32_t w, int32_t h, Format f)
    : width_(std::clamp(w, 0, kMaxSide)), height_(std::clamp(h, 0, kMaxSide)), format_(f) {
  stride_ = size_t(width_) * bytes_per_pixel();
  stride_ = (stride_ + 3) & ~size_t(3);
  bytes_.assign(stride_ * size_t(height_), 0);
}

Pixel Surface::pixel(int32_t x, int32_t y) const {
  if (!bounds().contains({x, y})) return 0;
  return format_ == Format::XRGB8888 ? row32(y)[x] : row_bytes(y)[x];
}

void Surface::set_pixel(int32_t x, int32_t y, Pixel p) {
  if (!bounds().contains({x, y})) return;
  if (format_ == Format::XRGB8888)
    row32(y)[x] = p & 0xFFFFFF;
  else
    row_bytes(y)[x] = uint8_t(p);
}

uint32_t Surface::color(int32_t x, int32_t y) const { return pixel_color(pixel(x, y)); }

void Surface::fill(Pixel p) {
  for (int32_t y = 0; y < height_; ++y) {
    if (format_ == Format::XRGB8888)
      std::fill_n(row32(y), width_, p & 0xFFFFFF);
    else
      std::memset(row_bytes(y), uint8_t(p), size_t(width_));
  }
}

Pixel Surface::map_color(uint32_t color) const {
  if (format_ == Format::XRGB8888) return color & 0xFFFFFF;
  int best = 0;
  int64_t best_d = INT64_MAX;
  for (int i = 0; i < 256; ++i) {
    uint32_t c = palette_[i];
    int64_t dr = int64_t((c >> 16) & 255) - ((color >> 16) & 255);
    int64_t dg = int64_t((c >> 8) & 255) - ((color >> 8) & 255);
    int64_t db = int64_t(c & 255) - (color & 255);
    int64_t d = dr * dr + dg * dg + db * db;
    if (d < best_d) best_d = d, best = i;
  }
  return Pixel(best);
}

bool Surface::operator==(const Surface& o) const {
  if (width_ != o.width_ || height_ != o.height_ || format_ != o.format_) return false;
  for (int32_t y = 0; y < height_; ++y)
    if (std::memcmp(row_bytes(y), o.row_bytes(y), size_t(width_) * bytes_per_pixel()) != 0) return false;
  return format_ == Format::XRGB8888 || palette_ == o.palette_;
}

}  // namespace gfx
