// A take to compare with: its files found beside it, its points grouped by
// its marks or by the nearest reference vowel.
#include "takes/Comparison.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>

namespace {

using namespace quenvis;

class ComparisonTest : public test::TTempFolderTest {};

// A take of three vowels, a second each (rows every 10 ms): "i" from 0 s,
// "a" from 1 s, "u" from 2 s, with some spread and a bad line.
std::string ThreeVowels() {
  std::mt19937 random(5);
  std::normal_distribution<double> normal;
  const double vowels[3][2] = {{310, 2790}, {850, 1220}, {370, 950}};
  std::string text = "block,time_s,f0_hz,f1_hz,f2_hz,f3_hz,b1_hz,b2_hz,b3_hz,voiced,confidence\n";
  for (int row = 0; row < 300; ++row) {
    const double* v = vowels[row / 100];
    const double f1 = v[0] * (1 + 0.03 * normal(random)), f2 = v[1] * (1 + 0.03 * normal(random));
    text += std::to_string(row) + "," + std::to_string(row * 0.01 + 0.005) + ",220," +
            std::to_string(f1) + "," + std::to_string(f2) + ",,,,,1,0.8\n";
    if (row == 150) text += "garbage line\n";
  }
  return text;
}

const std::vector<TReferenceVowel> References = {{"i", 310, 2790, std::nullopt},
                                                 {"\u0251", 850, 1220, std::nullopt},
                                                 {"u", 370, 950, std::nullopt}};

TEST_F(ComparisonTest, TakeFilesAreFoundFromAnyOfThem) {
  const struct {
    const char* Path;
    const char* Table;
    const char* TextGrid;
    const char* Name;
  } cases[] = {
      {"/t/quenvis-1.flac", "/t/quenvis-1.formants.csv", "/t/quenvis-1.TextGrid", "quenvis-1"},
      {"/t/quenvis-1.formants.csv", "/t/quenvis-1.formants.csv", "/t/quenvis-1.TextGrid",
       "quenvis-1"},
      {"/t/out/formants.csv", "/t/out/formants.csv", "/t/out/formants.TextGrid", "formants"},
      {"/t/a.b/take", "/t/a.b/take.formants.csv", "/t/a.b/take.TextGrid", "take"},
      {"/t/T.WAV", "/t/T.formants.csv", "/t/T.TextGrid", "T"},
  };
  for (const auto& c : cases) {
    const TTakeFiles f = TakeFilesFor(c.Path);
    EXPECT_EQ(f.Table, c.Table);
    EXPECT_EQ(f.TextGrid, c.TextGrid);
    EXPECT_EQ(f.Name, c.Name);
  }
}

TEST_F(ComparisonTest, WithoutMarksVowelsAreTheNearestReferences) {
  Write("take.formants.csv", ThreeVowels());
  CComparison c;
  ASSERT_EQ(c.Load((FDir / "take.flac").string()), "");
  EXPECT_FALSE(c.ByMarks());
  EXPECT_EQ(c.Points().size(), 300u);
  EXPECT_EQ(c.Skipped(), 1u);
  c.Cluster(References);
  ASSERT_EQ(c.Clusters().size(), 3u);
  EXPECT_EQ(c.Clusters()[0].Label, "i");
  EXPECT_NEAR(c.Clusters()[1].F1Hz, 850, 15);
  EXPECT_NEAR(c.Clusters()[1].F2Hz, 1220, 25);
  EXPECT_EQ(c.Clusters()[2].Count, 100u);
  const std::string summary = c.Summary();
  EXPECT_NE(summary.find("take: 300 voiced rows, 1 bad line skipped (line 153)"), std::string::npos)
      << summary;
  EXPECT_NE(summary.find("nearest reference"), std::string::npos) << summary;
}

TEST_F(ComparisonTest, MarkedStretchesGroupByLabel) {
  Write("take.formants.csv", ThreeVowels());
  // Two stretches of "i" (the first and the last half-second of it), one
  // of "a", and an unlabelled one; the "u" second is not marked.
  Write("take.TextGrid",
        "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\n0\n3\n<exists>\n2\n"
        "\"IntervalTier\"\n\"words\"\n0\n3\n1\n0\n3\n\"x\"\n"
        "\"IntervalTier\"\n\"selections\"\n0\n3\n6\n"
        "0\n0.5\n\"ee\"\n0.5\n0.6\n\"\"\n0.6\n1\n\"ee\"\n1\n2\n\"ah\"\n2\n2.9\n\"\"\n2.9\n3\n\"\"\n");
  CComparison c;
  ASSERT_EQ(c.Load((FDir / "take.formants.csv").string()), "");
  ASSERT_TRUE(c.ByMarks());
  c.Cluster(References);
  ASSERT_EQ(c.Clusters().size(), 2u);
  EXPECT_EQ(c.Clusters()[0].Label, "ee");
  EXPECT_EQ(c.Clusters()[0].Count, 90u);
  EXPECT_NEAR(c.Clusters()[0].F1Hz, 310, 10);
  EXPECT_EQ(c.Clusters()[1].Label, "ah");
  EXPECT_EQ(c.Clusters()[1].Count, 100u);
  EXPECT_NE(c.Summary().find("by 3 marked stretches"), std::string::npos) << c.Summary();
}

TEST_F(ComparisonTest, ABrokenTextGridFallsBackToReferencesAndSaysSo) {
  Write("take.formants.csv", ThreeVowels());
  Write("take.TextGrid", "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\nnonsense\n");
  CComparison c;
  ASSERT_EQ(c.Load((FDir / "take.wav").string()), "");
  EXPECT_FALSE(c.ByMarks());
  c.Cluster(References);
  EXPECT_EQ(c.Clusters().size(), 3u);
  EXPECT_NE(c.Summary().find("TextGrid not used"), std::string::npos) << c.Summary();
}

TEST_F(ComparisonTest, APipeForATextGridIsNotWaitedOn) {
  Write("take.formants.csv", ThreeVowels());
  ASSERT_EQ(::mkfifo((FDir / "take.TextGrid").c_str(), 0600), 0);
  CComparison c;
  ASSERT_EQ(c.Load((FDir / "take.flac").string()), "");
  EXPECT_FALSE(c.ByMarks());
  EXPECT_NE(c.Summary().find("not a regular file"), std::string::npos) << c.Summary();
}

TEST_F(ComparisonTest, AMissingOrBadTableLeavesTheComparisonAsItWas) {
  Write("take.formants.csv", ThreeVowels());
  CComparison c;
  ASSERT_EQ(c.Load((FDir / "take.flac").string()), "");
  c.Cluster(References);
  const std::string error = c.Load((FDir / "other.flac").string());
  EXPECT_NE(error.find("other.formants.csv: cannot open"), std::string::npos) << error;
  Write("bad.csv", "no,columns,here\n1,2,3\n");
  EXPECT_NE(c.Load((FDir / "bad.csv").string()).find("not a formants table"), std::string::npos);
  EXPECT_EQ(c.Name(), "take");
  EXPECT_EQ(c.Points().size(), 300u);
  EXPECT_EQ(c.Clusters().size(), 3u);
  c.Clear();
  EXPECT_TRUE(c.Empty());
  EXPECT_TRUE(c.Points().empty());
  EXPECT_EQ(c.Summary(), "");
}

}  // namespace
