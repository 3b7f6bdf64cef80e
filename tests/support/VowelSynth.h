#pragma once
// A small cascade formant synthesiser for testing formant estimators against
// vowels whose formants are known exactly.
#include <array>
#include <cstdint>
#include <vector>

namespace quenvis::test {

struct TVowel {
  double F0 = 120;                                 // Hz, mean pitch
  std::array<double, 5> F{};                       // F1..F5, Hz
  std::array<double, 5> B{70, 90, 130, 180, 250};  // bandwidths, Hz
  bool Vibrato = false;                            // at the rate and depth below
  double VibratoHz = 5, VibratoDepth = 0.02;       // depth: share of F0
  double VibratoCents = 0;                         // instead of the depth when set: +- cents
  double Jitter = 0;                               // each period off by up to this share
  double Shimmer = 0;                              // each pulse's size off by up to this share
  double SnrDb = 0;                                // noise at this SNR; 0 for none
  bool PinkNoise = false;                          // else white
  double ReverbSeconds = 0;                        // a room's decay time (RT60); 0 for none
  double GlideOctaves = 0;                         // pitch moves by this much (up if > 0)
  double GlideStart = 0, GlideSeconds = 0;         // s, when and how fast
  double HighPassHz = 0;                           // a small microphone's or a telephone's cut
  double Peak = 0.5;                               // share of full scale; above 1 clips
  double Seconds = 3;
  std::uint32_t Seed = 1;
};

inline constexpr double SynthRate = 44100;

// Pitch at time T (s), vibrato and glide included.
double PitchAt(const TVowel& Vowel, double T);

// The glottal pulses a synthesis placed: their times (s) and sizes.
struct TPulses {
  std::vector<double> Time, Size;
};

// Mono samples: a pulse train (pulses placed between samples by linear
// interpolation) through a glottal low-pass and lip radiation (about -6 dB per
// octave overall) and five cascade resonators, then a room if asked for, then
// the noise, then the high-pass if asked for; peak at Peak of full scale,
// clipped at the rails. Pulses, when given, receives the pulses.
std::vector<std::int16_t> Synthesize(const TVowel& Vowel, TPulses* Pulses = nullptr);

// The local jitter and shimmer (%) of the pulses between From and To (s):
// the mean absolute difference of consecutive periods (sizes) over their mean.
double PulseJitter(const TPulses& Pulses, double From, double To);
double PulseShimmer(const TPulses& Pulses, double From, double To);

// Frames (2048: a block) of interleaved stereo (both channels equal) from
// mono samples starting at First; samples past the end are zero.
std::vector<unsigned char> StereoBlock(const std::vector<std::int16_t>& Mono, std::size_t First,
                                       int Frames = 2048);

}  // namespace quenvis::test
