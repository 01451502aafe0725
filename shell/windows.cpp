// Window objects: the native half of each obj-window instance, the tree,
// the opening of a window from its instance's properties, and closing.
#include "shell/windows.hpp"

#include <algorithm>
#include <string>

#include "core/args.hpp"
#include "core/collector.hpp"
#include "core/errors.hpp"
#include "core/eval.hpp"
#include "core/natives.hpp"
#include "core/symbols.hpp"
#include "data/printer.hpp"
#include "media/geometry.hpp"
#include "objects/objects.hpp"
#include "objects/records.hpp"
#include "platform/gfx/fonts.hpp"
#include "shell/appearance.hpp"
#include "shell/effect_methods.hpp"
#include "shell/start.hpp"

namespace shell {
using namespace core;
using platform::Handle;
using platform::WindowSystem;

namespace {

constexpr const char* kObjectProperty = "TalvenObjectHI";

core::NativeTable<WindowRecord>& table() { return media::frame_state().windows; }

WindowSystem& ws_or_error() {
  WindowSystem* ws = media::window_system();
  if (!ws) error(Err::NotAvailable, kNil);
  return *ws;
}

// ---- Reading an instance's properties ---------------------------------------------------

Value property(Value o, Value name) { return objects::property_of(o, name); }

Value symbol_in(Value o, Value sym) {
  Value v = objects::lookup_in(o, sym);
  return v.is_no_value() ? kNil : v;
}

bool flag(Value o, Value name) { return property(o, name).truthy(); }

std::optional<media::Rgb16> colour_of(Value v) {
  int32_t c[3];
  Value at = v;
  for (int32_t& x : c) {
    if (!at.is_pair() || !is_integer(car(at))) return std::nullopt;
    x = std::clamp(read_integer(car(at)), 0, 65535);
    at = cdr(at);
  }
  return media::Rgb16{uint16_t(c[0]), uint16_t(c[1]), uint16_t(c[2])};
}

std::optional<gfx::Pt> point_of(Value v) {
  if (!v.is_pair() || !is_integer(car(v)) || !is_integer(cdr(v))) return std::nullopt;
  return media::point_value(v);
}

// The title: the string of a string list for (id . index) when the list
// has a non-empty one there; else the property as text.
Value title_text(Value x) {
  std::string text;
  bool found = false;
  if (x.is_pair() && is_integer(car(x)) && is_integer(cdr(x)) && rt().string_resource != nullptr)
    found = rt().string_resource(read_integer(car(x)), read_integer(cdr(x)), text) && !text.empty();
  if (!found) text = x.is_nil() ? std::string() : data::value_text(x);
  if (text.size() > 65534) text.resize(65534);
  return make_string(text.data(), text.size());
}

std::string title_string(Value title) {
  if (!title.is(Tag::String)) return std::string();
  return data::value_text(title);
}

}  // namespace

int32_t font_family_arg(Value family) {
  if (is_integer(family)) {
    int32_t n = read_integer(family);
    if (n < 0 || n >= 0x4000) error(Err::WrongType, family);
    return n;
  }
  if (!family.is(Tag::String) && !family.is_symbol()) error(Err::WrongType, family);
  return gfx::family_named(data::value_text(family));
}

Value font_family_value(int32_t family) {
  std::string name = gfx::family_name(family);
  if (name.empty()) return make_fixnum(family);
  return make_string(name.data(), name.size());
}

namespace {

media::FontSpec font_of(Value v) {
  media::FontSpec f;
  if (!v.is_pair()) return f;
  Value family = car(v);
  if (is_integer(family) ? uint32_t(read_integer(family)) < 0x4000 : family.is(Tag::String) || family.is_symbol())
    f.family = int16_t(font_family_arg(family));
  v = cdr(v);
  if (v.is_pair() && is_integer(car(v))) f.size = int16_t(std::clamp(read_integer(car(v)), 1, 32767));
  if (v.is_pair()) v = cdr(v);
  if (v.is_pair() && is_integer(car(v))) f.style = int16_t(read_integer(car(v)));
  return f;
}

// ---- Opening ---------------------------------------------------------------------------

void register_classes(WindowSystem& ws) {
  WindowsState& s = windows_state();
  if (s.classes_registered && ws.alive(ws.desktop())) return;
  ws.register_class({"TalvenFrameClass", object_proc, platform::kDoubleClicks, std::nullopt});
  ws.register_class({"TalvenWndClass", object_proc, platform::kDoubleClicks, std::nullopt});
  s.classes_registered = true;
}

// The window rectangle a client area needs with a style: the overhead is
// read off a window made with it.
gfx::Rect place_client(WindowSystem& ws, Handle h, gfx::Rect client) {
  gfx::Rect win = ws.window_rect(h);
  gfx::Rect sc = ws.screen_client(h);
  gfx::Rect parent = ws.screen_client(ws.parent(h));
  gfx::Rect on_frame = gfx::offset(win, parent.left, parent.top);
  int32_t dl = sc.left - on_frame.left, dt = sc.top - on_frame.top;
  int32_t dr = on_frame.right - sc.right, db = on_frame.bottom - sc.bottom;
  return {client.left - dl, client.top - dt, client.right + dr, client.bottom + db};
}

// The record a WindowObject is made for, filled from the instance's
// properties and linked into the tree. Native windows are made after.
Value open_window(Value) {
  WindowsState& s = windows_state();
  WindowSystem& ws = ws_or_error();
  Value o = rt().current_object;
  if (!objects::is_instance(o) && !objects::is_class(o)) error(Err::WrongType, kNil);

  // The parent: nil, the system window, the desktop object or an open window.
  Value parent_value = property(o, s.parent);
  uint32_t parent = 0;
  if (!parent_value.is_nil()) {
    parent = id_of(parent_value);
    if (parent == 0) error(Err::WrongType, parent_value);
  }
  if (!record(s.system)) s.system = 0, s.desktop = 0;
  if (!record(s.desktop)) s.desktop = 0;
  // A window without a parent once the tree has its two first levels goes
  // below them: the desktop object first, then a top-level window.
  if (parent == 0 && s.system != 0) parent = s.desktop != 0 ? s.desktop : s.system;
  // The system window has one child, the desktop object.
  if (parent == s.system && s.desktop != 0) parent = s.desktop;

  WindowRecord w;
  w.instance = o;
  w.title = title_text(property(o, s.title));
  w.effect = property(o, s.effect);
  gfx::Pt size = point_of(property(o, s.size)).value_or(gfx::Pt{100, 100});
  Value type = property(o, s.type);
  w.type = is_integer(type) ? read_integer(type) : 0;
  gfx::Pt at = point_of(property(o, s.position)).value_or(gfx::Pt{0, 0});
  Value c = property(o, s.color);
  if (c.is_nil()) c = property(o, s.color_ref);
  if (auto rgb = colour_of(c)) w.background = *rgb;
  c = property(o, s.color_fore);
  if (c.is_nil()) c = property(o, s.color_fore_ref);
  if (auto rgb = colour_of(c)) w.foreground = *rgb;
  w.font = font_of(property(o, s.font));
  bool floating = flag(o, s.floating_p);
  w.close_box = flag(o, s.close_box_p);
  w.frame = flag(o, s.frame_p);
  w.erase = flag(o, s.erase_p);
  w.opaque = flag(o, s.opaque_p);
  w.scroll = flag(o, s.scroll_p);
  w.grow_icon = flag(o, s.grow_icon_p);
  w.hide_on_close = flag(o, s.hide_on_close_p);
  Value mode = property(o, s.transfer_mode);
  if (is_integer(mode)) w.transfer_mode = uint32_t(read_integer(mode));
  w.double_clicks = flag(o, s.can_double_click_p);
  Value zoom = property(o, s.zoom_factor);
  int32_t zoom_factor = is_integer(zoom) ? std::clamp(read_integer(zoom), 1, 64) : 1;
  Value virt = property(o, s.virtual_rect);
  std::optional<gfx::Rect> virtual_rect;
  if (virt.is_pair()) virtual_rect = media::rect_value(virt);
  w.transparent = symbol_in(o, s.transparent_p).truthy();
  bool closed_zone = symbol_in(o, s.closed_zone_p).truthy();
  if (closed_zone) w.click_zone = gfx::Region();

  // Linking: the first child of its parent.
  if (parent == 0) {
    w.top = 0;  // itself, once it has an id
  } else if (parent == s.system) {
    w.top = s.system;
  } else if (parent == s.desktop) {
    w.floating = floating;
    w.zoom = int16_t(zoom_factor);
  } else {
    WindowRecord* p = record(parent);
    w.top = p->top;
    w.zoom = p->zoom;
    w.offscreen = p->offscreen;
  }
  if (w.zoom != 1) {
    at = {at.x * w.zoom, at.y * w.zoom};
    size = {size.x * w.zoom, size.y * w.zoom};
  }
  size = {std::clamp(size.x, 0, 16384), std::clamp(size.y, 0, 16384)};
  w.window_rect = {at.x, at.y, at.x + size.x, at.y + size.y};
  if (parent == s.system) {
    gfx::Rect area = ws.client_rect(ws.desktop());
    if (size.x == 0 || size.y == 0 || property(o, s.size).is_nil()) w.window_rect = area;
    w.shown = (shell_state().prefs.flags & kFlagPaintDesktop) != 0;
  }
  if (parent == 0) w.window_rect = ws.client_rect(ws.desktop());
  w.view_rect = w.window_rect;
  w.client_at_size = w.window_rect;
  w.virtual_rect = virtual_rect.value_or(w.window_rect);
  w.parent = parent;
  if (parent != 0) w.next_sibling = record(parent)->first_child;

  uint32_t id = table().add(std::move(w));
  if (id == 0) error(Err::NativeMemory, kNil);
  WindowRecord* r = record(id);
  if (parent == 0) {
    r->top = id;
    s.system = id;
  } else {
    if (parent == s.desktop) r->top = id;
    record(parent)->first_child = id;
    if (parent == s.system) s.desktop = id;
  }
  return make_fixnum(int32_t(id));
}

// The native window of a new record.
void open_native(uint32_t id, WindowObject& object) {
  WindowsState& s = windows_state();
  WindowSystem& ws = *media::window_system();
  register_classes(ws);
  WindowRecord* r = record(id);
  Handle h = 0;
  if (id == s.system) {
    h = ws.desktop();
  } else if (id == s.desktop) {
    h = ws.create({"TalvenFrameClass", title_string(r->title), platform::kChild, platform::kBackmost,
                   ws.client_rect(ws.desktop()), ws.desktop(), 0});
    r = record(id);
    if (h && r->shown) ws.show(h, true);
  } else if (r->parent == s.desktop) {
    int32_t type = r->floating && r->type == 0 ? 4 : r->type;
    gfx::Pt size{r->window_rect.width(), r->window_rect.height()};
    uint32_t style = platform::kChild | object.native_style(type, size, r->close_box);
    if (r->scroll) style |= platform::kVScroll | platform::kHScroll;
    uint32_t ex = r->floating ? uint32_t(platform::kFloating) : 0u;
    gfx::Rect client = r->window_rect;
    h = ws.create({object.native_class(), title_string(r->title), style, ex, client, ws.desktop(), 0});
    if (h && (r = record(id))) ws.move(h, place_client(ws, h, client));
    if (h && (r = record(id)) && r->scroll) {
      // The bars range over the virtual rectangle, a page being the view.
      gfx::Rect v = r->virtual_rect;
      ws.set_scroll(h, WindowSystem::kHorizontal, {0, std::max(v.width() - 1, 0), r->view_rect.width(), 0});
      ws.set_scroll(h, WindowSystem::kVertical, {0, std::max(v.height() - 1, 0), r->view_rect.height(), 0});
    }
    if (s.desktop && (r = record(s.desktop)) && r->native)
      ws.post(r->native, platform::msg::User + 1);
  } else {
    h = record(r->parent)->native;
  }
  r = record(id);
  if (!r) return;
  r->native = h;
  if (h && (id == s.system || r->top == id || id == s.desktop)) ws.set_property(h, kObjectProperty, id);
  if (r->top != id && id != s.desktop && id != s.system) invalidate_object(id);
}

Value construct_window(Value*) {
  std::unique_ptr<WindowObject> object;
  try {
    object = std::make_unique<WindowObject>();
  } catch (const std::bad_alloc&) {
    error(Err::NativeMemory, kNil);
  }
  return construct_window_with(std::move(object));
}

}  // namespace

// ---- The module ----------------------------------------------------------------------------

namespace {

std::unique_ptr<ModuleState> make_state(Runtime&) { return std::make_unique<WindowsState>(); }

void install(Runtime&) {
  WindowsState& s = windows_state();
#define TALVEN_X(field, text) s.field = intern_static(text);
  TALVEN_WINDOW_SYMBOLS(TALVEN_X)
#undef TALVEN_X
  Value interface = symbol_value(intern_static("obj-interface"));
  s.window_class = objects::define_native_class("obj-window", construct_window, interface);
  register_window_methods(s.window_class);
  register_appearance(s.window_class);
  register_drawing();
  register_event_natives();
}

void mark_roots(Runtime&) { mark_value(windows_state().window_class); }

}  // namespace

const Module kWindowsModule{"windows", make_state, install, mark_roots, nullptr};

WindowsState& windows_state() { return state_of<WindowsState>(kWindowsModule); }

Value construct_window_with(std::unique_ptr<WindowObject> object) {
  Value id_value = open_window(kNil);
  uint32_t id = uint32_t(id_value.fixnum());
  object->id = id;
  object->object = rt().current_object;
  WindowObject& ref = *object;
  Value box = objects::box_record(std::move(object));
  open_native(id, ref);
  return box;
}

// ---- Colours -------------------------------------------------------------------------------

Value colour_value(media::Rgb16 c) {
  return cons(make_fixnum(c.red), cons(make_fixnum(c.green), cons(make_fixnum(c.blue), kNil)));
}

media::Rgb16 colour_arg(Value v) {
  int32_t c[3];
  Value at = v;
  for (int32_t& x : c) {
    if (!at.is_pair() || !is_integer(car(at))) error(Err::WrongType, v);
    x = std::clamp(read_integer(car(at)), 0, 65535);
    at = cdr(at);
  }
  return {uint16_t(c[0]), uint16_t(c[1]), uint16_t(c[2])};
}

// ---- Records and the tree ------------------------------------------------------------------

WindowRecord* record(uint32_t id) {
  if (id == 0 || g_runtime == nullptr || !module_installed(media::kFrameModule)) return nullptr;
  return table().find(id);
}

uint32_t id_of(Value instance) {
  if (!objects::is_object(instance)) return 0;
  auto* w = dynamic_cast<WindowObject*>(owned_object(objects::field(instance, objects::kNativePart)));
  if (w == nullptr || record(w->id) == nullptr) return 0;
  return w->id;
}

uint32_t self_id() {
  Value o = rt().current_object;
  uint32_t id = id_of(o);
  if (id == 0) error(Err::WrongType, objects::is_object(o) ? o : kNil);
  return id;
}

WindowRecord& self_record() { return *record(self_id()); }

Value instance_of(uint32_t id) {
  WindowRecord* w = record(id);
  return w ? w->instance : kNil;
}

std::vector<uint32_t> children_of(uint32_t id) {
  std::vector<uint32_t> out;
  WindowRecord* w = record(id);
  for (uint32_t c = w ? w->first_child : 0; c != 0 && out.size() < 100000;) {
    WindowRecord* r = record(c);
    if (!r) break;
    out.push_back(c);
    c = r->next_sibling;
  }
  return out;
}

uint32_t top_of(uint32_t id) {
  WindowRecord* w = record(id);
  return w ? w->top : 0;
}

bool is_top_level(uint32_t id) {
  WindowRecord* w = record(id);
  return w && w->parent != 0 && w->parent == windows_state().desktop;
}

gfx::Rect own_bounds(const WindowRecord& w) { return {0, 0, w.window_rect.width(), w.window_rect.height()}; }

gfx::Pt system_origin(uint32_t id) {
  gfx::Pt p;
  for (int guard = 0; guard < 10000; ++guard) {
    WindowRecord* w = record(id);
    if (!w || w->parent == 0) break;
    p.x += w->window_rect.left;
    p.y += w->window_rect.top;
    id = w->parent;
  }
  return p;
}

gfx::Pt native_origin(uint32_t id) {
  gfx::Pt p;
  for (int guard = 0; guard < 10000; ++guard) {
    WindowRecord* w = record(id);
    if (!w || w->top == id || w->parent == 0 || id == windows_state().desktop) break;
    p.x += w->window_rect.left;
    p.y += w->window_rect.top;
    id = w->parent;
  }
  return p;
}

uint32_t object_of_native(Handle h) {
  WindowSystem* ws = media::window_system();
  if (!ws) return 0;
  std::optional<uint64_t> id = ws->property(h, kObjectProperty);
  if (!id || !record(uint32_t(*id))) return 0;
  return uint32_t(*id);
}

Value send_to(uint32_t id, Value message, std::initializer_list<Value> args) {
  WindowRecord* w = record(id);
  if (!w || !objects::is_object(w->instance)) return kNoValue;
  return media::callback_send(w->instance, message, args);
}

uint32_t front_window(uint32_t parent) {
  for (uint32_t c : children_of(parent)) {
    WindowRecord* w = record(c);
    if (w && w->shown && !w->floating) return c;
  }
  return 0;
}

void activate_tree(uint32_t id) {
  WindowRecord* w = record(id);
  if (!w) return;
  if (w->shown && !w->active) {
    w->active = true;
    send_to(id, windows_state().activate);
  }
  for (uint32_t c : children_of(id)) activate_tree(c);
}

void deactivate_tree(uint32_t id) {
  WindowsState& s = windows_state();
  WindowRecord* w = record(id);
  if (!w) return;
  if (w->shown && w->active) {
    w->active = false;
    send_to(id, s.deactivate);
    for (uint32_t c : children_of(id)) deactivate_tree(c);
    WindowSystem* ws = media::window_system();
    if (s.mouse_window == id && ws) {
      gfx::Rect area = ws->screen_client(ws->desktop());
      gfx::Pt at = ws->cursor();
      mouse_move({at.x - area.left, at.y - area.top}, true);
    }
  }
}

// The desktop object's children in the native order of their windows;
// children without a native window of their own keep their places at the
// back.
void rebuild_desktop_chain() {
  WindowsState& s = windows_state();
  WindowSystem* ws = media::window_system();
  WindowRecord* d = record(s.desktop);
  if (!ws || !d) return;
  std::vector<uint32_t> order;
  for (Handle h : ws->children(ws->desktop())) {
    uint32_t id = object_of_native(h);
    WindowRecord* w = record(id);
    if (w && w->parent == s.desktop) order.push_back(id);
  }
  for (uint32_t c : children_of(s.desktop))
    if (std::find(order.begin(), order.end(), c) == order.end()) order.push_back(c);
  uint32_t next = 0;
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    record(*it)->next_sibling = next;
    next = *it;
  }
  record(s.desktop)->first_child = next;
}

void close_window(uint32_t id) {
  WindowsState& s = windows_state();
  WindowRecord* w = record(id);
  if (!w || w->closing) return;
  w->closing = true;
  if (id != s.desktop) send_to(id, s.destroy);
  for (uint32_t c : children_of(id)) close_window(c);
  w = record(id);
  if (!w) return;
  WindowSystem* ws = media::window_system();
  Handle native = w->native;
  bool own_native = id == s.desktop || (w->top == id && id != s.system);
  uint32_t parent = w->parent;
  if (!own_native && ws && native && ws->alive(native)) invalidate_object(id, false);
  // Out of the parent's chain.
  if (WindowRecord* p = record(parent)) {
    if (p->first_child == id) {
      p->first_child = w->next_sibling;
    } else {
      for (uint32_t c : children_of(parent)) {
        WindowRecord* r = record(c);
        if (r->next_sibling == id) {
          r->next_sibling = w->next_sibling;
          break;
        }
      }
    }
    if (p->modal == id) {
      p->modal = 0;
      if (ws && native && ws->alive(native)) ws->end_modal(native);
    }
  }
  forget_window(id);
  if (s.system == id) s.system = 0;
  if (s.desktop == id) s.desktop = 0;
  Value instance = w->instance;
  table().remove(id);
  if (own_native && ws && native && ws->alive(native)) {
    ws->remove_property(native, kObjectProperty);
    ws->destroy(native);
    // The window in front takes the activation and the keyboard goes back
    // to the focus.
    if (ws->active() == 0)
      if (WindowRecord* front = record(front_window(s.desktop)); front && front->native) ws->activate(front->native);
    if (WindowRecord* focus = record(s.focus); focus && focus->native && ws->focus() == 0) ws->set_focus(focus->native);
  }
  // The instance keeps no native part: its methods answer error 2.
  if (objects::is_object(instance)) {
    Value box = objects::field(instance, objects::kNativePart);
    if (auto* object = dynamic_cast<WindowObject*>(owned_object(box))) {
      object->id = 0;
      objects::set_field(instance, objects::kNativePart, kNil);
      release_owned(box);
    }
  }
}

// ---- The native part ----------------------------------------------------------------------

WindowObject::~WindowObject() {
  // Released without a close (close-link, the machine ending): the window
  // goes quietly, with no message sent.
  if (id == 0 || g_runtime == nullptr || !module_installed(kWindowsModule)) return;
  WindowRecord* w = record(id);
  if (!w) return;
  WindowsState& s = windows_state();
  WindowSystem* ws = media::window_system();
  for (uint32_t c : children_of(id))
    if (WindowRecord* r = record(c)) r->parent = 0;
  if (WindowRecord* p = record(w->parent)) {
    if (p->first_child == id) p->first_child = w->next_sibling;
    for (uint32_t c : children_of(w->parent))
      if (record(c)->next_sibling == id) record(c)->next_sibling = w->next_sibling;
  }
  Handle native = w->native;
  bool own_native = id == s.desktop || (w->top == id && id != s.system);
  forget_window(id);
  if (s.system == id) s.system = 0;
  if (s.desktop == id) s.desktop = 0;
  table().remove(id);
  if (own_native && ws && native && ws->alive(native)) {
    ws->remove_property(native, kObjectProperty);
    ws->destroy(native);
  }
}

uint32_t WindowObject::native_style(int32_t type, gfx::Pt, bool close_box) const {
  using namespace platform;
  uint32_t sys = close_box ? uint32_t(kSysMenu) : 0;
  switch (type) {
    case 0:
      return kCaption | kSizeBox | sys;
    case 1:
      return kBorder | kSizeBox;
    case 2:
    case 3:
      return kBorder;
    case 7:
      return 0;
    default:
      return kCaption | sys;
  }
}

void WindowObject::show() {
  WindowsState& s = windows_state();
  WindowRecord* w = record(id);
  if (!w) error(Err::WrongType, object);
  WindowSystem* ws = media::window_system();
  bool was = w->shown;
  w->shown = true;
  w->was_visible = true;
  uint32_t self = id;
  if (!ws) return;
  if (self == s.desktop || (w->top == self && self != s.system)) {
    // Showing sends messages (and so Lisp methods run): the record is not
    // read after it.
    Handle native = w->native;
    bool floating = w->floating;
    ws->show(native, true);
    if (self != s.desktop && !floating && ws->alive(native)) {
      ws->bring_to_top(native);
      ws->activate(native);
    }
    if (!was && self != s.desktop) show_through_effect(self);
  } else if (!was) {
    invalidate_object(self);
    WindowRecord* p = record(w->parent);
    if (p && p->active) activate_tree(self);
  }
}

void WindowObject::hide() {
  WindowsState& s = windows_state();
  WindowRecord* w = record(id);
  if (!w) error(Err::WrongType, object);
  WindowSystem* ws = media::window_system();
  uint32_t self = id;
  if (!w->shown) return;
  deactivate_tree(self);
  if (!(w = record(self))) return;
  if (ws && (self == s.desktop || (w->top == self && self != s.system))) {
    w->shown = false;
    ws->show(w->native, false);
    if (s.focus != 0 && top_of(s.focus) == self) set_focus(0);
    // The window in front now takes the activation.
    if (uint32_t front = front_window(s.desktop); front && record(front)->native)
      ws->activate(record(front)->native);
  } else {
    invalidate_object(self);
    if (WindowRecord* again = record(self)) again->shown = false;
  }
}

void WindowObject::enable() {
  WindowRecord* w = record(id);
  if (!w) error(Err::WrongType, object);
  w->disabled = false;
  if (WindowSystem* ws = media::window_system(); ws && w->top == id) ws->enable(w->native, true);
}

void WindowObject::disable() {
  WindowRecord* w = record(id);
  if (!w) error(Err::WrongType, object);
  w->disabled = true;
  if (WindowSystem* ws = media::window_system(); ws && w->top == id && id != windows_state().system)
    ws->enable(w->native, false);
}

bool WindowObject::enabled() {
  WindowRecord* w = record(id);
  return w && !w->disabled;
}

Value WindowObject::get_title() {
  WindowRecord* w = record(id);
  if (!w) error(Err::WrongType, object);
  return w->title;
}

void WindowObject::set_title(Value text, int) {
  WindowRecord* w = record(id);
  if (!w) error(Err::WrongType, object);
  w->title = text;
  WindowSystem* ws = media::window_system();
  if (ws && w->native && (w->top == id || id == windows_state().desktop) && id != windows_state().system)
    ws->set_title(w->native, title_string(text));
}

}  // namespace shell
