#include "analysis/PitchEstimator.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace quenvis {

namespace {

constexpr double ShortDip = 0.15;       // a dip this deep is a period of its own
constexpr double Aperiodic = 0.5;       // no dip below this: unvoiced (rough voices reach 0.45)
constexpr double StillPeriodic = 0.58;  // the same, where the previous analysis was voiced
constexpr double ShorterPeriod = 0.4;   // the deepest a half or a third of the period must reach
constexpr double DipSlack = 0.12;       // a longer period may be this much shallower
constexpr double Evidence = 0.5;        // share of the missing harmonics found
constexpr double NoFundamental = 0.3;   // less evidence without the lower pitch's own
constexpr double Prominent = 4;         // 6 dB over the valleys beside it
constexpr double EvidenceTop = 3000;    // Hz; vibrato blurs the harmonics above
constexpr double Audible = 3e-3;        // -25 dB re the harmonics beside it
constexpr double Remembered = 3;        // blocks the last F0 steers the choice
constexpr double DeeperDip = 0.6;       // a longer period's dip this share of the shorter's
constexpr double Clearer = 0.25;        // lowers the bar for the longer period
constexpr double OctaveTime = 0.07;     // s; no voice glides an octave faster
constexpr double Within = 1.7;          // a voice may leap this far at once (creak to modal)
constexpr double BlockSeconds = 2048 / 44100.0;
constexpr double GlideDip = 0.7;    // a glide blurs the period's dip this much
constexpr double FartherDip = 0.5;  // so much deeper a dip an octave off the recent pitch must be
constexpr double Jump = 0.2;        // a change of pitch since the recent one worth a second look
constexpr double Clearly = 0.2;     // how much deeper the short window's dip must be
constexpr double Sharper = 0.7;     // or, for an octave, how much of the other's it may be
constexpr int CentreWindow = 224;   // 20 ms
constexpr double CentreAperiodic = 0.45;  // no dip below this there: unvoiced
constexpr double SteadyAperiodic = 0.75;  // the same, for a voice going on as loud
constexpr double Steady = 0.85;           // share of the window's power in its middle
constexpr int GlideWindow = 176;          // 16 ms: an octave glide changes the period by a tenth

bool Near(double A, double B, double Tolerance) noexcept {
  return A > 0 && B > 0 && std::abs(A - B) <= Tolerance * B;
}

// The squared differences of X and X + Tau over Length samples, summed in
// four lanes (n mod 4) and then as (0 + 1) + (2 + 3): every path adds in
// this order, so that all give the same bits.
double SquaredDifference(const double* X, int Tau, int Length) noexcept {
  double a0 = 0, a1 = 0, a2 = 0, a3 = 0;
  for (int n = 0; n + 3 < Length; n += 4) {
    const double e0 = X[n] - X[n + Tau], e1 = X[n + 1] - X[n + 1 + Tau];
    const double e2 = X[n + 2] - X[n + 2 + Tau], e3 = X[n + 3] - X[n + 3 + Tau];
    a0 += e0 * e0;
    a1 += e1 * e1;
    a2 += e2 * e2;
    a3 += e3 * e3;
  }
  return (a0 + a1) + (a2 + a3);
}

#if defined(__x86_64__) && defined(__GNUC__)
// The four lanes in one register; a multiply and an add apart (no fused
// multiply-add), as the portable path rounds.
__attribute__((target("avx2"))) double SquaredDifferenceAvx2(const double* X, int Tau,
                                                              int Length) noexcept {
  __m256d a = _mm256_setzero_pd();
  for (int n = 0; n + 3 < Length; n += 4) {
    const __m256d e = _mm256_sub_pd(_mm256_loadu_pd(X + n), _mm256_loadu_pd(X + n + Tau));
    a = _mm256_add_pd(a, _mm256_mul_pd(e, e));
  }
  alignas(32) double lane[4];
  _mm256_store_pd(lane, a);
  return (lane[0] + lane[1]) + (lane[2] + lane[3]);
}

// The same for the four lags Tau..Tau + 3, each from its own start
// Starts[i]: four sums that do not wait on each other.
__attribute__((target("avx2"))) void SquaredDifferencesAvx2(const double* const* Starts, int Tau,
                                                             int Length, double* Out) noexcept {
  __m256d a0 = _mm256_setzero_pd(), a1 = a0, a2 = a0, a3 = a0;
  const double *x0 = Starts[0], *x1 = Starts[1], *x2 = Starts[2], *x3 = Starts[3];
  for (int n = 0; n + 3 < Length; n += 4) {
    const __m256d e0 = _mm256_sub_pd(_mm256_loadu_pd(x0 + n), _mm256_loadu_pd(x0 + n + Tau));
    const __m256d e1 = _mm256_sub_pd(_mm256_loadu_pd(x1 + n), _mm256_loadu_pd(x1 + n + Tau + 1));
    const __m256d e2 = _mm256_sub_pd(_mm256_loadu_pd(x2 + n), _mm256_loadu_pd(x2 + n + Tau + 2));
    const __m256d e3 = _mm256_sub_pd(_mm256_loadu_pd(x3 + n), _mm256_loadu_pd(x3 + n + Tau + 3));
    a0 = _mm256_add_pd(a0, _mm256_mul_pd(e0, e0));
    a1 = _mm256_add_pd(a1, _mm256_mul_pd(e1, e1));
    a2 = _mm256_add_pd(a2, _mm256_mul_pd(e2, e2));
    a3 = _mm256_add_pd(a3, _mm256_mul_pd(e3, e3));
  }
  alignas(32) double lane[4][4];
  _mm256_store_pd(lane[0], a0);
  _mm256_store_pd(lane[1], a1);
  _mm256_store_pd(lane[2], a2);
  _mm256_store_pd(lane[3], a3);
  for (int i = 0; i < 4; ++i) Out[i] = (lane[i][0] + lane[i][1]) + (lane[i][2] + lane[i][3]);
}
#endif

}  // namespace

void CPitchEstimator::Reset() noexcept {
  FLastF0 = 0;
  FSinceVoiced = 1000;
}

double CPitchEstimator::MissingHarmonics(const CHarmonicSpectrum& Spectrum, double F0,
                                         double Low) const noexcept {
  const double top = std::min(EvidenceTop, 8.5 * F0);
  int tried = 0, found = 0;
  bool fundamental = false;
  for (int m = 1; m * Low < top && tried < 8; ++m) {
    const double at = m * Low;
    const double below = std::floor(at / F0 + 1e-9) * F0;  // harmonics of F0 beside it
    if (at - below < 0.1 * F0 || below + F0 - at < 0.1 * F0) continue;
    ++tried;
    // Far below the harmonics beside it, a peak is leakage or noise.
    const double beside =
        std::max(Spectrum.PeakPower(below, 0.1 * F0), Spectrum.PeakPower(below + F0, 0.1 * F0));
    const double spacing = std::min({Low, at - below, below + F0 - at});
    const bool present = Spectrum.Prominence(at, spacing) >= Prominent &&
                         Spectrum.PeakPower(at, 0.2 * spacing) >= Audible * beside;
    found += present;
    fundamental = fundamental || (m == 1 && present);
  }
  // Without its fundamental the lower pitch is doubtful (a formant between
  // two harmonics of a vibrato lifts the smear into false peaks), but noise
  // at low frequencies, as pink noise or hum, may hide it: the rest must
  // then show more.
  const double share = tried ? static_cast<double>(found) / tried : 0.0;
  return std::max(0.0, share - (fundamental ? 0.0 : NoFundamental));
}

// The period of the dip within Reach of the recent pitch Last that is
// deepest, the closer ones favoured (a glide's blurred one may be shallow,
// and a short window's dips at long periods are unsteady), refined; 0 when
// there is none.
double CPitchEstimator::PeriodNearRecent(const TDifference& D, double Last, double Reach,
                                         double& Dip) const noexcept {
  const int lo = std::max(MinLag, static_cast<int>(Rate / (Reach * Last)));
  const int hi = std::min(MaxLag - 1, static_cast<int>(Rate * Reach / Last) + 1);
  int best = -1;
  double bestScore = 0;
  for (int tau = lo + 1; tau < hi; ++tau) {
    const double d = D[static_cast<std::size_t>(tau)];
    if (d >= D[static_cast<std::size_t>(tau - 1)] || d > D[static_cast<std::size_t>(tau + 1)] ||
        d > GlideDip)
      continue;
    const double score = d + FartherDip * std::abs(std::log2(tau * Last / Rate));
    if (best < 0 || score < bestScore) best = tau, bestScore = score;
  }
  if (best < 0) return 0;
  Dip = D[static_cast<std::size_t>(best)];
  const double refined = PeriodNear(D, best, Dip);
  return refined > 0 ? refined : best;
}

// The period (in samples) of the deepest dip within 8 % of Lag, refined by a
// parabola; 0 when none lies in range.
double CPitchEstimator::PeriodNear(const TDifference& D, double Lag, double& Dip) const noexcept {
  const int lo = std::max(MinLag, static_cast<int>(Lag * 0.92));
  const int hi = std::min(MaxLag - 1, static_cast<int>(Lag * 1.08) + 1);
  int best = -1;
  for (int tau = lo; tau <= hi; ++tau)
    if (best < 0 || D[static_cast<std::size_t>(tau)] < D[static_cast<std::size_t>(best)])
      best = tau;
  if (best <= lo || best >= hi) return 0;  // still falling at the edge: no dip here
  Dip = D[static_cast<std::size_t>(best)];
  const double a = D[static_cast<std::size_t>(best - 1)], b = Dip,
               c = D[static_cast<std::size_t>(best + 1)];
  const double curve = a - 2 * b + c;
  return best + (curve > 0 ? std::clamp(0.5 * (a - c) / curve, -0.5, 0.5) : 0.0);
}

// Cumulative-mean-normalised difference over Length samples. Each lag's
// pair of windows is centred on the middle of the samples, so that every
// period is measured at the same moment: with a fixed start, a long
// period's would lie later than a short one's, and a changing pitch would
// be read ahead of its time.
void CPitchEstimator::Difference(int Length, TDifference& D, int Top) const noexcept {
  const int skip = (Window - Length) / 2;
  double running = 0;
  D[0] = 1;
  const auto start = [&](int Tau) { return FX.data() + skip + (MaxLag - Tau) / 2; };
  for (int tau = 1; tau <= Top;) {
    double diffs[4];
    int count = 1;
#if defined(__x86_64__) && defined(__GNUC__)
    if (FAvx2 && tau + 3 <= Top) {
      const double* starts[4] = {start(tau), start(tau + 1), start(tau + 2), start(tau + 3)};
      SquaredDifferencesAvx2(starts, tau, Length, diffs);
      count = 4;
    } else {
      diffs[0] = FAvx2 ? SquaredDifferenceAvx2(start(tau), tau, Length)
                       : SquaredDifference(start(tau), tau, Length);
    }
#else
    diffs[0] = SquaredDifference(start(tau), tau, Length);
#endif
    for (int i = 0; i < count; ++i, ++tau) {
      running += diffs[i];
      D[static_cast<std::size_t>(tau)] = running > 0 ? diffs[i] * tau / running : 1;
    }
  }
  std::fill(D.begin() + Top + 1, D.end(), 1.0);
}

double CPitchEstimator::Estimate(const double* Samples, const CHarmonicSpectrum& Spectrum,
                                 double& Level, double Blocks) noexcept {
  FSinceVoiced = std::min(FSinceVoiced + Blocks, 1000.0);
  double mean = 0;
  for (int n = 0; n < Span; ++n) mean += Samples[n];
  mean /= Span;
  double energy = 0;
  for (int n = 0; n < Span; ++n) {
    FX[static_cast<std::size_t>(n)] = Samples[n] - mean;
    energy += FX[static_cast<std::size_t>(n)] * FX[static_cast<std::size_t>(n)];
  }
  Level = std::sqrt(energy / Span);
  if (Level < MinLevel) return 0;

  Difference(Window, FD);

  // Every dip; the deepest sets how shallow a shorter one may be.
  double deepest = 2;
  for (int tau = MinLag; tau < MaxLag; ++tau) {
    const double d = FD[static_cast<std::size_t>(tau)];
    if (d < FD[static_cast<std::size_t>(tau - 1)] && d <= FD[static_cast<std::size_t>(tau + 1)])
      deepest = std::min(deepest, d);
  }
  // A voice that was periodic at the previous analysis stays so with a
  // shallower dip at its period: a rough one's periods blur it.
  if (deepest > Aperiodic) {
    double stillDip = 1;
    if (FSinceVoiced > Blocks + 1e-9 || PeriodNear(FD, Rate / FLastF0, stillDip) <= 0 ||
        stillDip > StillPeriodic)
      return 0;
  }
  const double accept = std::max(ShortDip, deepest + DipSlack);
  int first = -1;
  for (int tau = MinLag; tau < MaxLag && first < 0; ++tau) {
    const double d = FD[static_cast<std::size_t>(tau)];
    if (d <= accept && d < FD[static_cast<std::size_t>(tau - 1)] &&
        d <= FD[static_cast<std::size_t>(tau + 1)])
      first = tau;
  }
  if (first < 0) return 0;
  double dip = FD[static_cast<std::size_t>(first)];
  double period = PeriodNear(FD, first, dip);
  if (period <= 0) period = first;
  double f0 = Rate / period;
  const double last = FSinceVoiced <= Remembered ? FLastF0 : 0;
  // A gliding pitch smears its periods, and the ringing of F1 within each
  // then looks like the shortest clear one: a leap no voice makes takes the
  // period near the recent pitch instead, or none, as a window short
  // enough for the glide shows it (FS).
  const double reach = std::max(Within, std::exp2(FSinceVoiced * BlockSeconds / OctaveTime));
  bool shortened = false;
  const auto shorten = [&] {
    if (!shortened) Difference(GlideWindow, FS);
    shortened = true;
  };
  const auto leaps = [&](double F) {
    if (last <= 0) return false;
    if (F * reach < last && !Near(last / F, 2, 0.06)) {
      // Far below (an octave down is weighed below): only a period as clear
      // as a period of its own can be.
      double atDip = 1;
      PeriodNear(FD, Rate / F, atDip);
      return atDip > ShortDip;
    }
    if (F <= reach * last) return false;
    if (!Near(F / last, 2, 0.06)) return true;
    // An octave put right, unless the short window shows the recent period
    // much the clearer (a glide blurred the long one's).
    shorten();
    double atDip = 1, recentDip = 1;
    PeriodNear(FS, Rate / F, atDip);
    return PeriodNear(FS, Rate / last, recentDip) > 0 && recentDip < Sharper * atDip;
  };
  if (leaps(f0)) {
    shorten();
    FD = FS;
    period = PeriodNearRecent(FD, last, reach, dip);
    if (period <= 0) return 0;
    f0 = Rate / period;
  }

  // Vibrato blurs the short period more than the long one, so a weaker dip
  // at a half or a third of the period is the period when the spectrum
  // lacks the harmonics between those of its F0.
  for (const int k : {2, 3}) {
    if (period / k < MinLag) continue;
    double upDip = 1;
    const double up = PeriodNear(FD, period / k, upDip);
    if (up <= 0 || upDip > ShorterPeriod) continue;
    // Noise hides the weaker of the harmonics in between, not all of them.
    double bar = 0.5 * Evidence;
    if (Near(Rate / up, last, 0.08)) bar += 0.2;
    if (Near(f0, last, 0.08)) bar -= 0.2;
    if (MissingHarmonics(Spectrum, Rate / up, Rate / up / k) < bar) {
      period = up;
      dip = upDip;
      f0 = Rate / period;
      break;
    }
  }

  // A half or a third of that F0, where the spectrum shows the harmonics it
  // adds. The previous blocks' F0 lowers the bar for returning to it and
  // raises it for leaving it.
  double bestEvidence = 0;
  double chosen = f0;
  for (const int k : {2, 3}) {
    double subDip = 1;
    const double subPeriod = PeriodNear(FD, period * k, subDip);
    if (subPeriod <= 0 || subDip > std::max(dip + DipSlack, ShortDip)) continue;
    const double sub = Rate / subPeriod;
    if (sub < MinF0) continue;
    double bar = Evidence;
    if (Near(sub, last, 0.08)) bar -= 0.2;
    if (Near(f0, last, 0.08)) bar += 0.25;
    // A longer period much more periodic than the shorter one: the shorter
    // is a formant's harmonic standing out, not the pitch (a true period's
    // multiples repeat about as well as it does).
    if (subDip < DeeperDip * dip) bar -= Clearer;
    // Placed by the longer period, whose dip is the clearer: a shallow short
    // one may sit off its true place.
    const double e = MissingHarmonics(Spectrum, k * sub, sub);
    if (e >= bar && e - bar >= bestEvidence) {
      bestEvidence = e - bar;
      chosen = sub;
    }
  }
  const bool halved = chosen != f0;
  f0 = chosen;
  // Any other clear longer period (two thirds of F0, say, when the formants
  // favour the 2nd and 3rd harmonics, or a quarter, when F1 rings through
  // the periods of a rough voice) whose own harmonics the spectrum shows.
  if (!halved)
    for (int tau = static_cast<int>(period * 1.1) + 1; tau < MaxLag; ++tau) {
      const double d = FD[static_cast<std::size_t>(tau)];
      if (d > accept || d >= FD[static_cast<std::size_t>(tau - 1)] ||
          d > FD[static_cast<std::size_t>(tau + 1)])
        continue;
      const double ratio = tau / period, whole = std::nearbyint(ratio);
      if ((whole == 2 || whole == 3) && std::abs(ratio - whole) < 0.1) continue;  // tried above
      double otherDip = 1;
      const double other = PeriodNear(FD, tau, otherDip);
      if (other <= 0 || Rate / other < MinF0) continue;
      double bar = Evidence;
      if (Near(Rate / other, last, 0.08)) bar -= 0.2;
      if (Near(f0, last, 0.08)) bar += 0.25;
      if (MissingHarmonics(Spectrum, f0, Rate / other) >= bar) {
        f0 = Rate / other;
        break;
      }
    }
  // A change by more than a fifth since the recent pitch, where the short
  // window shows a period near the recent one much more clearly: a glide's
  // blur let the ringing of F1 look the clearer.
  if (last > 0 && !Near(f0, last, Jump)) {
    shorten();
    double atDip = 1, nearDip = 1;
    PeriodNear(FS, Rate / f0, atDip);
    const double near = PeriodNearRecent(FS, last, reach, nearDip);
    if (near > 0 && nearDip + Clearly < atDip) f0 = Rate / near;
  }
  // The same for a period taken above.
  if (leaps(f0)) {
    shorten();
    double nearDip = 1;
    const double near = PeriodNearRecent(FS, last, reach, nearDip);
    if (near <= 0) return 0;
    f0 = Rate / near;
  }
  if (f0 < MinF0 || f0 > MaxF0) return 0;
  // Voiced where the middle of the window is: at the edges of a vowel, the
  // long window's periodicity is the vowel's beside it. A voice that goes
  // on as loud as around it may blur there (a rough one's periods differ);
  // a fading or starting one may not.
  const double lag = Rate / f0;
  Difference(CentreWindow, FC, std::min(MaxLag, static_cast<int>(lag * 1.1) + 3));
  double centreDip = 1, centrePower = 0;
  if (PeriodNear(FC, lag, centreDip) <= 0)  // at the longest lags, the edge of the range
    centreDip = FC[static_cast<std::size_t>(std::clamp(std::nearbyint(lag), 1.0, 1.0 * MaxLag))];
  for (int n = (Span - CentreWindow) / 2; n < (Span + CentreWindow) / 2; ++n)
    centrePower += FX[static_cast<std::size_t>(n)] * FX[static_cast<std::size_t>(n)];
  const bool steady =
      FSinceVoiced <= Blocks + 1e-9 && centrePower >= Steady * CentreWindow * Level * Level;
  if (centreDip > (steady ? SteadyAperiodic : CentreAperiodic)) return 0;
  FLastF0 = f0;
  FSinceVoiced = 0;
  return f0;
}

}  // namespace quenvis
