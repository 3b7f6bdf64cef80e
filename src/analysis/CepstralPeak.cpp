#include "analysis/CepstralPeak.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <new>
#include <numbers>

#include "analysis/HarmonicPeaks.h"
#include "analysis/VoiceMeasure.h"

namespace quenvis {

namespace {
constexpr int Half = CCepstralPeak::Size / 2;
constexpr double Tiny = 1e-30;  // keeps the logarithms of silence finite

// 10 log10 of a positive X from the library's logarithm in single precision
// (to within about 1e-6 dB, which the averages do not feel): the cepstra
// take five thousand a measure.
inline double Db(double X) noexcept {
  constexpr double dbPerLn = 10 / std::numbers::ln10;
  return dbPerLn * static_cast<double>(std::log(static_cast<float>(X)));
}
}  // namespace

CCepstralPeak::CCepstralPeak() {
  const std::lock_guard<std::mutex> hold(FftwPlannerLock());
  FIn = fftw_alloc_real(Size);
  FCep = fftw_alloc_real(CepSize);
  auto* spec = fftw_alloc_complex(Half + 1);
  auto* logSpec = fftw_alloc_complex(Bands + 1);
  FSpec = spec;
  FLogSpec = logSpec;
  if (FIn) std::fill_n(FIn, Size, 0.0);
  FForward = FIn && spec ? fftw_plan_dft_r2c_1d(Size, FIn, spec, FFTW_ESTIMATE) : nullptr;
  FBackward =
      FCep && logSpec ? fftw_plan_dft_c2r_1d(CepSize, logSpec, FCep, FFTW_ESTIMATE) : nullptr;
  if (!FForward || !FBackward) {
    if (FForward) fftw_destroy_plan(static_cast<fftw_plan>(FForward));
    if (FBackward) fftw_destroy_plan(static_cast<fftw_plan>(FBackward));
    fftw_free(logSpec);
    fftw_free(spec);
    fftw_free(FCep);
    fftw_free(FIn);
    throw std::bad_alloc();
  }
  // The Gaussian window of the analyses, zero at its edges.
  const double edge = std::exp(-12.0);
  for (int n = 0; n < Window; ++n) {
    const double x = (n + 0.5) / Window - 0.5;
    FWindow[static_cast<std::size_t>(n)] = (std::exp(-48 * x * x) - edge) / (1 - edge);
  }
  // The frame's mean over exactly twice the effective length (0.1 s), as
  // Praat takes it at 10 000 Hz, where that is a whole number of samples: a
  // box of Length samples about the window's centre, its edges spread by a
  // Hann kernel of Spread samples either side so that the sum over samples
  // stands for the integral (no sample-sized steps to leak the voice's
  // harmonics into the mean).
  constexpr double Length = 2 * 0.05 * Rate, Spread = MeanEdge - 1;
  static_assert(Length / 2 + Spread < Window / 2.0 + MeanEdge);
  constexpr double centre = MeanEdge + (Window - 1) / 2.0;
  for (std::size_t n = 0; n < FMeanWeights.size(); ++n) {
    const double u =
        std::clamp((Length / 2 - std::abs(static_cast<double>(n) - centre)) / Spread, -1.0, 1.0);
    FMeanWeights[n] =
        ((u + 1) / 2 + std::sin(std::numbers::pi * u) / (2 * std::numbers::pi)) / Length;
  }
}

CCepstralPeak::~CCepstralPeak() {
  const std::lock_guard<std::mutex> hold(FftwPlannerLock());
  fftw_destroy_plan(static_cast<fftw_plan>(FForward));
  fftw_destroy_plan(static_cast<fftw_plan>(FBackward));
  fftw_free(FLogSpec);
  fftw_free(FSpec);
  fftw_free(FCep);
  fftw_free(FIn);
}

double CCepstralPeak::Measure(const double* X) noexcept {
  const double a = std::exp(-2 * std::numbers::pi * 50 / Rate);
  double energy = 0;
  FEmph[0] = 0;
  for (std::size_t i = 1; i < FEmph.size(); ++i) {
    FEmph[i] = X[i] - a * X[i - 1];
    energy += FEmph[i] * FEmph[i];
  }
  if (!(energy > 1e-20)) return NoMeasure;
  auto* spec = static_cast<fftw_complex*>(FSpec);
  auto* logSpec = static_cast<fftw_complex*>(FLogSpec);
  FSum.fill(0);
  for (int f = 0; f < Frames; ++f) {
    const auto first = static_cast<std::size_t>(1 + std::nearbyint(f * FrameStep * Rate));
    // Each frame loses its mean before the window, or what a wavering voice
    // leaves below its pitch leaks through the window into the lowest bands
    // and lifts the cepstrum's floor (1 % jitter at 220 Hz: 3-4 dB less
    // prominence than Praat's).
    double mean = 0;
    for (std::size_t n = 0; n < FMeanWeights.size(); ++n)
      mean += FEmph[first + n] * FMeanWeights[n];
    const double* frame = FEmph.data() + first + MeanEdge;
    for (std::size_t n = 0; n < static_cast<std::size_t>(Window); ++n)
      FIn[n] = (frame[n] - mean) * FWindow[n];
    fftw_execute(static_cast<fftw_plan>(FForward));
    // The log power spectrum (dB) up to MaxFrequency, real and even: its
    // transform is the cepstrum.
    for (int k = 0; k <= Bands; ++k) {
      const double p = spec[k][0] * spec[k][0] + spec[k][1] * spec[k][1];
      logSpec[k][0] = Db(p + Tiny);
      logSpec[k][1] = 0;
    }
    fftw_execute(static_cast<fftw_plan>(FBackward));
    for (std::size_t q = 0; q <= static_cast<std::size_t>(Top); ++q) {
      const double c = FCep[q] / CepSize;
      FSum[q] += c * c;
    }
  }
  // Averaged over the frames, then over 0.001 s of quefrency (Smooth taps,
  // the outer two weighed half, so that the window is 0.001 s wide and
  // centred), as power: in dB the cepstrum's zero crossings would swamp the
  // averages.
  constexpr int side = Smooth / 2;
  double run = 0;
  for (int j = 0; j < Smooth - 1; ++j) run += FSum[static_cast<std::size_t>(j)];
  for (int q = side; q + side <= Top; ++q) {
    run += FSum[static_cast<std::size_t>(q + side)];
    const double ends =
        0.5 * (FSum[static_cast<std::size_t>(q - side)] + FSum[static_cast<std::size_t>(q + side)]);
    FSmooth[static_cast<std::size_t>(q)] = Db((run - ends) / ((Smooth - 1) * Frames) + Tiny);
    run -= FSum[static_cast<std::size_t>(q - side)];
  }
  // The trend: a straight line by the incomplete Theil regression, the
  // median slope of pairs half the range apart.
  const int lo = static_cast<int>(std::nearbyint(TrendFrom * QuefrencyRate));
  const int hi = static_cast<int>(TrendTo * QuefrencyRate);
  const int half = (hi - lo + 1) / 2;
  for (int i = 0; i < half; ++i)
    FSlopes[static_cast<std::size_t>(i)] = (FSmooth[static_cast<std::size_t>(lo + i + half)] -
                                            FSmooth[static_cast<std::size_t>(lo + i)]) /
                                           half;
  auto* mid = FSlopes.data() + half / 2;
  std::nth_element(FSlopes.data(), mid, FSlopes.data() + half);
  const double slope = *mid;
  // The intercept: the median of what the slope leaves.
  const int points = hi - lo + 1;
  for (int i = 0; i < points; ++i)
    FSlopes[static_cast<std::size_t>(i)] =
        FSmooth[static_cast<std::size_t>(lo + i)] - slope * (lo + i);
  mid = FSlopes.data() + points / 2;
  std::nth_element(FSlopes.data(), mid, FSlopes.data() + points);
  const double intercept = *mid;
  // The peak, with a parabola through it.
  const int from = static_cast<int>(std::ceil(QuefrencyRate / MaxPitch));
  const int to = static_cast<int>(std::floor(QuefrencyRate / MinPitch));
  int best = from;
  for (int q = from + 1; q <= to; ++q)
    if (FSmooth[static_cast<std::size_t>(q)] > FSmooth[static_cast<std::size_t>(best)]) best = q;
  const double y0 = FSmooth[static_cast<std::size_t>(best - 1)],
               y1 = FSmooth[static_cast<std::size_t>(best)],
               y2 = FSmooth[static_cast<std::size_t>(best + 1)];
  const double curve = y0 - 2 * y1 + y2;
  const double shift = curve < 0 ? std::clamp(0.5 * (y0 - y2) / curve, -0.5, 0.5) : 0.0;
  const double peak = y1 - 0.25 * (y0 - y2) * shift;
  return peak - (intercept + slope * (best + shift));
}

}  // namespace quenvis
