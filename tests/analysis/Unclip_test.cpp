#include "analysis/Unclip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <numbers>
#include <vector>

#include "support/VowelSynth.h"

namespace quenvis {
namespace {

constexpr int Block = 2048 + 30;  // a block and the filter's tail, as the tracker keeps them

// Levels (dB) of the first harmonics of F0 in X[From, From + 4096), Hann-windowed,
// relative to the first.
std::vector<double> HarmonicLevels(const std::vector<double>& X, std::size_t From, double F0) {
  constexpr int n = 4096;
  std::vector<double> levels;
  for (double f = F0; f < 3300; f += F0) {
    double re = 0, im = 0;
    for (int i = 0; i < n; ++i) {
      const double w = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / n);
      const double a = 2 * std::numbers::pi * f * i / test::SynthRate;
      re += w * X[From + static_cast<std::size_t>(i)] * std::cos(a);
      im -= w * X[From + static_cast<std::size_t>(i)] * std::sin(a);
    }
    levels.push_back(10 * std::log10(re * re + im * im + 1e-30));
  }
  for (std::size_t k = levels.size(); k-- > 0;) levels[k] -= levels[0];
  return levels;
}

double RmsDifference(const std::vector<double>& A, const std::vector<double>& B) {
  double s = 0;
  for (std::size_t k = 0; k < A.size(); ++k) s += (A[k] - B[k]) * (A[k] - B[k]);
  return std::sqrt(s / static_cast<double>(A.size()));
}

struct TCase {
  const char* Name;
  double F0;
  std::array<double, 5> F;
  double OverDb;
  double MostDb;  // RMS error of the redrawn harmonics' levels
};

// Vowels clipped 3 and 6 dB over full scale, redrawn block by block as the
// tracker does: the harmonics' levels come back close to the unclipped
// ones, where the flattened peaks put the man's "ee" F2 under the
// distortion they spread.
TEST(Unclip, RedrawnPeaksRestoreTheHarmonics) {
  const TCase cases[] = {
      {"man's ee, +3 dB", 130, {270, 2290, 3010, 3700, 4600}, 3, 4},
      {"man's ee, +6 dB", 130, {270, 2290, 3010, 3700, 4600}, 6, 4},
      {"man's ah, +6 dB", 110, {730, 1090, 2440, 3700, 4600}, 6, 4},
      {"woman's ih, +6 dB", 220, {430, 2480, 3070, 3700, 4600}, 6, 5},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    test::TVowel vowel;
    vowel.F0 = c.F0;
    vowel.F = c.F;
    vowel.Seconds = 0.5;
    const double over = std::pow(10.0, c.OverDb / 20);
    vowel.Peak = over;
    const auto clipped = test::Synthesize(vowel);
    vowel.Peak = 0.5;
    const auto quiet = test::Synthesize(vowel);
    std::vector<double> clean(quiet.size()), x(clipped.size()), flat(clipped.size());
    std::vector<std::uint8_t> railed(clipped.size());
    for (std::size_t i = 0; i < clipped.size(); ++i) {
      clean[i] = quiet[i] * over / 0.5 / 32768;
      flat[i] = x[i] = clipped[i] / 32768.0;
      railed[i] = clipped[i] >= 32767 || clipped[i] <= -32767;
    }
    ASSERT_GT(std::count(railed.begin(), railed.end(), 1), 0);
    CUnclip unclip;
    int left = 0;
    for (std::size_t first = 0; first + Block <= x.size(); first += 2048)
      left += unclip.Redraw(x.data() + first, railed.data() + first, 30, Block);
    EXPECT_EQ(left, 0);
    for (std::size_t i = 0; i < x.size(); ++i) {
      ASSERT_TRUE(std::isfinite(x[i]));
      // Never inside the rail, and unclipped frames are left as they are.
      if (railed[i])
        ASSERT_GE(std::abs(x[i]), std::abs(flat[i])) << i;
      else
        ASSERT_EQ(x[i], flat[i]) << i;
    }
    const auto truth = HarmonicLevels(clean, 8000, c.F0);
    const double before = RmsDifference(HarmonicLevels(flat, 8000, c.F0), truth);
    const double after = RmsDifference(HarmonicLevels(x, 8000, c.F0), truth);
    EXPECT_LE(after, c.MostDb) << "clipped: " << before;
    EXPECT_LT(after, 0.5 * before);
  }
}

// A run too long for a peak is counted, in the new input only, and left as
// it is; so is one that reaches the end of the input (the next completes
// it); input without clipping is untouched.
TEST(Unclip, LongAndUnfinishedRunsAreLeft) {
  std::vector<double> x(Block);
  std::vector<std::uint8_t> railed(Block, 0);
  for (int i = 0; i < Block; ++i) x[static_cast<std::size_t>(i)] = 0.5 * std::sin(0.05 * i);
  const auto same = x;
  CUnclip unclip;
  EXPECT_EQ(unclip.Redraw(x.data(), railed.data(), 30, Block), 0);
  EXPECT_EQ(x, same);
  // 300 frames at the rail from frame 20 (10 of them before the new input),
  // and the last 10 frames.
  for (int i = 20; i < 320; ++i)
    x[static_cast<std::size_t>(i)] = 1, railed[static_cast<std::size_t>(i)] = 1;
  for (int i = Block - 10; i < Block; ++i)
    x[static_cast<std::size_t>(i)] = 1, railed[static_cast<std::size_t>(i)] = 1;
  const auto before = x;
  EXPECT_EQ(unclip.Redraw(x.data(), railed.data(), 30, Block), 290);
  EXPECT_EQ(x, before);
}

}  // namespace
}  // namespace quenvis
