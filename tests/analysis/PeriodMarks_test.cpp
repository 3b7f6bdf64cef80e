#include "analysis/PeriodMarks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "support/VowelSynth.h"

namespace quenvis {
namespace {

using test::TVowel;

constexpr double Rate = test::SynthRate;

std::vector<double> ToDouble(const std::vector<std::int16_t>& X) {
  std::vector<double> out(X.size());
  for (std::size_t i = 0; i < X.size(); ++i) out[i] = X[i] / 32768.0;
  return out;
}

TVowel Vowel(double F0, double Seconds) {
  TVowel v;
  v.F0 = F0;
  v.F = {700, 1220, 2600, 3300, 4200};
  v.Seconds = Seconds;
  v.Jitter = 0.015;
  v.Seed = static_cast<std::uint32_t>(F0);
  return v;
}

// Fed 10 ms at a time, the marks follow the synthesiser's pulses one for
// one: each period within 1 % of its own (the jitter is 1 %), and one mark
// a pulse over the last second.
TEST(PeriodMarks, StreamedMarksFollowThePulses) {
  for (const double f0 : {110.0, 220.0, 440.0}) {
    test::TPulses pulses;
    const auto x = ToDouble(test::Synthesize(Vowel(f0, 1.5), &pulses));
    auto marks = std::make_unique<CPeriodMarks>();
    const int hop = 441;
    int end = hop;
    for (; end + hop <= static_cast<int>(x.size()); end += hop)
      marks->Follow(x.data(), end, end, Rate, f0, 1.0);
    end -= hop;
    const double endTime = end / Rate;
    ASSERT_GT(marks->Count(), 0) << f0;
    // Each mark against the pulse nearest it: one pulse a mark, and each
    // period as long as the pulses'.
    const auto nearest = [&](double T) {
      std::size_t best = 0;
      for (std::size_t p = 1; p < pulses.Time.size(); ++p)
        if (std::abs(pulses.Time[p] - T) < std::abs(pulses.Time[best] - T)) best = p;
      return best;
    };
    const int n = marks->Count();
    // The marks trail the pulses by the response's rise.
    const double lag = [&] {
      const double t = endTime - marks->Time(n / 2);
      std::size_t p = nearest(t);
      if (pulses.Time[p] > t && p > 0) --p;
      return t - pulses.Time[p];
    }();
    const auto pulse = [&](int K) { return nearest(endTime - marks->Time(K) - lag); };
    std::size_t before = pulse(0);
    const std::size_t first = before;
    double miss = 0;
    for (int k = 1; k < n; ++k) {
      const std::size_t p = pulse(k);
      ASSERT_EQ(p, before + 1) << f0 << " Hz, mark " << k;
      const double real = pulses.Time[p] - pulses.Time[before];
      miss += std::abs(marks->Time(k - 1) - marks->Time(k) - real) / real;
      before = p;
    }
    // Every pulse of the last second but the newest few (their marks wait
    // for the sound after them) is marked.
    EXPECT_LT(pulses.Time[first], endTime - 0.99) << f0;
    EXPECT_GT(pulses.Time[before], endTime - 3 / f0) << f0;
    EXPECT_LT(100 * miss / (n - 1), 0.3) << f0;
  }
}

// A pause breaks the marks: the walk starts again after it, and no period
// spans it; marks older than the look-back are dropped.
TEST(PeriodMarks, APauseStartsAfresh) {
  const double f0 = 200;
  const auto voice = ToDouble(test::Synthesize(Vowel(f0, 0.6)));
  std::vector<double> x = voice;
  x.resize(x.size() + static_cast<std::size_t>(0.2 * Rate), 0.0);
  x.insert(x.end(), voice.begin(), voice.end());
  auto marks = std::make_unique<CPeriodMarks>();
  const int hop = 441;
  const double seconds = 1.2;
  for (int end = hop; end <= static_cast<int>(x.size()); end += hop) {
    // The pitch estimator would say unvoiced in the pause: no call then.
    const double t = end / Rate;
    if (t > 0.62 && t < 0.82) continue;
    marks->Follow(x.data(), end, end, Rate, f0, seconds);
    for (int k = 0; k + 1 < marks->Count(); ++k)
      ASSERT_LT(marks->Time(k) - marks->Time(k + 1), 1.25 * 1.05 / f0) << t;
    if (marks->Count() > 0) {
      ASSERT_LE(marks->Time(0), seconds) << t;
    }
  }
  // Only the second stretch of voice is marked, nearly all of it.
  ASSERT_GT(marks->Count(), 0);
  EXPECT_LT(marks->Time(0), 0.6 + 0.5 / f0);
  EXPECT_GT(marks->Time(0), 0.55);
}

TEST(PeriodMarks, NothingFromSilenceOrABadPitch) {
  auto marks = std::make_unique<CPeriodMarks>();
  const std::vector<double> silence(44100, 0.0);
  EXPECT_EQ(marks->Find(silence.data(), static_cast<int>(silence.size()), Rate, 150, 1), 0);
  const auto x = ToDouble(test::Synthesize(Vowel(150, 0.5)));
  const int n = static_cast<int>(x.size());
  ASSERT_GT(marks->Find(x.data(), n, Rate, 150, 1), 20);
  for (const double f0 : {std::numeric_limits<double>::quiet_NaN(), 0.0, -150.0, 20.0, 1e6,
                          std::numeric_limits<double>::infinity()})
    EXPECT_EQ(marks->Follow(x.data(), n, n, Rate, f0, 1), 0) << f0;
  EXPECT_EQ(marks->Find(x.data(), 10, Rate, 150, 1), 0);
  EXPECT_EQ(marks->Find(x.data(), n, 0, 150, 1), 0);
}

}  // namespace
}  // namespace quenvis
