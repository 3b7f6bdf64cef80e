#include "analysis/FormantPath.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "analysis/FormantTrack.h"

namespace quenvis {

namespace {

enum EChoice : std::uint8_t { Own, Harmonic, Waveform, Blank };

// An analysis's own F1 and F2 cost nothing; another reading of its
// resonances costs this much more (the waveform's poles may sit on a
// harmonic or on noise), each resonance passed over between the chosen F1
// and F2 Skipped more; F1 or F2 alone costs OneOfTwo, neither Missing. A
// reading is thus taken over the analysis's own only where the tracks move
// enough less with it, and a gap is filled only where the neighbours agree.
// A formant that goes missing costs the path little (Appears), so F1 alone
// costs nearly as much as nothing: else it wins over a reading of both.
constexpr double OwnFallback = 1.0, OtherHarmonic = 1.5, OtherWaveform = 2.5, Skipped = 0.6;
constexpr double OneOfTwo = 16.0, Missing = 20;
// A resonance of a fit that lies between F1 and F2 (this far above F1, and
// no lower than LowestF2, and this share below F2) and is sharper than
// BetweenBand counts against the choice, once for each fit that shows one
// (the denser fits half). Lightly: the fits often show one below a true F2,
// and a heavier charge sends the path to it. Nor does one below NearF1
// times F1 count: a woman's denser fits put a spare pole there, which the
// charge made F2. But where all three waveform fits show one, however
// broad, it is F2 far more often than not: that costs BetweenAll more.
// And one at FarF1 times F1 or more is a front vowel's F2, which the
// harmonics lose beside F3: each waveform fit that shows it costs Far.
constexpr double MinF2Gap = 150, LowestF2 = 550, SameFormant = 0.08, BetweenBand = 500;
constexpr double Between = 3, BetweenAll = 10, NearF1 = 2.3, FarF1 = 4, Far = 4;
// A true F2 shows in each waveform fit, whatever its order (within
// Agree of the choice); a pole that only one fit shows (often a denser
// fit's broad spare pole between F1 and F2) is no formant. Each fit without
// it costs Lonely.
constexpr double Agree = 0.10, Lonely = 1.0;
// A formant present on one side of a step only.
constexpr double Appears = 1.0;
// F2 seldom moves more than LeapF2 in 10 ms: such a step costs Leap more
// (a frame left blank is often the better story).
constexpr double LeapF2 = 200, Leap = 10.0;
// F3 steers the choice less: it is often weak or missing.
constexpr double ThirdWeight = 0.25;
// The confidence of a reading chosen for its neighbours (the analysis's own
// is kept), before the bandwidths' share.
constexpr double HarmonicTrust = 0.5, WaveformTrust = 0.35;
// Where the fits agree, F1 and F2 are where they agree: the median of the
// path's value and each fit's resonance nearest it within Near of it (the
// harmonics' fit reads a woman's F2 low beside the waveform's, a denser
// fit's pole may sit a harmonic off). Each analysis takes its own fits'
// median, which may move F2 from one analysis to the next by more than the
// path's value did: no further than Steady in 10 ms where that moved less
// than LeapF2.
constexpr double Near = 0.12, Steady = 180;
// An unvoiced analysis at a stretch's edge takes the waveform's reading
// that continues the tracks at a cost (its own and the move) below
// EdgeCost, and is trusted least.
constexpr double EdgeCost = 6.0, EdgeTrust = 0.25;

// Hz a formant moves in 10 ms at a cost of 1 (the cost grows with the
// square): more for a higher one.
double Spread(double F) noexcept { return 30 + 0.06 * F; }

double BandFactor(const std::array<double, 3>& B) noexcept {
  return std::clamp(1.2 - (B[0] + B[1]) / 1000, 0.3, 1.0);
}

}  // namespace

CFormantPath::CFormantPath(int StepMs) : FScale(std::max(StepMs, 1) / 10.0) {}

bool CFormantPath::Blip(std::size_t Begin, std::size_t End, bool AtEnd) const noexcept {
  if (End - Begin > BlipRows) return false;
  const auto quiet = [&](std::size_t From, std::size_t To) {
    for (std::size_t i = From; i < To; ++i)
      if (FRows[i].Formants.Voiced) return false;
    return true;
  };
  const bool before = Begin >= BlipRows ? quiet(Begin - BlipRows, Begin)
                                         : quiet(0, Begin) && FQuietBefore >= BlipRows - Begin;
  const bool after = End + BlipRows <= FRows.size() ? quiet(End, End + BlipRows)
                                                    : AtEnd && quiet(End, FRows.size());
  return before && after;
}

void CFormantPath::Resolve(std::size_t Count, bool AtEnd) {
  const auto edge = [&](std::size_t i) {
    return !FRows[i].Formants.Voiced && FRows[i].Candidates.Waveform.Count > 0;
  };
  std::size_t begin = 0, taken = 0;  // rows before taken belong to a stretch
  while (begin < Count) {
    if (!FRows[begin].Formants.Voiced) {
      ++begin;
      continue;
    }
    std::size_t end = begin;
    while (end < Count && FRows[end].Formants.Voiced) ++end;
    std::size_t lo = begin, hi = end;
    while (lo > taken && begin - lo < EdgeRows && edge(lo - 1)) --lo;
    while (hi < Count && hi - end < EdgeRows && edge(hi)) ++hi;
    Stretch(begin, end);
    // The edges go on from the stretch as it was decided, without a gap.
    Edge(begin, begin - lo, true);
    // Rows after it that its tracks do not reach are left to the next
    // stretch's edge: a gap between two vowels belongs to either.
    taken = end + Edge(end - 1, hi - end, false);
    if (Blip(begin, end, AtEnd))
      for (std::size_t i = begin; i < end; ++i) {
        TFormants& f = FRows[i].Formants;
        f.Voiced = false;
        f.F0 = 0;
        f.Clipped = false;
        f.Blank = EBlank::Aperiodic;
        if (f.F[0] > 0 || f.F[1] > 0) {
          f.Fallback = true;
          f.Confidence = std::min(f.Confidence, EdgeTrust * BandFactor(f.B));
        }
      }
    begin = hi;
  }
}

void CFormantPath::Choices(const TRow& Row, std::vector<TChoice>& Out) const {
  Out.clear();
  const TFormants& f = Row.Formants;
  TChoice blank;
  blank.Cost = Missing;
  blank.Source = Blank;
  Out.push_back(blank);
  if (f.F[0] > 0 || f.F[1] > 0) {
    TChoice own;
    own.F = f.F;
    own.B = f.B;
    own.Source = Own;
    own.Cost = !(f.F[0] > 0 && f.F[1] > 0) ? OneOfTwo : f.Fallback ? OwnFallback : 0.0;
    Out.push_back(own);
  }
  // Every rising choice of F1, F2 and (or not) F3 among each set of resonances.
  const auto readings = [&](const TResonances& R, double Extra, std::uint8_t Source) {
    const auto& ranges = CFormantTrack::Ranges;
    const auto& usual = CFormantTrack::Usual;
    const auto fits = [&](std::size_t i, int r) {
      const double x = R.Freq[static_cast<std::size_t>(r)];
      return x >= ranges[i].Lo && x <= ranges[i].Hi;
    };
    const auto cost = [&](std::size_t i, int r) {
      const double x = R.Freq[static_cast<std::size_t>(r)];
      const double out = std::max({0.0, usual[i].Lo - x, x - usual[i].Hi}) / CFormantTrack::UsualSpread;
      return R.Band[static_cast<std::size_t>(r)] / 500 + out * out;
    };
    for (int a = 0; a < R.Count; ++a) {
      if (!fits(0, a)) continue;
      for (int b = a + 1; b < R.Count; ++b) {
        if (!fits(1, b) || R.Freq[static_cast<std::size_t>(b)] <
                               R.Freq[static_cast<std::size_t>(a)] + CFormantTrack::MinGap)
          continue;
        for (int c = b; c <= R.Count; ++c) {
          // c == b: no F3.
          const bool third = c > b && c < R.Count;
          if (c > b && !third) continue;
          if (third && (!fits(2, c) || R.Freq[static_cast<std::size_t>(c)] <
                                           R.Freq[static_cast<std::size_t>(b)] + CFormantTrack::MinGap))
            continue;
          TChoice x;
          x.Source = Source;
          const std::array<int, 3> pick{a, b, third ? c : -1};
          x.Cost = Extra + Skipped * (b - a - 1);
          for (std::size_t i = 0; i < 3; ++i) {
            if (pick[i] < 0) continue;
            x.F[i] = R.Freq[static_cast<std::size_t>(pick[i])];
            x.B[i] = R.Band[static_cast<std::size_t>(pick[i])];
            if (i < 2) x.Cost += cost(i, pick[i]);
          }
          // The analysis's own, already there.
          if (Out.size() > 1 && Out[1].Source == Own && Out[1].F == x.F) continue;
          Out.push_back(x);
        }
      }
    }
  };
  readings(Row.Candidates.Harmonic, OtherHarmonic, Harmonic);
  readings(Row.Candidates.Waveform, OtherWaveform, Waveform);
  for (const TResonances& d : Row.Candidates.Denser) readings(d, OtherWaveform, Waveform);
  // F3 taken for F2: a fit that shows a resonance between F1 and it. The
  // denser fits count half: beside a high voice their spare poles sit on
  // harmonics.
  for (TChoice& x : Out) {
    if (!(x.F[0] > 0 && x.F[1] > 0)) continue;
    const auto shows = [&](const TResonances& R, double Above, double MaxBand) {
      for (int r = 0; r < R.Count; ++r) {
        const double f = R.Freq[static_cast<std::size_t>(r)];
        if (f >= std::max({x.F[0] + MinF2Gap, LowestF2, Above * x.F[0]}) &&
            f < (1 - SameFormant) * x.F[1] && R.Band[static_cast<std::size_t>(r)] <= MaxBand)
          return true;
      }
      return false;
    };
    const TFormantCandidates& c = Row.Candidates;
    const std::array<const TResonances*, 3> fits{&c.Waveform, &c.Denser[0], &c.Denser[1]};
    const auto sharp = [&](const TResonances& R) { return shows(R, NearF1, BetweenBand); };
    x.Cost += Between * (sharp(c.Harmonic) + sharp(c.Waveform) +
                         0.5 * (sharp(c.Denser[0]) + sharp(c.Denser[1])));
    for (const TResonances* R : fits) x.Cost += Far * shows(*R, FarF1, BetweenBand);
    if (std::all_of(fits.begin(), fits.end(), [&](const TResonances* R) {
          return R->Count > 0 && shows(*R, 0, std::numeric_limits<double>::infinity());
        }))
      x.Cost += BetweenAll;
    for (const TResonances* R : fits) {
      if (R->Count == 0) continue;
      bool has = false;
      for (int r = 0; r < R->Count && !has; ++r)
        has = std::abs(R->Freq[static_cast<std::size_t>(r)] - x.F[1]) <= Agree * x.F[1];
      if (!has) x.Cost += Lonely;
    }
  }
}

double CFormantPath::Move(const std::array<double, 3>& A, const std::array<double, 3>& B,
                          int Steps) const noexcept {
  double cost = 0;
  const double scale = FScale * Steps;
  for (std::size_t i = 0; i < 3; ++i) {
    const double a = A[i], b = B[i];
    const double weight = i == 2 ? ThirdWeight : 1.0;
    if (a > 0 && b > 0) {
      const double d = (b - a) / (Spread(0.5 * (a + b)) * scale);
      cost += weight * d * d;
      if (i == 1 && std::abs(b - a) > LeapF2 * scale) cost += Leap;
    } else if ((a > 0) != (b > 0)) {
      cost += weight * Appears;
    }
  }
  return cost;
}

void CFormantPath::Stretch(std::size_t Begin, std::size_t End) {
  const std::size_t n = End - Begin;
  if (FChoices.size() < n) {
    FChoices.resize(n);
    FCost.resize(n);
    FFrom.resize(n);
    FKnown.resize(n);
  }
  for (std::size_t t = 0; t < n; ++t) {
    Choices(FRows[Begin + t], FChoices[t]);
    const std::size_t k = FChoices[t].size();
    FCost[t].assign(k, 0.0);
    FFrom[t].assign(k, -1);
    FKnown[t].assign(k, TKnown{});
    for (std::size_t j = 0; j < k; ++j) {
      const TChoice& to = FChoices[t][j];
      double best = 0;
      int from = -1;
      if (t > 0) {
        best = std::numeric_limits<double>::infinity();
        for (std::size_t i = 0; i < FChoices[t - 1].size(); ++i) {
          // Across a gap the formants move as far as over as many steps.
          const TKnown& known = FKnown[t - 1][i];
          const double move =
              to.Source == Blank || known.Steps < 0 ? 0.0 : Move(known.F, to.F, known.Steps + 1);
          const double c = FCost[t - 1][i] + move;
          if (c < best) {
            best = c;
            from = static_cast<int>(i);
          }
        }
      }
      FCost[t][j] = best + to.Cost;
      FFrom[t][j] = from;
      TKnown& known = FKnown[t][j];
      if (to.Source != Blank) {
        known.F = to.F;
        known.Steps = 0;
      } else if (from >= 0 && FKnown[t - 1][static_cast<std::size_t>(from)].Steps >= 0) {
        known = FKnown[t - 1][static_cast<std::size_t>(from)];
        ++known.Steps;
      }
    }
  }
  // Back from the cheapest end.
  const std::vector<double>& last = FCost[n - 1];
  int j = static_cast<int>(std::min_element(last.begin(), last.end()) - last.begin());
  for (std::size_t t = n; t-- > 0;) {
    const TChoice& c = FChoices[t][static_cast<std::size_t>(j)];
    TFormants& f = FRows[Begin + t].Formants;
    if (c.Source == Blank) {
      f.F = {};
      f.B = {};
      f.Confidence = 0;
      f.Fallback = false;
    } else if (c.Source != Own) {
      f.F = c.F;
      f.B = c.B;
      f.Fallback = c.Source == Waveform;
      f.Confidence = (c.Source == Waveform ? WaveformTrust : HarmonicTrust) * BandFactor(c.B);
    }
    j = FFrom[t][static_cast<std::size_t>(j)];
  }
  for (std::size_t i = 0; i < 2; ++i) Settle(Begin, End, i);
}

void CFormantPath::Settle(std::size_t Begin, std::size_t End, std::size_t I) {
  double was = 0, now = 0;  // the previous analysis's value before and after
  for (std::size_t t = Begin; t < End; ++t) {
    TFormants& f = FRows[t].Formants;
    const double x = f.F[I];
    if (!(x > 0)) {
      was = now = 0;
      continue;
    }
    std::array<double, 5> v{};
    std::size_t k = 0;
    v[k++] = x;
    const TFormantCandidates& c = FRows[t].Candidates;
    for (const TResonances* R : {&c.Harmonic, &c.Waveform, &c.Denser[0], &c.Denser[1]}) {
      double distance = Near * x, nearest = 0;
      for (int r = 0; r < R->Count; ++r) {
        const double y = R->Freq[static_cast<std::size_t>(r)];
        // The path's own value is already counted.
        if (y != x && std::abs(y - x) <= distance) {
          distance = std::abs(y - x);
          nearest = y;
        }
      }
      if (nearest > 0) v[k++] = nearest;
    }
    for (std::size_t a = 1; a < k; ++a)
      for (std::size_t b = a; b > 0 && v[b - 1] > v[b]; --b) std::swap(v[b - 1], v[b]);
    double m = k % 2 ? v[k / 2] : 0.5 * (v[k / 2 - 1] + v[k / 2]);
    if (was > 0 && std::abs(x - was) <= LeapF2 * FScale)
      m = std::clamp(m, now - Steady * FScale, now + Steady * FScale);
    // The formants still rise.
    const bool rises = (I == 0 || m > f.F[I - 1]) && (f.F[I + 1] <= 0 || m < f.F[I + 1]);
    was = x;
    if (rises) f.F[I] = m;
    now = f.F[I];
  }
}

std::size_t CFormantPath::Edge(std::size_t From, std::size_t Rows, bool Back) {
  std::array<double, 3> known = FRows[From].Formants.F;
  if (!(known[0] > 0 && known[1] > 0)) return 0;
  std::vector<TChoice>& choices = FChoices[0];
  for (std::size_t k = 1; k <= Rows; ++k) {
    TRow& row = FRows[Back ? From - k : From + k];
    Choices(row, choices);
    const TChoice* best = nullptr;
    double cost = EdgeCost;
    for (const TChoice& c : choices) {
      if (c.Source == Blank) continue;
      const double x = c.Cost + Move(known, c.F, 1);
      if (x < cost) {
        cost = x;
        best = &c;
      }
    }
    if (!best) return k - 1;
    TFormants& f = row.Formants;
    f.F = best->F;
    f.B = best->B;
    f.Fallback = true;
    f.Confidence = EdgeTrust * BandFactor(best->B);
    known = best->F;
  }
  return Rows;
}

}  // namespace quenvis
