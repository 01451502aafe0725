// Frames per second of the window system: a 1024x768 frame with a menu bar
// and 50 overlapping windows (captions, borders, a child each), fully invalidated,
// repainted, composed and presented to the headless back-end, again and
// again. Run: build/winsys_bench [frames]
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/window.hpp"

using namespace platform;

int main(int argc, char** argv) {
  int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  HeadlessBackend backend({1024, 768});
  WindowSystem ws(backend);
  ws.register_class({"fill",
                     [](WindowSystem& w, const Message& m) -> int64_t {
                       if (m.message != msg::Paint) return WindowSystem::default_proc(w, m);
                       PaintScope paint(w, m.window);
                       WindowDC& dc = paint.dc();
                       dc.dc.fill_rect(dc.client(w.client_rect(m.window)),
                                       gfx::Brush::solid(uint32_t(w.property(m.window, "color").value_or(0))));
                       dc.dc.text(dc.client(Pt{4, 4}), "The quick brown fox");
                       return 0;
                     },
                     0, std::nullopt});
  Handle bar = ws.create_menu();
  for (const char* title : {"&File", "&Edit", "&View", "&Window", "&Help"}) {
    Handle m = ws.create_menu();
    ws.append_menu(m, {"&Open\tCtrl+O", 1});
    ws.append_menu(bar, {title, 0, 0, m});
  }
  ws.set_menu_bar(ws.desktop(), bar);
  for (int i = 0; i < 50; ++i) {
    int x = (i * 37) % 800, y = (i * 53) % 560;
    Handle h = ws.create({"fill", "Window", kVisible | kCaption | kSysMenu | kVScroll, 0, {x, y, x + 220, y + 200}, 0, 0});
    ws.set_property(h, "color", gfx::rgb(uint32_t(i * 40) & 255, uint32_t(i * 90) & 255, 200));
    Handle c = ws.create({"fill", "", kVisible | kChild | kBorder, 0, {10, 10, 90, 60}, h, 0});
    ws.set_property(c, "color", gfx::rgb(250, 250, 250));
  }
  ws.update_all();
  auto start = std::chrono::steady_clock::now();
  for (int f = 0; f < frames; ++f) {
    ws.invalidate(ws.desktop(), std::nullopt, true);
    ws.draw_menu_bar(ws.desktop());
    for (Handle h : ws.children(ws.desktop())) ws.invalidate(h, std::nullopt, true);
    ws.update_all();
  }
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("full repaint of 1024x768 and a menu bar, 50 windows: %.2f ms a frame, %.1f frames per second\n",
              1000 * s / frames, frames / s);
  return 0;
}
