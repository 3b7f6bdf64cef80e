#include "analysis/Avqi.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/VoiceSamples.h"

namespace quenvis {
namespace {

std::vector<double> ToDouble(const std::vector<std::int16_t>& X) {
  std::vector<double> out(X.size());
  for (std::size_t i = 0; i < X.size(); ++i) out[i] = X[i] / 32768.0;
  return out;
}

std::vector<double> Tone(double Hz, double Seconds, double Amp = 0.3) {
  std::vector<double> x(static_cast<std::size_t>(Seconds * CAvqi::Rate));
  for (std::size_t i = 0; i < x.size(); ++i)
    x[i] = Amp * std::sin(2 * std::numbers::pi * Hz * static_cast<double>(i) / CAvqi::Rate);
  return x;
}

std::vector<double> Noise(double Seconds, double Sigma, std::uint32_t Seed) {
  std::mt19937 rng(Seed);
  std::normal_distribution<double> n(0, Sigma);
  std::vector<double> x(static_cast<std::size_t>(Seconds * CAvqi::Rate));
  for (double& v : x) v = n(rng);
  return x;
}

void Append(std::vector<double>& To, const std::vector<double>& X) {
  To.insert(To.end(), X.begin(), X.end());
}

TAvqi MeasurePair(const test::TAvqiSample& P, EAvqiFailure* Failure = nullptr) {
  test::TVowel vowel = P.Voice;
  vowel.Seconds = P.VowelSeconds;
  TAvqi out;
  const EAvqiFailure f = CAvqi::Measure(ToDouble(test::Synthesize(vowel)),
                                        ToDouble(test::SynthesizeSpeech(P.Voice)), out);
  if (Failure) *Failure = f;
  return out;
}

TEST(Avqi, HighPassRemovesOnlyTheLowestBand) {
  struct TCase {
    double Hz, Kept;  // share of the amplitude left
  } cases[] = {{20, 0.0}, {30, 0.0}, {40, 1.0}, {200, 1.0}};
  for (const TCase& c : cases) {
    std::vector<double> x = Tone(c.Hz, 2.0);
    CAvqi::HighPass(x);
    double peak = 0;
    for (std::size_t i = x.size() / 4; i < 3 * x.size() / 4; ++i) peak = std::max(peak, std::abs(x[i]));
    EXPECT_NEAR(peak / 0.3, c.Kept, 0.02) << c.Hz << " Hz";
  }
}

TEST(Avqi, LoudSpansBridgeShortSilencesAndDropShortSounds) {
  // 1 s tone, 50 ms gap (bridged), 0.5 s tone, 0.5 s silence, 10 ms tone
  // (dropped: the intensity window stretches it to under 0.1 s), 0.5 s
  // silence, 0.6 s tone.
  std::vector<double> x;
  Append(x, Tone(200, 1.0));
  Append(x, std::vector<double>(static_cast<std::size_t>(0.05 * CAvqi::Rate), 0.0));
  Append(x, Tone(200, 0.5));
  Append(x, std::vector<double>(static_cast<std::size_t>(0.5 * CAvqi::Rate), 0.0));
  Append(x, Tone(200, 0.01));
  Append(x, std::vector<double>(static_cast<std::size_t>(0.5 * CAvqi::Rate), 0.0));
  Append(x, Tone(200, 0.6));
  const std::vector<TSpan> spans = CAvqi::LoudSpans(x);
  ASSERT_EQ(spans.size(), 2u);
  const double tol = 0.04 * CAvqi::Rate;
  EXPECT_NEAR(static_cast<double>(spans[0].From), 0, tol);
  EXPECT_NEAR(static_cast<double>(spans[0].To), 1.55 * CAvqi::Rate, tol);
  EXPECT_NEAR(static_cast<double>(spans[1].From), 2.56 * CAvqi::Rate, tol);
  EXPECT_NEAR(static_cast<double>(spans[1].To), static_cast<double>(x.size()), tol);
  EXPECT_TRUE(CAvqi::LoudSpans(std::vector<double>(44100, 0.0)).empty());
}

TEST(Avqi, VoicedSpeechKeepsVoiceAndDropsHissAndQuiet) {
  // Voice (a 150 Hz tone), a hiss as loud (white noise: about 20 000
  // crossings a second), and voice 20 dB down (under 30 % of the power).
  std::vector<double> x;
  Append(x, Tone(150, 1.2, 0.3));
  Append(x, Noise(0.6, 0.3 / std::sqrt(2.0), 5));
  Append(x, Tone(150, 0.6, 0.03));
  Append(x, Tone(150, 0.9, 0.3));
  const std::vector<double> voiced = CAvqi::VoicedSpeech(x);
  EXPECT_NEAR(static_cast<double>(voiced.size()) / CAvqi::Rate, 2.1, 0.1);
  for (double v : voiced) ASSERT_LE(std::abs(v), 0.3 + 1e-9);
}

TEST(Avqi, VowelPartIsTheLastThreeSecondsOfTheVowel) {
  std::vector<double> x = std::vector<double>(static_cast<std::size_t>(0.5 * CAvqi::Rate), 0.0);
  Append(x, Tone(200, 4.0));
  Append(x, std::vector<double>(static_cast<std::size_t>(0.7 * CAvqi::Rate), 0.0));
  EXPECT_NEAR(static_cast<double>(CAvqi::VowelPart(x).size()) / CAvqi::Rate, 3.0, 0.04);
  std::vector<double> shortVowel = Tone(200, 1.5);
  EXPECT_NEAR(static_cast<double>(CAvqi::VowelPart(shortVowel).size()) / CAvqi::Rate, 1.5, 0.04);
}

TEST(Avqi, LtasSlopeAndTiltOfKnownSpectra) {
  // White noise is level: both near 0 dB. A first difference of it rises
  // 6 dB an octave, so the bands above 1 kHz are far louder than below.
  std::vector<double> white = Noise(3, 0.1, 9);
  double slope = 0, tilt = 0;
  CAvqi::LtasSlopes(white, slope, tilt);
  EXPECT_NEAR(slope, 0, 0.3);
  EXPECT_NEAR(tilt, 0, 0.3);
  std::vector<double> bright(white.size());
  for (std::size_t i = 1; i < white.size(); ++i) bright[i] = white[i] - white[i - 1];
  CAvqi::LtasSlopes(bright, slope, tilt);
  EXPECT_GT(slope, 10);
  EXPECT_GT(tilt, 5);
}

TEST(Avqi, BadInputsAreRefused) {
  TAvqi out;
  const std::vector<double> speech = ToDouble(test::SynthesizeSpeech(test::AvqiSamples()[0].Voice));
  EXPECT_EQ(CAvqi::Measure(Tone(200, 0.6), speech, out), EAvqiFailure::VowelTooShort);
  EXPECT_EQ(CAvqi::Measure({}, speech, out), EAvqiFailure::VowelTooShort);
  EXPECT_EQ(CAvqi::Measure(Tone(200, 3), std::vector<double>(44100 * 4, 0.0), out),
            EAvqiFailure::SpeechTooShort);
  EXPECT_EQ(CAvqi::Measure(Tone(200, 3), {}, out), EAvqiFailure::SpeechTooShort);
  // Hiss only: loud, but no piece of it is voiced.
  EXPECT_EQ(CAvqi::Measure(Tone(200, 3), Noise(4, 0.1, 3), out), EAvqiFailure::SpeechTooShort);
  // Noise for a vowel and a hum for speech: nothing with periods.
  const EAvqiFailure f = CAvqi::Measure(Noise(3, 0.1, 4), Tone(60, 4, 0.0001), out);
  EXPECT_NE(f, EAvqiFailure::None);
  EXPECT_FALSE(Measured(out.Avqi));
}

// Praat's figures of the same synthetic pairs (scripts/voice-vs-praat.sh
// --write-data), and how far from them each may be today.
std::map<std::string, std::map<std::string, double>> ReadTable(const std::string& Name) {
  std::ifstream in(std::string(QUENVIS_VOICE_REFERENCE_DIR) + "/" + Name);
  std::map<std::string, std::map<std::string, double>> rows;
  std::string line;
  std::vector<std::string> header;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> cells;
    std::stringstream s(line);
    for (std::string c; std::getline(s, c, ',');) cells.push_back(c);
    if (header.empty()) {
      header = cells;
      continue;
    }
    for (std::size_t i = 1; i < cells.size() && i < header.size(); ++i)
      rows[cells[0]][header[i]] = std::stod(cells[i]);
  }
  return rows;
}

TEST(Avqi, AgreesWithPraatOnTheSamePairs) {
  const auto praat = ReadTable("avqi.csv");
  ASSERT_GE(praat.size(), 3u);
  for (const auto& pair : test::AvqiSamples()) {
    const auto row = praat.find(pair.Name);
    if (row == praat.end()) continue;
    const TAvqi ours = MeasurePair(pair);
    ASSERT_TRUE(Measured(ours.Avqi)) << pair.Name;
    const auto& p = row->second;
    ASSERT_EQ(p.size(), 7u) << pair.Name;
    // The long-term spectrum is computed as Praat does: exactly.
    EXPECT_NEAR(ours.Slope, p.at("slope"), 0.2) << pair.Name;
    EXPECT_NEAR(ours.Tilt, p.at("tilt"), 0.2) << pair.Name;
    // The rest within the targets (CPPS 0.5 dB, the index 0.3) or as close
    // as today (see the README): a change that widens a gap fails here.
    // The HNR of the clean pair is each program's arithmetic, not a measure.
    EXPECT_NEAR(ours.Cpps, p.at("cpps"), 0.5) << pair.Name;
    EXPECT_NEAR(ours.Hnr, p.at("hnr"), pair.Name == "clean" ? 12.0 : 0.5) << pair.Name;
    EXPECT_NEAR(ours.ShimmerDb, p.at("shimmer_db"), 0.02) << pair.Name;
    EXPECT_NEAR(ours.ShimmerPct, p.at("shimmer_pct"), 0.2) << pair.Name;
    EXPECT_NEAR(ours.Avqi, p.at("avqi"), 0.3) << pair.Name;
  }
}

TEST(Avqi, ACleanVoiceScoresLowerThanARoughOne) {
  std::map<std::string, double> score;
  for (const auto& pair : test::AvqiSamples()) {
    EAvqiFailure f = EAvqiFailure::None;
    const TAvqi m = MeasurePair(pair, &f);
    if (f == EAvqiFailure::None) score[pair.Name] = m.Avqi;
  }
  ASSERT_TRUE(score.count("clean") && score.count("man") && score.count("rough"));
  // Below the published threshold of dysphonia (2.43) for the healthy
  // voices, above it for the rough one.
  EXPECT_LT(score["clean"], 2.43);
  EXPECT_LT(score["man"], 2.43);
  EXPECT_GT(score["rough"], 2.43);
}

}  // namespace
}  // namespace quenvis
