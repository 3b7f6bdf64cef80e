#include "analysis/DecimalRounding.h"

#include <cmath>

namespace quenvis {

double SevenDecimalToDouble(std::int64_t Units) noexcept {
  if (Units == 0) return 0.0;  // positive zero, never -0
  const bool negative = Units < 0;
  const std::uint64_t magnitude =
      negative ? static_cast<std::uint64_t>(-(Units + 1)) + 1 : static_cast<std::uint64_t>(Units);
  const double value = ExtendedQuotient(magnitude, 0, SevenDecimalScale);
  return negative ? -value : value;
}

double ExtendedQuotient(std::uint64_t Numerator, int Exponent, std::uint64_t Denominator) noexcept {
  if (Numerator == 0) return 0.0;
  using u128 = unsigned __int128;
  const u128 magnitude = Numerator;
  const u128 denominator = Denominator;
  const u128 top64 = static_cast<u128>(1) << 63;

  // Scale so that the integer quotient holds exactly 64 significant bits.
  int shift = 0;
  while ((magnitude << shift) / denominator < top64) ++shift;
  const u128 scaled = magnitude << shift;
  u128 q = scaled / denominator;
  const u128 rem = scaled % denominator;

  // First rounding: to the 64-bit significand.
  if (2 * rem > denominator || (2 * rem == denominator && (q & 1) != 0)) ++q;
  if (q >> 64 != 0) {
    q >>= 1;
    --shift;
  }

  // Second rounding: from 64 to 53 bits. A value that the first rounding put
  // exactly halfway between two doubles goes to the even one here.
  const std::uint64_t low = static_cast<std::uint64_t>(q & 0x7FF);
  std::uint64_t q53 = static_cast<std::uint64_t>(q >> 11);
  if (low > 0x400 || (low == 0x400 && (q53 & 1) != 0)) ++q53;
  int exponent = Exponent + 11 - shift;
  if (q53 >> 53 != 0) {
    q53 >>= 1;
    ++exponent;
  }
  return std::ldexp(static_cast<double>(q53), exponent);
}

}  // namespace quenvis
