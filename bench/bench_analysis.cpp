// Spectrum engine and zone tracker timings. The engine is compared with an
// anchor: FFTW's real-to-complex 4096-point transform plus log10 of the 2049
// power values of the same frame; the ratio Process / anchor is printed last,
// taken round by round from interleaved repetitions.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "PairedRatio.h"
#include "analysis/UFFT_iterative.h"
#include "analysis/ZonePeakTracker.h"

namespace {

using namespace quenvis;

// A voiced-like sound: harmonics of 140 Hz shaped by two formant resonances,
// plus a little deterministic noise.
std::vector<std::int16_t> VoicedSamples(int Count) {
  std::vector<std::int16_t> out(static_cast<std::size_t>(Count));
  std::uint32_t noise = 12345;
  for (int n = 0; n < Count; ++n) {
    double v = 0;
    for (int h = 1; h <= 40; ++h) {
      const double f = 140.0 * h;
      const double g1 = 1 / (1 + std::pow((f - 700) / 120, 2));
      const double g2 = 0.5 / (1 + std::pow((f - 1200) / 150, 2));
      v += (g1 + g2 + 0.02 / h) * std::sin(2 * std::numbers::pi * f * n / 44100 + h);
    }
    noise = noise * 1664525u + 1013904223u;
    v += (static_cast<double>(noise >> 8) / (1 << 24) - 0.5) * 0.002;
    out[static_cast<std::size_t>(n)] = static_cast<std::int16_t>(std::nearbyint(v * 9000));
  }
  return out;
}

std::vector<unsigned char> StereoBlock(const std::vector<std::int16_t>& Mono, int First) {
  std::vector<unsigned char> block(BlockBytes);
  for (int i = 0; i < BlockFrames; ++i) {
    const auto v = static_cast<std::uint16_t>(Mono[static_cast<std::size_t>(First + i)]);
    for (int c = 0; c < 2; ++c) {
      block[static_cast<std::size_t>(4 * i + 2 * c)] = static_cast<unsigned char>(v & 0xFF);
      block[static_cast<std::size_t>(4 * i + 2 * c + 1)] = static_cast<unsigned char>(v >> 8);
    }
  }
  return block;
}

const std::vector<std::int16_t>& Voice() {
  static const std::vector<std::int16_t> samples = VoicedSamples(2 * BlockFrames);
  return samples;
}

void BM_Process(benchmark::State& State) {
  const int position = static_cast<int>(State.range(0));
  auto fft = std::make_unique<CFFT_iterative>();
  fft->Window = &WindowTable(position);
  const auto a = StereoBlock(Voice(), 0), b = StereoBlock(Voice(), BlockFrames);
  bool odd = false;
  for (auto _ : State) {
    fft->Process(odd ? b.data() : a.data());
    odd = !odd;
    benchmark::DoNotOptimize(fft->Power.data());
    benchmark::ClobberMemory();
  }
  State.SetLabel(WindowNames[static_cast<std::size_t>(position)]);
}
BENCHMARK(BM_Process)->DenseRange(0, WindowCount - 1);

// Planned once per run, and patiently: a plan chosen by quick timing differs
// from run to run, and the anchor with it.
struct TAnchorPlan {
  TAnchorPlan()
      : In(fftw_alloc_real(FFTSize)),
        Out(fftw_alloc_complex(FFTSize / 2 + 1)),
        Plan(fftw_plan_dft_r2c_1d(FFTSize, In, Out, FFTW_PATIENT)) {}
  ~TAnchorPlan() {
    fftw_destroy_plan(Plan);
    fftw_free(Out);
    fftw_free(In);
  }
  double* In;
  fftw_complex* Out;
  fftw_plan Plan;
};

void BM_Anchor(benchmark::State& State) {
  static TAnchorPlan anchor;
  double* in = anchor.In;
  fftw_complex* out = anchor.Out;
  fftw_plan plan = anchor.Plan;
  std::vector<double> frame(FFTSize), power(FFTSize / 2 + 1);
  for (int n = 0; n < FFTSize; ++n)
    frame[static_cast<std::size_t>(n)] =
        TabHamming[static_cast<std::size_t>(n)] * (Voice()[static_cast<std::size_t>(n)] / 32768.0);
  for (auto _ : State) {
    std::copy(frame.begin(), frame.end(), in);
    fftw_execute(plan);
    for (int b = 0; b <= FFTSize / 2; ++b)
      power[static_cast<std::size_t>(b)] =
          std::log10(out[b][0] * out[b][0] + out[b][1] * out[b][1]);
    benchmark::DoNotOptimize(power.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Anchor);

void BM_TrackZonePeaks(benchmark::State& State) {
  auto fft = std::make_unique<CFFT_iterative>();
  fft->Window = &TabHamming;
  fft->Process(StereoBlock(Voice(), 0).data());
  fft->Process(StereoBlock(Voice(), BlockFrames).data());
  TZonePeaks peaks;
  for (auto _ : State) {
    peaks = TrackZonePeaks(fft->Power.data(), 0.0, 0.51, 10, 79, 56, 209);
    benchmark::DoNotOptimize(peaks);
  }
  char label[48];
  std::snprintf(label, sizeof label, "peaks %d, %d", peaks.Zone1Peak, peaks.Zone2Peak);
  State.SetLabel(label);
}
BENCHMARK(BM_TrackZonePeaks);

}  // namespace

int main(int argc, char** argv) {
  quenvis::bench::CPairedReporter reporter;
  if (!quenvis::bench::RunInterleaved(argc, argv, "20", reporter)) return 1;
  for (int p = 0; p < WindowCount; ++p) {
    const double ratio = reporter.PairedRatio("BM_Process/" + std::to_string(p), "BM_Anchor");
    if (ratio > 0)
      std::printf("Process/anchor ratio, %-16s %.2f  (goal <= 1.5)\n",
                  WindowNames[static_cast<std::size_t>(p)], ratio);
  }
  benchmark::Shutdown();
  return 0;
}
