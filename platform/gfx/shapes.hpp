// Scan conversion: every shape of gfx as rows of pixel spans.
//
// One rasterizer defines each shape. Filling a shape writes exactly the
// spans produced here, and the region of a shape is built from the same
// spans, so a shape's region and the pixels its fill sets never differ.
//
// The rules, all in exact integer arithmetic:
// - A pixel (x, y) is a unit square whose centre is (x + 1/2, y + 1/2).
// - Ellipse in the rectangle R: the pixels whose centre lies inside or on the
//   ellipse inscribed in R (so the shape of a w x h box is the transpose of
//   the h x w one, and a very flat ellipse may not reach the ends of R). A round rectangle is R with its corners cut by
//   the quarters of the ellipse of the corner width and height; an ellipse
//   is the round rectangle whose corner ellipse is all of R.
// - A frame of pen width p is the fill minus the pixels whose p-neighbours
//   (p steps left, right, up and down) all lie in the fill.
// - Polygon (even-odd): the pixels whose centre lies inside the path; a
//   centre on a left edge is inside, on a right edge outside.
// - Arcs and pies: angles in degrees, 0 at the top, growing clockwise, and
//   measured against the rectangle (45 points at its top-right corner); a
//   pixel belongs when the direction of its centre from the centre of R lies
//   in [start, start + extent). A negative extent runs counter-clockwise,
//   an extent of 360 or more is the whole ellipse, 0 is nothing.
// - Lines: one pixel per step along the major axis, the minor coordinate
//   rounded half up; without the end pixel the last point is left out.
//
// Every generator takes a limit rectangle and never visits rows or pixels
// outside it, so huge coordinates cost no more than the limit. Coordinates
// are kept within +-kMaxCoord.
#pragma once
#include <cstdint>
#include <span>
#include <utility>

#include "platform/gfx/surface.hpp"

namespace gfx {

constexpr int32_t kMaxCoord = 1 << 24;

// A borrowed callable: a span on row y covering [x0, x1).
class SpanSink {
 public:
  template <typename F>
  SpanSink(F& f) : object_(&f), call_([](void* o, int32_t y, int32_t x0, int32_t x1) { (*static_cast<F*>(o))(y, x0, x1); }) {}
  void operator()(int32_t y, int32_t x0, int32_t x1) const { call_(object_, y, x0, x1); }

 private:
  void* object_;
  void (*call_)(void*, int32_t, int32_t, int32_t);
};

// A borrowed callable taking the points of a line: index along the line,
// then x and y.
class PointSink {
 public:
  template <typename F>
  PointSink(F& f) : object_(&f), call_([](void* o, int64_t i, int32_t x, int32_t y) { (*static_cast<F*>(o))(i, x, y); }) {}
  void operator()(int64_t i, int32_t x, int32_t y) const { call_(object_, i, x, y); }

 private:
  void* object_;
  void (*call_)(void*, int64_t, int32_t, int32_t);
};

Rect clamp_rect(Rect r);

// The shapes whose every row is one run of pixels: rectangles, ellipses and
// round rectangles.
struct ConvexShape {
  Rect r;
  int32_t corner_w = 0, corner_h = 0;  // 0: square corners

  static ConvexShape rect(Rect r) { return {clamp_rect(r), 0, 0}; }
  static ConvexShape ellipse(Rect r);
  static ConvexShape round_rect(Rect r, int32_t corner_w, int32_t corner_h);
  // The run of row y as [a, b] inclusive; false when the row is empty.
  bool row(int32_t y, int32_t& a, int32_t& b) const;
};

void fill_spans(const ConvexShape& s, Rect limit, SpanSink out);
void frame_spans(const ConvexShape& s, int32_t pen, Rect limit, SpanSink out);
// The fill without the frame: what the brush paints inside a pen.
void interior_spans(const ConvexShape& s, int32_t pen, Rect limit, SpanSink out);
// Both in one pass, row by row (either sink may be null).
void frame_and_interior_spans(const ConvexShape& s, int32_t pen, Rect limit, SpanSink* frame, SpanSink* interior);

// A sector of the ellipse in r.
struct Sector {
  Rect r;
  int32_t start = 0, extent = 0;
  bool contains(int32_t x, int32_t y) const;
  bool whole() const { return extent >= 360 || extent <= -360; }
};
// The pixel at the centre of r, and the pixel where the ray at an angle
// leaves the ellipse in r: the ends of a pie's radius.
Pt sector_centre(Rect r);
Pt sector_edge(Rect r, int32_t angle);
void pie_spans(Rect r, int32_t start, int32_t extent, Rect limit, SpanSink out);
void arc_spans(Rect r, int32_t start, int32_t extent, int32_t pen, Rect limit, SpanSink out);

void polygon_spans(std::span<const Pt> points, Rect limit, SpanSink out);

// The points of the line from a to b within limit, in order.
void line_points(Pt a, Pt b, bool end_pixel, Rect limit, PointSink out);
// The pixels of a line drawn with a square pen of width pen centred on each
// point, as spans (each pixel once).
void wide_line_spans(Pt a, Pt b, bool end_pixel, int32_t pen, Rect limit, SpanSink out);

}  // namespace gfx
