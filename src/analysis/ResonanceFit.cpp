#include "analysis/ResonanceFit.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

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
constexpr double MaxF4Gap = 1800;            // Hz; F4 lies no further above F3
// F1 lies no lower than this share of F0 (a resonance well under the first
// harmonic leaves only the fall of the harmonics above it, whatever its
// frequency); singers tune it to F0 or above on high notes.
constexpr double LowestF1 = 0.8;
// Below that, a woman's "ee" puts F1 under the first harmonic: it is sought
// down to UnderShare of F0 (no lower than UnderF1) where F2 lies as high as
// FrontF2, and taken when its misfit is under Under times the other's.
constexpr double UnderShare = 0.55, UnderF1 = 200, FrontF2 = 2000;  // Hz
constexpr double Under = 0.7;
// Any vowel's F1 under the first harmonic (see Fit): its share of the
// other's misfit, and the band of F0 over which that share comes and goes.
constexpr double HighUnder = 0.35;
constexpr double HighUnderFrom = 400, HighUnderTo = 640;  // Hz
// The thorough search: its second start, its rounds, how far (in cells) the
// later rounds look about the formants found, and the harmonics it needs.
constexpr double StartF3High = 3400;  // Hz
constexpr int Rounds = 3, Near = 10, ThoroughPoints = 6;

// Log level at H of a resonance at F (unity at DC).
double Shape(double H, double F, double B) noexcept {
  const double d = H * H - F * F;
  return std::log(F * F * F * F / (d * d + H * H * B * B));
}

int CellOf(double Lo, int Cells, double Hz) noexcept {
  return static_cast<int>(
      std::clamp(std::ceil((Hz - Lo) / CResonanceFit::Step - 1e-9), 0.0, double(Cells - 1)));
}

}  // namespace

void CResonanceFit::Tabulate(int Formant) noexcept {
  const TRange r = Ranges[static_cast<std::size_t>(Formant)];
  const double b = Band[static_cast<std::size_t>(Formant)];
  const int n = Cells(r);
  for (int g = 0; g < n; ++g) FSquare[static_cast<std::size_t>(g)] = 4 * std::log(r.Lo + g * Step);
  auto& table = FShape[static_cast<std::size_t>(Formant)];
  for (std::size_t m = 0; m < static_cast<std::size_t>(FCount); ++m) {
    const double h = FFreq[m], hb = h * h * b * b;
    for (int g = 0; g < n; ++g) {
      const double f = r.Lo + g * Step, d = h * h - f * f;
      // In single precision: the tables' thousands of logarithms are most
      // of the fit's cost, and their misfits need no more.
      table[m][static_cast<std::size_t>(g)] =
          FSquare[static_cast<std::size_t>(g)] - std::log(static_cast<float>(d * d + hb));
    }
  }
}

// The weighted spread of Rest about its mean (the overall gain is free).
double CResonanceFit::Misfit(const double* Rest) const noexcept {
  double sr = 0, srr = 0;
  for (int m = 0; m < FCount; ++m) {
    const double wr = FWeight[static_cast<std::size_t>(m)] * Rest[m];
    sr += wr;
    srr += wr * Rest[m];
  }
  return srr - sr * sr / FSumWeight;
}

bool CResonanceFit::Fit(const THarmonics& H, double F0, std::array<double, 4>& F) noexcept {
  const double top = F0 >= Singer ? LowTop : Top;
  int all = 0;
  while (all < std::min(H.Count, MaxPoints) && H.Freq[static_cast<std::size_t>(all)] < top) {
    const auto m = static_cast<std::size_t>(all++);
    const double h = H.Freq[m];
    FFreq[m] = h;
    FLevel[m] = std::log(std::max(H.Power[m], 1e-300) * (h * h + Emphasis * Emphasis));
    FWeight[m] = H.Weight[m];
  }
  FCount = all;
  for (int k = 0; k < 4; ++k) Tabulate(k);
  const double lowest = std::max(150.0, (F0 >= Singer ? 1.0 : LowestF1) * F0);
  int used = all;
  double misfit = -1;
  if (F0 >= Singer) {
    misfit = FitFirst(all, lowest, Ranges[0].Hi, F);
  } else {
    // The same harmonics' shapes serve both bands: the lower one's are a prefix.
    int low = 0;
    while (low < all && FFreq[static_cast<std::size_t>(low)] < LowTop) ++low;
    std::array<double, 4> other{};
    const double a = FitFirst(low, lowest, Ranges[0].Hi, F);
    const double b = FitFirst(all, lowest, Ranges[0].Hi, other);
    misfit = a, used = low;
    if (b >= 0 && (a < 0 || b < a)) F = other, misfit = b, used = all;
  }
  if (misfit < 0) return false;
  // Any vowel's F1 under the first harmonic, as a child's "ee" or "oo" has
  // it on pitches where a singer's lies above: sought closely, and taken
  // only when it explains the levels much better. Its share of the other's
  // misfit rises to HighUnder over a band below Singer, and falls back to
  // nothing by HighUnderTo, where singers alone sing.
  const double high = HighUnder *
                      std::clamp((F0 - HighUnderFrom) / (Singer - HighUnderFrom), 0.0, 1.0) *
                      std::clamp((HighUnderTo - F0) / (HighUnderTo - Singer), 0.0, 1.0);
  std::array<double, 4> low{};
  const double u = high > 0 || F0 < Singer
                       ? FitFirst(used, std::max(UnderF1, UnderShare * F0), lowest, low, high > 0)
                       : -1;
  if (u < 0) return true;
  // F1 under the first harmonic gives the harmonics much the levels that one
  // just above it does, and a back vowel's the levels that F1 and F2 both
  // lower do: below Singer it is taken for a front vowel's F2 as well, when
  // it explains the levels clearly better.
  if (u < high * misfit || (F0 < Singer && u < Under * misfit && low[1] >= FrontF2)) F = low;
  return true;
}

double CResonanceFit::FitFirst(int Count, double Lowest, double Highest, std::array<double, 4>& F,
                               bool Thorough) noexcept {
  FCount = Count;
  FSumWeight = 0;
  for (int m = 0; m < Count; ++m) FSumWeight += FWeight[static_cast<std::size_t>(m)];
  if (FCount < 4 || !(FSumWeight > 0)) return -1;

  const auto cells = [](int K) { return Cells(Ranges[static_cast<std::size_t>(K)]); };
  const auto cell = [&](int K, double Hz) {
    return CellOf(Ranges[static_cast<std::size_t>(K)].Lo, cells(K), Hz);
  };
  const auto at = [](int K, int G) { return Ranges[static_cast<std::size_t>(K)].Lo + G * Step; };
  const auto shape = [&](int K, int M, int G) {
    return FShape[static_cast<std::size_t>(K)][static_cast<std::size_t>(M)]
                 [static_cast<std::size_t>(G)];
  };
  std::array<int, 4> g{};
  const int count = FCount;

  // The pair (K, K + 1) with the others fixed, on every Stride-th cell;
  // Reach > 0 keeps K to that many cells about its present value. The misfit
  // of each pair is expanded so that the inner loops run along the cells of
  // K + 1.
  const auto searchPair = [&](int K, int Stride, int Reach) {
    // The other two formants, fixed.
    const int j = K == 0 ? 2 : 0, j1 = K == 1 ? 3 : j + 1, k1 = K + 1;
    for (int m = 0; m < count; ++m)
      FRest[static_cast<std::size_t>(m)] = FLevel[static_cast<std::size_t>(m)] -
                                           shape(j, m, g[static_cast<std::size_t>(j)]) -
                                           shape(j1, m, g[static_cast<std::size_t>(j1)]);
    const double below = K == 0 ? Lowest : at(K - 1, g[static_cast<std::size_t>(K) - 1]) + MinGap;
    const double above =
        K == 2 ? Ranges[3].Hi : at(K + 2, g[static_cast<std::size_t>(K) + 2]) - MinGap;
    const int n1 = cells(k1);
    std::fill_n(FSquare.begin(), n1, 0.0);
    std::fill_n(FSum.begin(), n1, 0.0);
    for (int m = 0; m < count; ++m) {
      const double w = FWeight[static_cast<std::size_t>(m)];
      const double* s2 = &FShape[static_cast<std::size_t>(k1)][static_cast<std::size_t>(m)][0];
      for (int b = 0; b < n1; ++b) {
        FSquare[static_cast<std::size_t>(b)] += w * s2[b] * s2[b];
        FSum[static_cast<std::size_t>(b)] += w * s2[b];
      }
    }
    double best = 1e300;
    const int now = g[static_cast<std::size_t>(K)];
    int aLo = cell(K, below),
        aHi = cell(
            K, std::min(K == 0 ? Highest : Ranges[static_cast<std::size_t>(K)].Hi, above - MinGap));
    while (K == 0 && aHi >= aLo && at(0, aHi) > Highest) --aHi;
    if (Reach > 0) aLo = std::max(aLo, now - Reach), aHi = std::min(aHi, now + Reach);
    for (int a = aLo; a <= aHi; a += Stride) {
      const double fa = at(K, a);
      const int bLo = cell(k1, fa + MinGap);
      const double top = K == 2 ? std::min(above, fa + MaxF4Gap) : above;
      int bHi = cell(k1, top);
      while (bHi >= bLo && at(k1, bHi) > top) --bHi;
      if (bHi < bLo) continue;
      double d2 = 0, d1 = 0;
      std::fill(FDot.begin() + bLo, FDot.begin() + bHi + 1, 0.0);
      for (int m = 0; m < count; ++m) {
        const auto i = static_cast<std::size_t>(m);
        const double d = FRest[i] - shape(K, m, a), wd = FWeight[i] * d;
        d1 += wd;
        d2 += wd * d;
        const double* s2 = &FShape[static_cast<std::size_t>(k1)][i][0];
        for (int b = bLo; b <= bHi; b += Stride) FDot[static_cast<std::size_t>(b)] += wd * s2[b];
      }
      for (int b = bLo; b <= bHi; b += Stride) {
        const auto bi = static_cast<std::size_t>(b);
        const double mean = d1 - FSum[bi];
        const double e = d2 - 2 * FDot[bi] + FSquare[bi] - mean * mean / FSumWeight;
        if (e < best)
          best = e, g[static_cast<std::size_t>(K)] = a, g[static_cast<std::size_t>(k1)] = b;
      }
    }
    return best;
  };
  // F4 alone, beside F3, when there are harmonics enough to pin it.
  const bool freeF4 = FCount >= FreeF4Points;
  const auto searchF3 = [&] {
    double best = 1e300;
    for (int c = cell(2, at(1, g[1]) + MinGap); c < cells(2); ++c) {
      const int d = cell(3, at(2, c) + TiedF4);
      for (int m = 0; m < count; ++m)
        FRest[static_cast<std::size_t>(m)] = FLevel[static_cast<std::size_t>(m)] -
                                             shape(0, m, g[0]) - shape(1, m, g[1]) -
                                             shape(2, m, c) - shape(3, m, d);
      const double e = Misfit(FRest.data());
      if (e < best) best = e, g[2] = c, g[3] = d;
    }
  };
  // On every other cell first, then on every cell about the F1 found. No
  // pair fits the ranges when F0 leaves F1 no room. A thorough search, with
  // harmonics enough beside the unknowns (with fewer it only finds the
  // levels' other stories), starts again from where a close front vowel has
  // F3 (from the first start F2 cannot reach that vowel's), and takes the
  // pairs in turn while that lowers the misfit.
  const bool thorough = Thorough && count >= ThoroughPoints;
  std::array<int, 4> first{};
  double firstMisfit = 1e300;
  for (const double f3 : {2700.0, thorough ? StartF3High : 0.0}) {
    if (!(f3 > 0)) break;
    g = {-1, 0, cell(2, f3), cell(3, f3 + 1100)};
    double e = searchPair(0, 2, 0);
    if (g[0] < 0) return -1;
    for (int round = 0; round < (thorough ? Rounds : 1); ++round) {
      // After the first round, about where the formants stand.
      if (freeF4)
        searchPair(2, 2, round > 0 ? Near : 0);
      else
        searchF3();
      // F2 with F3: a pair close together (an "er") that neither search
      // above can part once one of them has taken their joint peak.
      if (thorough) {
        searchPair(1, 2, Near);
        if (!freeF4) searchF3();
      }
      const double next = searchPair(0, 2, 0);
      if (!(next < e - 1e-9)) break;
      e = next;
    }
    e = searchPair(0, 1, 3);
    if (e < firstMisfit) firstMisfit = e, first = g;
  }
  g = first;

  // Each formant in turn on a finer grid about its cell.
  for (int k = 0; k < 4; ++k)
    F[static_cast<std::size_t>(k)] = at(k, g[static_cast<std::size_t>(k)]);
  for (int k = 0; k < (freeF4 ? 4 : 3); ++k) {
    const auto kk = static_cast<std::size_t>(k);
    for (int m = 0; m < count; ++m) {
      const auto i = static_cast<std::size_t>(m);
      FOwn[i] = FLevel[i];
      for (std::size_t o = 0; o < 4; ++o)
        if (o != kk) FOwn[i] -= Shape(FFreq[i], F[o], Band[o]);
    }
    double best = 1e300, bestF = F[kk];
    for (double f = F[kk] - Step + Fine; f < F[kk] + Step; f += Fine) {
      if ((kk > 0 && f < F[kk - 1] + MinGap) || (kk < 3 && f > F[kk + 1] - MinGap) ||
          (kk == 0 && (f < Lowest || f > Highest)))
        continue;
      for (int m = 0; m < count; ++m)
        FRest[static_cast<std::size_t>(m)] = FOwn[static_cast<std::size_t>(m)] -
                                             Shape(FFreq[static_cast<std::size_t>(m)], f, Band[kk]);
      const double e = Misfit(FRest.data());
      if (e < best) best = e, bestF = f;
    }
    F[kk] = bestF;
  }
  // The misfit per degree of freedom left, in units of the mean weight.
  for (int m = 0; m < count; ++m) {
    const auto i = static_cast<std::size_t>(m);
    FRest[i] = FLevel[i];
    for (std::size_t o = 0; o < 4; ++o) FRest[i] -= Shape(FFreq[i], F[o], Band[o]);
  }
  const int dof = count - (freeF4 ? 5 : 4);
  return Misfit(FRest.data()) / std::max(dof, 1) / (FSumWeight / count);
}

double CResonanceFit::MisfitOf(const std::array<double, 4>& F) noexcept {
  if (FCount < 4 || !(FSumWeight > 0)) return -1;
  for (int m = 0; m < FCount; ++m) {
    const auto i = static_cast<std::size_t>(m);
    FRest[i] = FLevel[i];
    for (std::size_t o = 0; o < 4; ++o) FRest[i] -= Shape(FFreq[i], F[o], Band[o]);
  }
  const int dof = FCount - (FCount >= FreeF4Points ? 5 : 4);
  return Misfit(FRest.data()) / std::max(dof, 1) / (FSumWeight / FCount);
}

}  // namespace quenvis
