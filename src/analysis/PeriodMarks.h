#pragma once
// Glottal period marks found in the waveform: one at the strongest peak of
// each period, walked back from the latest period with the pitch as a guide
// and each next period searched near the one just found, so that vibrato is
// followed. Marks sit between samples (a parabola through the peak). The
// peaks are those of the waveform's slope (over 8 samples, 0.18 ms at
// 44 100 Hz), which mark the excitation more sharply than the waveform's
// own: F1 rings on into the next period of a high voice and moves the
// waveform's peaks by the period before.
#include <array>

namespace quenvis {

class CPeriodMarks {
 public:
  static constexpr int MaxMarks = 2400;  // 2 s at 1100 Hz and more
  // Periods outside these bounds end the walk (as the voice report ignores them).
  static constexpr double ShortestPeriod = 0.0001, LongestPeriod = 0.02;  // s

  // X: Count samples at Rate, the latest last; F0: the pitch at the end (Hz).
  // Marks are found back to Seconds before the end, or to where the voice
  // stops: a period that cannot be followed or a peak under a fifth of the
  // strongest so far. Returns how many. Amplitudes are measured for the
  // marks of the latest AmplitudeSeconds only (all when negative), 0 before.
  int Find(const double* X, int Count, double Rate, double F0, double Seconds,
           double AmplitudeSeconds = -1) noexcept;

  int Count() const noexcept { return FCount; }
  // Oldest first: seconds before the end of X, and the amplitude of the
  // period from this mark to the next: the waveform's largest excursion.
  double Time(int I) const noexcept { return FTime[static_cast<std::size_t>(I)]; }
  double Amplitude(int I) const noexcept { return FAmp[static_cast<std::size_t>(I)]; }

 private:
  std::array<double, MaxMarks> FTime{}, FAmp{};
  int FCount = 0;
};

}  // namespace quenvis
