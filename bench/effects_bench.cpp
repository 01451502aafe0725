// Transition effects on a full 1024 x 768 frame: milliseconds of drawing a
// step (copies from an offscreen image to a window covering the frame,
// then the frame presented to the headless back-end) for the block
// dissolve (one step being one of its 64 passes), blinds with a shuffled
// line order, the iris and the push; and the length of a 16-step effect
// with a delay of 20 ms on the real clock, which should be 320 ms within
// one step. Run: build/effects_bench
#include <chrono>
#include <cstdio>
#include <thread>

#include "media/effects.hpp"
#include "platform/window.hpp"

using namespace platform;
using Clock = std::chrono::steady_clock;

namespace {

double ms_since(Clock::time_point t0) { return std::chrono::duration<double, std::milli>(Clock::now() - t0).count(); }

// A window's screen, fed from an image as the runtime's effects are.
struct Target : media::EffectTarget {
  WindowSystem& ws;
  Handle window;
  gfx::Surface image{1024, 768};
  std::optional<WindowDC> dc;
  Target(WindowSystem& w, Handle h) : ws(w), window(h) {
    for (int32_t y = 0; y < 768; ++y)
      for (int32_t x = 0; x < 1024; ++x) image.set_pixel(x, y, gfx::rgb(uint32_t(x & 255), uint32_t(y & 255), 128));
    open();
  }
  void open() { dc.emplace(ws.window_dc(window)); }
  void copy(gfx::Rect src, gfx::Rect dst) override { dc->dc.stretch_blit(dc->client(dst), image, src); }
  void scroll(gfx::Rect area, int32_t dx, int32_t dy) override {
    gfx::Rect a = dc->client(area);
    gfx::Rect to = gfx::intersect(gfx::offset(a, dx, dy), a);
    dc->dc.blit(to, dc->dc.surface(), {to.left - dx, to.top - dy});
  }
  void clip(const std::optional<gfx::Region>& r) override {
    if (!r) {
      open();
      return;
    }
    gfx::Region c = *r;
    c.offset(dc->origin.x, dc->origin.y);
    dc->dc.set_clip(c);
  }
  gfx::Rect bounds() const override { return {0, 0, 1024, 768}; }
  void present() {
    ws.flush();
    open();
  }
};

void effect(const char* name, Target& t, media::EffectKind kind, int32_t parameter, int32_t shape, int32_t spacing) {
  uint32_t seed = 1;
  media::Effect e = media::make_effect(kind, {0, 0, 1024, 768}, parameter, shape, spacing,
                                       [&] { return int(((seed = seed * 214013u + 2531011u) >> 16) & 0x7FFF); });
  auto t0 = Clock::now();
  int steps = 0;
  while (e.done < e.total) {
    media::step_effect(e, e.done + 16, t);
    t.present();
    ++steps;
  }
  std::printf("%-34s %6.2f ms a step (%d steps)\n", name, ms_since(t0) / steps, steps);
}

}  // namespace

int main() {
  HeadlessBackend backend({1024, 768});
  WindowSystem ws(backend);
  ws.register_class({"plain", nullptr, 0, std::nullopt});
  Handle w = ws.create({"plain", "", kChild | kVisible, 0, ws.client_rect(ws.desktop()), ws.desktop(), 0});
  ws.update_all();
  Target t(ws, w);
  gfx::Rect all = ws.client_rect(w);
  std::printf("window %dx%d\n", all.width(), all.height());

  auto t0 = Clock::now();
  media::dissolve(all, t, [&](int) { t.present(); });
  std::printf("%-34s %6.2f ms a step (64 passes)\n", "dissolve, 5x5 blocks", ms_since(t0) / 64);
  effect("blinds, shuffled rows", t, media::EffectKind::Blinds, 0, -1, -1);
  effect("blinds, spacing 8 columns", t, media::EffectKind::Blinds, 1, -1, 8);
  effect("iris (copy-mask shape 4)", t, media::EffectKind::CopyMask, 0, 4, 0);
  effect("push from the left", t, media::EffectKind::PushSides, 4, -1, 0);
  effect("zoom-in", t, media::EffectKind::ZoomIn, 0, -1, 0);

  // 16 steps of 16 with a delay of 20 ms on the real clock.
  media::Effect e = media::make_effect(media::EffectKind::WipeSides, all, 4);
  auto origin = Clock::now();
  media::EffectClock clock{
      [&] { return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - origin).count()); },
      [](uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }, [&] { t.present(); }};
  t0 = Clock::now();
  int steps = media::run_effect(e, 16, 20, t, clock);
  std::printf("%-34s %6.1f ms (%d steps; 320 expected)\n", "loop-effect 16 x 20 ms", ms_since(t0), steps);
  return 0;
}
