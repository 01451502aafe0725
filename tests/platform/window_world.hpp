// The scenarios' world: a headless back-end, a window system on it, and a
// logging window class.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/window.hpp"
#include "tests/platform/png_golden.hpp"

namespace platform::scenario {

struct Logged {
  Handle window;
  uint32_t message;
  uint64_t wparam;
  int64_t lparam;
  bool operator==(const Logged&) const = default;
};

// A world with one logging class ("log", double clicks on) and one that
// paints its client in the colour of its "color" property ("paint").
struct World {
  HeadlessBackend backend;
  WindowSystem ws;
  std::vector<Logged> log;
  std::function<void(const Message&)> hook;  // runs before the default procedure
  std::vector<uint32_t> ignore{msg::NcActivate, msg::SetCursor, msg::PosChanging, msg::PosChanged, msg::EraseBackground};

  explicit World(Tick start = 0, Pt size = {200, 150}) : backend(size, start), ws(backend) {
    ws.register_class({"log",
                       [this](WindowSystem& w, const Message& m) {
                         if (std::find(ignore.begin(), ignore.end(), m.message) == ignore.end())
                           log.push_back({m.window, m.message, m.wparam, m.lparam});
                         if (hook) hook(m);
                         return WindowSystem::default_proc(w, m);
                       },
                       kDoubleClicks, gfx::rgb(255, 255, 255)});
    ws.register_class({"paint",
                       [](WindowSystem& w, const Message& m) -> int64_t {
                         if (m.message != msg::Paint) return WindowSystem::default_proc(w, m);
                         PaintScope paint(w, m.window);
                         WindowDC& dc = paint.dc();
                         uint32_t color = uint32_t(w.property(m.window, "color").value_or(0));
                         dc.dc.fill_rect(dc.client(w.client_rect(m.window)), gfx::Brush::solid(color));
                         dc.dc.set_text_color(0);
                         dc.dc.set_background(0, gfx::BackgroundMode::Transparent);
                         dc.dc.text(dc.client(Pt{2, 2}), w.title(m.window));
                         return 0;
                       },
                       0, std::nullopt});
  }
  Handle make(const char* cls, Rect r, uint32_t style = kVisible, Handle parent = 0, const char* title = "") {
    return ws.create({cls, title, style, 0, r, parent, 0});
  }
  // Dispatches everything queued, painting included; the messages handled.
  std::vector<uint32_t> pump() {
    std::vector<uint32_t> seen;
    Message m;
    while (ws.peek(m)) {
      seen.push_back(m.message);
      ws.translate(m);
      ws.dispatch(m);
    }
    ws.flush();
    return seen;
  }
  std::vector<uint32_t> messages(Handle w) {
    std::vector<uint32_t> out;
    for (auto& l : log)
      if (l.window == w) out.push_back(l.message);
    return out;
  }
};

}  // namespace platform::scenario
