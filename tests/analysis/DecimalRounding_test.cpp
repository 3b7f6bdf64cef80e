#include "analysis/DecimalRounding.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "support/NearestDouble.h"

namespace quenvis {
namespace {

using test::NearestDouble;

TEST(SevenDecimalToDouble, ExactValuesAndZero) {
  EXPECT_EQ(SevenDecimalToDouble(SevenDecimalScale), 1.0);
  EXPECT_EQ(SevenDecimalToDouble(-SevenDecimalScale), -1.0);
  EXPECT_EQ(SevenDecimalToDouble(5'000'000), 0.5);
  EXPECT_EQ(SevenDecimalToDouble(2'048 * SevenDecimalScale), 2048.0);
  EXPECT_FALSE(std::signbit(SevenDecimalToDouble(0)));
}

// These decimals land exactly halfway between two doubles after the first
// rounding, so the second rounding moves them one ulp off the nearest double.
TEST(SevenDecimalToDouble, DoubleRoundingCases) {
  for (std::int64_t units : {1'495'171, 652'656, 4'609'597, 9'130'162}) {
    SCOPED_TRACE(units);
    const double nearest = NearestDouble(units);
    const double stored = SevenDecimalToDouble(units);
    EXPECT_NE(stored, nearest);
    EXPECT_TRUE(stored == std::nextafter(nearest, 0.0) || stored == std::nextafter(nearest, 2.0));
    EXPECT_EQ(SevenDecimalToDouble(-units), -stored);
  }
}

// Almost every decimal converts to its nearest double; check a broad sample
// against the C library's correctly rounded conversion.
TEST(SevenDecimalToDouble, AgreesWithNearestAwayFromTies) {
  std::mt19937_64 random(7);
  int differing = 0;
  for (int i = 0; i < 200'000; ++i) {
    const auto units =
        static_cast<std::int64_t>(random() % (3 * SevenDecimalScale)) - SevenDecimalScale;
    const double nearest = NearestDouble(units);
    const double stored = SevenDecimalToDouble(units);
    if (stored != nearest) {
      ++differing;
      EXPECT_EQ(std::fabs(stored - nearest), std::fabs(std::nextafter(nearest, 0.0) - nearest))
          << units;
    }
  }
  // About one decimal in 2048 meets a halfway case after the first rounding.
  EXPECT_GT(differing, 0);
  EXPECT_LT(differing, 400);
}

#if LDBL_MANT_DIG == 64
// Where long double is the extended format, the two-step hardware conversion
// is an independent reference.
TEST(SevenDecimalToDouble, MatchesExtendedHardwareConversion) {
  std::mt19937_64 random(11);
  for (int i = 0; i < 200'000; ++i) {
    const auto units =
        static_cast<std::int64_t>(random() % (2 * SevenDecimalScale + 1)) - SevenDecimalScale;
    const long double extended = static_cast<long double>(units) / 1e7L;
    ASSERT_EQ(SevenDecimalToDouble(units), static_cast<double>(extended)) << units;
  }
}
#endif

}  // namespace
}  // namespace quenvis
