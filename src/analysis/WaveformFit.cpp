#include "analysis/WaveformFit.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <numbers>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "analysis/CompanionRoots.h"

namespace quenvis {

namespace {

constexpr double Pi = std::numbers::pi;
// From 50 Hz up, 6 dB an octave, as Praat does: the glottal source's fall
// would otherwise draw the poles to the low harmonics.
const double PreEmphasis = std::exp(-2 * Pi * 50 / CWaveformFit::Rate);

}  // namespace

CWaveformFit::CWaveformFit() noexcept {
  for (int n = 0; n < Window; ++n)
    FWindow[static_cast<std::size_t>(n)] = 0.5 - 0.5 * std::cos(2 * Pi * (n + 0.5) / Window);
}

bool CWaveformFit::Fit(const double* Samples, int Order, TResonances& Out) noexcept {
  Out.Count = 0;
  FOrder = -1;
  const int p = std::clamp(Order / 2 * 2, 2, MaxOrder);
  double energy = 0;
  for (int n = 0; n < Window; ++n) {
    const double prev = n > 0 ? Samples[n - 1] : Samples[0];
    const double x = (Samples[n] - PreEmphasis * prev) * FWindow[static_cast<std::size_t>(n)];
    FX[static_cast<std::size_t>(n)] = x;
    energy += x * x;
  }
  if (!(energy > 1e-12) || !std::isfinite(energy)) return false;

  // Burg: each reflection coefficient minimises the forward and backward
  // prediction errors together, so a short stretch still gives sharp poles.
  constexpr int N = Window;
  for (int n = 0; n < N; ++n)
    FForward[static_cast<std::size_t>(n)] = FBackward[static_cast<std::size_t>(n)] =
        FX[static_cast<std::size_t>(n)];
  FA.fill(0);
  FA[0] = 1;
  FOrder = 0;
  return Recurse(p) && Resonances(p, Out);
}

bool CWaveformFit::Extend(int Order, TResonances& Out) noexcept {
  Out.Count = 0;
  const int p = std::clamp(Order / 2 * 2, 2, MaxOrder);
  return FOrder > 0 && p >= FOrder && Recurse(p) && Resonances(p, Out);
}

bool CWaveformFit::Recurse(int P) noexcept {
  constexpr int N = Window;
  for (int m = FOrder + 1; m <= P; ++m) {
    double num = 0, den = 0;
    for (int n = m; n < N; ++n) {
      const double f = FForward[static_cast<std::size_t>(n)];
      const double b = FBackward[static_cast<std::size_t>(n - 1)];
      num += f * b;
      den += f * f + b * b;
    }
    if (!(den > 0)) {
      FOrder = -1;
      return false;
    }
    const double k = -2 * num / den;
    FPrevious = FA;
    for (int i = 1; i <= m; ++i)
      FA[static_cast<std::size_t>(i)] =
          FPrevious[static_cast<std::size_t>(i)] + k * FPrevious[static_cast<std::size_t>(m - i)];
    // Updated from the top down: each needs the old backward error below it.
    int n = N - 1;
#if defined(__SSE2__)
    // Two at a time, both of their backward errors below read before either
    // is written.
    const __m128d kk = _mm_set1_pd(k);
    for (; n - 1 >= m; n -= 2) {
      double* f = FForward.data() + (n - 1);
      double* b = FBackward.data() + (n - 1);
      const __m128d fv = _mm_loadu_pd(f), bv = _mm_loadu_pd(b - 1);
      _mm_storeu_pd(f, _mm_add_pd(fv, _mm_mul_pd(kk, bv)));
      _mm_storeu_pd(b, _mm_add_pd(bv, _mm_mul_pd(kk, fv)));
    }
#endif
    for (; n >= m; --n) {
      const double f = FForward[static_cast<std::size_t>(n)];
      const double b = FBackward[static_cast<std::size_t>(n - 1)];
      FForward[static_cast<std::size_t>(n)] = f + k * b;
      FBackward[static_cast<std::size_t>(n)] = b + k * f;
    }
    FOrder = m;
  }
  return true;
}

bool CWaveformFit::Resonances(int p, TResonances& Out) const noexcept {
  for (int k = 1; k <= p; ++k)
    if (!std::isfinite(FA[static_cast<std::size_t>(k)])) return false;
  std::array<std::complex<double>, MaxCompanionOrder> roots;
  if (!CompanionRoots(FA.data(), p, roots)) return false;
  const double scale = Rate / (2 * Pi);
  for (int k = 0; k < p; ++k) {
    const std::complex<double> z = roots[static_cast<std::size_t>(k)];
    if (!(z.imag() > 0)) continue;
    const double f = std::atan2(z.imag(), z.real()) * scale;
    const double r = std::abs(z);
    const double b = r > 0 ? -std::log(std::min(r, 1 / r)) * Rate / Pi : MaxBand;
    if (!std::isfinite(f) || !std::isfinite(b) || f < MinFreq || f > Rate / 2 - 50 || b <= 0 ||
        b >= MaxBand)
      continue;
    // The lowest five, rising.
    int at = Out.Count < static_cast<int>(Out.Freq.size()) ? Out.Count++ : Out.Count;
    if (at == static_cast<int>(Out.Freq.size()) && f >= Out.Freq.back()) continue;
    if (at == static_cast<int>(Out.Freq.size())) --at;
    for (; at > 0 && Out.Freq[static_cast<std::size_t>(at - 1)] > f; --at) {
      Out.Freq[static_cast<std::size_t>(at)] = Out.Freq[static_cast<std::size_t>(at - 1)];
      Out.Band[static_cast<std::size_t>(at)] = Out.Band[static_cast<std::size_t>(at - 1)];
    }
    Out.Freq[static_cast<std::size_t>(at)] = f;
    Out.Band[static_cast<std::size_t>(at)] = b;
  }
  return true;
}

}  // namespace quenvis
