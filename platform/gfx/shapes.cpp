#include "platform/gfx/shapes.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace gfx {

namespace {

__extension__ typedef unsigned __int128 u128;

int32_t clamp_coord(int64_t v) { return int32_t(std::clamp<int64_t>(v, -kMaxCoord, kMaxCoord)); }

// floor(sqrt(v)) for v < 2^62.
int64_t isqrt(int64_t v) {
  if (v <= 0) return 0;
  int64_t m = int64_t(std::sqrt(double(v)));
  while (m > 0 && m * m > v) --m;
  while ((m + 1) * (m + 1) <= v) ++m;
  return m;
}

int64_t floor_div(int64_t n, int64_t d) {  // d > 0
  int64_t q = n / d;
  return (n % d != 0 && n < 0) ? q - 1 : q;
}
int64_t ceil_div(int64_t n, int64_t d) { return -floor_div(-n, d); }  // d > 0

// How far row j (0 <= j < h) of the ellipse inscribed in a w x h box starts
// from the box's left edge: the smallest x with the centre of (x, j) inside.
// A row without any pixel gives w / 2, so that a round rectangle keeps its
// straight middle part and an ellipse gets an empty row.
int32_t corner_inset(int32_t w, int32_t h, int32_t j) {
  // In doubled units from the centre: dx = 2x + 1 - w, dy = 2j + 1 - h.
  int64_t dy = 2 * int64_t(j) + 1 - h;
  // dx^2 h^2 + dy^2 w^2 <= w^2 h^2  <=>  dx^2 <= w^2 (h^2 - dy^2) / h^2
  u128 ww = u128(uint64_t(w)) * uint64_t(w);
  u128 room = ww * u128(uint64_t(int64_t(h) * h - dy * dy));
  int64_t m = isqrt(int64_t(room / (u128(uint64_t(h)) * uint64_t(h))));
  // dx has the parity of w + 1.
  if (((m ^ (w + 1)) & 1) != 0) --m;
  if (m < 0) return w / 2;
  return int32_t((w - 1 - m) / 2);
}

}  // namespace

Rect clamp_rect(Rect r) {
  return {clamp_coord(r.left), clamp_coord(r.top), clamp_coord(r.right), clamp_coord(r.bottom)};
}

ConvexShape ConvexShape::ellipse(Rect r) {
  r = clamp_rect(r);
  return {r, std::max(r.width(), 0), std::max(r.height(), 0)};
}

ConvexShape ConvexShape::round_rect(Rect r, int32_t corner_w, int32_t corner_h) {
  r = clamp_rect(r);
  if (corner_w <= 0 || corner_h <= 0 || r.empty()) return {r, 0, 0};
  return {r, std::min(corner_w, r.width()), std::min(corner_h, r.height())};
}

bool ConvexShape::row(int32_t y, int32_t& a, int32_t& b) const {
  if (r.empty() || y < r.top || y >= r.bottom) return false;
  int32_t inset = 0;
  if (corner_w > 0) {
    int32_t half = corner_h / 2;
    if (y - r.top < half)
      inset = corner_inset(corner_w, corner_h, y - r.top);
    else if (r.bottom - 1 - y < half)
      inset = corner_inset(corner_w, corner_h, r.bottom - 1 - y);
  }
  a = r.left + inset;
  b = r.right - 1 - inset;
  return a <= b;
}

void fill_spans(const ConvexShape& s, Rect limit, SpanSink out) {
  Rect box = intersect(s.r, limit);
  for (int32_t y = box.top; y < box.bottom; ++y) {
    int32_t a, b;
    if (!s.row(y, a, b)) continue;
    a = std::max(a, box.left);
    b = std::min(b, box.right - 1);
    if (a <= b) out(y, a, b + 1);
  }
}

namespace {

// Row y of a shape split for a frame of the pen width: its run [a, b] and
// the interior [ia, ib] (empty when ia > ib). False when the row is empty.
bool frame_row(const ConvexShape& s, int32_t pen, int32_t y, int32_t& a, int32_t& b, int32_t& ia, int32_t& ib) {
  if (!s.row(y, a, b)) return false;
  // The interior: pixels whose neighbours pen steps away are all inside.
  ia = a + pen, ib = b - pen;
  for (int32_t k = -pen; k <= pen && ia <= ib; ++k) {
    if (k == 0) continue;
    int32_t ka, kb;
    if (!s.row(y + k, ka, kb)) {
      ia = 1, ib = 0;
      break;
    }
    ia = std::max(ia, ka);
    ib = std::min(ib, kb);
  }
  return true;
}

}  // namespace

void frame_and_interior_spans(const ConvexShape& s, int32_t pen, Rect limit, SpanSink* frame, SpanSink* interior) {
  pen = std::max(pen, 1);
  Rect box = intersect(s.r, limit);
  for (int32_t y = box.top; y < box.bottom; ++y) {
    int32_t a, b, ia, ib;
    if (!frame_row(s, pen, y, a, b, ia, ib)) continue;
    auto emit = [&](SpanSink* out, int32_t x0, int32_t x1) {  // inclusive
      x0 = std::max(x0, box.left);
      x1 = std::min(x1, box.right - 1);
      if (out && x0 <= x1) (*out)(y, x0, x1 + 1);
    };
    if (ia > ib) {
      emit(frame, a, b);
    } else {
      emit(frame, a, ia - 1);
      emit(interior, ia, ib);
      emit(frame, ib + 1, b);
    }
  }
}

void frame_spans(const ConvexShape& s, int32_t pen, Rect limit, SpanSink out) {
  frame_and_interior_spans(s, pen, limit, &out, nullptr);
}

void interior_spans(const ConvexShape& s, int32_t pen, Rect limit, SpanSink out) {
  frame_and_interior_spans(s, pen, limit, nullptr, &out);
}

// ---- Sectors -------------------------------------------------------------------

namespace {

// A direction for an angle in degrees: (sin, cos), exact at multiples of 45.
struct Direction {
  double s, c;
};
Direction direction(int64_t degrees) {
  int64_t a = ((degrees % 360) + 360) % 360;
  static const int8_t kExact[8][2] = {{0, 1}, {1, 1}, {1, 0}, {1, -1}, {0, -1}, {-1, -1}, {-1, 0}, {-1, 1}};
  if (a % 45 == 0) return {double(kExact[a / 45][0]), double(kExact[a / 45][1])};
  double rad = double(a) * (M_PI / 180.0);
  return {std::sin(rad), std::cos(rad)};
}

// Whether the direction (dx / w, dy / h) lies in [angle, angle + 180).
bool in_half(Direction u, double dx, double dy, double w, double h) {
  double cross = u.s * dy * w + u.c * dx * h;
  if (cross != 0) return cross > 0;
  return u.s * dx * h - u.c * dy * w > 0;
}

}  // namespace

bool Sector::contains(int32_t x, int32_t y) const {
  if (extent == 0) return false;
  if (whole()) return true;
  int64_t start_a = start, ext = extent;
  if (ext < 0) start_a += ext, ext = -ext;
  double dx = 2.0 * x + 1 - (double(r.left) + r.right);
  double dy = 2.0 * y + 1 - (double(r.top) + r.bottom);
  if (dx == 0 && dy == 0) return true;  // the apex
  double w = r.width(), h = r.height();
  bool in_first = in_half(direction(start_a), dx, dy, w, h);
  bool in_second = in_half(direction(start_a + ext), dx, dy, w, h);
  return ext <= 180 ? (in_first && !in_second) : (in_first || !in_second);
}

Pt sector_centre(Rect r) {
  r = clamp_rect(r);
  return {int32_t(std::floor((double(r.left) + r.right - 1) / 2 + 0.5)),
          int32_t(std::floor((double(r.top) + r.bottom - 1) / 2 + 0.5))};
}

Pt sector_edge(Rect r, int32_t angle) {
  r = clamp_rect(r);
  Direction u = direction(angle);
  double n = std::sqrt(u.s * u.s + u.c * u.c);
  double x = (double(r.left) + r.right - 1) / 2 + (r.width() - 1) / 2.0 * u.s / n;
  double y = (double(r.top) + r.bottom - 1) / 2 - (r.height() - 1) / 2.0 * u.c / n;
  return {int32_t(std::floor(x + 0.5)), int32_t(std::floor(y + 0.5))};
}

namespace {

// Passes on the parts of each span whose pixels lie in the sector. Along
// a row each of the sector's two boundary half-planes changes its answer
// at most once (the test is monotonic in x, rounding included), and the
// apex is one pixel: the row splits into at most six pieces, each wholly in
// or out, found by bisection, so a wide row costs a few dozen tests.
struct SectorFilter {
  Sector sector;
  SpanSink out;
  void operator()(int32_t y, int32_t x0, int32_t x1) {
    if (sector.whole()) {
      out(y, x0, x1);
      return;
    }
    if (sector.extent == 0 || x0 >= x1) return;
    int64_t start_a = sector.start, ext = sector.extent;
    if (ext < 0) start_a += ext, ext = -ext;
    const Rect& r = sector.r;
    double dy = 2.0 * y + 1 - (double(r.top) + r.bottom), w = r.width(), h = r.height();
    auto dx = [&](int32_t x) { return 2.0 * x + 1 - (double(r.left) + r.right); };
    int32_t cuts[4];
    int n = 0;
    auto split = [&](Direction u) {
      auto side = [&](int32_t x) { return in_half(u, dx(x), dy, w, h); };
      bool first = side(x0);
      if (side(x1 - 1) == first) return;
      int32_t lo = x0, hi = x1 - 1;  // side(lo) is first, side(hi) is not
      while (hi - lo > 1) {
        int32_t mid = int32_t(lo + (int64_t(hi) - lo) / 2);
        (side(mid) == first ? lo : hi) = mid;
      }
      cuts[n++] = hi;
    };
    split(direction(start_a));
    split(direction(start_a + ext));
    int64_t across = int64_t(r.left) + r.right;
    if (dy == 0 && (across & 1)) {
      int64_t apex = (across - 1) / 2;
      if (apex > x0 && apex < x1) cuts[n++] = int32_t(apex);
      if (apex + 1 > x0 && apex + 1 < x1) cuts[n++] = int32_t(apex + 1);
    }
    for (int i = 1; i < n; ++i)  // at most four cuts
      for (int j = i; j > 0 && cuts[j] < cuts[j - 1]; --j) std::swap(cuts[j], cuts[j - 1]);
    int32_t from = x0, run = x0;
    bool in = false;
    for (int i = 0; i <= n; ++i) {
      int32_t to = i < n ? cuts[i] : x1;
      if (to <= from) continue;
      bool c = sector.contains(from, y);
      if (c && !in) run = from;
      if (!c && in) out(y, run, from);
      in = c;
      from = to;
    }
    if (in) out(y, run, x1);
  }
};

}  // namespace

void pie_spans(Rect r, int32_t start, int32_t extent, Rect limit, SpanSink out) {
  if (extent == 0) return;
  ConvexShape s = ConvexShape::ellipse(r);
  SectorFilter filter{{s.r, start, extent}, out};
  fill_spans(s, limit, SpanSink(filter));
}

void arc_spans(Rect r, int32_t start, int32_t extent, int32_t pen, Rect limit, SpanSink out) {
  if (extent == 0) return;
  ConvexShape s = ConvexShape::ellipse(r);
  SectorFilter filter{{s.r, start, extent}, out};
  frame_spans(s, pen, limit, SpanSink(filter));
}

// ---- Polygons ----------------------------------------------------------------------

void polygon_spans(std::span<const Pt> points, Rect limit, SpanSink out) {
  if (points.size() < 3) return;
  struct Edge {
    int64_t x0, y0, x1, y1;
  };
  std::vector<Edge> edges;
  int64_t top = INT64_MAX, bottom = INT64_MIN;
  for (size_t i = 0; i < points.size(); ++i) {
    Pt p = points[i], q = points[(i + 1) % points.size()];
    int64_t x0 = clamp_coord(p.x), y0 = clamp_coord(p.y), x1 = clamp_coord(q.x), y1 = clamp_coord(q.y);
    if (y0 == y1) continue;
    if (y0 > y1) std::swap(x0, x1), std::swap(y0, y1);
    edges.push_back({x0, y0, x1, y1});
    top = std::min(top, y0);
    bottom = std::max(bottom, y1);
  }
  if (edges.empty()) return;
  int64_t y_from = std::max<int64_t>(top, limit.top), y_to = std::min<int64_t>(bottom, limit.bottom);
  std::vector<int64_t> xs;
  for (int64_t y = y_from; y < y_to; ++y) {
    xs.clear();
    for (const Edge& e : edges) {
      if (y < e.y0 || y >= e.y1) continue;
      // The first pixel whose centre is at or right of the crossing at y + 1/2.
      int64_t dy = e.y1 - e.y0;
      int64_t n = 2 * e.x0 * dy + (2 * (y - e.y0) + 1) * (e.x1 - e.x0) - dy;
      xs.push_back(ceil_div(n, 2 * dy));
    }
    std::sort(xs.begin(), xs.end());
    for (size_t i = 0; i + 1 < xs.size(); i += 2) {
      int64_t a = std::max<int64_t>(xs[i], limit.left), b = std::min<int64_t>(xs[i + 1], limit.right);
      if (a < b) out(int32_t(y), int32_t(a), int32_t(b));
    }
  }
}

// ---- Lines -------------------------------------------------------------------------

void line_points(Pt a, Pt b, bool end_pixel, Rect limit, PointSink out) {
  int64_t x0 = clamp_coord(a.x), y0 = clamp_coord(a.y), x1 = clamp_coord(b.x), y1 = clamp_coord(b.y);
  if (limit.empty()) return;
  int64_t adx = std::abs(x1 - x0), ady = std::abs(y1 - y0);
  int64_t sx = x1 >= x0 ? 1 : -1, sy = y1 >= y0 ? 1 : -1;
  bool x_major = adx >= ady;
  int64_t major = x_major ? adx : ady, minor = x_major ? ady : adx;
  int64_t last = end_pixel ? major : major - 1;
  if (last < 0) return;
  int64_t m0 = x_major ? x0 : y0, n0 = x_major ? y0 : x0;
  int64_t ms = x_major ? sx : sy, ns = x_major ? sy : sx;
  int64_t mlo = x_major ? limit.left : limit.top, mhi = (x_major ? limit.right : limit.bottom) - 1;
  int64_t nlo = x_major ? limit.top : limit.left, nhi = (x_major ? limit.bottom : limit.right) - 1;
  // Steps i with the major coordinate m0 + ms * i inside [mlo, mhi].
  int64_t i_from = 0, i_to = last;
  if (ms > 0)
    i_from = std::max(i_from, mlo - m0), i_to = std::min(i_to, mhi - m0);
  else
    i_from = std::max(i_from, m0 - mhi), i_to = std::min(i_to, m0 - mlo);
  // The minor offset after i steps is k(i) = floor((2 i minor + major) / (2 major)),
  // which must lie in [klo, khi].
  int64_t klo = ns > 0 ? nlo - n0 : n0 - nhi, khi = ns > 0 ? nhi - n0 : n0 - nlo;
  if (minor == 0) {
    if (klo > 0 || khi < 0) return;
  } else {
    i_from = std::max(i_from, ceil_div((2 * klo - 1) * major, 2 * minor));
    i_to = std::min(i_to, ceil_div((2 * khi + 1) * major, 2 * minor) - 1);
  }
  for (int64_t i = i_from; i <= i_to; ++i) {
    int64_t k = major == 0 ? 0 : floor_div(2 * i * minor + major, 2 * major);
    int64_t m = m0 + ms * i, n = n0 + ns * k;
    if (x_major)
      out(i, int32_t(m), int32_t(n));
    else
      out(i, int32_t(n), int32_t(m));
  }
}

void wide_line_spans(Pt a, Pt b, bool end_pixel, int32_t pen, Rect limit, SpanSink out) {
  pen = std::clamp(pen, 1, 4096);
  int32_t before = pen / 2, after = pen - before;  // the square [x - before, x + after)
  Rect reach{limit.left - after, limit.top - after, limit.right + before, limit.bottom + before};
  // Per row, the smallest and largest x of the points whose square covers it.
  int64_t row0 = limit.top, rows = limit.height();
  if (rows <= 0) return;
  std::vector<std::pair<int32_t, int32_t>> cover(size_t(rows), {INT32_MAX, INT32_MIN});
  auto take = [&](int64_t, int32_t x, int32_t y) {
    int64_t from = std::max<int64_t>(y - before, row0), to = std::min<int64_t>(int64_t(y) + after, row0 + rows);
    for (int64_t r = from; r < to; ++r) {
      auto& c = cover[size_t(r - row0)];
      c.first = std::min(c.first, x);
      c.second = std::max(c.second, x);
    }
  };
  line_points(a, b, end_pixel, reach, PointSink(take));
  for (int64_t r = 0; r < rows; ++r) {
    auto [lo, hi] = cover[size_t(r)];
    if (lo > hi) continue;
    int64_t x0 = std::max<int64_t>(int64_t(lo) - before, limit.left);
    int64_t x1 = std::min<int64_t>(int64_t(hi) + after, limit.right);
    if (x0 < x1) out(int32_t(row0 + r), int32_t(x0), int32_t(x1));
  }
}

}  // namespace gfx
