#include "analysis/Harmonicity.h"

#include <algorithm>
#include <cmath>

#include "analysis/VoiceMeasure.h"

namespace quenvis {

double CHarmonicity::Measure(const double* X, double Rate, double F0) noexcept {
  if (!(F0 > 0) || !(Rate > 0)) return NoMeasure;
  const int w = Window(Rate);
  const double period = Rate / F0;
  const int lo = std::max(2, static_cast<int>(std::floor(period * (1 - LagReach))));
  const int hi = static_cast<int>(std::ceil(period * (1 + LagReach)));
  const double xx = Dot(X, X, w);
  if (!(xx > 0)) return NoMeasure;
  // r at lo - 1 .. hi + 1, for the parabola at either end.
  double yy = Dot(X + lo - 1, X + lo - 1, w);
  double bestR = -2, beforeR = 0, afterR = 0, rPrev = 0;
  int bestLag = 0;
  for (int lag = lo - 1; lag <= hi + 1; ++lag) {
    if (lag > lo - 1) {
      const double out = X[lag - 1], in = X[lag - 1 + w];
      yy += in * in - out * out;
    }
    const double xy = Dot(X, X + lag, w);
    const double r = yy > 0 ? xy / std::sqrt(xx * yy) : 0.0;
    if (lag == bestLag + 1 && bestLag > 0) afterR = r;
    if (lag >= lo && lag <= hi && r > bestR) {
      bestR = r;
      bestLag = lag;
      beforeR = rPrev;
      afterR = r;  // until the next lag
    }
    rPrev = r;
  }
  if (!(bestR > 0)) return NoMeasure;
  double r = bestR;
  const double curve = beforeR - 2 * bestR + afterR;
  if (curve < 0) {
    const double shift = std::clamp(0.5 * (beforeR - afterR) / curve, -0.5, 0.5);
    r = bestR - 0.25 * (beforeR - afterR) * shift;
  }
  if (r >= 1) return MaxHnr;
  return std::min(MaxHnr, 10 * std::log10(r / (1 - r)));
}

}  // namespace quenvis
