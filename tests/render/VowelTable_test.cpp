// The medians at each point of a token, and the table's text.
#include "render/VowelTable.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

namespace {

using quenvis::TFormants;
using quenvis::TVowelToken;

TFormants Analysis(double F0, double F1, double F2) {
  TFormants f;
  f.F0 = F0;
  f.Voiced = F0 > 0;
  if (F1 > 0) {
    f.F[0] = F1;
    f.B[0] = F1 / 10;
  }
  if (F2 > 0) {
    f.F[1] = F2;
    f.B[1] = F2 / 10;
  }
  return f;
}

// Analyses every 10 ms from 0; one token from 0.1 to 0.2 s has its points at
// 0.12, 0.135, 0.15, 0.165 and 0.18 s.
TEST(TokenMeasurer, EachPointHasTheMedianOfTheAnalysesWithin5Ms) {
  struct Case {
    const char* Name;
    double Hop;
    std::vector<std::pair<double, TFormants>> Special;  // replaced analyses
    std::array<double, 5> F1, F0;
  };
  const TFormants plain = Analysis(100, 500, 1500);
  const Case cases[] = {
      {"one analysis each", 0.01, {}, {500, 500, 500, 500, 500}, {100, 100, 100, 100, 100}},
      // 0.135 lies 5 ms from 0.13 and 0.14: both count, the median of two is their mean.
      {"two at the edges", 0.01, {{0.13, Analysis(110, 600, 1500)}, {0.14, Analysis(120, 700, 1500)}},
       {500, 650, 500, 500, 500}, {100, 115, 100, 100, 100}},
      // An unknown F1 does not count; with nothing known the point is blank.
      {"unknown values", 0.01, {{0.15, Analysis(100, 0, 1500)}, {0.18, Analysis(0, 0, 0)}},
       {500, 500, 0, 500, 0}, {100, 100, 100, 100, 0}},
      // At a 4 ms hop three analyses fall within 5 ms of 0.12 s: the middle
      // value of the three counts, not the extremes.
      {"three at a short hop", 0.004,
       {{0.116, Analysis(100, 400, 1500)}, {0.124, Analysis(100, 900, 1500)}},
       {500, 500, 500, 500, 500}, {100, 100, 100, 100, 100}},
  };
  for (const Case& c : cases) {
    std::vector<TVowelToken> tokens(1);
    tokens[0].Start = 0.1;
    tokens[0].End = 0.2;
    quenvis::CTokenMeasurer m(tokens);
    for (int i = 0; i * c.Hop < 0.4; ++i) {
      const double t = i * c.Hop;
      TFormants f = plain;
      for (const auto& [at, special] : c.Special)
        if (std::abs(at - t) < 1e-9) f = special;
      m.Add(t, f);
    }
    m.Finish();
    for (std::size_t p = 0; p < 5; ++p) {
      EXPECT_DOUBLE_EQ(tokens[0].Points[p].F[0], c.F1[p]) << c.Name << " point " << p;
      EXPECT_DOUBLE_EQ(tokens[0].Points[p].F0, c.F0[p]) << c.Name << " point " << p;
      EXPECT_DOUBLE_EQ(tokens[0].Points[p].B[0], c.F1[p] / 10) << c.Name << " point " << p;
      EXPECT_DOUBLE_EQ(tokens[0].Points[p].F[2], 0) << c.Name;
    }
  }
}

// Points past the last analysis, and tokens out of time order, still get
// their values or blanks.
TEST(TokenMeasurer, TokensInAnyOrderAndPastTheEnd) {
  std::vector<TVowelToken> tokens(2);
  tokens[0].Start = 0.5;
  tokens[0].End = 0.6;
  tokens[1].Start = 0.1;
  tokens[1].End = 0.2;
  quenvis::CTokenMeasurer m(tokens);
  for (int i = 0; i < 55; ++i) m.Add(i * 0.01, Analysis(100, 300 + i, 1500));
  m.Finish();
  EXPECT_DOUBLE_EQ(tokens[1].Points[2].F[0], 315);
  EXPECT_DOUBLE_EQ(tokens[0].Points[0].F[0], 352);  // 0.52 s
  EXPECT_DOUBLE_EQ(tokens[0].Points[2].F[0], 0);    // 0.55 s: nothing within 5 ms
}

TEST(VowelTable, RowsUseDotsWhateverTheLocaleAndQuoteWhatNeedsIt) {
  const char* before = std::setlocale(LC_ALL, nullptr);
  const std::string saved = before ? before : "C";
  // A locale with a decimal comma, where one is installed.
  for (const char* l : {"de_DE.UTF-8", "fr_FR.UTF-8", "C.UTF-8"})
    if (std::setlocale(LC_ALL, l)) break;
  quenvis::TManifestEntry e;
  e.Recording = "a, b.wav";
  e.Speaker = "s\"1\"";
  e.Carried = {"north", ""};
  TVowelToken t;
  t.Word = "SPA";
  t.Phone = "AA1";
  t.Start = 0.25;
  t.End = 0.6123456;
  t.Points[2].F0 = 123.46;
  t.Points[2].F = {731.26, 1090.04, 0};
  t.Points[2].B = {80, 95.3, 0};
  const std::string row = quenvis::VowelTableRow(e, t);
  std::setlocale(LC_ALL, saved.c_str());
  const std::string blank7 = ",,,,,,,";
  EXPECT_EQ(row, "\"a, b.wav\",\"s\"\"1\"\"\",north,,SPA,AA1,0.25,0.6123456,0.3623" + blank7 +
                     blank7 + ",123.5,731.3,1090.0,,80.0,95.3," + blank7 + blank7 + ",");
  EXPECT_EQ(quenvis::VowelTableHeader({"age", "a,b"}).substr(0, 65),
            "recording,speaker,age,\"a,b\",word,phone,start_s,end_s,duration_s,f");

  // Times a hostile TextGrid may hold are written out, not cut.
  t.Start = -1e300;
  const std::string huge = quenvis::VowelTableRow(e, t);
  const std::size_t at = huge.find(",AA1,") + 5, end = huge.find(',', at);
  ASSERT_NE(end, std::string::npos);
  EXPECT_EQ(end - at, 302u);  // "-1" and 300 more digits
  EXPECT_EQ(std::stod(huge.substr(at, end - at)), -1e300);
}

}  // namespace
