#include "analysis/FormantTracker.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "analysis/Halfband.h"

namespace quenvis {

std::optional<EVoice> ParseVoice(std::string_view Name) noexcept {
  if (Name == "man") return EVoice::Man;
  if (Name == "woman") return EVoice::Woman;
  if (Name == "child") return EVoice::Child;
  return std::nullopt;
}

namespace {

constexpr int SpecFrame = CHarmonicSpectrum::Frame;

double CeilingOf(EVoice Voice) noexcept {
  switch (Voice) {
    case EVoice::Man:
      return 5000;
    case EVoice::Child:
      return 6500;
    case EVoice::Woman:
      break;
  }
  return 5500;
}

// A voice this high has too few harmonics for the all-pole model (its poles
// would settle on them): the formants are read from the harmonics' levels.
// From NoisyHighVoice, so are they when the harmonics' mean weight is below
// NoisyClearance: most are lost in noise, and the levels' fit weighs each.
constexpr double HighVoice = FewHarmonicsF0, NoisyHighVoice = 270;  // Hz
constexpr double NoisyClearance = 0.5;
constexpr double NominalB1 = 80, NominalB2 = 100, NominalB3 = 150;  // Hz, assumed there
// A harmonic this far clear of the noise (about 5 dB over the valleys beside
// it) counts towards the three that an envelope needs; a gliding pitch
// blurs the peaks of real speech, so no more is asked.
constexpr double ClearWeight = 0.2;
// Reading formants from the levels of a few harmonics needs them cleaner.
constexpr double ClearHighWeight = 0.5;
// A hum or buzz far below the speech is no voice: voicing needs a level
// within Quiet (28 dB) of the loudest voiced analysis lately, which fades by
// FadePerBlock (1 dB a second) so that a quieter voice is heard again soon.
const double Quiet = std::pow(10.0, -28.0 / 20);
const double FadePerBlock = std::log(10.0) / 20 * 1.0 * CFormantTracker::BlockFrames /
                            CFormantTracker::SampleRate;
// Faded this far (-60 dBFS), the speech is too long ago to compare with.
constexpr double NoSpeech = CPitchEstimator::MinLevel;
// An unvoiced analysis within EdgeLevel (15 dB) of the speech may still be
// a vowel's edge.
const double EdgeLevel = std::pow(10.0, -15.0 / 20);
// Hz: a voice's clear harmonics reach past VocalTract (its first formant,
// or a high voice's pitch, lies there or above); a mains hum's stop below
// it. Clear there: within HumRange (40 dB) of the strongest.
constexpr double VocalTract = 500;
constexpr double HumRange = 1e-4;
// The waveform fit's formants are trusted less than the harmonics': its
// poles may sit on a strong harmonic, or on noise.
constexpr double WaveformTrust = 0.6;
// A resonance of the waveform this close (a share) to the harmonics' F2 is
// the same one.
constexpr double SameFormant = 0.08;
// Hz: F2 lies this far above F1 and no lower than LowestF2; between two
// analyses 10 ms apart it moves less than SteadyF2; a tone's pole is
// sharper than SharpestFormant.
constexpr double MinF2Gap = 150, LowestF2 = 550, SteadyF2 = 200, SharpestFormant = 3;
// A ceiling no closer to a narrow recording's Nyquist frequency than this
// share of it: its resampler and codec roll off just below.
constexpr double BandShare = 0.95;
// Frames in a row at the rails that make a flattened peak, whose redrawing
// keeps the harmonics' levels but not the waveform's ring.
constexpr int FlatPeak = 3;
// Clipping spreads the harmonics; the spectra reach this far back.
constexpr int ClipReach = 2 * (SpecFrame + CFormantTracker::FrameStep);

}  // namespace

CFormantTracker::CFormantTracker(std::optional<EVoice> Voice)
    : FVoice(Voice), FFixedCeiling(Voice ? CeilingOf(*Voice) : 0.0) {}

void CFormantTracker::SetSourceRate(double Hz) noexcept {
  FBandCeiling = Hz > 0 && std::isfinite(Hz) ? BandShare * Hz / 2 : 0.0;
}

void CFormantTracker::Reset() noexcept {
  FIn.fill(0);
  FRailed.fill(0);
  FSpeechLevel = 0;
  FRate2.fill(0);
  FRate4.fill(0);
  FClipAge = 1 << 20;
  FRailAge = 1 << 20;
  FFed = 0;
  FSpectrumFresh = false;
  FPitch.Reset();
  FTrack.Reset();
  FCeiling.Reset();
}

void CFormantTracker::Feed(const void* Data, int Frames) noexcept {
  Frames = std::clamp(Frames / 4 * 4, 0, BlockFrames);
  if (Frames == 0) return;
  FSpectrumFresh = false;
  const auto* bytes = static_cast<const unsigned char*>(Data);
  // Mono mix, after the filter tail of the previous input.
  constexpr int tail = HalfbandTaps - 1;
  for (int i = 0; i < Frames; ++i) {
    const auto l = static_cast<std::int16_t>(bytes[4 * i] | (bytes[4 * i + 1] << 8));
    const auto r = static_cast<std::int16_t>(bytes[4 * i + 2] | (bytes[4 * i + 3] << 8));
    FRailed[static_cast<std::size_t>(tail + i)] =
        (l >= 32767 || l <= -32767 || r >= 32767 || r <= -32767) ? 1 : 0;
    FIn[static_cast<std::size_t>(tail + i)] = (l + r) / 65536.0;
  }
  // 5 % of the frames at the rails, once the clipped peaks that can be
  // redrawn are.
  const int railed = FUnclip.Redraw(FIn.data(), FRailed.data(), tail, tail + Frames);
  FClipAge = railed > Frames / 20 ? 0 : std::min(FClipAge + Frames, 1 << 20);
  // A flattened peak, not a sample that touches the rail.
  int run = 0, longest = 0;
  for (int i = tail; i < tail + Frames; ++i) {
    run = FRailed[static_cast<std::size_t>(i)] != 0 ? run + 1 : 0;
    longest = std::max(longest, run);
  }
  FRailAge = longest >= FlatPeak ? 0 : std::min(FRailAge + Frames, 1 << 20);
  FFed = std::min(FFed + Frames, 1 << 20);

  // 44 100 -> 22 050 Hz, keeping the next filter's tail.
  const int new2 = Frames / 2;
  std::memmove(FRate2.data(), FRate2.data() + new2, (FRate2.size() - new2) * sizeof(double));
  HalfbandDecimate(FIn.data(), FRate2.data() + FRate2.size() - new2, new2);
  // 22 050 -> 11 025 Hz.
  const int new4 = Frames / 4;
  std::memmove(FRate4.data(), FRate4.data() + new4, (FRate4.size() - new4) * sizeof(double));
  HalfbandDecimate(FRate2.data() + FRate2.size() - new2 - tail,
                   FRate4.data() + FRate4.size() - new4, new4);
  // The tail the next input follows: moved now, by this input's length, as
  // the next may be of another (10 ms analyses split blocks unevenly).
  std::memmove(FIn.data(), FIn.data() + Frames, tail * sizeof(double));
  std::memmove(FRailed.data(), FRailed.data() + Frames, tail);
}

TFormants CFormantTracker::Analyse() noexcept {
  TFormants out;
  FCandidates = {};
  // The pitch's and the ceiling's memories run in time, not in analyses, so
  // that a 10 ms hop behaves as one analysis per block does. The formant
  // tracks keep theirs in analyses: a track that holds on for a block's
  // worth of 10 ms analyses loses the fast transitions of real speech.
  const double blocks = static_cast<double>(FFed) / BlockFrames;
  FFed = 0;
  const double* latest = FRate2.data() + FRate2.size() - SpecFrame;
  FSpectrum.Compute(latest);
  FSpectrumFresh = true;
  double level = 0;
  // The pitch of the analysis's centre, where the formants are measured.
  const double* around = FRate4.data() + (Rate4Len - WaveCentre - CPitchEstimator::Span / 2);
  double f0 = FPitch.Estimate(around, FSpectrum, level, blocks);
  FSpeechLevel *= std::exp(-FadePerBlock * blocks);
  if (f0 > 0 && level < Quiet * FSpeechLevel) {
    f0 = 0;
    out.Blank = EBlank::Quiet;
  }
  const double voiceCeiling = FFixedCeiling > 0 ? FFixedCeiling : FCeiling.Update(f0, blocks);
  const double ceiling = FBandCeiling > 0 ? std::min(voiceCeiling, FBandCeiling) : voiceCeiling;
  const auto unvoiced = [&](EBlank Cause) {
    out = TFormants{};
    out.Blank = Cause;
    FPrevF2 = 0;
    FPrevCorrected = false;
    FTrack.Skip();
    return out;
  };
  if (f0 <= 0) {
    // Offline, the path may carry a vowel's tracks on into an analysis at
    // its edge that the pitch no longer hears: the waveform fit shows them
    // while the sound stays near the speech's level.
    if (FDenser && FSpeechLevel >= NoSpeech && level >= EdgeLevel * FSpeechLevel &&
        FRailAge >= SpanFrames)
      WaveFit(voiceCeiling, false);
    return unvoiced(out.Blank);
  }
  out.Voiced = true;
  out.F0 = f0;
  FCentredF0 = 0;
  Formants(ceiling, voiceCeiling, out);
  // The harmonics' F0 is the finer but spans 80 ms, which blurs a fast
  // change that the periods' 35 ms follow: on recorded speech their mean
  // is the closer to the pitch.
  out.F0 = 0.5 * ((FCentredF0 > 0 ? FCentredF0 : out.F0) + f0);
  // With no speech lately to compare with, a periodic sound that outlines
  // no vocal tract (a mains hum before the first word, a tone) is no voice:
  // its clear harmonics do not reach past where a first formant can lie.
  if (FSpeechLevel < NoSpeech && !out.Clipped && ClearReach() < VocalTract)
    return unvoiced(EBlank::Quiet);
  FSpeechLevel = std::max(FSpeechLevel, level);
  FPrevF2 = out.F[1];
  FPrevF3 = out.F[2];
  FPrevCorrected = out.Blank == EBlank::Corrected;
  if (out.F == std::array<double, 3>{}) FTrack.Skip();
  return out;
}

double CFormantTracker::ClearReach() const noexcept {
  const auto count = static_cast<std::size_t>(FNow.Count);
  double strongest = 0, reach = 0;
  for (std::size_t m = 0; m < count; ++m) strongest = std::max(strongest, FNow.Power[m]);
  for (std::size_t m = 0; m < count; ++m)
    if (FNow.Weight[m] >= ClearWeight && FNow.Power[m] >= HumRange * strongest)
      reach = std::max(reach, FNow.Freq[m]);
  return reach;
}

void CFormantTracker::Formants(double Ceiling, double WaveCeiling, TFormants& Out) noexcept {
  const CFormantTrack before = FTrack;
  double clearance = 0;
  HarmonicFormants(Ceiling, Out, clearance);
  // A redrawn peak keeps the harmonics' levels but not the waveform's ring.
  if (Out.Clipped || FRailAge < SpanFrames) return;
  const bool nothing = Out.Blank == EBlank::FewHarmonics || Out.Blank == EBlank::NoModel;
  // A voice above HighVoice draws the waveform's poles to its harmonics:
  // there the waveform only speaks where the harmonics say nothing.
  if (Out.F0 > HighVoice && !nothing) return;

  if (!WaveFit(WaveCeiling, FDenser)) return;
  // The waveform's resonances, assigned as the tracks stood before; without
  // F1 and F2 of a vocal tract among them they tell nothing.
  CFormantTrack trial = before;
  std::array<double, 3> f{}, b{};
  trial.Assign(FWaveRoots, 0, 0, f, b);
  if (!(f[0] > 0 && f[1] > 0)) return;
  // A tone rings on one pole at the unit circle: no vocal tract is that sharp.
  if (b[0] < SharpestFormant || b[1] < SharpestFormant) return;
  if (Out.Blank == EBlank::None)
    LostSecond(before, clearance, Out);
  else
    FillIn(trial, f, b, clearance, Out);
}

bool CFormantTracker::WaveFit(double Ceiling, bool Denser) noexcept {
  // Five formants expected below the ceiling, so as many pole pairs in the
  // fit's band as fall below its edge, and one for the source's tilt.
  const double pairs = std::nearbyint(5 * CWaveformFit::Rate / 2 / Ceiling);
  const int order = 2 * static_cast<int>(std::clamp(pairs, 4.0, 7.0));
  const double* centred = FRate4.data() + (Rate4Len - WaveCentre - CWaveformFit::Window / 2);
  if (!FWave.Fit(centred, order, FWaveRoots)) return false;
  FCandidates.Waveform = FWaveRoots;
  for (std::size_t d = 0; Denser && d < FCandidates.Denser.size(); ++d) {
    const int denser = std::min(order + 2 * static_cast<int>(d + 1), CWaveformFit::MaxOrder);
    if (denser > order && !FWave.Extend(denser, FCandidates.Denser[d]))
      FCandidates.Denser[d] = {};
  }
  return true;
}

void CFormantTracker::FillIn(const CFormantTrack& Trial, const std::array<double, 3>& F,
                             const std::array<double, 3>& B, double Clearance,
                             TFormants& Out) noexcept {
  // A resonance passed over between F1 and F2 may be F2, and the one taken F3.
  for (int r = 0; r < FWaveRoots.Count; ++r) {
    const double x = FWaveRoots.Freq[static_cast<std::size_t>(r)];
    if (x > F[0] && x < F[1]) return;
  }
  // Between two analyses with F2 it moves no more than speech does in 10 ms:
  // two fits that disagree would make it flicker.
  if (FPrevF2 > 0 && std::abs(F[1] - FPrevF2) > SteadyF2) return;
  FTrack = Trial;
  Out.F = F;
  Out.B = B;
  Out.Fallback = true;
  Out.Confidence = WaveformTrust * Confidence(Out, Clearance, false);
}

void CFormantTracker::LostSecond(const CFormantTrack& Before, double Clearance,
                                 TFormants& Out) noexcept {
  const TResonances& roots = FWaveRoots;
  // The harmonics' F2 is a resonance of the waveform, with another one
  // between it and F1: that one is F2, however broad (a telephone's or a
  // back vowel's often is), and theirs is F3.
  const double f1 = Out.F[0], f2 = Out.F[1];
  bool same = FPrevCorrected && std::abs(f2 - FPrevF3) <= SameFormant * FPrevF3;
  int between = -1;
  for (int r = 0; r < roots.Count; ++r) {
    const double x = roots.Freq[static_cast<std::size_t>(r)];
    same = same || std::abs(x - f2) <= SameFormant * f2;
    if (between < 0 && x >= std::max(f1 + MinF2Gap, LowestF2) && x < (1 - SameFormant) * f2)
      between = r;
  }
  if (!same) return;
  if (FPrevCorrected) {
    // Once found, F2 is kept where the waveform still has a resonance near it.
    int nearest = -1;
    double distance = SteadyF2;
    for (int r = 0; r < roots.Count; ++r) {
      const double x = roots.Freq[static_cast<std::size_t>(r)];
      if (x > f1 + MinF2Gap && x < (1 - SameFormant) * f2 && std::abs(x - FPrevF2) <= distance) {
        distance = std::abs(x - FPrevF2);
        nearest = r;
      }
    }
    if (nearest >= 0) between = nearest;
  } else if (between >= 0 && FPrevF2 > 0 &&
             std::abs(roots.Freq[static_cast<std::size_t>(between)] - FPrevF2) > SteadyF2) {
    // A steady F2 is not given up for one analysis's story.
    return;
  }
  if (between < 0) return;
  const auto r = static_cast<std::size_t>(between);
  const std::array<double, 3> f{f1, roots.Freq[r], f2}, b{Out.B[0], roots.Band[r], Out.B[1]};
  FTrack = Before;
  FTrack.Follow(f, b, true);
  Out.F = f;
  Out.B = b;
  Out.Fallback = true;
  Out.Blank = EBlank::Corrected;
  Out.Confidence = WaveformTrust * Confidence(Out, Clearance, false);
}

void CFormantTracker::HarmonicFormants(double Ceiling, TFormants& Out,
                                       double& Clearance) noexcept {
  // Two spectra, the latest and one 11.6 ms earlier: their harmonic powers,
  // taken one by one, are averaged, which steadies them in noise without
  // blurring them through vibrato as one averaged spectrum would.
  const auto inRange = [](double F) {
    return F >= CPitchEstimator::MinF0 && F <= CPitchEstimator::MaxF0;
  };
  double refined = Out.F0, earlierF0 = Out.F0;
  FSpectrum.PickHarmonics(refined, Ceiling, FNow);
  if (inRange(refined)) Out.F0 = refined;
  if (FClipAge < ClipReach) {  // the pitch stands, but clipping hides the envelope
    Out.Clipped = true;
    Out.Blank = EBlank::Clipped;
    return;
  }
  FEarlierSpectrum.Compute(FRate2.data() + FRate2.size() - SpecFrame - FrameStep);
  FEarlierSpectrum.PickHarmonics(earlierF0, Ceiling, FEarlier);
  // The F0 reported is refined by both spectra, whose middle is the
  // analysis's centre: the latest alone reads a changing pitch ahead of its
  // time. The formants keep the latest's, which their harmonics were
  // picked by.
  if (inRange(refined) && inRange(earlierF0)) FCentredF0 = 0.5 * (refined + earlierF0);
  const int count = std::min(FNow.Count, FEarlier.Count);
  FNow.Count = count;
  for (std::size_t m = 0; m < static_cast<std::size_t>(count); ++m) {
    FNow.Freq[m] = 0.5 * (FNow.Freq[m] + FEarlier.Freq[m]);
    FNow.Power[m] = 0.5 * (FNow.Power[m] + FEarlier.Power[m]);
    FNow.Weight[m] = 0.5 * (FNow.Weight[m] + FEarlier.Weight[m]);
  }

  // A pure tone, or a sound with a harmonic or two above the noise (or
  // within 60 dB of the strongest), is periodic but outlines no envelope.
  const double strongest =
      count > 0 ? *std::max_element(FNow.Power.begin(), FNow.Power.begin() + count) : 0.0;
  int clear = 0;
  double clearance = 0;
  for (std::size_t m = 0; m < static_cast<std::size_t>(count); ++m) {
    clear += FNow.Weight[m] >= (Out.F0 > HighVoice ? ClearHighWeight : ClearWeight) &&
             FNow.Power[m] >= 1e-6 * strongest;
    clearance += FNow.Weight[m];
  }
  Out.Blank = EBlank::FewHarmonics;
  if (count > 0) Clearance = clearance / count;
  if (count < MinHarmonics || clear < 3) return;
  clearance /= count;

  Out.Blank = EBlank::NoModel;
  TResonances roots;
  double f1 = 0;
  if (Out.F0 > HighVoice || (Out.F0 > NoisyHighVoice && clearance < NoisyClearance)) {
    // Too few harmonics for the model's poles, which would sit on them: the
    // resonances that the harmonics' levels imply stand instead.
    std::array<double, 4> f{};
    if (!FResonances.Fit(FNow, Out.F0, f)) return;
    f1 = f[0];
    roots.Count = 2;
    roots.Freq[0] = f[1];
    roots.Band[0] = NominalB2;
    roots.Freq[1] = f[2];
    roots.Band[1] = NominalB3;
  } else {
    // An order the harmonics can pin down: two fewer coefficients than points.
    const int order = std::clamp((count - 2) / 2 * 2, 2, CAllPoleFit::MaxOrder);
    if (!FFit.Fit(FNow, order, Ceiling, 90, roots)) return;
  }
  TResonances& kept = FCandidates.Harmonic;
  kept.Count = 0;
  if (f1 > 0) {
    kept.Freq[0] = f1;
    kept.Band[0] = NominalB1;
    kept.Count = 1;
  }
  for (int r = 0; r < roots.Count && kept.Count < static_cast<int>(kept.Freq.size()); ++r, ++kept.Count) {
    kept.Freq[static_cast<std::size_t>(kept.Count)] = roots.Freq[static_cast<std::size_t>(r)];
    kept.Band[static_cast<std::size_t>(kept.Count)] = roots.Band[static_cast<std::size_t>(r)];
  }
  FTrack.Assign(roots, f1, f1 > 0 ? NominalB1 : 0.0, Out.F, Out.B);
  Out.Confidence = Confidence(Out, clearance, f1 > 0);
  Out.Blank = BlankCause(roots, Out);
}

EBlank CFormantTracker::BlankCause(const TResonances& Roots, const TFormants& Out) noexcept {
  if (Out.F[0] > 0 && Out.F[1] > 0) return EBlank::None;
  int below = 0;
  bool broad = false;
  for (int r = 0; r < Roots.Count; ++r) {
    const double f = Roots.Freq[static_cast<std::size_t>(r)];
    below += f < 3500;
    broad = broad || (Roots.Band[static_cast<std::size_t>(r)] > CFormantTrack::Broad && f < 3500 &&
                      f != Out.F[0] && f != Out.F[1] && f != Out.F[2]);
  }
  if (below < 2) return EBlank::Merged;
  return broad ? EBlank::Broad : EBlank::Unassigned;
}

double CFormantTracker::Confidence(const TFormants& Out, double Clearance,
                                   bool Inferred) const noexcept {
  const bool f1 = Out.F[0] > 0, f2 = Out.F[1] > 0;
  if (!f1 && !f2) return 0.0;
  // Recorded speech rarely has harmonics cleaner than 0.6 on average.
  double c = 0.35 + 0.65 * std::clamp(Clearance / 0.6, 0.0, 1.0);
  if (!(f1 && f2)) c *= 0.5;
  // Broad resonances are often two merged, or none.
  const double bands = (f1 ? Out.B[0] : 300.0) + (f2 ? Out.B[1] : 300.0);
  c *= std::clamp(1.2 - bands / 1000, 0.3, 1.0);
  if (!FTrack.Agrees()) c *= 0.6;
  if (Inferred) c *= 0.6;
  return std::clamp(c, 0.0, 1.0);
}

}  // namespace quenvis
