// Clouds of known spread give back their means and ellipses.
#include "chartdraw/VowelCloud.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

namespace {

using namespace quenvis;

// N points of a Gaussian in Bark: Major and Minor sigmas, the major axis at
// Angle from the F2 axis.
std::vector<TVowelPoint> Cloud(double F1Hz, double F2Hz, double Major, double Minor, double Angle,
                               std::size_t N, unsigned Seed) {
  std::mt19937 random(Seed);
  std::normal_distribution<double> normal;
  const double m1 = HzToBark(F1Hz), m2 = HzToBark(F2Hz);
  std::vector<TVowelPoint> points;
  for (std::size_t i = 0; i < N; ++i) {
    const double a = Major * normal(random), b = Minor * normal(random);
    const double b2 = m2 + a * std::cos(Angle) - b * std::sin(Angle);
    const double b1 = m1 + a * std::sin(Angle) + b * std::cos(Angle);
    points.push_back({BarkToHz(b1), BarkToHz(b2)});
  }
  return points;
}

// Angles of an axis are equal modulo pi.
double AxisDifference(double A, double B) {
  double d = std::fmod(A - B, std::numbers::pi);
  if (d > std::numbers::pi / 2) d -= std::numbers::pi;
  if (d < -std::numbers::pi / 2) d += std::numbers::pi;
  return std::fabs(d);
}

struct TCloudCase {
  const char* Name;
  double F1, F2, Major, Minor, Angle;
};

class CloudEllipse : public ::testing::TestWithParam<TCloudCase> {};

TEST_P(CloudEllipse, KnownGaussianGivesItsEllipse) {
  const TCloudCase& c = GetParam();
  const std::vector<TVowelPoint> points = Cloud(c.F1, c.F2, c.Major, c.Minor, c.Angle, 20000, 7);
  TCloudEllipse e;
  ASSERT_TRUE(FitCloudEllipse(points, e));
  EXPECT_EQ(e.Count, points.size());
  EXPECT_NEAR(e.F1Bark, HzToBark(c.F1), 0.01);
  EXPECT_NEAR(e.F2Bark, HzToBark(c.F2), 0.01);
  EXPECT_NEAR(e.F1Hz, c.F1, c.F1 * 0.005);
  EXPECT_NEAR(e.F2Hz, c.F2, c.F2 * 0.005);
  EXPECT_NEAR(e.Major, c.Major, c.Major * 0.03);
  EXPECT_NEAR(e.Minor, c.Minor, c.Minor * 0.03);
  EXPECT_GE(e.Major, e.Minor);
  EXPECT_GT(e.Angle, -std::numbers::pi / 2);
  EXPECT_LE(e.Angle, std::numbers::pi / 2);
  if (c.Major > 1.2 * c.Minor) {
    EXPECT_LT(AxisDifference(e.Angle, c.Angle), 0.03);
  }

  // A two-dimensional Gaussian has 1 - e^-1/2 of its mass within one sigma
  // and 1 - e^-2 within two.
  std::size_t one = 0, two = 0;
  for (const TVowelPoint& p : points) {
    one += InsideCloud(e, 1.0, p.F1, p.F2);
    two += InsideCloud(e, 2.0, p.F1, p.F2);
  }
  EXPECT_NEAR(double(one) / points.size(), 1 - std::exp(-0.5), 0.012);
  EXPECT_NEAR(double(two) / points.size(), 1 - std::exp(-2.0), 0.012);

  // The drawn outline is where the Mahalanobis distance is one.
  for (double theta = 0; theta < 6.28; theta += 0.5) {
    double b1 = 0, b2 = 0;
    EllipsePoint(e, 0.98, theta, b1, b2);
    EXPECT_TRUE(InsideCloud(e, 1.0, BarkToHz(b1), BarkToHz(b2))) << theta;
    EllipsePoint(e, 1.02, theta, b1, b2);
    EXPECT_FALSE(InsideCloud(e, 1.0, BarkToHz(b1), BarkToHz(b2))) << theta;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Clouds, CloudEllipse,
    ::testing::Values(TCloudCase{"along_f2", 500, 1500, 0.6, 0.2, 0.0},
                      TCloudCase{"along_f1", 700, 1200, 0.5, 0.15, std::numbers::pi / 2},
                      TCloudCase{"rising", 310, 2790, 0.4, 0.1, 0.5},
                      TCloudCase{"falling", 850, 1220, 0.45, 0.2, -1.0},
                      TCloudCase{"round", 600, 1000, 0.3, 0.3, 0.0},
                      TCloudCase{"tight_high", 370, 3200, 0.05, 0.02, 0.8}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(CloudEllipse, TooFewOrUnusablePointsMakeNoEllipse) {
  TCloudEllipse e;
  e.Label = "kept";
  const std::vector<TVowelPoint> four(4, TVowelPoint{500, 1500});
  EXPECT_FALSE(FitCloudEllipse(four, e));
  EXPECT_FALSE(FitCloudEllipse({}, e));
  std::vector<TVowelPoint> withNan = Cloud(500, 1500, 0.3, 0.1, 0, 20, 1);
  withNan[3].F2 = std::nan("");
  EXPECT_FALSE(FitCloudEllipse(withNan, e));
  std::vector<TVowelPoint> withZero = Cloud(500, 1500, 0.3, 0.1, 0, 20, 1);
  withZero[5].F1 = 0;
  EXPECT_FALSE(FitCloudEllipse(withZero, e));
  EXPECT_EQ(e.Label, "kept");

  // Identical points: a mean and no spread, which holds nothing.
  const std::vector<TVowelPoint> same(10, TVowelPoint{500, 1500});
  ASSERT_TRUE(FitCloudEllipse(same, e));
  EXPECT_NEAR(e.F1Hz, 500, 1e-6);
  EXPECT_NEAR(e.F2Hz, 1500, 1e-6);
  EXPECT_LT(e.Major, 1e-6);
  EXPECT_FALSE(InsideCloud(e, 1.0, 500, 1500));
}

TEST(CloudEllipse, PointsGoToTheNearestReferenceWithinReach) {
  const std::vector<TReferenceVowel> refs = {
      {"i", 310, 2790, std::nullopt}, {"a", 850, 1220, std::nullopt}, {"u", 370, 950, std::nullopt}};
  std::vector<TVowelPoint> points = Cloud(330, 2700, 0.3, 0.1, 0.2, 300, 3);
  const std::vector<TVowelPoint> a = Cloud(800, 1300, 0.25, 0.15, -0.4, 200, 4);
  points.insert(points.end(), a.begin(), a.end());
  // Far from every reference, and a lone point near "u": neither makes a cloud.
  points.push_back({1500, 4000});
  points.push_back({380, 940});
  const std::vector<TCloudEllipse> clusters = ClusterByNearest(points, refs);
  ASSERT_EQ(clusters.size(), 2u);
  EXPECT_EQ(clusters[0].Label, "i");
  EXPECT_EQ(clusters[1].Label, "a");
  EXPECT_NEAR(clusters[0].F1Hz, 330, 15);
  EXPECT_NEAR(clusters[0].F2Hz, 2700, 60);
  EXPECT_NEAR(clusters[1].F1Hz, 800, 25);
  EXPECT_NEAR(clusters[1].F2Hz, 1300, 40);
  EXPECT_EQ(clusters[0].Count + clusters[1].Count, 500u);
}

}  // namespace
