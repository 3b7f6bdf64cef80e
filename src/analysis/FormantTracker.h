#pragma once
// Pitch and formant estimation per block, independent of the zone tracker.
// F0 comes from a YIN-style estimator on the signal decimated to 11 025 Hz;
// the formants from an all-pole model fitted to the harmonic peaks of one
// spectrum (discrete all-pole modelling) and the roots of its polynomial.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace quenvis {

// The voice sets the analysis ceiling (the model's band: five formants are
// expected below it) and the lowest plausible first formant.
enum class EVoice { Man, Woman, Child };

// Suits most adult voices, men's included.
inline constexpr EVoice DefaultVoice = EVoice::Woman;

// "man", "woman" or "child"; nothing for any other text.
std::optional<EVoice> ParseVoice(std::string_view Name) noexcept;

// One block's result. Every value is finite; 0 means unknown. Formants are
// reported in rising order and only together with a voiced F0: F[i] and B[i]
// are both non-zero or both zero, and a zero F[i] is followed by zeros only.
// A block clipped at full scale (or following one) may be voiced but reports
// no formants: clipping spreads the harmonics and hides the envelope.
struct TFormants {
  double F0 = 0.0;            // Hz
  std::array<double, 3> F{};  // F1..F3, Hz
  std::array<double, 3> B{};  // their bandwidths, Hz
  bool Voiced = false;        // periodic and loud enough; F0 is then set
};

class CFormantTracker {
 public:
  explicit CFormantTracker(EVoice Voice = DefaultVoice) noexcept;

  // Forgets the signal history (as after a pause in the sound).
  void Reset() noexcept;
  // Block: 2048 frames of interleaved stereo signed 16-bit little-endian
  // samples at 44 100 Hz, the same block the spectrum engine takes. Each
  // analysis looks back over the previous block as well.
  TFormants Process(const void* Block) noexcept;

  EVoice Voice() const noexcept { return FVoice; }

  static constexpr int BlockFrames = 2048;
  static constexpr double SampleRate = 44100.0;
  // Rates: 44 100 Hz in, 22 050 Hz for the spectrum, 11 025 Hz for F0.
  static constexpr int Rate2Len = 2 * BlockFrames / 2;  // two blocks at 22 050 Hz
  static constexpr int Rate4Len = 2 * BlockFrames / 4;  // two blocks at 11 025 Hz
  static constexpr int HalfbandTaps = 31;
  static constexpr int SpecFrame = 1536;  // 69.7 ms at 22 050 Hz
  static constexpr int SpecSize = 2048;
  static constexpr int FrameStep = 256;  // between the two frames, at 22 050 Hz
  static constexpr int MaxHarmonics = 128;
  static constexpr int Order = 10;
  static constexpr int MaxFitIterations = 40;

 private:
  double EstimateF0(double& Level) noexcept;
  void ComputeSpectrum(std::size_t First) noexcept;
  int PickHarmonics(double& F0) noexcept;
  void RemoveNoise(int Count, double F0) noexcept;
  int FitAllPole(int Count) noexcept;
  struct TRoots {
    int Count = 0;
    std::array<double, Order / 2> Freq{}, Band{};
  };
  bool FindRoots(const double* A, TRoots& Out) const noexcept;
  const double* Iterate(int I) const noexcept { return FIterates.data() + I * (Order + 1); }

  EVoice FVoice;
  double FCeiling;
  double FMinF1;

  // Histories, oldest first; each block shifts them by one block.
  std::array<double, HalfbandTaps - 1 + BlockFrames> FIn{};  // mono at 44 100 Hz, with filter tail
  std::array<double, Rate2Len + HalfbandTaps - 1> FRate2{};
  std::array<double, Rate4Len> FRate4{};
  std::array<double, Rate4Len> FYin{};

  std::array<double, SpecSize> FRe{}, FIm{};
  std::array<double, SpecSize / 2 + 1> FPower{};

  std::array<double, MaxHarmonics> FHarmFreq{}, FHarmPower{}, FValley{}, FWeight{};
  std::array<double, MaxHarmonics> FPrevFreq{}, FPrevPower{}, FPrevWeight{};
  std::array<double, MaxHarmonics*(Order + 1)> FCos{}, FSin{};
  std::array<double, (MaxFitIterations + 1) * (Order + 1)> FIterates{};
  bool FClipped = false;
};

}  // namespace quenvis
