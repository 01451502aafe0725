// The picture renderer: a walk over the opcodes of a classic picture with
// the drawing state of one picture, and the decoding of its bitmap records
// into device-independent bitmaps.
#include "media/pict.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/bytes.hpp"
#include "core/errors.hpp"
#include "data/handles.hpp"
#include "platform/gfx/region.hpp"

namespace media {

using core::ByteReader;
using gfx::Rect;

namespace {

constexpr uint32_t kBlack = 0x000000, kWhite = 0xFFFFFF;
// The raster operation not named by the graphics layer: the destination
// and-ed with the inverted source.
constexpr gfx::Rop3 kNotSrcAnd = 0x00220326;

// The opcodes of a picture (a byte each in version 1, a word in version 2).
enum Op : unsigned {
  kNop = 0x00, kClip = 0x01, kBackPattern = 0x02, kTextFont = 0x03, kTextFace = 0x04, kTextMode = 0x05,
  kSpaceExtra = 0x06, kPenSize = 0x07, kPenMode = 0x08, kPenPattern = 0x09, kFillPattern = 0x0A,
  kOvalSize = 0x0B, kOrigin = 0x0C, kTextSize = 0x0D, kForeColor = 0x0E, kBackColor = 0x0F, kTextRatio = 0x10,
  kRgbForeColor = 0x1A, kRgbBackColor = 0x1B, kDefaultHilite = 0x1E, kOpColor = 0x1F,
  kLine = 0x20, kLineFrom = 0x21, kShortLine = 0x22, kShortLineFrom = 0x23,
  kFontName = 0x2C, kLineJustify = 0x2D, kGlyphState = 0x2E, kReserved2F = 0x2F,
  kFirstShape = 0x30,   // rectangles, round rectangles, ovals, arcs: up to 0x6F
  kFramePolygon = 0x70, kPaintPolygon = 0x71,
  kFrameRegion = 0x80, kFillRegion = 0x84,  // the five region opcodes
  kBitsRect = 0x90, kPackBitsRect = 0x98, kDirectBitsRect = 0x9A,
  kShortComment = 0xA0, kLongComment = 0xA1,
  kEndPicture = 0xFF,
  kHeader = 0x0C00,     // version 2's extended header
};
// A shape opcode is its kind in the high nibble, a verb in the low three
// bits, and bit 3 for "the same rectangle as the last one".
enum ShapeKind : unsigned { kRectShape = 3, kRoundRectShape = 4, kOvalShape = 5, kArcShape = 6 };
enum ShapeVerb : unsigned { kFrame = 0, kPaint = 1, kErase = 2, kInvert = 3, kFill = 4 };

bool is_dib(std::span<const uint8_t> b) {
  return b.size() >= 40 && core::load_le32(b.data()) == 40 && core::load_le16(b.data() + 12) == 1 &&
         core::load_le16(b.data() + 14) <= 32;
}

int picture_version(std::span<const uint8_t> b) {
  if (b.size() >= 12 && b[10] == 0x11 && b[11] == 0x01) return 1;
  if (b.size() >= 14 && b[10] == 0x00 && b[11] == 0x11 && b[12] == 0x02 && b[13] == 0xFF) return 2;
  return 0;
}

Rect read_rect(ByteReader& r) {
  int32_t top = r.be16s(), left = r.be16s(), bottom = r.be16s(), right = r.be16s();
  return {left, top, right, bottom};
}

bool same_rgb_grid(int r, int g, int b) {
  return (r == g && g == b) || (g == 0 && b == 0) || (r == 0 && b == 0) || (r == 0 && g == 0);
}

struct Replacement {
  uint32_t from, to;
};
constexpr Replacement kReplacements[] = {
    {gfx::rgb(102, 0, 0), gfx::rgb(128, 0, 0)},       {gfx::rgb(0, 102, 0), gfx::rgb(0, 128, 0)},
    {gfx::rgb(0, 0, 102), gfx::rgb(0, 0, 128)},       {gfx::rgb(102, 102, 0), gfx::rgb(128, 128, 0)},
    {gfx::rgb(102, 0, 102), gfx::rgb(128, 0, 128)},   {gfx::rgb(0, 102, 102), gfx::rgb(0, 128, 128)},
    {gfx::rgb(153, 204, 255), gfx::rgb(164, 200, 240)}, {gfx::rgb(204, 255, 204), gfx::rgb(192, 220, 192)},
    {gfx::rgb(255, 255, 204), gfx::rgb(255, 251, 240)}, {gfx::rgb(119, 119, 119), gfx::rgb(128, 128, 128)},
    {gfx::rgb(170, 170, 170), gfx::rgb(160, 160, 164)}, {gfx::rgb(187, 187, 187), gfx::rgb(192, 192, 192)},
};

// PackBits: unpacks the units of `in` into `out` (at most out.size() bytes,
// the excess dropped); answers the number of bytes produced.
size_t unpack_bits(std::span<const uint8_t> in, std::span<uint8_t> out, size_t unit) {
  ByteReader r(in);
  size_t n = 0;
  while (!r.at_end()) {
    uint8_t flag = r.u8();
    if (flag < 128) {
      std::span<const uint8_t> lit = r.bytes(size_t(flag + 1) * unit);
      if (lit.empty()) break;
      size_t k = std::min(lit.size(), out.size() - n);
      std::memcpy(out.data() + n, lit.data(), k);
      n += k;
    } else {
      std::span<const uint8_t> u = r.bytes(unit);
      if (u.empty()) break;
      for (int i = 0; i < 257 - flag; ++i)
        for (size_t j = 0; j < unit && n < out.size(); ++j) out[n++] = u[j];
    }
  }
  return n;
}

// One decoded bitmap record, ready to be placed.
struct Bitmap {
  gfx::Dib dib;
  Rect dst;
  unsigned mode = 0;
  bool one_bit = false;
  int indexed_bits = 0;               // pixel size of an indexed map (1, 2, 4 or 8)
  std::vector<uint32_t> table;        // its colour table
};

class Renderer {
 public:
  Renderer(gfx::DC& dc, std::span<const uint8_t> pic, Rect dest, const PictOptions& o)
      : dc_(dc), r_(pic), dest_(dest), options_(o) {}

  PictStatus run();

 private:
  gfx::Pixel color(uint32_t rgb) const {
    return picture_color(dc_.surface(), uint16_t((rgb >> 16 & 255) << 8), uint16_t((rgb >> 8 & 255) << 8),
                         uint16_t((rgb & 255) << 8));
  }
  uint32_t read_rgb() {
    uint16_t red = r_.be16(), green = r_.be16(), blue = r_.be16();
    return gfx::rgb(red >> 8, green >> 8, blue >> 8);
  }
  bool scaled() const { return dest_.width() != frame_.width() || dest_.height() != frame_.height(); }
  gfx::Pt map(int32_t h, int32_t v) const {
    if (!scaled()) return {h + dest_.left - frame_.left, v + dest_.top - frame_.top};
    int64_t x = int64_t(h - frame_.left) * dest_.width() / frame_.width() + dest_.left;
    int64_t y = int64_t(v - frame_.top) * dest_.height() / frame_.height() + dest_.top;
    return {int16_t(x), int16_t(y)};
  }
  gfx::Pt distance(int32_t dh, int32_t dv) const {
    if (!scaled()) return {dh, dv};
    return {int16_t(int64_t(dh) * dest_.width() / frame_.width()),
            int16_t(int64_t(dv) * dest_.height() / frame_.height())};
  }
  Rect map(const Rect& r) const {
    gfx::Pt a = map(r.left, r.top), b = map(r.right, r.bottom);
    return {a.x, a.y, b.x, b.y};
  }
  gfx::Pt read_point() {
    int32_t v = r_.be16s(), h = r_.be16s();
    return map(h, v);
  }
  void skip_padded(size_t n) { r_.skip(version_ == 2 ? (n + 1) & ~size_t(1) : n); }
  void align() {
    if (version_ == 2 && (r_.pos() & 1)) r_.skip(1);
  }

  void update_pen();
  void set_pattern(const uint8_t rows[8], bool pen_too);
  void line(gfx::Pt a, gfx::Pt b);
  bool shape(unsigned op);
  void polygon(bool fill);
  bool bitmap(unsigned op);
  bool decode_pixmap(Bitmap& bm, size_t row_bytes, int32_t width, int32_t height);
  void place(Bitmap& bm);
  void draw_transparent(Bitmap& bm, Rect at);

  gfx::DC& dc_;
  ByteReader r_;
  Rect dest_, frame_;
  PictOptions options_;
  int version_ = 0;
  uint32_t fg_ = kBlack, bg_ = kWhite;
  enum class PenKind { Foreground, Background, Dotted } pen_kind_ = PenKind::Foreground;
  int32_t pen_w_ = 1, pen_h_ = 1;
  gfx::Brush brush_;
  std::array<uint8_t, 8> pattern_{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  gfx::Pt oval_{0, 0};
  Rect last_rect_;
  bool bitmap_failed_ = false;
};

void Renderer::update_pen() {
  gfx::Pen pen;
  if (pen_w_ <= 0 || pen_h_ <= 0) {
    pen.style = gfx::PenStyle::Null;
  } else if (pen_kind_ == PenKind::Dotted) {
    pen.style = gfx::PenStyle::Dotted;
    pen.color = color(fg_ == kWhite ? kBlack : fg_);
  } else {
    pen.width = std::max(pen_w_, pen_h_);
    pen.color = color(pen_kind_ == PenKind::Foreground ? fg_ : bg_);
  }
  dc_.set_pen(pen);
}

void Renderer::set_pattern(const uint8_t rows[8], bool pen_too) {
  std::memcpy(pattern_.data(), rows, 8);
  bool black = std::all_of(rows, rows + 8, [](uint8_t b) { return b == 0xFF; });
  bool white = std::all_of(rows, rows + 8, [](uint8_t b) { return b == 0; });
  if (black) brush_ = gfx::Brush::solid(color(fg_));
  else if (white) brush_ = gfx::Brush::solid(color(bg_));
  else brush_ = gfx::Brush::pattern_of(rows, color(fg_), color(bg_));
  if (pen_too) {
    pen_kind_ = black ? PenKind::Foreground : white ? PenKind::Background : PenKind::Dotted;
    update_pen();
  }
}

void Renderer::line(gfx::Pt a, gfx::Pt b) {
  dc_.move_to(a);
  dc_.line_to(b);
  dc_.move_to(b);
}

// The rectangle, round rectangle, oval and arc opcodes; false for an opcode
// of those ranges outside the subset.
bool Renderer::shape(unsigned op) {
  unsigned kind = op >> 4, verb = op & 7;
  bool same = op & 8;
  Rect rect = same ? last_rect_ : read_rect(r_);
  int32_t start = 0, extent = 0;
  if (kind == kArcShape) start = r_.be16s(), extent = r_.be16s();
  if (!r_.ok()) return false;
  last_rect_ = rect;
  Rect m = map(rect);
  gfx::Pen pen = dc_.pen();
  gfx::Brush brush = dc_.brush();
  gfx::Rop2 rop = dc_.rop2();
  gfx::Pen null_pen{gfx::PenStyle::Null, 1, 0};
  gfx::Brush white = gfx::Brush::solid(color(kWhite));
  bool ok = true;
  switch (kind) {
    case kRectShape:
      if (verb == kFrame) dc_.set_brush(gfx::Brush::null()), dc_.rectangle(m);
      else if (verb == kPaint || verb == kFill) dc_.fill_rect(m, brush_);
      else if (verb == kErase) dc_.set_rop2(gfx::Rop2::CopyPen), dc_.fill_rect(m, white);
      else if (verb == kInvert) dc_.invert_rect(m);
      else ok = false;
      break;
    case kRoundRectShape: {
      gfx::Pt corner = distance(oval_.x, oval_.y);
      if (verb == kFrame) dc_.set_brush(gfx::Brush::null());
      else if (verb == kPaint) dc_.set_brush(brush_);
      else if (verb == kErase) dc_.set_pen(null_pen), dc_.set_brush(white), dc_.set_rop2(gfx::Rop2::CopyPen);
      else ok = false;
      if (ok) dc_.round_rect(m, corner.x, corner.y);
      break;
    }
    case kOvalShape:
    case kArcShape:  // arcs and wedges
      if (verb == kInvert) {
        dc_.invert_region(kind == kOvalShape ? gfx::Region::ellipse(m) : gfx::Region::pie(m, start, extent));
        break;
      }
      if (verb == kFrame) {
        dc_.set_brush(gfx::Brush::null());
        if (kind == kOvalShape) dc_.ellipse(m);
        else dc_.arc(m, start, extent);
        break;
      }
      if (verb == kPaint) dc_.set_brush(brush_);
      else if (verb == kErase) dc_.set_pen(null_pen), dc_.set_brush(white), dc_.set_rop2(gfx::Rop2::CopyPen);
      else if (verb == kFill) dc_.set_pen(null_pen), dc_.set_brush(brush_);
      else ok = false;
      if (ok && kind == kOvalShape) dc_.ellipse(m);
      else if (ok) dc_.pie(m, start, extent);
      break;
    default:
      ok = false;
  }
  dc_.set_pen(pen);
  dc_.set_brush(brush);
  dc_.set_rop2(rop);
  return ok;
}

void Renderer::polygon(bool fill) {
  uint16_t size = r_.be16();
  ByteReader body = r_.part(size >= 2 ? size - 2u : 0u);
  body.skip(8);
  std::vector<gfx::Pt> points;
  while (body.has(4)) {
    int32_t v = body.be16s(), h = body.be16s();
    points.push_back(map(h, v));
  }
  if (!r_.ok() || points.empty()) return;
  if (!fill) {
    dc_.polyline(points);
    return;
  }
  gfx::Pen pen = dc_.pen();
  gfx::Brush brush = dc_.brush();
  dc_.set_pen({gfx::PenStyle::Null, 1, 0});
  dc_.set_brush(brush_);
  dc_.polygon(points);
  dc_.set_pen(pen);
  dc_.set_brush(brush);
}

// The rows of a pixel map into bm.dib (top-down, rows padded to 4 bytes).
// Answers false when nothing could be decoded; rows decoded before damage
// are kept (the bitmap's height is cut to them).
bool Renderer::decode_pixmap(Bitmap& bm, size_t row_bytes, int32_t width, int32_t height) {
  r_.skip(2);  // version
  unsigned pack_type = r_.be16() & 0xFF;
  r_.skip(4 + 4 + 4 + 2);  // packSize, hRes, vRes, pixelType
  unsigned pixel_size = r_.be16() & 0xFF;
  unsigned cmp_count = r_.be16();
  r_.skip(2 + 4 + 4 + 4);  // cmpSize, planeBytes, table, reserved
  if (pixel_size <= 8) {
    r_.skip(4 + 2);
    size_t entries = size_t(r_.be16()) + 1;
    for (size_t i = 0; i < entries && r_.ok(); ++i) {
      r_.skip(2);
      uint32_t c = read_rgb();
      if (bm.table.size() < 256) bm.table.push_back(c);
    }
  }
  r_.skip(8);  // source rectangle
  bm.dst = read_rect(r_);
  bm.mode = r_.be16() & 0x3F;
  if (!r_.ok()) return false;

  if (row_bytes < 8) pack_type = 1;
  if (pixel_size == 16 && pack_type == 0) pack_type = 3;
  if (pixel_size == 32 && pack_type == 0) pack_type = 4;
  bool defined;
  switch (pixel_size) {
    case 1: case 2: case 4: case 8: defined = pack_type <= 1; break;
    case 16: defined = pack_type == 1 || pack_type == 3; break;
    case 32: defined = pack_type == 1 || pack_type == 2 || pack_type == 4; break;
    default: defined = false;
  }
  if (!defined) return false;
  // Unpacked rows must hold their pixels.
  if (pack_type == 1 && row_bytes < (size_t(width) * pixel_size + 7) / 8) return false;

  gfx::Dib& dib = bm.dib;
  dib.width = width;
  dib.height = height;
  dib.top_down = true;
  dib.bits = pixel_size <= 8 ? (pixel_size == 2 ? 4 : int(pixel_size)) : 24;
  if (pixel_size <= 8) {
    bm.indexed_bits = int(pixel_size);
    dib.palette = bm.table;
    size_t colours = size_t(1) << dib.bits;
    if (dib.palette.size() < colours) dib.palette.resize(colours, 0);
  }
  size_t stride = dib.stride();
  // Rows are added as they are decoded, so a height that lies costs no
  // more memory than the bytes that are there.
  dib.data.clear();
  // The widest row any pack type can produce from these fields.
  size_t unit = pack_type == 3 ? 2 : 1;
  size_t row_cap = std::max(row_bytes, size_t(width) * 4);
  std::vector<uint8_t> row(row_cap);
  int32_t done = 0;
  for (; done < height; ++done) {
    std::fill(row.begin(), row.end(), 0);
    size_t got = 0;
    if (pack_type == 1) {
      std::span<const uint8_t> raw = r_.bytes(row_bytes);
      if (raw.empty() && row_bytes) break;
      std::memcpy(row.data(), raw.data(), raw.size());
      got = raw.size();
    } else if (pack_type == 2) {
      std::span<const uint8_t> raw = r_.bytes(size_t(width) * 3);
      if (raw.empty()) break;
      std::memcpy(row.data(), raw.data(), raw.size());
    } else {
      size_t count = row_bytes > 250 ? r_.be16() : r_.u8();
      std::span<const uint8_t> packed = r_.bytes(count);
      if (!r_.ok()) break;
      got = unpack_bits(packed, std::span<uint8_t>(row.data(), pack_type == 4 ? row_cap : row_bytes), unit);
    }
    if (!r_.ok()) break;
    dib.data.resize(stride * size_t(done + 1), 0);
    uint8_t* out = dib.data.data() + stride * size_t(done);
    if (pack_type == 4) {
      size_t w = size_t(width);
      const uint8_t* planes = row.data();
      if (got == 4 * w && cmp_count == 4) planes += w;  // an alpha plane first
      else if (got != 3 * w) {
        dib.data.resize(stride * size_t(done));
        break;
      }
      for (size_t x = 0; x < w; ++x) {
        out[3 * x] = planes[2 * w + x];
        out[3 * x + 1] = planes[w + x];
        out[3 * x + 2] = planes[x];
      }
      continue;
    }
    (void)got;
    switch (pixel_size) {
      case 1: case 4: case 8:
        std::memcpy(out, row.data(), std::min(stride, row_cap));
        break;
      case 2:
        for (size_t i = 0; i < stride / 2 && i < row_cap; ++i) {
          uint8_t b = row[i];
          out[2 * i] = uint8_t(((b >> 6) & 3) << 4 | ((b >> 4) & 3));
          out[2 * i + 1] = uint8_t(((b >> 2) & 3) << 4 | (b & 3));
        }
        break;
      case 16:
        for (size_t x = 0; x < size_t(width); ++x) {
          unsigned p = core::load_be16(row.data() + 2 * x);
          unsigned c[3] = {(p >> 10) & 31, (p >> 5) & 31, p & 31};
          for (int k = 0; k < 3; ++k) out[3 * x + 2 - k] = uint8_t((c[k] * 8) | (c[k] / 4));
        }
        break;
      case 32:
        for (size_t x = 0; x < size_t(width); ++x) {
          const uint8_t* p = pack_type == 2 ? row.data() + 3 * x : row.data() + 4 * x + 1;
          out[3 * x] = p[2], out[3 * x + 1] = p[1], out[3 * x + 2] = p[0];
        }
        break;
    }
  }
  if (done == 0) return false;
  dib.height = done;
  dib.data.resize(stride * size_t(done));
  return true;
}

bool Renderer::bitmap(unsigned op) {
  if (op == kDirectBitsRect) r_.skip(4);  // the base address
  uint16_t rb = r_.be16();
  bool pixmap = rb & 0x8000;
  size_t row_bytes = rb & 0x7FFF;
  Rect bounds = read_rect(r_);
  int32_t width = bounds.width(), height = bounds.height();
  if (!r_.ok() || width <= 0 || height <= 0 || width > gfx::Surface::kMaxSide ||
      height > gfx::Surface::kMaxSide)
    return false;
  Bitmap bm;
  if (pixmap) {
    if (!decode_pixmap(bm, row_bytes, width, height)) return false;
  } else {
    r_.skip(8);
    bm.dst = read_rect(r_);
    bm.mode = r_.be16() & 0x3F;
    if (!r_.ok()) return false;
    bm.one_bit = true;
    gfx::Dib& dib = bm.dib;
    dib.width = width;
    dib.height = height;
    dib.top_down = true;
    dib.bits = 1;
    // Set bits are the picture's black; as a device bitmap they read white
    // and are inverted on the way.
    dib.palette = {kBlack, kWhite};
    size_t stride = dib.stride();
    std::vector<uint8_t> row(std::max(row_bytes, stride));
    bool packed = op == kPackBitsRect && row_bytes >= 8;
    if (row_bytes < (size_t(width) + 7) / 8) return false;
    int32_t done = 0;
    for (; done < height; ++done) {
      std::fill(row.begin(), row.end(), 0);
      if (packed) {
        size_t count = row_bytes > 250 ? r_.be16() : r_.u8();
        std::span<const uint8_t> data = r_.bytes(count);
        if (!r_.ok()) break;
        unpack_bits(data, std::span<uint8_t>(row.data(), row_bytes), 1);
      } else {
        std::span<const uint8_t> data = r_.bytes(row_bytes);
        if (!r_.ok()) break;
        if (row_bytes) std::memcpy(row.data(), data.data(), row_bytes);
      }
      dib.data.insert(dib.data.end(), row.begin(), row.begin() + long(stride));
    }
    if (done == 0) return false;
    dib.height = done;
    dib.data.resize(stride * size_t(done));
  }
  place(bm);
  return true;
}

void Renderer::place(Bitmap& bm) {
  Rect at;
  if (!scaled()) {
    int32_t x = dest_.left + bm.dst.left - frame_.left, y = dest_.top + bm.dst.top - frame_.top;
    at = {x, y, x + bm.dib.width, y + bm.dib.height};
  } else {
    gfx::Pt p = map(bm.dst.left, bm.dst.top);
    int32_t w = int16_t(int64_t(bm.dib.width) * dest_.width() / frame_.width());
    int32_t h = int16_t(int64_t(bm.dib.height) * dest_.height() / frame_.height());
    at = {p.x, p.y, p.x + w, p.y + h};
  }
  Rect src{0, 0, bm.dib.width, bm.dib.height};
  gfx::Rop3 rop;
  if (bm.one_bit) {
    // Set bits read white in the device bitmap: or paints them black over
    // the surface, bic clears them to white, anything else copies.
    rop = bm.mode == 1 ? kNotSrcAnd : bm.mode == 3 ? gfx::kSrcPaint : gfx::kNotSrcCopy;
  } else if (bm.mode == 36) {
    return draw_transparent(bm, at);
  } else {
    rop = bm.mode == 1 ? gfx::kSrcAnd : bm.mode == 3 ? gfx::kNotSrcErase : gfx::kSrcCopy;
  }
  dc_.draw_dib(at, bm.dib, src, rop, gfx::StretchMode::Delete);
}

// Draws the bitmap leaving the surface visible where its pixels have the
// background colour: the opaque places are whitened through a mask, then
// the image with its transparent pixels whitened is and-ed in.
void Renderer::draw_transparent(Bitmap& bm, Rect at) {
  gfx::Dib& dib = bm.dib;
  Rect src{0, 0, dib.width, dib.height};
  uint32_t background = options_.background & 0xFFFFFF;
  gfx::Dib mask;
  mask.width = dib.width;
  mask.height = dib.height;
  mask.top_down = true;
  mask.bits = 1;
  mask.palette = {kBlack, kWhite};
  mask.data.assign(mask.stride() * size_t(mask.height), 0);
  size_t stride = dib.stride();
  if (bm.indexed_bits) {
    unsigned transparent = 0, white = 0;
    for (size_t i = bm.table.size(); i-- > 0;) {
      if (bm.table[i] == background) transparent = unsigned(i);
      if (bm.table[i] == kWhite) white = unsigned(i);
    }
    for (int32_t y = 0; y < dib.height; ++y) {
      uint8_t* row = dib.data.data() + stride * size_t(y);
      uint8_t* mrow = mask.data.data() + mask.stride() * size_t(y);
      for (int32_t x = 0; x < dib.width; ++x) {
        unsigned v;
        if (dib.bits == 8) v = row[x];
        else if (dib.bits == 4) v = (row[x / 2] >> (x & 1 ? 0 : 4)) & 15;
        else v = (row[x / 8] >> (7 - x % 8)) & 1;
        if (v != transparent) mrow[x / 8] |= uint8_t(0x80 >> (x % 8));
      }
      if (dib.bits == 1) std::memcpy(mrow, row, std::min(stride, mask.stride()));
      for (size_t i = 0; i < stride; ++i)
        if (row[i] == transparent) row[i] = uint8_t(white);
    }
  } else {
    for (int32_t y = 0; y < dib.height; ++y) {
      uint8_t* row = dib.data.data() + stride * size_t(y);
      uint8_t* mrow = mask.data.data() + mask.stride() * size_t(y);
      for (int32_t x = 0; x < dib.width; ++x) {
        uint8_t* p = row + 3 * size_t(x);
        if (gfx::rgb(p[2], p[1], p[0]) == background) p[0] = p[1] = p[2] = 0xFF;
        else mrow[x / 8] |= uint8_t(0x80 >> (x % 8));
      }
    }
  }
  dc_.draw_dib(at, mask, src, gfx::kSrcPaint, gfx::StretchMode::Delete);
  dc_.draw_dib(at, dib, src, gfx::kSrcAnd, gfx::StretchMode::Delete);
}

PictStatus Renderer::run() {
  r_.skip(2);
  frame_ = read_rect(r_);
  if (!r_.ok()) return PictStatus::NotAPicture;
  uint8_t head[4] = {0, 0, 0, 0};
  r_.copy(head, 2);
  if (head[0] == 0x11 && head[1] == 0x01) {
    version_ = 1;
  } else {
    r_.copy(head + 2, 2);
    if (!(head[0] == 0x00 && head[1] == 0x11 && head[2] == 0x02 && head[3] == 0xFF))
      return PictStatus::NotAPicture;
    version_ = 2;
  }
  if (frame_.width() == 0 || frame_.height() == 0) return PictStatus::Drawn;

  gfx::Pen saved_pen = dc_.pen();
  gfx::Brush saved_brush = dc_.brush();
  gfx::Rop2 saved_rop = dc_.rop2();
  std::optional<gfx::Region> saved_clip = dc_.clip();

  bg_ = options_.background & 0xFFFFFF;
  brush_ = gfx::Brush::solid(color(kBlack));
  update_pen();
  dc_.set_brush(brush_);
  dc_.set_rop2(gfx::Rop2::CopyPen);

  bool going = true, ended = false;
  size_t at = 0;
  unsigned op = 0;
  while (going && r_.ok() && !r_.at_end()) {
    at = r_.pos();
    op = version_ == 1 ? r_.u8() : r_.be16();
    if (!r_.ok()) break;
    if (op == kEndPicture) {
      ended = true;
      break;
    }
    if (version_ == 2 && op == kHeader) {
      ByteReader data = r_.part(24);
      if (!r_.ok()) break;
      if (data.be16() == 0xFFFE) {
        data.seek(12);
        frame_ = read_rect(data);
        if (frame_.width() == 0 || frame_.height() == 0) {
          ended = true;  // nothing to draw
          break;
        }
      }
      continue;
    }
    switch (op) {
      case kNop: case kDefaultHilite: break;
      case kClip: {
        uint16_t size = r_.be16();
        ByteReader region = r_.part(size >= 2 ? size - 2u : 0u);
        Rect bounds = read_rect(region);
        if (!r_.ok()) break;
        Rect clip = gfx::intersect(map(bounds), dest_);
        dc_.set_clip(gfx::Region(clip));
        break;
      }
      case kBackPattern: case kTextRatio: r_.skip(8); break;
      case kTextFont: case kTextMode: case kTextSize: case kShortComment: r_.skip(2); break;
      case kTextFace: r_.skip(version_ == 1 ? 1 : 2); break;
      case kSpaceExtra: case kForeColor: case kBackColor: r_.skip(4); break;
      case kPenSize:
        pen_h_ = r_.be16s(), pen_w_ = r_.be16s();
        update_pen();
        break;
      case kPenMode: {
        uint16_t mode = r_.be16();
        dc_.set_rop2(mode == 9 ? gfx::Rop2::MaskPen : mode == 10 ? gfx::Rop2::NotXorPen : gfx::Rop2::CopyPen);
        break;
      }
      case kPenPattern: case kFillPattern: {
        uint8_t rows[8];
        if (!r_.copy(rows, 8)) break;
        set_pattern(rows, op == kPenPattern);
        dc_.set_brush(brush_);
        break;
      }
      case kOvalSize: oval_.y = r_.be16s(), oval_.x = r_.be16s(); break;
      case kOrigin: {
        int32_t dh = r_.be16s(), dv = r_.be16s();
        frame_ = gfx::offset(frame_, dh, dv);
        break;
      }
      case kRgbForeColor: case kRgbBackColor: {
        uint32_t c = read_rgb();
        if (op == kRgbForeColor) fg_ = c, dc_.set_text_color(color(c));
        else bg_ = c;
        set_pattern(pattern_.data(), false);
        dc_.set_brush(brush_);
        update_pen();
        break;
      }
      case kOpColor: r_.skip(6); break;
      case kLine: {
        gfx::Pt a = read_point(), b = read_point();
        if (r_.ok()) line(a, b);
        break;
      }
      case kLineFrom: {
        gfx::Pt b = read_point();
        if (r_.ok()) line(dc_.position(), b);
        break;
      }
      case kShortLine: {
        gfx::Pt a = read_point();
        int8_t dh = r_.s8(), dv = r_.s8();
        gfx::Pt d = distance(dh, dv);
        if (r_.ok()) line(a, {a.x + d.x, a.y + d.y});
        break;
      }
      case kShortLineFrom: {
        int8_t dh = r_.s8(), dv = r_.s8();
        gfx::Pt d = distance(dh, dv), a = dc_.position();
        if (r_.ok()) line(a, {a.x + d.x, a.y + d.y});
        break;
      }
      case kFontName: case kLineJustify: case kGlyphState: case kReserved2F: skip_padded(r_.be16()); break;
      case kFramePolygon: case kPaintPolygon: polygon(op == kPaintPolygon); break;
      case kFrameRegion: case kFrameRegion + 1: case kFrameRegion + 2: case kFrameRegion + 3: case kFillRegion: {
        uint16_t size = r_.be16();
        r_.skip(size >= 2 ? size - 2u : 0u);
        break;
      }
      case kBitsRect: case kPackBitsRect: case kDirectBitsRect:
        if (!bitmap(op)) {
          bitmap_failed_ = true;
          going = false;
        }
        align();
        break;
      case kLongComment:
        r_.skip(2);
        skip_padded(r_.be16());
        break;
      default:
        if (op >= kFirstShape && op < kFramePolygon && shape(op)) break;
        going = false;
    }
  }

  dc_.set_clip(saved_clip);
  dc_.set_pen(saved_pen);
  dc_.set_brush(saved_brush);
  dc_.set_rop2(saved_rop);
  if (options_.stop && !ended && !bitmap_failed_) {
    bool cut = !r_.ok() || (going && r_.at_end());
    *options_.stop = {cut ? PictStop::Why::CutShort : PictStop::Why::UnknownOpcode, at, op};
  }
  return bitmap_failed_ ? PictStatus::BitmapFailed : PictStatus::Drawn;
}

}  // namespace

bool is_picture(std::span<const uint8_t> pic) { return picture_version(pic) != 0; }

uint32_t snap_to_palette_grid(uint32_t c) {
  int r = int(c >> 16 & 255), g = int(c >> 8 & 255), b = int(c & 255);
  r = (r + 8) / 17 * 17, g = (g + 8) / 17 * 17, b = (b + 8) / 17 * 17;
  if (!same_rgb_grid(r, g, b)) r = (r + 25) / 51 * 51, g = (g + 25) / 51 * 51, b = (b + 25) / 51 * 51;
  uint32_t snapped = gfx::rgb(uint32_t(r), uint32_t(g), uint32_t(b));
  for (const Replacement& rep : kReplacements)
    if (rep.from == snapped) return rep.to;
  return snapped;
}

std::array<uint32_t, 256> standard_palette() {
  static const uint32_t kLow[10] = {gfx::rgb(0, 0, 0),       gfx::rgb(128, 0, 0),     gfx::rgb(0, 128, 0),
                                    gfx::rgb(128, 128, 0),   gfx::rgb(0, 0, 128),     gfx::rgb(128, 0, 128),
                                    gfx::rgb(0, 128, 128),   gfx::rgb(192, 192, 192), gfx::rgb(192, 220, 192),
                                    gfx::rgb(166, 202, 240)};
  static const uint32_t kHigh[10] = {gfx::rgb(255, 251, 240), gfx::rgb(160, 160, 164), gfx::rgb(128, 128, 128),
                                     gfx::rgb(255, 0, 0),     gfx::rgb(0, 255, 0),     gfx::rgb(255, 255, 0),
                                     gfx::rgb(0, 0, 255),     gfx::rgb(255, 0, 255),   gfx::rgb(0, 255, 255),
                                     gfx::rgb(255, 255, 255)};
  std::array<uint32_t, 256> p{};
  std::copy(kLow, kLow + 10, p.begin());
  std::copy(kHigh, kHigh + 10, p.begin() + 246);
  auto taken = [&](uint32_t c) {
    if (std::find(kLow, kLow + 10, c) != kLow + 10 || std::find(kHigh, kHigh + 10, c) != kHigh + 10) return true;
    for (const Replacement& rep : kReplacements)
      if (rep.from == c) return true;
    return false;
  };
  size_t n = 10;
  for (uint32_t r = 0; r < 256; r += 51)
    for (uint32_t g = 0; g < 256; g += 51)
      for (uint32_t b = 0; b < 256; b += 51)
        if (!taken(gfx::rgb(r, g, b))) p[n++] = gfx::rgb(r, g, b);
  for (uint32_t level : {17u, 34u, 68u, 85u, 119u, 136u, 170u, 187u, 221u, 238u}) {
    p[n++] = gfx::rgb(level, 0, 0);
    p[n++] = gfx::rgb(0, level, 0);
    p[n++] = gfx::rgb(0, 0, level);
    if (level != 119 && level != 170 && level != 187) p[n++] = gfx::rgb(level, level, level);
  }
  return p;
}

gfx::Pixel picture_color(const gfx::Surface& surface, uint16_t red, uint16_t green, uint16_t blue) {
  uint32_t c = gfx::rgb(red >> 8, green >> 8, blue >> 8);
  if (surface.format() == gfx::Format::XRGB8888) return c;
  return surface.map_color(snap_to_palette_grid(c));
}

std::optional<Rect> picture_frame(std::span<const uint8_t> pic) {
  if (is_dib(pic)) {
    int32_t w = int32_t(core::load_le32(pic.data() + 4)), h = int32_t(core::load_le32(pic.data() + 8));
    return Rect{0, 0, w, h < 0 ? -h : h};
  }
  if (!picture_version(pic)) return std::nullopt;
  ByteReader r(pic);
  r.skip(2);
  return read_rect(r);
}

std::span<const uint8_t> strip_file_header(std::span<const uint8_t> file) {
  if (file.size() >= 512 + 12 && picture_version(file.subspan(512))) return file.subspan(512);
  if (picture_version(file) || is_dib(file)) return file;
  return file.size() >= 512 ? file.subspan(512) : file;
}

PictStatus draw_picture(gfx::DC& dc, std::span<const uint8_t> pic, Rect dest, const PictOptions& options) {
  if (is_dib(pic)) {
    std::optional<gfx::Dib> dib = gfx::parse_dib(pic);
    if (!dib || !dib->valid()) return PictStatus::BitmapFailed;
    Rect src{0, 0, dib->width, dib->height};
    bool scaled = dest.width() != dib->width || dest.height() != dib->height;
    dc.draw_dib(dest, *dib, src, gfx::kSrcCopy, scaled ? gfx::StretchMode::HalfTone : gfx::StretchMode::Delete);
    return PictStatus::Drawn;
  }
  if (!picture_version(pic)) return PictStatus::NotAPicture;
  return Renderer(dc, pic, dest, options).run();
}

}  // namespace media

namespace media {

PictStatus draw_picture_handle(gfx::DC& dc, core::Value box, Rect dest, const PictOptions& options) {
  uint32_t h = data::handle_arg(box);
  uint32_t size = data::handle_size(h);
  core::Addr a = data::handle_memory(h);
  std::span<const uint8_t> bytes;
  if (a != 0 && size != 0) bytes = {data::checked_bytes(box, a, size), size};
  PictStatus status = draw_picture(dc, bytes, dest, options);
  if (status == PictStatus::BitmapFailed) core::error(core::Err::NativeMemory, box);
  return status;
}

}  // namespace media
