#pragma once
// The synthetic voices measured against Praat: sustained vowels of known
// pitch, jitter, shimmer and noise, and a "connected speech" of short
// vowels, glides, pauses and noise bursts. bench/make_voice_samples writes
// them as WAV files for Praat; the tests synthesise the same samples (the
// synthesiser is deterministic) and compare with Praat's stored figures.
#include <cstdint>
#include <string>
#include <vector>

#include "support/VowelSynth.h"

namespace quenvis::test {

struct TVoiceSample {
  std::string Name;
  TVowel Vowel;
};

// The sustained vowels, 2.5 s each.
std::vector<TVoiceSample> SustainedVoiceSamples();

// Connected speech of a voice like Vowel (its pitch, jitter, shimmer and
// noise), about 5 s long.
std::vector<std::int16_t> SynthesizeSpeech(const TVowel& Voice);

// The AVQI pairs: a sustained vowel and speech of one voice each.
struct TAvqiSample {
  std::string Name;
  TVowel Voice;
  double VowelSeconds = 3.5;
};
std::vector<TAvqiSample> AvqiSamples();

}  // namespace quenvis::test
