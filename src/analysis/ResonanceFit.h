#pragma once
// Formants of a voice whose harmonics lie too far apart for an all-pole
// model: the resonances (of nominal bandwidths, F4 standing for all above
// F3) whose shapes best explain the levels of the harmonics, searched on a
// grid, F1 with F2 and F3 with F4 in turn, then refined one by one. With one
// or two harmonics under F1 this is what their levels imply, not a pole
// sitting on a harmonic; F1 under the first harmonic (a high voice's "ee",
// a child's "oo") is sought as well, more closely, and taken only where it
// explains the levels clearly better.
#include <array>

#include "analysis/HarmonicPeaks.h"

namespace quenvis {

class CResonanceFit {
 public:
  static constexpr int MaxPoints = 18;
  static constexpr double Step = 20;  // Hz, of the coarse grid

  // Harmonics: frequencies, powers and weights as picked (no pre-emphasis).
  // F gets F1..F4 in Hz. False when fewer than four harmonics lie in the band.
  bool Fit(const THarmonics& Harmonics, double F0, std::array<double, 4>& F) noexcept;
  // The misfit per degree of freedom, as Fit weighs it, of the formants F
  // to the harmonics the latest Fit chose: what a search would score them.
  double MisfitOf(const std::array<double, 4>& F) noexcept;

 private:
  struct TRange {
    double Lo, Hi;
  };
  static constexpr std::array<TRange, 4> Ranges{
      {{150, 1500}, {500, 3500}, {1300, 4300}, {2500, 5500}}};
  static constexpr int Cells(TRange R) { return static_cast<int>((R.Hi - R.Lo) / Step) + 1; }
  static constexpr int MaxCells = static_cast<int>(3000 / Step) + 1;  // the widest range

  // The fit to the first Count harmonics (tabulated), F1 kept within
  // [Lowest, Highest]: its misfit per degree of freedom, or -1 when there
  // are too few harmonics or F1 has no room. Thorough: from two starts, and
  // F2 with F3 as a pair too.
  double FitFirst(int Count, double Lowest, double Highest, std::array<double, 4>& F,
                  bool Thorough = false) noexcept;
  double Misfit(const double* Rest) const noexcept;
  void Tabulate(int Formant) noexcept;

  int FCount = 0;
  double FSumWeight = 0;
  std::array<double, MaxPoints> FFreq{}, FLevel{}, FWeight{}, FRest{}, FOwn{};
  // Per cell of the second formant searched: the terms of the misfit that
  // depend on it alone, and its dot product with the residual.
  std::array<double, MaxCells> FSquare{}, FSum{}, FDot{};
  // Log level of each formant's resonance at each harmonic, per grid cell
  // (cells innermost, so that a search runs along them).
  std::array<std::array<std::array<double, MaxCells>, MaxPoints>, 4> FShape{};
};

}  // namespace quenvis
