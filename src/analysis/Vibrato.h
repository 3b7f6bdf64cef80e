#pragma once
// Vibrato from the F0 of every period: the sinusoid at 3-9 Hz that best fits
// the pitch (in cents, its drift taken off) over the latest seconds. Its
// rate, its extent (the sinusoid's amplitude, +- cents) and its regularity
// (the share of the pitch's movement it explains).
#include <array>

#include "analysis/PeriodMarks.h"

namespace quenvis {

struct TVibrato {
  double RateHz, ExtentCents, Regularity;  // NaN when there is no vibrato
};

class CVibrato {
 public:
  static constexpr double MinRate = 3, MaxRate = 9;  // Hz
  static constexpr double MinSeconds = 1.0;          // of voice asked for
  // A vibrato explains at least this share of the pitch's movement, and
  // swings at least this far; less is drift, jitter or an unsteady tone.
  static constexpr double MinRegularity = 0.5, MinExtent = 5;  // cents
  static constexpr double GridRate = 100;                      // Hz

  // Over the marks of the latest Seconds (at most 2.5).
  TVibrato Measure(const CPeriodMarks& Marks, double Seconds) noexcept;

 private:
  // Explained power of the best sinusoid at Hz, and its amplitude.
  double Fit(double Hz, double& Amplitude) const noexcept;

  static constexpr int MaxPoints = 256;
  std::array<double, MaxPoints> FCents{};
  int FPoints = 0;
};

}  // namespace quenvis
