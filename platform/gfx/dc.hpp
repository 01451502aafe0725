// The device context: drawing state (pen, brush, raster operation, clip,
// current position, text colours) bound to one surface, and every drawing
// operation of gfx.
//
// Colours in a DC are pixel values of its surface (Surface::map_color gives
// them for a colour). Pens and brushes combine with the destination through
// the binary raster operation; blits combine brush, source and destination
// through a ternary one. All pixels go through the clip: the surface's
// bounds, intersected with the clip region when one is set. Empty and
// inverted rectangles draw nothing.
#pragma once
#include <array>
#include <optional>
#include <span>
#include <string_view>

#include "platform/gfx/region.hpp"
#include "platform/gfx/shapes.hpp"
#include "platform/gfx/surface.hpp"

namespace gfx {

enum class PenStyle : uint8_t { Solid, Dotted, Null };
struct Pen {
  PenStyle style = PenStyle::Solid;
  int32_t width = 1;  // dotted pens are always 1 wide
  Pixel color = 0;
};

enum class BrushStyle : uint8_t { Solid, Pattern, Null };
struct Brush {
  BrushStyle style = BrushStyle::Solid;
  Pixel color = 0;
  std::array<Pixel, 64> pattern{};  // 8 x 8, aligned to the surface origin

  static Brush solid(Pixel p) { return {BrushStyle::Solid, p, {}}; }
  static Brush null() { return {BrushStyle::Null, 0, {}}; }
  // Bit 7 of rows[0] is the top-left pixel; set bits take fg.
  static Brush pattern_of(const uint8_t rows[8], Pixel fg, Pixel bg);
};

// The binary raster operations: the result as a truth table of pen and
// destination bits.
enum class Rop2 : uint8_t {
  Black = 1, NotMergePen, MaskNotPen, NotCopyPen, MaskPenNot, Not, XorPen, NotMaskPen,
  MaskPen, NotXorPen, Nop, MergeNotPen, CopyPen, MergePenNot, MergePen, White
};

// Ternary raster operations: bits 16 to 23 hold the truth table indexed by
// brush * 4 + source * 2 + destination.
using Rop3 = uint32_t;
constexpr Rop3 kSrcCopy = 0x00CC0020, kSrcPaint = 0x00EE0086, kSrcAnd = 0x008800C6,
               kSrcInvert = 0x00660046, kSrcErase = 0x00440328, kNotSrcCopy = 0x00330008,
               kNotSrcErase = 0x001100A6, kMergeCopy = 0x00C000CA, kMergePaint = 0x00BB0226,
               kPatCopy = 0x00F00021, kPatPaint = 0x00FB0A09, kPatInvert = 0x005A0049,
               kDstInvert = 0x00550009, kBlackness = 0x00000042, kWhiteness = 0x00FF0062;

enum class StretchMode : uint8_t { Delete, HalfTone };
enum class BackgroundMode : uint8_t { Transparent, Opaque };

// A device-independent bitmap: 1, 4, 8 or 24 bits a pixel, rows padded to
// four bytes, bottom-up unless top_down. 24-bit pixels are blue, green, red.
struct Dib {
  int32_t width = 0, height = 0;
  bool top_down = false;
  int bits = 24;
  std::vector<uint32_t> palette;  // XRGB entries, for 1, 4 and 8 bits
  std::vector<uint8_t> data;

  size_t stride() const { return ((size_t(width) * size_t(bits) + 31) / 32) * 4; }
  // The colour of pixel (x, y), y counted from the top.
  uint32_t color(int32_t x, int32_t y) const;
  // Whether the fields and the data agree (sizes, depth, palette, length).
  bool valid() const;
};
// A packed bitmap (information header, palette, pixel rows) read from
// bytes; nothing when the bytes are not a well-formed uncompressed one.
std::optional<Dib> parse_dib(std::span<const uint8_t> bytes);
// The bitmap as an XRGB surface.
Surface dib_surface(const Dib& dib);

// The embedded font: fixed cells, code page 1252.
struct FontMetrics {
  static constexpr int32_t kAdvance = 6, kHeight = 12, kAscent = 9;
};
// The rows of the glyph of c: kHeight bytes, bit 7 the leftmost pixel.
const uint8_t* glyph(uint8_t c);

class DC {
 public:
  explicit DC(Surface& s);

  Surface& surface() { return *surface_; }
  void set_pen(const Pen& p) { pen_ = p; }
  const Pen& pen() const { return pen_; }
  void set_brush(const Brush& b) { brush_ = b; }
  const Brush& brush() const { return brush_; }
  void set_rop2(Rop2 r) { rop2_ = r; }
  Rop2 rop2() const { return rop2_; }
  void set_text_color(Pixel p) { text_color_ = p; }
  void set_background(Pixel p, BackgroundMode m) { background_ = p, background_mode_ = m; }
  Pixel text_color() const { return text_color_; }
  Pixel background() const { return background_; }
  BackgroundMode background_mode() const { return background_mode_; }
  // Clipping to a region (in surface coordinates); nothing clears it.
  void set_clip(const std::optional<Region>& clip);
  const std::optional<Region>& clip() const { return clip_; }

  // Lines with the pen. line_to goes from the current position and leaves
  // out the end pixel, then moves there.
  void move_to(Pt p) { position_ = p; }
  Pt position() const { return position_; }
  void line_to(Pt p);
  void line(Pt a, Pt b, bool end_pixel);
  void polyline(std::span<const Pt> points);
  void set_pixel(Pt p, Pixel color);

  // Filled shapes: the brush fills, the pen frames inside the outline.
  void rectangle(Rect r);
  void ellipse(Rect r);
  void round_rect(Rect r, int32_t corner_w, int32_t corner_h);
  void pie(Rect r, int32_t start, int32_t extent);
  void polygon(std::span<const Pt> points);
  // The outline of a sector with the pen.
  void arc(Rect r, int32_t start, int32_t extent);

  // Brush operations without the pen.
  void fill_rect(Rect r, const Brush& b);
  void frame_rect(Rect r, const Brush& b);  // one pixel wide
  void invert_rect(Rect r);
  void fill_region(const Region& rgn, const Brush& b);
  // The pixels of rgn within w and h pixels of its outside.
  void frame_region(const Region& rgn, const Brush& b, int32_t w, int32_t h);
  void invert_region(const Region& rgn);
  // Brush and destination through a ternary operation.
  void pattern_blit(Rect r, Rop3 rop);

  // Source pixels at src_at go to dst through rop; parts of dst whose
  // source lies outside src are left alone.
  void blit(Rect dst, const Surface& src, Pt src_at, Rop3 rop = kSrcCopy);
  void stretch_blit(Rect dst, const Surface& src, Rect src_rect, Rop3 rop = kSrcCopy,
                    StretchMode mode = StretchMode::Delete);
  void draw_dib(Rect dst, const Dib& dib, Rect src_rect, Rop3 rop = kSrcCopy,
                StretchMode mode = StretchMode::Delete);

  // Text in the embedded font, the top-left of the first cell at p, in the
  // text colour; the cells' background too when the mode is opaque.
  void text(Pt p, std::string_view cp1252);
  static int32_t text_width(std::string_view cp1252) {
    return int32_t(std::min<size_t>(cp1252.size(), INT32_MAX / FontMetrics::kAdvance)) * FontMetrics::kAdvance;
  }
  // The text colour blended into w x h pixels whose top-left is (x, y),
  // each by its coverage (0 to 255, rows `stride` apart); an Index8
  // surface takes the colour where the coverage is half or more. Only the
  // clip is written, wherever (x, y) lies.
  void blend(int64_t x, int64_t y, int32_t w, int32_t h, const uint8_t* coverage, size_t stride);

 private:
  struct Source;
  void convex(const ConvexShape& s);
  template <typename F>
  void clipped(int32_t y, int32_t x0, int32_t x1, F&& f);
  void paint_span(int32_t y, int32_t x0, int32_t x1, const Source& s, Rop2 op);
  void brush_span(int32_t y, int32_t x0, int32_t x1, const Brush& b);
  void pen_span(int32_t y, int32_t x0, int32_t x1);
  void pen_line(Pt a, Pt b, bool end_pixel);
  void rop3_row(int32_t y, int32_t x0, int32_t x1, const Pixel* source, Rop3 rop);
  Rect limit() const { return limit_; }

  Surface* surface_;
  Pen pen_;
  Brush brush_ = Brush::solid(0xFFFFFF);
  Rop2 rop2_ = Rop2::CopyPen;
  Pixel text_color_ = 0, background_ = 0xFFFFFF;
  BackgroundMode background_mode_ = BackgroundMode::Transparent;
  Pt position_;
  std::optional<Region> clip_;
  std::vector<Rect> clip_rects_;  // clip bands within the surface
  Rect limit_;                    // bounds of everything drawable
};

}  // namespace gfx
