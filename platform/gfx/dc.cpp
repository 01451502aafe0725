#include "platform/gfx/dc.hpp"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <vector>

namespace gfx {

Brush Brush::pattern_of(const uint8_t rows[8], Pixel fg, Pixel bg) {
  Brush b{BrushStyle::Pattern, fg, {}};
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) b.pattern[size_t(y * 8 + x)] = (rows[y] >> (7 - x)) & 1 ? fg : bg;
  return b;
}

// What a pen or brush span writes: one pixel value, or a row of the 8 x 8
// pattern repeated.
struct DC::Source {
  const Pixel* pattern = nullptr;  // row of 8, or null for solid
  Pixel color = 0;
  Pixel at(int32_t x) const { return pattern ? pattern[x & 7] : color; }
};

namespace {

// The value of a binary operation for pen bits p and destination bits d.
inline uint32_t apply_rop2(Rop2 op, uint32_t p, uint32_t d) {
  unsigned t = unsigned(op) - 1;
  uint32_t r = 0;
  if (t & 1) r |= ~p & ~d;
  if (t & 2) r |= ~p & d;
  if (t & 4) r |= p & ~d;
  if (t & 8) r |= p & d;
  return r;
}

// The value of a ternary operation for brush, source and destination bits.
inline uint32_t apply_rop3(unsigned table, uint32_t p, uint32_t s, uint32_t d) {
  uint32_t r = 0;
  for (unsigned i = 0; i < 8; ++i) {
    if (!((table >> i) & 1)) continue;
    r |= ((i & 4) ? p : ~p) & ((i & 2) ? s : ~s) & ((i & 1) ? d : ~d);
  }
  return r;
}

template <typename T>
T* row_of(Surface& s, int32_t y) {
  return reinterpret_cast<T*>(s.row_bytes(y));
}

}  // namespace

namespace {
// Fills n pixels with one value at the speed of the C library's fills.
inline void fill_pixels(uint32_t* d, size_t n, uint32_t v) {
  static_assert(sizeof(wchar_t) == 4);
  std::wmemset(reinterpret_cast<wchar_t*>(d), wchar_t(v), n);
}
inline void fill_pixels(uint8_t* d, size_t n, uint32_t v) { std::memset(d, int(v & 0xFF), n); }

template <typename T, typename Src>
void paint_run_impl(T* d, int32_t x0, int32_t x1, const Src& s, Rop2 op, uint32_t mask) {
  if (op == Rop2::CopyPen && !s.pattern) {
    fill_pixels(d + x0, size_t(x1 - x0), s.color & mask);
    return;
  }
  switch (op) {
    case Rop2::Nop: return;
    case Rop2::CopyPen:
      for (int32_t x = x0; x < x1; ++x) d[x] = T(s.at(x) & mask);
      return;
    case Rop2::XorPen:
      for (int32_t x = x0; x < x1; ++x) d[x] = T((d[x] ^ s.at(x)) & mask);
      return;
    case Rop2::Not:
      for (int32_t x = x0; x < x1; ++x) d[x] = T(~d[x] & mask);
      return;
    default:
      for (int32_t x = x0; x < x1; ++x) d[x] = T(apply_rop2(op, s.at(x), d[x]) & mask);
  }
}
}  // namespace

DC::DC(Surface& s) : surface_(&s), limit_(s.bounds()) {
  if (s.format() == Format::Index8) brush_ = Brush::solid(255), background_ = 255;
}

void DC::set_clip(const std::optional<Region>& clip) {
  clip_ = clip;
  clip_rects_.clear();
  limit_ = surface_->bounds();
  if (!clip_) return;
  Region inside = intersect(*clip_, Region(surface_->bounds()));
  clip_rects_ = inside.rects();
  limit_ = inside.empty() ? Rect{} : inside.bounds();
}

template <typename F>
void DC::clipped(int32_t y, int32_t x0, int32_t x1, F&& f) {
  if (y < limit_.top || y >= limit_.bottom) return;
  if (!clip_) {
    x0 = std::max(x0, limit_.left);
    x1 = std::min(x1, limit_.right);
    if (x0 < x1) f(x0, x1);
    return;
  }
  // The band holding row y: bands are sorted, so their bottoms grow.
  auto it = std::upper_bound(clip_rects_.begin(), clip_rects_.end(), y,
                             [](int32_t v, const Rect& r) { return v < r.bottom; });
  for (; it != clip_rects_.end() && it->top <= y; ++it) {
    int32_t a = std::max(x0, it->left), b = std::min(x1, it->right);
    if (a < b) f(a, b);
  }
}

void DC::paint_span(int32_t y, int32_t x0, int32_t x1, const Source& s, Rop2 op) {
  Surface& surf = *surface_;
  clipped(y, x0, x1, [&](int32_t a, int32_t b) {
    if (surf.format() == Format::XRGB8888)
      paint_run_impl(row_of<uint32_t>(surf, y), a, b, s, op, 0xFFFFFFu);
    else
      paint_run_impl(row_of<uint8_t>(surf, y), a, b, s, op, 0xFFu);
  });
}

void DC::brush_span(int32_t y, int32_t x0, int32_t x1, const Brush& b) {
  if (b.style == BrushStyle::Null) return;
  Source s;
  s.color = b.color;
  if (b.style == BrushStyle::Pattern) s.pattern = &b.pattern[size_t((y & 7) * 8)];
  paint_span(y, x0, x1, s, rop2_);
}

void DC::pen_span(int32_t y, int32_t x0, int32_t x1) {
  Source s;
  s.color = pen_.color;
  paint_span(y, x0, x1, s, rop2_);
}

// ---- Lines ---------------------------------------------------------------------

void DC::pen_line(Pt a, Pt b, bool end_pixel) {
  if (pen_.style == PenStyle::Null) return;
  if (pen_.style == PenStyle::Dotted || pen_.width <= 1) {
    bool dotted = pen_.style == PenStyle::Dotted;
    if (!dotted && !clip_ && rop2_ == Rop2::CopyPen) {
      // The common case straight into the pixels: points come within limit_.
      Surface& surf = *surface_;
      if (surf.format() == Format::XRGB8888) {
        uint32_t c = pen_.color & 0xFFFFFF;
        auto plot = [&](int64_t, int32_t x, int32_t y) { surf.row32(y)[x] = c; };
        line_points(a, b, end_pixel, limit_, PointSink(plot));
      } else {
        uint8_t c = uint8_t(pen_.color);
        auto plot = [&](int64_t, int32_t x, int32_t y) { surf.row_bytes(y)[x] = c; };
        line_points(a, b, end_pixel, limit_, PointSink(plot));
      }
      return;
    }
    Source on{nullptr, pen_.color}, off{nullptr, background_};
    bool fill_gaps = background_mode_ == BackgroundMode::Opaque;
    auto plot = [&](int64_t i, int32_t x, int32_t y) {
      if (!dotted || (i & 1) == 0)
        paint_span(y, x, x + 1, on, rop2_);
      else if (fill_gaps)
        paint_span(y, x, x + 1, off, rop2_);
    };
    line_points(a, b, end_pixel, limit_, PointSink(plot));
    return;
  }
  auto span = [&](int32_t y, int32_t x0, int32_t x1) { pen_span(y, x0, x1); };
  wide_line_spans(a, b, end_pixel, pen_.width, limit_, SpanSink(span));
}

void DC::line_to(Pt p) {
  pen_line(position_, p, false);
  position_ = p;
}

void DC::line(Pt a, Pt b, bool end_pixel) { pen_line(a, b, end_pixel); }

void DC::polyline(std::span<const Pt> points) {
  if (points.empty()) return;
  move_to(points[0]);
  for (size_t i = 1; i < points.size(); ++i) line_to(points[i]);
}

void DC::set_pixel(Pt p, Pixel color) {
  Source s{nullptr, color};
  paint_span(p.y, p.x, p.x + 1, s, Rop2::CopyPen);
}

// ---- Shapes ------------------------------------------------------------------------

void DC::rectangle(Rect r) { round_rect(r, 0, 0); }

void DC::ellipse(Rect r) { convex(ConvexShape::ellipse(r)); }

void DC::round_rect(Rect r, int32_t corner_w, int32_t corner_h) {
  convex(ConvexShape::round_rect(r, corner_w, corner_h));
}

void DC::convex(const ConvexShape& s) {
  auto fill = [&](int32_t y, int32_t x0, int32_t x1) { brush_span(y, x0, x1, brush_); };
  auto frame = [&](int32_t y, int32_t x0, int32_t x1) { pen_span(y, x0, x1); };
  if (pen_.style == PenStyle::Null) {
    fill_spans(s, limit_, SpanSink(fill));
    return;
  }
  // The brush fills the inside of the frame only, so that raster
  // operations meet each pixel once.
  SpanSink frame_sink(frame), fill_sink(fill);
  frame_and_interior_spans(s, pen_.width, limit_, &frame_sink,
                           brush_.style == BrushStyle::Null ? nullptr : &fill_sink);
}

void DC::pie(Rect r, int32_t start, int32_t extent) {
  auto fill = [&](int32_t y, int32_t x0, int32_t x1) { brush_span(y, x0, x1, brush_); };
  pie_spans(r, start, extent, limit_, SpanSink(fill));
  if (pen_.style == PenStyle::Null || extent == 0) return;
  // The pen draws the curved edge and, short of a whole ellipse, the two radii.
  arc(r, start, extent);
  if (extent >= 360 || extent <= -360 || clamp_rect(r).empty()) return;
  Pt centre = sector_centre(r);
  pen_line(centre, sector_edge(r, start), true);
  pen_line(centre, sector_edge(r, start + extent), true);
}

void DC::arc(Rect r, int32_t start, int32_t extent) {
  if (pen_.style == PenStyle::Null) return;
  auto frame = [&](int32_t y, int32_t x0, int32_t x1) { pen_span(y, x0, x1); };
  arc_spans(r, start, extent, pen_.width, limit_, SpanSink(frame));
}

void DC::polygon(std::span<const Pt> points) {
  auto fill = [&](int32_t y, int32_t x0, int32_t x1) { brush_span(y, x0, x1, brush_); };
  polygon_spans(points, limit_, SpanSink(fill));
  if (pen_.style == PenStyle::Null || points.size() < 2) return;
  for (size_t i = 0; i < points.size(); ++i) pen_line(points[i], points[(i + 1) % points.size()], false);
}

void DC::fill_rect(Rect r, const Brush& b) {
  r = intersect(clamp_rect(r), limit_);
  for (int32_t y = r.top; y < r.bottom; ++y) brush_span(y, r.left, r.right, b);
}

void DC::frame_rect(Rect r, const Brush& b) {
  auto span = [&](int32_t y, int32_t x0, int32_t x1) { brush_span(y, x0, x1, b); };
  frame_spans(ConvexShape::rect(r), 1, limit_, SpanSink(span));
}

void DC::invert_rect(Rect r) {
  r = intersect(clamp_rect(r), limit_);
  Source none;
  for (int32_t y = r.top; y < r.bottom; ++y) paint_span(y, r.left, r.right, none, Rop2::Not);
}

void DC::fill_region(const Region& rgn, const Brush& b) {
  for (const Rect& r : rgn.rects()) {
    Rect c = intersect(r, limit_);
    for (int32_t y = c.top; y < c.bottom; ++y) brush_span(y, c.left, c.right, b);
  }
}

void DC::frame_region(const Region& rgn, const Brush& b, int32_t w, int32_t h) {
  w = std::clamp(w, 1, 64);
  h = std::clamp(h, 1, 64);
  // The inside: the pixels of rgn whose w x h neighbourhood (w across and h
  // down either way) lies in rgn; eroded across first, then down.
  Region across = rgn;
  for (int32_t d = 1; d <= w; ++d)
    for (int32_t dx : {d, -d}) {
      Region moved = rgn;
      moved.offset(dx, 0);
      across = intersect(across, moved);
    }
  Region inner = across;
  for (int32_t d = 1; d <= h; ++d)
    for (int32_t dy : {d, -d}) {
      Region moved = across;
      moved.offset(0, dy);
      inner = intersect(inner, moved);
    }
  fill_region(subtract(rgn, inner), b);
}

void DC::invert_region(const Region& rgn) {
  Source none;
  for (const Rect& r : rgn.rects()) {
    Rect c = intersect(r, limit_);
    for (int32_t y = c.top; y < c.bottom; ++y) paint_span(y, c.left, c.right, none, Rop2::Not);
  }
}

// ---- Blits -----------------------------------------------------------------------

namespace {

// One row of a ternary operation: d[x] for x in [a, b), with src[x - a] the
// source and brush_at(x) the brush. The common operations have loops of
// their own; the others evaluate the truth table.
template <typename T, typename Brush>
void rop3_run(T* d, int32_t a, int32_t b, const Pixel* src, const Brush& brush_at, unsigned table, uint32_t mask) {
  auto each = [&](auto f) {
    for (int32_t x = a; x < b; ++x) d[x] = T(f(brush_at(x), src ? src[x - a] : 0u, uint32_t(d[x])) & mask);
  };
  switch (table) {
    case 0xCC:  // source copy
      if (src && sizeof(T) == 4) {
        std::memcpy(d + a, src, size_t(b - a) * 4);
        return;
      }
      each([](uint32_t, uint32_t s, uint32_t) { return s; });
      return;
    case 0x66: each([](uint32_t, uint32_t s, uint32_t dd) { return s ^ dd; }); return;    // invert
    case 0x88: each([](uint32_t, uint32_t s, uint32_t dd) { return s & dd; }); return;    // and
    case 0xEE: each([](uint32_t, uint32_t s, uint32_t dd) { return s | dd; }); return;    // paint
    case 0x33: each([](uint32_t, uint32_t s, uint32_t) { return ~s; }); return;           // not source
    case 0x44: each([](uint32_t, uint32_t s, uint32_t dd) { return s & ~dd; }); return;   // erase
    case 0xBB: each([](uint32_t, uint32_t s, uint32_t dd) { return ~s | dd; }); return;   // merge paint
    case 0x55: each([](uint32_t, uint32_t, uint32_t dd) { return ~dd; }); return;         // dest invert
    case 0xF0: each([](uint32_t p, uint32_t, uint32_t) { return p; }); return;            // pattern copy
    case 0x5A: each([](uint32_t p, uint32_t, uint32_t dd) { return p ^ dd; }); return;    // pattern invert
    case 0xC0: each([](uint32_t p, uint32_t s, uint32_t) { return p & s; }); return;      // merge copy
    case 0x00: each([](uint32_t, uint32_t, uint32_t) { return 0u; }); return;
    case 0xFF: each([](uint32_t, uint32_t, uint32_t) { return ~0u; }); return;
    case 0xAA: return;  // the destination stays
    default: each([table](uint32_t p, uint32_t s, uint32_t dd) { return apply_rop3(table, p, s, dd); });
  }
}

}  // namespace

void DC::rop3_row(int32_t y, int32_t x0, int32_t x1, const Pixel* source, Rop3 rop) {
  // source[i] is the source pixel for x0 + i, in the surface's format.
  Surface& surf = *surface_;
  unsigned table = (rop >> 16) & 0xFF;
  bool xrgb = surf.format() == Format::XRGB8888;
  uint32_t mask = xrgb ? 0xFFFFFFu : 0xFFu;
  const Pixel* pattern_row = brush_.style == BrushStyle::Pattern ? &brush_.pattern[size_t((y & 7) * 8)] : nullptr;
  Pixel solid = brush_.style == BrushStyle::Null ? 0 : brush_.color;
  auto brush_at = [&](int32_t x) { return pattern_row ? pattern_row[x & 7] : solid; };
  clipped(y, x0, x1, [&](int32_t a, int32_t b) {
    const Pixel* src = source ? source + (a - x0) : nullptr;
    if (xrgb)
      rop3_run(row_of<uint32_t>(surf, y), a, b, src, brush_at, table, mask);
    else
      rop3_run(row_of<uint8_t>(surf, y), a, b, src, brush_at, table, mask);
  });
}

void DC::pattern_blit(Rect r, Rop3 rop) {
  r = intersect(clamp_rect(r), limit_);
  for (int32_t y = r.top; y < r.bottom; ++y) rop3_row(y, r.left, r.right, nullptr, rop);
}

namespace {

// Reads a row of source pixels in the destination's format.
struct RowReader {
  const Surface& src;
  const Surface& dst;
  std::vector<Pixel> buffer;
  // Pixels [x0, x1) of row y of src, mapped for dst.
  const Pixel* read(int32_t y, int32_t x0, int32_t x1) {
    buffer.resize(size_t(x1 - x0));
    bool same = src.format() == dst.format();
    for (int32_t x = x0; x < x1; ++x) {
      Pixel p = src.pixel(x, y);
      buffer[size_t(x - x0)] = same ? p : dst.map_color(src.pixel_color(p));
    }
    return buffer.data();
  }
};

}  // namespace

void DC::blit(Rect dst, const Surface& src, Pt src_at, Rop3 rop) {
  dst = clamp_rect(dst);
  if (dst.empty()) return;
  // Only the part whose source lies within src.
  Rect from = intersect(Rect{src_at.x, src_at.y, src_at.x + dst.width(), src_at.y + dst.height()}, src.bounds());
  Rect to = intersect(offset(from, dst.left - src_at.x, dst.top - src_at.y), limit_);
  if (to.empty()) return;
  int32_t dx = src_at.x - dst.left, dy = src_at.y - dst.top;
  // A copy of the source pixels when they come from the surface drawn on,
  // so that overlapping areas (scrolling) read the pixels of before.
  Surface copy;
  const Surface* s = &src;
  if (&src == surface_) {
    Rect need = offset(to, dx, dy);
    copy = Surface(need.width(), need.height(), src.format());
    copy.palette() = src.palette();
    size_t bpp = size_t(src.bytes_per_pixel());
    for (int32_t y = need.top; y < need.bottom; ++y)
      std::memcpy(copy.row_bytes(y - need.top), src.row_bytes(y) + size_t(need.left) * bpp,
                  size_t(need.width()) * bpp);
    s = &copy;
    dx -= need.left;
    dy -= need.top;
  }
  bool direct = s->format() == surface_->format() && s->format() == Format::XRGB8888;
  RowReader reader{*s, *surface_, {}};
  for (int32_t y = to.top; y < to.bottom; ++y) {
    const Pixel* row = direct ? s->row32(y + dy) + (to.left + dx) : reader.read(y + dy, to.left + dx, to.right + dx);
    rop3_row(y, to.left, to.right, row, rop);
  }
}

void DC::stretch_blit(Rect dst, const Surface& src, Rect src_rect, Rop3 rop, StretchMode mode) {
  dst = clamp_rect(dst);
  src_rect = clamp_rect(src_rect);
  if (dst.empty() || src_rect.empty()) return;
  if (dst.width() == src_rect.width() && dst.height() == src_rect.height()) {
    blit(dst, src, {src_rect.left, src_rect.top}, rop);
    return;
  }
  Rect to = intersect(dst, limit_);
  if (to.empty()) return;
  Surface copy;
  const Surface* s = &src;
  if (&src == surface_) {
    copy = src;
    s = &copy;
  }
  int64_t dw = dst.width(), dh = dst.height(), sw = src_rect.width(), sh = src_rect.height();
  // Nearest: the source pixel under the centre of each destination pixel.
  auto source_x = [&](int64_t x) { return int32_t(src_rect.left + ((2 * (x - dst.left) + 1) * sw) / (2 * dw)); };
  auto source_y = [&](int64_t y) { return int32_t(src_rect.top + ((2 * (y - dst.top) + 1) * sh) / (2 * dh)); };
  std::vector<int32_t> xs(size_t(to.width()));
  for (int32_t x = to.left; x < to.right; ++x) xs[size_t(x - to.left)] = source_x(x);
  bool same = s->format() == surface_->format();
  std::vector<Pixel> row(size_t(to.width()));
  Rect sb = s->bounds();
  for (int32_t y = to.top; y < to.bottom; ++y) {
    int32_t sy = source_y(y);
    if (mode == StretchMode::HalfTone && (sw > dw || sh > dh)) {
      // A box filter over the source pixels that fall in the destination pixel.
      int64_t y0 = src_rect.top + ((y - dst.top) * sh) / dh, y1 = src_rect.top + ((y - dst.top + 1) * sh) / dh;
      y1 = std::max(y1, y0 + 1);
      for (int32_t x = to.left; x < to.right; ++x) {
        int64_t x0 = src_rect.left + ((x - dst.left) * sw) / dw, x1 = src_rect.left + ((x - dst.left + 1) * sw) / dw;
        x1 = std::max(x1, x0 + 1);
        // Source pixels outside the surface count as black: only the ones
        // inside are visited, however large the box.
        uint64_t r = 0, g = 0, b = 0, n = uint64_t(y1 - y0) * uint64_t(x1 - x0);
        int64_t u0 = std::max<int64_t>(x0, sb.left), u1 = std::min<int64_t>(x1, sb.right);
        for (int64_t v = std::max<int64_t>(y0, sb.top); v < std::min<int64_t>(y1, sb.bottom); ++v)
          for (int64_t u = u0; u < u1; ++u) {
            uint32_t c = s->color(int32_t(u), int32_t(v));
            r += (c >> 16) & 255, g += (c >> 8) & 255, b += c & 255;
          }
        row[size_t(x - to.left)] = surface_->map_color(rgb(uint32_t(r / n), uint32_t(g / n), uint32_t(b / n)));
      }
      rop3_row(y, to.left, to.right, row.data(), rop);
      continue;
    }
    if (sy < sb.top || sy >= sb.bottom) continue;
    const uint32_t* row32 = s->format() == Format::XRGB8888 ? s->row32(sy) : nullptr;
    const uint8_t* row8 = s->row_bytes(sy);
    // Runs of destination pixels whose source lies within src.
    int32_t run = to.left;
    for (int32_t x = to.left; x <= to.right; ++x) {
      int32_t sx = x < to.right ? xs[size_t(x - to.left)] : sb.right;
      if (sx >= sb.left && sx < sb.right) {
        Pixel p = row32 ? row32[sx] : row8[sx];
        row[size_t(x - to.left)] = same ? p : surface_->map_color(s->pixel_color(p));
        continue;
      }
      if (run < x) rop3_row(y, run, x, row.data() + (run - to.left), rop);
      run = x + 1;
    }
  }
}

void DC::draw_dib(Rect dst, const Dib& dib, Rect src_rect, Rop3 rop, StretchMode mode) {
  if (!dib.valid()) return;
  Surface s = dib_surface(dib);
  stretch_blit(dst, s, src_rect, rop, mode);
}

// ---- Text --------------------------------------------------------------------------

void DC::text(Pt p, std::string_view cp1252) {
  Source ink{nullptr, text_color_}, paper{nullptr, background_};
  int64_t x = p.x;
  for (unsigned char c : cp1252) {
    if (x >= limit_.right) break;
    if (x + FontMetrics::kAdvance > limit_.left) {
      const uint8_t* rows = glyph(c);
      for (int32_t j = 0; j < FontMetrics::kHeight; ++j) {
        int64_t y = int64_t(p.y) + j;
        if (y < limit_.top || y >= limit_.bottom) continue;
        for (int32_t i = 0; i < FontMetrics::kAdvance; ++i) {
          bool set = (rows[j] >> (7 - i)) & 1;
          if (set)
            paint_span(int32_t(y), int32_t(x + i), int32_t(x + i + 1), ink, Rop2::CopyPen);
          else if (background_mode_ == BackgroundMode::Opaque)
            paint_span(int32_t(y), int32_t(x + i), int32_t(x + i + 1), paper, Rop2::CopyPen);
        }
      }
    }
    x += FontMetrics::kAdvance;
  }
}

}  // namespace gfx

namespace gfx {

void DC::blend(int64_t x, int64_t y, int32_t w, int32_t h, const uint8_t* coverage, size_t stride) {
  if (w <= 0 || h <= 0 || limit_.empty()) return;
  // Only the rows and columns inside the limit are visited; every one of
  // them is then a 32-bit coordinate.
  int64_t top = std::max<int64_t>(y, limit_.top), bottom = std::min<int64_t>(y + h, limit_.bottom);
  int64_t left = std::max<int64_t>(x, limit_.left), right = std::min<int64_t>(x + w, limit_.right);
  if (top >= bottom || left >= right) return;
  Surface& surf = *surface_;
  Pixel ink = text_color_;
  uint32_t ir = (ink >> 16) & 0xFF, ig = (ink >> 8) & 0xFF, ib = ink & 0xFF;
  for (int64_t row = top; row < bottom; ++row) {
    const uint8_t* cov = coverage + size_t(row - y) * stride;
    clipped(int32_t(row), int32_t(left), int32_t(right), [&](int32_t a, int32_t b) {
      if (surf.format() == Format::Index8) {
        uint8_t* d = surf.row_bytes(int32_t(row));
        for (int32_t i = a; i < b; ++i)
          if (cov[i - x] >= 128) d[i] = uint8_t(ink);
        return;
      }
      uint32_t* d = surf.row32(int32_t(row));
      for (int32_t i = a; i < b; ++i) {
        uint32_t c = cov[i - x];
        if (c == 0) continue;
        if (c == 255) {
          d[i] = ink & 0xFFFFFF;
          continue;
        }
        uint32_t p = d[i], n = 255 - c;
        uint32_t r = (ir * c + ((p >> 16) & 0xFF) * n + 127) / 255;
        uint32_t g = (ig * c + ((p >> 8) & 0xFF) * n + 127) / 255;
        uint32_t bl = (ib * c + (p & 0xFF) * n + 127) / 255;
        d[i] = (r << 16) | (g << 8) | bl;
      }
    });
  }
}

}  // namespace gfx
