// The rasterizer's speed on a 1024 x 768 XRGB surface: fills and blits
// against memset and memcpy of the same bytes (the machine's limit), stretch
// blits, and 10,000 lines, ellipses and polygons. Rates are in megapixels a
// second (Mpix/s).
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "platform/gfx/dc.hpp"

namespace {

constexpr int32_t kW = 1024, kH = 768;

void megapixels(benchmark::State& state, double pixels_per_iteration) {
  state.counters["Mpix/s"] =
      benchmark::Counter(pixels_per_iteration * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}

void BM_Memset(benchmark::State& state) {
  std::vector<uint32_t> dst(size_t(kW) * kH);
  for (auto _ : state) {
    std::memset(dst.data(), 0x5A, dst.size() * 4);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  megapixels(state, double(kW) * kH);
}
BENCHMARK(BM_Memset);

void BM_FillRect(benchmark::State& state) {
  gfx::Surface s(kW, kH);
  gfx::DC dc(s);
  gfx::Brush b = gfx::Brush::solid(0x5A5A5A);
  for (auto _ : state) {
    dc.fill_rect(s.bounds(), b);
    benchmark::DoNotOptimize(s.row32(0));
    benchmark::ClobberMemory();
  }
  megapixels(state, double(kW) * kH);
}
BENCHMARK(BM_FillRect);

void BM_FillRectPattern(benchmark::State& state) {
  gfx::Surface s(kW, kH);
  gfx::DC dc(s);
  const uint8_t gray[8] = {0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55};
  gfx::Brush b = gfx::Brush::pattern_of(gray, 0, 0xFFFFFF);
  for (auto _ : state) {
    dc.fill_rect(s.bounds(), b);
    benchmark::ClobberMemory();
  }
  megapixels(state, double(kW) * kH);
}
BENCHMARK(BM_FillRectPattern);

void BM_Memcpy(benchmark::State& state) {
  std::vector<uint32_t> src(size_t(kW) * kH, 0x123456), dst(size_t(kW) * kH);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), dst.size() * 4);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  megapixels(state, double(kW) * kH);
}
BENCHMARK(BM_Memcpy);

void BM_Blit(benchmark::State& state) {
  gfx::Surface src(kW, kH), dst(kW, kH);
  src.fill(0x123456);
  gfx::DC dc(dst);
  for (auto _ : state) {
    dc.blit(dst.bounds(), src, {0, 0});
    benchmark::ClobberMemory();
  }
  megapixels(state, double(kW) * kH);
}
BENCHMARK(BM_Blit);

void BM_BlitXor(benchmark::State& state) {
  gfx::Surface src(kW, kH), dst(kW, kH);
  src.fill(0x123456);
  gfx::DC dc(dst);
  for (auto _ : state) {
    dc.blit(dst.bounds(), src, {0, 0}, gfx::kSrcInvert);
    benchmark::ClobberMemory();
  }
  megapixels(state, double(kW) * kH);
}
BENCHMARK(BM_BlitXor);

void BM_StretchUp(benchmark::State& state) {
  gfx::Surface src(kW / 2, kH / 2), dst(kW, kH);
  src.fill(0x123456);
  gfx::DC dc(dst);
  for (auto _ : state) {
    dc.stretch_blit(dst.bounds(), src, src.bounds());
    benchmark::ClobberMemory();
  }
  megapixels(state, double(kW) * kH);
}
BENCHMARK(BM_StretchUp);

void BM_StretchDownHalfTone(benchmark::State& state) {
  gfx::Surface src(kW * 2, kH * 2), dst(kW, kH);
  src.fill(0x123456);
  gfx::DC dc(dst);
  for (auto _ : state) {
    dc.stretch_blit(dst.bounds(), src, src.bounds(), gfx::kSrcCopy, gfx::StretchMode::HalfTone);
    benchmark::ClobberMemory();
  }
  megapixels(state, double(kW) * kH);
}
BENCHMARK(BM_StretchDownHalfTone);

std::vector<gfx::Pt> random_points(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int32_t> x(0, kW - 1), y(0, kH - 1);
  std::vector<gfx::Pt> pts(n);
  for (auto& p : pts) p = {x(rng), y(rng)};
  return pts;
}

void BM_Lines10k(benchmark::State& state) {
  gfx::Surface s(kW, kH);
  gfx::DC dc(s);
  dc.set_pen({gfx::PenStyle::Solid, 1, 0xFFFFFF});
  auto pts = random_points(10001, 1);
  for (auto _ : state) {
    for (size_t i = 0; i < 10000; ++i) dc.line(pts[i], pts[i + 1], false);
    benchmark::ClobberMemory();
  }
  state.counters["shapes/s"] = benchmark::Counter(10000.0 * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Lines10k)->Unit(benchmark::kMillisecond);

void BM_Ellipses10k(benchmark::State& state) {
  gfx::Surface s(kW, kH);
  gfx::DC dc(s);
  dc.set_pen({gfx::PenStyle::Solid, 1, 0});
  dc.set_brush(gfx::Brush::solid(0xFFFFFF));
  auto pts = random_points(10000, 2);
  std::mt19937 rng(3);
  std::uniform_int_distribution<int32_t> size(1, 64);
  std::vector<gfx::Rect> rects;
  for (auto p : pts) rects.push_back({p.x, p.y, p.x + size(rng), p.y + size(rng)});
  for (auto _ : state) {
    for (const auto& r : rects) dc.ellipse(r);
    benchmark::ClobberMemory();
  }
  state.counters["shapes/s"] = benchmark::Counter(10000.0 * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Ellipses10k)->Unit(benchmark::kMillisecond);

void BM_Polygons10k(benchmark::State& state) {
  gfx::Surface s(kW, kH);
  gfx::DC dc(s);
  dc.set_pen({gfx::PenStyle::Null, 1, 0});
  dc.set_brush(gfx::Brush::solid(0xFFFFFF));
  auto centres = random_points(10000, 4);
  std::mt19937 rng(5);
  std::uniform_int_distribution<int32_t> d(-32, 32);
  std::vector<std::array<gfx::Pt, 5>> polys;
  for (auto c : centres) {
    std::array<gfx::Pt, 5> p;
    for (auto& q : p) q = {c.x + d(rng), c.y + d(rng)};
    polys.push_back(p);
  }
  for (auto _ : state) {
    for (const auto& p : polys) dc.polygon(p);
    benchmark::ClobberMemory();
  }
  state.counters["shapes/s"] = benchmark::Counter(10000.0 * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Polygons10k)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
