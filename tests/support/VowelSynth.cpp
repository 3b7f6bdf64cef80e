#include "support/VowelSynth.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

namespace quenvis::test {

namespace {
constexpr double TwoPi = 2 * std::numbers::pi;

// A small room after Schroeder: four parallel feedback combs whose gains give
// the decay time, then two all-pass filters that thicken the echoes; mixed
// with the direct sound at equal power.
void AddRoom(std::vector<double>& X, double Rt60) {
  constexpr double combMs[] = {29.7, 37.1, 41.1, 43.7};
  constexpr double allpassMs[] = {5.0, 1.7};
  const std::size_t n = X.size();
  std::vector<double> wet(n, 0.0);
  for (const double ms : combMs) {
    const auto delay = static_cast<std::size_t>(ms * SynthRate / 1000);
    const double gain = std::pow(10.0, -3.0 * ms / 1000 / Rt60);
    std::vector<double> y(n, 0.0);
    for (std::size_t i = 0; i < n; ++i) y[i] = X[i] + (i >= delay ? gain * y[i - delay] : 0.0);
    for (std::size_t i = 0; i < n; ++i) wet[i] += y[i];
  }
  for (const double ms : allpassMs) {
    const auto delay = static_cast<std::size_t>(ms * SynthRate / 1000);
    constexpr double g = 0.7;
    std::vector<double> y(n, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
      const double back = i >= delay ? wet[i - delay] : 0.0;
      const double fed = i >= delay ? y[i - delay] : 0.0;
      y[i] = -g * wet[i] + back + g * fed;
    }
    wet.swap(y);
  }
  double dry = 0, room = 0;
  for (std::size_t i = 0; i < n; ++i) dry += X[i] * X[i], room += wet[i] * wet[i];
  const double scale = room > 0 ? std::sqrt(dry / room) : 0.0;
  for (std::size_t i = 0; i < n; ++i) X[i] += scale * wet[i];
}
}  // namespace

double PitchAt(const TVowel& Vowel, double T) {
  const double glide =
      Vowel.GlideSeconds > 0
          ? std::clamp((T - Vowel.GlideStart) / Vowel.GlideSeconds, 0.0, 1.0) * Vowel.GlideOctaves
          : 0.0;
  if (Vowel.Vibrato && Vowel.VibratoCents > 0)
    return Vowel.F0 * std::exp2(glide + Vowel.VibratoCents / 1200 *
                                            std::sin(TwoPi * Vowel.VibratoHz * T));
  return Vowel.F0 * std::exp2(glide) *
         (Vowel.Vibrato ? 1 + Vowel.VibratoDepth * std::sin(TwoPi * Vowel.VibratoHz * T) : 1.0);
}

std::vector<std::int16_t> Synthesize(const TVowel& Vowel, TPulses* Pulses) {
  const auto count = static_cast<std::size_t>(Vowel.Seconds * SynthRate);
  std::vector<double> x(count + 1, 0.0);
  double phase = 0.999;  // first pulse at once
  std::mt19937 rough(Vowel.Seed + 1000);
  std::uniform_real_distribution<double> jitter(-Vowel.Jitter, Vowel.Jitter);
  std::mt19937 uneven(Vowel.Seed + 2000);
  std::uniform_real_distribution<double> shimmer(-Vowel.Shimmer, Vowel.Shimmer);
  if (Pulses) *Pulses = {};
  for (std::size_t n = 1; n <= count; ++n) {
    const double step = PitchAt(Vowel, static_cast<double>(n) / SynthRate) / SynthRate;
    phase += step;
    if (phase >= 1) {
      phase -= 1;
      const double late = phase / step;  // the pulse fell this far before sample n
      const double size = Vowel.Shimmer > 0 ? 1 + shimmer(uneven) : 1.0;
      x[n - 1] += late * size;
      x[n] += (1 - late) * size;
      if (Pulses) {
        // x[k] holds sample k - 1 of the output.
        Pulses->Time.push_back((static_cast<double>(n) - 1 - late) / SynthRate);
        Pulses->Size.push_back(size);
      }
      // The next period is longer or shorter by its share of jitter.
      if (Vowel.Jitter > 0) phase -= jitter(rough);
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
  if (Vowel.ReverbSeconds > 0) AddRoom(x, Vowel.ReverbSeconds);
  if (Vowel.SnrDb > 0) {
    std::mt19937 rng(Vowel.Seed);
    std::normal_distribution<double> white(0, 1);
    std::vector<double> noise(x.size());
    // Pink: white noise through a bank of first-order low-passes (-3 dB per
    // octave within 1 % over the audible band).
    double b0 = 0, b1 = 0, b2 = 0, b3 = 0, b4 = 0, b5 = 0, b6 = 0;
    for (double& v : noise) {
      const double w = white(rng);
      if (!Vowel.PinkNoise) {
        v = w;
        continue;
      }
      b0 = 0.99886 * b0 + w * 0.0555179;
      b1 = 0.99332 * b1 + w * 0.0750759;
      b2 = 0.96900 * b2 + w * 0.1538520;
      b3 = 0.86650 * b3 + w * 0.3104856;
      b4 = 0.55000 * b4 + w * 0.5329522;
      b5 = -0.7616 * b5 - w * 0.0168980;
      v = b0 + b1 + b2 + b3 + b4 + b5 + b6 + w * 0.5362;
      b6 = w * 0.115926;
    }
    double power = 0, noisePower = 0;
    for (std::size_t i = 0; i < x.size(); ++i)
      power += x[i] * x[i], noisePower += noise[i] * noise[i];
    const double gain =
        noisePower > 0 ? std::sqrt(power / noisePower) * std::pow(10, -Vowel.SnrDb / 20) : 0.0;
    for (std::size_t i = 0; i < x.size(); ++i) x[i] += gain * noise[i];
  }
  if (Vowel.HighPassHz > 0) {
    // Fourth order: two second-order Butterworth sections (Q 0.54 and 1.31).
    for (const double q : {0.5412, 1.3066}) {
      const double w = TwoPi * Vowel.HighPassHz / SynthRate, alpha = std::sin(w) / (2 * q);
      const double a0 = 1 + alpha, c = std::cos(w);
      const double b0 = (1 + c) / 2 / a0, b1 = -(1 + c) / a0, b2 = b0;
      const double a1 = -2 * c / a0, a2 = (1 - alpha) / a0;
      double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
      for (double& v : x) {
        const double y = b0 * v + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1, x1 = v, y2 = y1, y1 = y;
        v = y;
      }
    }
  }
  double peak = 1e-300;
  for (double v : x) peak = std::max(peak, std::abs(v));
  std::vector<std::int16_t> out(count);
  for (std::size_t n = 0; n < count; ++n)
    out[n] = static_cast<std::int16_t>(
        std::clamp(std::nearbyint(x[n + 1] / peak * 32768 * Vowel.Peak), -32768.0, 32767.0));
  return out;
}

namespace {
// Mean absolute difference of consecutive values over their mean, in %.
double LocalVariation(const std::vector<double>& V) {
  if (V.size() < 2) return 0;
  double diff = 0, sum = 0;
  for (std::size_t i = 0; i < V.size(); ++i) {
    sum += V[i];
    if (i > 0) diff += std::abs(V[i] - V[i - 1]);
  }
  return 100 * (diff / static_cast<double>(V.size() - 1)) / (sum / static_cast<double>(V.size()));
}
}  // namespace

double PulseJitter(const TPulses& Pulses, double From, double To) {
  std::vector<double> periods;
  for (std::size_t i = 1; i < Pulses.Time.size(); ++i)
    if (Pulses.Time[i - 1] >= From && Pulses.Time[i] <= To)
      periods.push_back(Pulses.Time[i] - Pulses.Time[i - 1]);
  return LocalVariation(periods);
}

double PulseShimmer(const TPulses& Pulses, double From, double To) {
  std::vector<double> sizes;
  for (std::size_t i = 0; i < Pulses.Time.size(); ++i)
    if (Pulses.Time[i] >= From && Pulses.Time[i] <= To) sizes.push_back(Pulses.Size[i]);
  return LocalVariation(sizes);
}

std::vector<unsigned char> StereoBlock(const std::vector<std::int16_t>& Mono, std::size_t First,
                                       int Frames) {
  const auto frames = static_cast<std::size_t>(std::max(Frames, 0));
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
