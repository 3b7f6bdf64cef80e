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

  static constexpr double MinFreq = 90, MaxBand = 600;  // Hz

 private:
  std::array<double, Window> FWindow{}, FX{}, FForward{}, FBackward{};
  std::array<double, MaxOrder + 1> FA{}, FPrevious{};
};

}  // namespace quenvis
