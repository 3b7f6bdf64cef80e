#include "analysis/FormantPath.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <vector>

#include "analysis/FormantSteps.h"
#include "support/VowelSynth.h"

namespace quenvis {
namespace {

struct TOut {
  std::int64_t Row;
  double Centre;
  TFormants F;
};

TResonances Roots(std::initializer_list<double> Freq, double Band = 80) {
  TResonances r;
  for (double f : Freq) {
    if (f <= 0) continue;
    r.Freq[static_cast<std::size_t>(r.Count)] = f;
    r.Band[static_cast<std::size_t>(r.Count)] = Band;
    ++r.Count;
  }
  return r;
}

// Resonances of their own bandwidths: {frequency, bandwidth} pairs.
TResonances Poles(std::initializer_list<std::array<double, 2>> Pairs) {
  TResonances r;
  for (const auto& p : Pairs) {
    r.Freq[static_cast<std::size_t>(r.Count)] = p[0];
    r.Band[static_cast<std::size_t>(r.Count)] = p[1];
    ++r.Count;
  }
  return r;
}

// An analysis whose harmonics gave F (0: none; only when voiced), whose
// waveform showed Wave and its denser fits Denser.
struct TStep {
  std::array<double, 3> F;
  TResonances Wave;
  bool Voiced = true;
  std::array<TResonances, 2> Denser{};
};

std::vector<TOut> RunPath(const std::vector<TStep>& Steps) {
  CFormantPath path(10);
  std::vector<TOut> out;
  const auto emit = [&](std::int64_t Row, double Centre, const TFormants& F) {
    out.push_back({Row, Centre, F});
  };
  for (std::size_t i = 0; i < Steps.size(); ++i) {
    const TStep& s = Steps[i];
    TFormants f;
    TFormantCandidates c;
    f.Voiced = s.Voiced;
    if (s.Voiced) {
      f.F0 = 120;
      f.Blank = EBlank::FewHarmonics;
      for (std::size_t k = 0; k < 3; ++k) {
        f.F[k] = s.F[k];
        f.B[k] = s.F[k] > 0 ? 80 : 0;
      }
      if (s.F[0] > 0 && s.F[1] > 0) {
        f.Blank = EBlank::None;
        f.Confidence = 0.9;
        c.Harmonic = Roots({s.F[0], s.F[1], s.F[2]});
      }
    }
    c.Waveform = s.Wave;
    c.Denser = s.Denser;
    path.Add(static_cast<std::int64_t>(i), 0.01 * static_cast<double>(i), f, c, emit);
  }
  path.Finish(emit);
  return out;
}

// A steady vowel (500, 1200, 2500 Hz) of 21 analyses, the middle ones
// changed by Middle.
std::vector<TStep> Steady(const std::vector<TStep>& Middle) {
  const TStep plain{{500, 1200, 2500}, Roots({500, 1200, 2500, 3500})};
  std::vector<TStep> s(21, plain);
  for (std::size_t i = 0; i < Middle.size(); ++i) s[10 - Middle.size() / 2 + i] = Middle[i];
  return s;
}

// What the path makes of analyses that lost F2, took F3 for it or found
// nothing, between neighbours that agree: the middle analyses' F1 and F2
// (0 where left blank), and whether they are the waveform's.
TEST(FormantPath, NeighboursSettleTheMiddleAnalyses) {
  const TResonances good = Roots({510, 1210, 2480, 3500});
  struct TCase {
    const char* Name;
    std::vector<TStep> Middle;
    std::array<double, 2> Want;  // F1, F2 of each middle analysis
    bool Fallback;
  };
  const TCase cases[] = {
      {"F2 lost, the waveform has it", std::vector<TStep>(3, {{500, 0, 2500}, good}), {510, 1210}, true},
      {"nothing from the harmonics", std::vector<TStep>(5, {{0, 0, 0}, good}), {510, 1210}, true},
      {"F3 taken for F2, the waveform shows F2 between",
       // (F1 where the harmonics' and the waveform's agree)
       std::vector<TStep>(3, {{500, 2500, 0}, good}), {505, 1210}, true},
      {"a waveform far from both neighbours",
       std::vector<TStep>(3, {{0, 0, 0}, Roots({900, 2900, 3800})}), {0, 0}, false},
      {"nothing at all", std::vector<TStep>(3, {{0, 0, 0}, {}}), {0, 0}, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::vector<TStep> steps = Steady(c.Middle);
    const std::vector<TOut> out = RunPath(steps);
    ASSERT_EQ(out.size(), steps.size());
    const std::size_t first = 10 - c.Middle.size() / 2;
    for (std::size_t i = 0; i < out.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(out[i].Row, static_cast<std::int64_t>(i));
      EXPECT_DOUBLE_EQ(out[i].Centre, 0.01 * static_cast<double>(i));
      const TFormants& f = out[i].F;
      EXPECT_TRUE(f.Voiced);
      if (i < first || i >= first + c.Middle.size()) {
        // The neighbours keep their own, and their confidence.
        EXPECT_EQ(f.F, (std::array<double, 3>{500, 1200, 2500}));
        EXPECT_EQ(f.Confidence, 0.9);
        continue;
      }
      EXPECT_EQ(f.F[0], c.Want[0]);
      EXPECT_EQ(f.F[1], c.Want[1]);
      EXPECT_EQ(f.Fallback, c.Fallback);
      // Well formed: both of each pair or neither; a reading of the
      // neighbours is trusted less than an analysis's own.
      for (std::size_t k = 0; k < 3; ++k) EXPECT_EQ(f.F[k] > 0, f.B[k] > 0);
      if (c.Want[0] > 0) {
        EXPECT_GT(f.Confidence, 0.0);
        EXPECT_LT(f.Confidence, 0.5);
      } else {
        EXPECT_EQ(f.Confidence, 0.0);
      }
    }
  }
}

// Unvoiced analyses pass through as they came and part the stretches: a
// gap at the edge of a stretch has only one neighbour, and a stretch longer
// than the path holds is decided in pieces, every row still out once, in order.
TEST(FormantPath, RowsComeOutOnceInOrder) {
  const TResonances good = Roots({510, 1210, 2480});
  std::vector<TStep> steps;
  for (int i = 0; i < 5; ++i) steps.push_back({{500, 1200, 2500}, good});
  steps.push_back({{0, 0, 0}, good});  // a gap at the end of its stretch
  steps.push_back({{0, 0, 0}, {}, false});
  steps.push_back({{0, 0, 0}, {}, false});
  for (std::size_t i = 0; i < CFormantPath::MaxStretch + 50; ++i)
    steps.push_back({{500, 1200, 2500}, good});
  const std::vector<TOut> out = RunPath(steps);
  ASSERT_EQ(out.size(), steps.size());
  for (std::size_t i = 0; i < out.size(); ++i) {
    ASSERT_EQ(out[i].Row, static_cast<std::int64_t>(i));
    EXPECT_EQ(out[i].F.Voiced, steps[i].Voiced);
  }
  EXPECT_EQ(out[5].F.F[1], 1210);
  EXPECT_EQ(out[6].F.F, (std::array<double, 3>{}));
  EXPECT_EQ(out[6].F.Blank, EBlank::Aperiodic);
  EXPECT_EQ(out.back().F.F[1], 1205);
}

// Unvoiced analyses beside a stretch: those whose waveform continues the
// stretch's tracks get its formants (trusted least, still unvoiced and
// without F0), up to EdgeRows on each side and without a gap; the others,
// and those between two stretches farther than that from both, stay blank.
// Rows still come out once each, in order.
TEST(FormantPath, EdgesContinueTheTracks) {
  const TResonances near = Roots({510, 1210, 2480, 3500}), far = Roots({900, 2900, 3800});
  const TStep vowel{{500, 1200, 2500}, near};
  const TStep edge{{0, 0, 0}, near, false}, stray{{0, 0, 0}, far, false},
      none{{0, 0, 0}, {}, false};
  struct TCase {
    const char* Name;
    std::vector<TStep> Steps;
    std::vector<int> Given;  // the unvoiced rows that get F1 and F2
  };
  const auto stretch = [&](std::vector<TStep> Before, int Voiced, std::vector<TStep> After) {
    Before.insert(Before.end(), static_cast<std::size_t>(Voiced), vowel);
    Before.insert(Before.end(), After.begin(), After.end());
    return Before;
  };
  const auto rows = [](int From, int To) {  // From..To-1
    std::vector<int> r;
    for (int i = From; i < To; ++i) r.push_back(i);
    return r;
  };
  const auto cat = [](std::vector<int> A, const std::vector<int>& B) {
    A.insert(A.end(), B.begin(), B.end());
    return A;
  };
  const int reach = static_cast<int>(CFormantPath::EdgeRows);
  const std::vector<TStep> beyond(static_cast<std::size_t>(reach + 2), edge);
  // A second stretch reach + 1 analyses after the first.
  std::vector<TStep> two = stretch(beyond, 6, std::vector<TStep>(static_cast<std::size_t>(reach + 1), edge));
  two.insert(two.end(), 6, vowel);
  two.push_back(edge);
  const int twoEnd = 2 * reach + 15;  // its last row, the edge after the second stretch
  // 2 reach + 3 analyses between them: the middle three reached by neither.
  std::vector<TStep> apart = stretch({}, 5, std::vector<TStep>(static_cast<std::size_t>(2 * reach + 3), edge));
  apart.insert(apart.end(), 5, vowel);
  const TCase cases[] = {
      {"the waveform continues the tracks", stretch(beyond, 8, beyond),
       cat(rows(2, reach + 2), rows(reach + 10, 2 * reach + 10))},
      {"a waveform far from the tracks", stretch({stray, stray}, 8, {stray, stray}), {}},
      {"no waveform fit", stretch({none, none}, 8, {none, none}), {}},
      {"no gap: the nearest analysis does not continue them",
       stretch({edge, stray}, 8, {none, edge}), {}},
      {"a short gap between two stretches", two,
       cat(cat(rows(2, reach + 2), rows(reach + 8, 2 * reach + 9)), {twoEnd})},
      {"a longer gap between two stretches", apart,
       cat(rows(5, reach + 5), rows(reach + 8, 2 * reach + 8))},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::vector<TOut> out = RunPath(c.Steps);
    ASSERT_EQ(out.size(), c.Steps.size());
    for (std::size_t i = 0; i < out.size(); ++i) {
      SCOPED_TRACE(i);
      ASSERT_EQ(out[i].Row, static_cast<std::int64_t>(i));
      const TFormants& f = out[i].F;
      EXPECT_EQ(f.Voiced, c.Steps[i].Voiced);
      if (f.Voiced) {
        EXPECT_EQ(f.F, (std::array<double, 3>{505, 1205, 2500}));
        continue;
      }
      EXPECT_EQ(f.F0, 0.0);
      const bool given = std::find(c.Given.begin(), c.Given.end(), static_cast<int>(i)) != c.Given.end();
      if (given) {
        EXPECT_EQ(f.F, (std::array<double, 3>{510, 1210, 2480}));
        EXPECT_EQ(f.B, (std::array<double, 3>{80, 80, 80}));
        EXPECT_TRUE(f.Fallback);
        EXPECT_GT(f.Confidence, 0.0);
        EXPECT_LT(f.Confidence, 0.35);
      } else {
        EXPECT_EQ(f.F, (std::array<double, 3>{}));
        EXPECT_EQ(f.B, (std::array<double, 3>{}));
        EXPECT_EQ(f.Confidence, 0.0);
      }
    }
  }
}

// A short unvoiced gap between two vowels (a consonant the pitch did not
// hear) whose waveform continues the second vowel's tracks, not the
// first's: the rows the first stretch's edge cannot take are the second's,
// whichever side comes first.
TEST(FormantPath, GapTakesTheTracksItContinues) {
  const std::array<double, 3> a{500, 1200, 2500}, b{700, 1700, 2600};
  const TStep first{a, Roots({a[0], a[1], a[2], 3500})}, second{b, Roots({b[0], b[1], b[2], 3500})};
  const TStep likeSecond{{0, 0, 0}, Roots({710, 1690, 2590, 3500}), false};
  const TStep likeFirst{{0, 0, 0}, Roots({510, 1210, 2480, 3500}), false};
  struct TCase {
    const char* Name;
    TStep Before, Gap, After;
    std::array<double, 3> Given;
  };
  const TCase cases[] = {
      {"continues the second vowel", first, likeSecond, second, {710, 1690, 2590}},
      {"continues the first vowel", second, likeSecond, first, {710, 1690, 2590}},
      {"the second vowel after a gap like the first", first, likeFirst, second, {510, 1210, 2480}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<TStep> steps(6, c.Before);
    steps.insert(steps.end(), 3, c.Gap);
    steps.insert(steps.end(), 6, c.After);
    const std::vector<TOut> out = RunPath(steps);
    ASSERT_EQ(out.size(), steps.size());
    for (std::size_t i = 6; i < 9; ++i) {
      SCOPED_TRACE(i);
      EXPECT_FALSE(out[i].F.Voiced);
      EXPECT_EQ(out[i].F.F, c.Given);
      EXPECT_TRUE(out[i].F.Fallback);
      EXPECT_GT(out[i].F.Confidence, 0.0);
      EXPECT_LT(out[i].F.Confidence, 0.35);
    }
  }
}

// A voiced stretch of at most BlipRows analyses with as many unvoiced ones
// (or the recording's end) on either side loses its voicing and F0 but
// keeps its formants, trusted as an edge's; a longer one, or one nearer
// another stretch, stays voiced.
TEST(FormantPath, BlipsOfVoicingAreUnvoiced) {
  const TResonances near = Roots({510, 1210, 2480, 3500});
  const TStep vowel{{500, 1200, 2500}, near}, quiet{{0, 0, 0}, {}, false};
  const int blip = static_cast<int>(CFormantPath::BlipRows);
  struct TCase {
    const char* Name;
    std::vector<std::pair<int, bool>> Runs;  // analyses, voiced
    bool Unvoiced;  // the voiced run of Blip's length comes out unvoiced
  };
  const TCase cases[] = {
      {"a lone analysis", {{10, false}, {1, true}, {10, false}}, true},
      {"BlipRows analyses", {{10, false}, {blip, true}, {10, false}}, true},
      {"one more", {{10, false}, {blip + 1, true}, {10, false}}, false},
      {"at the recording's start", {{blip, true}, {10, false}}, true},
      {"at the recording's end", {{10, false}, {blip, true}}, true},
      {"close before another stretch", {{10, false}, {blip, true}, {blip - 1, false}, {8, true}}, false},
      {"close after another stretch", {{10, false}, {8, true}, {blip - 1, false}, {blip, true}, {10, false}},
       false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<TStep> steps;
    std::size_t first = 0, count = 0;
    for (const auto& [n, voiced] : c.Runs) {
      if (voiced && n <= blip + 1) first = steps.size(), count = static_cast<std::size_t>(n);
      steps.insert(steps.end(), static_cast<std::size_t>(n), voiced ? vowel : quiet);
    }
    ASSERT_GT(count, 0u);
    const std::vector<TOut> out = RunPath(steps);
    ASSERT_EQ(out.size(), steps.size());
    for (std::size_t i = first; i < first + count; ++i) {
      SCOPED_TRACE(i);
      const TFormants& f = out[i].F;
      EXPECT_EQ(f.Voiced, !c.Unvoiced);
      EXPECT_EQ(f.F0, c.Unvoiced ? 0.0 : 120.0);
      // F1 and F2 settled between the reading and the fits' 510 and 1210.
      EXPECT_EQ(f.F, (std::array<double, 3>{505, 1205, 2500}));
      if (c.Unvoiced) {
        EXPECT_EQ(f.Blank, EBlank::Aperiodic);
        EXPECT_TRUE(f.Fallback);
        EXPECT_GT(f.Confidence, 0.0);
        EXPECT_LE(f.Confidence, 0.25);
      } else {
        EXPECT_EQ(f.Confidence, 0.9);
      }
    }
  }
}

// A stretch of like analyses whose fits disagree on F2: the F2 the path
// gives for all of them (within 5 %). A pole that one waveform fit alone shows between F1
// and F2 is no F2, even where the harmonics gave nothing; and where all
// three waveform fits show a resonance, however broad, between F1 and the
// harmonics' F2, that one is F2 and theirs F3. The denser fits' spare
// poles close over a woman's F1 are no F2; a resonance they show far over
// F1 is, even where the harmonics and the plainer fit lost it.
TEST(FormantPath, SecondFormantTheFitsAgreeOn) {
  struct TCase {
    const char* Name;
    TStep Step;
    double WantF2;
  };
  const TCase cases[] = {
      {"a denser fit's spare pole between F1 and F2",
       {{0, 0, 0},
        Poles({{400, 80}, {1600, 350}, {2600, 150}, {3500, 200}}),
        true,
        {Poles({{400, 80}, {1600, 300}, {2600, 150}, {3400, 200}}),
         Poles({{400, 80}, {900, 450}, {1650, 250}, {2600, 150}, {3500, 200}})}},
       1600},
      {"the harmonics lost a broad F2 and took F3",
       {{350, 2500, 3300},
        Poles({{350, 80}, {1700, 550}, {2500, 100}, {3300, 150}}),
        true,
        {Poles({{350, 80}, {1650, 520}, {2500, 100}, {3300, 150}}),
         Poles({{350, 80}, {1750, 560}, {2500, 100}, {3000, 300}, {3400, 150}})}},
       1700},
      {"a woman's denser fits' spare poles close over F1",
       {{0, 0, 0},
        Poles({{480, 40}, {1350, 300}, {2500, 200}, {3500, 200}}),
        true,
        {Poles({{480, 40}, {940, 400}, {1400, 80}, {2400, 300}, {3300, 130}}),
         Poles({{475, 40}, {800, 300}, {1380, 70}, {1950, 420}, {2700, 290}})}},
       1370},
      {"a front vowel's F2 far over F1 that the denser fits show",
       {{320, 2300, 2950},
        Poles({{330, 25}, {2290, 60}, {2970, 70}, {3400, 120}}),
        true,
        {Poles({{330, 20}, {1900, 200}, {2300, 110}, {3000, 70}, {3500, 100}}),
         Poles({{320, 17}, {1880, 150}, {2240, 100}, {2950, 220}, {3500, 100}})}},
       1890},
      {"the harmonics' F2, which every fit shows",
       {{450, 1100, 2500},
        Poles({{450, 80}, {1100, 120}, {2500, 150}, {3500, 200}}),
        true,
        {Poles({{450, 80}, {1080, 150}, {2500, 150}, {3500, 200}}),
         Poles({{450, 80}, {700, 500}, {1120, 130}, {2500, 150}, {3500, 200}})}},
       1100},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::vector<TOut> out = RunPath(std::vector<TStep>(15, c.Step));
    ASSERT_EQ(out.size(), 15u);
    // Any fit's reading of it will do.
    for (const TOut& o : out) EXPECT_NEAR(o.F.F[1], c.WantF2, 0.05 * c.WantF2);
  }
}

// White noise through the resonances of F (bandwidths 300 Hz), at Peak of
// full scale: a whispered vowel.
std::vector<std::int16_t> Whisper(const std::array<double, 3>& F, double Seconds, double Peak) {
  const std::size_t n = static_cast<std::size_t>(Seconds * test::SynthRate);
  std::vector<double> x(n);
  std::uint32_t seed = 12345;
  for (double& v : x) {
    seed = seed * 1664525u + 1013904223u;
    v = static_cast<double>(seed >> 8) / (1 << 24) - 0.5;
  }
  for (const double f : F) {
    const double r = std::exp(-std::numbers::pi * 300 / test::SynthRate);
    const double a1 = 2 * r * std::cos(2 * std::numbers::pi * f / test::SynthRate), a2 = -r * r;
    double y1 = 0, y2 = 0;
    for (double& v : x) {
      const double y = (1 - r) * v + a1 * y1 + a2 * y2;
      y2 = y1;
      y1 = y;
      v = y;
    }
  }
  double peak = 0;
  for (const double v : x) peak = std::max(peak, std::abs(v));
  std::vector<std::int16_t> out(n);
  for (std::size_t i = 0; i < n; ++i)
    out[i] = static_cast<std::int16_t>(std::nearbyint(x[i] / peak * Peak * 32767));
  return out;
}

// A vowel that goes on whispered, loud, then faint, then silence. The
// tracker fits the waveform of an unvoiced analysis near the speech's level
// only (and only for the path); the path carries the vowel's formants into
// at most EdgeRows analyses after its last voiced one, however well the
// whisper continues them, and none into the faint whisper or the silence.
TEST(FormantPath, EdgesStopNearTheVowel) {
  const std::array<double, 3> f{600, 1100, 2500};
  test::TVowel vowel;
  vowel.F0 = 140;
  vowel.F = {f[0], f[1], f[2], 3400, 4300};
  vowel.SnrDb = 40;
  vowel.Seconds = 0.6;
  std::vector<std::int16_t> mono = test::Synthesize(vowel);
  for (const double peak : {0.4, 0.005}) {
    const std::vector<std::int16_t> w = Whisper(f, 0.3, peak);
    mono.insert(mono.end(), w.begin(), w.end());
  }
  mono.resize(mono.size() + 22050, 0);
  CFormantTracker tracker;
  tracker.FitDenser(true);
  CFormantSteps steps(tracker, 10);
  CFormantPath path(10);
  std::vector<TOut> out;
  const auto emit = [&](std::int64_t Row, double Centre, const TFormants& F) {
    out.push_back({Row, Centre, F});
  };
  int loudFitted = 0, loud = 0, faintFitted = 0;
  for (std::size_t first = 0; first + 2048 <= mono.size(); first += 2048) {
    const auto block = test::StereoBlock(mono, first);
    steps.Feed(block.data(), 2048, [&](std::int64_t Row, double Centre, const TFormants& F) {
      const bool fitted = tracker.Candidates().Waveform.Count > 0;
      if (Centre > 0.7 && Centre < 0.85) {
        ++loud;
        loudFitted += fitted;
      }
      if (Centre > 1.0) faintFitted += fitted;
      path.Add(Row, Centre, F, tracker.Candidates(), emit);
    });
  }
  path.Finish(emit);
  EXPECT_GT(loudFitted, loud / 2);
  EXPECT_EQ(faintFitted, 0);
  std::size_t lastVoiced = 0;
  for (std::size_t i = 0; i < out.size(); ++i)
    if (out[i].F.Voiced) lastVoiced = i;
  ASSERT_GT(lastVoiced, 40u);
  ASSERT_GT(out.size(), lastVoiced + 80);
  EXPECT_LT(out[lastVoiced].Centre, 0.65);
  // The whisper right after the vowel goes on with its formants.
  EXPECT_NEAR(out[lastVoiced + 1].F.F[0], f[0], 0.15 * f[0]);
  EXPECT_NEAR(out[lastVoiced + 1].F.F[1], f[1], 0.15 * f[1]);
  for (std::size_t i = lastVoiced + 1; i < out.size(); ++i) {
    SCOPED_TRACE(out[i].Centre);
    EXPECT_FALSE(out[i].F.Voiced);
    if (i > lastVoiced + CFormantPath::EdgeRows) {
      EXPECT_EQ(out[i].F.F, (std::array<double, 3>{}));
    }
  }
}

// Synthetic vowels through a telephone's band, where F3 may pass for F2
// (a front vowel's F2 close under F3, a back vowel's weak F2 close over
// F1): with the path, F3 stands as F2 in no more than 1 % of the analyses,
// and F2 is within 10 % in 80 % of them. A high voice's front vowel also
// holds the path to the resonances between F1 and F2 it may not count as
// F2 (the denser fits' spare poles on the harmonics).
TEST(FormantPath, ThirdFormantDoesNotStandAsSecond) {
  struct TCase {
    double F0;
    std::array<double, 5> F, B;
  };
  const TCase cases[] = {
      {220, {310, 2790, 3310, 4200, 5000}, {60, 100, 150, 200, 250}},  // a woman's /i/
      {120, {270, 2290, 2700, 3500, 4500}, {60, 100, 150, 200, 250}},  // a man's /i/
      {120, {450, 750, 2400, 3300, 4300}, {80, 150, 120, 200, 250}},   // a man's /o/, F2 weak
      {200, {480, 900, 2700, 3800, 4800}, {80, 150, 120, 200, 250}},   // a woman's /o/, F2 weak
      {120, {300, 870, 2240, 3300, 4300}, {60, 200, 100, 200, 250}},   // a man's /u/, F2 weak
      {230, {370, 950, 2670, 3800, 4800}, {60, 200, 100, 200, 250}},   // a woman's /u/, F2 weak
      {120, {390, 1990, 2550, 3500, 4500}, {60, 100, 150, 200, 250}},  // a man's /I/
      {230, {430, 2480, 3070, 4100, 5000}, {60, 100, 150, 200, 250}},  // a woman's /I/
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.F0 << " Hz, F2 " << c.F[1]);
    test::TVowel vowel;
    vowel.F0 = c.F0;
    vowel.F = c.F;
    vowel.B = c.B;
    vowel.Jitter = 0.02;
    vowel.SnrDb = 25;
    vowel.HighPassHz = 300;  // a telephone's band
    vowel.Seconds = 1.5;
    const auto mono = test::Synthesize(vowel);
    CFormantTracker tracker;
    tracker.FitDenser(true);
    CFormantSteps steps(tracker, 10);
    CFormantPath path(10);
    int raw = 0, rawThird = 0, voiced = 0, third = 0, right = 0;
    const auto isThird = [&](double F2) {
      return std::abs(F2 - c.F[2]) <= 0.07 * c.F[2] && std::abs(F2 - c.F[2]) < std::abs(F2 - c.F[1]);
    };
    const auto emit = [&](std::int64_t, double Centre, const TFormants& f) {
      if (Centre < 0.2 || Centre > 1.3 || !f.Voiced) return;
      ++voiced;
      third += isThird(f.F[1]);
      right += std::abs(f.F[1] - c.F[1]) <= 0.1 * c.F[1];
    };
    for (std::size_t first = 0; first < mono.size(); first += 2048) {
      const auto block = test::StereoBlock(mono, first);
      steps.Feed(block.data(), 2048, [&](std::int64_t Row, double Centre, const TFormants& f) {
        if (Centre >= 0.2 && Centre <= 1.3 && f.Voiced) {
          ++raw;
          rawThird += isThird(f.F[1]);
        }
        path.Add(Row, Centre, f, tracker.Candidates(), emit);
      });
    }
    path.Finish(emit);
    std::printf("F2 %.0f: F3 as F2 in %d of %d analyses before the path, %d after; F2 right in %d\n",
                c.F[1], rawThird, raw, third, right);
    ASSERT_GT(voiced, 90);
    EXPECT_LE(third, voiced / 100);
    EXPECT_GE(right, voiced * 8 / 10);
  }
}

// Where the fits agree on F1 and F2 the path gives their median, each fit
// counted once by its resonance nearest the path's (within 12 %, farther
// ones are other formants); where a fit shows nothing near, the others
// decide. Settling does not make F2 leap where the path's F2 did not: a
// step the fits' median would make larger than 180 Hz in 10 ms stops there.
TEST(FormantPath, FormantsSettleWhereTheFitsAgree) {
  struct TCase {
    const char* Name;
    std::vector<TStep> Steps;
    std::vector<std::array<double, 2>> Want;  // F1, F2 of each analysis
  };
  const TStep agree{{450, 1100, 2500},
                    Poles({{470, 80}, {1150, 120}, {2500, 150}, {3500, 200}}),
                    true,
                    {Poles({{470, 80}, {1160, 150}, {2500, 150}, {3500, 200}}),
                     Poles({{470, 80}, {1170, 130}, {2500, 150}, {3000, 200}, {3500, 200}})}};
  const TStep farOff{{450, 1100, 2500},
                     Poles({{450, 80}, {1110, 120}, {2500, 150}, {3500, 200}}),
                     true,
                     {Poles({{450, 80}, {1250, 150}, {2500, 150}, {3500, 200}}), {}}};
  const TStep before{{450, 1500, 2600}, Poles({{450, 80}, {1500, 120}, {2600, 150}, {3500, 200}})};
  const TStep after{{450, 1550, 2600},
                    Poles({{450, 80}, {1700, 120}, {2600, 150}, {3500, 200}}),
                    true,
                    {Poles({{450, 80}, {1700, 120}, {2600, 150}, {3500, 200}}),
                     Poles({{450, 80}, {1700, 120}, {2600, 150}, {3500, 200}})}};
  std::vector<TStep> step(6, before);
  step.insert(step.end(), 6, after);
  std::vector<std::array<double, 2>> stepWant(6, {450, 1500});
  stepWant.push_back({450, 1680});
  stepWant.insert(stepWant.end(), 5, {450, 1700});
  const TCase cases[] = {
      {"three fits a little above the harmonics", std::vector<TStep>(9, agree),
       std::vector<std::array<double, 2>>(9, {470, 1155})},
      {"a fit's resonance too far to be the same", std::vector<TStep>(9, farOff),
       std::vector<std::array<double, 2>>(9, {450, 1105})},
      {"the fits' F2 steps up by 200 Hz", step, stepWant},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::vector<TOut> out = RunPath(c.Steps);
    ASSERT_EQ(out.size(), c.Want.size());
    for (std::size_t i = 0; i < out.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_DOUBLE_EQ(out[i].F.F[0], c.Want[i][0]);
      EXPECT_DOUBLE_EQ(out[i].F.F[1], c.Want[i][1]);
    }
  }
}

}  // namespace
}  // namespace quenvis
