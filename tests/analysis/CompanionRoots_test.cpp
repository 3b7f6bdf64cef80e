#include "analysis/CompanionRoots.h"

#include <gtest/gtest.h>

#include <Eigen/Eigenvalues>

#include <cmath>
#include <complex>
#include <cstring>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

namespace quenvis {
namespace {

using TMatrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, 0, MaxCompanionOrder,
                              MaxCompanionOrder>;

// Eigen's answer: whether it succeeds, and its eigenvalues.
bool EigenRoots(const std::vector<double>& A, std::vector<std::complex<double>>& Roots) {
  const int p = static_cast<int>(A.size()) - 1;
  TMatrix companion(p, p);
  companion.setZero();
  for (int k = 0; k < p; ++k) companion(0, k) = -A[static_cast<std::size_t>(k + 1)];
  for (int k = 1; k < p; ++k) companion(k, k - 1) = 1;
  const Eigen::EigenSolver<TMatrix> solver(companion, false);
  if (solver.info() != Eigen::Success) return false;
  Roots.resize(static_cast<std::size_t>(p));
  for (int k = 0; k < p; ++k) Roots[static_cast<std::size_t>(k)] = solver.eigenvalues()(k);
  return true;
}

bool SameBits(double X, double Y) { return std::memcmp(&X, &Y, sizeof X) == 0 || (X == 0 && Y == 0); }

// The coefficients of the polynomial with these roots (conjugates added).
std::vector<double> FromRoots(const std::vector<std::complex<double>>& Upper, int Reals,
                              std::mt19937& Random) {
  std::vector<std::complex<double>> c{1.0};
  auto times = [&](std::complex<double> r) {
    c.push_back(0.0);
    for (std::size_t i = c.size() - 1; i > 0; --i) c[i] -= r * c[i - 1];
  };
  for (const auto& r : Upper) {
    times(r);
    times(std::conj(r));
  }
  std::uniform_real_distribution<double> real(-1.0, 1.0);
  for (int i = 0; i < Reals; ++i) times(real(Random));
  std::vector<double> a;
  for (const auto& x : c) a.push_back(x.real());
  return a;
}

// The same success and the same roots, to the bit and in the same order,
// as Eigen's solver on the companion matrix: for the all-pole fits'
// polynomials (roots inside the unit circle, some sharp, some broad),
// random coefficients of every size, repeated and clustered roots, roots on
// the unit circle, zeros, extreme scales and non-finite coefficients.
TEST(CompanionRoots, AreEigensToTheBit) {
  std::mt19937 random(11);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::normal_distribution<double> normal(0.0, 1.0);
  std::vector<std::vector<double>> cases;
  for (int trial = 0; trial < 20000; ++trial) {
    const int pairs = 1 + trial % 7;
    std::vector<std::complex<double>> upper;
    for (int i = 0; i < pairs; ++i) {
      const double radius = trial % 3 == 0 ? 1 - 1e-4 * unit(random) : 0.3 + 0.7 * unit(random);
      upper.push_back(std::polar(radius, std::numbers::pi * unit(random)));
    }
    cases.push_back(FromRoots(upper, 0, random));
  }
  for (int trial = 0; trial < 20000; ++trial) {
    const int p = 1 + trial % MaxCompanionOrder;
    std::vector<double> a{1.0};
    const double size = std::pow(10.0, trial % 5 == 0 ? 8 * normal(random) : normal(random));
    for (int k = 0; k < p; ++k) a.push_back(size * normal(random));
    if (trial % 7 == 0) a[static_cast<std::size_t>(1 + trial % p)] = 0;
    cases.push_back(a);
  }
  for (int p = 1; p <= MaxCompanionOrder; ++p) {
    std::vector<double> zeros(static_cast<std::size_t>(p + 1), 0.0);
    zeros[0] = 1;
    cases.push_back(zeros);
    // (z - 0.9)^p and z^p - 1: repeated roots, roots on the unit circle.
    std::vector<double> repeated{1.0}, circle(static_cast<std::size_t>(p + 1), 0.0);
    for (int k = 1; k <= p; ++k)
      repeated.push_back(repeated.back() * -0.9 * (p - k + 1) / k);
    circle[0] = 1;
    circle.back() = -1;
    cases.push_back(repeated);
    cases.push_back(circle);
    for (const double bad : {std::numeric_limits<double>::quiet_NaN(),
                             std::numeric_limits<double>::infinity(), 1e300, 1e-300}) {
      std::vector<double> a(static_cast<std::size_t>(p + 1), 0.5);
      a[0] = 1;
      a.back() = bad;
      cases.push_back(a);
    }
  }
  int mismatches = 0, solved = 0;
  for (const auto& a : cases) {
    std::vector<std::complex<double>> expected;
    const bool ok = EigenRoots(a, expected);
    std::array<std::complex<double>, MaxCompanionOrder> roots;
    const bool got = CompanionRoots(a.data(), static_cast<int>(a.size()) - 1, roots);
    solved += ok;
    bool same = ok == got;
    for (std::size_t k = 0; same && ok && k < expected.size(); ++k)
      same = SameBits(roots[k].real(), expected[k].real()) &&
             SameBits(roots[k].imag(), expected[k].imag());
    if (!same && ++mismatches <= 5) {
      ADD_FAILURE() << "order " << a.size() - 1 << ", a1 " << a[1] << ": "
                    << (ok == got ? "other roots" : "other success");
    }
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_GT(solved, 40000);
}

}  // namespace
}  // namespace quenvis
