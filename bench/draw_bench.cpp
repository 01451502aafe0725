// Drawing as programs do it, on a 1024 x 768 XRGB window: shapes and lines
// per second (to set against the rasterizer's raw figures of gfx_bench),
// and a screen of text (80 columns by 40 lines) in the embedded font and in
// installed fonts, which must stay well under a 60 Hz frame (16.7 ms).
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "platform/gfx/dc.hpp"
#include "platform/gfx/fonts.hpp"

namespace {

constexpr int32_t kW = 1024, kH = 768;

std::vector<gfx::Rect> random_rects(size_t n) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int32_t> x(-50, kW + 50), y(-50, kH + 50), size(4, 200);
  std::vector<gfx::Rect> out;
  for (size_t i = 0; i < n; ++i) {
    int32_t l = x(rng), t = y(rng);
    out.push_back({l, t, l + size(rng), t + size(rng)});
  }
  return out;
}

void per_second(benchmark::State& state, const char* name, double per_iteration) {
  state.counters[name] = benchmark::Counter(per_iteration * double(state.iterations()), benchmark::Counter::kIsRate);
}

template <typename Draw>
void shapes(benchmark::State& state, Draw draw) {
  gfx::Surface s(kW, kH);
  gfx::DC dc(s);
  dc.set_pen({gfx::PenStyle::Solid, 1, 0x000000});
  dc.set_brush(gfx::Brush::solid(0x3366CC));
  std::vector<gfx::Rect> rects = random_rects(1000);
  for (auto _ : state) {
    for (const gfx::Rect& r : rects) draw(dc, r);
    benchmark::ClobberMemory();
  }
  per_second(state, "shapes/s", double(rects.size()));
}

void BM_Rectangles(benchmark::State& state) { shapes(state, [](gfx::DC& dc, gfx::Rect r) { dc.rectangle(r); }); }
BENCHMARK(BM_Rectangles);
void BM_Ellipses(benchmark::State& state) { shapes(state, [](gfx::DC& dc, gfx::Rect r) { dc.ellipse(r); }); }
BENCHMARK(BM_Ellipses);
void BM_RoundRects(benchmark::State& state) {
  shapes(state, [](gfx::DC& dc, gfx::Rect r) { dc.round_rect(r, 16, 16); });
}
BENCHMARK(BM_RoundRects);
void BM_Lines(benchmark::State& state) {
  shapes(state, [](gfx::DC& dc, gfx::Rect r) { dc.line({r.left, r.top}, {r.right, r.bottom}, true); });
}
BENCHMARK(BM_Lines);

// 40 lines of 80 characters of ordinary text.
std::vector<std::string> screen_lines() {
  const std::string words = "The quick brown fox jumps over the lazy dog; 0123456789 (caf\xE9, na\xEFve). ";
  std::vector<std::string> lines;
  for (int i = 0; i < 40; ++i) {
    std::string l;
    while (l.size() < 80) l += words.substr(size_t(i) % 7);
    lines.push_back(l.substr(0, 80));
  }
  return lines;
}

void text_screen(benchmark::State& state, gfx::Font font) {
  if (font.family != 0 && !gfx::load_fonts(nullptr)) {
    state.SkipWithError("no installed fonts");
    return;
  }
  gfx::Surface s(kW, kH);
  gfx::DC dc(s);
  s.fill(0xFFFFFF);
  dc.set_text_color(0x000000);
  std::vector<std::string> lines = screen_lines();
  int32_t step = std::max(1, kH / 40);
  for (auto _ : state) {
    for (size_t i = 0; i < lines.size(); ++i) gfx::draw_text(dc, font, {2, int32_t(i + 1) * step - 4}, lines[i]);
    benchmark::ClobberMemory();
  }
  per_second(state, "chars/s", 80.0 * 40.0);
}

void BM_TextScreenEmbedded(benchmark::State& state) { text_screen(state, {0, 12, 0}); }
BENCHMARK(BM_TextScreenEmbedded)->Unit(benchmark::kMillisecond);
void BM_TextScreenSans12(benchmark::State& state) { text_screen(state, {1, 12, 0}); }
BENCHMARK(BM_TextScreenSans12)->Unit(benchmark::kMillisecond);
void BM_TextScreenMono12(benchmark::State& state) { text_screen(state, {4, 12, 0}); }
BENCHMARK(BM_TextScreenMono12)->Unit(benchmark::kMillisecond);
void BM_TextScreenSerif12BoldUnderline(benchmark::State& state) {
  text_screen(state, {2, 12, gfx::kBold | gfx::kUnderline});
}
BENCHMARK(BM_TextScreenSerif12BoldUnderline)->Unit(benchmark::kMillisecond);

void BM_StringWidthSans12(benchmark::State& state) {
  std::vector<std::string> lines = screen_lines();
  int64_t sum = 0;
  for (auto _ : state)
    for (const std::string& l : lines) sum += gfx::text_width({1, 12, 0}, l);
  benchmark::DoNotOptimize(sum);
  per_second(state, "chars/s", 80.0 * 40.0);
}
BENCHMARK(BM_StringWidthSans12);

}  // namespace

BENCHMARK_MAIN();
