// The live spectrogram's cost per block: one new strip of columns from the
// spectrum, the F1-F3 dots and the F0 line, into a ring at 1600 x 400 (and
// at the chart window's default size), the rest scrolled without redrawing.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "PairedRatio.h"
#include "analysis/Common.h"
#include "display/LiveSonogram.h"

namespace {

using namespace quenvis;

void BM_SpectrogramBlock(benchmark::State& State) {
  const auto w = static_cast<std::int32_t>(State.range(0));
  const auto h = static_cast<std::int32_t>(State.range(1));
  const double top = static_cast<double>(State.range(2));
  CLiveSpectrogram s(w, h, top);
  // A voiced spectrum: harmonics of 200 Hz under two formant peaks.
  std::vector<double> power(FFTSize);
  for (int b = 0; b < FFTSize; ++b) {
    const double hz = b * double(SampleRate) / FFTSize;
    const double h200 = std::fmod(hz, 200.0);
    power[static_cast<std::size_t>(b)] = 3 - hz / 3000 + (h200 < 20 || h200 > 180 ? 2 : 0) +
                                         2 * std::exp(-(hz - 500) * (hz - 500) / 2e4);
  }
  TFormants f;
  f.Voiced = true;
  f.B = {60, 80, 100};
  int k = 0;
  for (auto _ : State) {
    const double t = (k % 200) / 200.0;
    f.F0 = 120 + 100 * t;
    f.F = {300 + 400 * t, 2200 - 1100 * t, 2800};
    s.Add(k++ * double(BlockFrames) / SampleRate, power.data(), f);
    benchmark::DoNotOptimize(s.Ring().Info->Bits);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_SpectrogramBlock)
    ->Args({1600, 400, 5000})
    ->Args({1600, 400, 10000})
    ->Args({708, 200, 5000})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  quenvis::bench::CPairedReporter reporter;
  if (!quenvis::bench::RunInterleaved(argc, argv, "10", reporter)) return 1;
  std::printf(
      "\nspectrogram per block (median): 1600 x 400 to 5 kHz %.3f ms, to 10 kHz %.3f ms "
      "(goal 0.3)\n",
      reporter.Median("BM_SpectrogramBlock/1600/400/5000"),
      reporter.Median("BM_SpectrogramBlock/1600/400/10000"));
  benchmark::Shutdown();
  return 0;
}
