#include "analysis/Vibrato.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "analysis/VoiceMeasure.h"

namespace quenvis {

namespace {
constexpr double Step = 0.05;  // Hz, of the rate's search before refining
}

double CVibrato::Fit(double Hz, double& Amplitude) const noexcept {
  // Least squares of a cos + b sin, rotated sample by sample.
  const double w = 2 * std::numbers::pi * Hz / GridRate;
  const double cw = std::cos(w), sw = std::sin(w);
  double c = 1, s = 0, scc = 0, sss = 0, scs = 0, src = 0, srs = 0;
  for (int i = 0; i < FPoints; ++i) {
    const double r = FCents[static_cast<std::size_t>(i)];
    scc += c * c, sss += s * s, scs += c * s, src += r * c, srs += r * s;
    const double nc = c * cw - s * sw;
    s = s * cw + c * sw;
    c = nc;
  }
  const double det = scc * sss - scs * scs;
  if (!(det > 1e-9 * scc * sss)) {
    Amplitude = 0;
    return 0;
  }
  const double a = (sss * src - scs * srs) / det, b = (scc * srs - scs * src) / det;
  Amplitude = std::hypot(a, b);
  return a * src + b * srs;
}

TVibrato CVibrato::Measure(const CPeriodMarks& Marks, double Seconds) noexcept {
  TVibrato out{NoMeasure, NoMeasure, NoMeasure};
  FPoints = 0;
  Seconds = std::min(Seconds, (MaxPoints - 1) / GridRate);
  int first = 0;
  const int count = Marks.Count();
  while (first < count && Marks.Time(first) > Seconds) ++first;
  if (count - first < 4) return out;
  // Period k's pitch at its middle; times count down to the end.
  const auto mid = [&](int K) { return 0.5 * (Marks.Time(K) + Marks.Time(K + 1)); };
  const auto cents = [&](int K) {
    return 1200 * std::log2(1 / (Marks.Time(K) - Marks.Time(K + 1)));
  };
  const double start = mid(first), end = mid(count - 2);
  if (start - end < MinSeconds) return out;
  // On an even grid, oldest first, by straight lines between the periods.
  int k = first;
  for (double t = start; t >= end && FPoints < MaxPoints; t = start - FPoints / GridRate) {
    while (k + 1 < count - 1 && mid(k + 1) >= t) ++k;
    const double t0 = mid(k), t1 = k + 1 < count - 1 ? mid(k + 1) : t0;
    const double share = t0 > t1 ? (t0 - t) / (t0 - t1) : 0.0;
    const double v0 = cents(k), v1 = k + 1 < count - 1 ? cents(k + 1) : v0;
    FCents[static_cast<std::size_t>(FPoints++)] = v0 + share * (v1 - v0);
  }
  // The drift off: a straight line by least squares.
  const double n = FPoints;
  double sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (int i = 0; i < FPoints; ++i) {
    const double y = FCents[static_cast<std::size_t>(i)];
    sx += i, sy += y, sxx += double(i) * i, sxy += i * y;
  }
  const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx), level = (sy - slope * sx) / n;
  double total = 0;
  for (int i = 0; i < FPoints; ++i) {
    double& y = FCents[static_cast<std::size_t>(i)];
    y -= level + slope * i;
    total += y * y;
  }
  if (!(total > 0)) return out;
  double bestHz = 0, best = -1, amplitude = 0;
  const int steps = static_cast<int>(std::nearbyint((MaxRate - MinRate) / Step));
  std::array<double, 3> around{};
  double previous = 0, beforePrevious = 0;
  for (int i = 0; i <= steps; ++i) {
    const double e = Fit(MinRate + i * Step, amplitude);
    if (e > best) {
      best = e;
      bestHz = MinRate + i * Step;
      around = {beforePrevious, previous, e};
    }
    beforePrevious = previous;
    previous = e;
  }
  // The peak on the band's edge is a slower or faster movement, not vibrato.
  if (bestHz <= MinRate + Step / 2 || bestHz >= MaxRate - Step / 2) return out;
  const double after = Fit(bestHz + Step, amplitude);
  const double curve = around[1] - 2 * best + after;
  const double shift = curve < 0 ? std::clamp(0.5 * (around[1] - after) / curve, -0.5, 0.5) : 0.0;
  const double rate = bestHz + shift * Step;
  const double explained = Fit(rate, amplitude);
  const double regularity = std::clamp(explained / total, 0.0, 1.0);
  if (regularity < MinRegularity || amplitude < MinExtent) return out;
  out = {rate, amplitude, regularity};
  return out;
}

}  // namespace quenvis
