// The rasterizer's shapes pinned by small PNG goldens (reviewed by eye once).
#include <gtest/gtest.h>

#include "platform/gfx/dc.hpp"
#include "tests/platform/png_golden.hpp"

namespace gfx::testing {
namespace {

constexpr Pixel kWhite = 0xFFFFFF, kBlack = 0, kRed = 0xFF0000, kBlue = 0x0000FF, kGreen = 0x00A000;

Surface canvas(int32_t w, int32_t h) {
  Surface s(w, h);
  s.fill(kWhite);
  return s;
}

TEST(GfxGolden, LinesBothEndPixelRulesDottedAndWide) {
  Surface s = canvas(64, 48);
  DC dc(s);
  // A fan of lines from one centre: red without, blue with the end pixel,
  // overlaid so that the end pixels show blue.
  Pt c{16, 16};
  Pt ends[] = {{30, 16}, {30, 9}, {30, 2}, {23, 2}, {16, 2}, {9, 2}, {2, 2}, {2, 9},
               {2, 16}, {2, 23}, {2, 30}, {9, 30}, {16, 30}, {23, 30}, {30, 30}, {30, 23}};
  dc.set_pen({PenStyle::Solid, 1, kBlue});
  for (Pt e : ends) dc.line(c, e, true);
  dc.set_pen({PenStyle::Solid, 1, kRed});
  for (Pt e : ends) dc.line(c, e, false);
  // Dotted lines, transparent and with an opaque background.
  dc.set_pen({PenStyle::Dotted, 1, kBlack});
  dc.line({34, 2}, {62, 2}, true);
  dc.line({34, 4}, {62, 12}, true);
  dc.set_background(kGreen, BackgroundMode::Opaque);
  dc.line({34, 14}, {62, 14}, true);
  // Wide pens: 2, 3 and 5 pixels, shallow and steep.
  dc.set_pen({PenStyle::Solid, 2, kBlack});
  dc.line({36, 20}, {60, 26}, false);
  dc.set_pen({PenStyle::Solid, 3, kBlue});
  dc.line({36, 30}, {60, 32}, false);
  dc.set_pen({PenStyle::Solid, 5, kRed});
  dc.line({40, 36}, {44, 46}, false);
  // A polyline: every joint once.
  dc.set_pen({PenStyle::Solid, 1, kBlack});
  Pt zig[] = {{2, 46}, {8, 36}, {14, 46}, {20, 36}, {26, 46}};
  dc.polyline(zig);
  EXPECT_TRUE(matches_golden(s, "lines"));
}

TEST(GfxGolden, EllipsesEvenAndOddSizesAndRoundRects) {
  Surface s = canvas(80, 48);
  DC dc(s);
  dc.set_pen({PenStyle::Solid, 1, kBlack});
  dc.set_brush(Brush::solid(0xC0C0FF));
  dc.ellipse({1, 1, 11, 11});    // 10 x 10
  dc.ellipse({13, 1, 24, 12});   // 11 x 11
  dc.ellipse({26, 1, 42, 8});    // 16 x 7
  dc.ellipse({44, 1, 49, 16});   // 5 x 15
  dc.ellipse({51, 1, 53, 10});   // 2 x 9
  dc.ellipse({55, 1, 56, 6});    // 1 x 5
  dc.ellipse({58, 1, 78, 21});   // 20 x 20
  dc.set_pen({PenStyle::Solid, 3, kRed});
  dc.ellipse({1, 18, 21, 34});
  dc.set_pen({PenStyle::Solid, 1, kBlack});
  dc.set_brush(Brush::solid(0xFFE080));
  dc.round_rect({24, 18, 44, 34}, 8, 8);
  dc.round_rect({46, 24, 78, 46}, 11, 7);
  dc.set_brush(Brush::null());
  dc.rectangle({1, 36, 21, 46});
  dc.set_pen({PenStyle::Solid, 2, kBlue});
  dc.rectangle({24, 36, 44, 46});
  EXPECT_TRUE(matches_golden(s, "ellipses"));
}

TEST(GfxGolden, ArcsAndPiesInFourQuadrants) {
  Surface s = canvas(88, 48);
  DC dc(s);
  dc.set_pen({PenStyle::Solid, 1, kBlack});
  // Arcs: each quadrant on its own, then half and three quarters.
  int32_t starts[] = {0, 90, 180, 270};
  for (int i = 0; i < 4; ++i) dc.arc({2 + 21 * i, 2, 20 + 21 * i, 20}, starts[i], 90);
  dc.set_brush(Brush::solid(0x80E080));
  // Pies: 45 degrees measured against the rectangle meet its corners.
  dc.pie({2, 24, 20, 46}, 45, 90);
  dc.pie({23, 24, 41, 46}, 0, -135);
  dc.pie({44, 24, 62, 46}, 30, 300);
  dc.set_pen({PenStyle::Null, 1, 0});
  dc.set_brush(Brush::solid(kRed));
  dc.pie({65, 24, 86, 46}, 100, 20);
  EXPECT_TRUE(matches_golden(s, "arcs"));
}

TEST(GfxGolden, PolygonsEvenOddWithHoles) {
  Surface s = canvas(72, 40);
  DC dc(s);
  dc.set_pen({PenStyle::Null, 1, 0});
  dc.set_brush(Brush::solid(kBlue));
  // A square within a square in one path: the inner one is a hole.
  Pt nested[] = {{2, 2}, {30, 2}, {30, 30}, {2, 30}, {2, 2}, {10, 10}, {22, 10}, {22, 22}, {10, 22}, {10, 10}};
  dc.polygon(nested);
  // A five-pointed star: its centre is covered twice, so empty.
  Pt star[] = {{50, 2}, {57, 36}, {34, 14}, {66, 14}, {43, 36}};
  dc.set_pen({PenStyle::Solid, 1, kBlack});
  dc.set_brush(Brush::solid(0xFFC040));
  dc.polygon(star);
  // A triangle with shallow edges, no pen.
  dc.set_pen({PenStyle::Null, 1, 0});
  dc.set_brush(Brush::solid(kGreen));
  Pt tri[] = {{2, 38}, {30, 33}, {20, 39}};
  dc.polygon(tri);
  EXPECT_TRUE(matches_golden(s, "polygons"));
}

TEST(GfxGolden, PatternedBrushesAndText) {
  Surface s = canvas(96, 46);
  DC dc(s);
  const uint8_t gray[8] = {0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55};
  const uint8_t diagonal[8] = {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01};
  const uint8_t bricks[8] = {0xFF, 0x80, 0x80, 0x80, 0xFF, 0x08, 0x08, 0x08};
  dc.fill_rect({1, 1, 17, 17}, Brush::pattern_of(gray, kBlack, kWhite));
  dc.fill_rect({19, 3, 35, 17}, Brush::pattern_of(diagonal, kRed, kWhite));
  dc.set_pen({PenStyle::Solid, 1, kBlack});
  dc.set_brush(Brush::pattern_of(bricks, 0x800000, 0xFFE0C0));
  dc.ellipse({37, 1, 61, 17});
  dc.frame_rect({63, 1, 79, 17}, Brush::solid(kBlue));
  dc.invert_rect({70, 5, 90, 12});
  dc.set_text_color(kBlack);
  dc.text({1, 19}, "Hello, gfx!");
  dc.set_text_color(kBlue);
  dc.set_background(0xFFFF80, BackgroundMode::Opaque);
  dc.text({1, 33}, "\xC0\xC9\xCF\xD1\xD6\xC5\xE7\xE9\xEF\xF1\xFC\xDF\x8A\x9C\xFF");
  EXPECT_TRUE(matches_golden(s, "brushes_text"));
}

// Each raster operation on a known source and destination: within each cell
// the destination is white on the left and black on the right, the pen or
// brush white on top and black below (and, for the ternary ones, the source
// white in the middle columns of each half), so every cell shows its
// truth table.
TEST(GfxGolden, RasterOperations) {
  Surface s = canvas(16 * 9 + 1, 2 * 9 + 1 + 9);
  DC dc(s);
  const uint8_t top_half[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
  auto dest_cell = [&](int32_t x, int32_t y) {
    dc.set_rop2(Rop2::CopyPen);
    dc.fill_rect({x, y, x + 4, y + 8}, Brush::solid(kWhite));
    dc.fill_rect({x + 4, y, x + 8, y + 8}, Brush::solid(kBlack));
  };
  s.fill(0x808080);
  for (int op = 1; op <= 16; ++op) {
    int32_t x = 1 + (op - 1) * 9, y = 1;
    dest_cell(x, y);
    dc.set_rop2(Rop2(op));
    dc.fill_rect({x, y, x + 8, y + 8}, Brush::pattern_of(top_half, kWhite, kBlack));
  }
  // Ternary: the source has white columns 2, 3, 6 and 7 of each cell.
  Surface src(8, 8);
  for (int32_t y = 0; y < 8; ++y)
    for (int32_t x = 0; x < 8; ++x) src.set_pixel(x, y, (x & 2) ? kWhite : kBlack);
  Rop3 rops[] = {kSrcCopy, kSrcPaint, kSrcAnd, kSrcInvert, kSrcErase, kNotSrcCopy, kNotSrcErase, kMergeCopy,
                 kMergePaint, kPatCopy, kPatPaint, kPatInvert, kDstInvert, kBlackness, kWhiteness};
  dc.set_brush(Brush::pattern_of(top_half, kWhite, kBlack));
  for (int i = 0; i < 15; ++i) {
    int32_t x = 1 + i * 9, y = 10;
    dest_cell(x, y);
    dc.blit({x, y, x + 8, y + 8}, src, {0, 0}, rops[i]);
  }
  // The same on an 8-bit surface through its palette.
  Surface indexed(16 * 9 + 1, 10, Format::Index8);
  indexed.palette()[0] = 0x000000;
  indexed.palette()[255] = 0xFFFFFF;
  indexed.palette()[85] = 0x8080FF;
  indexed.palette()[170] = 0xFF8080;
  indexed.fill(85);
  DC ic(indexed);
  for (int op = 1; op <= 16; ++op) {
    int32_t x = 1 + (op - 1) * 9;
    ic.set_rop2(Rop2::CopyPen);
    ic.fill_rect({x, 1, x + 4, 9}, Brush::solid(255));
    ic.fill_rect({x + 4, 1, x + 8, 9}, Brush::solid(0));
    ic.set_rop2(Rop2(op));
    ic.fill_rect({x, 1, x + 8, 9}, Brush::pattern_of(top_half, 255, 0));
  }
  dc.set_rop2(Rop2::CopyPen);
  dc.blit({0, 19, indexed.width(), 29}, indexed, {0, 0});
  EXPECT_TRUE(matches_golden(s, "rops"));
}

TEST(GfxGolden, StretchBlitsAndBitmaps) {
  Surface s = canvas(96, 48);
  DC dc(s);
  Surface src(8, 8);
  for (int32_t y = 0; y < 8; ++y)
    for (int32_t x = 0; x < 8; ++x) src.set_pixel(x, y, rgb(uint32_t(x * 32), uint32_t(y * 32), (x + y) % 2 ? 255 : 0));
  dc.blit({1, 1, 9, 9}, src, {0, 0});
  dc.stretch_blit({11, 1, 27, 17}, src, {0, 0, 8, 8});            // twice as large
  dc.stretch_blit({29, 1, 34, 6}, src, {0, 0, 8, 8});             // nearest, rows and columns deleted
  dc.stretch_blit({36, 1, 41, 6}, src, {0, 0, 8, 8}, kSrcCopy, StretchMode::HalfTone);
  dc.stretch_blit({43, 1, 55, 7}, src, {2, 2, 6, 6});
  // Bitmaps of 1, 4, 8 and 24 bits, bottom-up and top-down.
  auto make = [](int bits, bool top_down) {
    Dib d;
    d.width = 6, d.height = 6, d.bits = bits, d.top_down = top_down;
    if (bits <= 8)
      for (int i = 0; i < (1 << bits); ++i) d.palette.push_back(rgb(uint32_t(i * 255 / ((1 << bits) - 1)), 0, 255 - uint32_t(i * 255 / ((1 << bits) - 1))));
    d.data.assign(d.stride() * 6, 0);
    for (int32_t y = 0; y < 6; ++y) {
      uint8_t* row = d.data.data() + d.stride() * size_t(y);
      // Row 0 of the data is the bottom row unless top-down: a marker row.
      for (int32_t x = 0; x < 6; ++x) {
        int v = y == 0 ? (1 << bits) - 1 : (x + y) % 2 ? (1 << bits) / 2 : 0;
        if (bits == 24) row[x * 3] = uint8_t(v ? 255 : 0), row[x * 3 + 1] = uint8_t(y * 40), row[x * 3 + 2] = uint8_t(v ? 0 : 200);
        else if (bits == 8) row[x] = uint8_t(v);
        else if (bits == 4) row[x / 2] |= uint8_t(v << ((x & 1) ? 0 : 4));
        else row[x / 8] |= uint8_t((v ? 1 : 0) << (7 - (x & 7)));
      }
    }
    return d;
  };
  int32_t x = 1;
  for (int bits : {1, 4, 8, 24})
    for (bool td : {false, true}) {
      dc.draw_dib({x, 20, x + 6, 26}, make(bits, td), {0, 0, 6, 6});
      dc.draw_dib({x, 28, x + 9, 40}, make(bits, td), {0, 0, 6, 6});
      x += 11;
    }
  EXPECT_TRUE(matches_golden(s, "blits"));
}

// The whole embedded font, 16 characters a row from code 0.
TEST(GfxGolden, EmbeddedFont) {
  Surface s = canvas(16 * FontMetrics::kAdvance + 2, 16 * FontMetrics::kHeight + 2);
  DC dc(s);
  dc.set_text_color(kBlack);
  for (int row = 0; row < 16; ++row) {
    std::string line;
    for (int col = 0; col < 16; ++col) line += char(row * 16 + col);
    dc.text({1, 1 + row * FontMetrics::kHeight}, line);
  }
  EXPECT_TRUE(matches_golden(s, "font"));
}

}  // namespace
}  // namespace gfx::testing
