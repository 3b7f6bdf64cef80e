#include "analysis/AnalysisSettings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace quenvis {
namespace {

constexpr std::int32_t Int32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t Int32Max = std::numeric_limits<std::int32_t>::max();

TEST(AnalysisSettings, ScaleFromPowerRange) {
  const struct {
    std::int32_t Range;
    double Scale;
  } cases[] = {{10, 25.5},   {1, 255.0}, {0, 255.0},      {-1, 510.0},
               {-9, 2550.0}, {3, 85.0},  {10000, 0.0255}, {-10000, 2550255.0}};
  for (const auto& c : cases) EXPECT_EQ(ScaleFromPowerRange(c.Range), c.Scale) << c.Range;
  for (std::int32_t v : {10001, -10001, -8421504, Int32Min, Int32Max})
    EXPECT_FALSE(ScaleFromPowerRange(v).has_value()) << v;
}

TEST(AnalysisSettings, ScaleStaysPositiveAndFiniteWithinLimits) {
  for (std::int32_t v = PowerRangeLimits.Lower; v <= PowerRangeLimits.Upper; ++v) {
    const auto scale = ScaleFromPowerRange(v);
    ASSERT_TRUE(scale.has_value()) << v;
    ASSERT_TRUE(std::isfinite(*scale) && *scale > 0) << v;
  }
}

TEST(AnalysisSettings, OffsetFromPowerOffset) {
  EXPECT_EQ(OffsetFromPowerOffset(0), 0.0);
  EXPECT_EQ(OffsetFromPowerOffset(-3), -3.0);
  EXPECT_EQ(OffsetFromPowerOffset(10000), 10000.0);
  EXPECT_EQ(OffsetFromPowerOffset(-10000), -10000.0);
  EXPECT_FALSE(OffsetFromPowerOffset(10001).has_value());
  EXPECT_FALSE(OffsetFromPowerOffset(Int32Min).has_value());
}

TEST(AnalysisSettings, FadeFromRemanance) {
  const double expected[] = {0, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 0.95, 0.99};
  for (std::int32_t v = 0; v <= 11; ++v)
    EXPECT_EQ(FadeFromRemanance(v), static_cast<float>(expected[v])) << v;
  EXPECT_EQ(*FadeFromRemanance(10), 0.949999988079071044921875f);
  for (std::int32_t v : {-1, 12, Int32Min, Int32Max})
    EXPECT_FALSE(FadeFromRemanance(v).has_value()) << v;
}

TEST(AnalysisSettings, ShiftAndFrequencyRange) {
  const struct {
    std::int32_t Plage, Shift;
    double MaxHz;
  } cases[] = {{0, -1, 5000}, {1, 0, 10000}, {2, 1, 20000}, {3, 2, 40000}};
  for (const auto& c : cases) {
    EXPECT_EQ(ShiftFromFreqPlage(c.Plage), c.Shift);
    EXPECT_EQ(FreqMaxForShift(c.Shift), c.MaxHz);
  }
  for (std::int32_t v : {-1, 4, Int32Max}) EXPECT_FALSE(ShiftFromFreqPlage(v).has_value()) << v;
}

TEST(AnalysisSettings, ThresholdFromSeuil) {
  EXPECT_EQ(ThresholdFromSeuil(2, 25.5), 0.51);  // the start-up threshold
  EXPECT_EQ(ThresholdFromSeuil(50, 25.5), 12.75);
  EXPECT_EQ(ThresholdFromSeuil(0, 25.5), 0.0);
  EXPECT_EQ(ThresholdFromSeuil(100, 2550255.0), 2550255.0);
  for (std::int32_t v : {-1, 101, Int32Min})
    EXPECT_FALSE(ThresholdFromSeuil(v, 25.5).has_value()) << v;
}

TEST(AnalysisSettings, BinFromHz) {
  const struct {
    std::int32_t Hz, Bin;
  } cases[] = {{10, 1}, {110, 10}, {600, 56}, {850, 79}, {2250, 209}, {20000, 1858}};
  for (const auto& c : cases) EXPECT_EQ(BinFromHz(c.Hz, Zone1LoLimits), c.Bin) << c.Hz;
  for (std::int32_t hz : {9, 20001, -5, 44095, 524288, Int32Max, Int32Min})
    EXPECT_FALSE(BinFromHz(hz, Zone2HiLimits).has_value()) << hz;
}

TEST(AnalysisSettings, ZoneBinsStayInsideTheSpectrumWithinLimits) {
  for (std::int32_t hz = Zone1LoLimits.Lower; hz <= Zone1LoLimits.Upper; ++hz) {
    const auto bin = BinFromHz(hz, Zone1LoLimits);
    ASSERT_TRUE(bin.has_value());
    ASSERT_GE(*bin, 1);
    ASSERT_LE(*bin, 1858);
  }
}

TEST(AnalysisSettings, StartUpValuesOfTheControls) {
  EXPECT_EQ(OffsetFromPowerOffset(PowerOffsetLimits.Initial), 0.0);
  EXPECT_EQ(ScaleFromPowerRange(PowerRangeLimits.Initial), 25.5);
  EXPECT_EQ(FadeFromRemanance(RemananceLimits.Initial), 0.95f);
  EXPECT_EQ(ShiftFromFreqPlage(FreqPlageLimits.Initial), -1);
  EXPECT_EQ(ThresholdFromSeuil(SeuilLimits.Initial, 25.5), 0.51);
  EXPECT_EQ(BinFromHz(Zone1LoLimits.Initial, Zone1LoLimits), 10);
  EXPECT_EQ(BinFromHz(Zone1HiLimits.Initial, Zone1HiLimits), 79);
  EXPECT_EQ(BinFromHz(Zone2LoLimits.Initial, Zone2LoLimits), 56);
  EXPECT_EQ(BinFromHz(Zone2HiLimits.Initial, Zone2HiLimits), 209);

  // The whole record, with the threshold scaled by the start-up range.
  const TAnalysisSettings s = StartupSettings();
  EXPECT_EQ(s.FOffset, 0.0);
  EXPECT_EQ(s.FScale, 25.5);
  EXPECT_EQ(s.FFade, 0.95f);
  EXPECT_EQ(s.FShift, -1);
  EXPECT_EQ(s.FThreshold, 0.51);
  EXPECT_EQ(s.FZone1Lo, 10);
  EXPECT_EQ(s.FZone1Hi, 79);
  EXPECT_EQ(s.FZone2Lo, 56);
  EXPECT_EQ(s.FZone2Hi, 209);
}

// The window computes the scale and the threshold in 80-bit extended precision
// and stores doubles; the rules must give those bits on every host. Checked
// here against the x87 format itself, for every pair the panel allows.
TEST(AnalysisSettings, ScaleAndThresholdRoundAsExtendedArithmetic) {
  if (std::numeric_limits<long double>::digits != 64) GTEST_SKIP() << "no 80-bit long double";
  int mismatches = 0;
  for (std::int32_t range = PowerRangeLimits.Lower; range <= PowerRangeLimits.Upper; ++range) {
    const volatile long double top = 255;
    const double scale = range >= 1 ? static_cast<double>(top / range) : (1.0 - range) * 255;
    ASSERT_EQ(ScaleFromPowerRange(range), scale) << range;
    for (std::int32_t seuil = SeuilLimits.Lower; seuil <= SeuilLimits.Upper; ++seuil) {
      const volatile long double product = static_cast<long double>(seuil) * scale;
      const double expected = static_cast<double>(product / 100);
      mismatches += ThresholdFromSeuil(seuil, scale) != expected;
    }
  }
  EXPECT_EQ(mismatches, 0);
  // Plain double arithmetic gives 2.5499999999999998 here.
  EXPECT_EQ(ThresholdFromSeuil(7, *ScaleFromPowerRange(7)), 2.5500000000000003);
}

TEST(RoundToInt32, NearestTiesToEvenAndSaturating) {
  const struct {
    double Value;
    std::int32_t Result;
  } cases[] = {{2.5, 2},
               {3.5, 4},
               {-2.5, -2},
               {0.5, 0},
               {-0.5, 0},
               {1.4999999, 1},
               {2.7, 3},
               {-2.7, -3},
               {2147483647.4, Int32Max},
               {2147483648.0, Int32Max},
               {1e300, Int32Max},
               {-2147483648.4, Int32Min},
               {-1e300, Int32Min},
               {std::numeric_limits<double>::infinity(), Int32Max},
               {-std::numeric_limits<double>::infinity(), Int32Min},
               {std::numeric_limits<double>::quiet_NaN(), 0}};
  for (const auto& c : cases) EXPECT_EQ(RoundToInt32(c.Value), c.Result) << c.Value;
}

}  // namespace
}  // namespace quenvis
