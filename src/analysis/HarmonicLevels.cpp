#include "analysis/HarmonicLevels.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "analysis/VoiceMeasure.h"

namespace quenvis {

namespace {

// A harmonic's peak is looked for this far (share of F0) either side of it.
constexpr double Reach = 0.2;
constexpr double Rate = CHarmonicSpectrum::Rate;

double Level(const CHarmonicSpectrum& S, double Hz, double F0) noexcept {
  const double p = Hz < Rate / 2 ? S.PeakPower(Hz, Reach * F0) : 0.0;
  return p > 0 ? 10 * std::log10(p) : NoMeasure;
}

// The level of the harmonic nearest Formant.
double LevelNear(const CHarmonicSpectrum& S, double Formant, double F0) noexcept {
  if (!(Formant > 0) || !(Formant < Rate / 2)) return NoMeasure;
  const double h = std::max(1.0, std::nearbyint(Formant / F0));
  return Level(S, h * F0, F0);
}

}  // namespace

double CHarmonicLevels::ResonatorGain(double Hz, double Freq, double Band) noexcept {
  const double r = std::exp(-std::numbers::pi * Band / Rate);
  const double w = 2 * std::numbers::pi * Freq / Rate, t = 2 * std::numbers::pi * Hz / Rate;
  const double at0 = 1 - 2 * r * std::cos(w) + r * r;
  const double below = 1 - 2 * r * std::cos(t - w) + r * r;
  const double above = 1 - 2 * r * std::cos(t + w) + r * r;
  return 10 * std::log10(at0 * at0 / (below * above));
}

THarmonicLevels CHarmonicLevels::Measure(const CHarmonicSpectrum& S, const TFormants& F) noexcept {
  THarmonicLevels out{NoMeasure, NoMeasure, NoMeasure, NoMeasure};
  if (!F.Voiced || !(F.F0 > 0)) return out;
  const double f0 = F.F0;
  const double h1 = Level(S, f0, f0), h2 = Level(S, 2 * f0, f0);
  if (!Measured(h1)) return out;
  out.H1H2 = h1 - h2;
  out.H1A1 = h1 - LevelNear(S, F.F[0], f0);
  out.H1A3 = h1 - LevelNear(S, F.F[2], f0);
  const auto known = [](double Hz) { return Hz > 0 && Hz < Rate / 2; };
  if (known(F.F[0]) && known(F.B[0]) && known(F.F[1]) && known(F.B[1]) && Measured(out.H1H2)) {
    double boost1 = 0, boost2 = 0;
    for (std::size_t i = 0; i < 2; ++i) {
      boost1 += ResonatorGain(f0, F.F[i], F.B[i]);
      boost2 += ResonatorGain(2 * f0, F.F[i], F.B[i]);
    }
    out.H1H2Corrected = out.H1H2 - boost1 + boost2;
  }
  return out;
}

}  // namespace quenvis
