// Pixel surfaces: the memory every drawing operation writes into.
//
// A surface is either XRGB8888 (one 32-bit word a pixel, 0x00RRGGBB, the top
// byte always 0) or Index8 (one byte a pixel indexing a palette of 256
// XRGB colours: the 8-bit screen mode). Rows are stored top-down. Rectangles
// are left-top inclusive and right-bottom exclusive everywhere in gfx.
#pragma once
#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace gfx {

struct Pt {
  int32_t x = 0, y = 0;
  bool operator==(const Pt&) const = default;
};

struct Rect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  bool operator==(const Rect&) const = default;
  int32_t width() const { return right - left; }
  int32_t height() const { return bottom - top; }
  // Inverted rectangles are empty too.
  bool empty() const { return right <= left || bottom <= top; }
  bool contains(Pt p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
};

inline Rect intersect(const Rect& a, const Rect& b) {
  Rect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
         std::min(a.bottom, b.bottom)};
  return r.empty() ? Rect{} : r;
}
inline Rect offset(const Rect& r, int32_t dx, int32_t dy) {
  return {r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
}

// A pixel value in a surface's own format: an XRGB colour, or a palette index.
using Pixel = uint32_t;

enum class Format : uint8_t { XRGB8888, Index8 };

constexpr uint32_t rgb(uint32_t r, uint32_t g, uint32_t b) { return (r << 16) | (g << 8) | b; }

class Surface {
 public:
  Surface() = default;
  // A surface of w x h pixels, all 0 (black, or palette entry 0). Sizes
  // below 0 count as 0; sizes beyond kMaxSide are refused by callers.
  Surface(int32_t w, int32_t h, Format f = Format::XRGB8888);

  static constexpr int32_t kMaxSide = 16384;

  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  Format format() const { return format_; }
  Rect bounds() const { return {0, 0, width_, height_}; }
  size_t stride() const { return stride_; }  // bytes a row
  int bytes_per_pixel() const { return format_ == Format::XRGB8888 ? 4 : 1; }

  uint8_t* row_bytes(int32_t y) { return bytes_.data() + size_t(y) * stride_; }
  const uint8_t* row_bytes(int32_t y) const { return bytes_.data() + size_t(y) * stride_; }
  uint32_t* row32(int32_t y) { return reinterpret_cast<uint32_t*>(row_bytes(y)); }
  const uint32_t* row32(int32_t y) const { return reinterpret_cast<const uint32_t*>(row_bytes(y)); }

  // The pixel value at (x, y); 0 outside.
  Pixel pixel(int32_t x, int32_t y) const;
  void set_pixel(int32_t x, int32_t y, Pixel p);
  // The colour at (x, y) as XRGB, through the palette for Index8.
  uint32_t color(int32_t x, int32_t y) const;
  void fill(Pixel p);

  // Index8 palette (unused by XRGB surfaces).
  std::array<uint32_t, 256>& palette() { return palette_; }
  const std::array<uint32_t, 256>& palette() const { return palette_; }
  // The pixel value that shows `color` best: the colour itself for XRGB,
  // the nearest palette entry (lowest index on ties) for Index8.
  Pixel map_color(uint32_t color) const;
  // The XRGB colour a pixel value shows.
  uint32_t pixel_color(Pixel p) const { return format_ == Format::XRGB8888 ? (p & 0xFFFFFF) : palette_[p & 255]; }

  bool operator==(const Surface& o) const;

 private:
  int32_t width_ = 0, height_ = 0;
  Format format_ = Format::XRGB8888;
  size_t stride_ = 0;
  std::vector<uint8_t> bytes_;
  std::array<uint32_t, 256> palette_{};
};

}  // namespace gfx
