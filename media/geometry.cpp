// The point, rectangle, region and projection primitives.
#include "media/geometry.hpp"

#include <cmath>
#include <cstring>

#include "core/args.hpp"
#include "core/errors.hpp"
#include "core/memory.hpp"
#include "core/native_table.hpp"
#include "core/natives.hpp"
#include "data/handles.hpp"

namespace media {
static_assert(kRegionBox == core::kBoxRegion, "regions are pointer boxes of the region sub-kind");
using namespace core;

namespace {

struct GeometryState : ModuleState {
  // Each region on its own, so that references stay valid as the table grows.
  NativeTable<std::unique_ptr<gfx::Region>> regions;
  gfx::Surface* surface = nullptr;
  std::unique_ptr<gfx::DC> dc;
};

GeometryState& gs() { return state_of<GeometryState>(kGeometryModule); }

inline Value boolean(bool b) { return b ? rt().sym.t : kNil; }

// The low 16 bits, sign-extended.
inline int32_t cut(int64_t v) { return int16_t(uint16_t(uint64_t(v) & 0xFFFF)); }
inline int32_t coord(Value v) { return cut(read_integer(v)); }

struct Point {
  int32_t h, v;
};
struct Box {
  int32_t left, top, right, bottom;
  bool empty() const { return right <= left || bottom <= top; }
  gfx::Rect rect() const { return {left, top, right, bottom}; }
};

Point point_arg(Value p) {
  arg_pair(p);
  return {coord(cdr(p)), coord(car(p))};
}

Box rect_arg(Value r) {
  int32_t c[4];
  Value at = r;
  for (int32_t& x : c) {
    if (!at.is_pair()) error(Err::WrongType, r);
    if (!is_integer(car(at))) error(Err::WrongType, r);
    x = coord(car(at));
    at = cdr(at);
  }
  return {c[0], c[1], c[2], c[3]};
}

Value make_point(int64_t h, int64_t v) { return cons(make_fixnum(cut(v)), make_fixnum(cut(h))); }

Value make_rect(int64_t l, int64_t t, int64_t r, int64_t b) {
  Value out = cons(make_fixnum(cut(b)), kNil);
  out = cons(make_fixnum(cut(r)), out);
  out = cons(make_fixnum(cut(t)), out);
  return cons(make_fixnum(cut(l)), out);
}

Value make_rect(const gfx::Rect& r) { return make_rect(r.left, r.top, r.right, r.bottom); }

}  // namespace

gfx::Pt point_value(Value p) {
  Point q = point_arg(p);
  return {q.h, q.v};
}
gfx::Rect rect_value(Value r) { return rect_arg(r).rect(); }
Value make_point_value(gfx::Pt p) { return make_point(p.x, p.y); }
Value make_rect_value(const gfx::Rect& r) { return make_rect(r); }

namespace {

// floor(d + 0.5) as an integer, for d of any size.
int64_t round_half_up(double d) {
  double f = std::floor(d + 0.5);
  if (!(std::fabs(f) < 9.0e18)) return 0;
  return int64_t(f);
}

}  // namespace

// ---- Regions as handles ----------------------------------------------------------

gfx::Region& region_arg(Value box) {
  if (!box.is(Tag::Pointer) || box_kind(box) != kRegionBox) error(Err::WrongType, box);
  return *gs().regions.get(box_addr(box), box);
}

Value new_region_box(gfx::Region region) {
  uint32_t h = gs().regions.add(std::make_unique<gfx::Region>(std::move(region)));
  // A full table: ids are exhausted, as memory would be.
  if (h == 0) error(Err::NativeMemory, kNil);
  return box_address(h, kRegionBox);
}

void set_drawing_surface(gfx::Surface* surface) {
  GeometryState& s = gs();
  s.surface = surface;
  s.dc = surface ? std::make_unique<gfx::DC>(*surface) : nullptr;
}

gfx::DC* drawing_dc() { return gs().dc.get(); }

namespace {

// ---- Points ------------------------------------------------------------------------

Value prim_make_point(Value h, Value v) { return make_point(coord(h), coord(v)); }

Value prim_copy_point(Value p) {
  arg_pair(p);
  return cons(car(p), cdr(p));
}

Value prim_point_x(Value p, Value h) {
  arg_pair(p);
  if (!h.is_nil()) {
    if (!is_integer(h)) error(Err::WrongType, h);
    set_cdr(p, h);
  }
  return cdr(p);
}

Value prim_point_y(Value p, Value v) {
  arg_pair(p);
  if (!v.is_nil()) {
    if (!is_integer(v)) error(Err::WrongType, v);
    set_car(p, v);
  }
  return car(p);
}

Value prim_add_point(Value a, Value b) {
  Point p = point_arg(a), q = point_arg(b);
  return make_point(int64_t(p.h) + q.h, int64_t(p.v) + q.v);
}

Value prim_subtract_point(Value a, Value b) {
  Point p = point_arg(a), q = point_arg(b);
  return make_point(int64_t(p.h) - q.h, int64_t(p.v) - q.v);
}

Value prim_offset_point(Value p, Value dh, Value dv) {
  Point q = point_arg(p);
  return make_point(int64_t(q.h) + coord(dh), int64_t(q.v) + coord(dv));
}

Value prim_ptinrgn(Value p, Value rgn) {
  Point q = point_arg(p);
  return boolean(region_arg(rgn).contains({q.h, q.v}));
}

double distance(Point a, Point b) {
  double dh = double(a.h) - b.h, dv = double(a.v) - b.v;
  return std::sqrt(dh * dh + dv * dv);
}

// (a b flag) or (h v b flag).
Value prim_distance_point(Value x1, Value x2, Value x3, Value x4) {
  Point a, b;
  Value flag;
  if (x1.is_fixnum()) {
    a = {coord(x1), coord(x2)};
    b = point_arg(x3);
    flag = x4;
  } else {
    a = point_arg(x1);
    b = point_arg(x2);
    flag = x3;
  }
  double d = distance(a, b);
  if (flag.is_nil() || flag.is_no_value()) return make_real(d);
  return make_integer(int32_t(round_half_up(d)));
}

// The distance from p to the line through a and b, rounded half up, cut to
// 16 bits and made non-negative. Two equal line points give the distance
// between the points.
int32_t line_distance(Point a, Point b, Point p) {
  if (a.h == b.h && a.v == b.v) return std::abs(cut(round_half_up(distance(a, p))));
  int64_t ka = int64_t(a.v) - b.v, kb = int64_t(b.h) - a.h;
  int64_t k = int64_t(a.h) * b.v - int64_t(b.h) * a.v;
  double d = (double(p.v) * double(kb) + double(p.h) * double(ka) + double(k)) /
             std::sqrt(double(ka) * double(ka) + double(kb) * double(kb));
  return std::abs(cut(round_half_up(d)));
}

Value prim_distance_line_point(Value a, Value b, Value p, Value v) {
  Point pa = point_arg(a), pb = point_arg(b);
  Point pp = v.is_nil() ? point_arg(p) : Point{coord(p), coord(v)};
  return make_fixnum(line_distance(pa, pb, pp));
}

Value prim_in_edge_p(Value p, Value a, Value b, Value tolerance) {
  Point q = point_arg(p), pa = point_arg(a), pb = point_arg(b);
  int64_t t = read_integer(tolerance);
  auto outside = [&](int64_t x, int64_t x1, int64_t x2) {
    return x <= std::min(x1, x2) - t - 1 || x >= std::max(x1, x2) + t + 1;
  };
  if (outside(q.h, pa.h, pb.h) || outside(q.v, pa.v, pb.v)) return kNil;
  return boolean(line_distance(pa, pb, q) <= t);
}

// ---- Rectangles ----------------------------------------------------------------------

Value prim_rect_position(Value r) {
  Box b = rect_arg(r);
  return make_point(b.left, b.top);
}

Value prim_rect_size(Value r) {
  Box b = rect_arg(r);
  return make_point(int64_t(b.right) - b.left, int64_t(b.bottom) - b.top);
}

Value prim_rect_width(Value r) {
  Box b = rect_arg(r);
  return make_integer(b.right - b.left);
}

Value prim_rect_height(Value r) {
  Box b = rect_arg(r);
  return make_integer(b.bottom - b.top);
}

Value prim_rect_center(Value r) {
  Box b = rect_arg(r);
  return make_point((b.left + b.right) / 2, (b.top + b.bottom) / 2);
}

Value prim_inflate_rect(Value r, Value dh, Value dv) {
  Box b = rect_arg(r);
  int64_t h = coord(dh), v = coord(dv);
  return make_rect(b.left - h, b.top - v, b.right + h, b.bottom + v);
}

Value prim_offset_rect(Value r, Value dh, Value dv) {
  Box b = rect_arg(r);
  int64_t h, v;
  if (dv.is_nil()) {
    Point p = point_arg(dh);
    h = p.h, v = p.v;
  } else {
    h = coord(dh), v = coord(dv);
  }
  return make_rect(b.left + h, b.top + v, b.right + h, b.bottom + v);
}

// (point rect nil) or (h v rect).
Value prim_point_in_rect_p(Value x1, Value x2, Value x3) {
  Point p;
  Box b;
  if (x1.is_fixnum()) {
    p = {coord(x1), coord(x2)};
    b = rect_arg(x3);
  } else {
    p = point_arg(x1);
    b = rect_arg(x2);
  }
  return boolean(b.left <= p.h && p.h < b.right && b.top <= p.v && p.v < b.bottom);
}

Value prim_rect_region(Value rgn, Value r) {
  gfx::Region& region = region_arg(rgn);
  region.set_rect(rect_arg(r).rect());
  return kNoValue;
}

Value prim_point_to_rect(Value p) {
  Point q = point_arg(p);
  return make_rect(0, 0, q.h, q.v);
}

Value prim_points_to_rect(Value position, Value size) {
  Point p = point_arg(position), s = point_arg(size);
  return make_rect(p.h, p.v, int64_t(p.h) + s.h, int64_t(p.v) + s.v);
}

Value prim_enclosing_rect(Value rects) {
  if (rects.is_nil()) return make_rect(0, 0, 0, 0);
  if (!rects.is_pair()) error(Err::WrongType, rects);
  Box acc = rect_arg(car(rects));
  for (Value at = cdr(rects); !at.is_nil(); at = cdr(at)) {
    if (!at.is_pair()) error(Err::WrongType, rects);
    Box b = rect_arg(car(at));
    if (b.empty()) {
      if (acc.empty()) acc = {0, 0, 0, 0};
      continue;
    }
    if (acc.empty()) {
      acc = b;
      continue;
    }
    acc = {std::min(acc.left, b.left), std::min(acc.top, b.top), std::max(acc.right, b.right),
           std::max(acc.bottom, b.bottom)};
  }
  return make_rect(acc.left, acc.top, acc.right, acc.bottom);
}

Value prim_rect_overlaps_p(Value a, Value b) {
  Box p = rect_arg(a), q = rect_arg(b);
  return boolean(q.right > p.left && q.left < p.right && p.top < q.bottom && q.top < p.bottom);
}

Value prim_empty_rect_p(Value r) { return boolean(rect_arg(r).empty()); }

// ---- Regions ---------------------------------------------------------------------------

Value prim_newrgn() { return new_region_box(gfx::Region()); }

Value prim_disposergn(Value rgn) {
  region_arg(rgn);
  gs().regions.remove(box_addr(rgn));
  return kNoValue;
}

Value prim_copyrgn(Value destination, Value source) {
  gfx::Region& d = region_arg(destination);
  d = region_arg(source);
  return kNoValue;
}

Value prim_setemptyrgn(Value rgn) {
  region_arg(rgn).set_empty();
  return kNoValue;
}

Value prim_setrectrgn(Value rgn, Value l, Value t, Value r, Value b) {
  gfx::Region& region = region_arg(rgn);
  region.set_rect({coord(l), coord(t), coord(r), coord(b)});
  return kNoValue;
}

Value prim_offsetrgn(Value rgn, Value dh, Value dv) {
  gfx::Region& region = region_arg(rgn);
  region.offset(coord(dh), coord(dv));
  return kNoValue;
}

template <gfx::Region (*Op)(const gfx::Region&, const gfx::Region&)>
Value combine(Value a, Value b, Value destination) {
  gfx::Region& ra = region_arg(a);
  gfx::Region& rb = region_arg(b);
  gfx::Region& d = region_arg(destination);
  d = Op(ra, rb);
  return kNoValue;
}

gfx::Region op_intersect(const gfx::Region& a, const gfx::Region& b) { return gfx::intersect(a, b); }
gfx::Region op_unite(const gfx::Region& a, const gfx::Region& b) { return gfx::unite(a, b); }
gfx::Region op_subtract(const gfx::Region& a, const gfx::Region& b) { return gfx::subtract(a, b); }
gfx::Region op_xor(const gfx::Region& a, const gfx::Region& b) { return gfx::exclusive_or(a, b); }

Value prim_sectrgn(Value a, Value b, Value d) { return combine<op_intersect>(a, b, d); }
Value prim_unionrgn(Value a, Value b, Value d) { return combine<op_unite>(a, b, d); }
Value prim_diffrgn(Value a, Value b, Value d) { return combine<op_subtract>(a, b, d); }
Value prim_xorrgn(Value a, Value b, Value d) { return combine<op_xor>(a, b, d); }

Value prim_rect_in_rgn_p(Value r, Value rgn) {
  Box b = rect_arg(r);
  return boolean(region_arg(rgn).intersects(b.rect()));
}

Value prim_equalrgn(Value a, Value b) { return boolean(region_arg(a) == region_arg(b)); }
Value prim_emptyrgn(Value rgn) { return boolean(region_arg(rgn).empty()); }
Value prim_create_oval_rgn(Value r) { return new_region_box(gfx::Region::ellipse(rect_arg(r).rect())); }
Value prim_get_rgn_rect(Value rgn) { return make_rect(region_arg(rgn).bounds()); }

// ---- Projection --------------------------------------------------------------------------

constexpr uint32_t kMatrixBytes = 128;

// The 16 doubles of a matrix block; error 2 when the box does not address
// 128 bytes of one live block.
uint8_t* matrix_arg(Value box) {
  // Only boxes that hold addresses: a region's or a handle's id is no place
  // to write a matrix.
  uint32_t kind = box_kind(arg_pointer(box));
  if (kind != core::kBoxPlain && kind != core::kBoxMemory) error(Err::WrongType, box);
  return data::checked_bytes(box, data::address_arg(box), kMatrixBytes);
}

void read_matrix(Value box, double m[16]) { std::memcpy(m, matrix_arg(box), kMatrixBytes); }

void read_triple(Value list, double out[3]) {
  Value at = list;
  for (int i = 0; i < 3; ++i) {
    if (!at.is_pair()) error(Err::WrongType, list);
    Value x = car(at);
    if (!is_integer(x) && !x.is(Tag::Real)) error(Err::WrongType, list);
    out[i] = read_double(x);
    at = cdr(at);
  }
}

Value prim_set_3d_transformation(Value matrix, Value direction, Value target, Value distance_value, Value hc,
                                 Value vc, Value sh, Value sv) {
  uint8_t* block = matrix_arg(matrix);
  double dir[3], p[3];
  read_triple(direction, dir);
  read_triple(target, p);
  double d = read_double(distance_value);
  if (d == 0 || !std::isfinite(d)) error(Err::WrongType, distance_value);
  double a = dir[0], b = dir[1], c = dir[2];
  double h0 = coord(hc), v0 = coord(vc), sx = coord(sh), sy = coord(sv);
  double n = std::sqrt(a * a + b * b);
  double cosine = 1, sine = 0;
  if (n != 0) cosine = b / n, sine = a / n;
  double m[16] = {};
  m[0] = sx * cosine;
  m[4] = -sx * sine;
  m[8] = 0;
  m[12] = sx * (sine * p[1] - cosine * p[0]);
  m[2] = h0;
  m[1] = sy * c * sine;
  m[5] = sy * c * cosine;
  m[9] = -sy * n;
  m[13] = sy * (n * p[2] - c * sine * p[0] - c * cosine * p[1]);
  m[6] = v0;
  m[3] = -a / d;
  m[7] = -b / d;
  m[11] = -c / d;
  m[15] = 1 + (a * p[0] + b * p[1] + c * p[2]) / d;
  for (double x : m)
    if (!std::isfinite(x)) error(Err::WrongType, matrix);
  // The block may have moved: no allocation happened since it was checked.
  std::memcpy(block, m, kMatrixBytes);
  return kNoValue;
}

// The projection of (x, y, z): h and v as doubles; error 2 when w is 0 or
// a result is not finite.
void project(Value matrix, Value x, Value y, Value z, double& h, double& v) {
  double m[16];
  read_matrix(matrix, m);
  double px = read_double(x), py = read_double(y), pz = read_double(z);
  double w = m[3] * px + m[7] * py + m[11] * pz + m[15];
  if (w == 0 || !std::isfinite(w)) error(Err::WrongType, matrix);
  h = (m[0] * px + m[4] * py + m[8] * pz + m[12]) / w + m[2];
  v = (m[1] * px + m[5] * py + m[9] * pz + m[13]) / w + m[6];
  if (!std::isfinite(h) || !std::isfinite(v)) error(Err::WrongType, matrix);
}

// A double truncated toward zero and cut to 16 bits.
int32_t truncate_cut(double d) { return cut(int64_t(std::fmod(std::trunc(d), 65536.0))); }
int32_t round_cut(double d) { return cut(int64_t(std::fmod(std::floor(d + 0.5), 65536.0))); }

Value prim_3d_transform(Value matrix, Value x, Value y, Value z) {
  double h, v;
  project(matrix, x, y, z, h, v);
  return cons(make_fixnum(round_cut(h)), make_fixnum(round_cut(v)));
}

// A line from the pen position to (h, v), the pen hanging below right of
// the point; a pen of width 1 also sets the end pixel.
void line_to(int32_t h, int32_t v) {
  gfx::DC* dc = drawing_dc();
  if (dc == nullptr) return;
  const gfx::Pen& pen = dc->pen();
  int32_t half = pen.width / 2;
  dc->line_to({h + half, v + half});
  if (pen.width == 1 && pen.style != gfx::PenStyle::Null) dc->set_pixel({h, v}, pen.color);
}

Value prim_3d_line_to(Value matrix, Value x, Value y, Value z) {
  double h, v;
  project(matrix, x, y, z, h, v);
  line_to(truncate_cut(h), truncate_cut(v));
  return kNoValue;
}

Value prim_3d_move_to(Value z, Value y, Value x, Value matrix) { return prim_3d_line_to(matrix, x, y, z); }

const NativeRow kGeometryNatives[] = {
    TV_PRIM("make-point", prim_make_point, "(make-point H V) a new point (V . H), each coordinate cut to 16 bits"),
    TV_PRIM("copy-point", prim_copy_point, "(copy-point POINT) a new pair holding POINT's coordinates"),
    TV_PRIM("point-x", prim_point_x, "(point-x POINT [H]) POINT's horizontal coordinate (its cdr), first stored when H is given; error 2 when H is not an integer"),
    TV_PRIM("point-y", prim_point_y, "(point-y POINT [V]) POINT's vertical coordinate (its car), first stored when V is given; error 2 when V is not an integer"),
    TV_PRIM("add-point", prim_add_point, "(add-point P Q) a new point, the sum of P and Q"),
    TV_PRIM("subtract-point", prim_subtract_point, "(subtract-point P Q) a new point, P minus Q"),
    TV_PRIM("offset-point", prim_offset_point, "(offset-point POINT DH DV) a new point, POINT moved by DH and DV"),
    TV_PRIM("ptinrgn", prim_ptinrgn, "(ptinrgn POINT RGN) t when the region holds POINT, otherwise nil; error 2 when RGN is no region"),
    TV_PRIM("distance-point", prim_distance_point, "(distance-point P Q [ROUND?]) or (distance-point H V Q [ROUND?]) the distance between the points, a real, or rounded to an integer when ROUND? is true"),
    TV_PRIM("distance-line-point", prim_distance_line_point, "(distance-line-point A B P) or (distance-line-point A B H V) the distance from the point to the line through A and B, rounded, as a fixnum (the distance to A when A and B are equal)"),
    TV_PRIM("in-edge?", prim_in_edge_p, "(in-edge? POINT A B TOLERANCE) t when POINT lies within TOLERANCE of the segment from A to B, otherwise nil"),
    TV_PRIM("rect-position", prim_rect_position, "(rect-position RECT) the top left corner of RECT (LEFT TOP RIGHT BOTTOM) as a point"),
    TV_PRIM("rect-size", prim_rect_size, "(rect-size RECT) the width and height of RECT as a point"),
    TV_PRIM("rect-width", prim_rect_width, "(rect-width RECT) RIGHT minus LEFT"),
    TV_PRIM("rect-height", prim_rect_height, "(rect-height RECT) BOTTOM minus TOP"),
    TV_PRIM("rect-center", prim_rect_center, "(rect-center RECT) the middle of RECT as a point, halves rounded toward zero"),
    TV_PRIM("inflate-rect", prim_inflate_rect, "(inflate-rect RECT DH DV) a new rectangle grown by DH on the left and right and DV on the top and bottom (negative shrinks)"),
    TV_PRIM("offset-rect", prim_offset_rect, "(offset-rect RECT DH DV) or (offset-rect RECT POINT) a new rectangle, RECT moved by DH and DV or by the point"),
    TV_PRIM("point-in-rect?", prim_point_in_rect_p, "(point-in-rect? POINT RECT) or (point-in-rect? H V RECT) t when the point is inside RECT, its right and bottom edges excluded, otherwise nil"),
    TV_PRIM("rect-region", prim_rect_region, "(rect-region RGN RECT) makes the region the rectangle RECT; no value; error 2 when RGN is no region"),
    TV_PRIM("point->rect", prim_point_to_rect, "(point->rect POINT) the rectangle (0 0 H V) of a size"),
    TV_PRIM("points->rect", prim_points_to_rect, "(points->rect POSITION SIZE) the rectangle at POSITION of SIZE"),
    TV_PRIM("enclosing-rect", prim_enclosing_rect, "(enclosing-rect RECTS) the smallest rectangle holding every non-empty rectangle of the list; (0 0 0 0) when there is none"),
    TV_PRIM("rect-overlaps?", prim_rect_overlaps_p, "(rect-overlaps? R1 R2) t when the rectangles share a pixel, otherwise nil"),
    TV_PRIM("empty-rect?", prim_empty_rect_p, "(empty-rect? RECT) t when RECT has no width or no height, otherwise nil"),
    TV_PRIM("newrgn", prim_newrgn, "(newrgn) a new empty region; error 9 when no more can be made"),
    TV_PRIM("disposergn", prim_disposergn, "(disposergn RGN) frees the region; no value; error 2 when RGN is no region"),
    TV_PRIM("copyrgn", prim_copyrgn, "(copyrgn DESTINATION SOURCE) makes DESTINATION the same area as SOURCE; no value; error 2 when either is no region"),
    TV_PRIM("setemptyrgn", prim_setemptyrgn, "(setemptyrgn RGN) empties the region; no value; error 2 when RGN is no region"),
    TV_PRIM("setrectrgn", prim_setrectrgn, "(setrectrgn RGN LEFT TOP RIGHT BOTTOM) makes the region that rectangle; no value; error 2 when RGN is no region"),
    TV_PRIM("rect-rgn", prim_rect_region, "(rect-rgn RGN RECT) makes the region the rectangle RECT; no value; error 2 when RGN is no region"),
    TV_PRIM("offsetrgn", prim_offsetrgn, "(offsetrgn RGN DH DV) moves the region by DH and DV; no value; error 2 when RGN is no region"),
    TV_PRIM("sectrgn", prim_sectrgn, "(sectrgn A B DESTINATION) makes DESTINATION the intersection of regions A and B; no value; error 2 with an argument that is no region"),
    TV_PRIM("unionrgn", prim_unionrgn, "(unionrgn A B DESTINATION) makes DESTINATION the union of regions A and B; no value; error 2 with an argument that is no region"),
    TV_PRIM("diffrgn", prim_diffrgn, "(diffrgn A B DESTINATION) makes DESTINATION region A without B; no value; error 2 with an argument that is no region"),
    TV_PRIM("xorrgn", prim_xorrgn, "(xorrgn A B DESTINATION) makes DESTINATION the area in exactly one of regions A and B; no value; error 2 with an argument that is no region"),
    TV_PRIM("rect-in-rgn?", prim_rect_in_rgn_p, "(rect-in-rgn? RECT RGN) t when RECT and the region share a pixel, otherwise nil; error 2 when RGN is no region"),
    TV_PRIM("equalrgn", prim_equalrgn, "(equalrgn A B) t when the regions cover the same area, otherwise nil"),
    TV_PRIM("emptyrgn", prim_emptyrgn, "(emptyrgn RGN) t when the region is empty, otherwise nil; error 2 when RGN is no region"),
    TV_PRIM("create-oval-rgn", prim_create_oval_rgn, "(create-oval-rgn RECT) a new region, the ellipse inscribed in RECT"),
    TV_PRIM("get-rgn-rect", prim_get_rgn_rect, "(get-rgn-rect RGN) the bounding rectangle of the region; error 2 when RGN is no region"),
    TV_PRIM("set-3d-transformation", prim_set_3d_transformation, "(set-3d-transformation MATRIX DIRECTION TARGET DISTANCE H V SCALE-H SCALE-V) fills the 128-byte block MATRIX with the projection looking along DIRECTION (X Y Z) at TARGET (X Y Z) from DISTANCE, centred on (H, V) and scaled; no value; error 2 with a zero DISTANCE or a projection that is not finite"),
    TV_PRIM("3d-transform", prim_3d_transform, "(3d-transform MATRIX X Y Z) the projection of the point (X, Y, Z) through MATRIX, rounded, as the pair (H . V); error 2 when it is not finite"),
    TV_PRIM("3d-line-to", prim_3d_line_to, "(3d-line-to MATRIX X Y Z) draws a line with the current pen to the projection of (X, Y, Z); no value"),
    TV_PRIM("3d-move-to", prim_3d_move_to, "(3d-move-to Z Y X MATRIX) as 3d-line-to, its arguments in the reverse order"),
};

}  // namespace

const Module kGeometryModule{
    "geometry",
    [](Runtime&) -> std::unique_ptr<ModuleState> { return std::make_unique<GeometryState>(); },
    [](Runtime&) { register_natives(kGeometryNatives); },
    nullptr,
    nullptr,
};

}  // namespace media
