#include "analysis/PeriodMarks.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quenvis {

namespace {

// Where the next period's peak is looked for, as shares of the last period:
// wider than the voice report's factor 1.3 lets through would let a
// formant's ringing peak be taken for the next period.
constexpr double Nearest = 0.8, Farthest = 1.25;
constexpr double QuietShare = 0.2;
constexpr double NearReach = 0.4;  // share of the window searched first

// The slope over a few samples: a first difference would lift the noise
// above 5 kHz as much as the voice's edges, and noise moves a peak.
constexpr int SlopeSpan = 8;

inline double Slope(const double* X, int I) noexcept { return X[I] - X[I - SlopeSpan]; }

// The vertex of the parabola through the slope at I-1, I, I+1 (times Sign).
void Vertex(const double* X, int I, double Sign, double& At, double& Peak) noexcept {
  const double a = Sign * Slope(X, I - 1), b = Sign * Slope(X, I), c = Sign * Slope(X, I + 1);
  const double curve = a - 2 * b + c;
  const double shift = curve < 0 ? std::clamp(0.5 * (a - c) / curve, -0.5, 0.5) : 0.0;
  At = I + shift;
  Peak = b - 0.25 * (a - c) * shift;
}

// The index of the largest Sign * slope in [Lo, Hi].
int Strongest(const double* X, int Lo, int Hi, double Sign) noexcept {
  int best = Lo;
  double top = Sign * Slope(X, Lo);
  for (int i = Lo + 1; i <= Hi; ++i)
    if (const double v = Sign * Slope(X, i); v > top) top = v, best = i;
  return best;
}

// The largest |X[i]| of N. It runs over every sample of 1.5 s each
// analysis: two-wide maxima where the instructions are there (x86-64 has
// them always), and a compiler keeps a plain max loop one at a time.
double LargestExcursion(const double* X, int N) noexcept {
  int i = 0;
  double top = 0;
#if defined(__SSE2__)
  const __m128d sign = _mm_set1_pd(-0.0);
  __m128d a = _mm_setzero_pd(), b = _mm_setzero_pd();
  for (; i + 4 <= N; i += 4) {
    a = _mm_max_pd(a, _mm_andnot_pd(sign, _mm_loadu_pd(X + i)));
    b = _mm_max_pd(b, _mm_andnot_pd(sign, _mm_loadu_pd(X + i + 2)));
  }
  alignas(16) double lanes[2];
  _mm_store_pd(lanes, _mm_max_pd(a, b));
  top = std::max(lanes[0], lanes[1]);
#endif
  for (; i < N; ++i) top = std::max(top, std::abs(X[i]));
  return top;
}

}  // namespace

int CPeriodMarks::Find(const double* X, int Count, double Rate, double F0, double Seconds,
                       double AmplitudeSeconds) noexcept {
  FCount = 0;
  if (!(F0 > 0) || !(Rate > 0) || Count < 4 * SlopeSpan) return 0;
  double period = Rate / F0;
  const double shortest = ShortestPeriod * Rate, longest = LongestPeriod * Rate;
  if (period < std::max(shortest, 2.0) || period > longest) return 0;
  // The anchor: the strongest peak of the last two periods, on whichever
  // side of zero the waveform reaches further (its pulses' side). One on
  // the stretch's edge may be a slope (or a peak cut off by the end): the
  // stretch is narrowed from that side.
  int last = Count - 2;
  int first = std::max(SlopeSpan + 1, last - static_cast<int>(2 * period));
  double sign = 1;
  int anchor = -1;
  for (int attempt = 0; attempt < 3 && last - first >= 3; ++attempt) {
    const int hi = Strongest(X, first, last, 1.0), lo = Strongest(X, first, last, -1.0);
    if (attempt == 0) sign = Slope(X, hi) >= -Slope(X, lo) ? 1.0 : -1.0;
    const int best = sign > 0 ? hi : lo;
    if (best != first && best != last) {
      anchor = best;
      break;
    }
    const int narrow = std::max(2, static_cast<int>(period / 4));
    (best == last ? last : first) += best == last ? -narrow : narrow;
  }
  if (anchor < 0) return 0;
  double at = 0, peak = 0;
  Vertex(X, anchor, sign, at, peak);
  if (!(peak > 0)) return 0;
  const double oldest = std::max(SlopeSpan + 2.0, Count - Seconds * Rate);
  // Filled from the end backwards, then moved to the front.
  int slot = MaxMarks - 1;
  FTime[static_cast<std::size_t>(slot)] = at;
  FAmp[static_cast<std::size_t>(slot)] = peak;
  double strongest = peak;
  while (slot > 0) {
    // Near the last period first, as a steady voice is, then as far as the
    // voice report lets a period change.
    int i = -1;
    for (const double reach : {NearReach, 1.0}) {
      const int from = static_cast<int>(std::ceil(at - (1 + reach * (Farthest - 1)) * period));
      const int to = static_cast<int>(std::floor(at - (1 - reach * (1 - Nearest)) * period));
      if (from < oldest || to - from < 2) break;
      const int best = Strongest(X, from, to, sign);
      // A peak on the window's edge is a slope.
      if (best != from && best != to) {
        i = best;
        break;
      }
    }
    if (i < 0) break;  // the periodicity is lost
    double t = 0, a = 0;
    Vertex(X, i, sign, t, a);
    if (!(a > QuietShare * strongest)) break;
    const double found = at - t;
    if (found < shortest || found > longest) break;
    strongest = std::max(strongest, a);
    period = found;
    at = t;
    --slot;
    FTime[static_cast<std::size_t>(slot)] = t;
    FAmp[static_cast<std::size_t>(slot)] = a;
  }
  FCount = MaxMarks - slot;
  // A period's amplitude is the waveform's largest excursion between its
  // mark and the next (the last: one period on), as the voice report takes
  // it; the slope's peaks, which found the marks, lift noise more than voice.
  const double newest =
      FCount > 1 ? FTime[MaxMarks - 1] - FTime[MaxMarks - 2] : period;  // the last period
  for (int k = 0; k < FCount; ++k) {
    const auto from = static_cast<std::size_t>(slot + k), to = static_cast<std::size_t>(k);
    const double next = k + 1 < FCount ? FTime[from + 1] : FTime[from] + newest;
    const int lo = std::max(0, static_cast<int>(std::ceil(FTime[from])));
    const int hi = std::min(Count, static_cast<int>(std::ceil(next)));
    FTime[to] = (Count - FTime[from]) / Rate;
    const bool wanted = AmplitudeSeconds < 0 || FTime[to] <= AmplitudeSeconds;
    FAmp[to] = wanted ? LargestExcursion(X + lo, hi - lo) : 0.0;
  }
  return FCount;
}

}  // namespace quenvis
