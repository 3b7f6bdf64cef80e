#pragma once
// Discrete all-pole modelling (El-Jaroudi and Makhoul): the all-pole model
// that best matches the harmonic powers alone (Itakura-Saito distance), and
// the resonances its roots stand for.
#include <array>

#include "analysis/HarmonicPeaks.h"

namespace quenvis {

struct TResonances {
  int Count = 0;
  std::array<double, 5> Freq{}, Band{};  // Hz, rising frequency
};

class CAllPoleFit {
 public:
  static constexpr int MaxOrder = 10;
  // Twenty leave the formants where forty did (the later iterates mostly
  // sharpen a pole towards a harmonic), at three quarters of the cost.
  static constexpr int MaxIterations = 20;

  // Fits a model of Order (even, 2..MaxOrder) whose Nyquist frequency is
  // Ceiling to the harmonics (powers are pre-emphasised in place) and finds
  // its resonances above MinFreq. A model that sharpens a resonance towards
  // the unit circle as it converges (nothing between the harmonics holds it
  // back) is taken at its latest iterate without one. False when the data
  // allow no model.
  bool Fit(THarmonics& Harmonics, int Order, double Ceiling, double MinFreq,
           TResonances& Out) noexcept;

 private:
  int Iterate(const THarmonics& H, int Order) noexcept;
  bool Roots(const double* A, int Order, double Ceiling, double MinFreq,
             TResonances& Out) const noexcept;
  const double* Iterated(int I) const noexcept { return FIterates.data() + I * (MaxOrder + 1); }

  std::array<double, MaxHarmonics*(MaxOrder + 1)> FCos{}, FSin{};
  std::array<double, (MaxIterations + 1) * (MaxOrder + 1)> FIterates{};
};

}  // namespace quenvis
