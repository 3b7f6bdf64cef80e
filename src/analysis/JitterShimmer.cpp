#include "analysis/JitterShimmer.h"

#include <algorithm>
#include <cmath>

#include "analysis/VoiceMeasure.h"

namespace quenvis {

TJitterShimmer CJitterShimmer::Measure(const CPeriodMarks& Marks, double Seconds) noexcept {
  TJitterShimmer out{NoMeasure, NoMeasure, NoMeasure};
  int first = 0;
  const int count = Marks.Count();
  while (first < count && Marks.Time(first) > Seconds) ++first;
  if (count - first < MinPeriods + 1 || Marks.Time(first) - Marks.Time(count - 1) < MinSeconds)
    return out;
  const auto periodOk = [](double P) {
    return P >= CPeriodMarks::ShortestPeriod && P <= CPeriodMarks::LongestPeriod;
  };
  // Period k runs from mark k to mark k + 1; its amplitude is its first peak's.
  double periodSum = 0, periodDiff = 0, ampSum = 0, ampDiff = 0, dbDiff = 0;
  int periods = 0, periodPairs = 0, amps = 0, ampPairs = 0;
  double before = 0, ampBefore = 0;
  for (int k = first; k + 1 < count; ++k) {
    const double p = Marks.Time(k) - Marks.Time(k + 1);
    const double a = Marks.Amplitude(k);
    if (!periodOk(p)) {
      before = 0;
      continue;
    }
    periodSum += p;
    ++periods;
    ampSum += a;
    ++amps;
    if (before > 0 && std::max(p, before) <= MaxPeriodFactor * std::min(p, before)) {
      periodDiff += std::abs(p - before);
      ++periodPairs;
      if (ampBefore > 0 && a > 0 &&
          std::max(a, ampBefore) <= MaxAmplitudeFactor * std::min(a, ampBefore)) {
        ampDiff += std::abs(a - ampBefore);
        dbDiff += std::abs(20 * std::log10(a / ampBefore));
        ++ampPairs;
      }
    }
    before = p;
    ampBefore = a;
  }
  if (periodPairs < MinPeriods || periods == 0) return out;
  out.JitterPct = 100 * (periodDiff / periodPairs) / (periodSum / periods);
  if (ampPairs >= MinPeriods && ampSum > 0) {
    out.ShimmerPct = 100 * (ampDiff / ampPairs) / (ampSum / amps);
    out.ShimmerDb = dbDiff / ampPairs;
  }
  return out;
}

}  // namespace quenvis
