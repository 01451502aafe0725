// Drawing from Lisp: the pen of the current window object (`self`) and
// the shapes, lines and text it draws, on the paint under way when `self`
// is being painted, else straight on its window.
//
// Coordinates are the window object's own; rectangles are (left top right
// bottom) with the right and bottom edges outside, points (v . h). The
// pen hangs below and to the right of the point it stands on: a line is
// drawn by a pen of its size moved along it, the end pixel included, and a
// frame lies inside its rectangle, the pen's size thick.
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "core/args.hpp"
#include "core/errors.hpp"
#include "core/eval.hpp"
#include "core/natives.hpp"
#include "core/symbols.hpp"
#include "data/printer.hpp"
#include "media/geometry.hpp"
#include "media/pict.hpp"
#include "platform/gfx/fonts.hpp"
#include "platform/gfx/shapes.hpp"
#include "shell/windows.hpp"
#include "storage/fork.hpp"
#include "storage/resources.hpp"

namespace shell {
using namespace core;
using platform::WindowSystem;

namespace {

// Where `self` is drawn: a DC and where its (0, 0) lies on the DC's
// surface, clipped to the object's own rectangle.
struct Target {
  gfx::DC* dc = nullptr;
  gfx::Pt origin;
  std::optional<platform::WindowDC> window;  // outside a paint: the window's own DC
  uint32_t id = 0;

  // Beyond kMaxCoord every coordinate is as far off any surface.
  static int32_t moved(int32_t v, int32_t by) {
    return int32_t(std::clamp<int64_t>(int64_t(v) + by, -gfx::kMaxCoord, gfx::kMaxCoord));
  }
  gfx::Rect at(gfx::Rect r) const {
    return {moved(r.left, origin.x), moved(r.top, origin.y), moved(r.right, origin.x), moved(r.bottom, origin.y)};
  }
  gfx::Pt at(gfx::Pt p) const { return {moved(p.x, origin.x), moved(p.y, origin.y)}; }
};

Target target() {
  Target t;
  t.id = self_id();
  if (paint_target(t.id, t.dc, t.origin)) return t;
  WindowSystem* ws = media::window_system();
  WindowRecord* w = record(t.id);
  if (!ws || !w->native || !ws->alive(w->native)) return t;
  t.window = ws->window_dc(w->native);
  t.dc = &t.window->dc;
  gfx::Pt o = native_origin(t.id);
  t.origin = {t.window->origin.x + o.x, t.window->origin.y + o.y};
  gfx::Region clip(t.at(own_bounds(*w)));
  if (t.dc->clip()) clip = gfx::intersect(clip, *t.dc->clip());
  t.dc->set_clip(clip);
  return t;
}

// Drawn outside a paint: shown now. (A paint is shown when it ends.)
struct Drawn {
  bool outside_paint = false;
  ~Drawn() {
    if (!outside_paint) return;
    if (WindowSystem* ws = media::window_system()) ws->flush();
  }
};

gfx::Pixel colour_on(gfx::DC& dc, media::Rgb16 c) { return media::picture_color(dc.surface(), c.red, c.green, c.blue); }

// Fills a region (surface coordinates) with the pen: where the pattern's
// bit is set (its complement for the modes 4 to 7), copy paints the ink
// and elsewhere the background; or paints the ink, xor inverts and bic
// paints the background, each leaving the other pixels alone.
void fill_with_pen(gfx::DC& dc, const gfx::Region& area, const WindowRecord& w) {
  gfx::Pixel ink = colour_on(dc, w.foreground);
  gfx::Pixel paper = colour_on(dc, w.background);
  uint8_t rows[8];
  for (int i = 0; i < 8; ++i) {
    uint8_t r = w.pen.patterned ? w.pen.pattern[i] : 0xFF;
    rows[i] = (w.pen.mode & 4) ? uint8_t(~r) : r;
  }
  constexpr gfx::Pixel kAll = 0xFFFFFF, kNone = 0;  // every bit of a pixel, for XRGB and 8-bit alike
  auto pass = [&](gfx::Pixel on, gfx::Pixel off, gfx::Rop2 op) {
    dc.set_rop2(op);
    dc.fill_region(area, gfx::Brush::pattern_of(rows, on, off));
  };
  switch (w.pen.mode & 3) {
    case 0:
      pass(ink, paper, gfx::Rop2::CopyPen);
      break;
    case 1:  // clear the set pixels, then merge the ink into them
      pass(kNone, kAll, gfx::Rop2::MaskPen);
      pass(ink, kNone, gfx::Rop2::MergePen);
      break;
    case 2:
      pass(kAll, kNone, gfx::Rop2::XorPen);
      break;
    case 3:
      pass(kNone, kAll, gfx::Rop2::MaskPen);
      pass(paper, kNone, gfx::Rop2::MergePen);
      break;
  }
  dc.set_rop2(gfx::Rop2::CopyPen);
}

gfx::Rect rect_arg(Value r) {
  gfx::Rect q = media::rect_value(r);
  return q;
}

gfx::Rect inset(gfx::Rect r, gfx::Pt by) { return {r.left + by.x, r.top + by.y, r.right - by.x, r.bottom - by.y}; }

enum class Op { Frame, Paint, Erase, Invert };

// The four operations on a shape given as its region (object coordinates)
// and the region of the shape inset by the pen's size.
template <typename Shape>
Value draw_shape(Op op, gfx::Rect r, Shape shape) {
  Target t = target();
  if (!t.dc) return kNoValue;
  Drawn shown{t.window.has_value()};
  WindowRecord& w = *record(t.id);
  gfx::Rect on = t.at(r);
  if (on.empty()) return kNoValue;
  // Only the rows of the surface are made.
  gfx::Rect drawable = t.dc->surface().bounds();
  gfx::Region area = shape(on, &drawable);
  switch (op) {
    case Op::Frame: {
      gfx::Rect inner = inset(on, w.pen.size);
      fill_with_pen(*t.dc, inner.empty() ? area : gfx::subtract(area, shape(inner, &drawable)), w);
      break;
    }
    case Op::Paint:
      fill_with_pen(*t.dc, area, w);
      break;
    case Op::Erase:
      t.dc->fill_region(area, gfx::Brush::solid(colour_on(*t.dc, w.background)));
      break;
    case Op::Invert:
      t.dc->invert_region(area);
      break;
  }
  return kNoValue;
}

auto rect_shape = [](gfx::Rect r, const gfx::Rect*) { return gfx::Region(r); };
auto oval_shape = [](gfx::Rect r, const gfx::Rect* limit) { return gfx::Region::ellipse(r, limit); };

template <Op O>
Value prim_rect(Value r) {
  return draw_shape(O, rect_arg(r), rect_shape);
}
template <Op O>
Value prim_oval(Value r) {
  return draw_shape(O, rect_arg(r), oval_shape);
}
template <Op O>
Value prim_round_rect(Value r, Value cw, Value ch) {
  int32_t w = std::clamp(arg_int(cw), 0, 16384), h = std::clamp(arg_int(ch), 0, 16384);
  return draw_shape(O, rect_arg(r), [w, h](gfx::Rect q, const gfx::Rect* limit) { return gfx::Region::round_rect(q, w, h, limit); });
}

Value prim_paint_arc(Value r, Value start, Value extent) {
  int32_t a = arg_int(start), e = std::clamp(arg_int(extent), -100000, 100000);
  return draw_shape(Op::Paint, rect_arg(r), [a, e](gfx::Rect q, const gfx::Rect* limit) { return gfx::Region::pie(q, a, e, limit); });
}

Value prim_frame_arc(Value r, Value start, Value extent) {
  Target t = target();
  if (!t.dc) return kNoValue;
  Drawn shown{t.window.has_value()};
  WindowRecord& w = *record(t.id);
  // The arc's pixels, drawn with the pen in its mode.
  gfx::Rect box = t.at(rect_arg(r));
  int32_t a = arg_int(start), e = std::clamp(arg_int(extent), -100000, 100000);
  int32_t thick = std::clamp(std::max(w.pen.size.x, w.pen.size.y), 1, 64);
  gfx::Region arc = gfx::Region::from_spans(
      [&](gfx::SpanSink sink) { gfx::arc_spans(box, a, e, thick, t.dc->surface().bounds(), sink); });
  fill_with_pen(*t.dc, arc, w);
  return kNoValue;
}

std::vector<gfx::Pt> points_of(Value list) {
  std::vector<gfx::Pt> out;
  for (Value p = list; p.is_pair() && out.size() < 100000; p = cdr(p)) out.push_back(media::point_value(car(p)));
  if (out.empty() && !list.is_nil()) error(Err::WrongType, list);
  return out;
}

// A line drawn by the pen from a to b: the pen's rectangle moved along it,
// the end pixel included.
void pen_line(Target& t, const WindowRecord& w, gfx::Pt a, gfx::Pt b) {
  gfx::Pt size{std::clamp(w.pen.size.x, 0, 64), std::clamp(w.pen.size.y, 0, 64)};
  if (size.x == 0 || size.y == 0) return;
  int64_t dx = std::abs(int64_t(b.x) - a.x), dy = std::abs(int64_t(b.y) - a.y);
  int64_t longest = std::max(dx, dy);
  if ((!w.pen.patterned && w.pen.mode == 0 && size.x == 1 && size.y == 1) || longest > 4096) {
    // The plain pen, and lines longer than any window: the line itself.
    t.dc->set_pen({gfx::PenStyle::Solid, std::max(size.x, size.y), colour_on(*t.dc, w.foreground)});
    t.dc->line(t.at(a), t.at(b), true);
    return;
  }
  // Every pixel the pen's top-left corner passes, as a region of pen-sized
  // rectangles.
  gfx::Region swept;
  int64_t steps = longest;
  for (int64_t i = 0; i <= steps; ++i) {
    int64_t x = a.x + (steps ? (int64_t(b.x) - a.x) * i / steps : 0);
    int64_t y = a.y + (steps ? (int64_t(b.y) - a.y) * i / steps : 0);
    gfx::Pt p = t.at(gfx::Pt{int32_t(x), int32_t(y)});
    swept = gfx::unite(swept, gfx::Region(gfx::Rect{p.x, p.y, p.x + size.x, p.y + size.y}));
  }
  fill_with_pen(*t.dc, swept, w);
}

Value prim_frame_poly(Value points) {
  std::vector<gfx::Pt> pts = points_of(points);
  Target t = target();
  if (!t.dc || pts.empty()) return kNoValue;
  Drawn shown{t.window.has_value()};
  WindowRecord& w = *record(t.id);
  for (size_t i = 0; i + 1 < pts.size(); ++i) pen_line(t, w, pts[i], pts[i + 1]);
  return kNoValue;
}

Value prim_paint_poly(Value points) {
  std::vector<gfx::Pt> pts = points_of(points);
  Target t = target();
  if (!t.dc || pts.size() < 3) return kNoValue;
  Drawn shown{t.window.has_value()};
  WindowRecord& w = *record(t.id);
  for (gfx::Pt& p : pts) p = t.at(p);
  gfx::Rect drawable = t.dc->surface().bounds();
  fill_with_pen(*t.dc, gfx::Region::polygon(pts, &drawable), w);
  return kNoValue;
}

Value prim_fill_region(Value box) {
  gfx::Region rgn = media::region_arg(box);
  Target t = target();
  if (!t.dc) return kNoValue;
  Drawn shown{t.window.has_value()};
  rgn.offset(t.origin.x, t.origin.y);
  fill_with_pen(*t.dc, rgn, *record(t.id));
  return kNoValue;
}

Value prim_frame_region(Value box) {
  gfx::Region rgn = media::region_arg(box);
  Target t = target();
  if (!t.dc) return kNoValue;
  Drawn shown{t.window.has_value()};
  WindowRecord& w = *record(t.id);
  rgn.offset(t.origin.x, t.origin.y);
  // The ring of the region the pen's size thick.
  gfx::Region inner = rgn;
  for (int32_t d = 1; d <= std::clamp(w.pen.size.x, 1, 64); ++d)
    for (int32_t dx : {d, -d}) {
      gfx::Region moved = rgn;
      moved.offset(dx, 0);
      inner = gfx::intersect(inner, moved);
    }
  gfx::Region across = inner;
  for (int32_t d = 1; d <= std::clamp(w.pen.size.y, 1, 64); ++d)
    for (int32_t dy : {d, -d}) {
      gfx::Region moved = across;
      moved.offset(0, dy);
      inner = gfx::intersect(inner, moved);
    }
  fill_with_pen(*t.dc, gfx::subtract(rgn, inner), w);
  return kNoValue;
}

// ---- The pen -------------------------------------------------------------------------------

Value prim_move_to(Value h, Value v) {
  self_record().pen.at = {arg_int(h), arg_int(v)};
  return kNoValue;
}

Value prim_line_to(Value h, Value v) {
  gfx::Pt to{arg_int(h), arg_int(v)};
  Target t = target();
  WindowRecord& w = *record(t.id);
  gfx::Pt from = w.pen.at;
  w.pen.at = to;
  if (!t.dc) return kNoValue;
  Drawn shown{t.window.has_value()};
  pen_line(t, w, from, to);
  return kNoValue;
}

Value prim_pen_size(Value h, Value v) {
  self_record().pen.size = {std::clamp(arg_int(h), 0, 64), std::clamp(arg_int(v), 0, 64)};
  return kNoValue;
}

Value prim_pen_mode(Value mode) {
  static const char* const names[8] = {"copy", "or", "xor", "bic", "not-copy", "not-or", "not-xor", "not-bic"};
  int32_t m = -1;
  if (is_integer(mode)) {
    m = read_integer(mode);
    if (m < 0 || m > 15) m = -1;
  } else if (mode.is_symbol()) {
    for (int i = 0; i < 8; ++i)
      if (mode == intern_static(names[i])) m = i;
  }
  if (m < 0) error(Err::WrongType, mode);
  self_record().pen.mode = uint8_t(m & 7);
  return kNoValue;
}

Value prim_pen_normal() {
  self_record().pen = media::PenState{self_record().pen.at};
  return kNoValue;
}

// (with-pattern PATTERN FORM...): the forms drawn with the pen's pattern
// the 8 rows of PATTERN (a list of 8 fixnums, each row's leftmost pixel
// in its top bit); the pen's pattern is restored however they end.
Value sp_with_pattern(Value forms) {
  if (!forms.is_pair()) error(Err::WrongType, forms);
  Value pattern = eval(car(forms));
  uint8_t rows[8];
  Value at = pattern;
  for (uint8_t& r : rows) {
    if (!at.is_pair() || !is_integer(car(at))) error(Err::WrongType, pattern);
    r = uint8_t(read_integer(car(at)));
    at = cdr(at);
  }
  uint32_t id = self_id();
  media::PenState saved = record(id)->pen;
  std::copy(rows, rows + 8, record(id)->pen.pattern);
  record(id)->pen.patterned = true;
  struct Restore {
    uint32_t id;
    media::PenState pen;
    ~Restore() {
      if (WindowRecord* w = record(id)) {
        std::copy(pen.pattern, pen.pattern + 8, w->pen.pattern);
        w->pen.patterned = pen.patterned;
      }
    }
  } restore{id, saved};
  return eval_body(cdr(forms));
}

// ---- Text ----------------------------------------------------------------------------------

std::string string_arg(Value s) {
  if (s.is(Tag::String)) return data::value_text(s);
  return data::value_text(s);
}

// The font of a window object, as the fonts module takes it.
gfx::Font font_of_record(const WindowRecord& w) { return {w.font.family, w.font.size, w.font.style}; }
// What text is measured in: self's font, or the embedded font outside
// any window object.
gfx::Font measuring_font() {
  uint32_t id = id_of(rt().current_object);
  WindowRecord* w = id ? record(id) : nullptr;
  return w ? font_of_record(*w) : gfx::Font{};
}

Value prim_draw_string(Value s) {
  std::string text = string_arg(s);
  Target t = target();
  WindowRecord& w = *record(t.id);
  gfx::Font font = font_of_record(w);
  gfx::Pt at = w.pen.at;
  w.pen.at.x = int32_t(std::clamp<int64_t>(int64_t(at.x) + gfx::text_width(font, text), INT32_MIN, INT32_MAX));
  if (!t.dc) return kNoValue;
  Drawn shown{t.window.has_value()};
  t.dc->set_text_color(colour_on(*t.dc, w.foreground));
  t.dc->set_background(0, gfx::BackgroundMode::Transparent);
  t.dc->set_rop2(gfx::Rop2::CopyPen);
  gfx::draw_text(*t.dc, font, t.at(at), text);
  return kNoValue;
}

Value prim_string_width(Value s) {
  std::string text = string_arg(s);
  return make_fixnum(gfx::text_width(measuring_font(), text));
}

Value prim_font_metrics() {
  gfx::TextMetrics m = gfx::font_metrics(measuring_font());
  return cons(make_fixnum(m.ascent), cons(make_fixnum(m.descent), cons(make_fixnum(m.leading), kNil)));
}

Value prim_text_font(Value family) {
  self_record().font.family = int16_t(font_family_arg(family));
  return kNoValue;
}

Value prim_font_families() {
  ListBuilder out;
  for (const std::string& name : gfx::font_families()) out.add(make_string(name.data(), name.size()));
  return out.head;
}

Value prim_text_size(Value size) {
  self_record().font.size = int16_t(std::clamp(arg_int(size), 1, 32767));
  return kNoValue;
}
Value prim_text_face(Value faces) {
  int16_t style = 0;
  for (Value f = faces; f.is_pair(); f = cdr(f)) {
    if (car(f) == intern_static("bold")) style |= 1;
    else if (car(f) == intern_static("italic")) style |= 2;
    else if (car(f) == intern_static("underline")) style |= 4;
    else error(Err::WrongType, car(f));
  }
  self_record().font.style = style;
  return kNoValue;
}

// ---- Pictures ------------------------------------------------------------------------------

Value prim_draw_picture(Value picture, Value r) {
  gfx::Rect dest = rect_arg(r);
  Target t = target();
  if (!t.dc) return kNoValue;
  Drawn shown{t.window.has_value()};
  if (is_integer(picture)) {
    std::vector<uint8_t> bytes;
    if (!storage::resource_bytes(storage::fourcc("PICT"), read_integer(picture), bytes))
      error(Err::WrongType, picture);
    media::draw_picture(*t.dc, bytes, t.at(dest));
  } else {
    media::draw_picture_handle(*t.dc, picture, t.at(dest));
  }
  return kNoValue;
}

const NativeRow kDrawingNatives[] = {
    TV_PRIM("move-to", prim_move_to, "(move-to H V) moves self's pen"),
    TV_PRIM("line-to", prim_line_to, "(line-to H V) draws a line with self's pen to (H, V), the end pixel included"),
    TV_PRIM("pen-size", prim_pen_size, "(pen-size H V) sets the size of self's pen"),
    TV_PRIM("pen-mode", prim_pen_mode, "(pen-mode MODE) copy, or, xor, bic, not-copy, not-or, not-xor, not-bic (or 0 to 15)"),
    TV_PRIM("pen-normal", prim_pen_normal, "(pen-normal) the pen back to 1 by 1, copy, solid"),
    TV_SPECIAL("with-pattern", sp_with_pattern, "(with-pattern ROWS FORM...) draws the forms with the 8 pattern ROWS"),
    TV_PRIM("frame-rect", prim_rect<Op::Frame>, "(frame-rect RECT) outlines RECT inside it with the pen"),
    TV_PRIM("paint-rect", prim_rect<Op::Paint>, "(paint-rect RECT) fills RECT with the pen"),
    TV_PRIM("erase-rect", prim_rect<Op::Erase>, "(erase-rect RECT) fills RECT with the background colour"),
    TV_PRIM("invert-rect", prim_rect<Op::Invert>, "(invert-rect RECT) inverts the pixels of RECT"),
    TV_PRIM("frame-oval", prim_oval<Op::Frame>, "(frame-oval RECT) outlines the oval in RECT"),
    TV_PRIM("paint-oval", prim_oval<Op::Paint>, "(paint-oval RECT) fills the oval in RECT with the pen"),
    TV_PRIM("erase-oval", prim_oval<Op::Erase>, "(erase-oval RECT) fills the oval with the background colour"),
    TV_PRIM("invert-oval", prim_oval<Op::Invert>, "(invert-oval RECT) inverts the oval's pixels"),
    TV_PRIM("frame-round-rect", prim_round_rect<Op::Frame>, "(frame-round-rect RECT W H) outlines RECT with corners W by H"),
    TV_PRIM("paint-round-rect", prim_round_rect<Op::Paint>, "(paint-round-rect RECT W H) fills RECT with corners W by H"),
    TV_PRIM("frame-arc", prim_frame_arc, "(frame-arc RECT START ARC) the oval's arc from START degrees (12 o'clock, clockwise)"),
    TV_PRIM("paint-arc", prim_paint_arc, "(paint-arc RECT START ARC) fills the oval's wedge"),
    TV_PRIM("frame-poly", prim_frame_poly, "(frame-poly POINTS) lines from point to point"),
    TV_PRIM("paint-poly", prim_paint_poly, "(paint-poly POINTS) fills the polygon"),
    TV_PRIM("fill-region", prim_fill_region, "(fill-region REGION) fills the region with the pen"),
    TV_PRIM("frame-region", prim_frame_region, "(frame-region REGION) outlines the region with the pen"),
    TV_PRIM("draw-string", prim_draw_string, "(draw-string TEXT) draws TEXT on the pen's baseline and moves the pen past it"),
    TV_PRIM("string-width", prim_string_width, "(string-width TEXT) its width in pixels"),
    TV_PRIM("font-metrics", prim_font_metrics, "(font-metrics) (ascent descent leading)"),
    TV_PRIM("text-font", prim_text_font, "(text-font FAMILY) sets self's font family: a number or an installed family's name"),
    TV_PRIM("font-families", prim_font_families, "(font-families) the names of the installed font families"),
    TV_PRIM("text-size", prim_text_size, "(text-size POINTS) sets self's font size"),
    TV_PRIM("text-face", prim_text_face, "(text-face FACES) sets bold, italic, underline"),
    TV_PRIM("draw-picture", prim_draw_picture, "(draw-picture PICTURE RECT) draws a PICT resource id or a handle, scaled into RECT"),
};

}  // namespace

void register_drawing() { register_natives(kDrawingNatives); }

}  // namespace shell
