#pragma once
// The double nearest a 7-decimal value, through the C library's correctly
// rounded decimal conversion: an independent check of the tables' rounding.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace quenvis::test {

inline double NearestDouble(std::int64_t Units) {
  char text[40];
  std::snprintf(text, sizeof text, "%s%lld.%07lld", Units < 0 ? "-" : "",
                static_cast<long long>(std::llabs(Units) / 10'000'000),
                static_cast<long long>(std::llabs(Units) % 10'000'000));
  return std::strtod(text, nullptr);
}

}  // namespace quenvis::test
