#include "analysis/BandRatios.h"

#include <algorithm>
#include <cmath>

#include "analysis/VoiceMeasure.h"

namespace quenvis {

namespace {

int Bin(double Hz) noexcept {
  return static_cast<int>(std::nearbyint(Hz / CHarmonicSpectrum::BinHz));
}

// Bins from From up to (not including) To.
double Strongest(const CHarmonicSpectrum& S, double From, double To) noexcept {
  double best = 0;
  for (int k = std::max(1, Bin(From)); k < Bin(To); ++k) best = std::max(best, S.Power(k));
  return best;
}

double Energy(const CHarmonicSpectrum& S, double From, double To) noexcept {
  double sum = 0;
  for (int k = std::max(1, Bin(From)); k < Bin(To); ++k) sum += S.Power(k);
  return sum;
}

double Ratio(double Over, double Under) noexcept {
  return Over > 0 && Under > 0 ? 10 * std::log10(Over / Under) : NoMeasure;
}

}  // namespace

TBandRatios CBandRatios::Measure(const CHarmonicSpectrum& S) noexcept {
  return {Ratio(Strongest(S, 2000, 4000), Strongest(S, 0, 2000)),
          Ratio(Energy(S, 1000, 5000), Energy(S, 50, 1000))};
}

}  // namespace quenvis
