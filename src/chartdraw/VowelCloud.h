#pragma once
// A cloud of (F1, F2) points summed up as the plane draws it: its mean and
// its one-sigma ellipse, both on the Bark scale the chart is drawn on, and
// the grouping of a take's points into one cloud per vowel. Plain C++.
#include <cstddef>
#include <string>
#include <vector>

#include "chartdraw/ReferenceVowels.h"

namespace quenvis {

struct TVowelPoint {
  double F1 = 0, F2 = 0;  // Hz
};

struct TCloudEllipse {
  std::string Label;
  std::size_t Count = 0;
  double F1Bark = 0, F2Bark = 0;  // the mean
  double F1Hz = 0, F2Hz = 0;      // the mean, in Hz
  // Standard deviations along the principal axes (Major >= Minor), in Bark,
  // and the major axis's angle from the F2 axis towards rising F1, in
  // radians within (-pi/2, pi/2].
  double Major = 0, Minor = 0, Angle = 0;
};

// Fewer points than this make no ellipse: a spread from two or three blocks
// says nothing about a vowel.
inline constexpr std::size_t MinCloudPoints = 5;

// Mean and sample covariance (n - 1) of Points in Bark. False (Ellipse left
// as it was) with fewer than MinCloudPoints points or any not finite and
// positive.
bool FitCloudEllipse(const std::vector<TVowelPoint>& Points, TCloudEllipse& Ellipse);

// The point at Theta (radians) on the ellipse scaled by Sigmas, in Bark.
void EllipsePoint(const TCloudEllipse& Ellipse, double Sigmas, double Theta, double& F1Bark,
                  double& F2Bark) noexcept;

// Whether a pair lies within Sigmas standard deviations of the ellipse's
// mean (Mahalanobis distance).
bool InsideCloud(const TCloudEllipse& Ellipse, double Sigmas, double F1, double F2) noexcept;

// Distance between two pairs on the plane, in Bark.
double BarkDistance(double F1a, double F2a, double F1b, double F2b) noexcept;

// Groups points by the nearest of References (in Bark) and fits each
// group that has enough points, in the order of References. Points farther
// than MaxBark from every reference are left out.
std::vector<TCloudEllipse> ClusterByNearest(const std::vector<TVowelPoint>& Points,
                                            const std::vector<TReferenceVowel>& References,
                                            double MaxBark = 2.5);

}  // namespace quenvis
