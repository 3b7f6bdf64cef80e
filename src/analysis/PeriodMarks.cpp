#include "analysis/PeriodMarks.h"

#include <algorithm>
#include <cmath>

#include "analysis/VoiceMeasure.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quenvis {

namespace {

// Where the next mark is looked for, as shares of the last period: the
// range the voice report's marks are searched in.
constexpr double Nearest = 0.8, Farthest = 1.25;
constexpr double Tiny = 1e-20;

// The largest |X[i]| of N: two-wide maxima where the instructions are there
// (x86-64 has them always); a compiler keeps a plain max loop one at a time.
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

// The largest excursion of X[Lo..Hi) smoothed by a triangle of half-width H
// (weights H - |k|, a low-pass with its first zero at Rate / H), with a
// parabola through it; X must hold H samples more on either side of
// [Lo, Hi]. Broadband noise rides on a single sample's peak and the largest
// of many noisy samples is chosen: 20 dB of white noise read as 2-3 %
// shimmer. The triangle keeps the voice's peak and passes a sixteenth of
// white noise's power at 44 100 Hz.
double SmoothedExcursion(const double* X, int Lo, int Hi, int H) noexcept {
  // T(i) = sum of (H - |k|) X[i + k]; T(i + 1) = T(i) + R(i + 1) - L(i), R
  // summing X[i + 1 .. i + H], L X[i - H + 1 .. i].
  const int first = Lo - 1;
  double left = 0, right = 0, t = 0;
  for (int k = -H + 1; k < H; ++k) t += (H - std::abs(k)) * X[first + k];
  for (int k = 0; k < H; ++k) left += X[first - k];
  for (int k = 1; k <= H; ++k) right += X[first + k];
  double before = std::abs(t), top = -1, atTop = 0, beforeTop = 0, afterTop = 0;
  bool wantAfter = false;
  for (int i = Lo; i <= Hi; ++i) {
    // From T(i - 1) to T(i).
    t += right - left;
    left += X[i] - X[i - H];
    right += X[i + H] - X[i];
    const double v = std::abs(t);
    if (wantAfter) afterTop = v, wantAfter = false;
    if (i < Hi && v > top) {
      top = v;
      atTop = v;
      beforeTop = before;
      wantAfter = true;
    }
    before = v;
  }
  const double curve = beforeTop - 2 * atTop + afterTop;
  const double peak =
      curve < 0 ? atTop - 0.125 * (beforeTop - afterTop) * (beforeTop - afterTop) / curve : atTop;
  return peak / (static_cast<double>(H) * H);
}

// An index from a position: within int's range whatever the position (a
// stale mark far behind the history lands before its start).
int ToIndex(double X) noexcept {
  return std::isnan(X) ? 0 : static_cast<int>(std::clamp(X, -1e9, 1e9));
}
int Nearby(double X) noexcept { return ToIndex(std::nearbyint(X)); }

}  // namespace

bool CPeriodMarks::BestMatch(const double* X, int Count, int From, int Lo, int Hi, int Half,
                             int Step, double& Lag) noexcept {
  const int first = Step > 0 ? From + Lo : From - Hi, last = Step > 0 ? From + Hi : From - Lo;
  const int n = last - first + 1, len = 2 * Half + 1;
  if (n < 3 || n > MaxLags || len > MaxStretch || From - Half - SlopeSpan < 0 ||
      From + Half >= Count || first - Half - SlopeSpan < 0 || last + Half >= Count)
    return false;
  // The slopes, once each: the stretch around From, and every candidate's.
  const auto slope = [&](int I) { return X[I] - X[I - SlopeSpan]; };
  for (int i = 0; i < len; ++i) FRef[static_cast<std::size_t>(i)] = slope(From - Half + i);
  for (int i = 0; i < n + len - 1; ++i)
    FCand[static_cast<std::size_t>(i)] = slope(first - Half + i);
  const double* ref = FRef.data();
  const double* cand = FCand.data();
  // A long period is searched coarsely first (every Step-th lag over every
  // Step-th sample: the slope's correlation peak is wider than that), then
  // in full up the slope from the best; a low voice would cost sixteen
  // times as much.
  const int step = std::clamp(len / 100, 1, 4);
  // Every Step-th slope, packed so that the products run over contiguous
  // memory.
  const int len2 = (len + step - 1) / step, n2 = (n + step - 1) / step;
  for (int i = 0; i < len2; ++i)
    FRef2[static_cast<std::size_t>(i)] = ref[static_cast<std::size_t>(i * step)];
  for (int i = 0; i < n2 + len2 - 1; ++i)
    FCand2[static_cast<std::size_t>(i)] = cand[static_cast<std::size_t>(i * step)];
  double refEnergy = Dot(FRef2.data(), FRef2.data(), len2);
  if (!(refEnergy > Tiny)) return false;
  double energy = Dot(FCand2.data(), FCand2.data(), len2);
  int coarse = 0;
  double top = -2;
  for (int m = 0; m < n2; ++m) {
    if (m > 0) {
      const double in = FCand2[static_cast<std::size_t>(m + len2 - 1)],
                   out = FCand2[static_cast<std::size_t>(m - 1)];
      energy += in * in - out * out;
    }
    const double r =
        energy > Tiny ? Dot(FRef2.data(), FCand2.data() + m, len2) / std::sqrt(refEnergy * energy)
                      : 0.0;
    if (r > top) top = r, coarse = m * step;
  }
  if (step > 1) refEnergy = Dot(ref, ref, len);
  const auto corr = [&](int J) {
    const double yy = Dot(cand + J, cand + J, len);
    const double r = yy > Tiny ? Dot(ref, cand + J, len) / std::sqrt(refEnergy * yy) : 0.0;
    FCorr[static_cast<std::size_t>(J)] = r;
    return r;
  };
  int lo = std::max(0, coarse - 1), hi = std::min(n - 1, coarse + 1);
  int best = coarse;
  double peak = corr(coarse);
  if (lo < coarse) corr(lo);
  if (hi > coarse) corr(hi);
  for (;;) {
    if (best > lo && FCorr[static_cast<std::size_t>(best - 1)] > peak) {
      peak = FCorr[static_cast<std::size_t>(--best)];
      if (best == lo && lo > 0) corr(--lo);
    } else if (best < hi && FCorr[static_cast<std::size_t>(best + 1)] > peak) {
      peak = FCorr[static_cast<std::size_t>(++best)];
      if (best == hi && hi < n - 1) corr(++hi);
    } else {
      break;
    }
  }
  // On the edge, the period has left the range the voice lets it move in.
  if (best == 0 || best == n - 1) return false;
  const double a = FCorr[static_cast<std::size_t>(best - 1)],
               b = FCorr[static_cast<std::size_t>(best)],
               c = FCorr[static_cast<std::size_t>(best + 1)];
  const double curve = a - 2 * b + c;
  const double shift = curve < 0 ? std::clamp(0.5 * (a - c) / curve, -0.5, 0.5) : 0.0;
  if (!(b - 0.25 * (a - c) * shift >= MinCorrelation)) return false;
  Lag = std::abs(first + best + shift - From);
  return true;
}

void CPeriodMarks::SetAmplitude(const double* X, int Count, std::int64_t Begin, int I) noexcept {
  const double at = Pos(I) - static_cast<double>(Begin);
  const double period = I + 1 < FCount ? Pos(I + 1) - Pos(I) : I > 0 ? Pos(I) - Pos(I - 1) : 0.0;
  const int lo = std::clamp(ToIndex(std::ceil(at)), 0, Count);
  const int hi = std::clamp(ToIndex(std::ceil(at + period)), lo, Count);
  const int h = std::clamp(Nearby(SmoothingSeconds * FRate), 1, 64);
  FAmp[Slot(I)] = lo - h >= 0 && hi + h < Count && hi > lo ? SmoothedExcursion(X, lo, hi, h)
                                                           : LargestExcursion(X + lo, hi - lo);
}

void CPeriodMarks::Anchor(const double* X, int Count, std::int64_t Begin, double Period,
                          double Oldest) noexcept {
  FCount = 0;
  // The steepest slope of the latest period whose stretch X holds whole:
  // the excitation, so that each stretch compared holds one whole response
  // and the tail of the one before in the same shares.
  const int half = Nearby(Period / 2);
  const int to = Count - 2 - half, from = std::max(half + SlopeSpan, to - Nearby(Period));
  if (to - from < 2) return;
  int anchor = from;
  for (int i = from + 1; i <= to; ++i)
    if (std::abs(X[i] - X[i - SlopeSpan]) > std::abs(X[anchor] - X[anchor - SlopeSpan]))
      anchor = i;
  if (!(std::abs(X[anchor] - X[anchor - SlopeSpan]) > 0)) return;  // silence
  FFirst = MaxMarks - 1;
  FCount = 1;
  FPos[static_cast<std::size_t>(FFirst)] = static_cast<double>(Begin + anchor);
  // Back from it, each period's length measured from the one after.
  while (FCount < MaxMarks) {
    const double at = Pos(0);
    const double period = FCount > 1 ? Pos(1) - at : Period;
    const int centre = Nearby(at - static_cast<double>(Begin));
    double lag = 0;
    if (!BestMatch(X, Count, centre, static_cast<int>(std::ceil(Nearest * period)),
                   static_cast<int>(std::floor(Farthest * period)), Nearby(period / 2), -1, lag))
      break;
    const double found = at - lag;
    if (found < Oldest || lag < ShortestPeriod * FRate || lag > LongestPeriod * FRate) break;
    FFirst = (FFirst + MaxMarks - 1) % MaxMarks;
    ++FCount;
    FPos[Slot(0)] = found;
    SetAmplitude(X, Count, Begin, 0);
  }
  SetAmplitude(X, Count, Begin, FCount - 1);
}

int CPeriodMarks::Follow(const double* X, int Count, std::int64_t End, double Rate, double F0,
                         double Seconds) noexcept {
  const double period = Rate > 0 ? Rate / F0 : 0.0;
  if (!(F0 > 0) || !(Rate > 0) || Count < 16 || !(period >= std::max(2.0, ShortestPeriod * Rate)) ||
      !(period <= LongestPeriod * Rate) || !(period < Count / 4.0)) {
    FCount = 0;
    return 0;
  }
  FRate = Rate;
  FEnd = End;
  const std::int64_t begin = End - Count;
  const double oldest = static_cast<double>(End) - Seconds * Rate;
  while (FCount > 0 && Pos(0) < oldest) {
    FFirst = (FFirst + 1) % MaxMarks;
    --FCount;
  }
  // On from the newest mark over the new sound, while the periods follow
  // one another; a mark whose successor cannot be told yet waits for more.
  bool lost = FCount == 0;
  while (!lost) {
    const double at = Pos(FCount - 1);
    const double last = FCount > 1 ? at - Pos(FCount - 2) : period;
    const int centre = Nearby(at - static_cast<double>(begin));
    const int half = Nearby(last / 2), hi = static_cast<int>(std::floor(Farthest * last));
    if (centre - half < 0) {
      lost = true;  // its stretch has left the history
      break;
    }
    if (centre + hi + half >= Count) break;
    double lag = 0;
    if (!BestMatch(X, Count, centre, static_cast<int>(std::ceil(Nearest * last)), hi, half, 1,
                   lag) ||
        lag < ShortestPeriod * Rate || lag > LongestPeriod * Rate) {
      lost = true;
      break;
    }
    if (FCount == MaxMarks) {
      FFirst = (FFirst + 1) % MaxMarks;
      --FCount;
    }
    FPos[Slot(FCount)] = at + lag;
    ++FCount;
    SetAmplitude(X, Count, begin, FCount - 2);
    SetAmplitude(X, Count, begin, FCount - 1);
  }
  if (lost) Anchor(X, Count, begin, period, oldest);
  return FCount;
}

}  // namespace quenvis
