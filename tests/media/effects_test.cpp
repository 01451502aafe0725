// Transition effects on plain surfaces: what each step brings from the
// image to the screen, against rectangles worked out by hand.
#include "media/effects.hpp"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/gfx/dc.hpp"

namespace {
using gfx::Rect;
using gfx::Region;
using media::EffectKind;

constexpr int32_t kW = 40, kH = 30;
constexpr gfx::Pixel kOld = 0x000001, kNew = 0x000002;

// A 40 x 30 window: the screen shows kOld, the image kNew, unless a test
// codes the pixels by place.
struct Target : media::EffectTarget {
  gfx::Surface screen{kW, kH}, image{kW, kH};
  std::optional<Region> clip_region;
  int copies = 0;
  Target() {
    screen.fill(kOld);
    image.fill(kNew);
  }
  void copy(Rect src, Rect dst) override {
    ++copies;
    gfx::DC dc(screen);
    dc.set_clip(clip_region);
    dc.stretch_blit(dst, image, src);
  }
  void scroll(Rect area, int32_t dx, int32_t dy) override {
    Rect a = gfx::intersect(area, screen.bounds());
    Rect to = gfx::intersect(gfx::offset(a, dx, dy), a);
    if (!to.empty()) gfx::DC(screen).blit(to, screen, {to.left - dx, to.top - dy});
  }
  void clip(const std::optional<Region>& r) override { clip_region = r; }
  Rect bounds() const override { return screen.bounds(); }

  // The pixels showing the new picture.
  Region fresh() const {
    return Region::from_spans([&](gfx::SpanSink out) {
      for (int32_t y = 0; y < kH; ++y)
        for (int32_t x = 0; x < kW;) {
          int32_t end = x;
          while (end < kW && screen.pixel(end, y) == kNew) ++end;
          if (end > x) out(y, x, end);
          x = end + 1;
        }
    });
  }
  // Pixels coded by place: image (x, y) is 0x10000 + 256 y + x, screen 256 y + x.
  void code_pixels() {
    for (int32_t y = 0; y < kH; ++y)
      for (int32_t x = 0; x < kW; ++x) image.set_pixel(x, y, 0x10000 + 256 * y + x), screen.set_pixel(x, y, 256 * y + x);
  }
};

Region rects(std::initializer_list<Rect> list) {
  Region out;
  for (Rect r : list) out = gfx::unite(out, Region(r));
  return out;
}

std::string describe(const Region& r) {
  std::string s;
  for (Rect b : r.rects())
    s += "(" + std::to_string(b.left) + " " + std::to_string(b.top) + " " + std::to_string(b.right) + " " +
         std::to_string(b.bottom) + ")";
  return s.empty() ? "empty" : s;
}

constexpr Rect kAll{0, 0, kW, kH};
gfx::Pixel image_at(int32_t x, int32_t y) { return 0x10000 + 256 * y + x; }
gfx::Pixel screen_at(int32_t x, int32_t y) { return 256 * y + x; }

// Each effect advanced from 0 to one position (in one step) shows exactly
// the area worked out by hand.
TEST(Effects, RegionAfterOneStep) {
  struct Case {
    const char* name;
    EffectKind kind;
    int32_t parameter, shape;
    int32_t position;
    Region expected;
  };
  const Case cases[] = {
      // center-in: d = (30 * 128 / 256) / 2 = 7 rows, (40 * 128 / 256) / 2 = 10 columns at each edge.
      {"center-in both 128", EffectKind::CenterIn, 0, -1, 128,
       rects({{0, 0, 40, 7}, {0, 23, 40, 30}, {0, 0, 10, 30}, {30, 0, 40, 30}})},
      {"center-in horizontal 200", EffectKind::CenterIn, 1, -1, 200, rects({{0, 0, 15, 30}, {25, 0, 40, 30}})},
      {"center-in vertical 64", EffectKind::CenterIn, 2, -1, 64, rects({{0, 0, 40, 3}, {0, 27, 40, 30}})},
      // center-out: 30 * 64 / 256 = 7 -> rows (30 - 7) / 2 = 11 to 37 / 2 = 18; 10 columns: 15 to 25.
      {"center-out both 64", EffectKind::CenterOut, 0, -1, 64, rects({{15, 11, 25, 18}})},
      {"center-out vertical 200", EffectKind::CenterOut, 2, -1, 200, rects({{0, 3, 40, 26}})},
      {"center-out horizontal 128", EffectKind::CenterOut, 1, -1, 128, rects({{10, 0, 30, 30}})},
      // wipe-sides: 40 * 200 / 256 = 31 columns from the left; top and right: 15 rows, 20 columns.
      {"wipe left 200", EffectKind::WipeSides, 4, -1, 200, rects({{0, 0, 31, 30}})},
      {"wipe top-right 128", EffectKind::WipeSides, 1 | 8, -1, 128, rects({{20, 0, 40, 15}})},
      {"wipe bottom 64", EffectKind::WipeSides, 2, -1, 64, rects({{0, 23, 40, 30}})},
      // checkerboard 8: 5 columns, 4 rows, the squares with an even row + column.
      {"checkerboard 8", EffectKind::Checkerboard, 8, -1, 16,
       rects({{0, 0, 8, 8}, {16, 0, 24, 8}, {32, 0, 40, 8}, {8, 8, 16, 16}, {24, 8, 32, 16}, {0, 16, 8, 24},
              {16, 16, 24, 24}, {32, 16, 40, 24}, {8, 24, 16, 30}, {24, 24, 32, 30}})},
      {"push-sides 5 moves nothing", EffectKind::PushSides, 5, -1, 128, Region()},
      {"push-sides 3 moves nothing", EffectKind::PushSides, 3, -1, 255, Region()},
      // zoom-in: the whole image into center-out's rectangle.
      {"zoom-in 128", EffectKind::ZoomIn, 0, -1, 128, rects({{10, 7, 30, 22}})},
      {"zoom-out 128", EffectKind::ZoomOut, 0, -1, 128, rects({kAll})},
      {"zoom-out 0", EffectKind::ZoomOut, 0, -1, 0, Region()},
      // The iris at 0 and at the end.
      {"shape 4 at 0", EffectKind::CopyMask, 0, 4, 0, Region()},
      {"shape 4 at 256", EffectKind::CopyMask, 0, 4, 256, rects({kAll})},
      {"shape 5 at 0", EffectKind::CopyMask, 0, 5, 0, Region()},
      {"shape 5 at 256", EffectKind::CopyMask, 0, 5, 256, rects({kAll})},
      {"shape 4 at 128: the inscribed ellipse", EffectKind::CopyMask, 0, 4, 128, Region::ellipse(kAll)},
      {"shape 5 at 128: all but it", EffectKind::CopyMask, 0, 5, 128, gfx::subtract(Region(kAll), Region::ellipse(kAll))},
      // The triangles at 128: legs as long as the sides, the half of the
      // rectangle on the side of the right angle.
      {"shape 0 at 128", EffectKind::CopyMask, 0, 0, 128, Region::polygon(std::vector<gfx::Pt>{{0, 0}, {40, 0}, {0, 30}})},
      {"shape 2 at 128", EffectKind::CopyMask, 0, 2, 128, Region::polygon(std::vector<gfx::Pt>{{40, 30}, {0, 30}, {40, 0}})},
      {"shape 3 at 64", EffectKind::CopyMask, 0, 3, 64, Region::polygon(std::vector<gfx::Pt>{{0, 30}, {20, 30}, {0, 15}})},
      {"shape 1 at 256", EffectKind::CopyMask, 0, 1, 256, rects({kAll})},
  };
  for (const Case& c : cases) {
    Target t;
    media::Effect e = media::make_effect(c.kind, kAll, c.parameter, c.shape);
    media::step_effect(e, c.position, t);
    EXPECT_EQ(describe(t.fresh()), describe(c.expected)) << c.name;
    EXPECT_EQ(e.done, c.position) << c.name;
  }
}

TEST(Effects, TriangleCornersAndPositionAbove256) {
  Target t;
  media::Effect e = media::make_effect(EffectKind::CopyMask, kAll, 0, 2);
  media::step_effect(e, 128, t);
  EXPECT_EQ(t.screen.pixel(39, 29), kNew);
  EXPECT_EQ(t.screen.pixel(0, 0), kOld);
  EXPECT_EQ(t.screen.pixel(21, 16), kNew);
  EXPECT_EQ(t.screen.pixel(18, 13), kOld);
  media::step_effect(e, 5000, t);  // acts as 256
  EXPECT_EQ(e.done, 256);
  EXPECT_EQ(describe(t.fresh()), describe(Region(kAll)));
}

TEST(Effects, BlindsOrderAndSteps) {
  EXPECT_EQ(media::blinds_table(10, 4, nullptr), (std::vector<int32_t>{0, 4, 8, 1, 5, 9, 2, 6, 3, 7}));
  EXPECT_EQ(media::blinds_table(5, 0, nullptr), (std::vector<int32_t>{0, 0, 0, 0, 0}));
  EXPECT_EQ(media::blinds_table(4, 9, nullptr), (std::vector<int32_t>{0, 1, 2, 3}));
  EXPECT_TRUE(media::blinds_table(0, 3, nullptr).empty());
  EXPECT_TRUE(media::blinds_table(-7, -3, nullptr).empty());
  // Shuffled: entry i swapped with entry r mod (n - i).
  int draws[] = {7, 2, 100, 1};
  int k = 0;
  EXPECT_EQ(media::blinds_table(5, -1, [&] { return draws[k++]; }), (std::vector<int32_t>{2, 3, 0, 1, 4}));
  // Any draws give a permutation.
  uint32_t seed = 12345;
  std::vector<int32_t> big = media::blinds_table(1000, -2, [&] { return int((seed = seed * 1103515245u + 12345u) >> 17); });
  std::vector<bool> seen(1000);
  for (int32_t v : big) seen[size_t(v)] = true;
  EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 1000);

  // Ten rows at rows 10..19 of the window: counted from the rectangle's
  // top, in the order 0, 4, 8, 1, 5, 9, ...
  Target t;
  Rect r{0, 10, 40, 20};
  media::Effect e = media::make_effect(EffectKind::Blinds, r, 0, -1, 4);
  media::step_effect(e, 77, t);  // 77 * 10 / 256 = 3 lines
  EXPECT_EQ(describe(t.fresh()), describe(rects({{0, 10, 40, 11}, {0, 14, 40, 15}, {0, 18, 40, 19}})));
  media::step_effect(e, 128, t);  // 5 lines
  EXPECT_EQ(describe(t.fresh()),
            describe(rects({{0, 10, 40, 12}, {0, 14, 40, 16}, {0, 18, 40, 19}})));
  // Vertical lines over the 40 columns, spacing 0: column 0 only.
  Target v;
  media::Effect z = media::make_effect(EffectKind::Blinds, kAll, 1, -1, 0);
  media::step_effect(z, 256, v);
  EXPECT_EQ(describe(v.fresh()), describe(rects({{0, 0, 1, 30}})));
}

TEST(Effects, CheckerboardDrawsOnlyItsFirstStep) {
  Target t;
  media::Effect e = media::make_effect(EffectKind::Checkerboard, kAll, 8);
  media::step_effect(e, 16, t);
  int after_first = t.copies;
  media::step_effect(e, 200, t);
  EXPECT_EQ(t.copies, after_first);
  media::finish_effect(e, t);
  EXPECT_EQ(describe(t.fresh()), describe(Region(kAll)));
}

TEST(Effects, SlidingEffectsMovePixels) {
  {
    // push from the top to 128: k = 15; the old rows 0..14 pushed to 15..29,
    // the image rows 30 * 128 / 256 = 15 .. 30 at the top.
    Target t;
    t.code_pixels();
    media::Effect e = media::make_effect(EffectKind::PushSides, kAll, 1);
    media::step_effect(e, 128, t);
    EXPECT_EQ(t.screen.pixel(3, 0), image_at(3, 15));
    EXPECT_EQ(t.screen.pixel(3, 14), image_at(3, 29));
    EXPECT_EQ(t.screen.pixel(3, 15), screen_at(3, 0));
    EXPECT_EQ(t.screen.pixel(3, 29), screen_at(3, 14));
    // On to 192: k = 22 - 15 = 7; image rows 30 * 64 / 256 = 7 .. 15 into rows 0..7
    // (8 rows into 7: stretched), the rest pushed down by 7.
    media::step_effect(e, 192, t);
    EXPECT_EQ(t.screen.pixel(3, 7), image_at(3, 15));
    EXPECT_EQ(t.screen.pixel(3, 29), screen_at(3, 7));
  }
  {
    // push from the right to 64: 10 columns; the old picture moves left.
    Target t;
    t.code_pixels();
    media::Effect e = media::make_effect(EffectKind::PushSides, kAll, 8);
    media::step_effect(e, 64, t);
    EXPECT_EQ(t.screen.pixel(30, 5), image_at(0, 5));
    EXPECT_EQ(t.screen.pixel(39, 5), image_at(9, 5));
    EXPECT_EQ(t.screen.pixel(0, 5), screen_at(10, 5));
  }
  {
    // cover from the bottom to 64: rows 23..29 show image rows 0..6.
    Target t;
    t.code_pixels();
    media::Effect e = media::make_effect(EffectKind::CoverSides, kAll, 2);
    media::step_effect(e, 64, t);
    EXPECT_EQ(t.screen.pixel(5, 23), image_at(5, 0));
    EXPECT_EQ(t.screen.pixel(5, 29), image_at(5, 6));
    EXPECT_EQ(t.screen.pixel(5, 22), screen_at(5, 22));
  }
  {
    // reveal from the left to 128: the old picture slides 20 columns right.
    Target t;
    t.code_pixels();
    media::Effect e = media::make_effect(EffectKind::RevealSides, kAll, 4);
    media::step_effect(e, 128, t);
    EXPECT_EQ(t.screen.pixel(20, 4), screen_at(0, 4));
    EXPECT_EQ(t.screen.pixel(39, 4), screen_at(19, 4));
    EXPECT_EQ(t.screen.pixel(0, 4), image_at(0, 4));
    EXPECT_EQ(t.screen.pixel(19, 4), image_at(19, 4));
  }
  {
    // zoom-in at 128: the image halved into (10 7 30 22); zoom-out: its centre doubled.
    Target t;
    t.code_pixels();
    media::Effect e = media::make_effect(EffectKind::ZoomIn, kAll, 0);
    media::step_effect(e, 128, t);
    EXPECT_EQ(t.screen.pixel(10, 7), image_at(1, 1));
    EXPECT_EQ(t.screen.pixel(29, 21), image_at(39, 29));
    Target u;
    u.code_pixels();
    media::Effect o = media::make_effect(EffectKind::ZoomOut, kAll, 0);
    media::step_effect(o, 128, u);
    EXPECT_EQ(u.screen.pixel(0, 0), image_at(10, 7));
    EXPECT_EQ(u.screen.pixel(39, 29), image_at(29, 21));
  }
}

TEST(Effects, WipeSlashStaircase) {
  Target t;
  media::Effect e = media::make_effect(EffectKind::WipeSlash, kAll, 1);
  media::step_effect(e, 2, t);
  // k = 1, 2: a = b = 4: the bottom band right of column 4, the top band
  // left of column 36.
  EXPECT_EQ(describe(t.fresh()), describe(rects({{0, 0, 36, 4}, {4, 26, 40, 30}})));
  media::step_effect(e, 128, t);
  EXPECT_EQ(t.screen.pixel(23, 12), kNew);  // k = 120: a = 18, b = 22
  EXPECT_EQ(t.screen.pixel(20, 12), kNew);  // top band, k = 77 .. 102
  EXPECT_EQ(t.screen.pixel(39, 0), kOld);  // the corners off the diagonal still to come
  EXPECT_EQ(t.screen.pixel(0, 29), kOld);
  Target o;  // the other direction mirrors it
  media::Effect m = media::make_effect(EffectKind::WipeSlash, kAll, 0);
  media::step_effect(m, 2, o);
  EXPECT_EQ(describe(o.fresh()), describe(rects({{4, 0, 40, 4}, {0, 26, 36, 30}})));
}

TEST(Effects, DissolvePassesFollowThePermutation) {
  // 320 columns: 64 block columns, so each block row gets one block a pass.
  struct Wide : Target {
    gfx::Surface shown{320, 10};
    std::map<std::pair<int32_t, int32_t>, int> count;
    void copy(Rect src, Rect dst) override {
      EXPECT_EQ(src, dst);
      ++count[{dst.left, dst.top}];
      gfx::DC(shown).fill_rect(dst, gfx::Brush::solid(kNew));
    }
    Rect bounds() const override { return shown.bounds(); }
  } t;
  std::vector<Region> after;
  media::dissolve({0, 0, 320, 10}, t, [&](int) {
    Region r;
    for (auto& [at, n] : t.count) r = gfx::unite(r, Region({at.first, at.second, at.first + 5, at.second + 5}));
    after.push_back(r);
  });
  ASSERT_EQ(after.size(), 64u);
  // Pass 0: row 0 column P[P[0]] = P[53] = 16, row 1 column P[P[1]] = P[37] = 38.
  EXPECT_EQ(describe(after[0]), describe(rects({{80, 0, 85, 5}, {190, 5, 195, 10}})));
  // Pass 1: P[54] = 33 and P[38] = 41 join them.
  EXPECT_EQ(describe(gfx::subtract(after[1], after[0])), describe(rects({{165, 0, 170, 5}, {205, 5, 210, 10}})));
  EXPECT_EQ(describe(after[63]), describe(Region({0, 0, 320, 10})));
  for (auto& [at, n] : t.count) EXPECT_EQ(n, 1);
  EXPECT_EQ(t.count.size(), 128u);
}

TEST(Effects, LoopTiming) {
  struct Clock {
    uint32_t t = 0xFFFFFF00u;  // wraps during the run
    uint32_t cost = 0;         // what drawing a step takes
    std::vector<int> dones;
  };
  auto run = [](int32_t increment, int32_t delay, uint32_t cost, Clock& c) {
    Target target;
    media::Effect e = media::make_effect(EffectKind::WipeSides, kAll, 1);
    c.cost = cost;
    media::EffectClock clock{[&] { return c.t; }, [&](uint32_t ms) { c.t += ms; },
                             [&] { c.dones.push_back(e.done), c.t += c.cost; }};
    return media::run_effect(e, increment, delay, target, clock);
  };
  Clock fast;
  EXPECT_EQ(run(16, 0, 0, fast), 16);
  Clock timed;
  uint32_t start = timed.t;
  EXPECT_EQ(run(16, 20, 0, timed), 16);
  EXPECT_EQ(timed.t - start, 320u);
  // A step that takes 45 ms: the late steps catch up by several increments.
  Clock late;
  run(16, 20, 45, late);
  EXPECT_EQ(late.dones, (std::vector<int>{16, 48, 96, 160, 256}));
  // Absurd increments and delays still end.
  Clock odd;
  EXPECT_EQ(run(0, -5, 0, odd), 256);
  EXPECT_EQ(run(1 << 30, 20, 0, odd), 1);
  EXPECT_EQ(run(-100, 1 << 30, 0, odd), 256);
}

// Absurd rectangles and parameters draw nothing outside the rectangle and
// the window, and every effect ends with the rectangle's part shown.
TEST(Effects, AbsurdArgumentsStayInside) {
  const Rect rects_[] = {{10, 10, 10, 20}, {30, 20, 5, 2}, {-70000, -70000, -60000, -60000},
                         {100, 100, 200, 200}, {-32768, -32768, 32767, 32767}, {-5, 25, 20, 60}};
  const EffectKind kinds[] = {EffectKind::Blinds, EffectKind::CenterIn, EffectKind::CenterOut,
                              EffectKind::Checkerboard, EffectKind::CoverSides, EffectKind::PushSides,
                              EffectKind::RevealSides, EffectKind::WipeSides, EffectKind::WipeSlash,
                              EffectKind::ZoomOut, EffectKind::ZoomIn, EffectKind::CopyMask};
  const int32_t parameters[] = {0, 1, 2, 4, 8, -1, 32767, -32768};
  for (Rect r : rects_)
    for (EffectKind kind : kinds)
      for (int32_t parameter : parameters) {
        Target t;
        media::Effect e = media::make_effect(kind, r, parameter, parameter % 7, parameter, [] { return 32767; });
        for (int32_t p : {-40, 0, 37, 300, 100, 256}) media::step_effect(e, p, t);
        Region outside = gfx::subtract(t.fresh(), Region(r));
        EXPECT_TRUE(outside.empty()) << describe(outside);
        media::finish_effect(e, t);
        EXPECT_EQ(describe(t.fresh()), describe(Region(gfx::intersect(r, kAll))));
      }
  Target t;
  media::dissolve({30, 20, 5, 2}, t);
  media::dissolve({-500, -500, -400, -400}, t);
  EXPECT_EQ(t.copies, 0);
}

}  // namespace
