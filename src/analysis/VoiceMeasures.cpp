#include "analysis/VoiceMeasures.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <span>

#include "analysis/HarmonicLevels.h"
#include "analysis/Harmonicity.h"
#include "analysis/JitterShimmer.h"
#include "analysis/PitchEstimator.h"
#include "analysis/BandRatios.h"

namespace quenvis {

CVoiceMeasures::CVoiceMeasures() : FIn(2 * static_cast<std::size_t>(History), 0.0) { Reset(); }

void CVoiceMeasures::Reset() noexcept {
  std::fill(FIn.begin(), FIn.end(), 0.0);
  FEnd = static_cast<std::size_t>(History);
  FFed = 0;
  FMarks.Reset();
  FRate2.fill(0);
  FRate4.fill(0);
}

void CVoiceMeasures::Feed(const void* Data, int Frames, std::span<const double> Rate2,
                          std::span<const double> Rate4) noexcept {
  Frames = std::clamp(Frames / 4 * 4, 0, BlockFrames);
  if (Frames == 0) return;
  const auto history = static_cast<std::size_t>(History);
  if (FEnd + static_cast<std::size_t>(Frames) > FIn.size()) {
    std::memmove(FIn.data(), FIn.data() + FEnd - history, history * sizeof(double));
    FEnd = history;
  }
  const auto* bytes = static_cast<const unsigned char*>(Data);
  double* in = FIn.data() + FEnd;
  for (int i = 0; i < Frames; ++i) {
    const auto l = static_cast<std::int16_t>(bytes[4 * i] | (bytes[4 * i + 1] << 8));
    const auto r = static_cast<std::int16_t>(bytes[4 * i + 2] | (bytes[4 * i + 3] << 8));
    in[i] = (l + r) / 65536.0;
  }
  FEnd += static_cast<std::size_t>(Frames);
  FFed += Frames;
  // Down to 22 050 and 11 025 Hz as the formant estimator goes.
  const int new2 = Frames / 2;
  std::memmove(FRate2.data(), FRate2.data() + new2, (FRate2.size() - new2) * sizeof(double));
  double* to2 = FRate2.data() + FRate2.size() - new2;
  const int new4 = Frames / 4;
  std::memmove(FRate4.data(), FRate4.data() + new4, (FRate4.size() - new4) * sizeof(double));
  double* to4 = FRate4.data() + FRate4.size() - new4;
  if (Rate2.size() >= static_cast<std::size_t>(new2) &&
      Rate4.size() >= static_cast<std::size_t>(new4)) {
    std::copy(Rate2.end() - new2, Rate2.end(), to2);
    std::copy(Rate4.end() - new4, Rate4.end(), to4);
    return;
  }
  HalfbandDecimate(in - Tail, to2, new2);
  HalfbandDecimate(to2 - Tail, to4, new4);
}

TVoice CVoiceMeasures::Analyse(const TFormants& Formants,
                               const CFormantTracker* Analysed) noexcept {
  TVoice out;
  const double* latest = FRate2.data() + FRate2.size() - CHarmonicSpectrum::Frame;
  double power = 0;
  for (int i = 0; i < CHarmonicSpectrum::Frame; ++i) power += latest[i] * latest[i];
  // Silence measures nothing: its spectrum's bands are the noise's.
  if (std::sqrt(power / CHarmonicSpectrum::Frame) < CPitchEstimator::MinLevel) return out;
  const CHarmonicSpectrum* shared = Analysed ? Analysed->LatestSpectrum() : nullptr;
  if (shared) {
    const std::span<const double> theirs = Analysed->Rate2Signal();
    constexpr auto frame = static_cast<std::size_t>(CHarmonicSpectrum::Frame);
    if (theirs.size() < frame ||
        std::memcmp(theirs.data() + theirs.size() - frame, latest, frame * sizeof(double)) != 0)
      shared = nullptr;
  }
  if (!shared) FSpectrum.Compute(latest);
  const CHarmonicSpectrum& spectrum = shared ? *shared : FSpectrum;
  const TBandRatios bands = CBandRatios::Measure(spectrum);
  out.SingingPowerRatio = bands.SingingPowerRatio;
  out.AlphaRatio = bands.AlphaRatio;
  out.Cpps = FCepstrum.Measure(FRate4.data());
  // A pitch the estimator cannot give is no pitch: every measure of periods
  // is sized by it.
  if (!Formants.Voiced || !(Formants.F0 >= CPitchEstimator::MinF0) ||
      !(Formants.F0 <= CPitchEstimator::MaxF0))
    return out;
  out.Voiced = true;
  const THarmonicLevels levels = CHarmonicLevels::Measure(spectrum, Formants);
  out.H1H2 = levels.H1H2;
  out.H1H2Corrected = levels.H1H2Corrected;
  out.H1A1 = levels.H1A1;
  out.H1A3 = levels.H1A3;

  // The harmonicity's window and its lagged copy, centred where the
  // formants' analysis is.
  const double* end = FIn.data() + FEnd;
  const int span = CHarmonicity::Window(SampleRate) +
                   static_cast<int>((1 + CHarmonicity::LagReach) * SampleRate / Formants.F0) + 3;
  out.Hnr =
      CHarmonicity::Measure(end - CFormantTracker::CentreLag - span / 2, SampleRate, Formants.F0);

  FMarks.Follow(end - History, History, FFed, SampleRate, Formants.F0, VibratoSeconds);
  const TJitterShimmer js = CJitterShimmer::Measure(FMarks, JitterSeconds);
  out.JitterPct = js.JitterPct;
  out.ShimmerPct = js.ShimmerPct;
  out.ShimmerDb = js.ShimmerDb;
  const TVibrato vibrato = FVibrato.Measure(FMarks, VibratoSeconds);
  out.VibratoHz = vibrato.RateHz;
  out.VibratoCents = vibrato.ExtentCents;
  out.VibratoRegularity = vibrato.Regularity;
  return out;
}

}  // namespace quenvis
