#pragma once
// What the voice measures share: a value that may be undefined, and the dot
// product their correlations of periods run on.
#include <cmath>
#include <limits>

namespace quenvis {

// Undefined measures are NaN: 0 is a value every measure in dB can take.
inline constexpr double NoMeasure = std::numeric_limits<double>::quiet_NaN();
inline bool Measured(double Value) noexcept { return std::isfinite(Value); }

// Four sums at once: with one, each addition waits on the one before (four
// times as long over a period's correlations).
inline double Dot(const double* A, const double* B, int N) noexcept {
  double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
  int i = 0;
  for (; i + 4 <= N; i += 4) {
    s0 += A[i] * B[i];
    s1 += A[i + 1] * B[i + 1];
    s2 += A[i + 2] * B[i + 2];
    s3 += A[i + 3] * B[i + 3];
  }
  for (; i < N; ++i) s0 += A[i] * B[i];
  return (s0 + s1) + (s2 + s3);
}

}  // namespace quenvis
