#include "analysis/CepstralPeak.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

namespace quenvis {
namespace {

// A steady voice at F0 (harmonics to 5 kHz falling 6 dB an octave, random
// phases) in white noise 50 dB down, plus Offset, at the analysis's rate.
std::vector<double> Voice(double F0, double Offset) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> phase(0, 2 * std::numbers::pi);
  std::normal_distribution<double> noise(0, 0.003);
  std::vector<double> x(static_cast<std::size_t>(0.5 * CCepstralPeak::Rate), Offset);
  for (int k = 1; k * F0 < 5000; ++k) {
    const double p = phase(random), w = 2 * std::numbers::pi * k * F0 / CCepstralPeak::Rate;
    for (std::size_t n = 0; n < x.size(); ++n) x[n] += std::sin(w * n + p) / k;
  }
  for (double& v : x) v += noise(random);
  return x;
}

double MeanProminence(const std::vector<double>& X) {
  auto cepstrum = std::make_unique<CCepstralPeak>();
  double sum = 0;
  int n = 0;
  for (std::size_t at = 0; at + CCepstralPeak::Span <= X.size(); at += 220, ++n)
    sum += cepstrum->Measure(X.data() + at);
  return sum / n;
}

// A recording's DC offset survives the pre-emphasis at 3 % of its size;
// through the window it would fill the valley below the pitch and move the
// prominence by decibels. Each frame's mean goes before the window.
TEST(CepstralPeak, DcOffsetChangesNothing) {
  for (const double f0 : {110.0, 220.0, 300.0}) {
    const double clean = MeanProminence(Voice(f0, 0));
    EXPECT_GT(clean, 10) << f0;
    for (const double offset : {0.05, 1.0})
      EXPECT_NEAR(MeanProminence(Voice(f0, offset)), clean, 0.05) << f0 << " Hz, offset " << offset;
  }
}

}  // namespace
}  // namespace quenvis
