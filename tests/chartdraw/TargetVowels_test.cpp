// Targets: the half second inside a ring, and the CSV they are kept in.
#include "chartdraw/TargetVowels.h"

#include <gtest/gtest.h>

#include <cmath>

#include "analysis/Common.h"

namespace {

using namespace quenvis;

constexpr double Block = double(BlockFrames) / SampleRate;  // 46.4 ms

// What happens to the ring of a target at (310, 2790) Hz, block by block.
struct TStep {
  char What;  // 'i' inside, 'o' outside but voiced, '-' unvoiced
  int Blocks;
};
struct THoldCase {
  const char* Name;
  std::vector<TStep> Steps;
  bool Solid;
};

class TargetHold : public ::testing::TestWithParam<THoldCase> {};

TEST_P(TargetHold, RingTurnsSolidAfterHalfASecondInside) {
  CTargetVowels targets;
  ASSERT_TRUE(targets.Add({"i", 310, 2790, std::nullopt}));
  bool solid = false;
  int changes = 0;
  for (const TStep& s : GetParam().Steps)
    for (int b = 0; b < s.Blocks; ++b) {
      const bool changed = s.What == 'i'   ? targets.Update(true, 320, 2750, Block)
                           : s.What == 'o' ? targets.Update(true, 600, 1800, Block)
                                           : targets.Update(false, 0, 0, Block);
      changes += changed;
      EXPECT_EQ(changed, solid != targets.Solid(0));
      solid = targets.Solid(0);
    }
  EXPECT_EQ(targets.Solid(0), GetParam().Solid);
  EXPECT_LE(changes, 2 * int(GetParam().Steps.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Holds, TargetHold,
    ::testing::Values(
        // 10 blocks are 0.464 s, 11 are 0.511 s.
        THoldCase{"ten_blocks_not_yet", {{'i', 10}}, false},
        THoldCase{"eleven_blocks", {{'i', 11}}, true},
        THoldCase{"held_long", {{'i', 100}}, true},
        THoldCase{"leaving_ends_it", {{'i', 20}, {'o', 1}}, false},
        THoldCase{"leaving_starts_afresh", {{'i', 8}, {'o', 1}, {'i', 8}}, false},
        THoldCase{"one_dropped_block_kept", {{'i', 6}, {'-', 2}, {'i', 5}}, true},
        THoldCase{"a_pause_ends_it", {{'i', 20}, {'-', 3}}, false},
        THoldCase{"a_pause_starts_afresh", {{'i', 8}, {'-', 3}, {'i', 8}}, false},
        THoldCase{"back_after_a_pause", {{'i', 20}, {'-', 5}, {'i', 11}}, true}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(TargetVowels, HoldCountsTimeNotBlocks) {
  // Analyses every 10 ms need 50 of them, blocks 11.
  CTargetVowels targets;
  ASSERT_TRUE(targets.Add({"a", 850, 1220, std::nullopt}));
  for (int i = 0; i < 49; ++i) targets.Update(true, 850, 1220, 0.01);
  EXPECT_FALSE(targets.Solid(0));
  targets.Update(true, 850, 1220, 0.01);
  EXPECT_TRUE(targets.Solid(0));
  // Nonsense durations change nothing.
  EXPECT_FALSE(targets.Update(false, 0, 0, std::nan("")));
  EXPECT_FALSE(targets.Update(false, 0, 0, -1));
  EXPECT_TRUE(targets.Solid(0));
  EXPECT_TRUE(targets.ResetHolds());
  EXPECT_FALSE(targets.Solid(0));
  EXPECT_FALSE(targets.ResetHolds());
}

TEST(TargetVowels, OnlyTheRingTheVoiceIsInFills) {
  CTargetVowels targets;
  ASSERT_TRUE(targets.Add({"i", 310, 2790, std::nullopt}));
  ASSERT_TRUE(targets.Add({"u", 370, 950, std::nullopt}));
  ASSERT_TRUE(targets.Add({"a", 850, 1220, EVoice::Man}));  // not the woman's
  targets.SetVoice(EVoice::Woman);
  for (int b = 0; b < 12; ++b) targets.Update(true, 375, 960, Block);
  EXPECT_FALSE(targets.Solid(0));
  EXPECT_TRUE(targets.Solid(1));
  EXPECT_FALSE(targets.Applies(2));
  for (int b = 0; b < 12; ++b) targets.Update(true, 850, 1220, Block);
  EXPECT_FALSE(targets.Solid(2));
  EXPECT_FALSE(targets.At(850, 1220).has_value());
  EXPECT_EQ(targets.At(310, 2790), std::optional<std::size_t>(0));
  double bark = -1;
  EXPECT_EQ(targets.Nearest(600, 900, bark), std::optional<std::size_t>(1));
  EXPECT_GT(bark, 1.0);
  targets.SetVoice(EVoice::Man);
  EXPECT_TRUE(targets.Applies(2));

  // Removing keeps each hold with its own target.
  for (int b = 0; b < 12; ++b) targets.Update(true, 375, 960, Block);
  targets.Remove(0);
  ASSERT_EQ(targets.All().size(), 2u);
  EXPECT_EQ(targets.All()[0].Label, "u");
  EXPECT_TRUE(targets.Solid(0));
  targets.Remove(7);  // out of range: nothing
  EXPECT_EQ(targets.All().size(), 2u);
}

TEST(TargetVowels, AddRefusesImplausiblePairsAndNamesUnlabelledOnes) {
  CTargetVowels targets;
  EXPECT_FALSE(targets.Add({"x", 10, 1000, std::nullopt}));
  EXPECT_FALSE(targets.Add({"x", 500, std::nan(""), std::nullopt}));
  EXPECT_FALSE(targets.Add({"x", 500, 1e9, std::nullopt}));
  EXPECT_TRUE(targets.Add({"", 500, 1500, std::nullopt}));
  EXPECT_TRUE(targets.Add({"", 600, 1500, std::nullopt}));
  // A TextGrid label may hold commas, tabs and more than a CSV label allows.
  EXPECT_TRUE(targets.Add({"a,b\tc \u025B\u025B\u025B\u025B\u025B\u025B", 700, 1500, std::nullopt}));
  ASSERT_EQ(targets.All().size(), 3u);
  EXPECT_EQ(targets.All()[0].Label, "T1");
  EXPECT_EQ(targets.All()[1].Label, "T2");
  const std::string& label = targets.All()[2].Label;
  EXPECT_EQ(label.find(','), std::string::npos);
  EXPECT_LE(label.size(), 16u);
  // Cut at a character's start: the last byte is not inside a two-byte ɛ.
  EXPECT_NE(static_cast<unsigned char>(label.back()) & 0xE0, 0xC0);
  for (std::size_t i = targets.All().size(); i < CTargetVowels::MaxTargets; ++i)
    ASSERT_TRUE(targets.Add({"", 500, 1500, std::nullopt}));
  EXPECT_FALSE(targets.Add({"", 500, 1500, std::nullopt}));
}

TEST(TargetVowels, CsvRoundTrip) {
  CTargetVowels targets;
  ASSERT_TRUE(targets.Add({"i", 310.25, 2790, std::nullopt}));
  ASSERT_TRUE(targets.Add({"\u0251", 850, 1220.04, EVoice::Child}));
  ASSERT_TRUE(targets.Add({"a,b", 700, 1100, std::nullopt}));
  const std::string csv = targets.ToCsv();
  CTargetVowels back;
  ASSERT_EQ(back.FromCsv(csv), "");
  ASSERT_EQ(back.All().size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(back.All()[i].Label, targets.All()[i].Label);
    EXPECT_NEAR(back.All()[i].F1, targets.All()[i].F1, 0.05 + 1e-9);
    EXPECT_NEAR(back.All()[i].F2, targets.All()[i].F2, 0.05 + 1e-9);
    EXPECT_EQ(back.All()[i].Voice, targets.All()[i].Voice);
  }
  EXPECT_EQ(back.ToCsv(), csv);
}

TEST(TargetVowels, BadCsvLeavesTheTargetsAsTheyWere) {
  const struct {
    const char* Text;
    const char* Error;
  } cases[] = {
      {"", "no vowels"},
      {"label,f1_hz,f2_hz\n", "no vowels"},
      {"i,310\n", "line 1"},
      {"i,310,2790\nu,abc,950\n", "line 2"},
      {"i,310,2790\nu,370,99999\n", "line 2"},
      {"i,310,2790,robot\n", "voice"},
      {"i,nan,2790\n", "line 1"},
      {"\x01,310,2790\n", "label"},
  };
  for (const auto& c : cases) {
    CTargetVowels targets;
    ASSERT_TRUE(targets.Add({"keep", 500, 1500, std::nullopt}));
    const std::string error = targets.FromCsv(c.Text);
    EXPECT_NE(error.find(c.Error), std::string::npos) << c.Text << " -> " << error;
    ASSERT_EQ(targets.All().size(), 1u) << c.Text;
    EXPECT_EQ(targets.All()[0].Label, "keep");
  }
}

}  // namespace
