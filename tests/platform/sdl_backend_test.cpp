// The desktop back-end on the host's display-less drivers: the host's
// events as our input events, the frame reaching the window in the
// rectangles that changed, repainting when uncovered, queued sound, the
// clipboard, and the choice of back-end.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/backend.hpp"
#include "platform/sdl_host.hpp"

#if TALVEN_HAVE_SDL
#include <SDL.h>

#include "platform/sdl_backend.hpp"
#endif

namespace platform {
namespace {

// Sets an environment variable for one test and puts it back after.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(BackendChoice, HeadlessWhenAskedOrWithoutADisplay) {
  ScopedEnv video("SDL_VIDEODRIVER", "dummy");
  {
    ScopedEnv display("DISPLAY", ":0"), wayland("WAYLAND_DISPLAY", nullptr);
    std::string note;
    BackendOptions options;
    options.headless = true, options.screen = {320, 200};
    auto b = make_backend(options, &note);
    auto* headless = dynamic_cast<HeadlessBackend*>(b.get());
    ASSERT_NE(headless, nullptr) << "asked for headless";
    EXPECT_EQ(headless->screen_size(), (Pt{320, 200}));
    EXPECT_TRUE(note.empty());
  }
  {
    ScopedEnv display("DISPLAY", ""), wayland("WAYLAND_DISPLAY", nullptr);
    EXPECT_FALSE(display_available()) << "an empty DISPLAY names nothing";
    std::string note;
    BackendOptions options;
    options.start = 0xFFFFFF00u;
    auto b = make_backend(options, &note);
    ASSERT_NE(dynamic_cast<HeadlessBackend*>(b.get()), nullptr);
    EXPECT_EQ(b->now(), 0xFFFFFF00u);
    EXPECT_TRUE(note.empty()) << "no display is no surprise";
    // The caller's own headless kind.
    struct Own : HeadlessBackend {
      using HeadlessBackend::HeadlessBackend;
    };
    options.screen = {50, 40};
    options.make_headless = [](Pt s, Tick t) { return std::make_unique<Own>(s, t); };
    b = make_backend(options);
    ASSERT_NE(dynamic_cast<Own*>(b.get()), nullptr);
    EXPECT_EQ(b->screen_size(), (Pt{50, 40}));
  }
}

TEST(BackendChoice, DesktopWhenBuiltAndADisplayIsThere) {
  ScopedEnv display("DISPLAY", nullptr), wayland("WAYLAND_DISPLAY", "wayland-9");
  ASSERT_TRUE(display_available());
  {
    ScopedEnv video("SDL_VIDEODRIVER", "dummy");
    std::string note;
    auto b = make_backend({}, &note);
    if (desktop_built()) {
      EXPECT_EQ(dynamic_cast<HeadlessBackend*>(b.get()), nullptr);
      EXPECT_TRUE(note.empty()) << note;
    } else {
      EXPECT_NE(dynamic_cast<HeadlessBackend*>(b.get()), nullptr);
      EXPECT_NE(note.find("headless"), std::string::npos);
    }
  }
  {
    // A display that cannot be opened: headless, saying why.
    ScopedEnv video("SDL_VIDEODRIVER", "no-such-driver");
    std::string note;
    auto b = make_backend({}, &note);
    EXPECT_NE(dynamic_cast<HeadlessBackend*>(b.get()), nullptr);
    EXPECT_NE(note.find("running headless"), std::string::npos) << note;
  }
}

#if TALVEN_HAVE_SDL

class SdlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    backend_ = SdlBackend::create(&error_);
    ASSERT_NE(backend_, nullptr) << error_;
    ASSERT_TRUE(backend_->open_frame("t\xE9st", {64, 48}));
    window_ = backend_->window();
    ASSERT_NE(window_, nullptr);
    std::vector<InputEvent> drop;
    backend_->poll(drop);  // what the host says about the new window
  }

  std::vector<InputEvent> poll() {
    std::vector<InputEvent> out;
    backend_->poll(out);
    return out;
  }

  static void push_key(bool down, SDL_Scancode scancode, SDL_Keycode sym, uint16_t mod) {
    SDL_Event e{};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.scancode = scancode;
    e.key.keysym.sym = sym;
    e.key.keysym.mod = mod;
    SDL_PushEvent(&e);
  }
  static void push_text(const char* utf8) {
    SDL_Event e{};
    e.type = SDL_TEXTINPUT;
    SDL_strlcpy(e.text.text, utf8, sizeof e.text.text);
    SDL_PushEvent(&e);
  }
  void push_button(bool down, uint8_t button, int x, int y) {
    SDL_Event e{};
    e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    e.button.windowID = SDL_GetWindowID(window_);
    e.button.button = button;
    e.button.x = x, e.button.y = y;
    SDL_PushEvent(&e);
  }
  void push_window(uint8_t event, uint32_t id = 0) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.windowID = id ? id : SDL_GetWindowID(window_);
    e.window.event = event;
    SDL_PushEvent(&e);
  }
  // The colour the window shows at (x, y).
  uint32_t window_pixel(int x, int y) {
    SDL_Surface* s = SDL_GetWindowSurface(window_);
    if (!s || x < 0 || y < 0 || x >= s->w || y >= s->h) return 0xDEAD;
    const uint8_t* p = static_cast<const uint8_t*>(s->pixels) + y * s->pitch + x * s->format->BytesPerPixel;
    uint32_t v = 0;
    SDL_memcpy(&v, p, s->format->BytesPerPixel);
    uint8_t r, g, b;
    SDL_GetRGB(v, s->format, &r, &g, &b);
    return gfx::rgb(r, g, b);
  }

  ScopedEnv video_{"SDL_VIDEODRIVER", "dummy"}, audio_{"SDL_AUDIODRIVER", "dummy"};
  std::string error_;
  std::unique_ptr<SdlBackend> backend_;
  SDL_Window* window_ = nullptr;
};

using Kind = InputEvent::Kind;

TEST_F(SdlTest, KeysCarryVirtualCodesTheirTextAndTheModifiers) {
  push_key(true, SDL_SCANCODE_A, SDLK_a, KMOD_NONE);
  push_text("a");
  push_key(false, SDL_SCANCODE_A, SDLK_a, KMOD_NONE);
  push_key(true, SDL_SCANCODE_KP_1, SDLK_KP_1, KMOD_NUM);
  push_text("1");
  push_key(true, SDL_SCANCODE_KP_1, SDLK_END, KMOD_NONE);
  push_key(true, SDL_SCANCODE_HOME, SDLK_HOME, KMOD_NONE);
  push_key(true, SDL_SCANCODE_KP_ENTER, SDLK_KP_ENTER, KMOD_NONE);
  push_key(true, SDL_SCANCODE_LSHIFT, SDLK_LSHIFT, KMOD_LSHIFT);
  push_key(true, SDL_SCANCODE_E, SDLK_e, KMOD_LSHIFT);
  push_text("\xC3\x89");  // an E with acute, in code page 1252 0xC9
  push_key(false, SDL_SCANCODE_LSHIFT, SDLK_LSHIFT, KMOD_NONE);
  push_key(true, SDL_SCANCODE_RCTRL, SDLK_RCTRL, KMOD_RCTRL);
  push_key(true, SDL_SCANCODE_C, SDLK_c, KMOD_RCTRL);  // no text: the window system translates
  push_key(false, SDL_SCANCODE_RCTRL, SDLK_RCTRL, KMOD_NONE);
  push_key(true, SDL_SCANCODE_UNKNOWN, SDLK_UNKNOWN, KMOD_NONE);  // no virtual key: dropped
  auto events = poll();
  struct Want { Kind kind; uint16_t vk; bool extended; uint32_t keys; std::string text; };
  std::vector<Want> want = {
      {Kind::KeyDown, 'A', false, 0, "a"},
      {Kind::KeyUp, 'A', false, 0, ""},
      {Kind::KeyDown, 0x61, false, 0, "1"},
      {Kind::KeyDown, host::vk::End, false, 0, ""},
      {Kind::KeyDown, host::vk::Home, true, 0, ""},
      {Kind::KeyDown, host::vk::Return, true, 0, ""},
      {Kind::KeyDown, host::vk::Shift, false, kShift, ""},
      {Kind::KeyDown, 'E', false, kShift, "\xC9"},
      {Kind::KeyUp, host::vk::Shift, false, 0, ""},
      {Kind::KeyDown, host::vk::Control, true, kControl, ""},
      {Kind::KeyDown, 'C', false, kControl, ""},
      {Kind::KeyUp, host::vk::Control, true, 0, ""},
  };
  ASSERT_EQ(events.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(events[i].kind, want[i].kind) << i;
    EXPECT_EQ(events[i].vk, want[i].vk) << i;
    EXPECT_EQ(events[i].extended, want[i].extended) << i;
    EXPECT_EQ(events[i].keys, want[i].keys) << i;
    EXPECT_EQ(events[i].text, want[i].text) << i;
  }
}

TEST_F(SdlTest, TextWithoutItsOwnKeyComesAsTypedCharacters) {
  push_key(true, SDL_SCANCODE_A, SDLK_a, KMOD_NONE);
  push_key(false, SDL_SCANCODE_A, SDLK_a, KMOD_NONE);
  push_text("\xE2\x82\xAC\xE2\x98\x83x");  // euro, a snowman the page lacks, x
  auto events = poll();
  ASSERT_EQ(events.size(), 6u);
  EXPECT_TRUE(events[0].text.empty()) << "the text came after the key was up";
  const char expected[] = {'\x80', 'x'};
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(events[2 + 2 * i].kind, Kind::KeyDown);
    EXPECT_EQ(events[2 + 2 * i].vk, host::vk::Packet);
    EXPECT_EQ(events[2 + 2 * i].text, std::string(1, expected[i]));
    EXPECT_EQ(events[3 + 2 * i].kind, Kind::KeyUp);
  }

  // A key typing several characters: the first is the key's own.
  push_key(true, SDL_SCANCODE_E, SDLK_e, KMOD_NONE);
  push_text("\xC2\xB4x");
  events = poll();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].text, "\xB4");
  EXPECT_EQ(events[1].text, "x");

  // The right Alt key typing a character of its own is AltGr: Control with
  // Alt, so that the window system makes it a character, not a menu key.
  push_key(true, SDL_SCANCODE_RALT, SDLK_RALT, KMOD_RALT);
  push_key(true, SDL_SCANCODE_Q, SDLK_q, KMOD_RALT);
  push_text("@");
  push_key(true, SDL_SCANCODE_F, SDLK_f, KMOD_RALT);
  push_text("f");  // plain Alt on a layout without AltGr
  push_key(false, SDL_SCANCODE_F, SDLK_f, KMOD_RALT);
  push_text("\xC3\xB1");  // composed with AltGr and come alone: a character too
  events = poll();
  ASSERT_EQ(events.size(), 6u);
  EXPECT_EQ(events[1].keys, kAlt | kControl);
  EXPECT_EQ(events[1].text, "@");
  EXPECT_EQ(events[2].keys, kAlt);
  EXPECT_EQ(events[4].vk, host::vk::Packet);
  EXPECT_EQ(events[4].keys, kAlt | kControl);
  EXPECT_EQ(events[4].text, "\xF1");
}

TEST_F(SdlTest, MouseButtonsMovesAndCloseRequests) {
  push_key(true, SDL_SCANCODE_LCTRL, SDLK_LCTRL, KMOD_LCTRL);
  SDL_Event move{};
  move.type = SDL_MOUSEMOTION;
  move.motion.windowID = SDL_GetWindowID(window_);
  move.motion.x = 10, move.motion.y = 20;
  SDL_PushEvent(&move);
  push_button(true, SDL_BUTTON_RIGHT, 5, 6);
  push_button(true, SDL_BUTTON_LEFT, 5, 7);
  push_button(true, SDL_BUTTON_X1, 5, 7);  // no such button here
  push_button(false, SDL_BUTTON_RIGHT, 6, 7);
  push_button(false, SDL_BUTTON_LEFT, 63, 47);
  push_window(SDL_WINDOWEVENT_CLOSE, SDL_GetWindowID(window_) + 100);  // another window
  push_window(SDL_WINDOWEVENT_CLOSE);
  SDL_Event quit{};
  quit.type = SDL_QUIT;
  SDL_PushEvent(&quit);
  auto events = poll();
  ASSERT_EQ(events.size(), 8u);
  EXPECT_EQ(events[1].kind, Kind::MouseMove);
  EXPECT_EQ(events[1].at, (Pt{10, 20}));
  EXPECT_EQ(events[1].keys, kControl);
  EXPECT_EQ(events[2].kind, Kind::ButtonDown);
  EXPECT_EQ(events[2].button, 1);
  EXPECT_EQ(events[2].keys, kControl | kRightButton);
  EXPECT_EQ(events[3].button, 0);
  EXPECT_EQ(events[3].keys, kControl | kRightButton | kLeftButton);
  EXPECT_EQ(events[4].kind, Kind::ButtonUp);
  EXPECT_EQ(events[4].at, (Pt{6, 7}));
  EXPECT_EQ(events[4].keys, kControl | kLeftButton);
  EXPECT_EQ(events[5].keys, kControl);
  EXPECT_EQ(events[6].kind, Kind::Close);
  EXPECT_EQ(events[7].kind, Kind::Close);
}

TEST_F(SdlTest, WaitingEndsWhenInputIsThereAndLeavesItQueued) {
  Tick start = backend_->now();
  backend_->wait_input(60);
  EXPECT_GE(Tick(backend_->now() - start), 40u) << "nothing came: the whole wait";
  EXPECT_TRUE(poll().empty());
  push_key(true, SDL_SCANCODE_B, SDLK_b, KMOD_NONE);
  start = backend_->now();
  backend_->wait_input(10000);
  EXPECT_LT(Tick(backend_->now() - start), 5000u) << "input was there";
  auto events = poll();
  ASSERT_EQ(events.size(), 1u) << "the wait took nothing away";
  EXPECT_EQ(events[0].vk, 'B');
  backend_->wait_input(0);
  start = backend_->now();
  backend_->sleep_until(start + 30);
  EXPECT_GE(Tick(backend_->now() - start), 30u);
  backend_->sleep_until(start);  // already past: at once
}

TEST_F(SdlTest, ChangedRectanglesReachTheWindowAndUncoveringRepaints) {
  constexpr uint32_t kRed = gfx::rgb(255, 0, 0), kBlue = gfx::rgb(0, 0, 255), kGreen = gfx::rgb(0, 255, 0);
  gfx::Surface frame(64, 48);
  frame.fill(kRed);
  Rect all = frame.bounds();
  backend_->present(frame, std::span<const Rect>(&all, 1));
  EXPECT_EQ(window_pixel(0, 0), kRed);
  EXPECT_EQ(window_pixel(63, 47), kRed);

  // Only what is said to have changed is copied.
  for (int y = 10; y < 20; ++y)
    for (int x = 10; x < 20; ++x) frame.set_pixel(x, y, kBlue);
  frame.set_pixel(40, 40, kGreen);
  Rect changed[] = {{10, 10, 20, 20}, {-5, -5, 0, 100}, {60, 40, 500, 500}};
  backend_->present(frame, changed);
  EXPECT_EQ(window_pixel(10, 10), kBlue);
  EXPECT_EQ(window_pixel(19, 19), kBlue);
  EXPECT_EQ(window_pixel(20, 19), kRed);
  EXPECT_EQ(window_pixel(40, 40), kRed) << "not presented yet";
  EXPECT_EQ(backend_->shown().color(40, 40), kRed);

  // Covered and uncovered: the window is repainted from what was shown.
  SDL_Surface* s = SDL_GetWindowSurface(window_);
  ASSERT_NE(s, nullptr);
  SDL_FillRect(s, nullptr, 0);
  ASSERT_EQ(window_pixel(15, 15), 0u);
  push_window(SDL_WINDOWEVENT_EXPOSED);
  EXPECT_TRUE(poll().empty());
  EXPECT_EQ(window_pixel(15, 15), kBlue);
  EXPECT_EQ(window_pixel(0, 0), kRed);
  EXPECT_EQ(window_pixel(40, 40), kRed);
}

TEST_F(SdlTest, AnEightBitFrameShowsThroughItsPalette) {
  gfx::Surface frame(64, 48, gfx::Format::Index8);
  frame.palette()[1] = gfx::rgb(10, 20, 30);
  frame.palette()[2] = gfx::rgb(200, 100, 50);
  frame.fill(1);
  frame.set_pixel(5, 5, 2);
  backend_->present(frame, {});
  EXPECT_EQ(window_pixel(0, 0), gfx::rgb(10, 20, 30)) << "a new frame is shown whole";
  EXPECT_EQ(window_pixel(5, 5), gfx::rgb(200, 100, 50));
  // A new palette changes every pixel's colour though no pixel changed.
  frame.palette()[1] = gfx::rgb(0, 0, 255);
  backend_->present(frame, {});
  EXPECT_EQ(window_pixel(63, 47), gfx::rgb(0, 0, 255));
  EXPECT_EQ(window_pixel(5, 5), gfx::rgb(200, 100, 50));
  // A frame of another size is shown whole too, and clipped to the window.
  gfx::Surface big(100, 100);
  big.fill(gfx::rgb(1, 2, 3));
  backend_->present(big, {});
  EXPECT_EQ(window_pixel(63, 47), gfx::rgb(1, 2, 3));
  gfx::Surface none;
  backend_->present(none, {});
  backend_->close_frame();
  EXPECT_EQ(backend_->window(), nullptr);
  backend_->present(big, {});  // nothing to show it in: kept for the next window
  ASSERT_TRUE(backend_->open_frame("again", {100, 100}));
  window_ = backend_->window();
  EXPECT_EQ(window_pixel(99, 99), gfx::rgb(1, 2, 3));
}

TEST_F(SdlTest, SoundQueuedDrainsThroughTheHost) {
  EXPECT_FALSE(backend_->audio_queue(std::vector<uint8_t>(8, 0x80))) << "before open";
  EXPECT_FALSE(backend_->audio_open({8000, 3, 8}));
  EXPECT_FALSE(backend_->audio_open({500, 1, 8}));
  ASSERT_TRUE(backend_->audio_open({8000, 1, 8}));
  ASSERT_TRUE(backend_->audio_queue(std::vector<uint8_t>(400, 0x80)));  // 50 ms
  EXPECT_LE(backend_->audio_pending(), 400u);
  ASSERT_TRUE(backend_->audio_open({8000, 1, 8})) << "the same format again keeps playing";
  Tick start = backend_->now();
  while (backend_->audio_pending() > 0 && backend_->now() - start < 5000) backend_->sleep_until(backend_->now() + 5);
  EXPECT_EQ(backend_->audio_pending(), 0u) << "drained within 5 s";

  ASSERT_TRUE(backend_->audio_open({44100, 2, 16}));
  EXPECT_FALSE(backend_->audio_queue(std::vector<uint8_t>(6, 0))) << "a frame and a half";
  EXPECT_TRUE(backend_->audio_queue(std::vector<uint8_t>(44100 * 4, 0)));
  EXPECT_GT(backend_->audio_pending(), 0u);
  backend_->audio_close();
  EXPECT_EQ(backend_->audio_pending(), 0u);
  EXPECT_FALSE(backend_->audio_queue(std::vector<uint8_t>(4, 0)));
}

TEST_F(SdlTest, ClipboardTextCrossesConvertedAndOursComesBackWhole) {
  backend_->set_clipboard_text("one\rtwo\r\ncaf\xE9");
  char* host = SDL_GetClipboardText();
  ASSERT_NE(host, nullptr);
  EXPECT_STREQ(host, "one\ntwo\ncaf\xC3\xA9");
  SDL_free(host);
  EXPECT_EQ(backend_->clipboard_text(), std::optional<std::string>("one\rtwo\r\ncaf\xE9"));

  ASSERT_EQ(SDL_SetClipboardText("a\nb\xE2\x98\x83 \xE2\x82\xAC"), 0);  // another program's
  EXPECT_EQ(backend_->clipboard_text(), std::optional<std::string>("a\r\nb? \x80"));
  ASSERT_EQ(SDL_SetClipboardText(""), 0);
  EXPECT_EQ(backend_->clipboard_text(), std::nullopt);
}

TEST_F(SdlTest, CursorsOfEveryKindAreAccepted) {
  for (CursorShape s : {CursorShape::Arrow, CursorShape::IBeam, CursorShape::Wait, CursorShape::Cross,
                        CursorShape::Hand, CursorShape::SizeAll, CursorShape::No, CursorShape::Custom,
                        CursorShape::Hidden, CursorShape::Arrow})
    backend_->set_cursor(s);
  CursorImage image;
  image.hot = {40, -3};  // outside: clamped
  image.and_mask.assign(image.row_bytes() * 16, 0xF0);
  image.xor_mask.assign(image.row_bytes() * 16, 0x3C);
  backend_->set_cursor_image(image);
  backend_->set_cursor_image(image);
  backend_->set_cursor(CursorShape::Custom);
  image.xor_mask.clear();
  backend_->set_cursor_image(image);  // refused: the arrow
  EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
  backend_->set_cursor(CursorShape::Hidden);
  EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
}

#endif  // TALVEN_HAVE_SDL

}  // namespace
}  // namespace platform
