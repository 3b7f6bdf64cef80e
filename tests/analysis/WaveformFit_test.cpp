#include "analysis/WaveformFit.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <numbers>
#include <vector>

namespace quenvis {
namespace {

constexpr double Rate = CWaveformFit::Rate;

// A pulse train at F0, falling 6 dB an octave from 100 Hz as a voice's
// source with the lips' radiation does, through two-pole resonators at F
// (bandwidths B), at the fit's rate: a vowel whose resonances are known.
std::vector<double> Vowel(double F0, const std::array<double, 4>& F,
                          const std::array<double, 4>& B, int Count) {
  std::vector<double> x(static_cast<std::size_t>(Count));
  double next = 0;
  for (int n = 0; n < Count; ++n)
    if (n >= next) {
      x[static_cast<std::size_t>(n)] = 1;
      next += Rate / F0;
    }
  const double tilt = std::exp(-2 * std::numbers::pi * 100 / Rate);
  for (double y = 0; double& v : x) v = y = v + tilt * y;
  for (std::size_t k = 0; k < F.size(); ++k) {
    const double r = std::exp(-std::numbers::pi * B[k] / Rate);
    const double a1 = 2 * r * std::cos(2 * std::numbers::pi * F[k] / Rate), a2 = -r * r;
    double y1 = 0, y2 = 0;
    for (double& v : x) {
      const double y = v + a1 * y1 + a2 * y2;
      y2 = y1;
      y1 = y;
      v = y;
    }
  }
  return x;
}

struct TCase {
  double F0;
  std::array<double, 4> F;
  int Order;
};

// Each formant lies within 5 % (F1: 10 %, which the pitch's harmonics pull)
// of a resonance of the fit.
TEST(WaveformFit, FindsTheResonancesOfVowels) {
  const TCase cases[] = {
      {110, {730, 1090, 2440, 3400}, 12},  // a man's "ah"
      {110, {270, 2290, 3010, 3700}, 12},  // a man's "ee"
      {130, {300, 870, 2240, 3500}, 12},   // a man's "oo"
      {220, {860, 2050, 2850, 3900}, 10},  // a woman's "ae"
      {200, {370, 950, 2670, 3900}, 10},   // a woman's "oo"
  };
  const std::array<double, 4> bands{80, 100, 140, 200};
  CWaveformFit fit;
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.F0 << " Hz, F1 " << c.F[0] << ", F2 " << c.F[1]);
    const auto x = Vowel(c.F0, c.F, bands, 2000);
    TResonances out;
    ASSERT_TRUE(fit.Fit(x.data() + 1000, c.Order, out));
    ASSERT_GE(out.Count, 3);
    for (std::size_t k = 0; k < 3; ++k) {
      double nearest = 1e9;
      for (int r = 0; r < out.Count; ++r)
        nearest = std::min(nearest, std::abs(out.Freq[static_cast<std::size_t>(r)] - c.F[k]));
      EXPECT_LE(nearest, (k == 0 ? 0.10 : 0.05) * c.F[k]) << "F" << k + 1;
    }
    for (int r = 1; r < out.Count; ++r)
      EXPECT_LT(out.Freq[static_cast<std::size_t>(r - 1)], out.Freq[static_cast<std::size_t>(r)]);
    for (int r = 0; r < out.Count; ++r) {
      EXPECT_GE(out.Freq[static_cast<std::size_t>(r)], CWaveformFit::MinFreq);
      EXPECT_GT(out.Band[static_cast<std::size_t>(r)], 0);
      EXPECT_LT(out.Band[static_cast<std::size_t>(r)], CWaveformFit::MaxBand);
    }
  }
}

// Nothing to fit: no model, and no resonances left from an earlier fit.
TEST(WaveformFit, SilenceAndNonFiniteGiveNoModel) {
  CWaveformFit fit;
  TResonances out;
  const auto vowel = Vowel(120, {500, 1500, 2500, 3500}, {80, 100, 140, 200}, 1000);
  ASSERT_TRUE(fit.Fit(vowel.data() + 400, 10, out));
  ASSERT_GT(out.Count, 0);
  std::vector<double> silence(CWaveformFit::Window, 0.0);
  EXPECT_FALSE(fit.Fit(silence.data(), 10, out));
  EXPECT_EQ(out.Count, 0);
  std::vector<double> bad(vowel.begin() + 400, vowel.begin() + 400 + CWaveformFit::Window);
  bad[100] = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(fit.Fit(bad.data(), 10, out));
  EXPECT_EQ(out.Count, 0);
  bad[100] = std::numeric_limits<double>::infinity();
  EXPECT_FALSE(fit.Fit(bad.data(), 10, out));
  EXPECT_EQ(out.Count, 0);
}

// Going on with a fit's recursion gives a fresh fit's resonances to the
// bit, at each higher order; after a failed fit, or to a lower order,
// nothing.
TEST(WaveformFit, ExtendIsAFreshFitOfTheHigherOrder) {
  const auto vowel = Vowel(140, {600, 1200, 2600, 3600}, {80, 100, 140, 200}, 1200);
  const double* x = vowel.data() + 500;
  for (const int base : {2, 8, 10, 12}) {
    CWaveformFit going, fresh;
    TResonances a, b;
    ASSERT_TRUE(going.Fit(x, base, a));
    for (int order = base; order <= CWaveformFit::MaxOrder; order += 2) {
      SCOPED_TRACE(testing::Message() << base << " to " << order);
      ASSERT_TRUE(going.Extend(order, a));
      ASSERT_TRUE(fresh.Fit(x, order, b));
      ASSERT_EQ(a.Count, b.Count);
      for (std::size_t r = 0; r < static_cast<std::size_t>(a.Count); ++r) {
        EXPECT_EQ(a.Freq[r], b.Freq[r]);
        EXPECT_EQ(a.Band[r], b.Band[r]);
      }
    }
    EXPECT_FALSE(going.Extend(base, a)) << "a lower order than reached";
    EXPECT_EQ(a.Count, 0);
  }
  CWaveformFit fit;
  TResonances out;
  EXPECT_FALSE(fit.Extend(10, out)) << "no fit before";
  std::vector<double> silence(CWaveformFit::Window, 0.0);
  ASSERT_TRUE(fit.Fit(x, 8, out));
  EXPECT_FALSE(fit.Fit(silence.data(), 8, out));
  EXPECT_FALSE(fit.Extend(12, out)) << "after a failed fit";
  EXPECT_EQ(out.Count, 0);
}

}  // namespace
}  // namespace quenvis
