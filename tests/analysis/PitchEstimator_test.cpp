#include "analysis/PitchEstimator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "analysis/HarmonicPeaks.h"

namespace quenvis {
namespace {

// A voice of harmonics up to 4 kHz falling 12 dB an octave, its pitch
// gliding from F0 by Glide (a share) over the whole, with noise.
std::vector<double> Voice(double Rate, double F0, double Glide, double Noise, int Length) {
  std::mt19937 random(7);
  std::normal_distribution<double> noise(0.0, Noise);
  std::vector<double> x(static_cast<std::size_t>(Length));
  double phase = 0;
  for (int n = 0; n < Length; ++n) {
    const double f = F0 * (1 + Glide * n / Length);
    phase += 2 * std::numbers::pi * f / Rate;
    double v = 0;
    for (int h = 1; h * f < 4000; ++h) v += std::sin(h * phase) / (h * h);
    x[static_cast<std::size_t>(n)] = 0.2 * v + noise(random);
  }
  return x;
}

// The vectorised difference function adds as the portable one does: the
// estimates of both paths agree to the bit, hop by hop (each path's memory
// of the last F0 included), and they find the voice, and no voice in
// louder noise.
TEST(PitchEstimator, EveryPathGivesTheSameBits) {
  struct TCase {
    double F0, Glide, Noise;
    bool Heard;  // the voice above the noise
  };
  const TCase cases[] = {
      {95, 0.1, 0.001, true}, {210, -0.2, 0.01, true}, {330, 0.5, 0.05, true}, {150, 0, 0.2, false}};
  const char* before = std::getenv("QUENVIS_PORTABLE");
  const std::string kept = before ? before : "";
  CPitchEstimator best;
  ::setenv("QUENVIS_PORTABLE", "1", 1);
  CPitchEstimator portable;
  before ? ::setenv("QUENVIS_PORTABLE", kept.c_str(), 1) : ::unsetenv("QUENVIS_PORTABLE");
  CHarmonicSpectrum spectrum;
  constexpr double Rate2 = CHarmonicSpectrum::Rate;
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.F0 << " Hz, glide " << c.Glide << ", noise " << c.Noise);
    const auto x2 = Voice(Rate2, c.F0, c.Glide, c.Noise, 40000);
    std::vector<double> x4(x2.size() / 2);
    for (std::size_t n = 0; n < x4.size(); ++n) x4[n] = x2[2 * n];
    int found = 0, voiced = 0;
    for (int at = 0; at + CHarmonicSpectrum::Frame < static_cast<int>(x2.size()); at += 441) {
      spectrum.Compute(x2.data() + at);
      const double* around = x4.data() + at / 2 + CHarmonicSpectrum::Frame / 4 -
                             CPitchEstimator::Span / 2;
      double levelA = 0, levelB = 0;
      const double a = best.Estimate(around, spectrum, levelA, 0.2);
      const double b = portable.Estimate(around, spectrum, levelB, 0.2);
      ASSERT_EQ(a, b) << "at " << at;
      ASSERT_EQ(levelA, levelB);
      const double truth = c.F0 * (1 + c.Glide * (at + CHarmonicSpectrum::Frame / 2.0) / x2.size());
      found += std::abs(a - truth) < 0.03 * truth;
      voiced += a > 0;
    }
    if (c.Heard) {
      EXPECT_GT(found, 80) << "of 88";
    } else {
      EXPECT_LT(voiced, 5) << "voiced in noise louder than the voice";
    }
  }
}

}  // namespace
}  // namespace quenvis
