#pragma once
// Constant window, rotation and bit-reversal tables of the 4096-point analysis.
// Fixed when the program is built: nothing here evaluates a cosine at run time.
#include <array>
#include <cstdint>

#include "analysis/Common.h"

namespace quenvis {

inline constexpr int FFTStages = 12;

using TWindowTab = std::array<double, FFTSize>;

// Base rotation of one butterfly stage: cosine first, then sine.
struct TTwiddle {
  double Cos;
  double Sin;
};

extern const TWindowTab TabHamming;
extern const TWindowTab TabHanning;
extern const TWindowTab TabBlackman;
extern const TWindowTab TabBlackmanHarris;
extern const TWindowTab TabBlackmanNuttall;

// Index 0 holds stage 1.
extern const std::array<TTwiddle, FFTStages> TabTwiddle;
extern const std::array<std::int32_t, FFTSize> TabBitRev;

// The window list as the user sees it, position 0 first.
inline constexpr int WindowCount = 5;
inline constexpr std::array<const char*, WindowCount> WindowNames = {
    "hamming", "hanning", "Blackman", "Blackman_Harris", "Blackman_Nuttall"};

// The table a list position selects; any other position (-1 included) selects TabHamming.
const TWindowTab& WindowTable(int Position) noexcept;

}  // namespace quenvis
