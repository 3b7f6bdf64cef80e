#include "analysis/CompanionRoots.h"

#include <Eigen/Eigenvalues>

#include <algorithm>
#include <cmath>
#include <limits>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quenvis {

namespace {

constexpr int N = MaxCompanionOrder;
using TMatrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, 0, N, N>;
constexpr double Eps = std::numeric_limits<double>::epsilon();
constexpr double Tiny = std::numeric_limits<double>::min();
constexpr int MaxIterationsPerRow = 40;

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

// The reflector taking V (of size S, 2 or 3) onto its first axis: Tau, Beta
// and the essential part E, as Eigen's makeHouseholder makes them.
template <int S>
void Householder(const double* V, double* E, double& Tau, double& Beta) noexcept {
  double tail = 0;
  if constexpr (S == 3)
    tail = V[1] * V[1] + V[2] * V[2];
  else
    tail = V[1] * V[1];
  const double c0 = V[0];
  if (tail <= Tiny) {
    Tau = 0;
    Beta = c0;
    for (int i = 0; i + 1 < S; ++i) E[i] = 0;
    return;
  }
  Beta = std::sqrt(c0 * c0 + tail);
  if (c0 >= 0) Beta = -Beta;
  for (int i = 0; i + 1 < S; ++i) E[i] = V[i + 1] / (c0 - Beta);
  Tau = (Beta - c0) / Beta;
}

// H T on rows R..R+S-1, columns From..To.
template <int S>
void ReflectRows(TMatrix& T, int R, int From, int To, const double* E, double Tau) noexcept {
  if (Tau == 0) return;
  double te[S - 1];
  for (int i = 0; i + 1 < S; ++i) te[i] = Tau * E[i];
  for (int c = From; c <= To; ++c) {
    double t = E[0] * T(R + 1, c);
    if constexpr (S == 3) t = t + E[1] * T(R + 2, c);
    t += T(R, c);
    T(R, c) -= Tau * t;
    for (int i = 0; i + 1 < S; ++i) T(R + 1 + i, c) -= t * te[i];
  }
}

// T H on columns C..C+S-1, rows From..To.
template <int S>
void ReflectColumns(TMatrix& T, int C, int From, int To, const double* E, double Tau) noexcept {
  if (Tau == 0) return;
  int r = From;
#if defined(__SSE2__)
  // Two rows at a time down the columns (stored a column after another):
  // the same products and sums for each.
  double* c0 = T.data() + static_cast<std::ptrdiff_t>(C) * T.rows();
  double* c1 = c0 + T.rows();
  double* c2 = c1 + T.rows();
  const __m128d e0 = _mm_set1_pd(E[0]), e1 = _mm_set1_pd(S == 3 ? E[1] : 0.0),
                tau = _mm_set1_pd(Tau);
  for (; r + 1 <= To; r += 2) {
    __m128d t = _mm_mul_pd(_mm_loadu_pd(c1 + r), e0);
    if constexpr (S == 3) t = _mm_add_pd(t, _mm_mul_pd(_mm_loadu_pd(c2 + r), e1));
    t = _mm_add_pd(t, _mm_loadu_pd(c0 + r));
    const __m128d tt = _mm_mul_pd(tau, t);
    _mm_storeu_pd(c0 + r, _mm_sub_pd(_mm_loadu_pd(c0 + r), tt));
    _mm_storeu_pd(c1 + r, _mm_sub_pd(_mm_loadu_pd(c1 + r), _mm_mul_pd(e0, tt)));
    if constexpr (S == 3)
      _mm_storeu_pd(c2 + r, _mm_sub_pd(_mm_loadu_pd(c2 + r), _mm_mul_pd(e1, tt)));
  }
#endif
  for (; r <= To; ++r) {
    double t = T(r, C + 1) * E[0];
    if constexpr (S == 3) t = t + T(r, C + 2) * E[1];
    t += T(r, C);
    T(r, C) -= Tau * t;
    const double tt = Tau * t;
    for (int j = 0; j + 1 < S; ++j) T(r, C + 1 + j) -= E[j] * tt;
  }
}

// Rows and columns past Iu are settled: nothing there is read again, so
// the steps leave them. Rows above the window are not (a later window may
// reach up into them).
class CSchur {
 public:
  CSchur(TMatrix& T, int P) : FT(T), FP(P) {}

  bool Run() noexcept {
    TMatrix& T = FT;
    const int maxIters = MaxIterationsPerRow * FP;
    int iu = FP - 1, iter = 0, totalIter = 0;
    double exshift = 0;
    double norm = 0;
    for (int j = 0; j < FP; ++j) norm += T.col(j).segment(0, std::min(FP, j + 2)).cwiseAbs().sum();
    const double considerAsZero = std::max(norm * (Eps * Eps), Tiny);
    if (norm == 0) return true;
    while (iu >= 0) {
      const int il = SmallSubdiagonal(iu, considerAsZero);
      if (il == iu) {
        T(iu, iu) = T(iu, iu) + exshift;
        if (iu > 0) T(iu, iu - 1) = 0;
        --iu;
        iter = 0;
      } else if (il == iu - 1) {
        SplitOffTwoRows(iu, exshift);
        iu -= 2;
        iter = 0;
      } else {
        double shift[3];
        ComputeShift(iu, iter, exshift, shift);
        ++iter;
        ++totalIter;
        if (totalIter > maxIters) break;
        int im = 0;
        double first[3] = {0, 0, 0};
        InitStep(il, iu, shift, im, first);
        Step(il, im, iu, first);
      }
    }
    return totalIter <= maxIters;
  }

 private:
  int SmallSubdiagonal(int Iu, double ConsiderAsZero) const noexcept {
    int res = Iu;
    while (res > 0) {
      double s = std::abs(FT(res - 1, res - 1)) + std::abs(FT(res, res));
      s = std::max(s * Eps, ConsiderAsZero);
      if (std::abs(FT(res, res - 1)) <= s) break;
      --res;
    }
    return res;
  }

  void SplitOffTwoRows(int Iu, double Exshift) noexcept {
    TMatrix& T = FT;
    const double p = 0.5 * (T(Iu - 1, Iu - 1) - T(Iu, Iu));
    const double q = p * p + T(Iu, Iu - 1) * T(Iu - 1, Iu);
    T(Iu, Iu) += Exshift;
    T(Iu - 1, Iu - 1) += Exshift;
    if (q >= 0) {
      const double z = std::sqrt(std::abs(q));
      double c = 0, s = 0;
      Givens(p >= 0 ? p + z : p - z, T(Iu, Iu - 1), c, s);
      // The rotation's adjoint from the left, the rotation from the right.
      Rotate(T(Iu - 1, Iu - 1), T(Iu, Iu - 1), c, -s);
      Rotate(T(Iu - 1, Iu), T(Iu, Iu), c, -s);
      Rotate(T(Iu - 1, Iu - 1), T(Iu - 1, Iu), c, -s);
      Rotate(T(Iu, Iu - 1), T(Iu, Iu), c, -s);
      T(Iu, Iu - 1) = 0;
    }
    if (Iu > 1) T(Iu - 1, Iu - 2) = 0;
  }

  static void Givens(double P, double Q, double& C, double& S) noexcept {
    if (Q == 0) {
      C = P < 0 ? -1 : 1;
      S = 0;
    } else if (P == 0) {
      C = 0;
      S = Q < 0 ? 1 : -1;
    } else if (std::abs(P) > std::abs(Q)) {
      const double t = Q / P;
      double u = std::sqrt(1 + t * t);
      if (P < 0) u = -u;
      C = 1 / u;
      S = -t * C;
    } else {
      const double t = P / Q;
      double u = std::sqrt(1 + t * t);
      if (Q < 0) u = -u;
      S = -1 / u;
      C = -t * S;
    }
  }

  static void Rotate(double& X, double& Y, double C, double S) noexcept {
    if (C == 1 && S == 0) return;
    const double x = X, y = Y;
    X = C * x + S * y;
    Y = -S * x + C * y;
  }

  void ComputeShift(int Iu, int Iter, double& Exshift, double* Shift) noexcept {
    TMatrix& T = FT;
    Shift[0] = T(Iu, Iu);
    Shift[1] = T(Iu - 1, Iu - 1);
    Shift[2] = T(Iu, Iu - 1) * T(Iu - 1, Iu);
    if (Iter == 10) {
      Exshift += Shift[0];
      for (int i = 0; i <= Iu; ++i) T(i, i) -= Shift[0];
      const double s = std::abs(T(Iu, Iu - 1)) + std::abs(T(Iu - 1, Iu - 2));
      Shift[0] = 0.75 * s;
      Shift[1] = 0.75 * s;
      Shift[2] = -0.4375 * s * s;
    }
    if (Iter == 30) {
      double s = (Shift[1] - Shift[0]) / 2.0;
      s = s * s + Shift[2];
      if (s > 0) {
        s = std::sqrt(s);
        if (Shift[1] < Shift[0]) s = -s;
        s = s + (Shift[1] - Shift[0]) / 2.0;
        s = Shift[0] - Shift[2] / s;
        Exshift += s;
        for (int i = 0; i <= Iu; ++i) T(i, i) -= s;
        Shift[0] = Shift[1] = Shift[2] = 0.964;
      }
    }
  }

  void InitStep(int Il, int Iu, const double* Shift, int& Im, double* V) const noexcept {
    const TMatrix& T = FT;
    for (Im = Iu - 2; Im >= Il; --Im) {
      const double tmm = T(Im, Im);
      const double r = Shift[0] - tmm;
      const double s = Shift[1] - tmm;
      V[0] = (r * s - Shift[2]) / T(Im + 1, Im) + T(Im, Im + 1);
      V[1] = T(Im + 1, Im + 1) - tmm - r - s;
      V[2] = T(Im + 2, Im + 1);
      if (Im == Il) break;
      const double lhs = T(Im, Im - 1) * (std::abs(V[1]) + std::abs(V[2]));
      const double rhs =
          V[0] * (std::abs(T(Im - 1, Im - 1)) + std::abs(tmm) + std::abs(T(Im + 1, Im + 1)));
      if (std::abs(lhs) < Eps * rhs) break;
    }
  }

  void Step(int Il, int Im, int Iu, const double* First) noexcept {
    TMatrix& T = FT;
    for (int k = Im; k <= Iu - 2; ++k) {
      const bool firstIteration = k == Im;
      double v[3];
      if (firstIteration) {
        v[0] = First[0], v[1] = First[1], v[2] = First[2];
      } else {
        v[0] = T(k, k - 1), v[1] = T(k + 1, k - 1), v[2] = T(k + 2, k - 1);
      }
      double e[2], tau = 0, beta = 0;
      Householder<3>(v, e, tau, beta);
      if (beta != 0) {
        if (firstIteration && k > Il)
          T(k, k - 1) = -T(k, k - 1);
        else if (!firstIteration)
          T(k, k - 1) = beta;
        ReflectRows<3>(T, k, k, Iu, e, tau);
        ReflectColumns<3>(T, k, 0, std::min(Iu, k + 3), e, tau);
      }
    }
    const double v[2] = {T(Iu - 1, Iu - 2), T(Iu, Iu - 2)};
    double e[1], tau = 0, beta = 0;
    Householder<2>(v, e, tau, beta);
    if (beta != 0) {
      T(Iu - 1, Iu - 2) = beta;
      ReflectRows<2>(T, Iu - 1, Iu - 1, Iu, e, tau);
      ReflectColumns<2>(T, Iu - 1, 0, Iu, e, tau);
    }
    for (int i = Im + 2; i <= Iu; ++i) {
      T(i, i - 2) = 0;
      if (i > Im + 2) T(i, i - 3) = 0;
    }
  }

  TMatrix& FT;
  const int FP;
};

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
    T = companion / scale;
    if (!CSchur(T, P).Run()) return false;
    T *= scale;
  }
  return ReadOff(T, P, Roots);
}

}  // namespace quenvis
