#include "analysis/AllPoleFit.h"

#include <Eigen/Cholesky>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <numbers>

#include "analysis/CompanionRoots.h"

namespace quenvis {

namespace {

constexpr double Pi = std::numbers::pi;
constexpr int P = CAllPoleFit::MaxOrder;
// Sizes bounded at compile time: no allocation, whatever the order.
using TMatrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, 0, P + 1, P + 1>;
using TVector = Eigen::Matrix<double, Eigen::Dynamic, 1, 0, P + 1, 1>;

constexpr double MaxBandwidth = 500;
constexpr double MinBandwidth = 15;  // Hz; no vocal tract resonance is that sharp

}  // namespace

bool CAllPoleFit::Fit(THarmonics& H, int Order, double Ceiling, double MinFreq,
                      TResonances& Out) noexcept {
  Out.Count = 0;
  Order = std::clamp(Order, 2, MaxOrder);
  const int p = Order;
  const double preAlpha = std::exp(-2 * Pi * 200 / (2 * Ceiling));
  double total = 0;
  for (int m = 0; m < H.Count; ++m) {
    const double omega = Pi * H.Freq[static_cast<std::size_t>(m)] / Ceiling;
    const double c1 = std::cos(omega), s1 = std::sin(omega);
    // Multiples of the angle by rotation: ten steps lose nothing that counts.
    double c = 1, s = 0;
    for (int i = 0; i <= p; ++i) {
      FCos[static_cast<std::size_t>(m * (P + 1) + i)] = c;
      FSin[static_cast<std::size_t>(m * (P + 1) + i)] = s;
      const double next = c * c1 - s * s1;
      s = s * c1 + c * s1;
      c = next;
    }
    // 6 dB per octave from about 200 Hz up undoes most of the fall of the
    // glottal source, so the poles go to the formants.
    H.Power[static_cast<std::size_t>(m)] *= 1 - 2 * preAlpha * c1 + preAlpha * preAlpha;
    total += H.Power[static_cast<std::size_t>(m)];
  }
  if (!(total > 0) || !std::isfinite(total)) return false;
  for (int m = 0; m < H.Count; ++m) H.Power[static_cast<std::size_t>(m)] /= total;

  const int iterates = Iterate(H, p);
  if (iterates == 0) return false;
  if (!Roots(Iterated(iterates - 1), p, Ceiling, MinFreq, Out)) {
    // The iterates sharpen steadily, so a bisection finds the last sound one.
    int good = 0, bad = iterates - 1;
    while (bad - good > 1) {
      const int mid = (good + bad) / 2;
      (Roots(Iterated(mid), p, Ceiling, MinFreq, Out) ? good : bad) = mid;
    }
    Roots(Iterated(good), p, Ceiling, MinFreq, Out);
  }
  return true;
}

// The fixed-point iteration R a = h(a); keeps every iterate (a[0] = 1) and
// returns their count.
int CAllPoleFit::Iterate(const THarmonics& H, int p) noexcept {
  std::array<double, P + 1> r{};
  for (int m = 0; m < H.Count; ++m) {
    const double pm = H.Weight[static_cast<std::size_t>(m)] * H.Power[static_cast<std::size_t>(m)];
    for (int i = 0; i <= p; ++i)
      r[static_cast<std::size_t>(i)] += pm * FCos[static_cast<std::size_t>(m * (P + 1) + i)];
  }
  r[0] *= 1 + 1e-9;  // keeps the Toeplitz matrix positive definite

  TMatrix toeplitz(p + 1, p + 1);
  for (int i = 0; i <= p; ++i)
    for (int j = 0; j <= p; ++j) toeplitz(i, j) = r[static_cast<std::size_t>(std::abs(i - j))];
  const Eigen::LLT<TMatrix> llt(toeplitz);
  if (llt.info() != Eigen::Success) return 0;

  TVector a(p + 1), h(p + 1);
  h.setZero();
  h(0) = 1;
  a = llt.solve(h);
  if (!(a(0) > 0)) return 0;
  a /= a(0);
  int stored = 0;
  const auto keep = [&] {
    for (int k = 0; k <= p; ++k) FIterates[static_cast<std::size_t>(stored * (P + 1) + k)] = a(k);
    ++stored;
  };
  keep();

  for (int iter = 0; iter < MaxIterations; ++iter) {
    h.setZero();
    for (int m = 0; m < H.Count; ++m) {
      const double* cm = FCos.data() + m * (P + 1);
      const double* sm = FSin.data() + m * (P + 1);
      double ar = 0, ai = 0;
      for (int k = 0; k <= p; ++k) {
        ar += a(k) * cm[k];
        ai -= a(k) * sm[k];
      }
      const double mag = ar * ar + ai * ai;
      if (!(mag > 0)) return stored;
      const double inv = H.Weight[static_cast<std::size_t>(m)] / mag;
      for (int i = 0; i <= p; ++i) h(i) += (cm[i] * ar - sm[i] * ai) * inv;
    }
    TVector next = llt.solve(h);
    if (!(next(0) > 0) || !next.allFinite()) break;
    next /= next(0);
    const double change = (next - a).cwiseAbs().maxCoeff();
    a = next;
    keep();
    if (change < 1e-7) break;
  }
  return stored;
}

// Roots in the upper half plane, narrower than MaxBandwidth and above MinFreq,
// in rising order. False when one is sharper than MinBandwidth (on or next to
// the unit circle).
bool CAllPoleFit::Roots(const double* A, int p, double Ceiling, double MinFreq,
                        TResonances& Out) const noexcept {
  Out.Count = 0;
  std::array<std::complex<double>, MaxCompanionOrder> roots;
  if (!CompanionRoots(A, p, roots)) return false;

  bool sound = true;
  const double scale = Ceiling / Pi;
  for (int k = 0; k < p; ++k) {
    const std::complex<double> z = roots[static_cast<std::size_t>(k)];
    if (!(z.imag() > 0)) continue;
    const double f = std::atan2(z.imag(), z.real()) * scale;
    const double radius = std::abs(z);
    // A root outside the unit circle shapes the magnitude as its mirror
    // image inside does; the fit only sees magnitudes.
    const double b = radius > 0 ? std::abs(std::log(radius)) * 2 * scale : MaxBandwidth;
    if (!std::isfinite(f) || !std::isfinite(b) || f < MinFreq) continue;
    if (b < MinBandwidth) sound = false;
    if (b <= 0 || b >= MaxBandwidth || Out.Count >= static_cast<int>(Out.Freq.size())) continue;
    int at = Out.Count++;
    for (; at > 0 && Out.Freq[static_cast<std::size_t>(at - 1)] > f; --at) {
      Out.Freq[static_cast<std::size_t>(at)] = Out.Freq[static_cast<std::size_t>(at - 1)];
      Out.Band[static_cast<std::size_t>(at)] = Out.Band[static_cast<std::size_t>(at - 1)];
    }
    Out.Freq[static_cast<std::size_t>(at)] = f;
    Out.Band[static_cast<std::size_t>(at)] = b;
  }
  return sound;
}

}  // namespace quenvis
