// A small program on the window system with the desktop back-end, driven
// from outside by sdl_smoke.py under a virtual X server. It shows one
// captioned window with a fixed drawing inside a 240 x 160 frame, and
// reports on standard output, one line each:
//   backend sdl | backend headless NOTE      which back-end it was given
//   ready LEFT TOP                          painted and shown; the frame is
//                                           written to argv[1] (PPM); LEFT
//                                           TOP is the client's origin
//   clipboard ok | clipboard bad TEXT       our text through the X clipboard
//   audio drained | audio failed            0.1 s of sound played out
//   down X Y BUTTON | key VK EXTENDED | char CODE
//                                           the messages its window received
//   close                                   the frame's close request (the
//                                           desktop window's message)
//   bye                                     the loop ended by the close
// The drawing never changes after "ready", so the screen can be compared.
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/window.hpp"

using namespace platform;

namespace {

constexpr Pt kFrame{240, 160};

void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::putchar('\n');
  std::fflush(stdout);
}

bool write_ppm(const gfx::Surface& s, const std::string& path) {
  std::string tmp = path + ".tmp";
  FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) return false;
  std::fprintf(f, "P6\n%d %d\n255\n", s.width(), s.height());
  std::vector<uint8_t> row(size_t(s.width()) * 3);
  for (int32_t y = 0; y < s.height(); ++y) {
    for (int32_t x = 0; x < s.width(); ++x) {
      uint32_t c = s.color(x, y);
      row[size_t(x) * 3] = uint8_t(c >> 16), row[size_t(x) * 3 + 1] = uint8_t(c >> 8), row[size_t(x) * 3 + 2] = uint8_t(c);
    }
    std::fwrite(row.data(), 1, row.size(), f);
  }
  bool ok = std::fclose(f) == 0;
  return ok && std::rename(tmp.c_str(), path.c_str()) == 0;
}

int64_t smoke_proc(WindowSystem& ws, const Message& m) {
  auto x = int16_t(m.lparam & 0xFFFF), y = int16_t((m.lparam >> 16) & 0xFFFF);
  switch (m.message) {
    case msg::Paint: {
      PaintScope paint(ws, m.window);
      WindowDC& dc = paint.dc();
      Rect c = ws.client_rect(m.window);
      dc.dc.fill_rect(dc.client(c), gfx::Brush::solid(gfx::rgb(250, 248, 240)));
      // Colours in every channel, single pixels and a pattern, so that a
      // swapped channel or a shifted row shows.
      dc.dc.fill_rect(dc.client(Rect{4, 4, 40, 30}), gfx::Brush::solid(gfx::rgb(255, 0, 0)));
      dc.dc.fill_rect(dc.client(Rect{44, 4, 80, 30}), gfx::Brush::solid(gfx::rgb(0, 200, 0)));
      dc.dc.fill_rect(dc.client(Rect{84, 4, 120, 30}), gfx::Brush::solid(gfx::rgb(0, 0, 160)));
      const uint8_t checks[8] = {0xAA, 0x55, 0xAA, 0x55, 0xCC, 0x33, 0xF0, 0x0F};
      dc.dc.fill_rect(dc.client(Rect{124, 4, 190, 30}), gfx::Brush::pattern_of(checks, gfx::rgb(17, 34, 51), gfx::rgb(204, 187, 170)));
      dc.dc.set_pen({gfx::PenStyle::Solid, 1, gfx::rgb(128, 0, 128)});
      dc.dc.set_brush(gfx::Brush::solid(gfx::rgb(255, 200, 0)));
      dc.dc.ellipse(dc.client(Rect{10, 40, 90, 100}));
      dc.dc.set_text_color(gfx::rgb(0, 0, 0));
      dc.dc.set_background(0, gfx::BackgroundMode::Transparent);
      dc.dc.text(dc.client(Pt{100, 50}), "talven \xE9t\xE9");
      for (int i = 0; i < 60; ++i) dc.dc.set_pixel(dc.client(Pt{100 + i, 80 + (i * 7) % 20}), gfx::rgb(uint32_t(i * 4), 255 - uint32_t(i * 4), uint32_t(i)));
      return 0;
    }
    case msg::LButtonDown: say("down %d %d 0", x, y); return 0;
    case msg::RButtonDown: say("down %d %d 1", x, y); return 0;
    case msg::KeyDown:
    case msg::SysKeyDown:
      say("key 0x%02" PRIX64 " %d", m.wparam, int((m.lparam >> 24) & 1));
      return 0;
    case msg::Char: say("char 0x%02" PRIX64, m.wparam); return 0;
    default:
      return WindowSystem::default_proc(ws, m);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: sdl_smoke FRAME.ppm\n");
    return 2;
  }
  std::string note;
  std::unique_ptr<Backend> backend = make_backend({}, &note);
  if (dynamic_cast<HeadlessBackend*>(backend.get())) {
    say("backend headless %s", note.c_str());
    return 1;
  }
  say("backend sdl");
  WindowSystem ws(*backend, kFrame);
  if (!backend->open_frame("talven smoke", kFrame)) {
    say("no window");
    return 1;
  }
  ws.register_class({"smoke", smoke_proc, 0, std::nullopt});
  Handle w = ws.create({"smoke", "Smoke", kVisible | kCaption | kBorder, 0, {20, 10, 220, 150}, 0, 0});
  ws.activate(w);
  ws.set_focus(w);
  // The desktop stands for the host's window: the close request is its.
  ws.set_window_proc(ws.desktop(), [](WindowSystem& sys, const Message& m) {
    if (m.message == msg::Close) say("close");
    return WindowSystem::default_proc(sys, m);
  });

  // Cursors of both kinds, and our text through the host's clipboard.
  CursorImage arrow;
  arrow.hot = {1, 1};
  arrow.and_mask.assign(arrow.row_bytes() * 16, 0xFF);
  arrow.xor_mask.assign(arrow.row_bytes() * 16, 0);
  for (int y = 0; y < 12; ++y) arrow.and_mask[size_t(y) * 2] = uint8_t(0xFF >> (y % 8 + 1));
  backend->set_cursor(CursorShape::Hand);
  // More cursors than the back-end keeps, set again and again.
  for (int i = 0; i < 200; ++i) {
    CursorImage c = arrow;
    c.hot = {i % 20, i % 20};
    backend->set_cursor_image(c);
    backend->set_cursor(CursorShape::Custom);
  }
  backend->set_cursor_image(arrow);
  const std::string text = "one\rtwo\r\ncaf\xE9 \x80";
  ws.clipboard_add("text", std::vector<uint8_t>(text.begin(), text.end()));
  auto back = ws.clipboard_get("text");
  if (back && std::string(back->begin(), back->end()) == text)
    say("clipboard ok");
  else
    say("clipboard bad %s", back ? std::string(back->begin(), back->end()).c_str() : "(none)");

  // A tenth of a second of an 8-bit square wave at 11025 Hz.
  bool audio = backend->audio_open({11025, 1, 8});
  if (audio) {
    std::vector<uint8_t> wave(1102);
    for (size_t i = 0; i < wave.size(); ++i) wave[i] = (i / 25) % 2 ? 0xC0 : 0x40;
    audio = backend->audio_queue(wave);
  }
  if (!audio) say("audio failed");
  Tick audio_start = backend->now();

  bool ready = false;
  for (;;) {
    Message m;
    bool quit = false;
    while (ws.peek(m)) {
      if (m.message == msg::Quit) {
        quit = true;
        break;
      }
      ws.translate(m);
      ws.dispatch(m);
    }
    if (quit) break;
    ws.flush();
    if (!ready && !ws.has_update(w) && !ws.has_update(ws.desktop())) {
      if (!write_ppm(ws.frame(), argv[1])) {
        say("cannot write %s", argv[1]);
        return 1;
      }
      Rect c = ws.screen_client(w);
      say("ready %d %d", c.left, c.top);
      ready = true;
    }
    if (audio && backend->audio_pending() == 0) {
      say("audio drained");
      audio = false;
    } else if (audio && backend->now() - audio_start > 20000) {
      say("audio failed");
      audio = false;
    }
    backend->wait_input(20);
  }
  backend->audio_close();
  backend->close_frame();
  say("bye");
  return 0;
}
