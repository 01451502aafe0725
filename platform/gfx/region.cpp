#include "platform/gfx/region.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/host_library.hpp"

#ifndef TALVEN_PIXMAN_LIBRARY
#define TALVEN_PIXMAN_LIBRARY "libpixman-1.so.0"
#endif

namespace gfx {

namespace {
// The rectangle every shape region is built within.
constexpr Rect kEverywhere{-kMaxCoord, -kMaxCoord, kMaxCoord, kMaxCoord};

// The region functions of pixman, loaded at the first region: a run without
// windows or pictures never loads the library.
#define TALVEN_PIXMAN_FUNCTIONS(X)                                                             \
  X(pixman_region32_init) X(pixman_region32_init_rect) X(pixman_region32_init_rects)         \
  X(pixman_region32_fini) X(pixman_region32_copy) X(pixman_region32_not_empty)               \
  X(pixman_region32_contains_point) X(pixman_region32_contains_rectangle)                    \
  X(pixman_region32_translate) X(pixman_region32_equal) X(pixman_region32_rectangles)        \
  X(pixman_region32_union) X(pixman_region32_intersect) X(pixman_region32_subtract)

struct Pixman {
#define TALVEN_PIXMAN_POINTER(name) decltype(&::name) name = nullptr;
  TALVEN_PIXMAN_FUNCTIONS(TALVEN_PIXMAN_POINTER)
#undef TALVEN_PIXMAN_POINTER
  bool loaded = false;
  std::string reason;
};

Pixman load_pixman() {
  Pixman p;
#define TALVEN_PIXMAN_SYMBOL(name) platform::host_symbol(#name, p.name),
  const platform::HostSymbol symbols[] = {TALVEN_PIXMAN_FUNCTIONS(TALVEN_PIXMAN_SYMBOL)};
#undef TALVEN_PIXMAN_SYMBOL
  p.loaded = platform::load_host_library(TALVEN_PIXMAN_LIBRARY, symbols, &p.reason);
  return p;
}

const Pixman& pixman() {
  static const Pixman p = load_pixman();
  return p;
}

// The functions, once loaded. Without them no region can be made and
// nothing can go on: the run ends with the reason (a broken installation).
inline const Pixman& px() {
  const Pixman& p = pixman();
  if (!p.loaded) [[unlikely]] {
    std::fprintf(stderr, "talven: cannot load the region library: %s\n", p.reason.c_str());
    std::exit(70);
  }
  return p;
}
}  // namespace

bool load_regions(std::string* error) {
  const Pixman& p = pixman();
  if (!p.loaded && error) *error = p.reason;
  return p.loaded;
}

Region::Region() { px().pixman_region32_init(&r_); }
Region::Region(Rect r) {
  r = clamp_rect(r);
  if (r.empty())
    px().pixman_region32_init(&r_);
  else
    px().pixman_region32_init_rect(&r_, r.left, r.top, uint32_t(r.width()), uint32_t(r.height()));
}
Region::~Region() { px().pixman_region32_fini(&r_); }
Region::Region(const Region& o) {
  px().pixman_region32_init(&r_);
  px().pixman_region32_copy(&r_, const_cast<pixman_region32_t*>(&o.r_));
}
Region::Region(Region&& o) noexcept : Region() { std::swap(r_, o.r_); }
Region& Region::operator=(const Region& o) {
  if (this != &o) px().pixman_region32_copy(&r_, const_cast<pixman_region32_t*>(&o.r_));
  return *this;
}
Region& Region::operator=(Region&& o) noexcept {
  std::swap(r_, o.r_);
  return *this;
}

void Region::Builder::operator()(int32_t y, int32_t x0, int32_t x1) {
  if (y != row) {
    finish_row();
    row = y;
  }
  // Spans of one row may come unsorted or touching (frames, sectors).
  current.emplace_back(x0, x1);
}

void Region::Builder::finish_row() {
  if (current.empty()) return;
  std::sort(current.begin(), current.end());
  size_t n = 0;
  for (auto& s : current) {
    if (n > 0 && s.first <= current[n - 1].second)
      current[n - 1].second = std::max(current[n - 1].second, s.second);
    else
      current[n++] = s;
  }
  current.resize(n);
  // Extend the previous band when it ends on the row above with the same spans.
  bool same = band_start < boxes.size() && boxes.back().y2 == row && boxes.size() - band_start == n;
  for (size_t i = 0; same && i < n; ++i)
    same = boxes[band_start + i].x1 == current[i].first && boxes[band_start + i].x2 == current[i].second;
  if (same) {
    for (size_t i = band_start; i < boxes.size(); ++i) boxes[i].y2 = row + 1;
  } else {
    band_start = boxes.size();
    for (auto& s : current) boxes.push_back({s.first, row, s.second, row + 1});
  }
  current.clear();
}

Region Region::Builder::finish() {
  finish_row();
  Region out;
  if (!boxes.empty()) {
    px().pixman_region32_fini(&out.r_);
    px().pixman_region32_init_rects(&out.r_, boxes.data(), int(boxes.size()));
  }
  return out;
}

namespace {
Rect within(const Rect* limit) { return limit ? intersect(clamp_rect(*limit), kEverywhere) : kEverywhere; }
}  // namespace

Region Region::ellipse(Rect r, const Rect* limit) {
  return from_spans([&](SpanSink s) { fill_spans(ConvexShape::ellipse(r), within(limit), s); });
}
Region Region::round_rect(Rect r, int32_t corner_w, int32_t corner_h, const Rect* limit) {
  return from_spans(
      [&](SpanSink s) { fill_spans(ConvexShape::round_rect(r, corner_w, corner_h), within(limit), s); });
}
Region Region::polygon(std::span<const Pt> points, const Rect* limit) {
  return from_spans([&](SpanSink s) { polygon_spans(points, within(limit), s); });
}
Region Region::pie(Rect r, int32_t start, int32_t extent, const Rect* limit) {
  return from_spans([&](SpanSink s) { pie_spans(r, start, extent, within(limit), s); });
}

void Region::set_empty() {
  px().pixman_region32_fini(&r_);
  px().pixman_region32_init(&r_);
}

void Region::set_rect(Rect r) { *this = Region(r); }

bool Region::empty() const { return !px().pixman_region32_not_empty(const_cast<pixman_region32_t*>(&r_)); }

Rect Region::bounds() const {
  if (empty()) return {};
  const pixman_box32_t& e = r_.extents;
  return {e.x1, e.y1, e.x2, e.y2};
}

bool Region::contains(Pt p) const {
  return px().pixman_region32_contains_point(const_cast<pixman_region32_t*>(&r_), p.x, p.y, nullptr) != 0;
}

bool Region::intersects(Rect r) const {
  r = clamp_rect(r);
  if (r.empty()) return false;
  pixman_box32_t box{r.left, r.top, r.right, r.bottom};
  return px().pixman_region32_contains_rectangle(const_cast<pixman_region32_t*>(&r_), &box) != PIXMAN_REGION_OUT;
}

void Region::offset(int32_t dx, int32_t dy) {
  if (empty()) return;
  dx = std::clamp(dx, -2 * kMaxCoord, 2 * kMaxCoord);
  dy = std::clamp(dy, -2 * kMaxCoord, 2 * kMaxCoord);
  px().pixman_region32_translate(&r_, dx, dy);
  Rect b = bounds();
  if (b.left < -kMaxCoord || b.top < -kMaxCoord || b.right > kMaxCoord || b.bottom > kMaxCoord)
    *this = intersect(*this, Region(kEverywhere));
}

bool Region::operator==(const Region& o) const {
  return px().pixman_region32_equal(const_cast<pixman_region32_t*>(&r_), const_cast<pixman_region32_t*>(&o.r_)) != 0;
}

std::vector<Rect> Region::rects() const {
  int n = 0;
  const pixman_box32_t* b = px().pixman_region32_rectangles(const_cast<pixman_region32_t*>(&r_), &n);
  std::vector<Rect> out;
  out.reserve(size_t(n));
  for (int i = 0; i < n; ++i) out.push_back({b[i].x1, b[i].y1, b[i].x2, b[i].y2});
  return out;
}

Region unite(const Region& a, const Region& b) {
  Region out;
  px().pixman_region32_union(&out.r_, const_cast<pixman_region32_t*>(&a.r_), const_cast<pixman_region32_t*>(&b.r_));
  return out;
}
Region intersect(const Region& a, const Region& b) {
  Region out;
  px().pixman_region32_intersect(&out.r_, const_cast<pixman_region32_t*>(&a.r_), const_cast<pixman_region32_t*>(&b.r_));
  return out;
}
Region subtract(const Region& a, const Region& b) {
  Region out;
  px().pixman_region32_subtract(&out.r_, const_cast<pixman_region32_t*>(&a.r_), const_cast<pixman_region32_t*>(&b.r_));
  return out;
}
Region exclusive_or(const Region& a, const Region& b) { return subtract(unite(a, b), intersect(a, b)); }

}  // namespace gfx
