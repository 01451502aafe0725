#include <cstdio>
#include <unistd.h>

#include <cstring>

#include "platform/backend.hpp"
#include "platform/gfx/png.hpp"
#include "platform/window.hpp"

namespace platform {

bool HeadlessBackend::open_frame(std::string_view title, Pt client) {
  title_ = title;
  open_ = true;
  shown_ = gfx::Surface(std::clamp(client.x, 0, gfx::Surface::kMaxSide), std::clamp(client.y, 0, gfx::Surface::kMaxSide));
  return true;
}

void HeadlessBackend::present(const gfx::Surface& frame, std::span<const Rect> dirty) {
  ++presents_;
  if (shown_.width() != frame.width() || shown_.height() != frame.height() || shown_.format() != frame.format()) {
    shown_ = frame;
    return;
  }
  for (Rect r : dirty) {
    r = gfx::intersect(r, frame.bounds());
    if (r.empty()) continue;
    size_t bpp = size_t(frame.bytes_per_pixel());
    for (int32_t y = r.top; y < r.bottom; ++y)
      std::copy_n(frame.row_bytes(y) + size_t(r.left) * bpp, size_t(r.width()) * bpp,
                  shown_.row_bytes(y) + size_t(r.left) * bpp);
  }
  shown_.palette() = frame.palette();
}

void HeadlessBackend::poll(std::vector<InputEvent>& out) {
  while (!script_.empty()) {
    InputEvent e = std::move(script_.front());
    script_.pop_front();
    out.push_back(std::move(e));
  }
}

// Nothing can arrive while waiting: the wait is the time passing, or,
// when a script drives the run, its next action.
void HeadlessBackend::wait_input(Tick max_ms) {
  if (!script_.empty()) return;
  if (input_) {
    step_script(max_ms);
    return;
  }
  clock_ += max_ms;
}

bool HeadlessBackend::input_exhausted() {
  return script_.empty() && (!input_ || (next_action_ >= input_->actions.size() && !menu_action_));
}

void HeadlessBackend::run_script(InputScript script, WindowSystem& ws) {
  input_ = std::move(script);
  ws_ = &ws;
  next_action_ = 0, waiting_ = false, wait_left_ = 0, idle_after_ = 0;
  menu_action_ = nullptr;
}

bool HeadlessBackend::script_finished() {
  return input_ && input_exhausted() && idle_after_ >= 60000;
}

void HeadlessBackend::script_fault(const ScriptAction& a, const std::string& what) const {
  std::fprintf(stderr, "talven: %s:%d: %s\n", input_->name.c_str(), a.line, what.c_str());
}

Pt HeadlessBackend::on_frame(Pt p) const {
  Rect desk = ws_->screen_client(ws_->desktop());
  return {p.x + desk.left, p.y + desk.top};
}

namespace {

std::string cursor_name(CursorShape shape, const std::string& label) {
  switch (shape) {
    case CursorShape::Arrow: return "arrow";
    case CursorShape::IBeam: return "ibeam";
    case CursorShape::Wait: return "watch";
    case CursorShape::Cross: return "cross";
    case CursorShape::Hand: return "hand";
    case CursorShape::SizeAll: return "size-all";
    case CursorShape::No: return "no";
    case CursorShape::SizeWE: return "size-we";
    case CursorShape::SizeNS: return "size-ns";
    case CursorShape::SizeNWSE: return "size-nwse";
    case CursorShape::SizeNESW: return "size-nesw";
    case CursorShape::Custom: return label.empty() ? "custom" : label;
    case CursorShape::Hidden: return "hidden";
  }
  return "arrow";
}

// A menu item's label as a user reads it: no '&' marks, no right-hand part.
std::string shown_label(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size() && text[i] != '\t'; ++i) {
    if (text[i] == '&' && !(i + 1 < text.size() && text[i + 1] == '&')) continue;
    if (text[i] == '&') ++i;
    out += text[i];
  }
  return out;
}

std::optional<size_t> item_named(const WindowSystem& ws, Handle menu, const std::string& label) {
  for (size_t i = 0; i < ws.menu_item_count(menu); ++i)
    if (shown_label(ws.menu_item(menu, i)->text) == label) return i;
  return std::nullopt;
}

Pt centre(Rect r) { return {(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

// The keys a character is typed with.
uint16_t key_of(uint8_t c, uint32_t& keys) {
  if (c >= 'a' && c <= 'z') return uint16_t(c - 'a' + 'A');
  if (c >= 'A' && c <= 'Z') {
    keys |= kShift;
    return c;
  }
  if ((c >= '0' && c <= '9') || c == ' ') return c;
  return 0;
}

bool write_part(const gfx::Surface& s, Rect area, const std::string& path, std::string* error) {
  area = gfx::intersect(area, s.bounds());
  gfx::Surface part(std::max(area.width(), 1), std::max(area.height(), 1), s.format());
  part.palette() = s.palette();
  size_t bpp = size_t(s.bytes_per_pixel());
  for (int32_t y = 0; y < area.height(); ++y)
    std::memcpy(part.row_bytes(y), s.row_bytes(area.top + y) + size_t(area.left) * bpp, size_t(area.width()) * bpp);
  return gfx::write_png(part, path, error);
}

}  // namespace

void HeadlessBackend::step_script(Tick max_ms) {
  const std::vector<ScriptAction>& actions = input_->actions;
  // A menu being chosen goes on inside the bar's tracking: the next click
  // is on the item of the pop-up now open.
  if (menu_action_) {
    const ScriptAction& a = *menu_action_;
    // An item's label may have spaces: the shortest run of the words left
    // that names an item is the item.
    std::string label = a.path[menu_depth_];
    size_t last = menu_depth_;
    std::optional<size_t> item = ws_->tracking_menu() ? item_named(*ws_, menu_open_, label) : std::nullopt;
    while (!item && ws_->tracking_menu() && last + 1 < a.path.size()) {
      label += " " + a.path[++last];
      item = item_named(*ws_, menu_open_, label);
    }
    std::optional<Rect> where = item ? ws_->open_menu_item_rect(menu_open_, *item) : std::nullopt;
    if (!where) {
      script_fault(a, "menu: no item '" + a.path[menu_depth_] + "' open to choose");
      menu_action_ = nullptr;
      if (ws_->tracking_menu()) key(0x1B);
      return;
    }
    menu_open_ = ws_->menu_item(menu_open_, *item)->submenu;
    menu_depth_ = last;
    if (++menu_depth_ == a.path.size()) menu_action_ = nullptr;
    click(centre(*where));
    return;
  }
  while (next_action_ < actions.size()) {
    const ScriptAction& a = actions[next_action_];
    if (a.kind == ScriptAction::Kind::Wait) {
      if (!waiting_) waiting_ = true, wait_left_ = a.number;
      Tick step = std::min(max_ms, wait_left_);
      clock_ += step;
      wait_left_ -= step;
      if (wait_left_ == 0) waiting_ = false, ++next_action_;
      if (step > 0) return;
      continue;
    }
    ++next_action_;
    if (perform(a)) return;
  }
  clock_ += max_ms;
  idle_after_ += max_ms;
}

bool HeadlessBackend::perform(const ScriptAction& a) {
  using K = ScriptAction::Kind;
  switch (a.kind) {
    case K::Move: move(on_frame(a.at)); return true;
    case K::Press: press(on_frame(a.at), a.button, a.keys); return true;
    case K::Release: release(on_frame(a.at), a.button, a.keys); return true;
    case K::Click: click(on_frame(a.at), a.button, a.keys); return true;
    case K::Double:
      click(on_frame(a.at), 0, a.keys);
      click(on_frame(a.at), 0, a.keys);
      return true;
    case K::Drag: drag(on_frame(a.at), on_frame(a.to)); return true;
    case K::Key: key(a.vk, a.keys, a.extended); return true;
    case K::Type:
      for (char c : a.text) {
        uint32_t keys = 0;
        uint16_t vk = key_of(uint8_t(c), keys);
        key(vk, keys, false, std::string(1, c));
      }
      return !a.text.empty();
    case K::Wait: return false;
    case K::Screenshot:
    case K::ScreenshotFrame: {
      std::string error;
      bool ok = a.kind == K::Screenshot ? write_part(shown_, ws_->screen_client(ws_->desktop()), a.text, &error)
                                        : gfx::write_png(shown_, a.text, &error);
      if (!ok) script_fault(a, error);
      return false;
    }
    case K::Audio: {
      // The audio log so far, in the format the output was last opened in.
      std::string error;
      if (!write_wav(a.text, &error)) script_fault(a, error);
      return false;
    }
    case K::Menu: {
      Handle bar = ws_->menu_bar(ws_->active()) ? ws_->active() : ws_->desktop();
      std::optional<size_t> title = ws_->menu_bar(bar) ? item_named(*ws_, ws_->menu_bar(bar), a.path[0]) : std::nullopt;
      std::optional<Rect> where = title ? ws_->menu_title_rect(bar, *title) : std::nullopt;
      if (!where) {
        script_fault(a, "menu: no title '" + a.path[0] + "' in the menu bar");
        return false;
      }
      menu_action_ = &a;
      menu_depth_ = 1;
      menu_open_ = ws_->menu_item(ws_->menu_bar(bar), *title)->submenu;
      click(centre(*where));
      return true;
    }
    case K::Alert: script_alert_answer(int(a.number) - 1); return false;
    case K::Chooser:
      script_chooser_answer(a.number ? std::optional<uint32_t>(a.number & 0xFFFFFF) : std::nullopt);
      return false;
    case K::Cursor: {
      // The cursor as the user sees it, on standard output with what the
      // application printed.
      std::string name = ws_->cursor_shown() ? cursor_name(ws_->cursor_shape(), ws_->cursor_label()) : "hidden";
      std::fprintf(stdout, "cursor: %s\n", name.c_str());
      std::fflush(stdout);
      return false;
    }
    case K::Close: request_close(); return true;
    case K::Quit: ws_->post_quit(0); return true;
  }
  return false;
}

void HeadlessBackend::move(Pt at, uint32_t keys) {
  InputEvent e;
  // A move made while the script holds a button down is a drag.
  e.kind = InputEvent::Kind::MouseMove, e.at = at, e.keys = keys | held_;
  e.time = clock_;
  script_.push_back(e);
}

static uint32_t button_bit(uint8_t button) {
  return button == 0 ? kLeftButton : button == 1 ? kRightButton : kMiddleButton;
}

void HeadlessBackend::press(Pt at, uint8_t button, uint32_t keys) {
  InputEvent e;
  held_ |= button_bit(button);
  e.kind = InputEvent::Kind::ButtonDown, e.at = at, e.button = button, e.keys = keys | held_;
  e.time = clock_;
  script_.push_back(e);
}

void HeadlessBackend::release(Pt at, uint8_t button, uint32_t keys) {
  InputEvent e;
  held_ &= ~button_bit(button);
  e.kind = InputEvent::Kind::ButtonUp, e.at = at, e.button = button, e.keys = (keys | held_) & ~button_bit(button);
  e.time = clock_;
  script_.push_back(e);
}

void HeadlessBackend::click(Pt at, uint8_t button, uint32_t keys) {
  press(at, button, keys);
  release(at, button, keys);
}

void HeadlessBackend::drag(Pt from, Pt to, int steps) {
  press(from);
  steps = std::max(steps, 1);
  auto between = [&](int32_t a, int32_t b, int i) { return int32_t(a + (int64_t(b) - a) * i / steps); };
  for (int i = 1; i <= steps; ++i) move({between(from.x, to.x, i), between(from.y, to.y, i)}, kLeftButton);
  release(to);
}

void HeadlessBackend::key_down(uint16_t vk, uint32_t keys, bool extended, std::string text) {
  InputEvent e;
  e.kind = InputEvent::Kind::KeyDown, e.vk = vk, e.keys = keys, e.extended = extended, e.text = std::move(text);
  e.time = clock_;
  script_.push_back(std::move(e));
}

void HeadlessBackend::key_up(uint16_t vk, uint32_t keys, bool extended) {
  InputEvent e;
  e.kind = InputEvent::Kind::KeyUp, e.vk = vk, e.keys = keys, e.extended = extended;
  e.time = clock_;
  script_.push_back(e);
}

void HeadlessBackend::key(uint16_t vk, uint32_t keys, bool extended, std::string text) {
  key_down(vk, keys, extended, std::move(text));
  key_up(vk, keys, extended);
}

void HeadlessBackend::request_close() {
  InputEvent e;
  e.kind = InputEvent::Kind::Close;
  e.time = clock_;
  script_.push_back(e);
}

bool HeadlessBackend::screenshot(const std::string& path, std::string* error) const {
  return gfx::write_png(shown_, path, error);
}

// Audio plays in virtual time: what was queued drains at the format's byte
// rate as the clock moves.
bool HeadlessBackend::audio_open(const WaveFormat& format) {
  if (!format.valid()) return false;
  // The log holds one format: a new one starts it again, whether or not
  // the output was closed in between.
  if (format.rate != audio_format_.rate || format.channels != audio_format_.channels ||
      format.bits != audio_format_.bits)
    audio_log_.clear();
  audio_format_ = format;
  audio_open_ = true;
  audio_queued_ = 0;
  return true;
}

bool HeadlessBackend::audio_queue(std::span<const uint8_t> pcm) {
  if (!audio_open_ || pcm.size() % audio_format_.frame_bytes() != 0) return false;
  if (audio_pending() == 0) audio_queued_ = 0, audio_start_ = clock_;
  audio_queued_ += pcm.size();
  audio_log_.insert(audio_log_.end(), pcm.begin(), pcm.end());
  return true;
}

size_t HeadlessBackend::audio_pending() {
  if (!audio_open_) return 0;
  uint64_t played = uint64_t(uint32_t(clock_ - audio_start_)) * audio_format_.bytes_per_second() / 1000;
  played -= played % audio_format_.frame_bytes();
  return played >= audio_queued_ ? 0 : size_t(audio_queued_ - played);
}

void HeadlessBackend::audio_close() {
  audio_open_ = false;
  audio_queued_ = 0;
}

static void put_le(std::vector<uint8_t>& out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

// The log as a RIFF WAVE file, written beside the target and renamed over it.
bool HeadlessBackend::write_wav(const std::string& path, std::string* error) const {
  auto fail = [&](const std::string& why) {
    if (error) *error = path + ": " + why;
    return false;
  };
  if (audio_log_.size() > 0xFFFFFF00u - 44) return fail("audio log too long for a wave file");
  const WaveFormat& f = audio_format_;
  std::vector<uint8_t> out;
  out.reserve(44 + audio_log_.size());
  for (char c : std::string_view("RIFF")) out.push_back(uint8_t(c));
  put_le(out, uint32_t(36 + audio_log_.size()), 4);
  for (char c : std::string_view("WAVEfmt ")) out.push_back(uint8_t(c));
  put_le(out, 16, 4);
  put_le(out, 1, 2);  // PCM
  put_le(out, f.channels, 2);
  put_le(out, f.rate, 4);
  put_le(out, uint32_t(f.bytes_per_second()), 4);
  put_le(out, f.frame_bytes(), 2);
  put_le(out, f.bits, 2);
  for (char c : std::string_view("data")) out.push_back(uint8_t(c));
  put_le(out, uint32_t(audio_log_.size()), 4);
  out.insert(out.end(), audio_log_.begin(), audio_log_.end());
  std::string tmp = path + ".tmp";
  FILE* fp = std::fopen(tmp.c_str(), "wb");
  if (!fp) return fail("cannot write");
  bool ok = std::fwrite(out.data(), 1, out.size(), fp) == out.size();
  ok = std::fflush(fp) == 0 && ok;
  ok = fsync(fileno(fp)) == 0 && ok;
  ok = std::fclose(fp) == 0 && ok;
  if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
    std::remove(tmp.c_str());
    return fail("cannot write");
  }
  return true;
}

}  // namespace platform
