// The 3-D line primitives on a drawing surface, and the region handles.
#include "media/geometry.hpp"

#include "data/handles.hpp"
#include "tests/data/calls.hpp"

namespace core::testing {
namespace {

class GeometryTest : public NativeCallTest {
 protected:
  void SetUp() override {
    NativeCallTest::SetUp();
    surface_ = gfx::Surface(40, 40);
    media::set_drawing_surface(&surface_);
    matrix_ = data::box_pointer(data::new_pointer(128));
    // Looking along y from 1000 away: (x, 0, z) lands on (20 + x, 20 - z).
    callv("set-3d-transformation", {matrix_, list({fix(0), fix(1), fix(0)}), list({fix(0), fix(0), fix(0)}),
                                    fix(1000), fix(20), fix(20), fix(1), fix(1)});
  }
  void TearDown() override {
    media::set_drawing_surface(nullptr);
    NativeCallTest::TearDown();
  }
  // The painted pixels as a region.
  gfx::Region painted() {
    return gfx::Region::from_spans([&](gfx::SpanSink out) {
      for (int32_t y = 0; y < 40; ++y)
        for (int32_t x = 0; x < 40; ++x)
          if (surface_.pixel(x, y) != 0) out(y, x, x + 1);
    });
  }
  gfx::Region line(gfx::Pt a, gfx::Pt b, bool end) {
    gfx::Surface s(40, 40);
    gfx::DC dc(s);
    dc.set_pen({gfx::PenStyle::Solid, 1, 0xFFFFFF});
    dc.line(a, b, end);
    return gfx::Region::from_spans([&](gfx::SpanSink out) {
      for (int32_t y = 0; y < 40; ++y)
        for (int32_t x = 0; x < 40; ++x)
          if (s.pixel(x, y) != 0) out(y, x, x + 1);
    });
  }

  gfx::Surface surface_;
  Value matrix_;
};

TEST_F(GeometryTest, LinesIncludeTheirLastPointWithAThinPen) {
  gfx::DC* dc = media::drawing_dc();
  ASSERT_NE(dc, nullptr);
  dc->set_pen({gfx::PenStyle::Solid, 1, 0xFFFFFF});
  dc->move_to({20, 20});
  EXPECT_TRUE(callv("3d-line-to", {matrix_, fix(10), fix(0), fix(0)}).is_no_value());
  EXPECT_EQ(dc->position(), (gfx::Pt{30, 20}));
  // The reversed argument order of 3d-move-to; it draws all the same.
  callv("3d-move-to", {fix(10), fix(0), fix(0), matrix_});
  EXPECT_EQ(dc->position(), (gfx::Pt{20, 10}));
  gfx::Region want = gfx::unite(line({20, 20}, {30, 20}, true), line({30, 20}, {20, 10}, true));
  EXPECT_TRUE(painted() == want);
}

TEST_F(GeometryTest, WidePensHangBelowRightWithoutTheEndPixel) {
  gfx::DC* dc = media::drawing_dc();
  dc->set_pen({gfx::PenStyle::Solid, 3, 0xFFFFFF});
  dc->move_to({21, 21});
  // To (30, 20): the native line ends at (31, 21), short of its end.
  callv("3d-line-to", {matrix_, fix(10), fix(0), fix(0)});
  EXPECT_EQ(dc->position(), (gfx::Pt{31, 21}));
  // The square pen centred on each point of 21..30.
  EXPECT_TRUE(painted() == gfx::Region({20, 20, 32, 23}));
}

TEST_F(GeometryTest, ProjectionsTruncateTowardZeroWhenDrawing) {
  gfx::DC* dc = media::drawing_dc();
  dc->set_pen({gfx::PenStyle::Solid, 1, 0xFFFFFF});
  dc->move_to({5, 5});
  // (20 - 0.75 . 20 + 0.5): 19.25 truncates to 19, 19.5 to 19.
  callv("3d-line-to", {matrix_, make_real(-0.75), fix(0), make_real(0.5)});
  EXPECT_EQ(dc->position(), (gfx::Pt{19, 19}));
  // 3d-transform rounds half up instead.
  Value p = callv("3d-transform", {matrix_, make_real(-0.75), fix(0), make_real(0.5)});
  EXPECT_EQ(text(p), "(19 . 20)");
  EXPECT_NE(surface_.pixel(19, 19), 0u);
}

TEST_F(GeometryTest, NoSurfaceNoDrawingButErrorsStillChecked) {
  media::set_drawing_surface(nullptr);
  EXPECT_EQ(media::drawing_dc(), nullptr);
  EXPECT_TRUE(callv("3d-line-to", {matrix_, fix(1), fix(2), fix(3)}).is_no_value());
  EXPECT_EQ(error_in([&] { callv("3d-line-to", {matrix_, fix(0), fix(1000), fix(0)}); }), 2);
}

TEST_F(GeometryTest, RegionBoxesNameLiveRegionsOnly) {
  Value a = callv("newrgn", {});
  Value b = callv("create-oval-rgn", {list({fix(0), fix(0), fix(9), fix(5)})});
  EXPECT_TRUE(media::region_arg(b) == gfx::Region::ellipse({0, 0, 9, 5}));
  callv("disposergn", {a});
  EXPECT_EQ(error_in([&] { media::region_arg(a); }), 2);
  // A box forged with a live region's handle but another sub-kind is no region.
  EXPECT_EQ(error_in([&] { media::region_arg(box_address(box_addr(b), 0)); }), 2);
  // Many regions come and go; the old boxes stay dead.
  for (int i = 0; i < 2000; ++i) callv("disposergn", {callv("newrgn", {})});
  EXPECT_EQ(error_in([&] { callv("emptyrgn", {a}); }), 2);
  EXPECT_TRUE(callv("emptyrgn", {b}).is_nil());
}

}  // namespace
}  // namespace core::testing
