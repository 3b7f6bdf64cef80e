#include "analysis/UFFT_iterative_tabs.h"

namespace quenvis {

namespace {

constexpr std::array<std::int32_t, FFTSize> MakeBitRev() {
  std::array<std::int32_t, FFTSize> tab{};
  for (int i = 0; i < FFTSize; ++i) {
    int reversed = 0;
    for (int bit = 0; bit < FFTStages; ++bit)
      if ((i >> bit) & 1) reversed |= 1 << (FFTStages - 1 - bit);
    tab[static_cast<std::size_t>(i)] = reversed;
  }
  return tab;
}

}  // namespace

// The window and rotation tables, written as exact hexadecimal literals by the
// build-time generator.
#include "analysis/UFFT_iterative_tabs.inc"

const std::array<std::int32_t, FFTSize> TabBitRev = MakeBitRev();

const TWindowTab& WindowTable(int Position) noexcept {
  switch (Position) {
    case 1:
      return TabHanning;
    case 2:
      return TabBlackman;
    case 3:
      return TabBlackmanHarris;
    case 4:
      return TabBlackmanNuttall;
    default:
      return TabHamming;
  }
}

}  // namespace quenvis
