#pragma once
// The vowel chart's plane: F2 across, falling to the right, and F1 down,
// rising, both on the Bark scale, as phoneticians draw it. Plain C++.
#include <optional>
#include <string_view>
#include <vector>

#include "analysis/FormantTracker.h"

namespace quenvis {

// The voices in the order the chart lists them.
inline constexpr EVoice Voices[] = {EVoice::Man, EVoice::Woman, EVoice::Child};

const char* VoiceName(EVoice Voice) noexcept;  // "man", "woman", "child"

// Traunmueller's Bark formula and its exact inverse.
double HzToBark(double Hz) noexcept;
double BarkToHz(double Bark) noexcept;

// Frequencies the chart spans, in Hz.
struct TChartRange {
  double F1Lo, F1Hi, F2Lo, F2Hi;
};
TChartRange ChartRangeFor(EVoice Voice) noexcept;

class CChartScale {
 public:
  // The plot area in device-independent pixels: F2Hi at Left, F2Lo at
  // Left + Width, F1Lo at Top, F1Hi at Top + Height.
  CChartScale(const TChartRange& Range, double Left, double Top, double Width,
              double Height) noexcept;

  double XOfF2(double Hz) const noexcept;
  double YOfF1(double Hz) const noexcept;
  double F2AtX(double X) const noexcept;
  double F1AtY(double Y) const noexcept;
  // Whether a pair lies inside the plane.
  bool Contains(double F1, double F2) const noexcept;

  // Round frequencies to label, inside the range, at least MinGap pixels apart.
  std::vector<double> F1Ticks(double MinGap) const;
  std::vector<double> F2Ticks(double MinGap) const;

  const TChartRange& Range() const noexcept { return FRange; }

 private:
  TChartRange FRange;
  double FLeft, FTop, FWidth, FHeight;
  double FB1Lo, FB1Hi, FB2Lo, FB2Hi;  // the range in Bark
};

}  // namespace quenvis
