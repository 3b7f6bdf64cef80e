#include "analysis/UFFT_iterative.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "support/Blocks.h"

namespace quenvis {
namespace {

using test::ConstantBlock;
using test::MakeBlock;
using test::RandomBlock;
using test::TBlock;

// The transform written out plainly: the rotation advanced group by group
// inside the stage loop, in double arithmetic.
std::vector<TComplex> ReferenceTransform(const TWindowTab& W, const std::vector<double>& Frame) {
  std::vector<TComplex> x(FFTSize);
  for (int i = 0; i < FFTSize; ++i) x[TabBitRev[i]] = {W[i] * Frame[i], 0.0};
  for (int stage = 1; stage <= FFTStages; ++stage) {
    const int half = 1 << (stage - 1), span = 2 * half;
    const double cs = TabTwiddle[stage - 1].Cos, sn = TabTwiddle[stage - 1].Sin;
    double wr = 1.0, wi = 0.0;
    for (int k = 0; k < half; ++k) {
      for (int n = k; n < FFTSize; n += span) {
        const int m = n + half;
        const double tr = wr * x[m].re - wi * x[m].im;
        const double ti = wr * x[m].im + wi * x[m].re;
        const TComplex a = x[n];
        x[n] = {a.re + tr, a.im + ti};
        x[m] = {a.re - tr, a.im - ti};
      }
      const double nr = wr * cs - wi * sn;
      const double ni = wr * sn + wi * cs;
      wr = nr;
      wi = ni;
    }
  }
  return x;
}

double MonoOf(const TBlock& B, int I) {
  const auto l = static_cast<std::int16_t>(B[4 * I] | B[4 * I + 1] << 8);
  const auto r = static_cast<std::int16_t>(B[4 * I + 2] | B[4 * I + 3] << 8);
  return (l + r) / 65536.0;
}

std::vector<double> FrameOf(const TBlock& Older, const TBlock& Newer) {
  std::vector<double> f(FFTSize);
  for (int i = 0; i < BlockFrames; ++i) {
    f[i] = MonoOf(Older, i);
    f[BlockFrames + i] = MonoOf(Newer, i);
  }
  return f;
}

std::int64_t UlpDistance(double A, double B) {
  auto key = [](double v) {
    const auto bits = std::bit_cast<std::int64_t>(v);
    return bits < 0 ? std::numeric_limits<std::int64_t>::min() - bits : bits;
  };
  const std::int64_t d = key(A) - key(B);
  return d < 0 ? -d : d;
}

class FFTEngineTest : public ::testing::Test {
 protected:
  // The engine is large; keep it off the stack.
  std::unique_ptr<CFFT_iterative> fft = std::make_unique<CFFT_iterative>();
};

TEST_F(FFTEngineTest, NewEngineState) {
  EXPECT_EQ(fft->Phase, 0);
  EXPECT_EQ(fft->Window, &TabBlackmanNuttall);
  for (int i = 0; i < FFTSize; ++i) {
    ASSERT_EQ(fft->Samples[i], 0.0);
    ASSERT_EQ(fft->Windowed[i], 0.0);
    ASSERT_EQ(fft->Spectrum[i].re, 0.0);
    ASSERT_EQ(fft->Spectrum[i].im, 0.0);
    ASSERT_EQ(fft->Power[i], 0.0);
  }
}

TEST_F(FFTEngineTest, MonoMix) {
  const struct {
    std::int16_t L, R;
    double Mono;
  } cases[] = {{32767, 32767, 0.999969482421875},
               {-32768, -32768, -1.0},
               {1, -1, 0.0},
               {1, 0, 0.0000152587890625},
               {-32768, 32767, -1.0 / 65536},
               {256, -512, -256.0 / 65536}};
  std::vector<std::pair<std::int16_t, std::int16_t>> frames;
  for (const auto& c : cases) frames.push_back({c.L, c.R});
  fft->Reset();
  fft->Process(MakeBlock(frames).data());
  for (std::size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(fft->Samples[i], cases[i].Mono) << i;
}

TEST_F(FFTEngineTest, PingPongOrderAfterReset) {
  fft->Window = &TabHanning;
  const TBlock b1 = RandomBlock(1), b2 = RandomBlock(2), b3 = RandomBlock(3);
  fft->Process(b1.data());  // warm the history so Reset has something to clear
  fft->Reset();
  EXPECT_EQ(fft->Phase, 0);

  fft->Process(b1.data());
  EXPECT_EQ(fft->Phase, 1);
  for (int i = 0; i < BlockFrames; ++i) {
    ASSERT_EQ(fft->Windowed[i], 0.0) << i;
    ASSERT_EQ(fft->Samples[i], MonoOf(b1, i)) << i;
  }

  fft->Process(b2.data());
  EXPECT_EQ(fft->Phase, 0);
  std::vector<double> frame = FrameOf(b1, b2);
  for (int n = 0; n < FFTSize; ++n) ASSERT_EQ(fft->Windowed[n], TabHanning[n] * frame[n]) << n;

  fft->Process(b3.data());
  EXPECT_EQ(fft->Phase, 1);
  frame = FrameOf(b2, b3);
  for (int n = 0; n < FFTSize; ++n) ASSERT_EQ(fft->Windowed[n], TabHanning[n] * frame[n]) << n;
  for (int i = 0; i < BlockFrames; ++i) {
    ASSERT_EQ(fft->Samples[i], MonoOf(b3, i));
    ASSERT_EQ(fft->Samples[BlockFrames + i], MonoOf(b2, i));
  }
}

// The optimised transform must give the plain algorithm's bits, every window,
// both phases.
TEST_F(FFTEngineTest, SpectrumMatchesPlainAlgorithmBitForBit) {
  TBlock previous = ConstantBlock(0, 0);
  for (int call = 0; call < 2 * WindowCount; ++call) {
    fft->Window = &WindowTable(call % WindowCount);
    const TBlock block = RandomBlock(100 + call);
    fft->Process(block.data());
    const auto expected = ReferenceTransform(*fft->Window, FrameOf(previous, block));
    for (int b = 0; b < FFTSize; ++b) {
      ASSERT_EQ(std::bit_cast<std::uint64_t>(fft->Spectrum[b].re),
                std::bit_cast<std::uint64_t>(expected[b].re))
          << "call " << call << " bin " << b;
      ASSERT_EQ(std::bit_cast<std::uint64_t>(fft->Spectrum[b].im),
                std::bit_cast<std::uint64_t>(expected[b].im))
          << "call " << call << " bin " << b;
    }
    previous = block;
  }
}

TEST_F(FFTEngineTest, PowerIsLog10OfBinPowerWithinOneUlp) {
  for (std::uint32_t seed : {5u, 6u, 7u}) {
    fft->Process(RandomBlock(seed).data());
    for (int b = 0; b < FFTSize; ++b) {
      const double x =
          fft->Spectrum[b].re * fft->Spectrum[b].re + fft->Spectrum[b].im * fft->Spectrum[b].im;
      ASSERT_LE(UlpDistance(fft->Power[b], std::log10(x)), 1) << b;
    }
  }
}

// The logarithm is exercised directly over the full positive range, through
// a one-bin spectrum: a single non-zero sample of a Hanning frame at n = 2048
// (weight 1) gives the same power s^2 in every bin.
TEST_F(FFTEngineTest, PowerAccuracyAcrossMagnitudes) {
  fft->Window = &TabHanning;
  for (int value : {1, 2, 3, 7, 100, 1000, 12345, 32767, -32768}) {
    fft->Reset();
    fft->Process(ConstantBlock(0, 0).data());
    std::vector<std::pair<std::int16_t, std::int16_t>> frames(BlockFrames, {0, 0});
    frames[0] = {static_cast<std::int16_t>(value), 0};
    fft->Process(MakeBlock(frames).data());
    const double s = value / 65536.0;
    for (int b : {0, 1, 1000, 2048, 4095})
      EXPECT_LE(UlpDistance(fft->Power[b], std::log10(s * s)), 1) << value << " bin " << b;
  }
}

TEST_F(FFTEngineTest, HanningConstantInput) {
  fft->Window = &TabHanning;
  fft->Reset();
  fft->Process(ConstantBlock(16384, 16384).data());
  EXPECT_EQ(fft->Spectrum[0].re, 512.25);
  EXPECT_EQ(fft->Spectrum[0].im, 0.0);
  EXPECT_NEAR(fft->Power[0], 5.418964, 5e-7);
  EXPECT_NEAR(fft->Power[1], 5.235294, 5e-7);
  EXPECT_NEAR(fft->Power[4095], 5.235280, 5e-7);
}

TEST_F(FFTEngineTest, ToneOnBin64) {
  std::vector<std::pair<std::int16_t, std::int16_t>> first(BlockFrames), second(BlockFrames);
  for (int n = 0; n < FFTSize; ++n) {
    const auto v = static_cast<std::int16_t>(
        std::nearbyint(16384 * std::cos(2 * 3.141592653589793 * 64 * n / 4096)));
    (n < BlockFrames ? first[n] : second[n - BlockFrames]) = {v, v};
  }
  fft->Window = &TabHamming;
  fft->Reset();
  fft->Process(MakeBlock(first).data());
  fft->Process(MakeBlock(second).data());
  EXPECT_NEAR(fft->Power[64], 5.4826, 5e-5);
  EXPECT_NEAR(fft->Power[63], 4.7472, 5e-5);
  EXPECT_NEAR(fft->Power[65], 4.7472, 5e-5);
  EXPECT_NEAR(fft->Power[4032], 5.4825, 5e-5);
  for (int b = 0; b < FFTSize; ++b) {
    if ((b >= 62 && b <= 66) || (b >= 4030 && b <= 4034)) continue;
    ASSERT_LT(fft->Power[b], -3.5) << b;
  }
}

TEST_F(FFTEngineTest, WindowChangeReweightsTheOlderHalf) {
  const TBlock b1 = RandomBlock(21), b2 = RandomBlock(22);
  fft->Window = &TabHamming;
  fft->Reset();
  fft->Process(b1.data());
  fft->Window = &TabBlackman;
  fft->Process(b2.data());
  const std::vector<double> frame = FrameOf(b1, b2);
  for (int n = 0; n < FFTSize; ++n) ASSERT_EQ(fft->Windowed[n], TabBlackman[n] * frame[n]) << n;
}

TEST_F(FFTEngineTest, ResetKeepsOutputs) {
  fft->Process(RandomBlock(31).data());
  fft->Process(RandomBlock(32).data());
  const auto power = fft->Power;
  const auto windowed = fft->Windowed;
  const auto re0 = fft->Spectrum[7].re;
  fft->Reset();
  EXPECT_EQ(fft->Phase, 0);
  for (double s : fft->Samples) ASSERT_EQ(s, 0.0);
  EXPECT_EQ(fft->Power, power);
  EXPECT_EQ(fft->Windowed, windowed);
  EXPECT_EQ(fft->Spectrum[7].re, re0);
}

// Digital silence: every bin has zero power and must read as -infinity, with
// no floating-point exception raised on the way.
TEST_F(FFTEngineTest, SilenceGivesMinusInfinityWithoutFloatingPointExceptions) {
  fft->Window = &TabHanning;
  fft->Reset();
  std::feclearexcept(FE_ALL_EXCEPT);
  fft->Process(ConstantBlock(0, 0).data());
  EXPECT_FALSE(std::fetestexcept(FE_DIVBYZERO | FE_INVALID | FE_OVERFLOW));
  for (int b = 0; b < FFTSize; ++b) {
    ASSERT_TRUE(std::isinf(fft->Power[b]) && fft->Power[b] < 0) << b;
    ASSERT_FALSE(fft->Power[b] - 3.0 > 0.51);
  }
  // Processing goes on normally afterwards.
  fft->Process(ConstantBlock(1000, 1000).data());
  EXPECT_TRUE(std::isfinite(fft->Power[0]));
}

// A constant frame through Hanning leaves many bins with exactly zero power
// next to bins with power: only those bins become -infinity.
TEST_F(FFTEngineTest, ZeroPowerBinsAmongOthers) {
  fft->Window = &TabHanning;
  fft->Reset();
  fft->Process(ConstantBlock(16384, 16384).data());
  fft->Process(ConstantBlock(16384, 16384).data());
  int zeroBins = 0;
  for (int b = 0; b < FFTSize; ++b) {
    const double x =
        fft->Spectrum[b].re * fft->Spectrum[b].re + fft->Spectrum[b].im * fft->Spectrum[b].im;
    if (x == 0.0) {
      ++zeroBins;
      ASSERT_TRUE(std::isinf(fft->Power[b]) && fft->Power[b] < 0) << b;
    } else {
      ASSERT_TRUE(std::isfinite(fft->Power[b])) << b;
    }
  }
  EXPECT_GT(zeroBins, 0);
  EXPECT_TRUE(std::isfinite(fft->Power[0]));
}

}  // namespace
}  // namespace quenvis
