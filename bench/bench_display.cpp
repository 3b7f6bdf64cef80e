// Per-block cost of the drawing pipeline, and our rasteriser against QPainter
// drawing the same trace.
#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "PairedRatio.h"
#include "analysis/AnalysisSettings.h"
#include "display/Fade.h"
#include "display/FrameRenderer.h"
#include "display/Graphics.h"

namespace {

using namespace quenvis;

std::vector<std::int16_t> NoisyBlock(unsigned Seed) {
  std::mt19937 rng(Seed);
  std::normal_distribution<double> n(0, 3000);
  std::vector<std::int16_t> b(2 * BlockFrames);
  for (auto& v : b) v = static_cast<std::int16_t>(std::clamp(std::lrint(n(rng)), -32768L, 32767L));
  return b;
}

std::vector<std::int16_t> TonalBlock() {
  std::vector<std::int16_t> b(2 * BlockFrames);
  for (int i = 0; i < BlockFrames; ++i) {
    const double t = i / 4096.0;
    const double v = 6000 * std::sin(2 * M_PI * 18.3 * t) + 4000 * std::sin(2 * M_PI * 100.6 * t) +
                     1500 * std::sin(2 * M_PI * 201.2 * t);
    b[2 * i] = b[2 * i + 1] = static_cast<std::int16_t>(std::lrint(v));
  }
  return b;
}

struct Pipeline {
  TAnalysisSettings S = StartupSettings();
  TFrameRate Rate;
  CFFT_iterative FFT;
  TSurfaces Surfaces;
  CNoFrameHost Host;
  CFrameRenderer Renderer{S, Rate, FFT, Surfaces, Host};
  Pipeline() { FFT.Window = &TabHamming; }
};

// Everything RecorderData does except presenting: analysis, trace, tracker,
// marks, guides, fade.
void BM_Pipeline(benchmark::State& state, bool Tonal) {
  Pipeline p;
  std::vector<std::vector<std::int16_t>> blocks;
  for (unsigned i = 0; i < 8; ++i) blocks.push_back(Tonal ? TonalBlock() : NoisyBlock(i));
  std::size_t k = 0;
  for (auto _ : state) {
    p.Renderer.Draw(blocks[k++ % blocks.size()].data());
    p.Renderer.Fade();
    benchmark::ClobberMemory();
  }
}
BENCHMARK_CAPTURE(BM_Pipeline, noisy, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Pipeline, tonal, true)->Unit(benchmark::kMillisecond);

// The fade over a worst case (no pixel black, so nothing is skipped) and over
// the images as they stand after a few seconds of noisy input.
void BM_Fade(benchmark::State& state, bool Steady) {
  Pipeline p;
  std::vector<std::vector<std::uint32_t>> saved;
  if (Steady) {
    for (unsigned i = 0; i < 200; ++i) {
      p.Renderer.Draw(NoisyBlock(i).data());
      p.Renderer.Fade();
    }
  } else {
    std::mt19937 rng(3);
    for (CBM32* s : p.Surfaces.All())
      for (std::int64_t i = 0; i < PixelCount(*s->Info); ++i)
        s->Info->Bits[i] = rng() | 0xFF000000u;
  }
  for (CBM32* s : p.Surfaces.All())
    saved.emplace_back(s->Info->Bits, s->Info->Bits + PixelCount(*s->Info));
  for (auto _ : state) {
    state.PauseTiming();
    const auto surfaces = p.Surfaces.All();
    for (std::size_t k = 0; k < 4; ++k)
      std::copy(saved[k].begin(), saved[k].end(), surfaces[k]->Info->Bits);
    state.ResumeTiming();
    p.Renderer.Fade();
    benchmark::ClobberMemory();
  }
}
BENCHMARK_CAPTURE(BM_Fade, worst, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Fade, steady, true)->Unit(benchmark::kMillisecond);

// The trace of a noisy block as 1024 y positions.
std::vector<int> NoisyTrace() {
  Pipeline p;
  const auto block = NoisyBlock(1);
  p.Renderer.Draw(block.data());
  p.Renderer.Draw(block.data());
  std::vector<int> ys(1024);
  for (int x = 0; x < 1024; ++x) {
    const int bin = x >> 1;
    double d = p.FFT.Power[static_cast<std::size_t>(bin)] - p.S.FOffset;
    if (!(d >= p.S.FThreshold)) d = 0;
    ys[static_cast<std::size_t>(x)] = std::max(RoundToInt32(255 - d * p.S.FScale), 0);
  }
  return ys;
}

void BM_TraceOwn(benchmark::State& state) {
  const std::vector<int> ys = NoisyTrace();
  CBM32 s(1024, 256);
  s.Fill(0xFF000000u);
  const CPen pen(TraceColour);
  for (auto _ : state) {
    CGraphics g(s.Bitmap);
    for (int x = 1; x < 1024; ++x) g.DrawLine(pen, x - 1, ys[x - 1], x, ys[x]);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_TraceOwn)->Unit(benchmark::kMicrosecond);

void BM_TraceQPainter(benchmark::State& state) {
  const std::vector<int> ys = NoisyTrace();
  QImage image(1024, 256, QImage::Format_ARGB32);
  image.fill(0xFF000000u);
  const QPen pen(QColor::fromRgba(TraceColour), 1.0);
  for (auto _ : state) {
    QPainter painter(&image);
    painter.setPen(pen);
    for (int x = 1; x < 1024; ++x) painter.drawLine(x - 1, ys[x - 1], x, ys[x]);
    painter.end();
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_TraceQPainter)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  quenvis::bench::CPairedReporter reporter;
  if (!quenvis::bench::RunInterleaved(argc, argv, "15", reporter)) return 1;
  auto get = [&](const char* name) { return reporter.Median(name); };
  std::printf("\nmedian per block: pipeline noisy %.3f ms, tonal %.3f ms (goal 0.3)\n",
              get("BM_Pipeline/noisy"), get("BM_Pipeline/tonal"));
  std::printf("fade alone: worst case %.3f ms, steady noisy images %.3f ms (goal 0.1)\n",
              get("BM_Fade/worst"), get("BM_Fade/steady"));
  const double own = get("BM_TraceOwn"), qt = get("BM_TraceQPainter");
  const double ratio = reporter.PairedRatio("BM_TraceOwn", "BM_TraceQPainter");
  if (own > 0 && qt > 0 && ratio > 0)
    std::printf("trace: own rasteriser %.1f us, QPainter %.1f us, ratio own/QPainter %.3f\n",
                own * 1000, qt * 1000, ratio);
  benchmark::Shutdown();
  return 0;
}
