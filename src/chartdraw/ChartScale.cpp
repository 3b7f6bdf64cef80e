#include "chartdraw/ChartScale.h"

#include <cmath>

namespace quenvis {

namespace {

// Candidate labels, from which those that fit are kept.
constexpr double TickCandidates[] = {100,  150,  200,  250,  300,  350,  400,  500,  600,
                                     700,  800,  900,  1000, 1200, 1400, 1600, 1800, 2000,
                                     2200, 2500, 2800, 3000, 3500, 4000, 4500, 5000};

// Keeps candidates in [Lo, Hi] whose positions stay MinGap apart, preferring
// rounder numbers: multiples of 1000, then 500, 100 and 50.
template <typename TPos>
std::vector<double> Ticks(double Lo, double Hi, double MinGap, TPos Pos) {
  std::vector<double> kept;
  for (const double step : {1000.0, 500.0, 100.0, 50.0}) {
    for (const double f : TickCandidates) {
      if (f < Lo || f > Hi || std::fmod(f, step) != 0) continue;
      bool fits = true;
      for (const double k : kept) fits = fits && (k != f) && std::fabs(Pos(k) - Pos(f)) >= MinGap;
      if (fits) kept.push_back(f);
    }
  }
  std::vector<double> sorted;
  for (const double f : TickCandidates)
    for (const double k : kept)
      if (k == f) sorted.push_back(f);
  return sorted;
}

}  // namespace

const char* VoiceName(EVoice Voice) noexcept {
  switch (Voice) {
    case EVoice::Woman:
      return "woman";
    case EVoice::Child:
      return "child";
    case EVoice::Man:
      break;
  }
  return "man";
}

double HzToBark(double Hz) noexcept { return 26.81 * Hz / (1960.0 + Hz) - 0.53; }

double BarkToHz(double Bark) noexcept { return 1960.0 * (Bark + 0.53) / (26.28 - Bark); }

TChartRange ChartRangeFor(EVoice Voice) noexcept {
  switch (Voice) {
    case EVoice::Woman:
      return {200, 1150, 650, 3300};
    case EVoice::Child:
      return {250, 1300, 750, 3800};
    case EVoice::Man:
      break;
  }
  return {150, 950, 550, 2800};
}

CChartScale::CChartScale(const TChartRange& Range, double Left, double Top, double Width,
                         double Height) noexcept
    : FRange(Range),
      FLeft(Left),
      FTop(Top),
      FWidth(Width),
      FHeight(Height),
      FB1Lo(HzToBark(Range.F1Lo)),
      FB1Hi(HzToBark(Range.F1Hi)),
      FB2Lo(HzToBark(Range.F2Lo)),
      FB2Hi(HzToBark(Range.F2Hi)) {}

double CChartScale::XOfF2(double Hz) const noexcept {
  return FLeft + (FB2Hi - HzToBark(Hz)) / (FB2Hi - FB2Lo) * FWidth;
}

double CChartScale::YOfF1(double Hz) const noexcept {
  return FTop + (HzToBark(Hz) - FB1Lo) / (FB1Hi - FB1Lo) * FHeight;
}

double CChartScale::F2AtX(double X) const noexcept {
  return BarkToHz(FB2Hi - (X - FLeft) / FWidth * (FB2Hi - FB2Lo));
}

double CChartScale::F1AtY(double Y) const noexcept {
  return BarkToHz(FB1Lo + (Y - FTop) / FHeight * (FB1Hi - FB1Lo));
}

bool CChartScale::Contains(double F1, double F2) const noexcept {
  return F1 >= FRange.F1Lo && F1 <= FRange.F1Hi && F2 >= FRange.F2Lo && F2 <= FRange.F2Hi;
}

std::vector<double> CChartScale::F1Ticks(double MinGap) const {
  return Ticks(FRange.F1Lo, FRange.F1Hi, MinGap, [this](double f) { return YOfF1(f); });
}

std::vector<double> CChartScale::F2Ticks(double MinGap) const {
  return Ticks(FRange.F2Lo, FRange.F2Hi, MinGap, [this](double f) { return XOfF2(f); });
}

}  // namespace quenvis
