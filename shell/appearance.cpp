// Colours and cursors: the drawing colours of window objects, the screen's
// depth, the colour chooser, and the mouse cursor chosen by number (the
// platform's standard cursors, or CURS resources converted to cursors).
#include "shell/appearance.hpp"

#include <algorithm>
#include <string>

#include "core/args.hpp"
#include "core/errors.hpp"
#include "core/eval.hpp"
#include "core/natives.hpp"
#include "core/symbols.hpp"
#include "objects/objects.hpp"
#include "shell/windows.hpp"
#include "storage/fork.hpp"
#include "storage/resources.hpp"

namespace shell {
using namespace core;
using platform::CursorShape;
using platform::WindowSystem;

// Posted to the frame after the watch was shown for a while (a collection,
// `show-watch`): the cursor the application chose comes back.
constexpr uint32_t kCursorMessage = platform::msg::User + 2;

namespace {


// ---- Colours -----------------------------------------------------------------------------

Value m_set_fore_color(Value c) {
  self_record().foreground = colour_arg(c);
  return kNoValue;
}
Value m_set_back_color(Value c) {
  media::Rgb16 rgb = colour_arg(c);
  WindowRecord& w = self_record();
  w.background = rgb;
  // Text drawn with an opaque background takes the plain colour of the
  // three high bytes, never matched to a palette.
  w.text_background = gfx::rgb(rgb.red >> 8, rgb.green >> 8, rgb.blue >> 8);
  return kNoValue;
}
Value m_get_fore_color() { return colour_value(self_record().foreground); }
Value m_get_back_color() { return colour_value(self_record().background); }

Value prim_get_depth() {
  WindowSystem* ws = media::window_system();
  return make_fixnum(ws && ws->frame().format() == gfx::Format::Index8 ? 8 : 32);
}
Value prim_has_depth(Value) { return kNil; }
Value prim_set_depth(Value) { return kNoValue; }

// The chooser, modal in the frame: the colour chosen, each byte c as
// c * 256; a cancel answers the colour it opened with.
Value prim_choose_color(Value, Value, Value initial) {
  uint32_t start = 0;
  if (!initial.is_nil()) {
    media::Rgb16 c = colour_arg(initial);
    start = gfx::rgb(c.red >> 8, c.green >> 8, c.blue >> 8);
  }
  uint32_t chosen = start;
  if (WindowSystem* ws = media::window_system()) {
    DispatchDepthScope depth;
    if (auto answer = ws->choose_color(start, ws->desktop())) chosen = *answer;
  }
  auto part = [](uint32_t byte) { return make_fixnum(int32_t(byte * 256)); };
  return cons(part((chosen >> 16) & 0xFF), cons(part((chosen >> 8) & 0xFF), cons(part(chosen & 0xFF), kNil)));
}

// ---- Cursors -----------------------------------------------------------------------------

CursorMemory& cursor_memory() { return windows_state().cursor; }
#define g_cursor cursor_memory()

std::optional<CursorShape> standard_cursor(int32_t n) {
  switch (n) {
    case 0: return CursorShape::Arrow;
    case 1: return CursorShape::IBeam;
    case 2: return CursorShape::Cross;
    case 4: return CursorShape::Wait;
    case 11: return CursorShape::SizeWE;
    case 12: return CursorShape::SizeNS;
    case 13: return CursorShape::SizeNWSE;
    case 14: return CursorShape::SizeNESW;
    default: return std::nullopt;
  }
}

void forget_custom(WindowSystem& ws) {
  if (g_cursor.custom && ws.current_cursor() != g_cursor.custom) ws.destroy_cursor(g_cursor.custom);
  if (!ws.cursor_alive(g_cursor.custom)) g_cursor.custom = 0, g_cursor.custom_number = -1;
}

void show_number(WindowSystem& ws, int32_t n) {
  if (n == 0) {
    // The display count brought to exactly 0: the cursor shows.
    int count = ws.show_cursor(true);
    for (int guard = 0; count > 0 && guard < 1 << 20; ++guard) count = ws.show_cursor(false);
    for (int guard = 0; count < 0 && guard < 1 << 20; ++guard) count = ws.show_cursor(true);
  }
  if (auto shape = standard_cursor(n)) {
    ws.set_cursor(*shape);
    ws.set_cursor_label("");
    forget_custom(ws);
    if (g_cursor.custom == 0) g_cursor.custom_number = -1;
    return;
  }
  if (n == g_cursor.custom_number && ws.cursor_alive(g_cursor.custom)) {
    ws.use_cursor(g_cursor.custom);
    ws.set_cursor_label("CURS " + std::to_string(n));
    return;
  }
  std::vector<uint8_t> bytes;
  std::optional<platform::CursorImage> image;
  if (storage::resource_bytes(storage::fourcc("CURS"), int16_t(n), bytes)) image = cursor_from_curs(bytes, 16);
  platform::Handle made = image ? ws.create_cursor(*image) : 0;
  if (made == 0) {
    ws.set_cursor(CursorShape::Arrow);
    ws.set_cursor_label("");
    forget_custom(ws);
    return;
  }
  ws.use_cursor(made);
  ws.set_cursor_label("CURS " + std::to_string(n));
  forget_custom(ws);
  g_cursor.custom = made;
  g_cursor.custom_number = n;
}

void set_cursor_number(int32_t n) {
  g_cursor.chosen = n;
  if (WindowSystem* ws = media::window_system()) show_number(*ws, n);
}

// The watch while something long runs; the frame hears afterwards that
// the chosen cursor is to come back.
void watch_for_a_while(WindowSystem& ws) {
  if (ws.cursor_shape() != CursorShape::Wait) ws.set_cursor(CursorShape::Wait);
  if (!g_cursor.refresh_posted) {
    g_cursor.refresh_posted = true;
    ws.post(ws.desktop(), kCursorMessage);
  }
}

// The collector shows the watch while it runs, and the cursor the
// application chose comes back as it ends.
void on_collect(bool starting) {
  WindowSystem* ws = media::window_system();
  CursorMemory& c = g_cursor;
  if (!ws || !ws->cursor_shown()) return;
  if (starting) {
    if (ws->cursor_shape() != CursorShape::Wait) {
      ws->set_cursor(CursorShape::Wait);
      c.watch_while_collecting = true;
    }
    return;
  }
  if (!c.watch_while_collecting) return;
  c.watch_while_collecting = false;
  if (auto shape = standard_cursor(c.chosen))
    ws->set_cursor(*shape);
  else if (ws->cursor_alive(c.custom))
    ws->use_cursor(c.custom);
  else
    ws->set_cursor(CursorShape::Arrow);
}

Value prim_set_cursor(Value x) {
  // The application names its cursors; until it does, the name is unbound.
  Value name = intern_static("symbolic-cursor");
  if (symbol_value(name).is_no_value()) error(Err::Unbound, name);
  Value n = call_by_name(name, {x});
  set_cursor_number(int16_t(uint16_t(uint32_t(arg_int(n)) & 0xFFFF)));
  return kNoValue;
}
Value prim_show_arrow() {
  set_cursor_number(0);
  return kNoValue;
}
Value prim_show_watch() {
  set_cursor_number(4);
  if (WindowSystem* ws = media::window_system()) watch_for_a_while(*ws);
  return kNoValue;
}
Value prim_show_cursor() {
  if (WindowSystem* ws = media::window_system()) ws->show_cursor(true);
  return kNoValue;
}
Value prim_hide_cursor() {
  if (WindowSystem* ws = media::window_system()) ws->show_cursor(false);
  return kNoValue;
}

const NativeRow kAppearanceNatives[] = {
    TV_PRIM("get-depth", prim_get_depth, "(get-depth) the screen's bits per pixel"),
    TV_PRIM("has-depth", prim_has_depth, "(has-depth X) always nil"),
    TV_PRIM("set-depth", prim_set_depth, "(set-depth X) no effect"),
    TV_PRIM2("talven-choose-color", prim_choose_color, "(talven-choose-color X Y COLOUR) the colour chosen in the colour chooser (COLOUR when cancelled)"),
    TV_PRIM("set-cursor", prim_set_cursor, "(set-cursor NAME) shows the cursor that (symbolic-cursor NAME) numbers"),
    TV_PRIM("show-arrow", prim_show_arrow, "(show-arrow) shows the arrow, the cursor made visible"),
    TV_PRIM("show-watch", prim_show_watch, "(show-watch) shows the watch"),
    TV_PRIM("show-cursor", prim_show_cursor, "(show-cursor) raises the cursor's display count"),
    TV_PRIM("hide-cursor", prim_hide_cursor, "(hide-cursor) lowers the cursor's display count (hidden below 0)"),
};

}  // namespace

std::optional<platform::CursorImage> cursor_from_curs(std::span<const uint8_t> curs, int32_t size) {
  if (curs.size() < 68 || (size != 16 && size != 32)) return std::nullopt;
  platform::CursorImage c;
  c.width = c.height = size;
  size_t row = c.row_bytes();
  // Outside the 16 x 16 picture the cursor is transparent: AND ones, XOR zeros.
  c.and_mask.assign(row * size_t(size), 0xFF);
  c.xor_mask.assign(row * size_t(size), 0x00);
  for (int y = 0; y < 16; ++y) {
    uint16_t image = uint16_t((curs[size_t(2 * y)] << 8) | curs[size_t(2 * y + 1)]);
    uint16_t mask = uint16_t((curs[size_t(32 + 2 * y)] << 8) | curs[size_t(32 + 2 * y + 1)]);
    uint16_t and_row = uint16_t(~mask), xor_row = uint16_t(image ^ mask);
    c.and_mask[size_t(y) * row] = uint8_t(and_row >> 8);
    c.and_mask[size_t(y) * row + 1] = uint8_t(and_row);
    c.xor_mask[size_t(y) * row] = uint8_t(xor_row >> 8);
    c.xor_mask[size_t(y) * row + 1] = uint8_t(xor_row);
  }
  int16_t v = int16_t((curs[64] << 8) | curs[65]), h = int16_t((curs[66] << 8) | curs[67]);
  c.hot = {std::clamp<int32_t>(h, 0, size - 1), std::clamp<int32_t>(v, 0, size - 1)};
  return c;
}

void register_appearance(Value window_class) {
  register_natives(kAppearanceNatives);
  auto reg = [window_class](const char* name, NativeFn fn, uint32_t n, const char* doc) {
    objects::register_native_method(window_class, name, fn, n, doc);
  };
  reg("set-fore-color", &native_entry<m_set_fore_color>, 1, "(set-fore-color COLOUR) the window's foreground (pen and text) colour, (RED GREEN BLUE) each 0 to 65535; no value");
  reg("set-back-color", &native_entry<m_set_back_color>, 1, "(set-back-color COLOUR) the window's background colour, also behind opaque text; no value");
  reg("get-fore-color", &native_entry<m_get_fore_color>, 0, "(get-fore-color) the window's foreground colour as (RED GREEN BLUE)");
  reg("get-back-color", &native_entry<m_get_back_color>, 0, "(get-back-color) the window's background colour as (RED GREEN BLUE)");
  // The face colour of the window system's controls, each byte c as c * 257.
  uint32_t face = WindowSystem::kFaceColor;
  auto part = [](uint32_t byte) { return make_fixnum(int32_t(byte * 257)); };
  set_symbol_value(intern_static("Background-Color"),
                   cons(part((face >> 16) & 0xFF), cons(part((face >> 8) & 0xFF), cons(part(face & 0xFF), kNil))));
  intern_static("symbolic-cursor");
  rt().hooks.collecting = on_collect;
}

bool cursor_message(WindowSystem& ws, const platform::Message& m) {
  if (m.message != kCursorMessage) return false;
  g_cursor.refresh_posted = false;
  show_number(ws, g_cursor.chosen);
  return true;
}

}  // namespace shell

#undef g_cursor
