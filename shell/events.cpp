// The event loop: the window system's messages turned into messages to
// window objects, the mouse's click, drag, capture and modal rules, the
// keyboard's system keys and focus, and the primitives that read them.
#include <algorithm>
#include <array>

#include "core/args.hpp"
#include "core/clock.hpp"
#include "core/errors.hpp"
#include "core/eval.hpp"
#include "core/frames.hpp"
#include "core/natives.hpp"
#include "core/symbols.hpp"
#include "data/streams.hpp"
#include "media/geometry.hpp"
#include "media/sound.hpp"
#include "objects/objects.hpp"
#include "objects/records.hpp"
#include "shell/start.hpp"
#include "shell/windows.hpp"

namespace shell {
using namespace core;
using platform::Handle;
using platform::Message;
using platform::WindowSystem;
namespace msg = platform::msg;

// Messages the shell posts to itself.
constexpr uint32_t kActivateMessage = msg::User + 1;    // activate a top-level window's tree
constexpr uint32_t kRepositionMessage = msg::User + 3;  // report the mouse where it is now

namespace {

WindowsState& st() { return windows_state(); }

Value boolean(bool b) { return b ? rt().sym.t : kNil; }

// A true answer: not nil, and not the no-value of a message the receiver
// does not understand.
bool yes(Value v) { return v.truthy() && !v.is_no_value(); }

gfx::Pt minus(gfx::Pt a, gfx::Pt b) { return {a.x - b.x, a.y - b.y}; }

// Where a message's point lies in the system window's coordinates.
gfx::Pt system_point(WindowSystem& ws, gfx::Pt frame_point) {
  gfx::Rect area = ws.screen_client(ws.desktop());
  return {frame_point.x - area.left, frame_point.y - area.top};
}

gfx::Pt to_object(uint32_t id, gfx::Pt system) { return minus(system, system_origin(id)); }

Value point_value(gfx::Pt p) { return media::make_point_value(p); }

bool is_function(Value f) {
  return f.is(Tag::Lambda) || f.is(Tag::Primitive) || f.is(Tag::Gamma) || f.is(Tag::Lexical) || f.is(Tag::Closed);
}

// ---- Hit testing ---------------------------------------------------------------------------

bool handles_mouse(uint32_t id) {
  WindowsState& s = st();
  Value instance = instance_of(id);
  if (!objects::is_object(instance)) return false;
  Value method = objects::lookup_in(instance, s.get_handles_mouse_p);
  if (is_function(method)) return yes(send_to(id, s.get_handles_mouse_p));
  return objects::property_of(instance, s.handles_mouse_p).truthy();
}

// The window object under a point, from `id` with the point in its
// coordinates; 0 for none.
uint32_t hit_test(uint32_t id, gfx::Pt p, int depth = 0) {
  WindowsState& s = st();
  if (depth > 64 || !record(id)) return 0;
  Value answer = send_to(id, s.point_in_click_zone_p, {make_fixnum(p.x), make_fixnum(p.y)});
  if (answer.is_nil() || !record(id)) return 0;
  bool looked = false;
  for (uint32_t c : children_of(id)) {
    WindowRecord* w = record(c);
    if (!w || !w->shown) continue;
    looked = true;
    gfx::Pt q{p.x - w->window_rect.left, p.y - w->window_rect.top};
    if (uint32_t hit = hit_test(c, q, depth + 1)) return hit;
  }
  WindowRecord* w = record(id);
  if (!w) return 0;
  if (id == s.desktop && looked) return 0;
  if (handles_mouse(id)) return id;
  w = record(id);
  if (w && w->edit && yes(send_to(id, s.editor_selectable_p))) return id;
  return 0;
}

// ---- The mouse -----------------------------------------------------------------------------

void set_mouse_window(uint32_t id) {
  WindowsState& s = st();
  if (s.mouse_window == id) return;
  uint32_t old = s.mouse_window;
  s.mouse_window = id;
  WindowRecord* w = record(old);
  if (w && !w->closing) send_to(old, s.exit_mouse);
  if (record(id)) send_to(id, s.enter_mouse);
}

void drag_check(uint32_t id, gfx::Pt p) {
  WindowsState& s = st();
  if (!s.drag_pending || !record(id)) return;
  if (!yes(send_to(id, s.ready_mouse_drag_p, {make_fixnum(p.x), make_fixnum(p.y)}))) return;
  s.dragging = true;
  s.drag_pending = false;
  if (!yes(send_to(id, s.get_draggable_p, {make_fixnum(p.x), make_fixnum(p.y)}))) return;
  Value instance = instance_of(id);
  auto* object = objects::is_object(instance)
                     ? dynamic_cast<WindowObject*>(owned_object(objects::field(instance, objects::kNativePart)))
                     : nullptr;
  if (object) {
    s.drag_object = id;
    object->begin_drag(s.click_point);
  }
}

void button_down(WindowSystem& ws, uint32_t receiver, const Message& m) {
  WindowsState& s = st();
  gfx::Pt sys = system_point(ws, m.at);
  uint32_t target = s.captured;
  if (!record(target)) {
    uint32_t top = top_of(receiver);
    target = hit_test(top, to_object(top, sys));
    if (target == 0) target = s.desktop;
  }
  WindowRecord* desk = record(s.desktop);
  if (desk && desk->modal && record(desk->modal) && top_of(target) != top_of(desk->modal)) {
    uint32_t modal = desk->modal;
    gfx::Pt q = to_object(modal, sys);
    send_to(modal, s.out_of_modal, {make_fixnum(q.x), make_fixnum(q.y)});
    return;
  }
  if (target == s.desktop || !record(target)) {
    WindowSystem::default_proc(ws, m);
    return;
  }
  set_mouse_window(target);
  if (!record(target)) return;
  gfx::Pt click = to_object(target, sys);
  Value instance = instance_of(target);
  auto* object = dynamic_cast<WindowObject*>(owned_object(objects::field(instance, objects::kNativePart)));
  if (!object || !object->take_mouse(click)) {
    if (WindowRecord* w = record(target)) ws.set_capture(w->native);
  }
  WindowRecord* w = record(target);
  if (!w) return;
  s.click = target;
  s.click_point = click;
  s.last_mouse = click;
  s.drag_pending = true;
  s.mouse_down = true;
  s.double_click = w->double_clicks && m.message == msg::LButtonDblClk;
  drag_check(target, click);
  if (record(target)) send_to(target, s.mouse_down_system, {make_fixnum(click.x), make_fixnum(click.y)});
}

void button_up(WindowSystem& ws, const Message& m) {
  WindowsState& s = st();
  if (!s.mouse_down) {
    release_mouse();
    return;
  }
  uint32_t target = record(s.captured) ? s.captured : s.click;
  release_mouse();
  if (!record(target)) return;
  gfx::Pt q = to_object(target, system_point(ws, m.at));
  send_to(target, s.mouse_up_system, {make_fixnum(q.x), make_fixnum(q.y)});
}

// ---- Scrolling -----------------------------------------------------------------------------

void scroll_message(WindowSystem& ws, uint32_t id, const Message& m) {
  WindowsState& s = st();
  bool vertical = m.message == msg::VScroll;
  int bar = vertical ? WindowSystem::kVertical : WindowSystem::kHorizontal;
  auto info = ws.scroll(m.window, bar);
  if (!info) return;
  auto ask = [&](Value message) {
    Value v = send_to(id, message);
    return is_integer(v) ? read_integer(v) : 0;
  };
  int32_t distance = 0;
  switch (WindowSystem::scroll_code(m.wparam)) {
    case WindowSystem::kLineUp:
      distance = -ask(vertical ? s.line_height : s.line_width);
      break;
    case WindowSystem::kLineDown:
      distance = ask(vertical ? s.line_height : s.line_width);
      break;
    case WindowSystem::kPageUp:
      distance = -ask(vertical ? s.page_height : s.page_width);
      break;
    case WindowSystem::kPageDown:
      distance = ask(vertical ? s.page_height : s.page_width);
      break;
    case WindowSystem::kThumbPosition:
      distance = WindowSystem::scroll_position(m.wparam) - info->pos;
      break;
    case WindowSystem::kEndScroll:
      send_to(id, s.end_scroll);
      break;
    default:
      break;
  }
  if (distance == 0 || !record(id)) return;
  info = ws.scroll(m.window, bar);
  if (!info) return;
  int32_t high = std::max(info->min, info->max - std::max(info->page, 1) + 1);
  int32_t pos = std::clamp(info->pos + distance, info->min, high);
  distance = pos - info->pos;
  if (distance == 0) return;
  info->pos = pos;
  ws.set_scroll(m.window, bar, *info);
  send_to(id, s.scroll, {make_fixnum(vertical ? 0 : distance), make_fixnum(vertical ? distance : 0)});
}

// ---- System keys ---------------------------------------------------------------------------

uint32_t system_key_code(const Message& m) {
  uint32_t vk = uint32_t(m.wparam & 0xFF);
  bool extended = (m.lparam >> 24) & 1;
  if (vk == 13 && extended) return 3;
  if (vk == 35 && extended) return 46;
  static const std::array<uint16_t, 256> table = [] {
    std::array<uint16_t, 256> t{};
    for (int k : {8, 9, 13, 27, 32}) t[k] = uint16_t(k);
    t[33] = 11, t[34] = 12, t[35] = 4, t[36] = 1;
    t[37] = 28, t[38] = 30, t[39] = 29, t[40] = 31;
    t[45] = 5, t[46] = 127;
    for (int k = 48; k <= 57; ++k) t[k] = uint16_t(k);
    for (int k = 65; k <= 90; ++k) t[k] = uint16_t(k);
    for (int k = 96; k <= 105; ++k) t[k] = uint16_t(k - 48);
    t[106] = 42, t[107] = 43, t[109] = 45, t[110] = 46, t[111] = 47;
    const uint16_t f[15] = {0x17A, 0x178, 0x163, 0x176, 0x160, 0x161, 0x162, 0x164,
                            0x165, 0x16D, 0x167, 0x16F, 0x169, 0x16B, 0x171};
    for (int k = 0; k < 15; ++k) t[112 + k] = f[k];
    t[187] = 61, t[188] = 44, t[189] = 45, t[190] = 46, t[191] = 47;
    t[192] = 96, t[219] = 91, t[220] = 92, t[221] = 93;
    return t;
  }();
  return table[vk];
}

bool plain_character(uint32_t c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || (c >= 192 && c <= 214) ||
         (c >= 216 && c <= 246) || (c >= 248 && c <= 255);
}

// Whether `system-key-down` takes the key (no character follows then).
bool system_key(const Message& m) {
  uint32_t code = system_key_code(m);
  if (code == 0) return false;
  if (!(m.keys & platform::kControl) && plain_character(code)) return false;
  Value fn = symbol_value(st().system_key_down);
  if (!is_function(fn)) return false;
  return !call_by_name(fn, {make_fixnum(int32_t(code))}).is_nil();
}

// ---- Keys to the focus ---------------------------------------------------------------------

// A character to the focused object; Tab moves the focus among controls.
void deliver_character(int32_t code) {
  WindowsState& s = st();
  s.double_click = false;
  WindowSystem* ws = media::window_system();
  if (code == 9 && focus_next_control(ws && (ws->keys() & platform::kShift))) return;
  if (record(s.focus)) send_to(s.focus, s.key_down, {make_fixnum(code)});
}

// The keys without a character, to a focused control as key-down codes:
// the arrows 28 to 31 (left, right, up, down), Home 1, End 4, Page Up 11,
// Page Down 12, Delete 127. True when the key was taken.
bool navigation_key(const Message& m) {
  WindowsState& s = st();
  if (m.message != msg::KeyDown || !is_control(s.focus)) return false;
  int32_t code = 0;
  switch (m.wparam & 0xFF) {
    case 37: code = 28; break;
    case 39: code = 29; break;
    case 38: code = 30; break;
    case 40: code = 31; break;
    case 36: code = 1; break;
    case 35: code = 4; break;
    case 33: code = 11; break;
    case 34: code = 12; break;
    case 46: code = 127; break;
    default: return false;
  }
  s.double_click = false;
  send_to(s.focus, s.key_down, {make_fixnum(code)});
  return true;
}

// ---- The loop ------------------------------------------------------------------------------

using Range = WindowSystem::Range;
constexpr Range kActivateRanges[] = {{msg::Activate, msg::KillFocus}, {msg::Enable, msg::Enable},
                                     {msg::MouseActivate, msg::MouseActivate}, {msg::NcActivate, msg::NcActivate},
                                     {kActivateMessage, kActivateMessage}};
constexpr Range kMouseRanges[] = {{msg::LButtonDown, msg::LastMouse}, {msg::NcMouseMove, 0x00A9},
                                  {kRepositionMessage, kRepositionMessage}};
constexpr Range kKeyRanges[] = {{msg::FirstKey, msg::LastKey}};
constexpr Range kUpdateRanges[] = {{msg::Paint, msg::Paint}, {0x0085, 0x0085}, {msg::EraseBackground, msg::EraseBackground}};
// Timers, idle entry and the sound output's open, close and done.
constexpr Range kAlwaysRanges[] = {{msg::Timer, msg::Timer}, {msg::EnterIdle, msg::EnterIdle}, {0x03BB, 0x03BD}};

bool take(WindowSystem& ws, uint32_t mask, Message& m) {
  if (mask == 0xFFFF) return ws.peek(m);
  if ((mask & 0x100) && ws.peek(m, 0, kActivateRanges)) return true;
  if ((mask & 0x06) && ws.peek(m, 0, kMouseRanges)) return true;
  if ((mask & 0x18) && ws.peek(m, 0, kKeyRanges)) return true;
  if ((mask & 0x40) && ws.peek(m, 0, kUpdateRanges)) return true;
  return ws.peek(m, 0, kAlwaysRanges);
}

// Nothing is pending: what was printed is shown, then a short wait for
// input through the frame's back-end (in virtual time when headless). A
// run driven by an input script ends when the script is used up and the
// application has waited long enough for more.
void idle(WindowSystem* ws) {
  data::flush_terminal();
  std::fflush(stdout);
  if (!ws) {
    clock_wait(10);
    return;
  }
  ws->wait_idle(10);
  if (ws->backend().script_finished()) {
    std::fprintf(stderr, "talven: input script exhausted\n");
    orderly_shutdown(kExitScriptExhausted);
  }
}

}  // namespace

uint32_t find_window_at(uint32_t id, gfx::Pt p) { return hit_test(id, p); }

void mouse_move(gfx::Pt sys, bool forced) {
  WindowsState& s = st();
  WindowSystem* ws = media::window_system();
  if (!ws) return;
  if (s.mouse_down && !(ws->keys() & platform::kLeftButton)) release_mouse();
  if (record(s.click)) drag_check(s.click, to_object(s.click, sys));
  uint32_t target = s.captured;
  if (!record(target)) {
    if (s.mouse_down) {
      target = record(s.click) ? s.click : s.desktop;
    } else {
      target = record(s.system) ? hit_test(s.system, to_object(s.system, sys)) : 0;
      WindowRecord* w = record(target);
      WindowRecord* top = w ? record(w->top) : nullptr;
      if (target == 0 || (w && !w->active && !(top && top->floating))) target = s.desktop;
    }
  }
  if (!record(target)) return;
  gfx::Pt q = to_object(target, sys);
  if (target == s.mouse_window && q == s.last_mouse && !forced) return;
  s.last_mouse = q;
  set_mouse_window(target);
  if (!record(target)) return;
  send_to(target, s.activate_cursor, {make_fixnum(q.x), make_fixnum(q.y)});
  if (!record(target)) return;
  if (s.dragging)
    send_to(target, s.mouse_drag_system,
            {make_fixnum(q.x), make_fixnum(q.y), make_fixnum(q.x - s.click_point.x), make_fixnum(q.y - s.click_point.y)});
  else
    send_to(target, s.mouse_move_system, {make_fixnum(q.x), make_fixnum(q.y)});
}

void release_mouse() {
  WindowsState& s = st();
  s.mouse_down = s.dragging = s.drag_pending = false;
  WindowSystem* ws = media::window_system();
  if (ws) {
    if (WindowRecord* w = record(s.captured))
      ws->set_capture(w->native);
    else
      ws->release_capture();
  }
  if (uint32_t drag = s.drag_object) {
    s.drag_object = 0;
    Value instance = instance_of(drag);
    if (objects::is_object(instance))
      if (auto* object = dynamic_cast<WindowObject*>(owned_object(objects::field(instance, objects::kNativePart))))
        object->end_drag();
  }
}

void set_focus(uint32_t id) {
  WindowsState& s = st();
  if (!record(id)) id = 0;
  if (id == s.focus) return;
  uint32_t old = s.focus;
  s.focus = id;
  if (record(old)) send_to(old, s.deactivate_focus);
  WindowSystem* ws = media::window_system();
  WindowRecord* w = record(id);
  if (ws) {
    if (w && w->native && ws->focus() != w->native) ws->set_focus(w->native);
    if (id == 0) ws->set_focus(0);
  }
  if (record(id) && s.focus == id) send_to(id, s.activate_focus);
}

void forget_window(uint32_t id) {
  WindowsState& s = st();
  if (s.click == id) s.click = 0;
  if (s.mouse_window == id) s.mouse_window = 0;
  if (s.drag_object == id) s.drag_object = 0;
  if (s.focus == id) s.focus = 0;
  if (s.painting == id) s.painting = 0;
  if (s.grow.id == id) s.grow = {};
  if (s.captured == id) {
    s.captured = 0;
    if (WindowSystem* ws = media::window_system()) ws->release_capture();
  }
}

// The procedure of the native windows of top-level windows and of the
// desktop object.
int64_t object_proc(WindowSystem& ws, const Message& m) {
  WindowsState& s = st();
  uint32_t id = object_of_native(m.window);
  if (id == 0) return WindowSystem::default_proc(ws, m);
  WindowRecord* w = record(id);
  // While an alert is up the windows are only painted (the paint pipeline
  // runs no Lisp then) and activation is not tracked.
  if (media::frame_state().alert_depth > 0 && m.message != msg::Paint && m.message != msg::EraseBackground &&
      m.message != msg::Destroy)
    return m.message == msg::Size || m.message == msg::NcActivate ? WindowSystem::default_proc(ws, m) : 0;
  switch (m.message) {
    case msg::Size: {
      gfx::Rect c = ws.client_rect(m.window);
      gfx::Rect before = w->client_at_size;
      w->window_rect.right = w->window_rect.left + c.width();
      w->window_rect.bottom = w->window_rect.top + c.height();
      w->view_rect = w->window_rect;
      w->client_at_size = w->window_rect;
      if (c.width() != before.width() || c.height() != before.height())
        send_to(id, s.size_update, {make_fixnum(c.width() - before.width()), make_fixnum(c.height() - before.height())});
      return 0;
    }
    case msg::PosChanged: {
      // A window dragged by its caption: its rectangle follows.
      gfx::Rect sc = ws.screen_client(m.window);
      gfx::Rect area = ws.screen_client(ws.desktop());
      if (id != s.desktop) {
        int32_t dx = sc.left - area.left - w->window_rect.left, dy = sc.top - area.top - w->window_rect.top;
        w->window_rect = gfx::offset(w->window_rect, dx, dy);
        w->view_rect = gfx::offset(w->view_rect, dx, dy);
        w->client_at_size = gfx::offset(w->client_at_size, dx, dy);
      }
      if (w->parent == s.desktop) rebuild_desktop_chain();
      return 0;
    }
    case msg::Destroy: {
      // The window system is destroying the native window (the frame is
      // closing): the object and the nested ones drawn in it hear it.
      if (id == s.desktop || w->closing) return 0;
      std::vector<uint32_t> todo{id};
      for (size_t i = 0; i < todo.size() && i < 100000; ++i) {
        WindowRecord* r = record(todo[i]);
        if (!r || r->closing) continue;
        send_to(todo[i], s.destroy);
        for (uint32_t c : children_of(todo[i]))
          if (record(c) && record(c)->top != c) todo.push_back(c);
      }
      return 0;
    }
    case msg::GetMinMaxInfo: {
      Value r = send_to(id, s.grow_rect_limits);
      if (r.is_pair() && m.lparam != 0) {
        gfx::Rect limits = media::rect_value(r);
        gfx::Rect win = ws.window_rect(m.window), c = ws.client_rect(m.window);
        int32_t ox = win.width() - c.width(), oy = win.height() - c.height();
        auto* info = reinterpret_cast<platform::MinMaxInfo*>(m.lparam);
        info->min_track = {limits.left + ox, limits.top + oy};
        info->max_track = {limits.right + ox, limits.bottom + oy};
      }
      return 0;
    }
    case msg::NcActivate: {
      int64_t r = WindowSystem::default_proc(ws, m);
      if (!is_top_level(id)) return r;
      if (m.wparam)
        ws.post(m.window, kActivateMessage);
      else if (!w->floating && s.tracking_activation)
        deactivate_tree(id);
      return r;
    }
    case kActivateMessage:
      rebuild_desktop_chain();
      if ((w = record(id)) && !w->floating && s.tracking_activation && front_window(s.desktop) == id) activate_tree(id);
      return 0;
    case msg::Command: {
      s.double_click = false;
      release_mouse();
      uint32_t control = object_of_native(Handle(m.lparam));
      send_to(control ? control : id, s.select, {kNil});
      return 0;
    }
    case msg::Char:
      deliver_character(int32_t(m.wparam & 0xFF));
      return 0;
    case msg::MouseMove:
      mouse_move(system_point(ws, m.at), false);
      return 0;
    case msg::HScroll:
    case msg::VScroll:
      scroll_message(ws, id, m);
      return 0;
    case msg::LButtonDown:
    case msg::LButtonDblClk:
      button_down(ws, id, m);
      return 0;
    case msg::LButtonUp:
      button_up(ws, m);
      return 0;
    case kRepositionMessage:
      mouse_move(system_point(ws, ws.cursor()), true);
      return 0;
    case msg::Paint:
      if (w->top == id || id == s.desktop) {
        paint_native(ws, id);
      } else {
        ws.validate(m.window);
      }
      return 0;
    case msg::Close: {
      Value answer = send_to(id, s.appeal);
      if (answer.is_nil() || answer.is_no_value()) return 0;
      if ((w = record(id)) && w->hide_on_close) {
        Value instance = w->instance;
        Value none[1] = {kEndArgs};
        objects::protected_send(instance, intern_static("hide"), none);
      } else {
        close_window(id);
      }
      return 0;
    }
    case msg::EraseBackground:
      return 1;
    default:
      return WindowSystem::default_proc(ws, m);
  }
}

bool desktop_area_message(WindowSystem& ws, const Message& m, int64_t& result) {
  WindowsState& s = st();
  if (!record(s.system) || media::frame_state().alert_depth > 0) return false;
  result = 0;
  switch (m.message) {
    case msg::Size:
      if (WindowRecord* w = record(s.system)) {
        gfx::Rect c = ws.client_rect(ws.desktop());
        w->window_rect = w->view_rect = w->client_at_size = c;
      }
      if (WindowRecord* d = record(s.desktop)) {
        gfx::Rect c = ws.client_rect(ws.desktop());
        gfx::Rect before = d->client_at_size;
        d->window_rect = d->view_rect = d->client_at_size = c;
        if (d->native) ws.move(d->native, c);
        send_to(s.desktop, s.size_update, {make_fixnum(c.width() - before.width()), make_fixnum(c.height() - before.height())});
      }
      return true;
    case msg::MouseMove:
      mouse_move(system_point(ws, m.at), false);
      return true;
    case msg::LButtonDown:
    case msg::LButtonDblClk:
      button_down(ws, s.system, m);
      return true;
    case msg::LButtonUp:
      button_up(ws, m);
      return true;
    case kRepositionMessage:
      mouse_move(system_point(ws, ws.cursor()), true);
      return true;
    case msg::Char:
      deliver_character(int32_t(m.wparam & 0xFF));
      return true;
    default:
      return false;
  }
}

void process_events(Value mask_value, bool from_application) {
  WindowSystem* ws = media::window_system();
  if (!ws) {
    if (from_application) idle(nullptr);
    return;
  }
  uint32_t mask = mask_value.is_nil() ? 0xFFFF : uint32_t(arg_int(mask_value)) & 0xFFFF;
  bool any = false;
  // A background sound that has played out stops the output, whatever the
  // mask: the sound notifications are always taken.
  if (media::poll_sound()) any = true;
  {
    DispatchDepthScope depth;
    Message m;
    for (int guard = 0; guard < 100000 && take(*ws, mask, m); ++guard) {
      any = true;
      if (m.message == msg::Quit) orderly_shutdown(int(m.wparam));
      if ((m.message == msg::KeyDown || m.message == msg::SysKeyDown) && system_key(m)) continue;
      if (navigation_key(m)) {
        media::raise_pending_exit();
        if (!(ws = media::window_system())) return;
        continue;
      }
      ws->translate(m);
      ws->dispatch(m);
      media::raise_pending_exit();
      if (!(ws = media::window_system())) return;
    }
    ws->flush();
  }
  if (!any && from_application) idle(ws);
}

void implicit_poll() {
  if (!media::window_system()) return;
  process_events(kNil, false);
}

// ---- Primitives ------------------------------------------------------------------------------

namespace {

Value prim_process_events(Value mask) {
  check_signals();
  process_events(mask, true);
  return kNoValue;
}

Value sp_without_event(Value forms) {
  Runtime& r = rt();
  ++r.dispatch_depth;
  struct Restore {
    Runtime& r;
    ~Restore() { --r.dispatch_depth; }
  } restore{r};
  Value v = kNil;
  for (; forms.is_pair(); forms = cdr(forms)) v = eval(car(forms));
  return v;
}

Value prim_get_event_flag() { return make_fixnum(rt().dispatch_depth); }
Value prim_set_event_flag(Value v) {
  rt().dispatch_depth = arg_fixnum(v);
  return kNoValue;
}

void cancel_tracking() {
  WindowsState& s = st();
  if (s.grow.id) s.grow = {};
  release_mouse();
}

Value prim_flush_all_events() {
  cancel_tracking();
  if (WindowSystem* ws = media::window_system()) {
    static constexpr Range keys[] = {{msg::FirstKey, msg::LastKey}};
    Message m;
    for (int guard = 0; guard < 100000 && ws->peek(m, 0, keys); ++guard) {
    }
  }
  return kNoValue;
}

Value prim_flush_mouse_events() {
  cancel_tracking();
  return kNoValue;
}

Value prim_reset_mouse() {
  WindowsState& s = st();
  s.last_mouse = {-1, -1};
  WindowSystem* ws = media::window_system();
  uint32_t id = id_of(rt().current_object);
  WindowRecord* w = record(id);
  if (!ws || !w || !w->native) return kNoValue;
  static constexpr Range pending[] = {{kRepositionMessage, kRepositionMessage},
                                      {msg::LButtonUp, msg::LButtonUp},
                                      {msg::NcLButtonUp, msg::NcLButtonUp}};
  Message m;
  if (!ws->peek(m, w->native, pending)) ws->post(w->native, kRepositionMessage);
  return kNoValue;
}

Value prim_stilldown() {
  WindowSystem* ws = media::window_system();
  if (!ws || !(ws->keys_now() & platform::kLeftButton)) return kNil;
  static constexpr Range ups[] = {{msg::LButtonUp, msg::LButtonUp}, {msg::NcLButtonUp, msg::NcLButtonUp}};
  Message m;
  return boolean(!ws->peek(m, 0, ups, false));
}

Value prim_in_mouse_down_p() { return boolean(st().mouse_down); }
Value prim_double_click_p(Value w) {
  WindowsState& s = st();
  return boolean(s.double_click && (w.is_nil() || id_of(w) == s.click));
}
Value prim_has_mouse_moved_p(Value p) {
  gfx::Pt q = media::point_value(p);
  return boolean(!(q == st().last_mouse));
}
Value prim_last_click_window() { return instance_of(st().click); }
Value prim_last_click_point() { return point_value(st().click_point); }
Value prim_last_mouse_point() { return point_value(st().last_mouse); }
Value prim_last_click_time() { return make_fixnum(0); }

uint32_t keys() {
  WindowSystem* ws = media::window_system();
  return ws ? ws->keys() : 0;
}
Value prim_shift_key_p() { return boolean(keys() & platform::kShift); }
Value prim_capslock_key_p() {
  WindowSystem* ws = media::window_system();
  return boolean(ws && ws->caps_lock());
}
Value prim_option_key_p() { return boolean(keys() & platform::kAlt); }
Value prim_control_key_p() { return boolean(keys() & platform::kControl); }
Value prim_cmd_key_p() { return kNil; }
Value prim_mouse_window() { return instance_of(st().mouse_window); }
Value prim_get_focus() { return instance_of(st().focus); }
Value prim_set_focus(Value w) {
  uint32_t id = 0;
  if (!w.is_nil()) {
    id = id_of(w);
    if (id == 0) error(Err::WrongType, w);
  }
  set_focus(id);
  return kNoValue;
}
Value prim_tracking_drag_p() { return boolean(st().drag_object != 0); }

const NativeRow kEventNatives[] = {
    TV_PRIM("process-events", prim_process_events, "(process-events MASK) handles the pending window-system messages of the classes MASK names (nil: all)"),
    TV_SPECIAL("without-event", sp_without_event, "(without-event FORM...) evaluates the forms with implicit event polling held off"),
    TV_PRIM("get-event-flag", prim_get_event_flag, "(get-event-flag) the event-dispatch depth: polling happens while it is below 1"),
    TV_PRIM("set-event-flag", prim_set_event_flag, "(set-event-flag N) sets the event-dispatch depth"),
    TV_PRIM("flush-all-events", prim_flush_all_events, "(flush-all-events) releases the mouse and drops every pending key"),
    TV_PRIM("flush-mouse-events", prim_flush_mouse_events, "(flush-mouse-events) cancels mouse tracking and releases the mouse"),
    TV_PRIM("reset-mouse", prim_reset_mouse, "(reset-mouse) makes the next mouse position be reported to self's window"),
    TV_PRIM("stilldown", prim_stilldown, "(stilldown) t while the left button is held and its release is not pending"),
    TV_PRIM("in-mouse-down?", prim_in_mouse_down_p, "(in-mouse-down?) t between a press dispatched and its release"),
    TV_PRIM("double-click?", prim_double_click_p, "(double-click? WINDOW) t when the last press was a double click (on WINDOW, when given)"),
    TV_PRIM("has-mouse-moved?", prim_has_mouse_moved_p, "(has-mouse-moved? POINT) t when POINT differs from the last mouse point reported"),
    TV_PRIM("last-click-window", prim_last_click_window, "(last-click-window) the window object of the last press, or nil"),
    TV_PRIM("last-click-point", prim_last_click_point, "(last-click-point) where the last press was, in its window's coordinates"),
    TV_PRIM("last-mouse-point", prim_last_mouse_point, "(last-mouse-point) the mouse point last reported"),
    TV_PRIM("last-click-time", prim_last_click_time, "(last-click-time) always 0"),
    TV_PRIM("shift-key?", prim_shift_key_p, "(shift-key?) t when shift was down for the message being handled"),
    TV_PRIM("capslock-key?", prim_capslock_key_p, "(capslock-key?) t while caps lock is on"),
    TV_PRIM("option-key?", prim_option_key_p, "(option-key?) t when alt was down for the message being handled"),
    TV_PRIM("control-key?", prim_control_key_p, "(control-key?) t when control was down for the message being handled"),
    TV_PRIM("menu-key?", prim_control_key_p, "(menu-key?) t when control (the menu-shortcut key) was down"),
    TV_PRIM("cmd-key?", prim_cmd_key_p, "(cmd-key?) always nil"),
    TV_PRIM("mouse-window", prim_mouse_window, "(mouse-window) the window object the mouse was last reported over"),
    TV_PRIM("get-focus", prim_get_focus, "(get-focus) the window object that receives key-down, or nil"),
    TV_PRIM("set-focus", prim_set_focus, "(set-focus WINDOW) gives WINDOW the keyboard (nil: nobody)"),
    TV_PRIM("tracking-drag?", prim_tracking_drag_p, "(tracking-drag?) t while a native drag is under way"),
};

}  // namespace

void register_event_natives() { register_natives(kEventNatives); }

}  // namespace shell
