#include "analysis/UFFT_iterative_tabs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <set>
#include <string>
#include <utility>

#include "support/NearestDouble.h"

namespace quenvis {
namespace {

// Every entry is a 7-decimal value; recover it as an integer count of 10^-7.
std::int64_t Units(double Value) { return static_cast<std::int64_t>(std::nearbyint(Value * 1e7)); }

using test::NearestDouble;

// Exact decimal (as text) to a count of 10^-7.
std::int64_t ParseUnits(const std::string& Text) {
  const auto point = Text.find('.');
  std::string whole = Text.substr(0, point);
  std::string frac = point == std::string::npos ? "" : Text.substr(point + 1);
  frac.resize(7, '0');
  return std::stoll(whole) * 10'000'000 + std::stoll(frac);
}

struct TTableCase {
  const char* Name;
  const TWindowTab* Table;
  const char* W0;
  const char* W1;
  const char* W1024;
  const char* W2047;
  const char* W2048;
  const char* W3072;
  const char* W4095;
  const char* Min;
  const char* Max;
  const char* Sum;
  double (*Formula)(int n);
};

double C(double Multiple, int n, int Divisor) {
  return std::cos(Multiple * 2 * std::numbers::pi * n / Divisor);
}

const TTableCase TableCases[] = {
    {"hamming", &TabHamming, "0.07672", "0.0767205", "0.5385371", "0.9999999", "0.9999999",
     "0.5378288", "0.07672", "0.07672", "0.9999999", "2204.660923",
     [](int n) { return 0.53836 - 0.46164 * C(1, n, 4095); }},
    {"hanning", &TabHanning, "0", "0.0000006", "0.5", "0.9999994", "1", "0.5", "0.0000006", "0",
     "1", "2048", [](int n) { return 0.5 - 0.5 * C(1, n, 4096); }},
    {"Blackman", &TabBlackman, "0", "0.0000002", "0.34", "0.999999", "1", "0.34", "0.0000002", "0",
     "1", "1720.3200032", [](int n) { return 0.42 - 0.5 * C(1, n, 4096) + 0.08 * C(2, n, 4096); }},
    {"Blackman_Harris", &TabBlackmanHarris, "0.003993", "0.0039932", "0.343103", "0.999092",
     "0.999093", "0.343103", "0.0039932", "0.003993", "0.999093", "1729.835007",
     [](int n) { return 0.422323 - 0.49755 * C(1, n, 4096) + 0.07922 * C(2, n, 4096); }},
    {"Blackman_Nuttall", &TabBlackmanNuttall, "0.0003628", "0.0003628", "0.2269824", "0.9999987",
     "1", "0.2269824", "0.0003628", "0.0003628", "1", "1489.2314628",
     [](int n) {
       return 0.3635819 - 0.4891775 * C(1, n, 4096) + 0.1365995 * C(2, n, 4096) -
              0.0106411 * C(3, n, 4096);
     }},
};

class WindowTableTest : public ::testing::TestWithParam<TTableCase> {};

TEST_P(WindowTableTest, CheckValues) {
  const TTableCase& c = GetParam();
  const TWindowTab& w = *c.Table;
  const std::pair<int, const char*> points[] = {{0, c.W0},       {1, c.W1},       {1024, c.W1024},
                                                {2047, c.W2047}, {2048, c.W2048}, {3072, c.W3072},
                                                {4095, c.W4095}};
  for (const auto& [n, text] : points)
    EXPECT_EQ(w[n], NearestDouble(ParseUnits(text))) << "n = " << n;
  EXPECT_EQ(*std::min_element(w.begin(), w.end()), NearestDouble(ParseUnits(c.Min)));
  EXPECT_EQ(*std::max_element(w.begin(), w.end()), NearestDouble(ParseUnits(c.Max)));
}

TEST_P(WindowTableTest, ExactSum) {
  const TTableCase& c = GetParam();
  std::int64_t sum = 0;
  for (double v : *c.Table) sum += Units(v);
  EXPECT_EQ(sum, ParseUnits(c.Sum));
}

TEST_P(WindowTableTest, EntriesAreTheFormulaRoundedToSevenDecimals) {
  const TTableCase& c = GetParam();
  for (int n = 0; n < FFTSize; ++n) {
    const double v = (*c.Table)[n];
    ASSERT_EQ(Units(v), Units(c.Formula(n))) << "n = " << n;
    ASSERT_FALSE(std::signbit(v)) << "n = " << n;
  }
}

TEST_P(WindowTableTest, Symmetry) {
  const TWindowTab& w = *GetParam().Table;
  if (&w == &TabHamming) {
    for (int n = 0; n < FFTSize; ++n) ASSERT_EQ(w[n], w[4095 - n]) << n;
    EXPECT_NE(w[1024], w[3072]);
  } else {
    for (int n = 1; n < FFTSize; ++n) ASSERT_EQ(w[n], w[4096 - n]) << n;
    // Single maximum at 2048, minimum at 0.
    EXPECT_EQ(std::count(w.begin(), w.end(), w[2048]), 1);
    EXPECT_EQ(*std::min_element(w.begin(), w.end()), w[0]);
  }
}

INSTANTIATE_TEST_SUITE_P(AllWindows, WindowTableTest, ::testing::ValuesIn(TableCases),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// All entries but eight are the nearest double of their decimal; the eight
// come out one ulp away because of the conversion through extended precision.
TEST(WindowTables, OnlyTheEightListedEntriesMissTheNearestDouble) {
  const std::set<std::pair<const TWindowTab*, int>> expected = {
      {&TabHamming, 371},          {&TabHamming, 3724},         {&TabBlackman, 508},
      {&TabBlackman, 3588},        {&TabBlackmanNuttall, 1297}, {&TabBlackmanNuttall, 2799},
      {&TabBlackmanNuttall, 1787}, {&TabBlackmanNuttall, 2309}};
  std::set<std::pair<const TWindowTab*, int>> found;
  for (int p = 0; p < WindowCount; ++p) {
    const TWindowTab& w = WindowTable(p);
    for (int n = 0; n < FFTSize; ++n) {
      const double nearest = NearestDouble(Units(w[n]));
      if (w[n] == nearest) continue;
      found.insert({&w, n});
      EXPECT_TRUE(w[n] == std::nextafter(nearest, 0.0) || w[n] == std::nextafter(nearest, 2.0))
          << WindowNames[p] << "[" << n << "]";
    }
  }
  EXPECT_EQ(found, expected);
  EXPECT_EQ(Units(TabHamming[371]), 1'495'171);
  EXPECT_EQ(Units(TabBlackman[508]), 652'656);
  EXPECT_EQ(Units(TabBlackmanNuttall[1297]), 4'609'597);
  EXPECT_EQ(Units(TabBlackmanNuttall[1787]), 9'130'162);
}

TEST(WindowTables, NuttallEndsEqualItsMinimum) {
  EXPECT_EQ(TabBlackmanNuttall[1], TabBlackmanNuttall[0]);
  EXPECT_EQ(TabBlackmanNuttall[4095], TabBlackmanNuttall[0]);
}

TEST(TabTwiddle, FullTable) {
  const std::pair<const char*, const char*> expected[FFTStages] = {{"-1", "0"},
                                                                   {"0", "1"},
                                                                   {"0.7071068", "0.7071068"},
                                                                   {"0.9238795", "0.3826834"},
                                                                   {"0.9807853", "0.1950903"},
                                                                   {"0.9951847", "0.0980171"},
                                                                   {"0.9987955", "0.0490677"},
                                                                   {"0.9996988", "0.0245412"},
                                                                   {"0.9999247", "0.0122715"},
                                                                   {"0.9999812", "0.0061359"},
                                                                   {"0.9999953", "0.003068"},
                                                                   {"0.9999988", "0.001534"}};
  for (int s = 0; s < FFTStages; ++s) {
    SCOPED_TRACE(s + 1);
    EXPECT_EQ(Units(TabTwiddle[s].Cos), ParseUnits(expected[s].first));
    EXPECT_EQ(Units(TabTwiddle[s].Sin), ParseUnits(expected[s].second));
    EXPECT_FALSE(std::signbit(TabTwiddle[s].Sin));
  }
  EXPECT_EQ(TabTwiddle[0].Cos, -1.0);
  EXPECT_EQ(TabTwiddle[0].Sin, 0.0);
  EXPECT_FALSE(std::signbit(TabTwiddle[1].Cos));
  EXPECT_EQ(TabTwiddle[1].Sin, 1.0);
  EXPECT_EQ(TabTwiddle[2].Cos, TabTwiddle[2].Sin);
}

TEST(TabBitRev, ReversesTwelveBitsAndIsItsOwnInverse) {
  const std::int32_t head[] = {0, 2048, 1024, 3072, 512, 2560, 1536, 3584};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(TabBitRev[i], head[i]);
  EXPECT_EQ(TabBitRev[4092], 1023);
  EXPECT_EQ(TabBitRev[4093], 3071);
  EXPECT_EQ(TabBitRev[4094], 2047);
  EXPECT_EQ(TabBitRev[4095], 4095);
  for (int i = 0; i < FFTSize; ++i) {
    ASSERT_GE(TabBitRev[i], 0);
    ASSERT_LT(TabBitRev[i], FFTSize);
    ASSERT_EQ(TabBitRev[TabBitRev[i]], i);
  }
}

TEST(WindowList, NamesAndPositions) {
  const char* names[] = {"hamming", "hanning", "Blackman", "Blackman_Harris", "Blackman_Nuttall"};
  const TWindowTab* tables[] = {&TabHamming, &TabHanning, &TabBlackman, &TabBlackmanHarris,
                                &TabBlackmanNuttall};
  for (int p = 0; p < WindowCount; ++p) {
    EXPECT_STREQ(WindowNames[p], names[p]);
    EXPECT_EQ(&WindowTable(p), tables[p]);
  }
  for (int p : {-1, 5, 6, -2147483647 - 1, 2147483647})
    EXPECT_EQ(&WindowTable(p), &TabHamming) << p;
}

}  // namespace
}  // namespace quenvis
