// The methods of obj-window: thin, each taking the native half of `self`
// and reading, changing or asking it.
#include <algorithm>
#include <string>

#include "core/args.hpp"
#include "core/errors.hpp"
#include "core/eval.hpp"
#include "core/natives.hpp"
#include "core/symbols.hpp"
#include "data/printer.hpp"
#include "media/geometry.hpp"
#include "objects/objects.hpp"
#include "objects/records.hpp"
#include "shell/menus.hpp"
#include "shell/windows.hpp"

namespace shell {
using namespace core;
using platform::Handle;
using platform::WindowSystem;

namespace {

WindowsState& st() { return windows_state(); }
Value boolean(bool b) { return b ? rt().sym.t : kNil; }

// The point of a method that takes two fixnums or a point and nil.
gfx::Pt point_args(Value a, Value b) {
  if (a.is_pair()) return media::point_value(a);
  return {arg_int(a), arg_int(b)};
}
Value point(gfx::Pt p) { return media::make_point_value(p); }
Value rect(gfx::Rect r) { return media::make_rect_value(r); }


WindowObject& self_object() {
  self_id();
  Value o = rt().current_object;
  return *dynamic_cast<WindowObject*>(owned_object(objects::field(o, objects::kNativePart)));
}

bool owns_native(uint32_t id) {
  WindowRecord* w = record(id);
  return w && id != st().system && (id == st().desktop || w->top == id);
}

// ---- Fields ------------------------------------------------------------------------------

template <bool WindowRecord::*F>
Value get_flag() {
  return boolean(self_record().*F);
}
template <bool WindowRecord::*F>
Value set_flag(Value v) {
  uint32_t id = self_id();
  record(id)->*F = v.truthy();
  invalidate_object(id);
  return kNoValue;
}

Value m_in_close_p() {
  uint32_t id = self_id();
  std::vector<uint32_t> todo{id};
  while (!todo.empty()) {
    uint32_t c = todo.back();
    todo.pop_back();
    WindowRecord* w = record(c);
    if (!w) continue;
    if (w->closing) return rt().sym.t;
    for (uint32_t k : children_of(c)) todo.push_back(k);
  }
  return kNil;
}

Value m_close() {
  uint32_t id = self_id();
  WindowRecord* w = record(id);
  if (w->hide_on_close) {
    self_object().hide();
    return kNoValue;
  }
  close_window(id);
  return kNoValue;
}

Value m_appeal() {
  self_id();
  return rt().sym.t;
}

// The operations that do nothing in a plain window object: the classes
// built on it give them their meaning.
Value m_nothing0() {
  self_id();
  return kNoValue;
}
Value m_nothing1(Value) {
  self_id();
  return kNoValue;
}
Value m_nothing2(Value, Value) {
  self_id();
  return kNoValue;
}

Value m_find_handles_keys() {
  uint32_t id = self_id();
  std::vector<uint32_t> todo{id};
  Value key = st().handles_keys_p;
  for (size_t i = 0; i < todo.size() && i < 100000; ++i) {
    Value instance = instance_of(todo[i]);
    if (objects::property_of(instance, key).truthy()) return instance;
    for (uint32_t c : children_of(todo[i])) todo.push_back(c);
  }
  return kNil;
}

Value m_get_content() { return self_object().get_content(); }
Value m_set_content(Value v) {
  self_object().set_content(v);
  return kNoValue;
}
Value m_get_selection() { return self_object().get_selection(); }
Value m_set_selection(Value v) {
  self_object().set_selection(v);
  return kNoValue;
}
Value m_load_from_pathname(Value v) {
  self_object().load_from_pathname(v);
  return kNoValue;
}

// ---- Geometry ----------------------------------------------------------------------------

Value m_get_position() {
  WindowRecord& w = self_record();
  return point({w.window_rect.left, w.window_rect.top});
}

// Moves the object's rectangle (parent coordinates) and what shows it.
void place(uint32_t id, gfx::Rect r) {
  WindowRecord* w = record(id);
  WindowSystem* ws = media::window_system();
  r.right = r.left + std::clamp(r.width(), 0, 16384);
  r.bottom = r.top + std::clamp(r.height(), 0, 16384);
  if (owns_native(id) && ws && w->native) {
    if (id == st().desktop) return;
    gfx::Rect win = ws->window_rect(w->native), sc = ws->screen_client(w->native);
    gfx::Rect parent = ws->screen_client(ws->parent(w->native));
    int32_t dl = sc.left - (win.left + parent.left), dt = sc.top - (win.top + parent.top);
    int32_t dr = (win.right + parent.left) - sc.right, db = (win.bottom + parent.top) - sc.bottom;
    // The rectangle is where the window goes; the size message that follows
    // reports the change of size.
    w->window_rect.right = r.left + w->window_rect.width();
    w->window_rect.bottom = r.top + w->window_rect.height();
    w->window_rect.left = r.left, w->window_rect.top = r.top;
    ws->move(w->native, {r.left - dl, r.top - dt, r.right + dr, r.bottom + db});
    return;
  }
  invalidate_object(id);
  if (!(w = record(id))) return;
  gfx::Rect before = w->window_rect;
  w->window_rect = r;
  w->view_rect = gfx::offset(gfx::Rect{0, 0, r.width(), r.height()}, r.left, r.top);
  invalidate_object(id);
  if (before.width() != r.width() || before.height() != r.height()) {
    w->client_at_size = r;
    send_to(id, st().size_update, {make_fixnum(r.width() - before.width()), make_fixnum(r.height() - before.height())});
  }
}

Value m_set_position(Value p) {
  uint32_t id = self_id();
  gfx::Pt at = media::point_value(p);
  WindowRecord* w = record(id);
  if (w->zoom != 1) at = {at.x * w->zoom, at.y * w->zoom};
  gfx::Rect r = w->window_rect;
  place(id, gfx::offset(r, at.x - r.left, at.y - r.top));
  return kNoValue;
}

Value m_get_size() {
  WindowRecord& w = self_record();
  return point({w.window_rect.width(), w.window_rect.height()});
}
Value m_get_size_x() { return make_fixnum(self_record().window_rect.width()); }
Value m_get_size_y() { return make_fixnum(self_record().window_rect.height()); }

Value m_set_size(Value p) {
  uint32_t id = self_id();
  gfx::Pt size = media::point_value(p);
  WindowRecord* w = record(id);
  if (w->zoom != 1) size = {size.x * w->zoom, size.y * w->zoom};
  gfx::Rect r = w->window_rect;
  place(id, {r.left, r.top, r.left + std::max(size.x, 0), r.top + std::max(size.y, 0)});
  return kNoValue;
}

Value m_get_font() {
  media::FontSpec f = self_record().font;
  Value family = font_family_value(f.family);
  return cons(family, cons(make_fixnum(f.size), cons(make_fixnum(f.style), kNil)));
}
Value m_set_font(Value v) {
  uint32_t id = self_id();
  media::FontSpec f = record(id)->font;
  if (v.is_pair()) {
    if (!car(v).is_nil()) f.family = int16_t(font_family_arg(car(v)));
    Value rest = cdr(v);
    if (rest.is_pair() && is_integer(car(rest))) f.size = int16_t(std::clamp(read_integer(car(rest)), 1, 32767));
    if (rest.is_pair()) rest = cdr(rest);
    if (rest.is_pair() && is_integer(car(rest))) f.style = int16_t(read_integer(car(rest)));
  } else if (is_integer(v)) {
    f.size = int16_t(std::clamp(read_integer(v), 1, 32767));
  } else {
    error(Err::WrongType, v);
  }
  record(id)->font = f;
  invalidate_object(id);
  return kNoValue;
}

Value m_get_color() { return colour_value(self_record().background); }
Value m_set_color(Value v) {
  uint32_t id = self_id();
  record(id)->background = colour_arg(v);
  invalidate_object(id);
  return kNoValue;
}
Value m_get_color_fore() { return colour_value(self_record().foreground); }
Value m_set_color_fore(Value v) {
  uint32_t id = self_id();
  record(id)->foreground = colour_arg(v);
  invalidate_object(id);
  return kNoValue;
}

Value m_get_effect() { return self_record().effect; }
Value m_set_effect(Value v) {
  self_record().effect = v;
  return kNoValue;
}

Value m_get_offscreen_p() { return boolean(self_record().owns_offscreen); }

// Gives the object an offscreen image of its size (shared by its nested
// windows), or takes it away.
void set_offscreen(uint32_t id, bool on) {
  WindowRecord* w = record(id);
  if (w->owns_offscreen == on) return;
  std::shared_ptr<gfx::Surface> image;
  if (on) {
    WindowSystem* ws = media::window_system();
    gfx::Format format = ws ? ws->frame().format() : gfx::Format::XRGB8888;
    image = std::make_shared<gfx::Surface>(w->window_rect.width(), w->window_rect.height(), format);
    if (ws && format == gfx::Format::Index8) image->palette() = ws->frame().palette();
  } else if (WindowRecord* p = record(w->parent); p && w->top != id) {
    image = p->offscreen;
  }
  std::shared_ptr<gfx::Surface> old = w->offscreen;
  w->owns_offscreen = on;
  w->offscreen = image;
  // Nested windows drawing into the old image now draw into the new one.
  std::vector<uint32_t> todo = children_of(id);
  while (!todo.empty()) {
    uint32_t c = todo.back();
    todo.pop_back();
    WindowRecord* r = record(c);
    if (!r || r->owns_offscreen) continue;
    r->offscreen = image;
    for (uint32_t k : children_of(c)) todo.push_back(k);
  }
  if (on) update_offscreen(id);
  invalidate_object(id);
}

Value m_set_offscreen_p(Value v) {
  set_offscreen(self_id(), v.truthy());
  return kNoValue;
}
Value m_get_offscreen_level() { return make_fixnum(self_record().offscreen_level); }
Value m_set_offscreen_level(Value v) {
  self_record().offscreen_level = arg_int(v);
  return kNoValue;
}
// The window whose image `self` is drawn into, nil when it is drawn on
// the screen.
Value m_get_offscreen() {
  uint32_t id = self_id();
  for (uint32_t c = id; record(c); c = record(c)->parent) {
    WindowRecord* w = record(c);
    if (w->owns_offscreen) return w->instance;
    if (w->top == c) break;
  }
  return kNil;
}
// The whole of `self` and its children painted again at the next pass:
// what a window does when its own state changes what it shows (a slot
// declared with :invalidate? calls it on every write).
Value m_invalidate() {
  invalidate_object(self_id());
  return kNoValue;
}

Value m_update_offscreen() {
  update_offscreen(self_id());
  return kNoValue;
}

Value m_get_system() { return instance_of(st().system); }
Value m_get_syswin() { return instance_of(top_of(self_id())); }
Value m_get_brother() { return instance_of(self_record().next_sibling); }

Value m_get_root_rect() {
  self_id();
  WindowRecord* d = record(st().desktop);
  return d ? rect(d->window_rect) : kNil;
}
Value m_get_system_rect() {
  self_id();
  WindowRecord* d = record(st().system);
  return d ? rect(d->window_rect) : kNil;
}
Value m_get_parent_rect() {
  WindowRecord* p = record(self_record().parent);
  return p ? rect(p->window_rect) : kNil;
}
Value m_get_window_rect() { return rect(self_record().window_rect); }
Value m_get_view_rect() { return rect(self_record().view_rect); }
Value m_set_view_rect(Value r) {
  self_record().view_rect = media::rect_value(r);
  return kNoValue;
}
Value m_get_virtual_rect() { return rect(self_record().virtual_rect); }
Value m_set_virtual_rect(Value r) {
  self_record().virtual_rect = media::rect_value(r);
  return kNoValue;
}

Value m_get_region() {
  WindowRecord& w = self_record();
  gfx::Region r(own_bounds(w));
  if (w.click_zone) r = gfx::intersect(r, *w.click_zone);
  return media::new_region_box(std::move(r));
}

Value m_get_mouse() {
  uint32_t id = self_id();
  WindowSystem* ws = media::window_system();
  if (!ws) return point({0, 0});
  gfx::Pt at = ws->pointer_now();
  gfx::Rect area = ws->screen_client(ws->desktop());
  gfx::Pt o = system_origin(id);
  return point({at.x - area.left - o.x, at.y - area.top - o.y});
}

Value m_point_in_window_p(Value a, Value b) {
  gfx::Pt p = point_args(a, b);
  return boolean(own_bounds(self_record()).contains(p));
}
Value m_point_in_view_p(Value a, Value b) {
  gfx::Pt p = point_args(a, b);
  WindowRecord& w = self_record();
  return boolean(gfx::offset(w.view_rect, -w.window_rect.left, -w.window_rect.top).contains(p));
}
Value m_point_in_click_zone_p(Value a, Value b) {
  gfx::Pt p = point_args(a, b);
  WindowRecord& w = self_record();
  if (!own_bounds(w).contains(p)) return kNil;
  return boolean(!w.click_zone || w.click_zone->contains(p));
}

Value m_get_visible_p() { return boolean(self_record().shown); }
Value m_user_visible_p() {
  uint32_t id = self_id();
  if (id == st().system) return kNil;
  if (id == st().desktop) return boolean(record(id)->shown);
  for (uint32_t c = id; c != 0 && c != st().desktop && c != st().system; c = record(c)->parent)
    if (!record(c) || !record(c)->shown) return kNil;
  return rt().sym.t;
}

Value m_translate(Value p, Value other) {
  uint32_t id = self_id();
  gfx::Pt q = media::point_value(p);
  uint32_t to = id_of(other);
  if (to == 0) error(Err::WrongType, other);
  gfx::Pt a = system_origin(id), b = system_origin(to);
  return point({q.x + a.x - b.x, q.y + a.y - b.y});
}

// ---- An interactive resize -----------------------------------------------------------------

// grow-setup: the press point, the smallest size, whether the window
// follows live, the rectangle of the largest size (its width and height),
// and the rectangle the window may not leave (parent coordinates; nil
// for none).
Value m_grow_setup(Value anchor, Value min_size, Value live, Value largest, Value bounds) {
  uint32_t id = self_id();
  WindowRecord* w = record(id);
  WindowsState::Grow g;
  g.id = id;
  g.anchor = media::point_value(anchor);
  g.min_size = min_size.is_nil() ? gfx::Pt{8, 8} : media::point_value(min_size);
  g.live = live.truthy();
  g.start_size = {w->window_rect.width(), w->window_rect.height()};
  gfx::Rect most = largest.is_nil() ? gfx::Rect{0, 0, 16384, 16384} : media::rect_value(largest);
  g.limits = {g.min_size.x, g.min_size.y, std::max(most.width(), g.min_size.x), std::max(most.height(), g.min_size.y)};
  if (!bounds.is_nil()) {
    gfx::Rect b = media::rect_value(bounds);
    g.limits.right = std::min(g.limits.right, std::max(b.right - w->window_rect.left, g.min_size.x));
    g.limits.bottom = std::min(g.limits.bottom, std::max(b.bottom - w->window_rect.top, g.min_size.y));
  }
  st().grow = g;
  return kNoValue;
}

gfx::Pt grow_size(gfx::Pt p) {
  const WindowsState::Grow& g = st().grow;
  return {std::clamp(g.start_size.x + p.x - g.anchor.x, g.limits.left, g.limits.right),
          std::clamp(g.start_size.y + p.y - g.anchor.y, g.limits.top, g.limits.bottom)};
}

void grow_to(uint32_t id, gfx::Pt size) {
  WindowRecord* w = record(id);
  gfx::Rect r = w->window_rect;
  place(id, {r.left, r.top, r.left + size.x, r.top + size.y});
}

Value m_grow_action(Value a, Value b) {
  uint32_t id = self_id();
  if (st().grow.id != id) return kNil;
  gfx::Pt size = grow_size(point_args(a, b));
  if (st().grow.live) grow_to(id, size);
  return point(size);
}

Value m_grow_terminate(Value a, Value b) {
  uint32_t id = self_id();
  if (st().grow.id != id) return kNil;
  gfx::Pt size = grow_size(point_args(a, b));
  st().grow = {};
  grow_to(id, size);
  return point(size);
}

Value m_touch_rect_p(Value r) {
  uint32_t id = self_id();
  gfx::Rect q = media::rect_value(r);
  WindowRecord* w = record(id);
  gfx::Rect area = st().painting != 0 ? w->update_rect : own_bounds(*w);
  return boolean(!gfx::intersect(q, area).empty());
}

// ---- The sibling chain ---------------------------------------------------------------------

Value m_front_window() { return instance_of(front_window(self_id())); }
Value m_front_windoid() {
  for (uint32_t c : children_of(self_id()))
    if (record(c)->shown && record(c)->floating) return instance_of(c);
  return kNil;
}
Value m_last_windoid() {
  uint32_t last = 0;
  for (uint32_t c : children_of(self_id()))
    if (record(c)->shown && record(c)->floating) last = c;
  return instance_of(last);
}
Value m_next_window() {
  for (uint32_t c = self_record().next_sibling; record(c); c = record(c)->next_sibling)
    if (record(c)->shown) return instance_of(c);
  return kNil;
}
Value m_previous_window() {
  uint32_t id = self_id();
  uint32_t before = 0;
  for (uint32_t c : children_of(record(id)->parent)) {
    if (c == id) return instance_of(before);
    before = c;
  }
  return kNil;
}

Value list_children(bool floating, Value all) {
  std::vector<uint32_t> kids = children_of(self_id());
  Value out = kNil;
  for (auto it = kids.rbegin(); it != kids.rend(); ++it) {
    WindowRecord* w = record(*it);
    if (w->floating != floating || (all.is_nil() && !w->shown)) continue;
    out = cons(w->instance, out);
  }
  return out;
}
Value m_children(Value all) { return list_children(false, all); }
Value m_windoids(Value all) { return list_children(true, all); }

Value m_find_window(Value a, Value b) {
  uint32_t id = self_id();
  gfx::Pt p = point_args(a, b);
  return instance_of(find_window_at(id, p));
}

Value name_of(uint32_t id) {
  Value instance = instance_of(id);
  auto* r = dynamic_cast<objects::StaticDataRecord*>(owned_object(objects::field(instance, objects::kNativePart)));
  if (r && !r->name.is_nil()) return r->name;
  Value v = objects::lookup_in(instance, st().name);
  return v.is_no_value() ? kNil : v;
}

uint32_t child_named(uint32_t id, Value name) {
  for (uint32_t c : children_of(id)) {
    Value n = name_of(c);
    if (n == name || (is_integer(n) && is_integer(name) && read_integer(n) == read_integer(name))) return c;
  }
  return 0;
}

Value m_named(Value path) {
  uint32_t id = self_id();
  if (path.is_nil()) return instance_of(id);
  if (!path.is_pair()) return instance_of(child_named(id, path));
  for (Value p = path; p.is_pair() && id != 0; p = cdr(p)) id = child_named(id, car(p));
  return instance_of(id);
}

// Re-links the parent's children in this order and brings the native
// order of top-level windows along.
void relink(uint32_t parent, const std::vector<uint32_t>& order) {
  uint32_t next = 0;
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    record(*it)->next_sibling = next;
    next = *it;
  }
  record(parent)->first_child = next;
  WindowSystem* ws = media::window_system();
  if (!ws) return;
  if (parent == st().desktop) {
    Handle behind = 0;
    for (uint32_t c : order) {
      WindowRecord* w = record(c);
      if (!w->native || !ws->alive(w->native)) continue;
      if (behind == 0)
        ws->bring_to_top(w->native);
      else
        ws->place_behind(w->native, behind);
      behind = w->native;
    }
  } else {
    invalidate_object(parent);
  }
}

// Moves `self` to `index` among its siblings, kept within its kind:
// floating windows in front of the others.
void reorder(uint32_t id, size_t index) {
  uint32_t parent = record(id)->parent;
  if (!record(parent)) return;
  std::vector<uint32_t> order = children_of(parent);
  std::erase(order, id);
  bool floating = record(id)->floating;
  size_t floats = size_t(std::count_if(order.begin(), order.end(), [](uint32_t c) { return record(c)->floating; }));
  size_t low = floating ? 0 : floats, high = floating ? floats : order.size();
  index = std::clamp(index, low, high);
  order.insert(order.begin() + std::ptrdiff_t(index), id);
  uint32_t front_before = front_window(parent);
  relink(parent, order);
  if (parent == st().desktop && !floating && front_window(parent) != front_before) {
    WindowSystem* ws = media::window_system();
    if (uint32_t front = front_window(parent); ws && front && record(front)->native)
      ws->activate(record(front)->native);
    else if (front_before)
      deactivate_tree(front_before);
  }
}

size_t index_of(uint32_t id) {
  std::vector<uint32_t> order = children_of(record(id)->parent);
  return size_t(std::find(order.begin(), order.end(), id) - order.begin());
}

Value m_bring_to_front() {
  reorder(self_id(), 0);
  return kNoValue;
}
Value m_bring_forward() {
  uint32_t id = self_id();
  size_t i = index_of(id);
  reorder(id, i == 0 ? 0 : i - 1);
  return kNoValue;
}
Value m_send_backward() {
  uint32_t id = self_id();
  reorder(id, index_of(id) + 1);
  return kNoValue;
}
Value m_send_to_back() {
  reorder(self_id(), SIZE_MAX);
  return kNoValue;
}
Value m_send_behind(Value other) {
  uint32_t id = self_id();
  uint32_t o = id_of(other);
  if (o == 0 || record(o)->parent != record(id)->parent || o == id) error(Err::WrongType, other);
  std::vector<uint32_t> order = children_of(record(id)->parent);
  std::erase(order, id);
  size_t at = size_t(std::find(order.begin(), order.end(), o) - order.begin()) + 1;
  reorder(id, at);
  return kNoValue;
}

Value m_draw_grow_icon() {
  uint32_t id = self_id();
  WindowRecord* w = record(id);
  WindowSystem* ws = media::window_system();
  if (!ws || !w->native || !w->shown) return kNoValue;
  platform::WindowDC dc = ws->window_dc(w->native);
  gfx::Pt o = native_origin(id);
  gfx::Rect b = gfx::offset(own_bounds(*w), o.x, o.y);
  gfx::Rect box{b.right - 15, b.bottom - 15, b.right, b.bottom};
  dc.dc.fill_rect(dc.client(box), gfx::Brush::solid(ws->frame().map_color(0xFFFFFF)));
  dc.dc.frame_rect(dc.client(box), gfx::Brush::solid(ws->frame().map_color(0)));
  dc.dc.frame_rect(dc.client(gfx::Rect{box.left + 3, box.top + 3, box.right - 5, box.bottom - 5}),
                   gfx::Brush::solid(ws->frame().map_color(0)));
  ws->flush();
  return kNoValue;
}

// ---- Modality and the mouse --------------------------------------------------------------

Value m_get_modal() { return instance_of(self_record().modal); }

Value m_set_modal(Value v) {
  uint32_t id = self_id();
  uint32_t modal = 0;
  if (!v.is_nil()) {
    modal = id_of(v);
    if (modal == 0) error(Err::WrongType, v);
  }
  WindowSystem* ws = media::window_system();
  WindowRecord* w = record(id);
  uint32_t old = w->modal;
  if (old == modal) return kNoValue;
  w->modal = modal;
  if (ws) {
    if (WindowRecord* o = record(old); o && o->native && ws->alive(o->native)) ws->end_modal(o->native);
    if (WindowRecord* m = record(modal); m && m->native) ws->begin_modal(m->native);
    if (modal == 0) {
      if (uint32_t front = front_window(st().desktop); front && record(front)->native)
        ws->set_focus(record(front)->native);
    }
  }
  release_mouse();
  return kNoValue;
}

Value m_capture_mouse() {
  uint32_t id = self_id();
  st().captured = id;
  if (WindowSystem* ws = media::window_system()) ws->set_capture(record(id)->native);
  return kNoValue;
}
Value m_release_mouse() {
  self_id();
  st().captured = 0;
  release_mouse();
  return kNoValue;
}
Value m_release_drag() {
  uint32_t id = self_id();
  if (st().drag_object == id) {
    st().drag_object = 0;
    self_object().end_drag();
  }
  st().dragging = false;
  return kNoValue;
}
Value m_capture_window() {
  self_id();
  return instance_of(st().captured);
}

Value m_get_click_zone() {
  WindowRecord& w = self_record();
  if (!w.click_zone) return kNil;
  return media::new_region_box(*w.click_zone);
}
Value m_set_click_zone(Value v) {
  uint32_t id = self_id();
  std::optional<gfx::Region> zone;
  if (v.is_pair())
    zone = gfx::Region(media::rect_value(v));
  else if (!v.is_nil())
    zone = media::region_arg(v);
  record(id)->click_zone = std::move(zone);
  return kNoValue;
}

Value m_get_pixel(Value a, Value b) {
  uint32_t id = self_id();
  gfx::Pt p = point_args(a, b);
  uint32_t c = pixel_of(id, p);
  auto component = [](uint32_t byte) { return make_fixnum(int32_t(byte * 257)); };
  return cons(component((c >> 16) & 0xFF), cons(component((c >> 8) & 0xFF), cons(component(c & 0xFF), kNil)));
}

Value m_draw_frame() {
  uint32_t id = self_id();
  WindowRecord* w = record(id);
  WindowSystem* ws = media::window_system();
  if (!ws || !w->native || !w->shown) return kNoValue;
  frame_object(id);
  return kNoValue;
}

Value m_closable_p() {
  uint32_t id = self_id();
  WindowSystem* ws = media::window_system();
  WindowRecord* w = record(id);
  return boolean(ws && owns_native(id) && w->native && (ws->style(w->native) & platform::kSysMenu));
}
Value m_active_window_p() { return boolean(self_record().active); }
Value m_get_update_rect() {
  uint32_t id = self_id();
  WindowRecord* w = record(id);
  return rect(st().painting != 0 ? w->update_rect : gfx::Rect{});
}

Value m_draw_push_button(Value r, Value title, Value state, Value) {
  uint32_t id = self_id();
  gfx::Rect box = media::rect_value(r);
  std::string text = title.is(Tag::String) ? data::value_text(title) : std::string();
  int32_t flags = is_integer(state) ? read_integer(state) : 0;
  push_button(id, box, text, flags);
  return kNoValue;
}

Value m_get_zoom_factor() { return make_fixnum(self_record().zoom); }
Value m_get_transfer_mode() { return make_fixnum(int32_t(self_record().transfer_mode)); }
Value m_set_transfer_mode(Value v) {
  uint32_t id = self_id();
  record(id)->transfer_mode = uint32_t(arg_int(v));
  invalidate_object(id);
  return kNoValue;
}
Value m_get_floating_p() { return boolean(self_record().floating); }

// A menu popped up at a point of `self` (two fixnums, or a point and nil).
Value m_popup_select(Value menu, Value a, Value b) {
  uint32_t id = self_id();
  gfx::Pt p = point_args(a, b);
  gfx::Pt o = system_origin(id);
  return popup_select(menu, {p.x + o.x, p.y + o.y});
}

}  // namespace

void register_window_methods(Value c) {
  auto reg = [c](const char* name, NativeFn fn, uint32_t n, const char* doc) {
    objects::register_native_method(c, name, fn, n, doc);
  };
#define M0(name, f, doc) reg(name, &native_entry<f>, 0, doc)
#define M1(name, f, doc) reg(name, &native_entry<f>, 1, doc)
#define M2(name, f, doc) reg(name, &native_entry<f>, 2, doc)
  M0("close", m_close, "(close) closes the window and its children, or only hides it when it hides on close; no value");
  M0("in-close?", m_in_close_p, "(in-close?) t while the window or one of its descendants is being closed, otherwise nil");
  M0("appeal", m_appeal, "(appeal) t");
  M0("destroy", m_nothing0, "(destroy) a hook that does nothing in a plain window; its subclasses and applications define it; no value");
  M0("paint", m_nothing0, "(paint) draws the window's content; a hook that does nothing in a plain window; its subclasses and applications define it; no value");
  M0("after-paint", m_nothing0, "(after-paint) sent after the window and its children were drawn into an offscreen image; a hook that does nothing in a plain window; its subclasses and applications define it; no value");
  M2("mouse-down", m_nothing2, "(mouse-down X Y) a press at that point of the window (or POINT nil); a hook that does nothing in a plain window; its subclasses and applications define it; no value");
  M2("mouse-up", m_nothing2, "(mouse-up X Y) a release at that point (or POINT nil); a hook that does nothing in a plain window; its subclasses and applications define it; no value");
  M2("mouse-move", m_nothing2, "(mouse-move X Y) the pointer moved to that point (or POINT nil); a hook that does nothing in a plain window; its subclasses and applications define it; no value");
  M2("mouse-drag", m_nothing2, "(mouse-drag X Y) the pointer moved to that point with the button down (or POINT nil); a hook that does nothing in a plain window; its subclasses and applications define it; no value");
  M2("mouse-select", m_nothing2, "(mouse-select X Y) a click that selects, at that point (or POINT nil); a hook that does nothing in a plain window; its subclasses and applications define it; no value");
  M2("position-update", m_nothing2, "(position-update DX DY) the window moved by DX and DY; a hook that does nothing in a plain window; its subclasses and applications define it; no value");
  M2("size-update", m_nothing2, "(size-update DW DH) the window's size changed by DW and DH; a hook that does nothing in a plain window; its subclasses and applications define it; no value");
  M1("key-down", m_nothing1, "(key-down KEY) a key pressed while the window has the focus; a hook that does nothing in a plain window; its subclasses and applications define it; no value");
  M0("activate", m_nothing0, "(activate) the window became active; a hook that does nothing in a plain window; its subclasses and applications define it; no value");
  M0("deactivate", m_nothing0, "(deactivate) the window is no longer active; a hook that does nothing in a plain window; its subclasses and applications define it; no value");
  M0("activate-focus", m_nothing0, "(activate-focus) the window took the keyboard focus; a hook that does nothing in a plain window; its subclasses and applications define it; no value");
  M0("deactivate-focus", m_nothing0, "(deactivate-focus) the window lost the keyboard focus; a hook that does nothing in a plain window; its subclasses and applications define it; no value");
  M0("cut", m_nothing0, "(cut) the edit command; a hook that does nothing in a plain window; its subclasses and applications define it; no value");
  M0("copy", m_nothing0, "(copy) the edit command; a hook that does nothing in a plain window; its subclasses and applications define it; no value");
  M0("paste", m_nothing0, "(paste) the edit command; a hook that does nothing in a plain window; its subclasses and applications define it; no value");
  M0("clear", m_nothing0, "(clear) the edit command; a hook that does nothing in a plain window; its subclasses and applications define it; no value");
  M0("select-all", m_nothing0, "(select-all) the edit command; a hook that does nothing in a plain window; its subclasses and applications define it; no value");
  M0("find-handles-keys", m_find_handles_keys, "(find-handles-keys) the first window, self or a descendant searched breadth first, whose handles-keys? property is true; nil when none is");
  M1("title-update", m_nothing1, "(title-update TITLE) the window's title changed; a hook that does nothing in a plain window; its subclasses and applications define it; no value");
  M0("get-content", m_get_content, "(get-content) the window's content, for the classes that have one; nil in a plain window");
  M1("set-content", m_set_content, "(set-content VALUE) sets the window's content, for the classes that have one; no value");
  M0("get-position", m_get_position, "(get-position) the top left corner of the window in its parent's coordinates, as a point");
  M1("set-position", m_set_position, "(set-position POINT) moves the window there (times its zoom factor), in its parent's coordinates; no value");
  M0("get-size", m_get_size, "(get-size) the window's width and height as a point");
  M0("get-size-x", m_get_size_x, "(get-size-x) the window's width");
  M0("get-size-y", m_get_size_y, "(get-size-y) the window's height");
  M1("set-size", m_set_size, "(set-size POINT) gives the window that width and height (times its zoom factor, at most 16384); size-update follows a change; no value");
  M0("get-font", m_get_font, "(get-font) the window's font as the list (FAMILY SIZE STYLE)");
  M1("set-font", m_set_font, "(set-font FONT) sets the font from a list (FAMILY [SIZE [STYLE]]), or its size from an integer; no value; error 2 with anything else");
  M0("get-color", m_get_color, "(get-color) the window's background colour as (RED GREEN BLUE), each 0 to 65535");
  M1("set-color", m_set_color, "(set-color COLOUR) sets the background colour; no value");
  M0("get-color-fore", m_get_color_fore, "(get-color-fore) the window's foreground colour as (RED GREEN BLUE), each 0 to 65535");
  M1("set-color-fore", m_set_color_fore, "(set-color-fore COLOUR) sets the foreground colour; no value");
  M0("get-effect", m_get_effect, "(get-effect) the effect the window is shown through: a message or a list of a message and its arguments, or nil");
  M1("set-effect", m_set_effect, "(set-effect EFFECT) the message (or message and arguments) sent to show the window through an effect; no value");
  M0("get-frame?", get_flag<&WindowRecord::frame>, "(get-frame?) t when the window draws a frame around itself, otherwise nil");
  M1("set-frame?", set_flag<&WindowRecord::frame>, "(set-frame? FLAG) whether the window draws a frame around itself; no value");
  M0("get-erase?", get_flag<&WindowRecord::erase>, "(get-erase?) t when the window's background is filled before it paints, otherwise nil");
  M1("set-erase?", set_flag<&WindowRecord::erase>, "(set-erase? FLAG) whether the window's background is filled before it paints; no value");
  M0("get-opaque?", get_flag<&WindowRecord::opaque>, "(get-opaque?) t when the window hides what lies behind it, otherwise nil");
  M1("set-opaque?", set_flag<&WindowRecord::opaque>, "(set-opaque? FLAG) whether the window hides what lies behind it; no value");
  M0("get-scroll?", get_flag<&WindowRecord::scroll>, "(get-scroll?) the window's scroll flag, t or nil");
  M1("set-scroll?", set_flag<&WindowRecord::scroll>, "(set-scroll? FLAG) sets the window's scroll flag; no value");
  M0("get-grow-icon?", get_flag<&WindowRecord::grow_icon>, "(get-grow-icon?) the window's grow-icon flag, t or nil");
  M1("set-grow-icon?", set_flag<&WindowRecord::grow_icon>, "(set-grow-icon? FLAG) sets the window's grow-icon flag; no value");
  M0("get-edit?", get_flag<&WindowRecord::edit>, "(get-edit?) t when the window is in edit mode (edit-paint is sent after paint), otherwise nil");
  M1("set-edit?", set_flag<&WindowRecord::edit>, "(set-edit? FLAG) whether the window is in edit mode; no value");
  M0("get-offscreen?", m_get_offscreen_p, "(get-offscreen?) t when the window owns an offscreen image, otherwise nil");
  M1("set-offscreen?", m_set_offscreen_p, "(set-offscreen? FLAG) gives the window an offscreen image of its size, shared by its nested windows, or takes it away; no value");
  M0("get-offscreen-level", m_get_offscreen_level, "(get-offscreen-level) the window's offscreen level, a fixnum");
  M1("set-offscreen-level", m_set_offscreen_level, "(set-offscreen-level LEVEL) sets the window's offscreen level; no value");
  M0("get-hide-on-close?", get_flag<&WindowRecord::hide_on_close>, "(get-hide-on-close?) t when close only hides the window, otherwise nil");
  M1("set-hide-on-close?", set_flag<&WindowRecord::hide_on_close>, "(set-hide-on-close? FLAG) whether close only hides the window; no value");
  M0("get-system", m_get_system, "(get-system) the system window's instance");
  M0("get-brother", m_get_brother, "(get-brother) the window's next sibling, nil when it is the last");
  M0("get-root-rect", m_get_root_rect, "(get-root-rect) the desktop object's rectangle, nil without one");
  M0("get-system-rect", m_get_system_rect, "(get-system-rect) the system window's rectangle, nil without one");
  M0("get-parent-rect", m_get_parent_rect, "(get-parent-rect) the parent's rectangle, nil without a parent");
  M0("get-window-rect", m_get_window_rect, "(get-window-rect) the window's rectangle in its parent's coordinates");
  M0("get-view-rect", m_get_view_rect, "(get-view-rect) the window's view rectangle");
  M1("set-view-rect", m_set_view_rect, "(set-view-rect RECT) sets the window's view rectangle; no value");
  M0("get-virtual-rect", m_get_virtual_rect, "(get-virtual-rect) the window's virtual rectangle");
  M1("set-virtual-rect", m_set_virtual_rect, "(set-virtual-rect RECT) sets the window's virtual rectangle; no value");
  M0("get-region", m_get_region, "(get-region) a new region of the window's own area, within its click zone");
  M0("get-mouse", m_get_mouse, "(get-mouse) the pointer's position in the window's coordinates, (0 . 0) without a window system");
  M2("point-in-window?", m_point_in_window_p, "(point-in-window? X Y) t when the point (or POINT nil), in the window's coordinates, lies in the window, otherwise nil");
  M2("point-in-view?", m_point_in_view_p, "(point-in-view? X Y) t when the point (or POINT nil) lies in the window's view rectangle, otherwise nil");
  M0("last-windoid", m_last_windoid, "(last-windoid) the last shown floating child, nil when none");
  M0("get-visible?", m_get_visible_p, "(get-visible?) t when the window is shown, otherwise nil");
  M0("user-visible?", m_user_visible_p, "(user-visible?) t when the window and every ancestor below the desktop object are shown, otherwise nil (always nil for the system window)");
  M0("get-was-visible?", get_flag<&WindowRecord::was_visible>, "(get-was-visible?) the window's was-visible flag, t or nil");
  M1("set-was-visible?", set_flag<&WindowRecord::was_visible>, "(set-was-visible? FLAG) sets the window's was-visible flag; no value");
  M0("get-floating?", m_get_floating_p, "(get-floating?) t for a floating window, otherwise nil");
  M2("translate", m_translate, "(translate POINT WINDOW) POINT converted from the window's coordinates to WINDOW's; error 2 when WINDOW is no window");
  reg("grow-setup", &native_entry<m_grow_setup>, 5, "(grow-setup ANCHOR MIN-SIZE LIVE? LARGEST BOUNDS) starts an interactive resize from the press point ANCHOR, within MIN-SIZE (nil: 8 by 8), LARGEST's size and BOUNDS (nil for none), the window following live when LIVE?; no value");
  M2("grow-action", m_grow_action, "(grow-action X Y) the size the resize reaches with the pointer at that point (or POINT nil), applied when live; nil when no resize of this window is under way");
  M2("grow-terminate", m_grow_terminate, "(grow-terminate X Y) ends the resize with the pointer at that point (or POINT nil) and applies the size; the size, or nil when no resize of this window is under way");
  M1("touch-rect?", m_touch_rect_p, "(touch-rect? RECT) t when RECT meets the area being repainted (outside painting, the window), otherwise nil");
  M0("front-window", m_front_window, "(front-window) the first shown child that is not floating, nil when none");
  M0("front-windoid", m_front_windoid, "(front-windoid) the first shown floating child, nil when none");
  M0("next-window", m_next_window, "(next-window) the next shown sibling, nil when none");
  M0("previous-window", m_previous_window, "(previous-window) the sibling just before, shown or not, nil when none");
  M2("find-window", m_find_window, "(find-window X Y) the window that a press at that point (or POINT nil) reaches, searched from self; nil when none");
  M1("children", m_children, "(children ALL?) the children that are not floating, front to back; the hidden ones too when ALL? is true");
  M1("windoids", m_windoids, "(windoids ALL?) the floating children, front to back; the hidden ones too when ALL? is true");
  M0("bring-forward", m_bring_forward, "(bring-forward) moves the window one place forward among its siblings (floating ones stay in front); no value");
  M0("bring-to-front", m_bring_to_front, "(bring-to-front) moves the window in front of its siblings (behind the floating ones); no value");
  M0("send-backward", m_send_backward, "(send-backward) moves the window one place back among its siblings; no value");
  M0("send-to-back", m_send_to_back, "(send-to-back) moves the window behind its siblings (a floating one stays in front of the others); no value");
  M1("send-behind", m_send_behind, "(send-behind WINDOW) moves the window just behind its sibling WINDOW; no value; error 2 when WINDOW is not a sibling");
  M0("draw-grow-icon", m_draw_grow_icon, "(draw-grow-icon) draws the grow box in the window's bottom right corner; no value");
  M0("get-selection", m_get_selection, "(get-selection) the window's selection, for the classes that have one; nil in a plain window");
  M1("set-selection", m_set_selection, "(set-selection VALUE) sets the window's selection, for the classes that have one; no value");
  M0("get-modal", m_get_modal, "(get-modal) the modal window of this one, nil when none");
  M1("set-modal", m_set_modal, "(set-modal WINDOW) makes WINDOW (nil: none) the modal window, the others disabled meanwhile, and releases the mouse; no value; error 2 when WINDOW is no window");
  M0("capture-mouse", m_capture_mouse, "(capture-mouse) the window receives the mouse messages until released; no value");
  M0("release-mouse", m_release_mouse, "(release-mouse) releases the captured mouse; no value");
  M0("release-drag", m_release_drag, "(release-drag) ends a native drag of the window; no value");
  M0("capture-window", m_capture_window, "(capture-window) the window that captured the mouse, nil when none");
  M0("get-click-zone", m_get_click_zone, "(get-click-zone) a new region of the window's click zone, nil when it has none");
  M1("set-click-zone", m_set_click_zone, "(set-click-zone ZONE) the part of the window that takes clicks: a rectangle, a region, or nil for all of it; no value");
  M2("get-pixel", m_get_pixel, "(get-pixel X Y) the colour (RED GREEN BLUE) of the window's pixel at that point (or POINT nil)");
  M1("load-from-pathname", m_load_from_pathname, "(load-from-pathname PATHNAME) loads the window's content from a file, for the classes that can; no value");
  M0("draw-frame", m_draw_frame, "(draw-frame) draws the window's frame; no value");
  M1("named", m_named, "(named PATH) self for nil; the child named by a symbol or integer; with a list, the descendant reached by naming one child at a time; nil when none matches");
  M0("get-offscreen", m_get_offscreen, "(get-offscreen) the window whose offscreen image this one is drawn into, nil when drawn on the screen");
  M0("get-syswin", m_get_syswin, "(get-syswin) the top-level window holding this one");
  M0("closable?", m_closable_p, "(closable?) t when the window has a close box, otherwise nil");
  M0("active-window?", m_active_window_p, "(active-window?) t when the window is active, otherwise nil");
  M0("get-update-rect", m_get_update_rect, "(get-update-rect) the area being repainted while painting, otherwise the empty rectangle");
  reg("draw-push-button", &native_entry<m_draw_push_button>, 4, "(draw-push-button RECT TITLE STATE A4) draws a push button with TITLE in RECT, STATE its flags; no value");
  M2("point-in-click-zone?", m_point_in_click_zone_p, "(point-in-click-zone? X Y) t when the point (or POINT nil) lies in the window and its click zone, otherwise nil");
  M0("get-can-double-click?", get_flag<&WindowRecord::double_clicks>, "(get-can-double-click?) t when the window receives double clicks, otherwise nil");
  M1("set-can-double-click?", set_flag<&WindowRecord::double_clicks>, "(set-can-double-click? FLAG) whether the window receives double clicks; no value");
  M0("get-zoom-factor", m_get_zoom_factor, "(get-zoom-factor) the window's zoom factor");
  M0("get-transfer-mode", m_get_transfer_mode, "(get-transfer-mode) the mode the window's offscreen image is copied with");
  M1("set-transfer-mode", m_set_transfer_mode, "(set-transfer-mode MODE) sets the mode the window's offscreen image is copied with; no value");
  M0("update-offscreen", m_update_offscreen, "(update-offscreen) brings the window's offscreen image up to date; no value");
  M0("invalidate", m_invalidate, "(invalidate) the window and its children are painted again at the next pass; no value");
  reg("popup-select", &native_entry<m_popup_select>, 3, "(popup-select MENU X Y) pops MENU up at that point of the window (or POINT nil); the item chosen, nil for none; error 2 when MENU is no menu");
#undef M0
#undef M1
#undef M2
}

}  // namespace shell
