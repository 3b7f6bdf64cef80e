#pragma once
// What the voice measures share: a value that may be undefined.
#include <cmath>
#include <limits>

namespace quenvis {

// Undefined measures are NaN: 0 is a value every measure in dB can take.
inline constexpr double NoMeasure = std::numeric_limits<double>::quiet_NaN();
inline bool Measured(double Value) noexcept { return std::isfinite(Value); }

}  // namespace quenvis
