#include "analysis/VoiceMeasures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <iterator>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "analysis/HarmonicLevels.h"
#include "support/AllocationCounter.h"
#include "support/VowelSynth.h"

namespace quenvis {
namespace {

using test::TVowel;

constexpr double BlockSeconds = CVoiceMeasures::BlockFrames / test::SynthRate;
constexpr double Pitches[] = {110, 220, 440};

TVowel OpenVowel(double F0, double Seconds) {
  TVowel v;
  v.F0 = F0;
  v.F = {700, 1220, 2600, 3300, 4200};
  v.Seconds = Seconds;
  return v;
}

// Every block's measures, the estimator's result fed to them as live.
std::vector<TVoice> Measure(const std::vector<std::int16_t>& Mono) {
  auto tracker = std::make_unique<CFormantTracker>();
  auto voice = std::make_unique<CVoiceMeasures>();
  std::vector<TVoice> out;
  for (std::size_t first = 0; first + CVoiceMeasures::BlockFrames <= Mono.size();
       first += CVoiceMeasures::BlockFrames) {
    const auto block = test::StereoBlock(Mono, first);
    const TFormants f = tracker->Process(block.data());
    out.push_back(voice->Process(block.data(), f));
  }
  return out;
}

double Median(std::vector<double> V) {
  if (V.empty()) return NoMeasure;
  std::sort(V.begin(), V.end());
  const std::size_t n = V.size();
  return n % 2 ? V[n / 2] : 0.5 * (V[n / 2 - 1] + V[n / 2]);
}

// The median of one measure over the blocks from From seconds on.
template <typename Field>
double MedianFrom(const std::vector<TVoice>& Voice, double From, Field F) {
  std::vector<double> v;
  for (std::size_t b = 0; b < Voice.size(); ++b)
    if ((b + 1) * BlockSeconds >= From && Measured(Voice[b].*F)) v.push_back(Voice[b].*F);
  return Median(v);
}

double EndOf(const std::vector<TVoice>& Voice) { return Voice.size() * BlockSeconds; }

// The synthesiser's period (size) changes are uniform within +- its share,
// so their mean absolute difference is two thirds of it.
constexpr double UniformToLocal = 1.5;

// Jitter within 0.2 points of the synthesiser's own at every pitch, clean
// and in white noise at 30 and 20 dB (0: none).
TEST(VoiceMeasures, JitterOfSyntheticVoices) {
  struct TCase {
    double Jitter, SnrDb;
  };
  const TCase cases[] = {{0, 0}, {0.5, 0}, {1, 0}, {2, 0}, {0, 30}, {1, 30}, {1, 20}, {2, 20}};
  for (const double f0 : Pitches)
    for (const TCase c : cases) {
      TVowel v = OpenVowel(f0, 1.6);
      v.Jitter = UniformToLocal * c.Jitter / 100;
      v.SnrDb = c.SnrDb;
      v.Seed = static_cast<std::uint32_t>(f0 + 10 * c.Jitter + c.SnrDb);
      test::TPulses pulses;
      const auto voice = Measure(test::Synthesize(v, &pulses));
      const double end = EndOf(voice);
      const double truth = test::PulseJitter(pulses, end - CVoiceMeasures::JitterSeconds, end);
      const TVoice& last = voice.back();
      ASSERT_TRUE(Measured(last.JitterPct))
          << f0 << " Hz, " << c.Jitter << " %, " << c.SnrDb << " dB";
      EXPECT_NEAR(last.JitterPct, truth, 0.2)
          << f0 << " Hz, " << c.Jitter << " %, " << c.SnrDb << " dB";
      // A steady pitch has no vibrato, however rough.
      EXPECT_FALSE(Measured(last.VibratoHz))
          << f0 << " Hz, " << c.Jitter << " %, " << c.SnrDb << " dB";
    }
}

TEST(VoiceMeasures, ShimmerOfSyntheticVoices) {
  struct TCase {
    double Shimmer, SnrDb, Tolerance;  // %, dB (0: none), points
  };
  // In noise each period's peak carries some of it: a steady voice with
  // 20 dB of white noise reads 0.9-1.4 %, and read 2-3 % when the peaks
  // were taken from the waveform unsmoothed.
  const TCase cases[] = {{0, 0, 1.0}, {3, 0, 1.0}, {6, 0, 1.0}, {0, 20, 1.6}, {3, 20, 1.0}};
  for (const double f0 : Pitches)
    for (const TCase c : cases) {
      TVowel v = OpenVowel(f0, 1.6);
      v.Shimmer = UniformToLocal * c.Shimmer / 100;
      v.SnrDb = c.SnrDb;
      v.Seed = static_cast<std::uint32_t>(f0 + 10 * c.Shimmer + c.SnrDb);
      test::TPulses pulses;
      const auto voice = Measure(test::Synthesize(v, &pulses));
      const double end = EndOf(voice);
      const double truth = test::PulseShimmer(pulses, end - CVoiceMeasures::JitterSeconds, end);
      const TVoice& last = voice.back();
      SCOPED_TRACE(testing::Message() << f0 << " Hz, " << c.Shimmer << " %, " << c.SnrDb << " dB");
      ASSERT_TRUE(Measured(last.ShimmerPct));
      // The waveform's excursions carry the ringing of the period before
      // less than the slope's peaks did: within a point at every pitch.
      EXPECT_NEAR(last.ShimmerPct, truth, c.Tolerance);
      // In dB, a small relative change d is 8.69 d dB.
      EXPECT_NEAR(last.ShimmerDb, 20 * std::log10(1 + truth / 100),
                  0.1 + 0.02 * c.Shimmer + 0.05 * (c.SnrDb > 0));
      if (c.SnrDb == 0) {
        EXPECT_LT(last.JitterPct, f0 < 400 ? 0.3 : 0.8);
      }
    }
}

TEST(VoiceMeasures, HarmonicityOfVoicesInNoise) {
  for (const double f0 : Pitches)
    for (const double hnr : {30.0, 20.0, 10.0}) {
      TVowel v = OpenVowel(f0, 1.0);
      v.SnrDb = hnr;
      v.Seed = static_cast<std::uint32_t>(f0 + hnr);
      const auto voice = Measure(test::Synthesize(v));
      EXPECT_NEAR(MedianFrom(voice, 0.2, &TVoice::Hnr), hnr, 2.0) << f0 << " Hz, " << hnr << " dB";
    }
}

TEST(VoiceMeasures, VibratoRateAndExtent) {
  struct TCase {
    double Rate, Cents;
  };
  for (const double f0 : Pitches)
    for (const TCase c : {TCase{5.5, 50}, TCase{5.5, 100}, TCase{4, 50}, TCase{7, 100}}) {
      TVowel v = OpenVowel(f0, 2.4);
      v.Vibrato = true;
      v.VibratoHz = c.Rate;
      v.VibratoCents = c.Cents;
      const auto voice = Measure(test::Synthesize(v));
      const TVoice& last = voice.back();
      ASSERT_TRUE(Measured(last.VibratoHz)) << f0 << " Hz, " << c.Rate << " Hz " << c.Cents;
      EXPECT_NEAR(last.VibratoHz, c.Rate, 0.2) << f0 << " Hz, " << c.Rate << " Hz " << c.Cents;
      EXPECT_NEAR(last.VibratoCents, c.Cents, 0.1 * c.Cents)
          << f0 << " Hz, " << c.Rate << " Hz " << c.Cents;
      EXPECT_GT(last.VibratoRegularity, 0.8) << f0 << " Hz, " << c.Rate << " Hz " << c.Cents;
    }
}

TEST(VoiceMeasures, CepstralPeakFallsWithNoise) {
  for (const double f0 : Pitches) {
    double clean = 0, noisy = 0;
    for (const double snr : {40.0, 5.0}) {
      TVowel v = OpenVowel(f0, 0.8);
      v.SnrDb = snr;
      const double cpps = MedianFrom(Measure(test::Synthesize(v)), 0.2, &TVoice::Cpps);
      ASSERT_TRUE(Measured(cpps)) << f0;
      (snr > 10 ? clean : noisy) = cpps;
    }
    EXPECT_GT(clean, noisy + 5) << f0;
    EXPECT_GT(noisy, 0) << f0;
  }
}

// The correction for the formants' boost leaves the source's own H1-H2,
// wherever F1 lies: for the synthesiser's, the glottal low-pass (two poles
// at 100 Hz) and the lip radiation (a first difference).
TEST(VoiceMeasures, CorrectedH1H2IsTheSources) {
  const auto source = [](double Hz) {
    const double g = std::exp(-2 * M_PI * 100 / test::SynthRate);
    const std::complex<double> z = std::polar(1.0, 2 * M_PI * Hz / test::SynthRate);
    const std::complex<double> pole = (1 - g) / (1.0 - g / z);
    return 20 * std::log10(std::abs(pole * pole * (1.0 - 1.0 / z)));
  };
  for (const double f0 : {110.0, 220.0}) {
    std::vector<double> raw;
    for (const double f1 : {2 * f0, 800.0}) {
      TVowel v = OpenVowel(f0, 0.8);
      v.F[0] = f1;
      const auto voice = Measure(test::Synthesize(v));
      const double corrected = MedianFrom(voice, 0.2, &TVoice::H1H2Corrected);
      EXPECT_NEAR(corrected, source(f0) - source(2 * f0), 2.0) << f0 << " Hz, F1 " << f1;
      raw.push_back(MedianFrom(voice, 0.2, &TVoice::H1H2));
    }
    // F1 on the second harmonic lifts it far more than at 800 Hz.
    EXPECT_LT(raw[0], raw[1] - 3) << f0;
  }
}

TEST(VoiceMeasures, ResonatorGain) {
  EXPECT_NEAR(CHarmonicLevels::ResonatorGain(0, 500, 80), 0, 1e-9);
  // At its frequency a narrow resonator lifts by about F / B (dB of it).
  EXPECT_NEAR(CHarmonicLevels::ResonatorGain(500, 500, 50), 20 * std::log10(500.0 / 50), 0.5);
  EXPECT_LT(CHarmonicLevels::ResonatorGain(4000, 500, 80), -20);
}

// White noise has equal power per hertz: the energy of 1-5 kHz is 4000/950
// of 50 Hz-1 kHz's, and the strongest bins of the two bands are alike.
TEST(VoiceMeasures, BandRatiosOfWhiteNoise) {
  std::mt19937 rng(7);
  std::normal_distribution<double> white(0, 3000);
  std::vector<std::int16_t> mono(44100);
  for (auto& s : mono)
    s = static_cast<std::int16_t>(std::clamp(std::nearbyint(white(rng)), -32767.0, 32767.0));
  const auto voice = Measure(mono);
  EXPECT_NEAR(MedianFrom(voice, 0.1, &TVoice::AlphaRatio), 10 * std::log10(4000.0 / 950), 0.5);
  EXPECT_NEAR(MedianFrom(voice, 0.1, &TVoice::SingingPowerRatio), 0, 3);
  for (const TVoice& v : voice) EXPECT_FALSE(Measured(v.JitterPct) || Measured(v.Hnr));
}

// A strong singer's formant (F3 to F5 close together near 3 kHz) raises the
// singing power ratio.
TEST(VoiceMeasures, SingersFormantRaisesTheRatio) {
  TVowel plain = OpenVowel(220, 0.6), ringing = plain;
  ringing.F = {700, 1220, 2700, 3000, 3300};
  const double a = MedianFrom(Measure(test::Synthesize(plain)), 0.2, &TVoice::SingingPowerRatio);
  const double b = MedianFrom(Measure(test::Synthesize(ringing)), 0.2, &TVoice::SingingPowerRatio);
  EXPECT_GT(b, a + 6);
}

TEST(VoiceMeasures, SilenceAndShortVoiceMeasureNothing) {
  // Silence, then 0.2 s of voice: too short for the measures of periods.
  std::vector<std::int16_t> mono(22050, 0);
  const auto vowel = test::Synthesize(OpenVowel(150, 0.2));
  mono.insert(mono.end(), vowel.begin(), vowel.end());
  const auto voice = Measure(mono);
  for (std::size_t b = 0; b < voice.size(); ++b) {
    const TVoice& v = voice[b];
    EXPECT_FALSE(Measured(v.JitterPct) || Measured(v.ShimmerPct) || Measured(v.VibratoHz)) << b;
    if ((b + 1) * BlockSeconds < 0.45) {
      EXPECT_FALSE(v.Voiced || Measured(v.Cpps) || Measured(v.AlphaRatio) || Measured(v.Hnr)) << b;
    }
  }
  // The voice itself is measured.
  EXPECT_TRUE(Measured(voice.back().Hnr));
  EXPECT_TRUE(Measured(voice.back().Cpps));
}

// Whatever the blocks and whatever an estimator hands over, every measure is
// a finite number or unknown, and the measures of periods need a pitch the
// estimator could give.
TEST(VoiceMeasures, BadInputGivesNoNonFinite) {
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  constexpr double inf = std::numeric_limits<double>::infinity();
  const double pitches[] = {nan, inf, -inf, -100, 0, 1e-300, 5, 59, 1101, 1e300, 150};
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> any(-32768, 32767);
  auto voice = std::make_unique<CVoiceMeasures>();
  std::vector<unsigned char> block(4 * CVoiceMeasures::BlockFrames);
  for (int b = 0; b < 120; ++b) {
    // Noise, full-scale square waves, silence, and a short feed now and then.
    for (std::size_t i = 0; i < block.size() / 4; ++i) {
      const int v = b % 3 == 0 ? any(rng) : b % 3 == 1 ? ((i / 37) % 2 ? 32767 : -32768) : 0;
      for (std::size_t c = 0; c < 2; ++c) {
        block[4 * i + 2 * c] = static_cast<unsigned char>(v & 0xFF);
        block[4 * i + 2 * c + 1] = static_cast<unsigned char>((v >> 8) & 0xFF);
      }
    }
    TFormants f;
    f.Voiced = b % 2 == 0;
    f.F0 = pitches[static_cast<std::size_t>(b) % std::size(pitches)];
    f.F = {b % 5 == 0 ? nan : 500.0, b % 7 == 0 ? 1e300 : 1500.0, -1};
    f.B = {b % 4 == 0 ? inf : 80.0, 0, 100};
    voice->Feed(block.data(), b % 10 == 9 ? 7 : CVoiceMeasures::BlockFrames);
    const TVoice v = voice->Analyse(f);
    for (const double x : {v.Cpps, v.Hnr, v.H1H2, v.H1H2Corrected, v.H1A1, v.H1A3, v.JitterPct,
                           v.ShimmerPct, v.ShimmerDb, v.VibratoHz, v.VibratoCents,
                           v.VibratoRegularity, v.SingingPowerRatio, v.AlphaRatio})
      EXPECT_FALSE(std::isinf(x)) << b;
    if (!(f.F0 >= 60 && f.F0 <= 1100)) {
      EXPECT_FALSE(v.Voiced || Measured(v.Hnr) || Measured(v.JitterPct) || Measured(v.H1H2)) << b;
    }
    EXPECT_FALSE(Measured(v.H1A1) && !(f.F[0] > 0 && f.F[0] < 11025)) << b;
  }
}

// Fed the formant estimator's decimated input, the measures are those of
// their own decimation, at a block a time and at 10 ms hops (which split
// blocks unevenly: the estimator's filter once carried a wrong tail from a
// feed of one length into a feed of another).
TEST(VoiceMeasures, SharingTheEstimatorsDecimationChangesNothing) {
  TVowel v = OpenVowel(180, 1.5);
  v.Jitter = 0.01;
  v.SnrDb = 30;
  const auto mono = test::Synthesize(v);
  for (const int hop : {CVoiceMeasures::BlockFrames, 440}) {
    auto tracker = std::make_unique<CFormantTracker>();
    auto own = std::make_unique<CVoiceMeasures>();
    auto shared = std::make_unique<CVoiceMeasures>();
    int compared = 0;
    for (std::size_t first = 0; first + CVoiceMeasures::BlockFrames <= mono.size();
         first += CVoiceMeasures::BlockFrames) {
      const auto block = test::StereoBlock(mono, first);
      for (int at = 0; at < CVoiceMeasures::BlockFrames; at += hop) {
        const int n = std::min(hop, CVoiceMeasures::BlockFrames - at);
        const unsigned char* data = block.data() + 4 * at;
        tracker->Feed(data, n);
        own->Feed(data, n);
        shared->Feed(data, n, tracker.get());
        const TFormants f = tracker->Analyse();
        const TVoice a = own->Analyse(f), b = shared->Analyse(f);
        const double pairs[][2] = {{a.Cpps, b.Cpps},
                                   {a.Hnr, b.Hnr},
                                   {a.H1H2, b.H1H2},
                                   {a.JitterPct, b.JitterPct},
                                   {a.AlphaRatio, b.AlphaRatio}};
        for (const auto& p : pairs) {
          ASSERT_EQ(Measured(p[0]), Measured(p[1])) << hop << " " << first;
          if (Measured(p[0])) {
            EXPECT_NEAR(p[0], p[1], 1e-9 * (1 + std::abs(p[0]))) << hop;
          }
        }
        compared += Measured(a.Cpps) && Measured(a.JitterPct);
      }
    }
    EXPECT_GT(compared, 10) << hop;
  }
}

// Given the estimator that analysed the same input, its spectrum stands in
// for the measures' own: every measure the same to the bit. Where the
// estimator was fed again without analysing (its spectrum then of earlier
// input), the measures compute their own.
TEST(VoiceMeasures, SharingTheEstimatorsSpectrumChangesNothing) {
  TVowel v = OpenVowel(200, 1.2);
  v.Jitter = 0.01;
  v.SnrDb = 25;
  const auto mono = test::Synthesize(v);
  auto tracker = std::make_unique<CFormantTracker>();
  auto own = std::make_unique<CVoiceMeasures>();
  auto shared = std::make_unique<CVoiceMeasures>();
  constexpr int hop = 440;
  TFormants f;
  int compared = 0, step = 0;
  for (std::size_t first = 0; first + CVoiceMeasures::BlockFrames <= mono.size();
       first += CVoiceMeasures::BlockFrames) {
    const auto block = test::StereoBlock(mono, first);
    for (int at = 0; at < CVoiceMeasures::BlockFrames; at += hop, ++step) {
      const int n = std::min(hop, CVoiceMeasures::BlockFrames - at);
      const unsigned char* data = block.data() + 4 * at;
      tracker->Feed(data, n);
      own->Feed(data, n, tracker.get());
      shared->Feed(data, n, tracker.get());
      if (step % 3 != 2) f = tracker->Analyse();
      const TVoice a = own->Analyse(f), b = shared->Analyse(f, tracker.get());
      const double pairs[][2] = {{a.Cpps, b.Cpps},
                                 {a.H1H2, b.H1H2},
                                 {a.H1H2Corrected, b.H1H2Corrected},
                                 {a.H1A1, b.H1A1},
                                 {a.H1A3, b.H1A3},
                                 {a.SingingPowerRatio, b.SingingPowerRatio},
                                 {a.AlphaRatio, b.AlphaRatio}};
      for (const auto& p : pairs) {
        ASSERT_EQ(Measured(p[0]), Measured(p[1])) << first << " + " << at;
        if (Measured(p[0])) {
          ASSERT_EQ(p[0], p[1]) << first << " + " << at;
        }
      }
      compared += Measured(a.H1A1) && Measured(a.AlphaRatio);
    }
  }
  EXPECT_GT(compared, 50);
}

TEST(VoiceMeasures, AnalyseAllocatesNothing) {
  TVowel v = OpenVowel(200, 2.2);
  v.Vibrato = true;
  v.VibratoCents = 60;
  v.Jitter = 0.01;
  const auto mono = test::Synthesize(v);
  auto tracker = std::make_unique<CFormantTracker>();
  auto voice = std::make_unique<CVoiceMeasures>();
  std::vector<std::vector<unsigned char>> blocks;
  for (std::size_t first = 0; first + 2048 <= mono.size(); first += 2048)
    blocks.push_back(test::StereoBlock(mono, first));
  const auto before = test::AllocationCount();
  TVoice last;
  for (const auto& b : blocks) last = voice->Process(b.data(), tracker->Process(b.data()));
  EXPECT_EQ(test::AllocationCount(), before);
  EXPECT_TRUE(Measured(last.VibratoHz));
}

}  // namespace
}  // namespace quenvis
