#include "analysis/ResonanceFit.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace quenvis {

namespace {

constexpr std::array<double, 4> Band{80, 100, 150, 200};  // Hz, nominal
// The harmonics fitted lie below one of two bands' tops: F5 shapes those
// above, which F4 cannot stand for, and F4 lies lower in a woman's voice than
// in a child's. A singer's high notes leave too few harmonics to choose by.
constexpr double Top = 4300, LowTop = 3800;  // Hz
constexpr double Singer = 480;               // Hz, F0 from which only the low band is fitted
constexpr double Emphasis = 200;             // Hz; undoes the source's fall above it
constexpr double MinGap = 160;               // Hz between neighbouring formants
constexpr double Fine = 5;                   // Hz, of the refinement
constexpr int FreeF4Points = 8;              // harmonics that pin F4 down beside the others
constexpr double TiedF4 = 900;               // Hz above F3, where fewer do
// F1 lies no lower than this share of F0 (a resonance well under the first
// harmonic leaves only the fall of the harmonics above it, whatever its
// frequency); singers tune it to F0 or above on high notes.
constexpr double LowestF1 = 0.8;

// Log level at H of a resonance at F (unity at DC).
double Shape(double H, double F, double B) noexcept {
  const double d = H * H - F * F;
  return std::log(F * F * F * F / (d * d + H * H * B * B));
}

}  // namespace

void CResonanceFit::Tabulate(int Formant) noexcept {
  const TRange r = Ranges[static_cast<std::size_t>(Formant)];
  auto& table = FShape[static_cast<std::size_t>(Formant)];
  for (int g = 0; g < Cells(r); ++g)
    for (std::size_t m = 0; m < static_cast<std::size_t>(FCount); ++m)
      table[static_cast<std::size_t>(g)][m] =
          Shape(FFreq[m], r.Lo + g * Step, Band[static_cast<std::size_t>(Formant)]);
}

// The weighted spread of what the two shapes leave of Rest about its mean
// (the overall gain is free).
double CResonanceFit::Misfit(const double* S1, const double* S2,
                             const double* Rest) const noexcept {
  double sr = 0, srr = 0;
  for (int m = 0; m < FCount; ++m) {
    const double r = Rest[m] - S1[m] - S2[m];
    const double wr = FWeight[static_cast<std::size_t>(m)] * r;
    sr += wr;
    srr += wr * r;
  }
  return srr - sr * sr / FSumWeight;
}

bool CResonanceFit::Fit(const THarmonics& H, double F0, std::array<double, 4>& F) noexcept {
  if (F0 >= Singer) return FitBelow(H, F0, LowTop, F) >= 0;
  std::array<double, 4> other{};
  const double a = FitBelow(H, F0, LowTop, F), b = FitBelow(H, F0, Top, other);
  if (b >= 0 && (a < 0 || b < a)) F = other;
  return a >= 0 || b >= 0;
}

double CResonanceFit::FitBelow(const THarmonics& H, double F0, double Below,
                               std::array<double, 4>& F) noexcept {
  FCount = 0;
  FSumWeight = 0;
  while (FCount < std::min(H.Count, MaxPoints) &&
         H.Freq[static_cast<std::size_t>(FCount)] < Below) {
    const auto m = static_cast<std::size_t>(FCount++);
    const double h = H.Freq[m];
    FFreq[m] = h;
    FLevel[m] = std::log(std::max(H.Power[m], 1e-300) * (h * h + Emphasis * Emphasis));
    FWeight[m] = H.Weight[m];
    FSumWeight += FWeight[m];
  }
  if (FCount < 4 || !(FSumWeight > 0)) return -1;
  for (int k = 0; k < 4; ++k) Tabulate(k);

  const auto cell = [](int K, double Hz) {
    const TRange r = Ranges[static_cast<std::size_t>(K)];
    return static_cast<int>(
        std::clamp(std::ceil((Hz - r.Lo) / Step - 1e-9), 0.0, double(Cells(r) - 1)));
  };
  const auto at = [](int K, int G) { return Ranges[static_cast<std::size_t>(K)].Lo + G * Step; };
  const auto shape = [&](int K, int G) {
    return FShape[static_cast<std::size_t>(K)][static_cast<std::size_t>(G)].data();
  };
  std::array<int, 4> g{0, 0, cell(2, 2700), cell(3, 3800)};
  // Search pairs of formants (K, K + 1) with the others fixed.
  const double lowest = std::max(150.0, (F0 >= Singer ? 1.0 : LowestF1) * F0);
  const auto searchPair = [&](int K, int Stride) {
    const int j = K == 0 ? 2 : 0;
    for (int m = 0; m < FCount; ++m) {
      const auto i = static_cast<std::size_t>(m);
      FRest[i] = FLevel[i] - shape(j, g[static_cast<std::size_t>(j)])[m] -
                 shape(j + 1, g[static_cast<std::size_t>(j) + 1])[m];
    }
    const double below = K == 0 ? lowest : at(1, g[1]) + MinGap;
    const double above = K == 0 ? at(2, g[2]) - MinGap : Ranges[3].Hi;
    // Misfit(a, b) expanded: the terms of b alone are summed once per cell.
    const int k1 = K + 1;
    for (int b = 0; b < Cells(Ranges[static_cast<std::size_t>(k1)]); ++b) {
      const double* s2 = shape(k1, b);
      double q = 0, l = 0;
      for (int m = 0; m < FCount; ++m) {
        const double ws = FWeight[static_cast<std::size_t>(m)] * s2[m];
        q += ws * s2[m];
        l += ws;
      }
      FSquare[static_cast<std::size_t>(b)] = q;
      FSum[static_cast<std::size_t>(b)] = l;
    }
    double best = 1e300;
    const int aLo = cell(K, below),
              aHi = cell(K, std::min(Ranges[static_cast<std::size_t>(K)].Hi, above - MinGap));
    std::array<double, MaxPoints> wd{};
    for (int a = aLo; a <= aHi; a += Stride) {
      const double fa = at(K, a);
      const double* s1 = shape(K, a);
      double d2 = 0, d1 = 0;
      for (int m = 0; m < FCount; ++m) {
        const auto i = static_cast<std::size_t>(m);
        const double d = FRest[i] - s1[m];
        wd[i] = FWeight[i] * d;
        d1 += wd[i];
        d2 += wd[i] * d;
      }
      const int bLo = cell(k1, fa + MinGap), bHi = cell(k1, above);
      for (int b = bLo; b <= bHi && at(k1, b) <= above; b += Stride) {
        const double* s2 = shape(k1, b);
        double x = 0;
        for (int m = 0; m < FCount; ++m) x += wd[static_cast<std::size_t>(m)] * s2[m];
        const double mean = d1 - FSum[static_cast<std::size_t>(b)];
        const double e =
            d2 - 2 * x + FSquare[static_cast<std::size_t>(b)] - mean * mean / FSumWeight;
        if (e < best)
          best = e, g[static_cast<std::size_t>(K)] = a, g[static_cast<std::size_t>(k1)] = b;
      }
    }
  };
  // F4 alone, beside F3, when there are harmonics enough to pin it.
  const bool freeF4 = FCount >= FreeF4Points;
  const auto searchF3 = [&] {
    for (int m = 0; m < FCount; ++m) {
      const auto i = static_cast<std::size_t>(m);
      FRest[i] = FLevel[i] - shape(0, g[0])[m] - shape(1, g[1])[m];
    }
    double best = 1e300;
    for (int c = cell(2, at(1, g[1]) + MinGap); c < Cells(Ranges[2]); ++c) {
      const int d = cell(3, at(2, c) + TiedF4);
      const double e = Misfit(shape(2, c), shape(3, d), FRest.data());
      if (e < best) best = e, g[2] = c, g[3] = d;
    }
  };
  searchPair(0, 1);
  if (freeF4)
    searchPair(2, 2);
  else
    searchF3();
  searchPair(0, 1);

  // Each formant in turn on a finer grid about its cell.
  for (int k = 0; k < 4; ++k)
    F[static_cast<std::size_t>(k)] = at(k, g[static_cast<std::size_t>(k)]);
  for (int k = 0; k < (freeF4 ? 4 : 3); ++k) {
    const auto kk = static_cast<std::size_t>(k);
    std::array<double, MaxPoints> own{};
    for (int m = 0; m < FCount; ++m) {
      const auto i = static_cast<std::size_t>(m);
      FRest[i] = FLevel[i];
      for (std::size_t o = 0; o < 4; ++o)
        if (o != kk) FRest[i] -= Shape(FFreq[i], F[o], Band[o]);
    }
    const std::array<double, MaxPoints> zero{};
    double best = 1e300, bestF = F[kk];
    for (double f = F[kk] - Step + Fine; f < F[kk] + Step; f += Fine) {
      if ((kk > 0 && f < F[kk - 1] + MinGap) || (kk < 3 && f > F[kk + 1] - MinGap) ||
          (kk == 0 && f < lowest))
        continue;
      for (int m = 0; m < FCount; ++m)
        own[static_cast<std::size_t>(m)] = Shape(FFreq[static_cast<std::size_t>(m)], f, Band[kk]);
      const double e = Misfit(own.data(), zero.data(), FRest.data());
      if (e < best) best = e, bestF = f;
    }
    F[kk] = bestF;
  }
  // The misfit per degree of freedom left.
  for (int m = 0; m < FCount; ++m) {
    const auto i = static_cast<std::size_t>(m);
    FRest[i] = FLevel[i];
    for (std::size_t o = 0; o < 4; ++o) FRest[i] -= Shape(FFreq[i], F[o], Band[o]);
  }
  const std::array<double, MaxPoints> zero{};
  const int dof = FCount - (freeF4 ? 5 : 4);
  return Misfit(zero.data(), zero.data(), FRest.data()) / std::max(dof, 1) / (FSumWeight / FCount);
}

}  // namespace quenvis
