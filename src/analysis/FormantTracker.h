#pragma once
// Pitch and formant estimation, independent of the zone tracker. The input
// is decimated to 22 050 Hz for the spectrum and 11 025 Hz for F0; F0 comes
// from the pitch estimator, the formants from an all-pole model fitted to the
// harmonic peaks (its order scaled to how many there are), or for a high
// voice from the resonances that the harmonics' levels imply, assigned to
// F1..F3 by the formant tracks. The ceiling follows the voice unless one is given.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "analysis/AllPoleFit.h"
#include "analysis/CeilingChoice.h"
#include "analysis/FormantTrack.h"
#include "analysis/Halfband.h"
#include "analysis/HarmonicPeaks.h"
#include "analysis/PitchEstimator.h"
#include "analysis/ResonanceFit.h"
#include "analysis/Unclip.h"
#include "analysis/WaveformFit.h"

namespace quenvis {

// A voice given by the user fixes the analysis ceiling (the model's band:
// five formants are expected below it); it also picks the reference vowels.
enum class EVoice { Man, Woman, Child };

// The reference vowels shown when no voice is chosen.
inline constexpr EVoice DefaultVoice = EVoice::Woman;

// "man", "woman" or "child"; nothing for any other text.
std::optional<EVoice> ParseVoice(std::string_view Name) noexcept;

// Why an analysis has no F1 or F2 from the harmonics: what the measurement
// harness counts on recorded speech. Aperiodic and Quiet leave it unvoiced
// (Quiet: periodic, but far below the speech lately, or with no speech
// lately, outlining no vocal tract).
enum class EBlank : std::uint8_t {
  None,          // F1 and F2 from the harmonics
  Aperiodic,     // no pitch
  Quiet,         // a hum or buzz far below the speech, or before any
  Clipped,       // too clipped for formants
  FewHarmonics,  // fewer than three harmonics clear of the noise
  NoModel,       // the harmonics allow no model
  Merged,        // fewer than two resonances below 3 500 Hz: one stands for two
  Broad,         // a resonance too wide to be one formant was passed over
  Unassigned,    // resonances there, but none fits the missing formant's track
  Corrected,     // F1 and F2 given, but the harmonics' F2 was F3 (the waveform fit's F2 stands)
};

// One analysis's result. Every value is finite; 0 means unknown. Formants
// come only with a voiced F0 (but the offline path over a whole recording
// may carry a vowel's on into an unvoiced analysis at its edge, as a
// Fallback of low confidence); F[i] and B[i] are both non-zero or both zero,
// and the known ones rise (F1 < F2 < F3), but one may be unknown while a
// higher one is known. Clipped peaks are redrawn; a block with a longer
// stretch at full scale (or following one) may be voiced but reports no
// formants (Clipped): the flattened waveform hides the envelope. For voices
// above 330 Hz (270 Hz in noise), the formants are read from the levels of
// the harmonics and the bandwidths are the nominal ones assumed.
struct TFormants {
  double F0 = 0.0;            // Hz
  std::array<double, 3> F{};  // F1..F3, Hz
  std::array<double, 3> B{};  // their bandwidths, Hz
  bool Voiced = false;        // periodic and loud enough; F0 is then set
  bool Clipped = false;       // voiced, but too clipped for formants
  // How far F1 and F2 can be trusted, 0..1: 0 without them; lower with
  // harmonics lost in noise, broad resonances, one of the two missing,
  // resonances that disagree with the tracks, or a high voice's inferred F1.
  double Confidence = 0.0;
  EBlank Blank = EBlank::Aperiodic;  // why the harmonics gave no F1 or F2
  // The formants come from the all-pole fit to the waveform, where the
  // harmonics gave none (lower confidence).
  bool Fallback = false;
};

// The resonances an analysis chose its formants from, for a pass over the
// whole recording that can look both ways: the harmonics' (a high voice's
// inferred F1 first) and the waveform fit's, and when asked for, the
// waveform's with a pole pair more (a lower ceiling, which parts an F2
// merged with F1 or F3); Count 0 where none was fitted. For that pass, an
// unvoiced analysis near the speech's level gets the waveform's fit alone:
// it may be a vowel's edge.
struct TFormantCandidates {
  TResonances Harmonic, Waveform;
  std::array<TResonances, 2> Denser;
};

class CFormantTracker {
 public:
  // Without a voice, the ceiling is chosen from the signal.
  explicit CFormantTracker(std::optional<EVoice> Voice = std::nullopt);

  // Forgets the signal history (as after a pause in the sound).
  void Reset() noexcept;
  // Block: 2048 frames of interleaved stereo signed 16-bit little-endian
  // samples at 44 100 Hz, the same block the spectrum engine takes. Each
  // analysis looks back over the previous block as well.
  TFormants Process(const void* Block) noexcept {
    Feed(Block, BlockFrames);
    return Analyse();
  }
  // For analyses at a shorter hop than a block: Feed takes Frames new frames
  // of the same format (a multiple of 4 up to BlockFrames; frames past the
  // last multiple of 4 or past BlockFrames are ignored), and Analyse looks
  // at the latest input.
  void Feed(const void* Data, int Frames) noexcept;
  TFormants Analyse() noexcept;

  std::optional<EVoice> Voice() const noexcept { return FVoice; }
  // The recording's own sample rate, where it came at a lower one than it is
  // fed at (a telephone's 8 kHz): nothing lies above its Nyquist frequency,
  // so the harmonics' model keeps within that band, as a phonetician's
  // analysis of such speech does. 0 or a rate whose band reaches past every
  // ceiling changes nothing. Kept over Reset: it belongs to the input.
  void SetSourceRate(double Hz) noexcept;
  // The latest analysis's resonances. The denser fit costs a little more:
  // only a pass over a whole recording asks for it.
  const TFormantCandidates& Candidates() const noexcept { return FCandidates; }
  // The harmonics the latest analysis's formants were fitted to.
  const THarmonics& Harmonics() const noexcept { return FNow; }
  void FitDenser(bool On) noexcept { FDenser = On; }
  // Its input at 22 050 and 11 025 Hz as far back as it keeps, the latest
  // last: measures that ride along need not decimate it again.
  std::span<const double> Rate2Signal() const noexcept { return FRate2; }
  std::span<const double> Rate4Signal() const noexcept { return FRate4; }
  // The spectrum of the latest CHarmonicSpectrum::Frame samples of
  // Rate2Signal, as the latest Analyse computed it; null once fed since.
  const CHarmonicSpectrum* LatestSpectrum() const noexcept {
    return FSpectrumFresh ? &FSpectrum : nullptr;
  }

  static constexpr int BlockFrames = 2048;
  static constexpr double SampleRate = 44100.0;
  static constexpr int HalfbandTaps = quenvis::HalfbandTaps;
  static constexpr int FrameStep = 256;  // between the two spectra, at 22 050 Hz
  static constexpr int MinHarmonics = 5;
  // From the centre of the analysed stretch (the two spectra's frames,
  // filter delays included) to the end of the latest input, in input frames.
  static constexpr int CentreLag = CHarmonicSpectrum::Frame + FrameStep + HalfbandTaps / 2;
  // The input frames one analysis reads back from the end of the latest
  // input (the two spectra's frames and the filter's reach); its centre
  // lies CentreLag frames back, in the middle.
  static constexpr int SpanFrames = 2 * (CHarmonicSpectrum::Frame + FrameStep) + HalfbandTaps - 1;

 private:
  static constexpr int Rate2Len = CHarmonicSpectrum::Frame + FrameStep;
  // The waveform fit's stretch at 11 025 Hz, centred where the spectra
  // are (the two decimations delay it by HalfbandTaps / 2 input frames and
  // as many 22 050 Hz samples).
  static constexpr int WaveCentre = (CentreLag - 3 * (HalfbandTaps / 2)) / 4;
  static constexpr int Rate4Len = std::max(WaveCentre + CPitchEstimator::Span / 2 + 1,
                                           WaveCentre + CWaveformFit::Window / 2 + 1);

  // Ceiling bounds the harmonics' model; WaveCeiling (the voice's own,
  // above a narrow recording's band) sets the waveform fit's order, whose
  // poles spread over the whole 11 025 Hz band, empty or not.
  void Formants(double Ceiling, double WaveCeiling, TFormants& Out) noexcept;
  // The harmonics' formants; Clearance gets their mean weight.
  void HarmonicFormants(double Ceiling, TFormants& Out, double& Clearance) noexcept;
  // Where the harmonics left F1 or F2 blank: the waveform's F (bandwidths
  // B), as the tracks (then Trial) assigned its resonances (FWaveRoots).
  void FillIn(const CFormantTrack& Trial, const std::array<double, 3>& F,
              const std::array<double, 3>& B, double Clearance, TFormants& Out) noexcept;
  // Where the harmonics gave F1 and F2: their F2 may be F3 with the real F2
  // merged or lost, which the waveform's resonances show.
  void LostSecond(const CFormantTrack& Before, double Clearance, TFormants& Out) noexcept;
  // The waveform's fit at Ceiling into FWaveRoots and the candidates (with
  // Denser, the denser fits too); false where it failed.
  bool WaveFit(double Ceiling, bool Denser) noexcept;
  double Confidence(const TFormants& Out, double Clearance, bool Inferred) const noexcept;
  // Hz: the highest harmonic of the latest analysis clear of the noise.
  double ClearReach() const noexcept;
  static EBlank BlankCause(const TResonances& Roots, const TFormants& Out) noexcept;

  std::optional<EVoice> FVoice;
  double FFixedCeiling;  // 0: chosen
  double FBandCeiling = 0;  // Hz, the highest ceiling the input's band allows; 0: any

  // Histories, oldest first; each block shifts them.
  std::array<double, HalfbandTaps - 1 + BlockFrames> FIn{};  // mono at 44 100 Hz, with filter tail
  std::array<double, Rate2Len + HalfbandTaps - 1> FRate2{};
  std::array<double, Rate4Len> FRate4{};
  int FClipAge = 1 << 20;  // input frames since the last clipped stretch
  int FRailAge = 1 << 20;  // input frames since the last frame at the rails
  int FFed = 0;            // input frames since the previous analysis
  // The previous analysis's F2 and F3 (0: none), and whether its F2 was the
  // waveform's, found below the harmonics' one.
  double FPrevF2 = 0, FPrevF3 = 0;
  bool FPrevCorrected = false;
  double FSpeechLevel = 0;  // RMS of the loudest voiced analysis lately, faded
  double FCentredF0 = 0;    // F0 refined at the analysis's centre (0: none)
  std::array<std::uint8_t, HalfbandTaps - 1 + BlockFrames> FRailed{};  // as FIn

  CHarmonicSpectrum FSpectrum, FEarlierSpectrum;
  bool FSpectrumFresh = false;  // FSpectrum is of the latest input
  CPitchEstimator FPitch;
  CAllPoleFit FFit;
  CFormantTrack FTrack;
  CCeilingChoice FCeiling;
  THarmonics FNow, FEarlier;
  CResonanceFit FResonances;
  CUnclip FUnclip;
  CWaveformFit FWave;
  TResonances FWaveRoots;
  TFormantCandidates FCandidates;
  bool FDenser = false;
};

}  // namespace quenvis
