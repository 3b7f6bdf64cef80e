#pragma once
// F0 from every periodicity candidate of a YIN-style difference function at
// 11 025 Hz. The shortest well-formed period is taken, unless the spectrum
// shows the harmonics that only a half or a third of that F0 would have
// (a strong formant on the 2nd or 3rd harmonic makes the short period look
// complete); a change of octave or third against the previous blocks must
// show more evidence than a continuation.
#include <array>

#include "analysis/CpuFeatures.h"
#include "analysis/HarmonicPeaks.h"

namespace quenvis {

class CPitchEstimator {
 public:
  static constexpr double Rate = 11025;
  static constexpr double MinF0 = 60, MaxF0 = 1100;
  static constexpr int Window = 384;
  static constexpr int MaxLag = static_cast<int>(Rate / MinF0) + 2;
  static constexpr int MinLag = static_cast<int>(Rate / MaxF0);
  static constexpr int Span = Window + MaxLag + 1;  // samples looked at

  void Reset() noexcept;
  // Samples: Span samples at 11 025 Hz centred on the moment analysed;
  // Spectrum: of about the same moment. Returns F0 in Hz, or 0 when
  // aperiodic or quieter than MinLevel (RMS re full scale); Level gets the RMS.
  // Blocks: the time since the previous estimate, in 2048-frame blocks at
  // 44 100 Hz, so that the memory of the last F0 lasts as long at any hop.
  double Estimate(const double* Samples, const CHarmonicSpectrum& Spectrum, double& Level,
                  double Blocks = 1.0) noexcept;

  static constexpr double MinLevel = 1e-3;  // -60 dBFS

 private:
  // Evidence (share of positions, 0..1) that the harmonics of Low which lie
  // between those of F0 are present; less when Low itself is missing.
  double MissingHarmonics(const CHarmonicSpectrum& Spectrum, double F0, double Low) const noexcept;
  using TDifference = std::array<double, MaxLag + 2>;
  // Over the middle Length samples of the window, for lags up to Top.
  void Difference(int Length, TDifference& D, int Top = MaxLag) const noexcept;
  double PeriodNear(const TDifference& D, double Lag, double& Dip) const noexcept;
  double PeriodNearRecent(const TDifference& D, double Last, double Reach,
                          double& Dip) const noexcept;

  std::array<double, Span> FX{};
  // Over the whole window, a short one for glides, and its middle.
  TDifference FD{}, FS{}, FC{};
  double FLastF0 = 0;          // of the latest voiced block
  double FSinceVoiced = 1000;  // blocks
  bool FAvx2 = UseAvx2();
};

}  // namespace quenvis
