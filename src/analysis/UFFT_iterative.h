#pragma once
// Sliding 4096-point FFT: each 2048-frame stereo block joins the previous one,
// is windowed, transformed and turned into log10 power per bin.
#include <array>
#include <cstdint>

#include "analysis/UFFT_iterative_tabs.h"

namespace quenvis {

struct TComplex {
  double re;
  double im;
};

class CFFT_iterative {
 public:
  CFFT_iterative();
  virtual ~CFFT_iterative();

  // Clears the sample history; Windowed, Spectrum and Power keep their values.
  void Reset() noexcept;
  // Block: BlockBytes bytes of interleaved stereo samples. Always reads all of them.
  void Process(const void* Block) noexcept;

  std::int32_t Phase = 0;
  std::array<double, FFTSize> Samples{};
  std::array<double, FFTSize> Windowed{};
  std::array<TComplex, FFTSize> Spectrum{};
  // log10(re^2 + im^2); a bin of exactly zero power holds -infinity.
  std::array<double, FFTSize> Power{};
  const TWindowTab* Window;

 private:
  // Set when the engine is made: the AVX2 build of the hot loops, or the baseline one.
  bool FAvx2;
  void Transform() noexcept;
  void ComputePower() noexcept;

  // Working copy of the transform with real and imaginary parts apart, so the
  // butterfly and logarithm loops vectorise; copied to Spectrum at the end.
  alignas(64) std::array<double, FFTSize> Re{};
  alignas(64) std::array<double, FFTSize> Im{};
  // Rotation of every butterfly group, stage by stage (stage with half h at
  // [h - 1, 2h - 1)): the same recurrence from (1, 0) that the butterflies
  // would advance group by group, evaluated once.
  alignas(64) std::array<double, FFTSize> RotRe{};
  alignas(64) std::array<double, FFTSize> RotIm{};
};

}  // namespace quenvis
