#pragma once
// Clipped peaks redrawn. A run of samples at the rails hides what the voice
// did there; the samples that best continue the waveform on both sides, as
// a linear predictor fitted to the unclipped stretches of the same input
// sees it, stand in (never inside the rail). Where the predictor cannot be
// fitted or its redrawing is implausible, and for runs too short or too
// long for it, a cubic that leaves and rejoins the waveform with its slopes
// on either side does.
#include <array>
#include <cstdint>

namespace quenvis {

class CUnclip {
 public:
  static constexpr int Order = 16;  // of the predictor, at 44 100 Hz
  // Frames the predictor redraws: a shorter run is close to the cubic, whose
  // error is the smaller there.
  static constexpr int MinRun = 20, MaxRun = 64;
  static constexpr int MaxPeak = 220;  // frames (5 ms): longer is not a peak

  // X[0, Stop) with Railed marking its frames at the rails; the runs that
  // reach into [From, Stop) are redrawn, except those that reach Stop (the
  // next input completes them). Returns how many railed frames in
  // [From, Stop) lie in runs too long for a peak.
  int Redraw(double* X, const std::uint8_t* Railed, int From, int Stop) noexcept;

 private:
  // Fits the predictor to X[0, Stop) where no frame it reads is railed.
  bool FitPredictor(const double* X, const std::uint8_t* Railed, int Stop) noexcept;
  // The run X[Start, End) by the predictor; false where it will not do.
  bool Predict(double* X, int Start, int End) noexcept;

  std::array<double, (Order + 1) * (Order + 1)> FNormal{};
  std::array<double, Order + 1> FRight{}, FError{}, FSelf{};
  std::array<double, MaxRun * MaxRun> FRun{};
  std::array<double, MaxRun> FSolved{};
};

}  // namespace quenvis
