#pragma once
// Every voice measure of one moment, from the blocks the formant estimator
// takes and its result for them: CPPS, HNR, the harmonic levels, jitter and
// shimmer, vibrato, and the band ratios of ring and tilt. Feed it what the
// estimator is fed, and Analyse with what the estimator's Analyse returned.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "analysis/CepstralPeak.h"
#include "analysis/FormantTracker.h"
#include "analysis/HarmonicPeaks.h"
#include "analysis/PeriodMarks.h"
#include "analysis/Vibrato.h"
#include "analysis/VoiceMeasure.h"

namespace quenvis {

// NaN where a measure is unknown: silence, an unvoiced moment, or too short
// a stretch of voice for the measures of periods (0.25 s for jitter and
// shimmer, 1 s for vibrato, which also needs the pitch to swing at 3-9 Hz).
struct TVoice {
  double Cpps = NoMeasure;                                                                 // dB
  double Hnr = NoMeasure;                                                                  // dB
  double H1H2 = NoMeasure, H1H2Corrected = NoMeasure, H1A1 = NoMeasure, H1A3 = NoMeasure;  // dB
  double JitterPct = NoMeasure;   // local, %
  double ShimmerPct = NoMeasure;  // local, %
  double ShimmerDb = NoMeasure;   // local, dB
  double VibratoHz = NoMeasure, VibratoCents = NoMeasure, VibratoRegularity = NoMeasure;
  double SingingPowerRatio = NoMeasure, AlphaRatio = NoMeasure;  // dB
  bool Voiced = false;
};

class CVoiceMeasures {
 public:
  static constexpr double SampleRate = CFormantTracker::SampleRate;
  static constexpr int BlockFrames = CFormantTracker::BlockFrames;
  static constexpr double JitterSeconds = 1.0;  // looked back over
  static constexpr double VibratoSeconds = 1.5;

  CVoiceMeasures();  // sizes everything; std::bad_alloc when it cannot
  CVoiceMeasures(const CVoiceMeasures&) = delete;
  CVoiceMeasures& operator=(const CVoiceMeasures&) = delete;

  void Reset() noexcept;
  // As CFormantTracker::Feed and Process. Given the estimator that was just
  // fed the same frames, its decimated input is taken instead of decimating
  // again (the same samples, but where it redrew clipped peaks).
  void Feed(const void* Data, int Frames, const CFormantTracker* Fed = nullptr) noexcept {
    Feed(Data, Frames, Fed ? Fed->Rate2Signal() : std::span<const double>{},
         Fed ? Fed->Rate4Signal() : std::span<const double>{});
  }
  // The same, given that input as the estimator left it, at 22 050 and
  // 11 025 Hz, the latest last (too short: decimated here).
  void Feed(const void* Data, int Frames, std::span<const double> Rate2,
            std::span<const double> Rate4) noexcept;
  // Given the estimator whose Analyse gave Formants, its spectrum of the
  // same samples is taken instead of computing it again.
  TVoice Analyse(const TFormants& Formants, const CFormantTracker* Analysed = nullptr) noexcept;
  TVoice Process(const void* Block, const TFormants& Formants,
                 const CFormantTracker* Fed = nullptr) noexcept {
    Feed(Block, BlockFrames, Fed);
    return Analyse(Formants, Fed);
  }

 private:
  static constexpr int History = static_cast<int>(VibratoSeconds * SampleRate) + 2048;
  static constexpr int Rate2Len = CHarmonicSpectrum::Frame;
  static constexpr int Tail = HalfbandTaps - 1;

  // Mono at 44 100 Hz: the latest History samples end at FEnd; a buffer
  // twice as long moves them back only when it fills.
  std::vector<double> FIn;
  std::size_t FEnd = 0;
  std::int64_t FFed = 0;  // input frames since Reset: where the period marks are
  std::array<double, Rate2Len + Tail> FRate2{};
  std::array<double, CCepstralPeak::Span> FRate4{};

  CHarmonicSpectrum FSpectrum;
  CCepstralPeak FCepstrum;
  CPeriodMarks FMarks;
  CVibrato FVibrato;
};

}  // namespace quenvis
