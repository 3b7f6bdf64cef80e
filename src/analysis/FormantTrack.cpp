#include "analysis/FormantTrack.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace quenvis {

namespace {

using TRange = CFormantTrack::TRange;
constexpr auto Ranges = CFormantTrack::Ranges;
constexpr auto Usual = CFormantTrack::Usual;
constexpr double UsualSpread = CFormantTrack::UsualSpread;
constexpr double MinGap = CFormantTrack::MinGap;
constexpr int Remembered = 4;        // blocks a track steers the choice
// Cost of leaving each formant unknown: F3 may go first, so that a
// resonance with nothing to follow counts as the lower formant.
constexpr std::array<double, 3> Missing{5, 5, 4.5};
constexpr double Skipped = 0.6;     // cost of passing over a resonance below F3's
constexpr double Unanchored = 0.3;  // cost of a formant without a recent value
// Blocks in a row that the resonances alone must disagree with the tracks
// before the tracks let go: longer than a glitch, shorter than a vowel. Without
// it a track that took the wrong resonance at a change of vowel keeps it.
constexpr int Overruled = 3;

}  // namespace

void CFormantTrack::Reset() noexcept {
  FLast = {};
  FAge = {1000, 1000, 1000};
  FDisagree = 0;
}

double CFormantTrack::Recent(int I) const noexcept {
  const auto i = static_cast<std::size_t>(I);
  return I >= 0 && I < 3 && FAge[i] <= Remembered ? FLast[i] : 0.0;
}

void CFormantTrack::Skip() noexcept {
  for (int& a : FAge) ++a;
}

void CFormantTrack::Assign(const TResonances& Roots, double KnownF1, double KnownB1,
                           std::array<double, 3>& F, std::array<double, 3>& B) noexcept {
  const int n = Roots.Count;
  // Cost of resonance r as formant i: squared distance from the track in
  // units of its expected block-to-block spread, or a flat cost without one.
  const auto cost = [&](int i, int r, bool anchored) {
    const double f = Roots.Freq[static_cast<std::size_t>(r)];
    const TRange& range = Ranges[static_cast<std::size_t>(i)];
    if (f < range.Lo || f > range.Hi) return 1e9;
    const TRange& usual = Usual[static_cast<std::size_t>(i)];
    const double out = std::max({0.0, usual.Lo - f, f - usual.Hi}) / UsualSpread;
    const double bandCost = Roots.Band[static_cast<std::size_t>(r)] / 500 + out * out;
    if (!anchored || FAge[static_cast<std::size_t>(i)] > Remembered) return Unanchored + bandCost;
    const double last = FLast[static_cast<std::size_t>(i)];
    const double spread = 60 + 0.12 * last;
    const double d = (f - last) / spread;
    // Two resonances merged by the fit land between them, away from both
    // tracks: the formant is unknown rather than misplaced.
    if (Roots.Band[static_cast<std::size_t>(r)] > CFormantTrack::Broad && std::abs(d) > 1) return 1e9;
    return d * d + bandCost;
  };
  const bool haveF1 = KnownF1 > 0;
  // Every increasing choice of up to three resonances, -1 for unknown.
  const auto choose = [&](bool anchored) {
    double best = 1e18;
    std::array<int, 3> pick{-1, -1, -1};
    for (int a = haveF1 ? -1 : n - 1; a >= -1; --a)
      for (int b = n - 1; b >= -1; --b)
        for (int c = n - 1; c >= -1; --c) {
          const std::array<int, 3> sel{a, b, c};
          double total = 0, below = haveF1 ? KnownF1 : 0;
          int top = -1, used = 0;
          bool ok = true;
          for (std::size_t i = 0; i < 3 && ok; ++i) {
            const int r = sel[i];
            if (r < 0) {
              total += i == 0 && haveF1 ? 0.0 : Missing[i];
              continue;
            }
            const double f = Roots.Freq[static_cast<std::size_t>(r)];
            ok = r > top && f >= below + MinGap;
            total += cost(static_cast<int>(i), r, anchored);
            below = f;
            top = r;
            ++used;
          }
          // Resonances passed over below the highest one chosen.
          total += Skipped * (top + 1 - used);
          if (ok && total < best) {
            best = total;
            pick = sel;
          }
        }
    return pick;
  };
  std::array<int, 3> pick = choose(true);
  const std::array<int, 3> alone = choose(false);
  FDisagree = alone == pick ? 0 : FDisagree + 1;
  if (FDisagree >= Overruled) {
    pick = alone;
    FDisagree = 0;
  }
  for (std::size_t i = 0; i < 3; ++i) {
    const int r = pick[i];
    F[i] = r >= 0 ? Roots.Freq[static_cast<std::size_t>(r)] : 0.0;
    B[i] = r >= 0 ? Roots.Band[static_cast<std::size_t>(r)] : 0.0;
  }
  if (haveF1) {
    F[0] = KnownF1;
    B[0] = KnownB1;
  }
  Follow(F, B);
}

void CFormantTrack::Follow(const std::array<double, 3>& F, const std::array<double, 3>& B,
                           bool EvenBroad) noexcept {
  for (std::size_t i = 0; i < 3; ++i) {
    // A broad resonance is often two merged by the fit: it is reported, but
    // the track keeps following the last sharp one.
    if (F[i] > 0 && (EvenBroad || B[i] <= CFormantTrack::Broad)) {
      FLast[i] = F[i];
      FAge[i] = 0;
    } else {
      ++FAge[i];
    }
  }
}

}  // namespace quenvis
