#include "analysis/CompanionRoots.h"

#include <Eigen/Eigenvalues>

#include <algorithm>
#include <cmath>
#include <limits>

namespace quenvis {

namespace {

constexpr int N = MaxCompanionOrder;
using TMatrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, 0, N, N>;
constexpr double Tiny = std::numeric_limits<double>::min();

// The eigenvalues as Eigen reads them off the quasi-triangular T.
bool ReadOff(const TMatrix& T, int P, std::array<std::complex<double>, N>& Roots) noexcept {
  for (int i = 0; i < P;) {
    if (i == P - 1 || T(i + 1, i) == 0) {
      Roots[static_cast<std::size_t>(i)] = T(i, i);
      if (!std::isfinite(T(i, i))) return false;
      ++i;
      continue;
    }
    const double p = 0.5 * (T(i, i) - T(i + 1, i + 1));
    double t0 = T(i + 1, i), t1 = T(i, i + 1);
    const double maxval = std::max(std::abs(p), std::max(std::abs(t0), std::abs(t1)));
    t0 /= maxval;
    t1 /= maxval;
    const double p0 = p / maxval;
    const double z = maxval * std::sqrt(std::abs(p0 * p0 + t0 * t1));
    const std::complex<double> upper(T(i + 1, i + 1) + p, z), lower(T(i + 1, i + 1) + p, -z);
    Roots[static_cast<std::size_t>(i)] = upper;
    Roots[static_cast<std::size_t>(i + 1)] = lower;
    if (!std::isfinite(upper.real()) || !std::isfinite(upper.imag()) ||
        !std::isfinite(lower.real()) || !std::isfinite(lower.imag()))
      return false;
    i += 2;
  }
  return true;
}

}  // namespace

bool CompanionRoots(const double* A, int P,
                    std::array<std::complex<double>, MaxCompanionOrder>& Roots) noexcept {
  if (P < 1 || P > N) return false;
  TMatrix companion(P, P);
  companion.setZero();
  for (int k = 0; k < P; ++k) companion(0, k) = -A[k + 1];
  for (int k = 1; k < P; ++k) companion(k, k - 1) = 1;
  if (!companion.allFinite()) {
    // Eigen's own way through NaN and infinity, which nothing here needs fast.
    const Eigen::EigenSolver<TMatrix> solver(companion, false);
    if (solver.info() != Eigen::Success) return false;
    for (int k = 0; k < P; ++k) Roots[static_cast<std::size_t>(k)] = solver.eigenvalues()(k);
    return true;
  }
  // Scaled by the largest entry; a companion matrix is already of
  // Hessenberg form, which Eigen's reduction leaves as it is.
  const double scale = companion.cwiseAbs().maxCoeff();
  TMatrix T(P, P);
  if (scale < Tiny) {
    T.setZero();
  } else {
    // Eigen's Schur iterations straight on the matrix: its reduction to
    // Hessenberg form would change nothing here but take time.
    Eigen::RealSchur<TMatrix> schur(P);
    schur.computeFromHessenberg(companion / scale, TMatrix::Identity(P, P), false);
    if (schur.info() != Eigen::Success) return false;
    T = schur.matrixT() * scale;
  }
  return ReadOff(T, P, Roots);
}

}  // namespace quenvis
