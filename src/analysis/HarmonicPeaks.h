#pragma once
// The formant estimator's spectrum (FFTW, at 22 050 Hz) and the harmonic
// peaks read from it: their frequencies, their powers with the noise taken
// off, and how far each stands clear of the noise.
#include <array>
#include <mutex>

namespace quenvis {

inline constexpr int MaxHarmonics = 128;
// Hz; above it a voice has few harmonics: too few for an all-pole model, and
// a noise peak taken for a weak one weighs much among them.
inline constexpr double FewHarmonicsF0 = 330;

// FFTW's planner is not re-entrant, and analysers may be built on several
// threads: whatever plans or destroys a plan holds this.
std::mutex& FftwPlannerLock();

struct THarmonics {
  int Count = 0;
  std::array<double, MaxHarmonics> Freq{}, Power{}, Weight{};  // Hz, power, 0..1
};

class CHarmonicSpectrum {
 public:
  static constexpr double Rate = 22050;
  static constexpr int Frame = 1536;  // 69.7 ms
  static constexpr int Size = 2048;
  static constexpr double BinHz = Rate / Size;

  CHarmonicSpectrum();  // plans the transform; std::bad_alloc when FFTW cannot
  ~CHarmonicSpectrum();
  CHarmonicSpectrum(const CHarmonicSpectrum&) = delete;
  CHarmonicSpectrum& operator=(const CHarmonicSpectrum&) = delete;

  // Power spectrum of Frame samples (Hann window, mean removed).
  void Compute(const double* Samples) noexcept;
  double Power(int Bin) const noexcept { return FPower[static_cast<std::size_t>(Bin)]; }

  // Peaks near the multiples of F0 below Ceiling; F0 is refined from the
  // clear ones, following vibrato up the series.
  void PickHarmonics(double& F0, double Ceiling, THarmonics& Out) noexcept;

  // How much (as a power ratio) the strongest bin within Spacing/5 of Freq
  // stands above the mean power of the bands on either side that reach
  // 4/5 of Spacing away; the weaker side counts.
  double Prominence(double Freq, double Spacing) const noexcept;
  // The strongest bin's power within Freq +- Reach.
  double PeakPower(double Freq, double Reach) const noexcept;

 private:
  void RemoveNoise(THarmonics& H, double F0) noexcept;

  double* FIn;
  void* FOut;   // fftw_complex[Size / 2 + 1]
  void* FPlan;  // fftw_plan
  std::array<double, Frame> FWindow{};
  std::array<double, Size / 2 + 1> FPower{};
  std::array<double, MaxHarmonics> FValley{};
};

}  // namespace quenvis
