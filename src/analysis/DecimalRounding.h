#pragma once
// Exact conversion of a 7-decimal table value to the double the tables store:
// the decimal is first rounded to a 64-bit significand (extended format), then
// to double, both to nearest with ties to even. Integer arithmetic only, so the
// result does not depend on the host's long double.
#include <cstdint>

namespace quenvis {

inline constexpr std::int64_t SevenDecimalScale = 10'000'000;

// Value Units / 10^7 through the extended format; |Units| must stay below 2^53.
double SevenDecimalToDouble(std::int64_t Units) noexcept;

}  // namespace quenvis
