// The rasterizer's rules and the regions: properties over random shapes,
// clipping, degenerate and huge input, bitmaps and PNG files.
#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "platform/gfx/dc.hpp"
#include "platform/gfx/png.hpp"

namespace gfx::testing {
namespace {

constexpr Pixel kWhite = 0xFFFFFF;

// The pixels of a surface that are not 0, as a region.
Region painted(const Surface& s) {
  return Region::from_spans([&](SpanSink out) {
    for (int32_t y = 0; y < s.height(); ++y) {
      int32_t run = -1;
      for (int32_t x = 0; x <= s.width(); ++x) {
        bool on = x < s.width() && s.pixel(x, y) != 0;
        if (on && run < 0) run = x;
        if (!on && run >= 0) out(y, run, x), run = -1;
      }
    }
  });
}

std::string describe(const Region& r) {
  std::string out;
  for (const Rect& b : r.rects())
    out += "(" + std::to_string(b.left) + " " + std::to_string(b.top) + " " + std::to_string(b.right) + " " +
           std::to_string(b.bottom) + ")";
  return out;
}

// For random shapes, partly off the surface: the region of the shape
// (clipped to the surface) equals the pixels its fill sets.
TEST(GfxProperty, ShapeRegionEqualsFilledPixels) {
  std::mt19937 rng(1234);
  auto coord = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  Surface s(48, 40);
  DC dc(s);
  dc.set_pen({PenStyle::Null, 1, 0});
  dc.set_brush(Brush::solid(kWhite));
  Region screen(s.bounds());
  for (int i = 0; i < 1500; ++i) {
    s.fill(0);
    Rect r{coord(-8, 44), coord(-8, 36), 0, 0};
    r.right = r.left + coord(-3, 40);
    r.bottom = r.top + coord(-3, 40);
    Region want;
    int kind = i % 5;
    if (kind == 0) {
      dc.ellipse(r);
      want = Region::ellipse(r);
    } else if (kind == 1) {
      int cw = coord(0, 20), ch = coord(0, 20);
      dc.round_rect(r, cw, ch);
      want = Region::round_rect(r, cw, ch);
    } else if (kind == 2) {
      std::vector<Pt> pts(size_t(coord(3, 9)));
      for (Pt& p : pts) p = {coord(-10, 58), coord(-10, 50)};
      dc.polygon(pts);
      want = Region::polygon(pts);
    } else if (kind == 3) {
      int start = coord(-400, 400), extent = coord(-400, 400);
      dc.pie(r, start, extent);
      want = Region::pie(r, start, extent);
    } else {
      dc.rectangle(r);
      want = Region(r);
    }
    Region got = painted(s);
    ASSERT_TRUE(got == intersect(want, screen)) << "shape " << i << " kind " << kind << "\n got " << describe(got)
                                                << "\nwant " << describe(intersect(want, screen));
  }
}

// Drawing through a clip region sets exactly the shape's pixels within it.
TEST(GfxProperty, ClipRegionLimitsEveryShape) {
  std::mt19937 rng(99);
  auto coord = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  Surface s(40, 40);
  DC dc(s);
  dc.set_pen({PenStyle::Null, 1, 0});
  dc.set_brush(Brush::solid(kWhite));
  for (int i = 0; i < 300; ++i) {
    s.fill(0);
    Region clip = exclusive_or(Region::ellipse({coord(-5, 20), coord(-5, 20), coord(20, 45), coord(20, 45)}),
                               Region({coord(0, 30), coord(0, 30), coord(10, 40), coord(10, 40)}));
    dc.set_clip(clip);
    Rect r{coord(-5, 30), coord(-5, 30), coord(0, 45), coord(0, 45)};
    dc.ellipse(r);
    ASSERT_TRUE(painted(s) == intersect(intersect(Region::ellipse(r), clip), Region(s.bounds()))) << i;
    s.fill(0);
    dc.fill_region(Region::ellipse(r), Brush::solid(kWhite));
    ASSERT_TRUE(painted(s) == intersect(intersect(Region::ellipse(r), clip), Region(s.bounds()))) << i;
  }
}

TEST(GfxShapes, EllipsesAreSymmetricAndFillTheirBox) {
  for (int w = 1; w <= 24; ++w)
    for (int h = 1; h <= 24; ++h) {
      Region e = Region::ellipse({0, 0, w, h});
      // It lies in its box, is symmetric both ways, and transposing the box
      // transposes the shape.
      Region t = Region::ellipse({0, 0, h, w});
      EXPECT_TRUE(intersect(e, Region({0, 0, w, h})) == e);
      for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
          bool in = e.contains({x, y});
          ASSERT_EQ(in, e.contains({w - 1 - x, y})) << w << "x" << h;
          ASSERT_EQ(in, e.contains({x, h - 1 - y})) << w << "x" << h;
          ASSERT_EQ(in, t.contains({y, x})) << w << "x" << h;
        }
      EXPECT_TRUE(e.contains({w / 2, h / 2}));
    }
  // A 4 x 4 ellipse is the 4 x 4 square without its corners.
  Region four = Region::ellipse({0, 0, 4, 4});
  EXPECT_TRUE(four == subtract(Region({0, 0, 4, 4}), unite(unite(Region({0, 0, 1, 1}), Region({3, 0, 4, 1})),
                                                           unite(Region({0, 3, 1, 4}), Region({3, 3, 4, 4})))));
}

TEST(GfxShapes, LinesEndPixelAndDirection) {
  Surface s(20, 20);
  DC dc(s);
  dc.set_pen({PenStyle::Solid, 1, kWhite});
  dc.line({2, 3}, {12, 3}, false);
  EXPECT_TRUE(painted(s) == Region({2, 3, 12, 4}));
  dc.line({2, 3}, {12, 3}, true);
  EXPECT_TRUE(painted(s) == Region({2, 3, 13, 4}));
  s.fill(0);
  dc.move_to({1, 1});
  dc.line_to({1, 1});  // a line of no length draws nothing
  EXPECT_TRUE(painted(s).empty());
  dc.line({5, 5}, {5, 5}, true);
  EXPECT_TRUE(painted(s) == Region({5, 5, 6, 6}));
  // A closed polyline with xor sets every pixel once: no joint is cleared.
  s.fill(0);
  dc.set_rop2(Rop2::XorPen);
  Pt square[] = {{2, 2}, {10, 2}, {10, 10}, {2, 10}, {2, 2}};
  dc.polyline(square);
  EXPECT_TRUE(painted(s) == subtract(Region({2, 2, 11, 11}), Region({3, 3, 10, 10})));
  // A diagonal of slope 1/2 rounds half up: two pixels a row.
  s.fill(0);
  dc.set_rop2(Rop2::CopyPen);
  dc.line({0, 0}, {8, 4}, true);
  for (int32_t x = 0; x <= 8; ++x) EXPECT_NE(s.pixel(x, (x + 1) / 2), 0u) << x;
}

// Pen and brush together meet each pixel of a shape once: with xor, a
// filled and framed shape is exactly its region.
TEST(GfxShapes, FillAndFrameTouchEachPixelOnce) {
  Surface s(40, 40);
  DC dc(s);
  dc.set_rop2(Rop2::XorPen);
  dc.set_brush(Brush::solid(kWhite));
  for (int32_t pen : {1, 2, 5}) {
    dc.set_pen({PenStyle::Solid, pen, kWhite});
    s.fill(0);
    dc.ellipse({3, 4, 35, 29});
    EXPECT_TRUE(painted(s) == Region::ellipse({3, 4, 35, 29})) << pen;
    s.fill(0);
    dc.round_rect({1, 1, 30, 38}, 12, 9);
    EXPECT_TRUE(painted(s) == Region::round_rect({1, 1, 30, 38}, 12, 9)) << pen;
    s.fill(0);
    dc.rectangle({5, 5, 12, 30});
    EXPECT_TRUE(painted(s) == Region({5, 5, 12, 30})) << pen;
  }
}

TEST(GfxShapes, RegionFramesFollowEveryEdge) {
  Surface s(40, 40);
  DC dc(s);
  // A frame of a rectangle region is frame_rect's frame.
  dc.frame_region(Region({2, 3, 20, 15}), Brush::solid(kWhite), 1, 1);
  Region once = painted(s);
  s.fill(0);
  dc.frame_rect({2, 3, 20, 15}, Brush::solid(kWhite));
  EXPECT_TRUE(once == painted(s));
  // A square with a hole: the hole's edge is framed too, 2 across and 3 down.
  s.fill(0);
  Region ring = subtract(Region({0, 0, 30, 30}), Region({10, 10, 20, 20}));
  dc.frame_region(ring, Brush::solid(kWhite), 2, 3);
  Region inner = subtract(Region({2, 3, 28, 27}), Region({8, 7, 22, 23}));
  EXPECT_TRUE(painted(s) == subtract(ring, inner)) << describe(painted(s));
  // Inverting a region twice restores the surface.
  s.fill(0x123456);
  dc.invert_region(ring);
  EXPECT_EQ(s.pixel(5, 5), 0xEDCBA9u);
  EXPECT_EQ(s.pixel(15, 15), 0x123456u);
  dc.invert_region(ring);
  EXPECT_EQ(s.pixel(5, 5), 0x123456u);
}

// Empty and inverted rectangles draw nothing; huge coordinates are clipped,
// not walked.
TEST(GfxShapes, DegenerateAndHugeInput) {
  Surface s(32, 32);
  DC dc(s);
  dc.set_pen({PenStyle::Solid, 3, kWhite});
  dc.set_brush(Brush::solid(kWhite));
  dc.rectangle({10, 10, 5, 20});
  dc.ellipse({10, 10, 20, 10});
  dc.round_rect({20, 20, 10, 10}, 4, 4);
  dc.pie({20, 20, 10, 10}, 0, 90);
  dc.arc({5, 5, 20, 20}, 0, 0);
  dc.fill_rect({8, 8, 8, 30}, Brush::solid(kWhite));
  dc.invert_rect({30, 30, 2, 2});
  dc.stretch_blit({0, 0, 10, 10}, s, {5, 5, 5, 9});
  EXPECT_TRUE(painted(s).empty());
  EXPECT_TRUE(Region({5, 5, 2, 9}).empty());
  EXPECT_TRUE(Region::ellipse({5, 5, 2, 9}).empty());

  auto start = std::chrono::steady_clock::now();
  dc.set_pen({PenStyle::Solid, 1, kWhite});
  dc.line({-2000000000, 16}, {2000000000, 16}, true);
  dc.line({-1000000000, -1000000000}, {1000000000, 1000000000}, true);
  dc.set_pen({PenStyle::Solid, 7, kWhite});
  dc.line({-1000000000, 5}, {1000000000, 5}, true);
  dc.ellipse({-2000000000, -2000000000, 2000000000, 2000000000});
  dc.pie({-2000000000, -2000000000, 2000000000, 2000000000}, 10, 100);
  Pt far[] = {{-2000000000, 0}, {2000000000, 1}, {0, 2000000000}};
  dc.polygon(far);
  dc.stretch_blit({-2000000000, -2000000000, 2000000000, 2000000000}, s, {0, 0, 32, 32});
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 2.0);
  // The clipped horizontal line lies exactly on row 16.
  Surface t(32, 32);
  DC tc(t);
  tc.set_pen({PenStyle::Solid, 1, kWhite});
  tc.line({-2000000000, 16}, {2000000000, 16}, true);
  tc.line({-1000000000, -1000000000}, {1000000000, 1000000000}, true);
  Region diag = Region::from_spans([](SpanSink o) {
    for (int32_t i = 0; i < 32; ++i) o(i, i, i + 1);
  });
  EXPECT_TRUE(painted(t) == unite(Region({0, 16, 32, 17}), diag));
}

TEST(GfxRegions, CombineCompareAndMove) {
  Region a({0, 0, 10, 10}), b({5, 5, 15, 15});
  EXPECT_EQ(unite(a, b).bounds(), (Rect{0, 0, 15, 15}));
  EXPECT_EQ(intersect(a, b).bounds(), (Rect{5, 5, 10, 10}));
  EXPECT_TRUE(subtract(a, b) == unite(Region({0, 0, 10, 5}), Region({0, 5, 5, 10})));
  Region x = exclusive_or(a, b);
  EXPECT_FALSE(x.contains({7, 7}));
  EXPECT_TRUE(x.contains({2, 2}));
  EXPECT_TRUE(x.contains({12, 12}));
  EXPECT_TRUE(exclusive_or(a, a).empty());
  EXPECT_TRUE(a.intersects({9, 9, 20, 20}));
  EXPECT_FALSE(a.intersects({10, 0, 20, 20}));
  EXPECT_FALSE(a.contains({10, 5}));
  EXPECT_EQ(Region().bounds(), (Rect{}));
  Region m = b;
  m.offset(-5, -5);
  EXPECT_TRUE(m == a);
  // Moving far beyond the coordinate range keeps what stays inside.
  Region big({0, 0, 10, 10});
  for (int i = 0; i < 8; ++i) big.offset(1 << 23, 0);
  EXPECT_TRUE(big.empty() || big.bounds().right <= kMaxCoord);
}

TEST(GfxBlit, OverlappingScrollAndRops) {
  Surface s(8, 1);
  for (int32_t x = 0; x < 8; ++x) s.set_pixel(x, 0, Pixel(x + 1));
  DC dc(s);
  dc.blit({2, 0, 8, 1}, s, {0, 0});
  for (int32_t x = 2; x < 8; ++x) EXPECT_EQ(s.pixel(x, 0), Pixel(x - 1));
  dc.blit({0, 0, 6, 1}, s, {2, 0});
  for (int32_t x = 0; x < 6; ++x) EXPECT_EQ(s.pixel(x, 0), Pixel(x + 1));
  // The same on an 8-bit surface, two rows up.
  Surface idx(3, 4, Format::Index8);
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 3; ++x) idx.set_pixel(x, y, Pixel(y * 3 + x));
  DC ic(idx);
  ic.blit({1, 0, 3, 3}, idx, {0, 1});
  EXPECT_EQ(idx.pixel(1, 0), 3u);
  EXPECT_EQ(idx.pixel(2, 2), 10u);
  EXPECT_EQ(idx.pixel(0, 0), 0u);
  // Source beyond its surface leaves the destination alone.
  Surface d(4, 1);
  d.fill(0x123456);
  DC dd(d);
  dd.blit({0, 0, 4, 1}, s, {6, 0});
  EXPECT_EQ(d.pixel(0, 0), 5u);
  EXPECT_EQ(d.pixel(1, 0), 6u);
  EXPECT_EQ(d.pixel(2, 0), 0x123456u);
}

TEST(GfxBlit, AcrossFormatsThroughThePalette) {
  Surface rgb_src(3, 1);
  rgb_src.set_pixel(0, 0, 0xFF0000);
  rgb_src.set_pixel(1, 0, 0x00FF00);
  rgb_src.set_pixel(2, 0, 0x0000F0);
  Surface indexed(3, 1, Format::Index8);
  indexed.palette()[1] = 0xFF0000;
  indexed.palette()[2] = 0x00FF00;
  indexed.palette()[3] = 0x0000FF;
  DC ic(indexed);
  ic.blit(indexed.bounds(), rgb_src, {0, 0});
  EXPECT_EQ(indexed.pixel(0, 0), 1u);
  EXPECT_EQ(indexed.pixel(1, 0), 2u);
  EXPECT_EQ(indexed.pixel(2, 0), 3u);
  Surface back(3, 1);
  DC bc(back);
  bc.stretch_blit({0, 0, 6, 1}, indexed, {0, 0, 3, 1});
  EXPECT_EQ(back.pixel(0, 0), 0xFF0000u);
  EXPECT_EQ(back.pixel(1, 0), 0xFF0000u);  // doubled: each source pixel twice
  EXPECT_EQ(back.pixel(2, 0), 0x00FF00u);
}

TEST(GfxBitmaps, ParsingIsBoundedAndExact) {
  // A 2 x 2 8-bit bottom-up bitmap with a two-entry palette.
  std::vector<uint8_t> bytes = {40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0,
                                0xFF, 0, 0, 0, 0, 0, 0xFF, 0,  // blue, red
                                0, 1, 0, 0, 1, 0, 0, 0};
  auto dib = parse_dib(bytes);
  ASSERT_TRUE(dib);
  EXPECT_EQ(dib->color(0, 1), 0x0000FFu);  // the first data row is the bottom one
  EXPECT_EQ(dib->color(1, 1), 0xFF0000u);
  EXPECT_EQ(dib->color(0, 0), 0xFF0000u);
  for (size_t n = 0; n < bytes.size(); ++n)
    EXPECT_FALSE(parse_dib(std::span(bytes).first(n))) << n;
  auto bad = bytes;
  bad[14] = 16;  // no 16-bit support
  EXPECT_FALSE(parse_dib(bad));
  bad = bytes;
  bad[32] = 200;  // more palette entries than bytes
  EXPECT_FALSE(parse_dib(bad));
  bad = bytes;
  bad[8] = 0, bad[9] = 0, bad[10] = 0, bad[11] = 0x80;  // height INT32_MIN
  EXPECT_FALSE(parse_dib(bad));
  // Pixel indexes beyond a short palette read as black.
  bad = bytes;
  bad[48] = 7;
  EXPECT_EQ(parse_dib(bad)->color(0, 1), 0u);
}

TEST(GfxPng, RoundTripAndBadInput) {
  Surface s(5, 3, Format::Index8);
  s.palette()[1] = 0x102030;
  s.palette()[2] = 0xFFEEDD;
  s.set_pixel(1, 1, 1);
  s.set_pixel(4, 2, 2);
  auto bytes = encode_png(s);
  ASSERT_FALSE(bytes.empty());
  auto back = decode_png(bytes);
  ASSERT_TRUE(back);
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 5; ++x) EXPECT_EQ(back->color(x, y), s.color(x, y));
  std::string error;
  EXPECT_FALSE(decode_png(std::span(bytes).first(bytes.size() / 2), &error));
  EXPECT_FALSE(error.empty());
  std::vector<uint8_t> junk(100, 0x41);
  EXPECT_FALSE(decode_png(junk));
  EXPECT_FALSE(read_png("/nonexistent/x.png", &error));
  EXPECT_FALSE(write_png(s, "/nonexistent/dir/x.png", &error));
  EXPECT_NE(error.find("/nonexistent/dir/x.png"), std::string::npos);
}

TEST(GfxSurface, IndexedColoursMapToTheNearestEntry) {
  Surface s(2, 2, Format::Index8);
  s.palette()[3] = 0xFF0000;
  s.palette()[7] = 0x00FF00;
  EXPECT_EQ(s.map_color(0xF01010), 3u);
  EXPECT_EQ(s.map_color(0x10E010), 7u);
  EXPECT_EQ(s.map_color(0x000000), 0u);  // entry 0 is black, and first
}

}  // namespace
}  // namespace gfx::testing
