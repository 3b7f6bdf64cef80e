// Option parsing of quenvis-render, in process.
#include "render/RenderOptions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <utility>

namespace quenvis {
namespace {

bool SameSettings(const TAnalysisSettings& a, const TAnalysisSettings& b) {
  return a.FFade == b.FFade && a.FShift == b.FShift && a.FZone1Lo == b.FZone1Lo &&
         a.FZone1Hi == b.FZone1Hi && a.FZone2Lo == b.FZone2Lo && a.FZone2Hi == b.FZone2Hi &&
         a.FScale == b.FScale && a.FOffset == b.FOffset && a.FThreshold == b.FThreshold;
}

TEST(RenderOptions, ValuesBecomeThePanelsSettingsRecord) {
  struct Case {
    std::vector<std::string> Args;
    TPanelValues Values;
    int Window;
  };
  TPanelValues zones;
  zones.Zone1Lo = 100;
  zones.Zone1Hi = 200;
  TPanelValues scale;
  scale.PowerRange = -3;
  scale.PowerOffset = -7;
  scale.Seuil = 55;
  scale.Remanance = 0;
  scale.FreqPlage = 3;
  const Case cases[] = {
      {{"in.wav", "out"}, {}, 0},
      {{"--zone1-lo=100", "--zone1-hi", "200", "in.wav", "out"}, zones, 0},
      {{"--power-range", "-3", "--power-offset=-7", "--threshold", "55", "--fade", "0",
        "--freq-range", "3", "--window", "Blackman_Nuttall", "in.wav", "out"},
       scale,
       4},
      // After "--" everything is an argument, even what looks like an option.
      {{"--", "--in.wav", "out"}, {}, 0},
  };
  for (const Case& c : cases) {
    TRenderOptions o;
    ASSERT_EQ(ParseRenderOptions(c.Args, o), "") << c.Args[0];
    EXPECT_TRUE(SameSettings(o.Settings, *SettingsFromPanel(c.Values))) << c.Args[0];
    EXPECT_EQ(o.Window, &WindowTable(c.Window)) << c.Args[0];
    EXPECT_EQ(o.Input, c.Args[c.Args.size() - 2]);
    EXPECT_EQ(o.OutDir, "out");
  }
}

TEST(RenderOptions, ChartSizeAndVoice) {
  struct Case {
    std::string Option, Value;
    bool Valid;
    std::int32_t Width, Height;
    EVoice Voice;
  };
  const Case cases[] = {
      {"--chart-size", "200x8000", true, 200, 8000, DefaultVoice},
      {"--voice", "child", true, 800, 600, EVoice::Child},
      {"--chart-size", "199x600", false, 0, 0, DefaultVoice},
      {"--chart-size", "800x8001", false, 0, 0, DefaultVoice},
      {"--chart-size", "800", false, 0, 0, DefaultVoice},
      {"--chart-size", "800x600x2", false, 0, 0, DefaultVoice},
      {"--chart-size", "+800x600", false, 0, 0, DefaultVoice},
      {"--chart-size", "800 x 600", false, 0, 0, DefaultVoice},
      {"--voice", "Man", false, 0, 0, DefaultVoice},
  };
  for (const Case& c : cases) {
    TRenderOptions o;
    const std::string error = ParseRenderOptions({c.Option, c.Value, "in.wav", "out"}, o);
    EXPECT_EQ(error.empty(), c.Valid) << c.Value << ": " << error;
    if (!c.Valid) {
      EXPECT_EQ(error.rfind(c.Option + ": ", 0), 0u) << error;
      continue;
    }
    EXPECT_EQ(o.ChartWidth, c.Width) << c.Value;
    EXPECT_EQ(o.ChartHeight, c.Height) << c.Value;
    EXPECT_EQ(o.Voice, c.Voice) << c.Value;
    // Only a voice given fixes the formant estimator's ceiling.
    EXPECT_EQ(o.FormantVoice, c.Option == "--voice" ? std::optional(c.Voice) : std::nullopt);
  }
}

TEST(RenderOptions, FormantStep) {
  const std::pair<std::string, std::int32_t> cases[] = {
      {"5", 5}, {"40", 40}, {"4", -1}, {"41", -1}, {"0", -1}, {"-10", -1}, {"10ms", -1}, {"", -1}};
  for (const auto& [value, ms] : cases) {
    TRenderOptions o;
    const std::string error = ParseRenderOptions({"--formant-step", value, "in.wav", "out"}, o);
    EXPECT_EQ(error.empty(), ms > 0) << value << ": " << error;
    EXPECT_EQ(o.FormantStepMs, std::max(ms, 0)) << value;
    if (ms < 0) {
      EXPECT_EQ(error.rfind("--formant-step: ", 0), 0u) << error;
    }
  }
  TRenderOptions o;
  EXPECT_EQ(ParseRenderOptions({"in.wav", "out"}, o), "");
  EXPECT_EQ(o.FormantStepMs, 0);  // one analysis per block
}

}  // namespace
}  // namespace quenvis
