#pragma once
// Which resonance is F1, F2 and F3: each formant has a frequency range and
// follows its own recent values, so a resonance that comes and goes leaves
// its formant unknown instead of renumbering the ones above it.
#include <array>

#include "analysis/AllPoleFit.h"

namespace quenvis {

class CFormantTrack {
 public:
  // Hz; a resonance this wide may be two merged by the fit.
  static constexpr double Broad = 350;

  struct TRange {
    double Lo, Hi;
  };
  // Hz: wide enough for men's, women's and children's vowels.
  static constexpr std::array<TRange, 3> Ranges{{{150, 1400}, {550, 3500}, {1400, 4800}}};
  // Where each formant usually lies; outside, a choice costs more the
  // further out it is (a resonance of the next formant up is more likely
  // there), in units of UsualSpread.
  static constexpr std::array<TRange, 3> Usual{{{200, 1100}, {600, 3300}, {1600, 3800}}};
  static constexpr double UsualSpread = 150;  // Hz
  static constexpr double MinGap = 120;       // Hz between neighbouring formants

  void Reset() noexcept;
  // Picks F1..F3 among the resonances (0 where none fits); with KnownF1 > 0
  // F1 is that value (with KnownB1) and only resonances clear above it count.
  void Assign(const TResonances& Roots, double KnownF1, double KnownB1, std::array<double, 3>& F,
              std::array<double, 3>& B) noexcept;
  // Formants decided elsewhere: the tracks follow them as if assigned, or
  // with EvenBroad, follow broad ones too.
  void Follow(const std::array<double, 3>& F, const std::array<double, 3>& B,
              bool EvenBroad = false) noexcept;
  // A block without formants: the tracks age.
  void Skip() noexcept;
  // Whether the latest assignment is the one the resonances alone would make.
  bool Agrees() const noexcept { return FDisagree == 0; }
  // Formant I's track (0..2) if it has a recent value, else 0.
  double Recent(int I) const noexcept;

 private:
  std::array<double, 3> FLast{};  // latest value of each track, 0 if none
  std::array<int, 3> FAge{1000, 1000, 1000};
  // Blocks in a row whose resonances, taken on their own, tell another story.
  int FDisagree = 0;
};

}  // namespace quenvis
