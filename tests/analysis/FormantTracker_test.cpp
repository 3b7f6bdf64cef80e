#include "analysis/FormantTracker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "../capture/AllocationCounter.h"
#include "VowelSynth.h"

namespace quenvis {
namespace {

using test::TVowel;

// Average formants of ten American English vowels (Peterson and Barney),
// with F4 and F5 added to suit each voice.
struct TVowelSet {
  const char* Name;
  std::array<std::array<double, 3>, 10> F123;
  double F4, F5;
};
const TVowelSet Men{"man",
                    {{{270, 2290, 3010}, {390, 1990, 2550}, {530, 1840, 2480}, {660, 1720, 2410},
                      {520, 1190, 2390}, {730, 1090, 2440}, {570, 840, 2410}, {440, 1020, 2240},
                      {300, 870, 2240}, {490, 1350, 1690}}},
                    3500, 4300};
const TVowelSet Women{"woman",
                      {{{310, 2790, 3310}, {430, 2480, 3070}, {610, 2330, 2990}, {860, 2050, 2850},
                        {760, 1400, 2780}, {850, 1220, 2810}, {590, 920, 2710}, {470, 1160, 2680},
                        {370, 950, 2670}, {500, 1640, 1960}}},
                      3900, 4700};
const TVowelSet Children{"child",
                         {{{370, 3200, 3730}, {530, 2730, 3600}, {690, 2610, 3570}, {1010, 2320, 3320},
                           {850, 1590, 3360}, {1030, 1370, 3170}, {680, 1060, 3180}, {560, 1410, 3310},
                           {430, 1170, 3260}, {560, 1820, 2160}}},
                         4400, 5400};

struct TGroup {
  double Pitch;
  const TVowelSet* Set;
  EVoice Voice;
};

struct TScore {
  double MeanF1 = 0, WorstF1 = 0, MeanF2 = 0, WorstF2 = 0;
  double WorstF0Pct = 0, Coverage = 0, P90F1 = 0, P90F2 = 0;
};

double Median(std::vector<double> V) {
  if (V.empty()) return 0;
  std::sort(V.begin(), V.end());
  const std::size_t m = V.size() / 2;
  return V.size() % 2 ? V[m] : 0.5 * (V[m - 1] + V[m]);
}

double Percentile90(std::vector<double> V) {
  if (V.empty()) return 0;
  std::sort(V.begin(), V.end());
  return V[std::min(V.size() - 1, static_cast<std::size_t>(0.9 * static_cast<double>(V.size())))];
}

// The sanitizer build runs a few vowels per group; the full set runs in the
// normal build.
#if defined(__SANITIZE_ADDRESS__)
constexpr int VowelsPerGroup = 2;
#else
constexpr int VowelsPerGroup = 10;
#endif

// Every vowel of the group (every other one with vibrato), 3 s each, scored
// by the median estimate over the blocks ending in the middle half.
TScore Measure(const TGroup& Group, double SnrDb) {
  TScore s;
  std::vector<double> blockF1, blockF2;
  int blocks = 0, covered = 0;
  for (int v = 0; v < VowelsPerGroup; ++v) {
    const auto& f = Group.Set->F123[static_cast<std::size_t>(v)];
    TVowel vowel;
    vowel.F0 = Group.Pitch;
    vowel.F = {f[0], f[1], f[2], Group.Set->F4, Group.Set->F5};
    vowel.Vibrato = v % 2 == 1;
    vowel.SnrDb = SnrDb;
    vowel.Seed = static_cast<std::uint32_t>(v + 1);
    const auto mono = test::Synthesize(vowel);
    CFormantTracker tracker(Group.Voice);
    std::vector<double> f0s, f1s, f2s;
    for (std::size_t first = 0; first + 2048 <= mono.size(); first += 2048) {
      const TFormants r = tracker.Process(test::StereoBlock(mono, first).data());
      const std::size_t end = first + 2048;
      if (end < mono.size() / 4 || end > mono.size() * 3 / 4) continue;
      ++blocks;
      if (r.F0 > 0) f0s.push_back(r.F0);
      if (r.F[0] > 0) f1s.push_back(r.F[0]), blockF1.push_back(std::abs(r.F[0] - f[0]));
      if (r.F[1] > 0) f2s.push_back(r.F[1]), blockF2.push_back(std::abs(r.F[1] - f[1]));
      covered += r.F[0] > 0 && r.F[1] > 0;
    }
    const double e1 = f1s.empty() ? 1e9 : std::abs(Median(f1s) - f[0]);
    const double e2 = f2s.empty() ? 1e9 : std::abs(Median(f2s) - f[1]);
    const double e0 = f0s.empty() ? 100 : 100 * std::abs(Median(f0s) - Group.Pitch) / Group.Pitch;
    if (std::getenv("FORMANT_DEBUG")) std::printf("   %4.0f %4.0f -> %6.1f %6.1f  (%d)\n", f[0], f[1], Median(f1s), Median(f2s), v);
    s.MeanF1 += e1 / VowelsPerGroup;
    s.MeanF2 += e2 / VowelsPerGroup;
    s.WorstF1 = std::max(s.WorstF1, e1);
    s.WorstF2 = std::max(s.WorstF2, e2);
    s.WorstF0Pct = std::max(s.WorstF0Pct, e0);
  }
  s.Coverage = blocks ? 100.0 * covered / blocks : 0;
  s.P90F1 = Percentile90(blockF1);
  s.P90F2 = Percentile90(blockF2);
  return s;
}

const std::vector<TGroup> Groups = {
    {100, &Men, EVoice::Man},       {130, &Men, EVoice::Man},       {160, &Women, EVoice::Woman},
    {220, &Women, EVoice::Woman},   {260, &Women, EVoice::Woman},   {300, &Women, EVoice::Woman},
    {300, &Children, EVoice::Child}};

struct TLimits {
  double MeanF1, WorstF1, MeanF2, WorstF2;
};

void CheckAccuracy(double SnrDb, const TLimits& L) {
  std::printf("%s: pitch voice | F1 mean worst | F2 mean worst | F0 worst %% | coverage %% | "
              "per-block p90 F1 F2 (Hz)\n",
              SnrDb > 0 ? "white noise 30 dB SNR" : "clean");
  for (const TGroup& g : Groups) {
    const TScore s = Measure(g, SnrDb);
    std::printf("%5.0f %-5s | %5.1f %5.1f | %5.1f %5.1f | %5.2f | %5.1f | %5.1f %5.1f\n", g.Pitch,
                g.Set->Name, s.MeanF1, s.WorstF1, s.MeanF2, s.WorstF2, s.WorstF0Pct, s.Coverage,
                s.P90F1, s.P90F2);
    SCOPED_TRACE(std::to_string(static_cast<int>(g.Pitch)) + " Hz " + g.Set->Name);
    EXPECT_LE(s.MeanF1, L.MeanF1);
    EXPECT_LE(s.WorstF1, L.WorstF1);
    EXPECT_LE(s.MeanF2, L.MeanF2);
    EXPECT_LE(s.WorstF2, L.WorstF2);
    EXPECT_LE(s.WorstF0Pct, 2.0);
    EXPECT_GE(s.Coverage, 95.0);
  }
}

TEST(FormantTrackerAccuracy, CleanVowels) { CheckAccuracy(0, {25, 60, 15, 30}); }

TEST(FormantTrackerAccuracy, VowelsIn30dBNoise) { CheckAccuracy(30, {30, 70, 25, 40}); }

}  // namespace
}  // namespace quenvis
