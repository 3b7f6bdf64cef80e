#include "analysis/Vibrato.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "analysis/VoiceMeasure.h"

namespace quenvis {

namespace {
constexpr double CoarseStep = 0.25, Step = 0.05;  // Hz, of the rate's searches
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
  // A coarse search, then a fine one around its best: the fit's peak is
  // about 1 / Seconds wide, wider than the coarse step.
  double amplitude = 0;
  const auto search = [&](double From, double To, double By, double& Best) {
    double bestHz = From;
    Best = -1;
    const int steps = static_cast<int>(std::nearbyint((To - From) / By));
    for (int i = 0; i <= steps; ++i) {
      const double hz = From + i * By;
      if (const double e = Fit(hz, amplitude); e > Best) Best = e, bestHz = hz;
    }
    return bestHz;
  };
  double best = 0;
  const double coarse = search(MinRate, MaxRate, CoarseStep, best);
  // The peak on the band's edge is a slower or faster movement, not vibrato.
  if (coarse <= MinRate + CoarseStep / 2 || coarse >= MaxRate - CoarseStep / 2) return out;
  const double bestHz = search(coarse - CoarseStep, coarse + CoarseStep, Step, best);
  const double before = Fit(bestHz - Step, amplitude), after = Fit(bestHz + Step, amplitude);
  const double curve = before - 2 * best + after;
  const double shift = curve < 0 ? std::clamp(0.5 * (before - after) / curve, -0.5, 0.5) : 0.0;
  const double rate = bestHz + shift * Step;
  const double explained = Fit(rate, amplitude);
  const double regularity = std::clamp(explained / total, 0.0, 1.0);
  if (regularity < MinRegularity || amplitude < MinExtent) return out;
  out = {rate, amplitude, regularity};
  return out;
}

}  // namespace quenvis
