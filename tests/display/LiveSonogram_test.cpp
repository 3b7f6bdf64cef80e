// The live spectrogram: scrolling without redrawing, the offline
// spectrogram's colours, tracks on their rows, the time under a column.
#include "display/LiveSonogram.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "analysis/AnalysisSettings.h"
#include "analysis/Common.h"
#include "render/Sonogram.h"
#include "support/AllocationCounter.h"

namespace quenvis {
namespace {

constexpr double BlockSeconds = double(BlockFrames) / SampleRate;
constexpr double Inf = std::numeric_limits<double>::infinity();

// A spectrum whose every bin differs from block to block, so that a column
// drawn twice or shifted by one would show.
std::vector<double> Spectrum(int Block) {
  std::vector<double> p(FFTSize);
  for (int b = 0; b < FFTSize; ++b)
    p[static_cast<std::size_t>(b)] = ((Block * 7 + b * 13) % 97) / 9.7;
  return p;
}

TFormants Voice(double F0, double F1, double F2, double F3) {
  TFormants f;
  f.Voiced = F0 > 0;
  f.F0 = F0;
  f.F = {F1, F2, F3};
  f.B = {60, 80, 100};
  return f;
}

// Every RowStep-th row of the picture as shown, from row First: enough rows
// to catch a column drawn twice or shifted, and over RowStep blocks all of them.
constexpr std::int32_t RowStep = 5;
std::vector<std::uint32_t> Shown(const CLiveSpectrogram& S, std::int32_t First) {
  std::vector<std::uint32_t> pixels;
  for (std::int32_t y = First; y < S.Height(); y += RowStep)
    for (std::int32_t x = 0; x < S.Width(); ++x) pixels.push_back(S.Pixel(x, y));
  return pixels;
}

TEST(LiveSpectrogram, ScrollsWithoutRedrawingAndKeepsEachColumnsTime) {
  const struct {
    std::int32_t Width, Height, Blocks;
  } cases[] = {
      {1600, 400, 40},  // strips of seven or eight pixels, before the ring wraps
      {1600, 60, 500},  // the ring wrapped twice
      {800, 120, 333},
      {100, 50, 500},  // fewer pixels than blocks: some blocks get no strip
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Width << "x" << c.Height << " after " << c.Blocks);
    CLiveSpectrogram s(c.Width, c.Height);
    double time = 1000.0;  // a stream that began long before
    std::int32_t columns = 0;
    for (int k = 0; k < c.Blocks; ++k) {
      const std::int32_t first = k % RowStep;
      const std::vector<std::uint32_t> before = Shown(s, first);
      const std::vector<double> p = Spectrum(k);
      s.Add(time, p.data(), Voice(k % 3 ? 180 + k % 40 : 0, 500 + k, 1500 - k, 2700));
      const std::int32_t strip = s.LastStrip();
      columns += strip;
      const std::vector<std::uint32_t> after = Shown(s, first);
      // Every older column moved left by the strip, bit for bit.
      for (std::size_t row = 0; row * c.Width < after.size(); ++row)
        for (std::int32_t x = 0; x + strip < c.Width; ++x)
          ASSERT_EQ(after[row * c.Width + static_cast<std::size_t>(x)],
                    before[row * c.Width + static_cast<std::size_t>(x + strip)])
              << "block " << k << " at " << x << "," << first + row * RowStep;
      // The new strip carries this block's time.
      for (std::int32_t x = c.Width - strip; x < c.Width; ++x) ASSERT_EQ(s.TimeAtX(x), time);
      time += BlockSeconds;
    }
    // The strips fill the width over ten seconds, and no more.
    const double expected = c.Blocks * BlockSeconds / s.Seconds() * c.Width;
    EXPECT_LE(std::fabs(columns - expected), 1.0);
    // Times rise to the right; columns not yet painted have none.
    const std::int32_t painted = std::min(columns, c.Width);
    for (std::int32_t x = 0; x < c.Width; ++x) {
      if (x < c.Width - painted) {
        EXPECT_TRUE(std::isnan(s.TimeAtX(x))) << x;
      } else if (x > c.Width - painted) {
        EXPECT_GE(s.TimeAtX(x), s.TimeAtX(x - 1)) << x;
      }
    }
    // Once full, the picture spans the ten seconds, to a pixel and a block.
    if (c.Blocks * BlockSeconds > s.Seconds() + 1) {
      EXPECT_NEAR(s.TimeAtX(c.Width - 1) - s.TimeAtX(0), s.Seconds(),
                  s.Seconds() / c.Width + BlockSeconds);
    }
    EXPECT_TRUE(std::isnan(s.TimeAtX(-1)) && std::isnan(s.TimeAtX(c.Width)));
    s.Clear();
    EXPECT_TRUE(std::isnan(s.TimeAtX(c.Width - 1)));
  }
}

TEST(LiveSpectrogram, ResizeKeepsThePictureAndItsTimes) {
  CLiveSpectrogram s(400, 100);
  std::vector<double> p(FFTSize, -Inf);
  for (int k = 0; k < 300; ++k) {
    // A loud band at 1 kHz in the second half of the stream.
    for (int b = 90; b < 100; ++b) p[static_cast<std::size_t>(b)] = k >= 150 ? 100.0 : -Inf;
    s.Add(k * BlockSeconds, p.data(), {});
  }
  s.Resize(800, 300);
  ASSERT_EQ(s.Width(), 800);
  EXPECT_EQ(s.TimeAtX(799), 299 * BlockSeconds);
  EXPECT_EQ(s.Pixel(799, s.RowOfHz(1000)), SpectrogramColours[255]);
  EXPECT_EQ(s.Pixel(0, s.RowOfHz(1000)), SpectrogramColours[0]);
  // Drawing goes on from the right edge.
  s.Add(300 * BlockSeconds, p.data(), {});
  EXPECT_EQ(s.TimeAtX(799), 300 * BlockSeconds);
}

// The same power takes the same colour as in quenvis-render's spectrogram,
// whatever the range and offset.
TEST(LiveSpectrogram, PowerTakesTheOfflineSpectrogramsColour) {
  const struct { int PowerRange, PowerOffset; } scales[] = {{10, 0}, {40, 3}, {-5, -2}, {1, 10000}};
  const double powers[] = {-Inf, std::nan(""), -3.0, 0.0, 1.3, 4.49, 7.0, 12.0, 1e300, Inf};
  for (const auto& sc : scales) {
    TPanelValues panel;
    panel.PowerRange = sc.PowerRange;
    panel.PowerOffset = sc.PowerOffset;
    const std::optional<TAnalysisSettings> settings = SettingsFromPanel(panel);
    ASSERT_TRUE(settings);
    for (const double power : powers) {
      SCOPED_TRACE(testing::Message() << "range " << sc.PowerRange << " offset " << sc.PowerOffset
                                      << " power " << power);
      const std::vector<double> p(FFTSize, power);
      CSonogram offline(*settings);
      offline.AddColumn(p.data());
      std::vector<std::uint32_t> page;
      std::int32_t w = 0, h = 0;
      offline.RenderPage(page, w, h);
      const std::uint32_t expected =
          page[static_cast<std::size_t>((CSonogram::Top + 100) * w + CSonogram::Left)];

      CLiveSpectrogram live(300, 200);
      live.SetPowerScale(settings->FScale, settings->FOffset);
      for (int k = 0; k < 30; ++k) live.Add(k, p.data(), {});
      for (const std::int32_t y : {0, 100, 199}) ASSERT_EQ(live.Pixel(299, y), expected);
    }
  }
}

TEST(LiveSpectrogram, PeaksAndTracksLandOnTheirRows) {
  const struct {
    std::int32_t Height;
    double TopHz;
    double F0, F1, F2, F3;
  } cases[] = {
      {400, 5000, 220, 310, 2290, 3000},
      {400, 10000, 110, 700, 1100, 2500},
      {133, 5000, 55, 850, 1220, 4900},
      {900, 2500, 950, 300, 870, 2400},  // rows narrower than a bin
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Height << " rows to " << c.TopHz << " Hz");
    CLiveSpectrogram s(1600, c.Height, c.TopHz);
    const auto bandHolds = [&](std::int32_t Row, double Hz) {
      const double low = (c.Height - 1 - Row) * c.TopHz / c.Height;
      return Row >= 0 && low <= Hz + 1e-9 && Hz < low + c.TopHz / c.Height + 1e-9;
    };
    // A single loud bin shows in the rows around its centre frequency only
    // (several when rows are narrower than a bin).
    const double binHz = double(SampleRate) / FFTSize, rowHz = c.TopHz / c.Height;
    for (const double hz : {c.F1, c.F2}) {
      std::vector<double> p(FFTSize, 0.0);
      const std::int32_t bin = RoundToInt32(hz * FFTSize / SampleRate);
      p[static_cast<std::size_t>(bin)] = 20.0;
      s.Add(0, p.data(), {});
      int bright = 0;
      for (std::int32_t y = 0; y < c.Height; ++y) {
        if (s.Pixel(1599, y) != SpectrogramColours[255]) continue;
        ++bright;
        const double centre = (c.Height - 1 - y + 0.5) * rowHz;
        EXPECT_LE(std::fabs(centre - bin * binHz), 0.5 * binHz + 0.5 * rowHz)
            << hz << " Hz, row " << y;
      }
      EXPECT_GE(bright, 1) << hz << " Hz";
    }

    const std::vector<double> quiet(FFTSize, -Inf);
    for (int k = 0; k < 10; ++k) s.Add(k, quiet.data(), Voice(c.F0, c.F1, c.F2, c.F3));
    const std::int32_t x = 1600 - s.LastStrip() / 2 - 1;  // the middle of the newest strip
    std::vector<std::int32_t> formantRows, f3Rows;
    for (std::int32_t y = 0; y < c.Height; ++y) {
      const std::uint32_t px = s.Pixel(x, y);
      if (px == CLiveSpectrogram::FormantColour) formantRows.push_back(y);
      if (px != SpectrogramColours[0] && px != CLiveSpectrogram::FormantColour &&
          px != CLiveSpectrogram::F0Colour)
        f3Rows.push_back(y);
    }
    // Dots three rows high, centred on the rows of F1 and F2.
    ASSERT_EQ(formantRows.size(), 6u);
    EXPECT_TRUE(bandHolds(formantRows[4], c.F1)) << formantRows[4];
    EXPECT_TRUE(bandHolds(formantRows[1], c.F2)) << formantRows[1];
    ASSERT_FALSE(f3Rows.empty());
    EXPECT_TRUE(bandHolds(f3Rows[f3Rows.size() / 2], c.F3));
    // F3 is lighter: half covering, so neither the background nor a formant dot.
    EXPECT_NE(s.Pixel(x, f3Rows[0]), CLiveSpectrogram::F3Colour);
    // F0 on its own logarithmic scale, 50 Hz at the bottom and 1000 Hz at the top.
    const double up = std::log(c.F0 / 50.0) / std::log(20.0);
    const std::int32_t f0Row = RoundToInt32((c.Height - 1) * (1 - up));
    EXPECT_EQ(s.Pixel(1599, f0Row), CLiveSpectrogram::F0Colour);

    // Unvoiced blocks and frequencies out of range draw no track.
    s.Add(11, quiet.data(), Voice(0, c.F1, c.F2, c.F3));
    s.Add(12, quiet.data(), Voice(20, c.TopHz, c.TopHz * 2, std::nan("")));
    s.Add(13, quiet.data(), Voice(2000, -5, Inf, 0));
    for (std::int32_t y = 0; y < c.Height; ++y)
      for (std::int32_t x2 = 1600 - 3 * 6; x2 < 1600; ++x2)
        ASSERT_EQ(s.Pixel(x2, y), SpectrogramColours[0]) << x2 << "," << y;
  }
}

TEST(LiveSpectrogram, AddingABlockAllocatesNothing) {
  CLiveSpectrogram s(1600, 400);
  const std::vector<double> p = Spectrum(3);
  const TFormants f = Voice(200, 500, 1500, 2500);
  s.Add(0, p.data(), f);
  const std::int64_t before = test::AllocationCount();
  for (int k = 1; k < 500; ++k) s.Add(k * BlockSeconds, p.data(), f);
  EXPECT_EQ(test::AllocationCount(), before);
}

}  // namespace
}  // namespace quenvis
