#include "display/FrameRenderer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <vector>

#include "display/Graphics.h"
#include "support/Blocks.h"

namespace quenvis {
namespace {

constexpr std::uint32_t Black = 0xFF000000u;
constexpr std::uint32_t Green = 0xFF00FF00u;

using test::CToneSource;

class CTestHost : public IFrameHost {
 public:
  explicit CTestHost(std::vector<CBM32*> Surfaces) : FSurfaces(std::move(Surfaces)) {}
  void Present() override {
    ++Presents;
    Presented.clear();
    for (CBM32* s : FSurfaces)
      Presented.emplace_back(s->Info->Bits, s->Info->Bits + PixelCount(*s->Info));
  }
  void UpdateCaption() override { ++Captions; }
  void ProcessMessages() override {
    ++Dispatches;
    if (OnDispatch) OnDispatch();
  }
  double TimeOfDay() override { return Time; }
  std::string FormatRate(double BlocksPerSecond) override {
    LastRate = BlocksPerSecond;
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", BlocksPerSecond);
    return text;
  }

  std::vector<std::vector<std::uint32_t>> Presented;  // spectrum, plot 1..3
  int Presents = 0, Captions = 0, Dispatches = 0;
  double Time = 0.5, LastRate = 0;
  std::function<void()> OnDispatch;

 private:
  std::vector<CBM32*> FSurfaces;
};

struct Rig {
  Rig() {
    FFT.Window = &TabHamming;
    Rate.FRateText = "?";
    Rate.FRateLast = Rate.FRateNow = Host.Time;
  }
  std::int32_t Run(const void* Block, std::int32_t Frames = BlockFrames) {
    std::int32_t done = -1;
    Renderer.RecorderData(Block, Frames * 4, Frames, done);
    return done;
  }
  std::uint32_t SpectrumAt(int x, int y) const { return Host.Presented[0][y * 1024 + x]; }
  // Topmost trace pixel of a column in the presented spectrum, 256 if none.
  int TraceTop(int x) const {
    for (int y = 0; y < 256; ++y)
      if (SpectrumAt(x, y) == Green) return y;
    return 256;
  }

  TAnalysisSettings Settings = StartupSettings();
  TFrameRate Rate;
  CFFT_iterative FFT;
  TSurfaces Surfaces;
  CBM32 &Spectrum = Surfaces.SpectrumBmp, &Plot1 = Surfaces.PlotBmp1, &Plot2 = Surfaces.PlotBmp2,
        &Plot3 = Surfaces.PlotBmp3;
  CTestHost Host{{&Spectrum, &Plot1, &Plot2, &Plot3}};
  CFrameRenderer Renderer{Settings, Rate, FFT, Surfaces, Host};
};

const std::vector<std::int16_t> Silence(2 * BlockFrames, 0);

std::size_t CountNot(const std::vector<std::uint32_t>& px, std::uint32_t v) {
  return static_cast<std::size_t>(
      std::count_if(px.begin(), px.end(), [v](auto p) { return p != v; }));
}

TEST(FrameRenderer, BinToX) {
  struct Case {
    std::int32_t Shift, Bin, X;
  };
  const Case cases[] = {
      {-1, 10, 20},
      {-1, 600, 1200},
      {0, 79, 79},
      {1, 79, 39},
      {2, 4095, 1023},
      {2, -4, 0x3FFFFFFF},  // logical shift
      {-1, std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::int32_t>::max()},
      {-1, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::min()},
      {-40, 3, std::numeric_limits<std::int32_t>::max()},
      {40, 3, 0},
      {-40, 0, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CFrameRenderer::BinToX(c.Shift, c.Bin), c.X) << c.Shift << " " << c.Bin;
}

TEST(FrameRenderer, SilenceDrawsBottomTraceGuidesAndThresholdOnly) {
  Rig r;
  EXPECT_EQ(r.Run(Silence.data()), BlockFrames);
  EXPECT_FALSE(r.Renderer.LastPeaks().Found);
  EXPECT_EQ(r.Settings.FZone1Peak, -1);
  EXPECT_EQ(r.Settings.FZone2Peak, -1);
  // Guides at twice the start-up bins 10, 79 (zone 1) and 56, 209 (zone 2);
  // the threshold line at Round(255 - 0.51 / 25.5 * 255) = 250.
  const int zone1[] = {20, 158}, zone2[] = {112, 418};
  std::size_t expectedChanged = 0;
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 1024; ++x) {
      const bool g1 = x == zone1[0] || x == zone1[1], g2 = x == zone2[0] || x == zone2[1];
      const std::uint32_t p = r.SpectrumAt(x, y);
      if (y == 255 && !g1 && !g2) {
        ASSERT_EQ(p, Green) << x;
      } else if (y == 250 && !g1 && !g2) {
        ASSERT_EQ(p, 0xFF800000u) << x;
      } else if (y < 250 || (y > 250 && y < 255)) {
        ASSERT_EQ(p, g1 ? 0xFF800000u : g2 ? 0xFF000080u : Black) << x << "," << y;
      }
      expectedChanged += p != Black;
    }
  EXPECT_EQ(expectedChanged, 1024u + 1024u + 4u * 254u);
  // Guide over green at the bottom, threshold over guide where they cross.
  EXPECT_EQ(r.SpectrumAt(20, 255), 0xFF807F00u);
  EXPECT_EQ(r.SpectrumAt(20, 250), 0xFFC00000u);
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(CountNot(r.Host.Presented[i], Black), 0u);
}

TEST(FrameRenderer, FadeZeroLeavesBlackAfterPresenting) {
  Rig r;
  r.Settings.FFade = 0;
  CToneSource tones({18, 100});
  r.Run(tones.Next());
  r.Run(tones.Next());
  ASSERT_TRUE(r.Renderer.LastPeaks().Found);
  const CBM32* surfaces[] = {&r.Spectrum, &r.Plot1, &r.Plot2, &r.Plot3};
  for (int i = 0; i < 4; ++i) {
    const CBM32* s = surfaces[i];
    EXPECT_GT(CountNot(r.Host.Presented[static_cast<std::size_t>(i)], Black), 0u);
    EXPECT_EQ(std::count(s->Info->Bits, s->Info->Bits + PixelCount(*s->Info), Black),
              PixelCount(*s->Info));
  }
}

TEST(FrameRenderer, FadeFollowsAFactorChangedBetweenBlocks) {
  Rig r;
  CToneSource tones({18, 100});
  // Each block fades with the factor in force at that block: 0.95, 0.5, 0.
  const float factors[] = {0.95f, 0.5f, 0.0f};
  for (const float f : factors) {
    r.Settings.FFade = f;
    r.Run(tones.Next());
    const std::uint32_t shown = r.SpectrumAt(36, r.TraceTop(36));
    const std::uint32_t faded = r.Spectrum.Info->Bits[r.TraceTop(36) * 1024 + 36];
    const auto green = [](std::uint32_t p) { return (p >> 8) & 0xFF; };
    EXPECT_EQ(green(faded), static_cast<std::uint32_t>(std::nearbyint(green(shown) * double(f))))
        << "factor " << f;
  }
}

TEST(FrameRenderer, TwoTonesGiveMarkersAndTheSamePlotMarkInAllPlots) {
  Rig r;
  r.Settings.FFade = 0;
  CToneSource tones({18, 100});
  r.Run(tones.Next());
  r.Run(tones.Next());
  const TZonePeaks& p = r.Renderer.LastPeaks();
  ASSERT_TRUE(p.Found);
  EXPECT_EQ(r.Settings.FZone1Peak, 18);
  EXPECT_EQ(r.Settings.FZone2Peak, 100);
  // Zone 1 marker: corner (36 - 5, y1 - 5), half-transparent red over black.
  const int y1 = static_cast<int>(std::nearbyint(255 - p.Level1 * r.Settings.FScale));
  const int y2 = static_cast<int>(std::nearbyint(255 - p.Level2 * r.Settings.FScale));
  ASSERT_GT(y1 - 5, 0);
  EXPECT_EQ(r.SpectrumAt(31, y1 - 5), 0xFF800000u);
  EXPECT_EQ(r.SpectrumAt(41, y1 - 5), 0xFF800000u);
  EXPECT_EQ(r.SpectrumAt(195, y2 - 5), 0xFF000080u);
  EXPECT_EQ(r.SpectrumAt(205, y2 - 5), 0xFF000080u);
  // Plot: N = Round(8 * 255 / 69) = 30, M = Round(255 - 44 * 255 / 153) = 182.
  for (int i = 1; i <= 3; ++i) {
    const auto& plot = r.Host.Presented[i];
    EXPECT_EQ(CountNot(plot, Black), 40u);
    EXPECT_EQ(plot[177 * 256 + 25], 0xFFFFFF00u);
    EXPECT_EQ(plot[187 * 256 + 35], 0xFFFFFF00u);
    EXPECT_EQ(plot[182 * 256 + 30], Black);
  }
}

TEST(FrameRenderer, PlotsLeftUndrawnStayBlackAndTheRestAsEver) {
  // Over blocks whose marks move, with the fade between: the surfaces still
  // drawn match a full renderer's pixel for pixel.
  Rig all, first;
  first.Renderer.DrawPlots(1);
  const std::vector<std::vector<int>> pairs = {{18, 100}, {20, 110}, {24, 90}};
  for (std::size_t block = 0; block < 6; ++block) {
    CToneSource tones(pairs[block % pairs.size()]);
    const void* data = tones.Next();
    all.Run(data);
    first.Run(data);
    ASSERT_TRUE(first.Renderer.LastPlotMark());
  }
  for (int i = 0; i < 2; ++i)
    EXPECT_EQ(first.Host.Presented[static_cast<std::size_t>(i)],
              all.Host.Presented[static_cast<std::size_t>(i)])
        << "surface " << i;
  EXPECT_GT(CountNot(first.Host.Presented[1], Black), 40u);
  for (int i = 2; i < 4; ++i) {
    EXPECT_GT(CountNot(all.Host.Presented[static_cast<std::size_t>(i)], Black), 40u);
    EXPECT_EQ(CountNot(first.Host.Presented[static_cast<std::size_t>(i)], Black), 0u);
  }
}

// Markers first, then the guides, then the threshold line: where they cross,
// the later half-transparent pen lies on top.
TEST(FrameRenderer, GuidesCoverMarkersAndTheThresholdLineCoversGuides) {
  Rig r;
  r.Settings.FFade = 0;
  r.Settings.FZone1Hi = 99;  // zone 1's upper guide at x = 198, through zone 2's marker at 200
  CToneSource tones({18, 100});
  r.Run(tones.Next());
  r.Run(tones.Next());
  ASSERT_EQ(r.Settings.FZone2Peak, 100);
  const int y2 =
      static_cast<int>(std::nearbyint(255 - r.Renderer.LastPeaks().Level2 * r.Settings.FScale));
  const int yT =
      static_cast<int>(std::nearbyint(255 - r.Settings.FThreshold / r.Settings.FScale * 255));
  ASSERT_NE(y2 - 5, yT);
  // What each crossing shows, layered one way and the other on black.
  const auto layered = [](std::uint32_t Under, std::uint32_t Over) {
    CBM32 s(1, 1);
    s.Fill(Black);
    CGraphics g(s.Bitmap);
    g.DrawLine(CPen(Under), 0, 0, 0, 0);
    g.DrawLine(CPen(Over), 0, 0, 0, 0);
    return s.Info->Bits[0];
  };
  ASSERT_NE(layered(Zone2Colour, Zone1Colour), layered(Zone1Colour, Zone2Colour));
  EXPECT_EQ(r.SpectrumAt(198, y2 - 5), layered(Zone2Colour, Zone1Colour));
  // Zone 2's lower guide (bin 56, x = 112) under the threshold line.
  EXPECT_EQ(r.SpectrumAt(112, yT), layered(Zone2Colour, Zone1Colour));
}

// A bin whose level equals the threshold is drawn at its level, not cut.
TEST(FrameRenderer, LevelEqualToTheThresholdIsDrawn) {
  Rig probe, r;
  CToneSource a({18, 100}, 40), b({18, 100}, 40);
  probe.Run(a.Next());
  probe.Run(a.Next());
  const double level = probe.FFT.Power[18];
  ASSERT_GT(level, 0.0);
  r.Settings.FThreshold = level;
  r.Run(b.Next());
  r.Run(b.Next());
  ASSERT_EQ(r.FFT.Power[18], level);
  const int y = static_cast<int>(std::nearbyint(255 - level * r.Settings.FScale));
  ASSERT_LT(y, 255);
  EXPECT_EQ(r.TraceTop(36), y);
}

TEST(FrameRenderer, EqualZoneLimitsDrawNoPlotMark) {
  struct Case {
    std::int32_t Lo1, Hi1, Lo2, Hi2;
  };
  for (const Case c : {Case{18, 18, 56, 209}, Case{10, 79, 100, 100}, Case{18, 18, 100, 100}}) {
    Rig r;
    r.Settings.FZone1Lo = c.Lo1;
    r.Settings.FZone1Hi = c.Hi1;
    r.Settings.FZone2Lo = c.Lo2;
    r.Settings.FZone2Hi = c.Hi2;
    CToneSource tones({18, 100});
    r.Run(tones.Next());
    r.Run(tones.Next());
    ASSERT_TRUE(r.Renderer.LastPeaks().Found);
    EXPECT_FALSE(r.Renderer.LastPlotMark());
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(CountNot(r.Host.Presented[i], Black), 0u);
    // The markers on the trace are still drawn.
    EXPECT_TRUE(std::count(r.Host.Presented[0].begin(), r.Host.Presented[0].end(), 0xFF000080u));
  }
}

TEST(FrameRenderer, ShiftTwoShowsTheMirrorHalf) {
  for (std::int32_t shift : {0, 2}) {
    Rig r;
    r.Settings.FShift = shift;
    CToneSource tones({100});
    r.Run(tones.Next());
    r.Run(tones.Next());
    const auto expectedY = [&](int bin) {
      return std::max(0,
                      static_cast<int>(std::nearbyint(255 - r.FFT.Power[bin] * r.Settings.FScale)));
    };
    const int peakX = 100 >> shift;
    EXPECT_EQ(r.TraceTop(peakX), expectedY(100));
    EXPECT_LT(r.TraceTop(peakX), 200);
    // Bin 3996 mirrors bin 100; it lies at x = 999 only with shift 2.
    if (shift == 2) {
      EXPECT_EQ(r.TraceTop(999), expectedY(3996));
      EXPECT_NEAR(r.TraceTop(999), r.TraceTop(25), 1);
    } else {
      EXPECT_EQ(r.TraceTop(999), 255);
    }
  }
}

TEST(FrameRenderer, ZonesBeyondTheRightEdgeAreClipped) {
  Rig r;
  r.Settings.FZone2Hi = 600;  // x = 1200 with shift -1
  r.Run(Silence.data());
  int blueColumns = 0;
  for (int x = 0; x < 1024; ++x) blueColumns += r.SpectrumAt(x, 100) == 0xFF000080u;
  EXPECT_EQ(blueColumns, 1);
}

TEST(FrameRenderer, HugeScalesSaturateInsteadOfOverflowing) {
  for (double scale : {1e12, 1e300, std::numeric_limits<double>::infinity()}) {
    Rig r;
    r.Settings.FScale = scale;
    r.Settings.FThreshold = 0.51;
    r.Settings.FFade = 0;
    CToneSource tones({18, 100});
    r.Run(tones.Next());
    r.Run(tones.Next());
    ASSERT_TRUE(r.Renderer.LastPeaks().Found);
    // The peaks go to the top row; the markers lie far above and are clipped.
    EXPECT_EQ(r.TraceTop(36), 0);
    for (int y = 0; y < 256; ++y)
      for (int x = 185; x < 215; ++x) ASSERT_NE(r.SpectrumAt(x, y), 0xFF000080u) << x << "," << y;
  }
  // Levels enormous the other way: y far below the image, which the
  // rasteriser clips (a wrapped conversion would land anywhere).
  Rig r;
  r.Settings.FScale = 1e300;
  r.Settings.FOffset = -1e300;
  r.Settings.FThreshold = -std::numeric_limits<double>::infinity();
  r.Run(Silence.data());
  EXPECT_EQ(r.TraceTop(500), 256);
  EXPECT_EQ(CountNot(r.Host.Presented[0], Black), 4u * 256u);  // the four guides only
}

TEST(FrameRenderer, PartialBlockIsAnalysedWholeAndDoneIsTheFrameCount) {
  Rig a, b;
  CToneSource ta({18, 100}), tb({18, 100});
  const void* block = ta.Next();
  EXPECT_EQ(a.Run(block, 100), 100);
  EXPECT_EQ(b.Run(tb.Next(), BlockFrames), BlockFrames);
  EXPECT_EQ(a.FFT.Power, b.FFT.Power);
  EXPECT_EQ(a.Host.Presented, b.Host.Presented);
}

TEST(FrameRenderer, RateTextChangesEveryEightyOneBlocks) {
  Rig r;
  const double start = r.Host.Time;
  for (int i = 0; i < 80; ++i) r.Run(Silence.data());
  EXPECT_EQ(r.Rate.FRateText, "?");
  EXPECT_EQ(r.Host.Captions, 0);
  EXPECT_EQ(r.Rate.FFrameCount, 80);
  r.Host.Time = start + 81.0 / 20.0 / 86400;  // 81 blocks in 4.05 s
  r.Run(Silence.data());
  EXPECT_EQ(r.Rate.FRateText, "20.00");
  EXPECT_NEAR(r.Host.LastRate, 20.0, 1e-6);
  EXPECT_EQ(r.Rate.FFrameCount, 0);
  EXPECT_EQ(r.Host.Captions, 1);
  EXPECT_EQ(r.Host.Dispatches, 1);
  EXPECT_EQ(r.Rate.FRateLast, r.Host.Time);
  // Time that does not advance (or wraps at midnight) shows "?".
  for (double t : {r.Host.Time, 0.0001}) {
    r.Host.Time = t;
    for (int i = 0; i < 81; ++i) r.Run(Silence.data());
    EXPECT_EQ(r.Rate.FRateText, "?");
  }
  EXPECT_EQ(r.Host.Captions, 3);
}

TEST(FrameRenderer, NestedBlockAtTheDispatchPointIsSafe) {
  Rig r;
  CToneSource tones({18, 100});
  std::int32_t innerDone = -1;
  int nested = 0;
  r.Host.OnDispatch = [&] {
    // Another buffer's notification, with settings changed in between.
    ++nested;
    r.Settings.FFade = 0;
    r.Settings.FShift = 2;
    r.Renderer.RecorderData(tones.Next(), 4000, 1000, innerDone);
    r.Renderer.RecorderData(Silence.data(), 8192, 2048, innerDone);
  };
  std::int32_t outerDone = -1;
  for (int i = 0; i < 81; ++i) r.Renderer.RecorderData(tones.Next(), 8192, 2048, outerDone);
  EXPECT_EQ(nested, 1);
  EXPECT_EQ(outerDone, 2048);
  EXPECT_EQ(innerDone, 2048);
  EXPECT_EQ(r.Host.Presents, 83);
  EXPECT_EQ(r.Rate.FFrameCount, 2);
  // The nested runs faded with the factor they found: everything black now.
  EXPECT_EQ(std::count(r.Spectrum.Info->Bits, r.Spectrum.Info->Bits + 1024 * 256, Black),
            1024 * 256);
  // And the renderer goes on drawing normally afterwards.
  r.Host.OnDispatch = nullptr;
  r.Run(tones.Next());
  EXPECT_TRUE(r.Renderer.LastPeaks().Found);
}

}  // namespace
}  // namespace quenvis
