#include "support/VowelSynth.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

namespace quenvis::test {

namespace {
constexpr double TwoPi = 2 * std::numbers::pi;
}

double PitchAt(const TVowel& Vowel, double T) {
  return Vowel.F0 * (Vowel.Vibrato ? 1 + 0.02 * std::sin(TwoPi * 5 * T) : 1.0);
}

std::vector<std::int16_t> Synthesize(const TVowel& Vowel) {
  const auto count = static_cast<std::size_t>(Vowel.Seconds * SynthRate);
  std::vector<double> x(count + 1, 0.0);
  double phase = 0.999;  // first pulse at once
  for (std::size_t n = 1; n <= count; ++n) {
    const double step = PitchAt(Vowel, static_cast<double>(n) / SynthRate) / SynthRate;
    phase += step;
    if (phase >= 1) {
      phase -= 1;
      const double late = phase / step;  // the pulse fell this far before sample n
      x[n - 1] += late;
      x[n] += 1 - late;
    }
  }
  // Glottal low-pass (two poles near 100 Hz), lip radiation (a difference).
  const double g = std::exp(-TwoPi * 100 / SynthRate);
  double y1 = 0, y2 = 0, prev = 0;
  for (double& v : x) {
    y1 = (1 - g) * v + g * y1;
    y2 = (1 - g) * y1 + g * y2;
    v = y2 - prev;
    prev = y2;
  }
  for (std::size_t k = 0; k < 5; ++k) {
    const double c = -std::exp(-TwoPi * Vowel.B[k] / SynthRate);
    const double b = 2 * std::exp(-std::numbers::pi * Vowel.B[k] / SynthRate) *
                     std::cos(TwoPi * Vowel.F[k] / SynthRate);
    const double a = 1 - b - c;
    double z1 = 0, z2 = 0;
    for (double& v : x) {
      const double y = a * v + b * z1 + c * z2;
      z2 = z1;
      z1 = y;
      v = y;
    }
  }
  if (Vowel.SnrDb > 0) {
    double power = 0;
    for (double v : x) power += v * v;
    const double sigma =
        std::sqrt(power / static_cast<double>(x.size())) * std::pow(10, -Vowel.SnrDb / 20);
    std::mt19937 rng(Vowel.Seed);
    std::normal_distribution<double> noise(0, sigma);
    for (double& v : x) v += noise(rng);
  }
  double peak = 1e-300;
  for (double v : x) peak = std::max(peak, std::abs(v));
  std::vector<std::int16_t> out(count);
  for (std::size_t n = 0; n < count; ++n)
    out[n] = static_cast<std::int16_t>(std::nearbyint(x[n + 1] / peak * 16384));
  return out;
}

std::vector<unsigned char> StereoBlock(const std::vector<std::int16_t>& Mono, std::size_t First) {
  constexpr std::size_t frames = 2048;
  std::vector<unsigned char> block(frames * 4, 0);
  for (std::size_t i = 0; i < frames && First + i < Mono.size(); ++i) {
    const auto v = static_cast<std::uint16_t>(Mono[First + i]);
    for (std::size_t c = 0; c < 2; ++c) {
      block[4 * i + 2 * c] = static_cast<unsigned char>(v & 0xFF);
      block[4 * i + 2 * c + 1] = static_cast<unsigned char>(v >> 8);
    }
  }
  return block;
}

}  // namespace quenvis::test
