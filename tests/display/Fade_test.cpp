#include "display/Fade.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "analysis/AnalysisSettings.h"

namespace quenvis {
namespace {

// Round(byte x factor) as the display defines it, held to a byte.
int Expected(int Byte, float Factor) {
  const double r = std::nearbyint(Byte * static_cast<double>(Factor));
  if (std::isnan(r) || r < 0) return 0;
  return r > 255 ? 255 : static_cast<int>(r);
}

// Runs the fade over all 256 values of every channel, in runs long enough for
// the vector path and with a tail for the scalar one; alpha is varied too.
// Returns a description of the first wrong byte, or nothing.
std::string CheckFactor(float Factor, TFadePath Path) {
  // Runs of zero colour bytes as well, which the vector paths skip, and runs
  // of grey 0..15 (every other one with a byte one higher in its middle),
  // which they skip where the fade keeps them.
  std::vector<std::uint32_t> px(256 + 32 + 128 + 3);
  for (std::uint32_t b = 0; b < px.size(); ++b) {
    const std::uint32_t v = b < 256 ? b : b < 288 ? 0 : b & 0xFF;
    px[b] = ((v * 7) & 0xFF) << 24 | v << 16 | ((255 - v) << 8) | ((v * 101) & 0xFF);
    if (b >= 288 && b < 288 + 128) {
      const std::uint32_t k = b - 288, g = k / 8, up = (k / 8) % 2 && k % 8 == 5 ? 1 : 0;
      px[b] = (k * 37 & 0xFF) << 24 | g << 16 | (g + up) << 8 | g;
    }
  }
  const std::vector<std::uint32_t> before = px;
  const CFade fade(Factor);
  fade.Apply(px.data(), px.size(), Path);
  for (std::size_t i = 0; i < px.size(); ++i) {
    const std::uint32_t o = before[i], n = px[i];
    if (n >> 24 != o >> 24) return "alpha changed at " + std::to_string(i);
    for (int shift = 0; shift <= 16; shift += 8) {
      const int in = static_cast<int>((o >> shift) & 0xFF);
      const int want = Expected(in, Factor);
      const int got = static_cast<int>((n >> shift) & 0xFF);
      if (got != want || fade.Byte(static_cast<std::uint8_t>(in)) != want)
        return "byte " + std::to_string(in) + ": " + std::to_string(got) +
               " != " + std::to_string(want);
    }
  }
  return {};
}

std::string CheckFactor(float Factor) {
  for (TFadePath path : {TFadePath::Best, TFadePath::Sse2, TFadePath::Scalar}) {
    std::string fault = CheckFactor(Factor, path);
    if (!fault.empty()) return "path " + std::to_string(static_cast<int>(path)) + ": " + fault;
  }
  return {};
}

TEST(Fade, TiesGoToEven) {
  const CFade half(0.5f);
  EXPECT_EQ(half.Byte(1), 0);
  EXPECT_EQ(half.Byte(3), 2);
  EXPECT_EQ(half.Byte(5), 2);
  EXPECT_EQ(half.Byte(7), 4);
  std::uint32_t px[5] = {0xFF010305u, 0xFF070707u, 0xFF000000u, 0x12FFFFFFu, 0xFF050301u};
  half.Apply(px, 5);
  EXPECT_EQ(px[0], 0xFF000202u);
  EXPECT_EQ(px[1], 0xFF040404u);
  EXPECT_EQ(px[3], 0x12808080u);  // 127.5 -> 128, alpha kept
  EXPECT_EQ(px[4], 0xFF020200u);
}

TEST(Fade, SideTableFactorsAreExact) {
  for (double f : FadeTab) EXPECT_EQ(CheckFactor(static_cast<float>(f)), "") << f;
  // 0.95 is held as 0.949999988...: 10 x 0.95f = 9.49999988, which rounds down.
  EXPECT_EQ(CFade(0.95f).Byte(10), 9);
  EXPECT_EQ(CFade(0.0f).Byte(255), 0);
}

TEST(Fade, EveryShortDyadicFactorIsExact) {
  // Factors k / 2^16 are where ties occur.
  for (int k = 0; k < 65536; ++k)
    ASSERT_EQ(CheckFactor(static_cast<float>(k / 65536.0)), "") << k << " / 65536";
}

TEST(Fade, RandomAndExtremeFactorsAreExact) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<std::uint32_t> bits(0, 0x3F7FFFFFu);  // floats in [0, 1)
  for (int n = 0; n < 20000; ++n) {
    const std::uint32_t u = bits(rng);
    float f;
    std::memcpy(&f, &u, sizeof f);
    ASSERT_EQ(CheckFactor(f), "") << std::hexfloat << f;
  }
  const float special[] = {std::nextafter(1.0f, 0.0f),
                           1.0f,
                           1.5f,
                           300.0f,
                           -0.0f,
                           -0.5f,
                           1.0f / 256,
                           std::nextafter(1.0f / 256, 0.0f),
                           1e-30f,
                           std::numeric_limits<float>::denorm_min(),
                           std::numeric_limits<float>::infinity(),
                           -std::numeric_limits<float>::infinity(),
                           std::numeric_limits<float>::quiet_NaN()};
  for (float f : special) EXPECT_EQ(CheckFactor(f), "") << f;
}

}  // namespace
}  // namespace quenvis
