#include "analysis/HarmonicPeaks.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <mutex>
#include <new>
#include <numbers>

namespace quenvis {

namespace {

constexpr int Half = CHarmonicSpectrum::Size / 2;
constexpr double BinHz = CHarmonicSpectrum::BinHz;

// A peak where only noise is, is the strongest of several noise bins and so
// stands well above their mean: several times the mean comes off every peak,
// which a harmonic clear of the noise hardly notices.
constexpr double NoiseOverSubtraction = 8;
constexpr double NoiseFloorShare = 0.01;  // what a peak keeps at least
constexpr double MinWeight = 0.05;        // of a peak lost in the noise, in the fit

int BinOf(double Hz) noexcept {
  return static_cast<int>(std::nearbyint(std::clamp(Hz / BinHz, 0.0, double(Half))));
}

}  // namespace

std::mutex& FftwPlannerLock() {
  static std::mutex lock;
  return lock;
}

CHarmonicSpectrum::CHarmonicSpectrum() {
  const std::lock_guard<std::mutex> hold(FftwPlannerLock());
  FIn = fftw_alloc_real(Size);
  auto* out = fftw_alloc_complex(Half + 1);
  FOut = out;
  if (FIn) std::fill_n(FIn, Size, 0.0);
  FPlan = FIn && out ? fftw_plan_dft_r2c_1d(Size, FIn, out, FFTW_ESTIMATE) : nullptr;
  if (!FPlan) {
    fftw_free(out);
    fftw_free(FIn);
    throw std::bad_alloc();
  }
  for (int n = 0; n < Frame; ++n)
    FWindow[static_cast<std::size_t>(n)] = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * n / Frame);
}

CHarmonicSpectrum::~CHarmonicSpectrum() {
  const std::lock_guard<std::mutex> hold(FftwPlannerLock());
  fftw_destroy_plan(static_cast<fftw_plan>(FPlan));
  fftw_free(FOut);
  fftw_free(FIn);
}

void CHarmonicSpectrum::Compute(const double* Samples) noexcept {
  double mean = 0;
  for (int n = 0; n < Frame; ++n) mean += Samples[n];
  mean /= Frame;
  for (int n = 0; n < Frame; ++n)
    FIn[n] = (Samples[n] - mean) * FWindow[static_cast<std::size_t>(n)];
  // The tail stays zero from construction; the transform leaves its input.
  fftw_execute(static_cast<fftw_plan>(FPlan));
  const auto* out = static_cast<const fftw_complex*>(FOut);
  for (int k = 0; k <= Half; ++k)
    FPower[static_cast<std::size_t>(k)] = out[k][0] * out[k][0] + out[k][1] * out[k][1];
}

void CHarmonicSpectrum::PickHarmonics(double& F0, double Ceiling, THarmonics& Out) noexcept {
  constexpr double floor = 1e-30;
  const int lastBin = Half - 1;
  double sumFH = 0, sumHH = 0, f0 = F0;
  int count = 0;
  // A high voice has few harmonics, and a noise peak taken for a weak one
  // would drag their mean: there the stronger ones count for more.
  const bool few = F0 > FewHarmonicsF0;
  for (int h = 1; h <= MaxHarmonics; ++h) {
    const double expected = h * f0;
    if (expected >= Ceiling) break;
    const double reach = std::max(0.3 * f0, 2.5 * BinHz);
    const int lo = std::max(1, BinOf(expected - reach));
    const int hi = std::min(lastBin, BinOf(expected + reach));
    if (hi <= lo) break;
    int k = lo;
    for (int j = lo + 1; j <= hi; ++j)
      if (FPower[static_cast<std::size_t>(j)] > FPower[static_cast<std::size_t>(k)]) k = j;
    const double pa = FPower[static_cast<std::size_t>(k - 1)],
                 pb = FPower[static_cast<std::size_t>(k)];
    const double pc = FPower[static_cast<std::size_t>(k + 1)];
    double freq = expected, power = pb;
    if (pb >= pa && pb >= pc && k > lo && k < hi) {
      const double a = std::log(pa + floor), b = std::log(pb + floor), c = std::log(pc + floor);
      const double curve = a - 2 * b + c;
      const double delta = curve < 0 ? std::clamp(0.5 * (a - c) / curve, -0.5, 0.5) : 0.0;
      freq = (k + delta) * BinHz;
      power = std::exp(b - 0.25 * (a - c) * delta);
      if (std::abs(freq - expected) < 0.15 * f0) {
        const double w = few ? power : 1.0;
        sumFH += w * freq * h;
        sumHH += w * static_cast<double>(h) * h;
        f0 = sumFH / sumHH;
      }
    }
    Out.Freq[static_cast<std::size_t>(count)] = freq;
    Out.Power[static_cast<std::size_t>(count)] = power;
    ++count;
  }
  Out.Count = count;
  if (sumHH > 0) F0 = f0;
  RemoveNoise(Out, f0);
}

// Noise adds its power to every bin, peaks included, and raises the valleys
// between harmonics to its level: the mean power of the middle of the nearby
// valleys is taken from each peak. A peak that does not stand clear of it
// keeps a small part of its power, which the model may pass above.
void CHarmonicSpectrum::RemoveNoise(THarmonics& H, double F0) noexcept {
  const int count = H.Count;
  for (int m = 0; m < count; ++m) {
    const double f = H.Freq[static_cast<std::size_t>(m)];
    const double next = m + 1 < count ? H.Freq[static_cast<std::size_t>(m + 1)] : f + F0;
    const int lo = BinOf(f + 0.35 * (next - f));
    const int hi = BinOf(f + 0.65 * (next - f));
    double sum = 0;
    for (int k = lo; k <= hi; ++k) sum += FPower[static_cast<std::size_t>(k)];
    FValley[static_cast<std::size_t>(m)] = hi >= lo ? sum / (hi - lo + 1) : 0;
  }
  for (int m = 0; m < count; ++m) {
    double noise = 0;
    int n = 0;
    for (int j = std::max(0, m - 2); j <= std::min(count - 1, m + 1); ++j, ++n)
      noise += FValley[static_cast<std::size_t>(j)];
    noise /= n;
    double& p = H.Power[static_cast<std::size_t>(m)];
    const double clean = std::max(p - NoiseOverSubtraction * noise, NoiseFloorShare * p);
    const double snr = noise > 0 ? clean / (NoiseOverSubtraction * noise) : 1e6;
    H.Weight[static_cast<std::size_t>(m)] = std::max(snr / (1 + snr), MinWeight);
    p = clean;
  }
}

double CHarmonicSpectrum::PeakPower(double Freq, double Reach) const noexcept {
  const int lo = BinOf(Freq - Reach), hi = std::max(lo, BinOf(Freq + Reach));
  double peak = 0;
  for (int k = lo; k <= hi; ++k) peak = std::max(peak, FPower[static_cast<std::size_t>(k)]);
  return peak;
}

double CHarmonicSpectrum::Prominence(double Freq, double Spacing) const noexcept {
  const auto meanOver = [&](double From, double To) {
    const int lo = BinOf(From), hi = std::max(lo, BinOf(To));
    double sum = 0;
    for (int k = lo; k <= hi; ++k) sum += FPower[static_cast<std::size_t>(k)];
    return sum / (hi - lo + 1);
  };
  const double peak = PeakPower(Freq, 0.2 * Spacing);
  const double side = std::max(meanOver(Freq - 0.8 * Spacing, Freq - 0.3 * Spacing),
                               meanOver(Freq + 0.3 * Spacing, Freq + 0.8 * Spacing));
  return side > 0 ? peak / side : (peak > 0 ? 1e12 : 0.0);
}

}  // namespace quenvis
