// Regions: sets of pixels kept as y-x bands of rectangles (pixman_region32).
//
// Set operations, equality, containment and bounds come from pixman; the
// shapes (ellipses, round rectangles, polygons, pies) are scan-converted by
// gfx's own rasterizer (shapes.hpp), so a shape's region holds exactly the
// pixels its fill sets. Coordinates stay within +-kMaxCoord: an offset that
// would carry a region beyond that drops the part outside.
#pragma once
#include <pixman.h>

#include <span>
#include <string>
#include <vector>

#include "platform/gfx/shapes.hpp"
#include "platform/gfx/surface.hpp"

namespace gfx {

// Loads the region library if it is not yet loaded: true when it is there,
// otherwise false with the reason in *error. Whoever is about to open
// windows or draw calls it first to report a broken installation cleanly;
// a region made without the library ends the run with the reason.
bool load_regions(std::string* error);

class Region {
 public:
  Region();
  explicit Region(Rect r);  // empty for an empty or inverted rectangle
  ~Region();
  Region(const Region& o);
  Region(Region&& o) noexcept;
  Region& operator=(const Region& o);
  Region& operator=(Region&& o) noexcept;

  // The shapes, everywhere or only their part within `limit`: a shape
  // millions of pixels tall has as many rows, and whoever draws it on a
  // surface needs the rows the surface has.
  static Region ellipse(Rect r, const Rect* limit = nullptr);
  static Region round_rect(Rect r, int32_t corner_w, int32_t corner_h, const Rect* limit = nullptr);
  static Region polygon(std::span<const Pt> points, const Rect* limit = nullptr);
  static Region pie(Rect r, int32_t start, int32_t extent, const Rect* limit = nullptr);
  // The region of spans delivered row by row, rows in increasing order.
  template <typename F>
  static Region from_spans(F&& generate);

  void set_empty();
  void set_rect(Rect r);
  bool empty() const;
  // The bounding rectangle; (0 0 0 0) when empty.
  Rect bounds() const;
  bool contains(Pt p) const;
  // Whether some part of r lies in the region.
  bool intersects(Rect r) const;
  void offset(int32_t dx, int32_t dy);
  bool operator==(const Region& o) const;

  // The bands, top to bottom and left to right within a band.
  std::vector<Rect> rects() const;

  friend Region unite(const Region& a, const Region& b);
  friend Region intersect(const Region& a, const Region& b);
  friend Region subtract(const Region& a, const Region& b);
  friend Region exclusive_or(const Region& a, const Region& b);

  pixman_region32_t* raw() { return &r_; }
  const pixman_region32_t* raw() const { return &r_; }

 private:
  struct Builder;
  pixman_region32_t r_;
};

Region unite(const Region& a, const Region& b);
Region intersect(const Region& a, const Region& b);
Region subtract(const Region& a, const Region& b);
Region exclusive_or(const Region& a, const Region& b);

// Collects spans into rectangles, merging a row into the rows above when
// its spans are the same.
struct Region::Builder {
  std::vector<pixman_box32_t> boxes;
  size_t band_start = 0;  // first box of the band being extended
  int32_t row = INT32_MIN;
  std::vector<std::pair<int32_t, int32_t>> current;
  void operator()(int32_t y, int32_t x0, int32_t x1);
  void finish_row();
  Region finish();
};

template <typename F>
Region Region::from_spans(F&& generate) {
  Builder b;
  generate(SpanSink(b));
  return b.finish();
}

}  // namespace gfx
