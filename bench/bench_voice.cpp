// Every voice measure per block (CPPS, HNR, the harmonic levels, jitter and
// shimmer, vibrato, the spectral balance), beside the spectrum engine's
// Process on the same blocks, interleaved in the same run. Goal: <= 0.2 ms
// per block. The formant estimator's results are taken beforehand: it has
// its own benchmark.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <numbers>
#include <vector>

#include "PairedRatio.h"
#include "analysis/FormantTracker.h"
#include "analysis/UFFT_iterative.h"
#include "analysis/VoiceMeasures.h"

namespace {

using namespace quenvis;

// Three seconds of a sung vowel (so that the 2 s the period measures look
// back over are full of voice): harmonics of F0 with 5.5 Hz vibrato, shaped
// by three formant resonances, with a little noise.
std::vector<std::vector<unsigned char>> VowelBlocks(double F0) {
  constexpr int blocks = 64, count = blocks * BlockFrames;
  std::vector<std::vector<unsigned char>> out(blocks, std::vector<unsigned char>(BlockBytes));
  std::uint32_t noise = 12345;
  double phase = 0;
  for (int n = 0; n < count; ++n) {
    const double f0 = F0 * std::exp2(0.5 / 12 * std::sin(2 * std::numbers::pi * 5.5 * n / 44100.0));
    phase += 2 * std::numbers::pi * f0 / 44100.0;
    double v = 0;
    for (int h = 1; h * F0 < 6000; ++h) {
      const double f = F0 * h;
      double g = 0;
      for (const auto& [fc, bw, a] :
           {std::tuple{600.0, 80.0, 1.0}, {1700.0, 100.0, 0.4}, {2600.0, 150.0, 0.2}})
        g += a / (1 + std::pow((f - fc) / bw, 2));
      v += g * std::sin(h * phase);
    }
    noise = noise * 1664525u + 1013904223u;
    v += (static_cast<double>(noise >> 8) / (1 << 24) - 0.5) * 0.002;
    const auto s = static_cast<std::uint16_t>(static_cast<std::int16_t>(std::nearbyint(v * 9000)));
    auto& block = out[static_cast<std::size_t>(n / BlockFrames)];
    const auto i = static_cast<std::size_t>(n % BlockFrames);
    for (std::size_t c = 0; c < 2; ++c) {
      block[4 * i + 2 * c] = static_cast<unsigned char>(s & 0xFF);
      block[4 * i + 2 * c + 1] = static_cast<unsigned char>(s >> 8);
    }
  }
  return out;
}

struct TInput {
  std::vector<std::vector<unsigned char>> Blocks;
  std::vector<TFormants> Formants;
};

const TInput& Input(int Pitch) {
  static const auto make = [](double F0) {
    TInput in{VowelBlocks(F0), {}};
    CFormantTracker tracker;
    for (const auto& b : in.Blocks) in.Formants.push_back(tracker.Process(b.data()));
    return in;
  };
  static const TInput low = make(110), high = make(440);
  return Pitch == 0 ? low : high;
}

// The label says how often vibrato and jitter were found, which a faster but
// failing analysis would not hide.
void BM_VoiceMeasures(benchmark::State& State) {
  const TInput& in = Input(static_cast<int>(State.range(0)));
  auto voice = std::make_unique<CVoiceMeasures>();
  // A warm history, as a voice that has sung for a while.
  for (std::size_t i = 0; i < in.Blocks.size(); ++i)
    voice->Process(in.Blocks[i].data(), in.Formants[i]);
  std::size_t i = 0, vibrato = 0, jitter = 0, runs = 0;
  for (auto _ : State) {
    const TVoice v = voice->Process(in.Blocks[i].data(), in.Formants[i]);
    benchmark::DoNotOptimize(v);
    vibrato += Measured(v.VibratoHz);
    jitter += Measured(v.JitterPct);
    ++runs;
    i = (i + 1) % in.Blocks.size();
  }
  char label[80];
  std::snprintf(label, sizeof label, "%s Hz, vibrato in %.0f %%, jitter in %.0f %%",
                State.range(0) == 0 ? "110" : "440",
                runs ? 100.0 * static_cast<double>(vibrato) / static_cast<double>(runs) : 0.0,
                runs ? 100.0 * static_cast<double>(jitter) / static_cast<double>(runs) : 0.0);
  State.SetLabel(label);
}
BENCHMARK(BM_VoiceMeasures)->DenseRange(0, 1)->Unit(benchmark::kMicrosecond);

void BM_SpectrumProcess(benchmark::State& State) {
  const TInput& in = Input(0);
  auto fft = std::make_unique<CFFT_iterative>();
  fft->Window = &TabHamming;
  std::size_t i = 0;
  for (auto _ : State) {
    fft->Process(in.Blocks[i].data());
    benchmark::DoNotOptimize(fft->Power.data());
    benchmark::ClobberMemory();
    i = (i + 1) % in.Blocks.size();
  }
}
BENCHMARK(BM_SpectrumProcess)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  quenvis::bench::CPairedReporter reporter;
  if (!quenvis::bench::RunInterleaved(argc, argv, "5", reporter)) return 1;
  const double spectrum = reporter.Median("BM_SpectrumProcess");
  for (int p = 0; p < 2; ++p) {
    const std::string name = "BM_VoiceMeasures/" + std::to_string(p);
    const double voice = reporter.Median(name);
    if (voice > 0)
      std::printf(
          "Voice measures at %s Hz: %.3f ms per block (goal <= 0.2); %.2f x the "
          "spectrum's Process (%.3f ms)\n",
          p == 0 ? "110" : "440", voice, reporter.PairedRatio(name, "BM_SpectrumProcess"),
          spectrum);
  }
  benchmark::Shutdown();
  return 0;
}
