#include "analysis/ZonePeakTracker.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace quenvis {
namespace {

constexpr double Inf = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// A quiet spectrum with chosen bins raised.
struct TSpectrum {
  std::vector<double> Power = std::vector<double>(4096, -2.0);
  TSpectrum& Set(int Bin, double Value) {
    Power[static_cast<std::size_t>(Bin)] = Value;
    return *this;
  }
};

struct TCase {
  const char* Name;
  TSpectrum Spectrum;
  double Offset, Threshold;
  std::int32_t Z1Lo, Z1Hi, Z2Lo, Z2Hi;
  std::int32_t Peak1, Peak2;
  double Level1, Level2;
  bool Found;
};

void PrintTo(const TCase& C, std::ostream* Os) { *Os << C.Name; }

class ZonePeakTrackerTest : public ::testing::TestWithParam<TCase> {};

TEST_P(ZonePeakTrackerTest, Finds) {
  const TCase& c = GetParam();
  const TZonePeaks r = TrackZonePeaks(c.Spectrum.Power.data(), c.Offset, c.Threshold, c.Z1Lo,
                                      c.Z1Hi, c.Z2Lo, c.Z2Hi);
  EXPECT_EQ(r.Zone1Peak, c.Peak1);
  EXPECT_EQ(r.Zone2Peak, c.Peak2);
  EXPECT_EQ(r.Level1, c.Level1);
  EXPECT_EQ(r.Level2, c.Level2);
  EXPECT_EQ(r.Found, c.Found);
}

// Start-up zones are bins 10..79 and 56..209, offset 0, threshold 0.51.
const TCase Cases[] = {
    {"VoicedExampleDescendsTwoOctaves", TSpectrum().Set(40, 3).Set(20, 1).Set(10, 1).Set(150, 2), 0,
     0.51, 10, 79, 56, 209, 20, 150, 3, 2, true},
    {"NothingAboveThresholdInZone1", TSpectrum().Set(40, 0.5).Set(150, 4), 0, 0.51, 10, 79, 56, 209,
     -1, -1, 0.5, 0, false},
    {"Zone1AtExactlyThresholdIsNoPeak", TSpectrum().Set(40, 0.51).Set(150, 4), 0, 0.51, 10, 79, 56,
     209, -1, -1, 0.51, 0, false},
    {"Zone2BelowThresholdKeepsZone1", TSpectrum().Set(30, 3).Set(150, 0.4), 0, 0.51, 10, 79, 56,
     209, 30, -1, 3, 0.4, false},
    {"ReversedZone1FindsNothing", TSpectrum().Set(40, 3).Set(150, 2), 0, 0.51, 79, 10, 56, 209, -1,
     -1, 0, 0, false},
    {"ReversedZone2FindsNothing", TSpectrum().Set(40, 3).Set(150, 2), 0, 0.51, 10, 79, 209, 56, 40,
     -1, 3, 0, false},
    {"TieKeepsLowerBin", TSpectrum().Set(30, 2).Set(35, 2).Set(150, 2).Set(160, 2), 0, 0.51, 10, 79,
     56, 209, 30, 150, 2, 2, true},
    {"HalfFailsQuarterPasses",  // P = 64: 32 below, 16 above, 8 not above Lo = 10
     TSpectrum().Set(64, 3).Set(32, 0.1).Set(16, 1).Set(150, 2), 0, 0.51, 10, 79, 100, 209, 16, 150,
     3, 2, true},
    {"HalfNotAboveLowerBoundKeepsPeak",  // P = 20: H = 10 is not above Lo = 10
     TSpectrum().Set(20, 3).Set(10, 2).Set(150, 2), 0, 0.51, 10, 79, 56, 209, 20, 150, 3, 2, true},
    // P = 75 tests 37.5 -> 38, 18.75 -> 19, 9.375 -> 9; halving rounded values
    // would test 10 instead of 9.
    {"DescentKeepsUnroundedHalf",
     TSpectrum().Set(75, 3).Set(38, 1).Set(19, 1).Set(9, 1).Set(10, -5).Set(150, 2), 0, 0.51, 1, 79,
     100, 209, 9, 150, 3, 2, true},
    {"HalfBinRoundsToEvenInTest",  // P = 5 in a zone from 1: H = 2.5 tests bin 2, not 3
     TSpectrum().Set(5, 3).Set(2, 1).Set(3, -5).Set(150, 2), 0, 0.51, 1, 9, 56, 209, 2, 150, 3, 2,
     true},
    {"HalfBinRoundsToEvenInTestFails",  // bin 2 quiet, bin 3 loud: 2.5 must not pass
     TSpectrum().Set(5, 3).Set(2, -5).Set(3, 1).Set(150, 2), 0, 0.51, 1, 9, 56, 209, 5, 150, 3, 2,
     true},
    {"FinalRoundTiesToEven",  // P = 13 -> H = 6.5 passes (bin 6); Round(6.5) = 6
     TSpectrum().Set(13, 3).Set(6, 1).Set(150, 2), 0, 0.51, 1, 20, 56, 209, 6, 150, 3, 2, true},
    {"Zone2StartsAboveZone1Peak",  // zone 1 peak 70 inside zone 2: bins 56..70 not searched
     TSpectrum().Set(70, 3).Set(60, 9).Set(100, 2), 0, 0.51, 65, 79, 56, 209, 70, 100, 3, 2, true},
    {"Zone1PeakAtOrAboveZone2Hi", TSpectrum().Set(79, 3).Set(60, 9), 0, 0.51, 75, 79, 56, 70, 79,
     -1, 3, 0, false},
    {"Zone2DescentMayFallBelowZone1Peak",  // zone 2 best 140, half 70 > Lo 56, below zone 1's 75
     TSpectrum().Set(75, 3).Set(140, 2).Set(70, 1), 0, 0.51, 10, 79, 56, 209, 75, 70, 3, 2, true},
    {"OffsetAppliesToEveryComparison",  // levels are Power - 2
     TSpectrum().Set(40, 5).Set(20, 2.4).Set(150, 3), 2, 0.51, 10, 79, 56, 209, 40, 150, 3, 1,
     true},
    // Even a threshold below the start value finds nothing here.
    {"MinusInfinityNeverWins",
     [] {
       TSpectrum s;
       for (int b = 10; b <= 79; ++b) s.Set(b, -Inf);
       return s.Set(150, 2);
     }(),
     0, -1e300, 10, 79, 56, 209, -1, -1, 0, 0, false},
    {"NaNNeverWins", TSpectrum().Set(10, NaN).Set(11, 1).Set(12, NaN).Set(150, 2), 0, 0.51, 10, 79,
     56, 209, 11, 150, 1, 2, true},
    {"LevelsBelowStartValueNeverWin", TSpectrum().Set(40, -2e30).Set(150, 2), 0, -1e31, 40, 40, 56,
     209, -1, -1, 0, 0, false},
};

INSTANTIATE_TEST_SUITE_P(Rules, ZonePeakTrackerTest, ::testing::ValuesIn(Cases),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// Limits outside the spectrum are clipped to it; none of them may read
// outside 0..4095 (the sanitizer build checks the reads) or overflow.
TEST(ZonePeakTrackerLimits, OutOfRangeLimitsReadOnlyTheSpectrum) {
  std::vector<double> power(4096, -2.0);
  power[0] = 1;
  power[4095] = 2;
  const std::int32_t lo = std::numeric_limits<std::int32_t>::min();
  const std::int32_t hi = std::numeric_limits<std::int32_t>::max();
  const struct {
    std::int32_t Z1Lo, Z1Hi, Z2Lo, Z2Hi;
    std::int32_t Peak1, Peak2;
  } cases[] = {
      // Negative bounds: the descents still end, at bin 0 which stands out.
      {-5, 3, -5, 4095, 0, 0},        {lo, hi, lo, hi, 0, 0},
      {4000, hi, 4095, hi, 4095, -1},  // zone 1 ends at the last bin; nothing above it
      {hi, hi, hi, hi, -1, -1},        // entirely above the spectrum
      {lo, -1, lo, -1, -1, -1},        // entirely below it
      {0, 0, 0, 4095, 0, 0},           // bound 0: H = 0 is not above it
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << c.Z1Lo << ".." << c.Z1Hi << ", " << c.Z2Lo << ".." << c.Z2Hi);
    const TZonePeaks r = TrackZonePeaks(power.data(), 0.0, 0.51, c.Z1Lo, c.Z1Hi, c.Z2Lo, c.Z2Hi);
    EXPECT_EQ(r.Zone1Peak, c.Peak1);
    EXPECT_EQ(r.Zone2Peak, c.Peak2);
  }
}

// With a bound below zero the halving never leaves the zone; it must still
// end, and reach bin 0 when bin 0 stands above the threshold.
TEST(ZonePeakTrackerLimits, DescentBelowZeroBoundEndsAtBinZero) {
  std::vector<double> power(4096, 1.0);
  const TZonePeaks r = TrackZonePeaks(power.data(), 0.0, 0.51, -100, 1000, 2000, 3000);
  EXPECT_EQ(r.Zone1Peak, 0);  // all bins equal: best is bin 0 itself
  std::vector<double> raised(4096, 1.0);
  raised[999] = 5;
  const TZonePeaks s = TrackZonePeaks(raised.data(), 0.0, 0.51, -100, 1000, 2000, 3000);
  EXPECT_EQ(s.Zone1Peak, 0);
  EXPECT_EQ(s.Level1, 5.0);
}

// The result fields start fresh on every call.
TEST(ZonePeakTrackerLimits, NothingCarriesOverBetweenCalls) {
  std::vector<double> loud(4096, -2.0);
  loud[40] = 3;
  loud[150] = 2;
  ASSERT_TRUE(TrackZonePeaks(loud.data(), 0, 0.51, 10, 79, 56, 209).Found);
  const std::vector<double> quiet(4096, -2.0);
  const TZonePeaks r = TrackZonePeaks(quiet.data(), 0, 0.51, 10, 79, 56, 209);
  EXPECT_EQ(r.Zone1Peak, -1);
  EXPECT_EQ(r.Zone2Peak, -1);
  EXPECT_FALSE(r.Found);
}

}  // namespace
}  // namespace quenvis
