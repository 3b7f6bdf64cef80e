#pragma once
// Harmonics-to-noise ratio by cross-correlation, as a voice report measures
// it: the normalised correlation r of one window of the waveform with the
// window a period later, at the lag where it peaks near the pitch's period
// (a parabola through the best lag and its neighbours), as
// 10 log10(r / (1 - r)). The window is one period of the lowest pitch
// (1/75 s), the standard for voice analysis.
namespace quenvis {

class CHarmonicity {
 public:
  static constexpr double MinPitch = 75;    // Hz: the window's length
  static constexpr double MaxHnr = 100;     // dB, for a perfectly periodic frame
  static constexpr double LagReach = 0.08;  // lags within this share of the period
  // X: the window's first sample, followed by at least Window(Rate) +
  // (1 + LagReach) Rate / F0 + 2 more. NaN when the correlation is not positive.
  static double Measure(const double* X, double Rate, double F0) noexcept;
  static int Window(double Rate) noexcept { return static_cast<int>(Rate / MinPitch); }
};

}  // namespace quenvis
