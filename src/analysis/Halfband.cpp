#include "analysis/Halfband.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <numbers>

namespace quenvis {

namespace {

// Its odd taps away from the centre are zero.
struct THalfband {
  std::array<double, HalfbandTaps> H{};
  THalfband() {
    constexpr double Pi = std::numbers::pi;
    double sum = 0;
    constexpr int centre = HalfbandTaps / 2;
    for (int n = 0; n < HalfbandTaps; ++n) {
      const int m = n - centre;
      const double ideal = m == 0 ? 0.5 : std::sin(Pi * m / 2) / (Pi * m);
      const double x = 2 * Pi * (n + 1) / (HalfbandTaps + 1);
      const double w = 0.42 - 0.5 * std::cos(x) + 0.08 * std::cos(2 * x);
      H[static_cast<std::size_t>(n)] = (m % 2 == 0 && m != 0) ? 0.0 : ideal * w;
      sum += H[static_cast<std::size_t>(n)];
    }
    for (double& v : H) v /= sum;
  }
};
const THalfband Halfband;

}  // namespace

// Over the centre tap and the even ones (the rest are zero).
void HalfbandDecimate(const double* In, double* Out, int Count) noexcept {
  static_assert(HalfbandTaps % 4 == 3, "centre tap odd, outer taps even");
  const auto& h = Halfband.H;
  for (int k = 0; k < Count; ++k) {
    const double* x = In + 2 * k;
    double acc = h[HalfbandTaps / 2] * x[HalfbandTaps / 2];
    for (int j = 0; j < HalfbandTaps; j += 2) acc += h[static_cast<std::size_t>(j)] * x[j];
    Out[k] = acc;
  }
}

}  // namespace quenvis
