#include "platform/sdl_backend.hpp"

#include <SDL.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>

#include "platform/sdl_api.hpp"
#include "platform/sdl_host.hpp"

namespace platform {

std::unique_ptr<SdlBackend> SdlBackend::create(std::string* error) {
  if (!load_sdl(error)) return nullptr;
  // The runtime keeps its own signal handling, and the frame is ours to
  // close: the last window closing is a request like any other.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
  SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
  SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
  SDL_SetHint(SDL_HINT_APP_NAME, "talven");
  // The display the environment names, and only that: with no Wayland
  // display named, SDL is not sent probing for one (which complains on
  // standard error), and its window-less fallbacks (offscreen, dummy) are a
  // failure here unless the user asked for them by name.
  const char* asked = std::getenv("SDL_VIDEODRIVER");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((asked == nullptr || *asked == 0) && (wayland == nullptr || *wayland == 0))
    SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
  auto fail = [error](std::string why) -> std::unique_ptr<SdlBackend> {
    if (error) *error = std::move(why);
    if (SDL_WasInit(SDL_INIT_EVERYTHING) == 0) SDL_Quit();
    return nullptr;
  };
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return fail(SDL_GetError());
  const char* current = SDL_GetCurrentVideoDriver();
  std::string_view name = current ? current : "";
  if ((name == "offscreen" || name == "dummy") && (asked == nullptr || name != asked)) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return fail("the display could not be opened");
  }
  // On X the pixels go straight to the window (shared memory images),
  // never through a renderer. Other drivers have no such window surface
  // and present through SDL's renderer, at the window's own size.
  if (const char* driver = SDL_GetCurrentVideoDriver(); driver && std::string_view(driver) == "x11")
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  return std::unique_ptr<SdlBackend>(new SdlBackend());
}

SdlBackend::~SdlBackend() {
  audio_close();
  if (audio_started_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
  if (window_) SDL_DestroyWindow(window_);
  for (MadeCursor& m : made_cursors_) SDL_FreeCursor(m.cursor);
  for (SDL_Cursor* c : system_cursors_)
    if (c) SDL_FreeCursor(c);
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
  if (SDL_WasInit(SDL_INIT_EVERYTHING) == 0) SDL_Quit();
}

// The screen.

Pt SdlBackend::screen_size() {
  int display = window_ ? std::max(SDL_GetWindowDisplayIndex(window_), 0) : 0;
  SDL_Rect r;
  if (SDL_GetDisplayUsableBounds(display, &r) == 0 && r.w > 0 && r.h > 0) return {r.w, r.h};
  SDL_DisplayMode m;
  if (SDL_GetDesktopDisplayMode(display, &m) == 0 && m.w > 0 && m.h > 0) return {m.w, m.h};
  return {1024, 768};
}

int SdlBackend::screen_depth() {
  SDL_DisplayMode m;
  if (SDL_GetDesktopDisplayMode(0, &m) != 0) return 32;
  int bits = int(SDL_BITSPERPIXEL(m.format));
  return bits >= 24 || bits <= 0 ? 32 : bits;
}

bool SdlBackend::open_frame(std::string_view title, Pt client) {
  title_ = title;
  int w = std::clamp(client.x, 1, gfx::Surface::kMaxSide), h = std::clamp(client.y, 1, gfx::Surface::kMaxSide);
  std::string utf8 = text::cp1252_to_utf8(title);
  if (window_) {
    SDL_SetWindowTitle(window_, utf8.c_str());
    SDL_SetWindowSize(window_, w, h);
    repaint();
    return true;
  }
  window_ = SDL_CreateWindow(utf8.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, w, h, SDL_WINDOW_SHOWN);
  if (!window_) return false;
  SDL_StartTextInput();
  repaint();
  return true;
}

void SdlBackend::set_title(std::string_view title) {
  title_ = title;
  if (window_) SDL_SetWindowTitle(window_, text::cp1252_to_utf8(title).c_str());
}

void SdlBackend::close_frame() {
  if (!window_) return;
  SDL_StopTextInput();
  SDL_DestroyWindow(window_);
  window_ = nullptr;
}

// Presenting: the frame's changed rectangles are copied into our XRGB copy
// and from there into the window. An 8-bit frame whose palette changed is
// copied whole, since every pixel may show another colour.
void SdlBackend::present(const gfx::Surface& frame, std::span<const Rect> dirty) {
  bool indexed = frame.format() == gfx::Format::Index8;
  if (shown_.width() != frame.width() || shown_.height() != frame.height() || indexed != indexed_ ||
      (indexed && frame.palette() != palette_)) {
    shown_ = gfx::Surface(frame.width(), frame.height());
    indexed_ = indexed;
    palette_ = frame.palette();
    copy_to_shown(frame, frame.bounds());
    repaint();
    return;
  }
  std::vector<Rect> rects;
  rects.reserve(dirty.size());
  for (Rect r : dirty) {
    r = gfx::intersect(r, frame.bounds());
    if (r.empty()) continue;
    copy_to_shown(frame, r);
    rects.push_back(r);
  }
  show(rects);
}

void SdlBackend::copy_to_shown(const gfx::Surface& frame, Rect r) {
  r = gfx::intersect(r, frame.bounds());
  for (int32_t y = r.top; y < r.bottom; ++y) {
    uint32_t* to = shown_.row32(y) + r.left;
    if (frame.format() == gfx::Format::XRGB8888) {
      const uint32_t* from = frame.row32(y) + r.left;
      for (int32_t x = 0; x < r.width(); ++x) to[x] = from[x] & 0xFFFFFF;
    } else {
      const uint8_t* from = frame.row_bytes(y) + r.left;
      for (int32_t x = 0; x < r.width(); ++x) to[x] = palette_[from[x]] & 0xFFFFFF;
    }
  }
}

void SdlBackend::show(std::span<const Rect> rects) {
  if (!window_ || rects.empty() || shown_.width() == 0 || shown_.height() == 0) return;
  SDL_Surface* target = SDL_GetWindowSurface(window_);
  if (!target) return;
  SDL_Surface* source = SDL_CreateRGBSurfaceWithFormatFrom(shown_.row_bytes(0), shown_.width(), shown_.height(), 32,
                                                           int(shown_.stride()), SDL_PIXELFORMAT_XRGB8888);
  if (!source) return;
  SDL_SetSurfaceBlendMode(source, SDL_BLENDMODE_NONE);
  std::vector<SDL_Rect> done;
  done.reserve(rects.size());
  SDL_Rect bounds{0, 0, 0, 0};
  for (const Rect& r : rects) {
    SDL_Rect from{r.left, r.top, r.width(), r.height()}, to = from;
    if (SDL_BlitSurface(source, &from, target, &to) != 0 || to.w <= 0 || to.h <= 0) continue;
    done.push_back(to);
    SDL_UnionRect(&bounds, &to, &bounds);
  }
  SDL_FreeSurface(source);
  // Many small rectangles cost more one by one than their bounds at once.
  if (done.size() > 64) done.assign(1, bounds);
  if (!done.empty()) SDL_UpdateWindowSurfaceRects(window_, done.data(), int(done.size()));
}

void SdlBackend::repaint() {
  Rect all = shown_.bounds();
  show(std::span<const Rect>(&all, 1));
}

// Input.

uint32_t SdlBackend::key_state() const {
  uint32_t keys = buttons_;
  if (mods_ & KMOD_SHIFT) keys |= kShift;
  if (mods_ & KMOD_CTRL) keys |= kControl;
  if (mods_ & KMOD_ALT) keys |= kAlt;
  return keys;
}

namespace {
constexpr size_t kNoTarget = SIZE_MAX;
}

// Text the host typed: its first character is the one of the key-down just
// before it, when there is one still without; the rest (and text with no
// key, from an input method) comes as characters typed without a key.
void SdlBackend::translate_text(const char* utf8, std::vector<InputEvent>& out, size_t target) {
  std::string chars;
  text::utf8_to_cp1252(utf8, chars, host::kTyped);
  size_t i = 0;
  if (!chars.empty() && target < out.size()) {
    InputEvent& key = out[target];
    key.text = chars.substr(0, 1);
    i = 1;
    // The right Alt key that types a character of its own is the layout's
    // AltGr, which the desktop reports as Control with Alt, so the key
    // types a character rather than choosing a menu.
    bool right_alt_only = (mods_ & KMOD_RALT) && !(mods_ & KMOD_LALT) && !(mods_ & KMOD_CTRL);
    if (right_alt_only) {
      int typed = std::tolower((unsigned char)chars[0]);
      bool plain = key.vk < 0x80 && typed == std::tolower(key.vk);
      if (!plain) key.keys |= kControl;
    }
  }
  for (; i < chars.size(); ++i) {
    InputEvent e;
    e.kind = InputEvent::Kind::KeyDown;
    e.vk = host::vk::Packet;
    // Typed text is never a menu key, whatever Alt key composed it.
    e.keys = key_state();
    if (e.keys & kAlt) e.keys |= kControl;
    e.text = chars.substr(i, 1);
    e.time = now();
    out.push_back(e);
    e.kind = InputEvent::Kind::KeyUp;
    e.text.clear();
    out.push_back(e);
  }
}

void SdlBackend::poll(std::vector<InputEvent>& out) {
  SDL_Event e;
  size_t text_target = kNoTarget;
  while (SDL_PollEvent(&e)) {
    if (e.type != SDL_TEXTINPUT && e.type != SDL_TEXTEDITING) text_target = kNoTarget;
    InputEvent ie;
    ie.time = e.common.timestamp;
    switch (e.type) {
      case SDL_QUIT:
        ie.kind = InputEvent::Kind::Close;
        out.push_back(ie);
        break;
      case SDL_WINDOWEVENT:
        if (!window_ || e.window.windowID != SDL_GetWindowID(window_)) break;
        switch (e.window.event) {
          case SDL_WINDOWEVENT_CLOSE:
            ie.kind = InputEvent::Kind::Close;
            out.push_back(ie);
            break;
          case SDL_WINDOWEVENT_EXPOSED:
          case SDL_WINDOWEVENT_SHOWN:
          case SDL_WINDOWEVENT_RESTORED:
          case SDL_WINDOWEVENT_SIZE_CHANGED:
            repaint();
            break;
          default:
            break;
        }
        break;
      case SDL_MOUSEMOTION:
        ie.kind = InputEvent::Kind::MouseMove;
        ie.at = {e.motion.x, e.motion.y};
        ie.keys = key_state();
        out.push_back(ie);
        break;
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEBUTTONUP: {
        bool down = e.type == SDL_MOUSEBUTTONDOWN;
        uint32_t bit;
        switch (e.button.button) {
          case SDL_BUTTON_LEFT: ie.button = 0, bit = kLeftButton; break;
          case SDL_BUTTON_RIGHT: ie.button = 1, bit = kRightButton; break;
          case SDL_BUTTON_MIDDLE: ie.button = 2, bit = kMiddleButton; break;
          default: bit = 0; break;
        }
        if (!bit) break;
        buttons_ = down ? buttons_ | bit : buttons_ & ~bit;
        ie.kind = down ? InputEvent::Kind::ButtonDown : InputEvent::Kind::ButtonUp;
        ie.at = {e.button.x, e.button.y};
        ie.keys = key_state();
        out.push_back(ie);
        break;
      }
      case SDL_KEYDOWN:
      case SDL_KEYUP: {
        const SDL_Keysym& k = e.key.keysym;
        mods_ = k.mod;
        host::VirtualKey v = host::virtual_key(uint32_t(k.scancode), k.sym, (k.mod & KMOD_NUM) != 0);
        if (!v.code) break;
        ie.kind = e.type == SDL_KEYDOWN ? InputEvent::Kind::KeyDown : InputEvent::Kind::KeyUp;
        ie.vk = v.code;
        ie.extended = v.extended;
        ie.keys = key_state();
        out.push_back(ie);
        if (e.type == SDL_KEYDOWN) text_target = out.size() - 1;
        break;
      }
      case SDL_TEXTINPUT:
        translate_text(e.text.text, out, text_target);
        text_target = kNoTarget;
        break;
      case SDL_AUDIODEVICEREMOVED:
        if (!e.adevice.iscapture && audio_device_ && e.adevice.which == audio_device_) audio_lost_ = true;
        break;
      default:
        break;
    }
  }
}

void SdlBackend::wait_input(Tick max_ms) {
  if (max_ms == 0) return;
  SDL_WaitEventTimeout(nullptr, int(std::min<Tick>(max_ms, INT_MAX)));
}

Tick SdlBackend::now() { return SDL_GetTicks(); }

void SdlBackend::sleep_until(Tick t) {
  Tick n = now();
  if (!tick_reached(n, t)) SDL_Delay(t - n);
}

// Cursors.

void SdlBackend::set_cursor(CursorShape shape) {
  if (shape == CursorShape::Hidden) {
    SDL_ShowCursor(SDL_DISABLE);
    return;
  }
  SDL_Cursor* c = nullptr;
  if (shape == CursorShape::Custom && custom_cursor_) {
    c = custom_cursor_;
  } else {
    static constexpr SDL_SystemCursor kSystem[11] = {
        SDL_SYSTEM_CURSOR_ARROW,  SDL_SYSTEM_CURSOR_IBEAM,  SDL_SYSTEM_CURSOR_WAIT,     SDL_SYSTEM_CURSOR_CROSSHAIR,
        SDL_SYSTEM_CURSOR_HAND,   SDL_SYSTEM_CURSOR_SIZEALL, SDL_SYSTEM_CURSOR_NO,      SDL_SYSTEM_CURSOR_SIZEWE,
        SDL_SYSTEM_CURSOR_SIZENS, SDL_SYSTEM_CURSOR_SIZENWSE, SDL_SYSTEM_CURSOR_SIZENESW};
    size_t i = size_t(shape);
    if (i >= system_cursors_.size()) i = 0;
    if (!system_cursors_[i]) system_cursors_[i] = SDL_CreateSystemCursor(kSystem[i]);
    c = system_cursors_[i];
  }
  if (c) SDL_SetCursor(c);
  SDL_ShowCursor(SDL_ENABLE);
}

void SdlBackend::set_cursor_image(const CursorImage& image) {
  auto same = [&](const MadeCursor& m) {
    return m.image.width == image.width && m.image.height == image.height && m.image.hot == image.hot &&
           m.image.and_mask == image.and_mask && m.image.xor_mask == image.xor_mask;
  };
  auto it = std::find_if(made_cursors_.begin(), made_cursors_.end(), same);
  SDL_Cursor* c = nullptr;
  if (it != made_cursors_.end()) {
    c = it->cursor;
    std::rotate(it, it + 1, made_cursors_.end());
  } else {
    host::HostCursor bits;
    if (host::host_cursor(image, bits))
      c = SDL_CreateCursor(bits.data.data(), bits.mask.data(), bits.width, bits.height,
                           std::clamp(image.hot.x, 0, image.width - 1), std::clamp(image.hot.y, 0, image.height - 1));
    if (!c) {
      set_cursor(CursorShape::Arrow);
      return;
    }
    constexpr size_t kKept = 16;
    if (made_cursors_.size() == kKept) {
      // The oldest goes; it is never the one showing, which is the latest.
      SDL_FreeCursor(made_cursors_.front().cursor);
      made_cursors_.erase(made_cursors_.begin());
    }
    made_cursors_.push_back({image, c});
  }
  custom_cursor_ = c;
  SDL_SetCursor(c);
  SDL_ShowCursor(SDL_ENABLE);
}

// Sound: the host converts our format and rate to its device's as it plays.
bool SdlBackend::audio_open(const WaveFormat& format) {
  if (!format.valid()) return false;
  if (audio_device_ && !audio_lost_ && format.rate == audio_format_.rate &&
      format.channels == audio_format_.channels && format.bits == audio_format_.bits)
    return true;
  audio_close();
  if (!audio_started_) {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    audio_started_ = true;
  }
  SDL_AudioSpec want{}, have{};
  want.freq = int(format.rate);
  want.format = format.bits == 8 ? AUDIO_U8 : AUDIO_S16LSB;
  want.channels = uint8_t(format.channels);
  uint16_t samples = 256;  // about 25 ms a buffer
  while (samples < 8192 && samples < format.rate / 40) samples = uint16_t(samples * 2);
  want.samples = samples;
  want.callback = nullptr;  // queued, never called back
  audio_device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (!audio_device_) return false;
  audio_format_ = format;
  audio_lost_ = false;
  SDL_PauseAudioDevice(audio_device_, 0);
  return true;
}

bool SdlBackend::audio_queue(std::span<const uint8_t> pcm) {
  if (!audio_device_ || audio_lost_ || pcm.size() % audio_format_.frame_bytes() != 0) return false;
  constexpr size_t kChunk = size_t(1) << 24;
  for (size_t at = 0; at < pcm.size(); at += kChunk) {
    size_t n = std::min(kChunk, pcm.size() - at);
    if (SDL_QueueAudio(audio_device_, pcm.data() + at, Uint32(n)) != 0) return false;
  }
  return true;
}

// A device that went away plays nothing more: nothing is pending.
size_t SdlBackend::audio_pending() {
  if (!audio_device_ || audio_lost_) return 0;
  return SDL_GetQueuedAudioSize(audio_device_);
}

void SdlBackend::audio_close() {
  if (audio_device_) SDL_CloseAudioDevice(audio_device_);
  audio_device_ = 0;
  audio_lost_ = false;
}

// The clipboard.

// No text there (or none but empty) is none: the window system then answers
// from its own store. Asking once is one round trip to the X server.
std::optional<std::string> SdlBackend::clipboard_text() {
  char* text = SDL_GetClipboardText();
  if (!text) return std::nullopt;
  std::string utf8 = text;
  SDL_free(text);
  if (utf8.empty()) return std::nullopt;
  if (!clipboard_host_.empty() && utf8 == clipboard_host_) return clipboard_mine_;
  return host::clipboard_from_host(utf8);
}

void SdlBackend::set_clipboard_text(std::string_view cp1252) {
  std::string utf8 = host::clipboard_to_host(cp1252);
  if (SDL_SetClipboardText(utf8.c_str()) == 0) {
    clipboard_mine_ = cp1252;
    clipboard_host_ = utf8;
  } else {
    clipboard_mine_.clear();
    clipboard_host_.clear();
  }
}

}  // namespace platform
