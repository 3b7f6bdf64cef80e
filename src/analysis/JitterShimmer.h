#pragma once
// Jitter (local) and shimmer (local, and in dB) from period marks, with the
// voice report's definitions: the mean absolute difference of consecutive
// periods (peak amplitudes) over their mean. Periods outside 0.0001-0.02 s
// count for nothing, nor do pairs of periods more than 1.3 times apart, nor
// pairs of amplitudes more than 1.6 times apart.
#include "analysis/PeriodMarks.h"

namespace quenvis {

struct TJitterShimmer {
  double JitterPct;   // local, %
  double ShimmerPct;  // local, %
  double ShimmerDb;   // local, dB
};

class CJitterShimmer {
 public:
  static constexpr double MaxPeriodFactor = 1.3, MaxAmplitudeFactor = 1.6;
  // At least this much voice is asked for (s), and this many periods: a
  // word seldom holds half a second of unbroken voice, and Praat's figure
  // of a word is one over its every period.
  static constexpr double MinSeconds = 0.25;
  static constexpr int MinPeriods = 20;

  // Over the marks of the latest Seconds (oldest counted from the end);
  // all NaN when the marks span less than MinSeconds or MinPeriods.
  static TJitterShimmer Measure(const CPeriodMarks& Marks, double Seconds) noexcept;
};

}  // namespace quenvis
