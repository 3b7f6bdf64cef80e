#pragma once
// Quantities and conversions that capture, analysis, display and offline
// rendering all rely on. Standard library only.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace quenvis {

inline constexpr int SampleRate = 44100;
inline constexpr int BlockFrames = 2048;
inline constexpr int BlockBytes = BlockFrames * 4;  // interleaved L, R, signed 16-bit little-endian
inline constexpr int FFTSize = 4096;

// The pixel surfaces: the spectrum trace and the three square plots.
inline constexpr std::int32_t SpectrumWidth = 1024;
inline constexpr std::int32_t SpectrumHeight = 256;
inline constexpr std::int32_t PlotSize = 256;

// Round to nearest, ties to even, saturating at the int32 range (NaN gives 0).
inline std::int32_t RoundToInt32(double Value) noexcept {
  if (std::isnan(Value)) return 0;
  const double r = std::nearbyint(Value);
  if (r <= static_cast<double>(std::numeric_limits<std::int32_t>::min()))
    return std::numeric_limits<std::int32_t>::min();
  if (r >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
    return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(r);
}

constexpr std::int32_t SaturateToInt32(std::int64_t Value) noexcept {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(
      Value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

}  // namespace quenvis
