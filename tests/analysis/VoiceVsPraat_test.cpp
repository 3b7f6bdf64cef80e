// The voice measures against Praat's on the same synthetic vowels: Praat's
// figures are stored (data/voice-reference/sustained.csv, written by
// scripts/voice-vs-praat.sh), the vowels synthesised again here, measured
// as quenvis-render measures them (an analysis every 10 ms) and their
// medians compared. Each sample may be off by what it is off today and a
// little more: a change that takes a measure further from Praat fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/FormantSteps.h"
#include "analysis/VoiceMeasures.h"
#include "support/VoiceSamples.h"

namespace quenvis {
namespace {

struct TMedians {
  double Cpps, Hnr, Jitter, Shimmer;
};

double Median(std::vector<double> V) {
  if (V.empty()) return NoMeasure;
  std::sort(V.begin(), V.end());
  const std::size_t n = V.size();
  return n % 2 ? V[n / 2] : 0.5 * (V[n / 2 - 1] + V[n / 2]);
}

TMedians MeasureAsRendered(const std::vector<std::int16_t>& Mono) {
  auto tracker = std::make_unique<CFormantTracker>();
  auto voice = std::make_unique<CVoiceMeasures>();
  CFormantSteps steps(*tracker, 10);
  std::vector<double> cpps, hnr, jitter, shimmer;
  const auto keep = [](std::vector<double>& To, double V) {
    if (Measured(V)) To.push_back(V);
  };
  for (std::size_t first = 0; first < Mono.size(); first += CFormantTracker::BlockFrames) {
    const int frames =
        static_cast<int>(std::min<std::size_t>(CFormantTracker::BlockFrames, Mono.size() - first));
    const auto block = test::StereoBlock(Mono, first);
    steps.Feed(
        block.data(), frames, [&](const unsigned char* Data, int N) { voice->Feed(Data, N); },
        [&](bool Reported, std::int64_t, double, const TFormants& F) {
          const TVoice v = voice->Analyse(F);
          if (!Reported) return;
          keep(cpps, v.Cpps);
          keep(hnr, v.Hnr);
          keep(jitter, v.JitterPct);
          keep(shimmer, v.ShimmerPct);
        });
  }
  return {Median(cpps), Median(hnr), Median(jitter), Median(shimmer)};
}

std::map<std::string, TMedians> PraatFigures() {
  std::ifstream in(std::string(QUENVIS_VOICE_REFERENCE_DIR) + "/sustained.csv");
  std::map<std::string, TMedians> rows;
  std::string line;
  std::getline(in, line);  // the header: name,cpps_db,hnr_db,jitter_pct,shimmer_pct
  while (std::getline(in, line)) {
    std::replace(line.begin(), line.end(), ',', ' ');
    std::istringstream s(line);
    std::string name;
    TMedians m{};
    if (s >> name >> m.Cpps >> m.Hnr >> m.Jitter >> m.Shimmer) rows[name] = m;
  }
  return rows;
}

// How far each sample may be from Praat: CPPS and HNR in dB, jitter and
// shimmer in points. The targets are 0.5 dB, 1.5 dB and 15 %; where a
// sample misses them today, the README says why.
struct TLimit {
  const char* Name;
  double Cpps, Hnr, Jitter, Shimmer;
};
constexpr TLimit Limits[] = {
    // Clean voices: Praat's HNR of a perfectly periodic sound is only its
    // arithmetic's limit (66-78 dB); ours stops earlier.
    {"a110", 0.5, 20, 0.05, 0.1},
    {"a220", 0.5, 25, 0.05, 0.1},
    {"a440", 0.5, 20, 0.05, 0.15},
    {"a110_j1", 0.5, 1.5, 0.15, 1.5},
    // Praat's marks, matched on the waveform, read 1 % of jitter at 220 Hz
    // as 0.70 %; ours, matched on its slope, 1.04 (the pulses' own: 0.93).
    {"a220_j1", 0.5, 2.2, 0.4, 0.4},
    {"a110_s6", 0.5, 1.5, 0.05, 0.2},
    // The smoothed excursions read 6 % of shimmer at 220 Hz 0.3 points above
    // Praat (VoiceMeasures' own synthetic 6 % at 220 Hz reads within 0.1).
    {"a220_s6", 0.5, 2.5, 0.05, 0.4},
    // Noise: even smoothed, a period's largest excursion rides on it a
    // little, so our shimmer reads 0.2-0.4 points high; the marks, matched
    // over whole periods, hold.
    {"a110_n20", 0.5, 0.5, 0.05, 0.3},
    {"a220_n20", 0.5, 0.5, 0.06, 0.35},
    {"a220_n10", 0.5, 0.5, 0.35, 0.5},
    {"a150_j1s4n20", 0.5, 0.8, 0.12, 0.45},
    {"a300_j05s3n30", 0.5, 1.0, 0.05, 0.2},
};

TEST(VoiceVsPraat, SustainedVowelsAgreeAtLeastAsWellAsBefore) {
  const auto praat = PraatFigures();
  ASSERT_EQ(praat.size(), std::size(Limits));
  std::map<std::string, test::TVowel> samples;
  for (const auto& s : test::SustainedVoiceSamples()) samples[s.Name] = s.Vowel;
  for (const TLimit& limit : Limits) {
    ASSERT_TRUE(samples.count(limit.Name) && praat.count(limit.Name)) << limit.Name;
    const TMedians ours = MeasureAsRendered(test::Synthesize(samples[limit.Name]));
    const TMedians& p = praat.at(limit.Name);
    EXPECT_NEAR(ours.Cpps, p.Cpps, limit.Cpps) << limit.Name;
    EXPECT_NEAR(ours.Hnr, p.Hnr, limit.Hnr) << limit.Name;
    EXPECT_NEAR(ours.Jitter, p.Jitter, limit.Jitter) << limit.Name;
    EXPECT_NEAR(ours.Shimmer, p.Shimmer, limit.Shimmer) << limit.Name;
  }
}

}  // namespace
}  // namespace quenvis
