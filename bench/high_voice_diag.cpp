// Where the high voices' formants go wrong: per vowel, vibrato and condition
// of one group and pitch of the synthetic set, the gross errors, the
// direction of each, and whether the resonance fit scores the true formants
// better (the search missed them) or worse (the misfit prefers another).
// Usage: quenvis_high_voice_diag women|children|sopranos F0 HALF [HOP]
// (HALF 0 the tuning half, 2 every vowel: for pitches outside the set)
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "analysis/FormantTracker.h"
#include "analysis/ResonanceFit.h"
#include "support/VowelSynth.h"

using namespace quenvis;

namespace {
struct TSet {
  std::array<std::array<double, 3>, 10> F;
  double F4, F5;
};
const TSet Women{{{{310, 2790, 3310},
                   {430, 2480, 3070},
                   {610, 2330, 2990},
                   {860, 2050, 2850},
                   {760, 1400, 2780},
                   {850, 1220, 2810},
                   {590, 920, 2710},
                   {470, 1160, 2680},
                   {370, 950, 2670},
                   {500, 1640, 1960}}},
                 3900,
                 4700};
const TSet Children{{{{370, 3200, 3730},
                      {530, 2730, 3600},
                      {690, 2610, 3570},
                      {1010, 2320, 3320},
                      {850, 1590, 3360},
                      {1030, 1370, 3170},
                      {680, 1060, 3180},
                      {560, 1410, 3310},
                      {430, 1170, 3260},
                      {560, 1820, 2160}}},
                    4400,
                    5400};
const char* Names[10] = {"iy", "ih", "eh", "ae", "ah", "aa", "ao", "uh", "uw", "er"};
struct TCond {
  const char* Name;
  double Snr;
  bool Pink;
  double Reverb;
};
const TCond Conds[] = {{"clean", 0, false, 0},  {"white20", 20, false, 0},
                       {"pink20", 20, true, 0}, {"white10", 10, false, 0},
                       {"pink10", 10, true, 0}, {"room", 0, false, 0.5}};
}  // namespace

int main(int Argc, char** Argv) {
  if (Argc < 4) {
    std::fprintf(stderr, "usage: %s women|children|sopranos F0 HALF [HOP]\n", Argv[0]);
    return 2;
  }
  const std::string group = Argv[1];
  const double f0 = std::atof(Argv[2]);
  const int half = std::atoi(Argv[3]);
  const int hop = Argc > 4 ? std::atoi(Argv[4]) : 0;
  const TSet& set = group == "children" ? Children : Women;
  const bool singers = group == "sopranos";
  // The halves alternate along each group's pitches as the accuracy test's do.
  const std::vector<double> pitches =
      group == "women"      ? std::vector<double>{160, 200, 250, 300, 350, 450}
      : group == "children" ? std::vector<double>{250, 300, 400, 500}
                            : std::vector<double>{500, 600, 700, 800, 880};
  const auto at = std::find(pitches.begin(), pitches.end(), f0);
  // Pitches outside the set are fresh vowels: HALF 2 takes both halves.
  if (at == pitches.end() && half != 2) {
    std::fprintf(stderr, "no such pitch in the set; HALF 2 runs every vowel at it\n");
    return 2;
  }
  const int pitchIndex = static_cast<int>(at - pitches.begin());
  int allBlocks = 0, allGross = 0;
  CResonanceFit fit;
  for (int v = 0; v < 10; ++v)
    for (int vib = 0; vib < 2; ++vib) {
      if (half != 2 && (v + vib + pitchIndex) % 2 != half) continue;
      for (const TCond& c : Conds) {
        const auto& f = set.F[static_cast<std::size_t>(v)];
        test::TVowel vowel;
        vowel.F0 = f0;
        vowel.F = {singers ? std::max(f[0], 1.1 * f0) : f[0], f[1], f[2], set.F4, set.F5};
        vowel.Vibrato = vib == 1;
        vowel.VibratoHz = 5.5;
        vowel.VibratoDepth = 0.03;
        vowel.SnrDb = c.Snr;
        vowel.PinkNoise = c.Pink;
        vowel.ReverbSeconds = c.Reverb;
        vowel.Seconds = 1.0;
        vowel.Seed = static_cast<std::uint32_t>(7 * v + vib + 1);
        const auto mono = test::Synthesize(vowel);
        CFormantTracker tracker;
        const std::size_t step = hop > 0 ? static_cast<std::size_t>(hop) : 2048;
        int blocks = 0, gross = 0, search = 0, cost = 0;
        double sumF1 = 0, sumF2 = 0;
        std::string detail;
        for (std::size_t first = 0; first + step <= mono.size(); first += step) {
          const auto block = test::StereoBlock(mono, first, static_cast<int>(step));
          const TFormants r = hop > 0 ? (tracker.Feed(block.data(), hop), tracker.Analyse())
                                      : tracker.Process(block.data());
          const std::size_t end = first + step;
          if (end < mono.size() / 4 || end > mono.size() * 3 / 4 || !r.Voiced) continue;
          ++blocks;
          const double d1 = r.F[0] - vowel.F[0], d2 = r.F[1] - vowel.F[1];
          sumF1 += r.F[0];
          sumF2 += r.F[1];
          const bool bad = r.F[0] <= 0 || r.F[1] <= 0 || std::abs(d1) > 100 || std::abs(d2) > 200;
          if (!bad) continue;
          ++gross;
          std::array<double, 4> got{};
          char buf[200];
          if (fit.Fit(tracker.Harmonics(), r.F0, got)) {
            const double mine = fit.MisfitOf(got);
            // F4 stands for all above F3: the truth gets the one that suits it best.
            double truth = 1e300;
            for (double f4 = vowel.F[2] + 160; f4 <= 5500; f4 += 20)
              truth = std::min(truth, fit.MisfitOf({vowel.F[0], vowel.F[1], vowel.F[2], f4}));
            (truth < mine ? search : cost)++;
            std::snprintf(buf, sizeof buf, " [%.0f/%.0f fit %.0f/%.0f/%.0f %.2f vs %.2f]", r.F[0],
                          r.F[1], got[0], got[1], got[2], mine, truth);
          } else {
            std::snprintf(buf, sizeof buf, " [%.0f/%.0f nofit]", r.F[0], r.F[1]);
          }
          if (detail.size() < 200) detail += buf;
        }
        allBlocks += blocks;
        allGross += gross;
        if (gross || (c.Snr == 0 && c.Reverb == 0))
          std::printf(
              "%-3s vib%d %-8s true %4.0f/%4.0f mean %4.0f/%4.0f gross %2d/%2d search %d cost "
              "%d%s\n",
              Names[v], vib, c.Name, vowel.F[0], vowel.F[1], sumF1 / blocks, sumF2 / blocks, gross,
              blocks, search, cost, detail.c_str());
      }
    }
  std::printf("%s %.0f half %d: gross %d of %d = %.1f %%\n", group.c_str(), f0, half, allGross,
              allBlocks, 100.0 * allGross / allBlocks);
}
