#include "support/VoiceSamples.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace quenvis::test {

namespace {

TVowel Open(double F0, double Jitter, double Shimmer, double SnrDb, std::uint32_t Seed) {
  TVowel v;
  v.F0 = F0;
  v.F = {700, 1220, 2600, 3300, 4200};
  // The synthesiser's share is uniform within +-: 1.5 times the local figure.
  v.Jitter = 1.5 * Jitter / 100;
  v.Shimmer = 1.5 * Shimmer / 100;
  v.SnrDb = SnrDb;
  v.Seconds = 2.5;
  v.Seed = Seed;
  return v;
}

}  // namespace

std::vector<TVoiceSample> SustainedVoiceSamples() {
  return {
      {"a110", Open(110, 0, 0, 0, 11)},          {"a220", Open(220, 0, 0, 0, 12)},
      {"a440", Open(440, 0, 0, 0, 13)},          {"a110_j1", Open(110, 1, 0, 0, 14)},
      {"a220_j1", Open(220, 1, 0, 0, 15)},       {"a110_s6", Open(110, 0, 6, 0, 16)},
      {"a220_s6", Open(220, 0, 6, 0, 17)},       {"a110_n20", Open(110, 0, 0, 20, 18)},
      {"a220_n20", Open(220, 0, 0, 20, 19)},     {"a220_n10", Open(220, 0, 0, 10, 20)},
      {"a150_j1s4n20", Open(150, 1, 4, 20, 21)}, {"a300_j05s3n30", Open(300, 0.5, 3, 30, 22)},
  };
}

std::vector<std::int16_t> SynthesizeSpeech(const TVowel& Voice) {
  // Syllables: a vowel of its own formants and pitch movement, then a pause
  // or a burst of noise (a fricative), as a read sentence has them.
  static constexpr double Formants[][3] = {
      {700, 1220, 2600}, {300, 2300, 3000}, {500, 1800, 2500}, {350, 900, 2300}, {600, 1000, 2450}};
  std::mt19937 rng(Voice.Seed + 7);
  std::normal_distribution<double> noise(0, 1);
  std::vector<std::int16_t> out;
  for (int s = 0; s < 16; ++s) {
    TVowel v = Voice;
    const auto& f = Formants[s % 5];
    v.F = {f[0], f[1], f[2], 3300, 4200};
    v.Seconds = 0.18 + 0.04 * (s % 3);
    v.F0 = Voice.F0 * (1 + 0.06 * std::sin(s * 0.9));
    v.GlideOctaves = s % 2 ? 0.1 : -0.1;
    v.GlideStart = 0;
    v.GlideSeconds = v.Seconds;
    v.Peak = 0.3 + 0.1 * (s % 2);
    v.Seed = Voice.Seed + 100 + static_cast<std::uint32_t>(s);
    const std::vector<std::int16_t> syllable = Synthesize(v);
    out.insert(out.end(), syllable.begin(), syllable.end());
    const auto gap = static_cast<std::size_t>((s % 3 == 2 ? 0.12 : 0.07) * SynthRate);
    for (std::size_t i = 0; i < gap; ++i) {
      // Every other gap a fricative: white noise, 30 dB under the vowels.
      const double x = s % 2 ? 0.01 * noise(rng) : 0.0003 * noise(rng);
      out.push_back(static_cast<std::int16_t>(std::clamp(std::nearbyint(x * 32768), -32768.0, 32767.0)));
    }
  }
  return out;
}

std::vector<TAvqiSample> AvqiSamples() {
  TVowel clean;
  clean.F0 = 200;
  clean.F = {700, 1220, 2600, 3300, 4200};
  clean.Seed = 31;
  TVowel man = clean;
  man.F0 = 115;
  man.Seed = 32;
  man.SnrDb = 35;
  TVowel rough = clean;
  rough.F0 = 180;
  rough.Jitter = 1.5 * 1.5 / 100;
  rough.Shimmer = 1.5 * 8.0 / 100;
  rough.SnrDb = 15;
  rough.Seed = 33;
  TVowel breathy = clean;
  breathy.F0 = 210;
  breathy.SnrDb = 8;
  breathy.Jitter = 1.5 * 0.8 / 100;
  breathy.Shimmer = 1.5 * 5.0 / 100;
  breathy.Seed = 34;
  return {{"clean", clean}, {"man", man}, {"rough", rough}, {"breathy", breathy}};
}

}  // namespace quenvis::test
