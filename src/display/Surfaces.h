#pragma once
// The four pixel surfaces of the view: the spectrum trace and three plots.
#include <array>

#include "analysis/Common.h"
#include "display/DXCommon.h"

namespace quenvis {

inline constexpr std::uint32_t OpaqueBlack = 0xFF000000u;

struct TSurfaces {
  // All four exist and are opaque black from the start.
  TSurfaces();
  TSurfaces(const TSurfaces&) = delete;
  TSurfaces& operator=(const TSurfaces&) = delete;

  // Spectrum first, then the plots from left to right.
  std::array<CBM32*, 4> All() noexcept { return {&SpectrumBmp, &PlotBmp1, &PlotBmp2, &PlotBmp3}; }
  std::array<const CBM32*, 4> All() const noexcept {
    return {&SpectrumBmp, &PlotBmp1, &PlotBmp2, &PlotBmp3};
  }

  CBM32 SpectrumBmp{SpectrumWidth, SpectrumHeight};
  CBM32 PlotBmp1{PlotSize, PlotSize};
  CBM32 PlotBmp2{PlotSize, PlotSize};
  CBM32 PlotBmp3{PlotSize, PlotSize};
};

}  // namespace quenvis
