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

// Numerator * 2^Exponent / Denominator rounded to a 64-bit significand, then to
// double: what one extended-precision division stored to a double gives.
// Denominator must not be 0; the result must stay a normal double.
double ExtendedQuotient(std::uint64_t Numerator, int Exponent, std::uint64_t Denominator) noexcept;

}  // namespace quenvis
