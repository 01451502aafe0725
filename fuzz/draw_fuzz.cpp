// libFuzzer target: the bytes as a program of drawing calls on a small
// surface (XRGB or 8-bit) through a clip region: pens, brushes, raster
// operations, every shape, regions, blits and text in the embedded and the
// installed fonts, with coordinates and sizes anywhere in the 32-bit range.
// Never a crash or an overflow, and no pixel outside the clip changes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/gfx/dc.hpp"
#include "platform/gfx/fonts.hpp"

namespace {

struct Bytes {
  const uint8_t* p;
  size_t n;
  uint8_t byte() {
    if (n == 0) return 0;
    --n;
    return *p++;
  }
  int32_t word() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | byte();
    return int32_t(v);
  }
  // Mostly near the surface; now and then anything at all.
  int32_t coord() {
    uint8_t k = byte();
    if (k < 200) return int32_t(k) - 60;
    if (k < 240) return word() >> (k & 15);
    return word();
  }
  gfx::Pt pt() { return {coord(), coord()}; }
  gfx::Rect rect() { return {coord(), coord(), coord(), coord()}; }
};

constexpr uint32_t kUntouched = 0x00A5C3E1;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Bytes in{data, size};
  bool index8 = in.byte() & 1;
  int32_t w = 1 + in.byte() % 64, h = 1 + in.byte() % 48;
  gfx::Surface s(w, h, index8 ? gfx::Format::Index8 : gfx::Format::XRGB8888);
  for (int i = 0; i < 256; ++i) s.palette()[size_t(i)] = uint32_t(i) * 0x010101u;
  gfx::Pixel untouched = index8 ? 0xA5 : kUntouched;
  s.fill(untouched);
  gfx::Surface src(1 + in.byte() % 32, 1 + in.byte() % 32, s.format());
  src.fill(0x123456);
  gfx::DC dc(s);
  gfx::Region clip = gfx::unite(gfx::Region(in.rect()), gfx::Region(in.rect()));
  dc.set_clip(clip);
  for (int steps = 0; in.n > 0 && steps < 64; ++steps) {
    uint8_t op = in.byte();
    switch (op % 24) {
      case 0: dc.set_pen({gfx::PenStyle(in.byte() % 3), in.coord(), gfx::Pixel(in.word()) & 0xFFFFFF}); break;
      case 1: {
        uint8_t rows[8];
        for (uint8_t& r : rows) r = in.byte();
        dc.set_brush(in.byte() & 1 ? gfx::Brush::pattern_of(rows, 0xFF00FF, 0x00FF00) : gfx::Brush::solid(0x336699));
        break;
      }
      case 2: dc.set_rop2(gfx::Rop2(1 + in.byte() % 16)); break;
      case 3: dc.move_to(in.pt()); dc.line_to(in.pt()); break;
      case 4: dc.line(in.pt(), in.pt(), in.byte() & 1); break;
      case 5: {
        std::vector<gfx::Pt> pts(in.byte() % 9);
        for (gfx::Pt& p : pts) p = in.pt();
        if (op & 0x80) dc.polygon(pts); else dc.polyline(pts);
        break;
      }
      case 6: dc.set_pixel(in.pt(), 0x00FF00); break;
      case 7: dc.rectangle(in.rect()); break;
      case 8: dc.ellipse(in.rect()); break;
      case 9: { gfx::Rect r = in.rect(); dc.round_rect(r, in.coord(), in.coord()); break; }
      case 10: { gfx::Rect r = in.rect(); int32_t a = in.coord(); dc.pie(r, a, in.coord()); break; }
      case 11: { gfx::Rect r = in.rect(); int32_t a = in.coord(); dc.arc(r, a, in.coord()); break; }
      case 12: dc.fill_rect(in.rect(), gfx::Brush::solid(0x808080)); break;
      case 13: dc.frame_rect(in.rect(), gfx::Brush::solid(0x202020)); break;
      case 14: dc.invert_rect(in.rect()); break;
      case 15: {
        gfx::Rect r = in.rect();
        // Shapes are made within a limit, as drawing makes them.
        gfx::Rect near{-100, -100, 200, 200};
        gfx::Region rgn = op & 0x80 ? gfx::Region::ellipse(r, &near) : gfx::Region::round_rect(r, in.coord(), in.coord(), &near);
        rgn.offset(in.coord(), in.coord());
        switch (in.byte() % 3) {
          case 0: dc.fill_region(rgn, dc.brush()); break;
          case 1: dc.invert_region(rgn); break;
          default: { int32_t fw = in.coord(); dc.frame_region(rgn, dc.brush(), fw, in.coord()); }
        }
        break;
      }
      case 16: { gfx::Rect r = in.rect(); int32_t a = in.coord(); gfx::Rect near = s.bounds();
        dc.fill_region(gfx::Region::pie(r, a, in.coord(), &near), dc.brush());
        break;
      }
      case 17: dc.pattern_blit(in.rect(), gfx::Rop3(in.word())); break;
      case 18: { gfx::Rect r = in.rect(); dc.blit(r, src, in.pt(), gfx::Rop3(in.word())); break; }
      case 19: {
        gfx::Rect r = in.rect();
        gfx::Rect from = in.rect();
        dc.stretch_blit(r, src, from, gfx::kSrcCopy, gfx::StretchMode(in.byte() & 1));
        break;
      }
      case 20: dc.set_background(0xFFFF00, gfx::BackgroundMode(in.byte() & 1)); break;
      case 21:
      case 22: {
        char text[12];
        size_t len = in.byte() % sizeof text;
        for (size_t i = 0; i < len; ++i) text[i] = char(in.byte());
        gfx::Pt at = in.pt();
        if (op % 24 == 21) {
          dc.text(at, {text, len});
        } else {
          gfx::Font font{in.byte() % 6, in.coord(), in.byte() & 7};
          dc.set_text_color(0x0000FF);
          gfx::draw_text(dc, font, at, {text, len});
          (void)gfx::text_width(font, {text, len});
          (void)gfx::font_metrics(font);
        }
        break;
      }
      default: {
        std::vector<uint8_t> cov(size_t(in.byte() % 16) * (in.byte() % 16));
        for (uint8_t& c : cov) c = in.byte();
        int32_t cw = int32_t(cov.empty() ? 0 : in.byte() % 16 + 1);
        int32_t ch = cw ? int32_t(cov.size()) / cw : 0;
        int64_t x = in.coord(), y = in.coord();
        dc.blend(x, y, cw, ch, cov.data(), size_t(cw));
      }
    }
  }
  // Nothing outside the clip changed.
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      if (!clip.contains(gfx::Pt{x, y}) && s.pixel(x, y) != untouched) std::abort();
  return 0;
}
