#include "analysis/Unclip.h"

#include <Eigen/Cholesky>

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace quenvis {

namespace {

// Equations the predictor needs beside its unknowns.
constexpr int MinEquations = 4 * CUnclip::Order;
// A redrawing this much inside the rail, or peaking this far beyond it,
// is the predictor's failure, not the voice.
constexpr double MostInside = 0.2, HighestPeak = 3;

// Solves the symmetric positive definite N x N system A x = B (A whole,
// not one triangle) in place, Eigen factoring A where it lies: nothing is
// allocated. B becomes x.
bool Cholesky(double* A, double* B, int N) noexcept {
  Eigen::Map<Eigen::MatrixXd> a(A, N, N);
  const Eigen::LLT<Eigen::Ref<Eigen::MatrixXd>> llt(a);
  if (llt.info() != Eigen::Success) return false;
  Eigen::Map<Eigen::VectorXd> b(B, N);
  llt.solveInPlace(b);
  return true;
}

}  // namespace

bool CUnclip::FitPredictor(const double* X, const std::uint8_t* Railed, int Stop) noexcept {
  constexpr int p = Order;
  std::fill(FNormal.begin(), FNormal.end(), 0.0);
  std::fill(FRight.begin(), FRight.end(), 0.0);
  int equations = 0, railedIn = 0;  // railed frames among X[n - p, n]
  for (int n = 0; n < Stop; ++n) {
    railedIn += Railed[n] != 0;
    if (n > p) railedIn -= Railed[n - p - 1] != 0;
    if (n < p || railedIn > 0) continue;
    ++equations;
    for (int i = 0; i < p; ++i) {
      const double xi = X[n - 1 - i];
      FRight[static_cast<std::size_t>(i)] += xi * X[n];
      for (int j = 0; j <= i; ++j)
        FNormal[static_cast<std::size_t>(i * p + j)] += xi * X[n - 1 - j];
    }
  }
  if (equations < MinEquations) return false;
  for (int i = 0; i < p; ++i) {
    for (int j = 0; j < i; ++j)
      FNormal[static_cast<std::size_t>(j * p + i)] = FNormal[static_cast<std::size_t>(i * p + j)];
    // A touch of loading: a voice's band ends far below 22 kHz, which
    // leaves the equations all but singular.
    FNormal[static_cast<std::size_t>(i * p + i)] *= 1 + 1e-6;
    FNormal[static_cast<std::size_t>(i * p + i)] += 1e-18;
  }
  if (!Cholesky(FNormal.data(), FRight.data(), p)) return false;
  // The prediction error filter 1 - sum a_k z^-k, and its autocorrelation.
  FError[0] = 1;
  for (int k = 1; k <= p; ++k)
    FError[static_cast<std::size_t>(k)] = -FRight[static_cast<std::size_t>(k - 1)];
  for (int k = 0; k <= p; ++k) {
    double s = 0;
    for (int i = 0; i + k <= p; ++i)
      s += FError[static_cast<std::size_t>(i)] * FError[static_cast<std::size_t>(i + k)];
    FSelf[static_cast<std::size_t>(k)] = s;
  }
  return true;
}

// The samples of the run that leave the least prediction error over it and
// the Order frames after it: its normal equations are banded Toeplitz in
// the error filter's autocorrelation, the known frames beside it on the right.
bool CUnclip::Predict(double* X, int Start, int End) noexcept {
  constexpr int p = Order;
  const int n = End - Start;
  for (int r = 0; r < n; ++r) {
    for (int c = 0; c < n; ++c) {
      const int lag = std::abs(r - c);
      FRun[static_cast<std::size_t>(r * n + c)] =
          lag <= p ? FSelf[static_cast<std::size_t>(lag)] : 0.0;
    }
    double known = 0;
    const int t = Start + r;
    for (int m = t - p; m <= t + p; ++m)
      if (m < Start || m >= End) known += FSelf[static_cast<std::size_t>(std::abs(t - m))] * X[m];
    FSolved[static_cast<std::size_t>(r)] = -known;
  }
  if (!Cholesky(FRun.data(), FSolved.data(), n)) return false;
  int inside = 0;
  double peak = 0, rail = 0;
  for (int k = 0; k < n; ++k) {
    const double v = FSolved[static_cast<std::size_t>(k)], x = X[Start + k];
    rail = std::max(rail, std::abs(x));
    peak = std::max(peak, std::abs(v));
    inside += !(std::isfinite(v) && v * x > 0 && std::abs(v) >= std::abs(x));
  }
  if (inside > MostInside * n || peak > HighestPeak * rail) return false;
  for (int k = 0; k < n; ++k) {
    double& x = X[Start + k];
    const double v = FSolved[static_cast<std::size_t>(k)];
    x = x >= 0 ? std::max(v, x) : std::min(v, x);
  }
  return true;
}

int CUnclip::Redraw(double* X, const std::uint8_t* Railed, int From, int Stop) noexcept {
  const auto railed = [&](int i) { return Railed[i] != 0; };
  bool any = false;
  for (int i = From; i < Stop && !any; ++i) any = railed(i);
  if (!any) return 0;
  bool longRun = false;
  for (int i = From, run = 0; i < Stop && !longRun; ++i) {
    run = Railed[i] != 0 ? run + 1 : 0;
    longRun = run >= MinRun;
  }
  const bool predictor = longRun && FitPredictor(X, Railed, Stop);
  int left = 0;
  for (int i = From; i < Stop;) {
    if (!railed(i)) {
      ++i;
      continue;
    }
    int start = i, end = i;
    while (start > 0 && railed(start - 1)) --start;
    while (end < Stop && railed(end)) ++end;
    const int length = end - start;
    if (length > MaxPeak) left += end - i;
    if (predictor && length >= MinRun && length <= MaxRun && start >= Order &&
        end + Order <= Stop && Predict(X, start, end)) {
      i = end;
      continue;
    }
    // The waveform beside the run: two frames each side.
    if (start < 2 || end + 2 > Stop || length > MaxPeak) {
      i = end;
      continue;
    }
    const double p0 = X[start - 1], m0 = X[start - 1] - X[start - 2];
    const double p1 = X[end], m1 = X[end + 1] - X[end];
    const double span = length + 1;
    for (int k = i; k < end; ++k) {
      const double t = (k - start + 1) / span, t2 = t * t, t3 = t2 * t;
      const double v = (2 * t3 - 3 * t2 + 1) * p0 + (t3 - 2 * t2 + t) * span * m0 +
                       (-2 * t3 + 3 * t2) * p1 + (t3 - t2) * span * m1;
      X[k] = X[k] >= 0 ? std::max(v, X[k]) : std::min(v, X[k]);
    }
    i = end;
  }
  return left;
}

}  // namespace quenvis
