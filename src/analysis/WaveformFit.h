#pragma once
// An all-pole model fitted to the waveform itself (Burg's method on the
// pre-emphasised, windowed stretch at 11 025 Hz), as phonetic formant
// trackers do. It stands in where the harmonic peaks outline no envelope:
// a glide or a breathy voice blurs them, but the waveform still rings at
// its resonances.
#include <array>

#include "analysis/AllPoleFit.h"

namespace quenvis {

class CWaveformFit {
 public:
  static constexpr double Rate = 11025;
  static constexpr int Window = 441;  // 40 ms
  static constexpr int MaxOrder = 14;

  CWaveformFit() noexcept;

  // Samples: Window samples at Rate centred on the analysis. Order: even,
  // 2..MaxOrder. Out gets the lowest five resonances between MinFreq and
  // 50 Hz below the band's edge, of bandwidths above 0 and below MaxBand.
  // False (and no resonances) for a silent or non-finite stretch.
  bool Fit(const double* Samples, int Order, TResonances& Out) noexcept;
  // After a Fit, the same to the same samples at a higher Order, going on
  // with its recursion: the resonances Fit would give, for the cost of the
  // orders added. False as Fit's would be, or without a Fit before.
  bool Extend(int Order, TResonances& Out) noexcept;

  static constexpr double MinFreq = 90, MaxBand = 600;  // Hz

 private:
  // Burg's recursion from the order reached up to P; false where it fails.
  bool Recurse(int P) noexcept;
  bool Resonances(int P, TResonances& Out) const noexcept;

  int FOrder = 0;  // the recursion's order reached; -1 where it failed
  std::array<double, Window> FWindow{}, FX{}, FForward{}, FBackward{};
  std::array<double, MaxOrder + 1> FA{}, FPrevious{};
};

}  // namespace quenvis
