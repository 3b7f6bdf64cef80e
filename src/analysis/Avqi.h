#pragma once
// The Acoustic Voice Quality Index, version 03.01 (Maryn et al. 2010;
// Barsties and Maryn 2015): one figure of dysphonia from a sustained vowel
// and connected speech. Both are high-passed (stop band 0-34 Hz); the
// speech's voiced parts (its loud stretches, then 30 ms pieces of them with
// more than 30 % of their mean power and fewer than 3000 zero crossings a
// second) are followed by the vowel's last 3 s, and six measures of that
// concatenation are weighed together:
//   AVQI = (4.152 - 0.177 CPPS - 0.006 HNR - 0.037 shimmer(%) + 0.941
//           shimmer(dB) + 0.01 slope + 0.093 tilt) x 2.8902.
// Mono sound at 44 100 Hz throughout.
#include <cstddef>
#include <vector>

#include "analysis/VoiceMeasure.h"

namespace quenvis {

struct TAvqi {
  double Cpps = NoMeasure;        // dB, mean over the concatenation
  double Hnr = NoMeasure;         // dB, mean over its voiced analyses
  double ShimmerPct = NoMeasure;  // local, %
  double ShimmerDb = NoMeasure;   // local, dB
  double Slope = NoMeasure;       // dB: LTAS level at 1-10 kHz against 0-1 kHz
  double Tilt = NoMeasure;        // dB: the same of the LTAS's trend line
  double Avqi = NoMeasure;
  double VowelSeconds = 0, SpeechSeconds = 0;  // of each in the concatenation
};

enum class EAvqiFailure { None, VowelTooShort, SpeechTooShort, NoVoice, NoPeriods };

// A half-open stretch of samples.
struct TSpan {
  std::size_t From = 0, To = 0;
};

class CAvqi {
 public:
  static constexpr double Rate = 44100;
  static constexpr double StopBelow = 34;      // Hz
  static constexpr double VowelSeconds = 3;    // taken from the vowel's end
  static constexpr double MinSeconds = 1;      // of either part, or no AVQI
  static constexpr double PieceSeconds = 0.03;  // the speech's voiced pieces
  static constexpr double MaxCrossings = 3000;  // a second: more is voiceless
  static constexpr double PowerShare = 0.3;     // of the loud stretches' mean

  // Zeroes the band below StopBelow (a Hann edge of 0.1 Hz), in place.
  static void HighPass(std::vector<double>& X);
  // The stretches of X whose intensity (64 ms windows every 3 ms) is within
  // 25 dB of its loudest, silences under 0.1 s bridged and sounds under
  // 0.1 s dropped; oldest first.
  static std::vector<TSpan> LoudSpans(const std::vector<double>& X);
  // The voiced pieces of connected speech, end to end.
  static std::vector<double> VoicedSpeech(const std::vector<double>& Speech);
  // The last VowelSeconds of the vowel's loud part (all of it when shorter).
  static std::vector<double> VowelPart(const std::vector<double>& Vowel);
  // Slope and tilt of X's long-term average spectrum in 1 Hz bands.
  static void LtasSlopes(const std::vector<double>& X, double& Slope, double& Tilt);
  static double Score(const TAvqi& Measures) noexcept;

  // All of it, on the two recordings as read (high-passed here).
  static EAvqiFailure Measure(std::vector<double> Vowel, std::vector<double> Speech, TAvqi& Out);
  // The six measures and the score of an already concatenated sound.
  static EAvqiFailure MeasureSound(const std::vector<double>& X, TAvqi& Out);
};

}  // namespace quenvis
