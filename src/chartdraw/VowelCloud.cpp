#include "chartdraw/VowelCloud.h"

#include <cmath>
#include <numbers>

namespace quenvis {

bool FitCloudEllipse(const std::vector<TVowelPoint>& Points, TCloudEllipse& Ellipse) {
  if (Points.size() < MinCloudPoints) return false;
  // Two passes: the mean first, then the spread about it, which keeps the
  // covariance exact for a tight cloud far from the origin.
  double m1 = 0, m2 = 0;
  for (const TVowelPoint& p : Points) {
    if (!(std::isfinite(p.F1) && std::isfinite(p.F2) && p.F1 > 0 && p.F2 > 0)) return false;
    m1 += HzToBark(p.F1);
    m2 += HzToBark(p.F2);
  }
  const double n = static_cast<double>(Points.size());
  m1 /= n;
  m2 /= n;
  double s11 = 0, s22 = 0, s12 = 0;
  for (const TVowelPoint& p : Points) {
    const double d1 = HzToBark(p.F1) - m1, d2 = HzToBark(p.F2) - m2;
    s11 += d1 * d1;
    s22 += d2 * d2;
    s12 += d1 * d2;
  }
  s11 /= n - 1;
  s22 /= n - 1;
  s12 /= n - 1;
  // Eigenvalues of [[s22, s12], [s12, s11]] with F2 as the first axis.
  const double half = (s22 - s11) / 2, mid = (s22 + s11) / 2;
  const double root = std::hypot(half, s12);
  Ellipse.Count = Points.size();
  Ellipse.F1Bark = m1;
  Ellipse.F2Bark = m2;
  Ellipse.F1Hz = BarkToHz(m1);
  Ellipse.F2Hz = BarkToHz(m2);
  Ellipse.Major = std::sqrt(std::max(0.0, mid + root));
  Ellipse.Minor = std::sqrt(std::max(0.0, mid - root));
  double angle = 0.5 * std::atan2(2 * s12, s22 - s11);
  if (angle <= -std::numbers::pi / 2) angle += std::numbers::pi;
  Ellipse.Angle = angle;
  return true;
}

void EllipsePoint(const TCloudEllipse& Ellipse, double Sigmas, double Theta, double& F1Bark,
                  double& F2Bark) noexcept {
  const double a = Sigmas * Ellipse.Major * std::cos(Theta);
  const double b = Sigmas * Ellipse.Minor * std::sin(Theta);
  const double c = std::cos(Ellipse.Angle), s = std::sin(Ellipse.Angle);
  F2Bark = Ellipse.F2Bark + a * c - b * s;
  F1Bark = Ellipse.F1Bark + a * s + b * c;
}

bool InsideCloud(const TCloudEllipse& Ellipse, double Sigmas, double F1, double F2) noexcept {
  const double d2 = HzToBark(F2) - Ellipse.F2Bark, d1 = HzToBark(F1) - Ellipse.F1Bark;
  const double c = std::cos(Ellipse.Angle), s = std::sin(Ellipse.Angle);
  const double u = d2 * c + d1 * s, v = -d2 * s + d1 * c;
  // A cloud with no spread along an axis (rounding leaves a trace) holds
  // nothing.
  constexpr double Flat = 1e-9;
  const double a = Sigmas * Ellipse.Major, b = Sigmas * Ellipse.Minor;
  if (!(a > Flat) || !(b > Flat)) return false;
  return (u / a) * (u / a) + (v / b) * (v / b) <= 1.0;
}

double BarkDistance(double F1a, double F2a, double F1b, double F2b) noexcept {
  return std::hypot(HzToBark(F1a) - HzToBark(F1b), HzToBark(F2a) - HzToBark(F2b));
}

std::vector<TCloudEllipse> ClusterByNearest(const std::vector<TVowelPoint>& Points,
                                            const std::vector<TReferenceVowel>& References,
                                            double MaxBark) {
  std::vector<std::vector<TVowelPoint>> groups(References.size());
  for (const TVowelPoint& p : Points) {
    std::size_t best = References.size();
    double bestDistance = MaxBark;
    for (std::size_t r = 0; r < References.size(); ++r) {
      const double d = BarkDistance(p.F1, p.F2, References[r].F1, References[r].F2);
      if (d <= bestDistance) {
        bestDistance = d;
        best = r;
      }
    }
    if (best < References.size()) groups[best].push_back(p);
  }
  std::vector<TCloudEllipse> clusters;
  for (std::size_t r = 0; r < References.size(); ++r) {
    TCloudEllipse e;
    if (!FitCloudEllipse(groups[r], e)) continue;
    e.Label = References[r].Label;
    clusters.push_back(std::move(e));
  }
  return clusters;
}

}  // namespace quenvis
