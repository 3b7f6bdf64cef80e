#include "analysis/FormantTracker.h"

#include <Eigen/Eigenvalues>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstring>
#include <numbers>

namespace quenvis {

namespace {

constexpr double Pi = std::numbers::pi;

// --- Tables, all evaluated by the compiler --------------------------------

// sin and cos of X in [0, 2*pi] by quadrant reduction and Taylor series; only
// for building tables at compile time.
struct TSinCos {
  double S, C;
};
constexpr TSinCos ConstSinCos(double X) {
  const long double quarter = std::numbers::pi_v<long double> / 2;
  long double q = static_cast<long double>(static_cast<long long>(X / quarter + 0.5));
  const long double r = X - q * quarter;
  long double s = 0, c = 0, term = r;
  for (int k = 1; k < 40; k += 2) {  // sin
    s += term;
    term *= -r * r / ((k + 1) * (k + 2));
  }
  term = 1;
  for (int k = 0; k < 40; k += 2) {  // cos
    c += term;
    term *= -r * r / ((k + 1) * (k + 2));
  }
  switch (static_cast<int>(q) & 3) {
    case 0:
      return {static_cast<double>(s), static_cast<double>(c)};
    case 1:
      return {static_cast<double>(c), static_cast<double>(-s)};
    case 2:
      return {static_cast<double>(-s), static_cast<double>(-c)};
    default:
      return {static_cast<double>(-c), static_cast<double>(s)};
  }
}

constexpr int SpecFrame = CFormantTracker::SpecFrame;
constexpr int SpecSize = CFormantTracker::SpecSize;
constexpr int FFTHalf = SpecSize / 2;  // complex transform length of the real one
constexpr int TwiddleCount = SpecSize / 2 + 1;
constexpr int HalfbandTaps = CFormantTracker::HalfbandTaps;

// cos and sin of 2*pi*k/2048 for k = 0..1024: the transform's rotations, and
// the grid from which angles of the model are interpolated.
struct TTwiddles {
  std::array<double, TwiddleCount> C{}, S{};
};
constexpr TTwiddles MakeTwiddles() {
  TTwiddles t;
  for (int k = 0; k < TwiddleCount; ++k) {
    const TSinCos v = ConstSinCos(2 * Pi * k / SpecSize);
    t.C[static_cast<std::size_t>(k)] = v.C;
    t.S[static_cast<std::size_t>(k)] = v.S;
  }
  return t;
}
constexpr TTwiddles Twiddles = MakeTwiddles();

constexpr std::array<double, SpecFrame> MakeHann() {
  std::array<double, SpecFrame> w{};
  for (int n = 0; n < SpecFrame; ++n)
    w[static_cast<std::size_t>(n)] = 0.5 - 0.5 * ConstSinCos(2 * Pi * n / SpecFrame).C;
  return w;
}
constexpr std::array<double, SpecFrame> Hann = MakeHann();

constexpr std::array<std::uint16_t, FFTHalf> MakeBitReverse() {
  std::array<std::uint16_t, FFTHalf> r{};
  for (int i = 0; i < FFTHalf; ++i) {
    int v = 0;
    for (int b = 1, x = i; b < FFTHalf; b <<= 1, x >>= 1) v = (v << 1) | (x & 1);
    r[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(v);
  }
  return r;
}
constexpr std::array<std::uint16_t, FFTHalf> BitReverse = MakeBitReverse();

// Half-band low-pass (Blackman-windowed sinc, unity gain at DC) for each
// decimation by two; its odd taps away from the centre are zero.
constexpr std::array<double, HalfbandTaps> MakeHalfband() {
  std::array<double, HalfbandTaps> h{};
  double sum = 0;
  constexpr int centre = HalfbandTaps / 2;
  for (int n = 0; n < HalfbandTaps; ++n) {
    const int m = n - centre;
    // sin(pi m / 2) / (pi m), even in m.
    const int am = m < 0 ? -m : m;
    const double ideal = am == 0 ? 0.5 : am % 2 == 0 ? 0.0 : (am % 4 == 1 ? 1.0 : -1.0) / (Pi * am);
    const double x = 2 * Pi * (n + 1) / (HalfbandTaps + 1);
    const double x2 = 2 * x > 2 * Pi ? 2 * x - 2 * Pi : 2 * x;
    const double w = 0.42 - 0.5 * ConstSinCos(x).C + 0.08 * ConstSinCos(x2).C;
    h[static_cast<std::size_t>(n)] = ideal * w;
    sum += ideal * w;
  }
  for (double& v : h) v /= sum;
  return h;
}
constexpr std::array<double, HalfbandTaps> Halfband = MakeHalfband();

// --- Run-time helpers without trigonometric calls -------------------------

// cos and sin of an angle in [0, pi]: the nearest table entry, turned by the
// small remainder (at most pi/2048) with its short Taylor series.
inline TSinCos SinCosOf(double Angle) noexcept {
  const double grid = Angle * (SpecSize / (2 * Pi));
  const int j = std::clamp(static_cast<int>(grid + 0.5), 0, TwiddleCount - 1);
  const double r = Angle - j * (2 * Pi / SpecSize);
  const double r2 = r * r;
  const double cr = 1 - r2 / 2 * (1 - r2 / 12);
  const double sr = r * (1 - r2 / 6 * (1 - r2 / 20));
  const double c = Twiddles.C[static_cast<std::size_t>(j)],
               s = Twiddles.S[static_cast<std::size_t>(j)];
  return {s * cr + c * sr, c * cr - s * sr};
}

// atan of T >= 0: reduced to [0, 1], halved twice (to at most tan(pi/16)),
// then its series; the error stays below 1e-15.
inline double AtanPositive(double T) noexcept {
  const bool inverted = T > 1;
  double t = inverted ? 1 / T : T;
  for (int i = 0; i < 2; ++i) t = t / (1 + std::sqrt(1 + t * t));
  const double t2 = t * t;
  double sum = 0;
  for (int k = 21; k >= 1; k -= 2) sum = 1.0 / k - t2 * sum;
  const double a = 4 * t * sum;
  return inverted ? Pi / 2 - a : a;
}

// Angle of (X, Y) with Y > 0, in (0, pi).
inline double AngleOf(double X, double Y) noexcept {
  if (X == 0) return Pi / 2;
  return X > 0 ? AtanPositive(Y / X) : Pi - AtanPositive(Y / -X);
}

}  // namespace

std::optional<EVoice> ParseVoice(std::string_view Name) noexcept {
  if (Name == "man") return EVoice::Man;
  if (Name == "woman") return EVoice::Woman;
  if (Name == "child") return EVoice::Child;
  return std::nullopt;
}

namespace {

struct TPreset {
  double Ceiling;  // Hz; five formants below it
  double MinF1;    // Hz
};
constexpr TPreset PresetOf(EVoice Voice) {
  switch (Voice) {
    case EVoice::Man:
      return {5000, 150};
    case EVoice::Child:
      return {6500, 200};
    case EVoice::Woman:
      break;
  }
  return {5500, 150};
}

constexpr double Rate2 = CFormantTracker::SampleRate / 2;
constexpr double Rate4 = CFormantTracker::SampleRate / 4;
constexpr double BinHz = Rate2 / SpecSize;
constexpr double MinF0 = 60, MaxF0 = 1000;
constexpr int YinWindow = 384;
constexpr int YinMaxLag = static_cast<int>(Rate4 / MinF0) + 2;
constexpr int YinMinLag = static_cast<int>(Rate4 / MaxF0);
constexpr double YinDip = 0.15;     // first dip of the normalised difference below this
constexpr double YinVoiced = 0.35;  // aperiodicity above this is unvoiced
constexpr double MinLevel = 1e-3;   // RMS re full scale (-60 dBFS)
constexpr int ClipLimit = 2 * CFormantTracker::BlockFrames / 20;  // 5 % of the samples at the rails
// A peak where only noise is, is the strongest of several noise bins and so
// stands well above their mean: several times the mean comes off every peak,
// which a harmonic clear of the noise hardly notices.
constexpr double NoiseOverSubtraction = 8;
constexpr double NoiseFloorShare = 0.01;  // what a peak keeps at least
constexpr double MinWeight = 0.05;        // of a peak lost in the noise, in the fit
constexpr int MinHarmonics = 6;           // fewer cannot pin ten poles
constexpr int MinClearHarmonics = 3;      // standing clear of the noise
constexpr double MaxBandwidth = 500, MinFormant = 90;
constexpr double MinBandwidth = 15;  // Hz; no vocal tract resonance is that sharp

// Decimates by two: Out[k] = sum_j h[j] In[2k + j], over the centre tap and
// the even ones (the rest are zero).
inline void Decimate(const double* In, double* Out, int Count) noexcept {
  static_assert(HalfbandTaps % 4 == 3, "centre tap odd, outer taps even");
  for (int k = 0; k < Count; ++k) {
    const double* x = In + 2 * k;
    double acc = Halfband[HalfbandTaps / 2] * x[HalfbandTaps / 2];
    for (int j = 0; j < HalfbandTaps; j += 2) acc += Halfband[static_cast<std::size_t>(j)] * x[j];
    Out[k] = acc;
  }
}

}  // namespace

CFormantTracker::CFormantTracker(EVoice Voice) noexcept
    : FVoice(Voice), FCeiling(PresetOf(Voice).Ceiling), FMinF1(PresetOf(Voice).MinF1) {}

void CFormantTracker::Reset() noexcept {
  FIn.fill(0);
  FRate2.fill(0);
  FRate4.fill(0);
  FClipped = false;
}

TFormants CFormantTracker::Process(const void* Block) noexcept {
  // Mono mix, after the filter tail of the previous block.
  constexpr int tail = HalfbandTaps - 1;
  std::memmove(FIn.data(), FIn.data() + BlockFrames, tail * sizeof(double));
  const auto* bytes = static_cast<const unsigned char*>(Block);
  int railed = 0;
  for (int i = 0; i < BlockFrames; ++i) {
    const auto l = static_cast<std::int16_t>(bytes[4 * i] | (bytes[4 * i + 1] << 8));
    const auto r = static_cast<std::int16_t>(bytes[4 * i + 2] | (bytes[4 * i + 3] << 8));
    railed += (l >= 32767 || l <= -32767) + (r >= 32767 || r <= -32767);
    FIn[static_cast<std::size_t>(tail + i)] = (l + r) / 65536.0;
  }
  const bool clipped = railed > ClipLimit;
  const bool clippedFrame = clipped || FClipped;  // the spectrum reaches into the last block
  FClipped = clipped;

  // 44 100 -> 22 050 Hz, history of two blocks plus the next filter's tail.
  constexpr int new2 = BlockFrames / 2;
  std::memmove(FRate2.data(), FRate2.data() + new2, (FRate2.size() - new2) * sizeof(double));
  Decimate(FIn.data(), FRate2.data() + FRate2.size() - new2, new2);
  // 22 050 -> 11 025 Hz.
  constexpr int new4 = BlockFrames / 4;
  std::memmove(FRate4.data(), FRate4.data() + new4, (FRate4.size() - new4) * sizeof(double));
  Decimate(FRate2.data() + FRate2.size() - new2 - tail, FRate4.data() + FRate4.size() - new4, new4);

  TFormants out;
  double level = 0;
  const double f0 = EstimateF0(level);
  if (f0 <= 0 || level < MinLevel) return out;
  out.Voiced = true;
  out.F0 = f0;

  // Two frames, the latest and one 11.6 ms earlier: their harmonic
  // powers, taken one by one, are averaged, which steadies them in noise
  // without blurring them through vibrato as one averaged spectrum would.
  double earlierF0 = f0;
  ComputeSpectrum(FRate2.size() - SpecFrame - FrameStep);
  const int earlier = PickHarmonics(earlierF0);
  std::copy_n(FHarmFreq.begin(), earlier, FPrevFreq.begin());
  std::copy_n(FHarmPower.begin(), earlier, FPrevPower.begin());
  std::copy_n(FWeight.begin(), earlier, FPrevWeight.begin());
  double refined = f0;
  ComputeSpectrum(FRate2.size() - SpecFrame);
  const int count = std::min(earlier, PickHarmonics(refined));
  for (std::size_t m = 0; m < static_cast<std::size_t>(count); ++m) {
    FHarmFreq[m] = 0.5 * (FHarmFreq[m] + FPrevFreq[m]);
    FHarmPower[m] = 0.5 * (FHarmPower[m] + FPrevPower[m]);
    FWeight[m] = 0.5 * (FWeight[m] + FPrevWeight[m]);
  }
  if (refined >= MinF0 && refined <= MaxF0) out.F0 = refined;
  // A pure tone, or a sound with a harmonic or two above the noise (or
  // within 60 dB of the strongest), is periodic but outlines no envelope.
  const double strongest =
      *std::max_element(FHarmPower.begin(), FHarmPower.begin() + std::max(count, 1));
  int clear = 0;
  for (std::size_t m = 0; m < static_cast<std::size_t>(count); ++m)
    clear += FWeight[m] >= 0.5 && FHarmPower[m] >= 1e-6 * strongest;
  if (clippedFrame || count < MinHarmonics || clear < MinClearHarmonics) return out;
  const int iterates = FitAllPole(count);
  if (iterates == 0) return out;
  // The fit only sees the harmonics, so nothing stops it from sharpening a
  // resonance between two of them towards the unit circle as it converges.
  // When the last model has such a pole, the latest one without is taken
  // (the iterates sharpen steadily, so a bisection finds it).
  TRoots roots;
  if (!FindRoots(Iterate(iterates - 1), roots)) {
    int good = 0, bad = iterates - 1;
    while (bad - good > 1) {
      const int mid = (good + bad) / 2;
      (FindRoots(Iterate(mid), roots) ? good : bad) = mid;
    }
    FindRoots(Iterate(good), roots);
  }
  const int kept = std::min(roots.Count, 3);
  for (int i = 0; i < kept; ++i) {
    out.F[static_cast<std::size_t>(i)] = roots.Freq[static_cast<std::size_t>(i)];
    out.B[static_cast<std::size_t>(i)] = roots.Band[static_cast<std::size_t>(i)];
  }
  return out;
}

// YIN: cumulative-mean-normalised difference over the latest samples at
// 11 025 Hz; the first dip below YinDip, else the deepest one, refined by a
// parabola. Taking the first dip keeps the period from doubling. Returns 0
// when aperiodic.
double CFormantTracker::EstimateF0(double& Level) noexcept {
  constexpr int span = YinWindow + YinMaxLag + 1;
  const double* src = FRate4.data() + FRate4.size() - span;
  double mean = 0;
  for (int n = 0; n < span; ++n) mean += src[n];
  mean /= span;
  double energy = 0;
  for (int n = 0; n < span; ++n) {
    FYin[static_cast<std::size_t>(n)] = src[n] - mean;
    energy += FYin[static_cast<std::size_t>(n)] * FYin[static_cast<std::size_t>(n)];
  }
  Level = std::sqrt(energy / span);
  if (Level < MinLevel) return 0;

  // FRe serves as scratch for the difference function here.
  double* d = FRe.data();
  const double* x = FYin.data();
  double running = 0;
  d[0] = 1;
  for (int tau = 1; tau <= YinMaxLag; ++tau) {
    double a0 = 0, a1 = 0, a2 = 0, a3 = 0;
    for (int n = 0; n < YinWindow; n += 4) {
      const double e0 = x[n] - x[n + tau], e1 = x[n + 1] - x[n + 1 + tau];
      const double e2 = x[n + 2] - x[n + 2 + tau], e3 = x[n + 3] - x[n + 3 + tau];
      a0 += e0 * e0;
      a1 += e1 * e1;
      a2 += e2 * e2;
      a3 += e3 * e3;
    }
    const double diff = (a0 + a1) + (a2 + a3);
    running += diff;
    d[tau] = running > 0 ? diff * tau / running : 1;
  }

  int best = -1;
  for (int tau = YinMinLag; tau < YinMaxLag; ++tau) {
    if (d[tau] < YinDip) {
      while (tau + 1 < YinMaxLag && d[tau + 1] < d[tau]) ++tau;
      best = tau;
      break;
    }
  }
  if (best < 0) {
    for (int tau = YinMinLag; tau < YinMaxLag; ++tau)
      if (best < 0 || d[tau] < d[best]) best = tau;
    if (d[best] > YinVoiced || best <= YinMinLag) return 0;
  }
  double period = best;
  const double a = d[best - 1], b = d[best], c = d[best + 1];
  const double curve = a - 2 * b + c;
  if (curve > 0) period += std::clamp(0.5 * (a - c) / curve, -0.5, 0.5);
  const double f0 = Rate4 / period;
  return (f0 >= MinF0 && f0 <= MaxF0) ? f0 : 0;
}

// Power spectrum of 69.7 ms at 22 050 Hz from First on, Hann window, through a
// 1024-point complex transform of the even/odd samples.
void CFormantTracker::ComputeSpectrum(std::size_t First) noexcept {
  const double* src = FRate2.data() + First;
  double mean = 0;
  for (int n = 0; n < SpecFrame; ++n) mean += src[n];
  mean /= SpecFrame;
  for (int i = 0; i < FFTHalf; ++i) {
    const int j = BitReverse[static_cast<std::size_t>(i)];
    const int n0 = 2 * i, n1 = 2 * i + 1;
    FRe[static_cast<std::size_t>(j)] =
        n0 < SpecFrame ? (src[n0] - mean) * Hann[static_cast<std::size_t>(n0)] : 0;
    FIm[static_cast<std::size_t>(j)] =
        n1 < SpecFrame ? (src[n1] - mean) * Hann[static_cast<std::size_t>(n1)] : 0;
  }
  double* re = FRe.data();
  double* im = FIm.data();
  for (int len = 2; len <= FFTHalf; len <<= 1) {
    const int half = len / 2, step = SpecSize / len;
    for (int k = 0; k < half; ++k) {
      const double wr = Twiddles.C[static_cast<std::size_t>(k * step)];
      const double wi = -Twiddles.S[static_cast<std::size_t>(k * step)];
      for (int i = k; i < FFTHalf; i += len) {
        const int m = i + half;
        const double tr = wr * re[m] - wi * im[m], ti = wr * im[m] + wi * re[m];
        re[m] = re[i] - tr;
        im[m] = im[i] - ti;
        re[i] += tr;
        im[i] += ti;
      }
    }
  }
  // Split into the spectrum of the real frame.
  for (int k = 0; k <= FFTHalf; ++k) {
    const int a = k % FFTHalf, b = (FFTHalf - k) % FFTHalf;
    const double er = 0.5 * (re[a] + re[b]), ei = 0.5 * (im[a] - im[b]);
    const double orr = 0.5 * (im[a] + im[b]), oi = -0.5 * (re[a] - re[b]);
    const double wr = Twiddles.C[static_cast<std::size_t>(k)],
                 wi = -Twiddles.S[static_cast<std::size_t>(k)];
    const double xr = er + wr * orr - wi * oi, xi = ei + wr * oi + wi * orr;
    FPower[static_cast<std::size_t>(k)] = xr * xr + xi * xi;
  }
}

// Harmonic peaks below the ceiling: the strongest bin near each multiple of
// the running F0, refined by a parabola on log power. Clear peaks update F0 so
// that the search follows vibrato up the series. Returns the count kept.
int CFormantTracker::PickHarmonics(double& F0) noexcept {
  constexpr double floor = 1e-30;
  const int lastBin = FFTHalf - 1;
  double sumFH = 0, sumHH = 0, f0 = F0;
  int count = 0;
  for (int h = 1; h <= MaxHarmonics; ++h) {
    const double expected = h * f0;
    if (expected >= FCeiling) break;
    const double reach = std::max(0.3 * f0, 2.5 * BinHz);
    const int lo = std::max(1, static_cast<int>((expected - reach) / BinHz + 0.5));
    const int hi = std::min(lastBin, static_cast<int>((expected + reach) / BinHz + 0.5));
    if (hi <= lo) break;
    int k = lo;
    for (int j = lo + 1; j <= hi; ++j)
      if (FPower[static_cast<std::size_t>(j)] > FPower[static_cast<std::size_t>(k)]) k = j;
    const double pa = FPower[static_cast<std::size_t>(k - 1)],
                 pb = FPower[static_cast<std::size_t>(k)];
    const double pc = FPower[static_cast<std::size_t>(k + 1)];
    double freq = expected, power = pb;
    if (pb >= pa && pb >= pc && k > lo && k < hi) {
      const double a = std::log(pa + floor), b = std::log(pb + floor), c = std::log(pc + floor);
      const double curve = a - 2 * b + c;
      const double delta = curve < 0 ? std::clamp(0.5 * (a - c) / curve, -0.5, 0.5) : 0.0;
      freq = (k + delta) * BinHz;
      power = std::exp(b - 0.25 * (a - c) * delta);
      if (std::abs(freq - expected) < 0.15 * f0) {
        sumFH += freq * h;
        sumHH += static_cast<double>(h) * h;
        f0 = sumFH / sumHH;
      }
    }
    FHarmFreq[static_cast<std::size_t>(count)] = freq;
    FHarmPower[static_cast<std::size_t>(count)] = power;
    ++count;
  }
  if (sumHH > 0) F0 = f0;
  RemoveNoise(count, f0);
  return count;
}

// Noise adds its power to every bin, peaks included, and raises the valleys
// between harmonics to its level: the mean power of the middle of the nearby
// valleys is taken from each peak. A peak that does not stand clear of it
// keeps a small part of its power, which the model may pass above.
void CFormantTracker::RemoveNoise(int Count, double F0) noexcept {
  for (int m = 0; m < Count; ++m) {
    const double f = FHarmFreq[static_cast<std::size_t>(m)];
    const double next = m + 1 < Count ? FHarmFreq[static_cast<std::size_t>(m + 1)] : f + F0;
    const int lo = static_cast<int>((f + 0.35 * (next - f)) / BinHz + 0.5);
    const int hi = std::min(FFTHalf, static_cast<int>((f + 0.65 * (next - f)) / BinHz + 0.5));
    double sum = 0;
    for (int k = lo; k <= hi; ++k) sum += FPower[static_cast<std::size_t>(k)];
    FValley[static_cast<std::size_t>(m)] = hi >= lo ? sum / (hi - lo + 1) : 0;
  }
  for (int m = 0; m < Count; ++m) {
    double noise = 0;
    int n = 0;
    for (int j = std::max(0, m - 2); j <= std::min(Count - 1, m + 1); ++j, ++n)
      noise += FValley[static_cast<std::size_t>(j)];
    noise /= n;
    double& p = FHarmPower[static_cast<std::size_t>(m)];
    const double clean = std::max(p - NoiseOverSubtraction * noise, NoiseFloorShare * p);
    const double snr = noise > 0 ? clean / (NoiseOverSubtraction * noise) : 1e6;
    FWeight[static_cast<std::size_t>(m)] = std::max(snr / (1 + snr), MinWeight);
    p = clean;
  }
}

// Discrete all-pole modelling (El-Jaroudi and Makhoul): the order-10 model
// that minimises the Itakura-Saito distance to the harmonic powers alone, by
// the fixed-point iteration R a = h(a). Model frequency axis: the ceiling is
// its Nyquist frequency. Keeps every iterate (with a[0] = 1) and returns
// their count, 0 when the data allow no model.
int CFormantTracker::FitAllPole(int Count) noexcept {
  constexpr int p = Order;
  const double preAlpha = std::exp(-2 * Pi * 200 / (2 * FCeiling));
  double total = 0;
  for (int m = 0; m < Count; ++m) {
    const double omega = Pi * FHarmFreq[static_cast<std::size_t>(m)] / FCeiling;
    const TSinCos one = SinCosOf(omega);
    double c = 1, s = 0;
    for (int i = 0; i <= p; ++i) {
      FCos[static_cast<std::size_t>(m * (p + 1) + i)] = c;
      FSin[static_cast<std::size_t>(m * (p + 1) + i)] = s;
      const double nc = c * one.C - s * one.S;
      s = s * one.C + c * one.S;
      c = nc;
    }
    // 6 dB per octave from about 200 Hz up undoes most of the fall of the
    // glottal source, so the poles go to the formants.
    FHarmPower[static_cast<std::size_t>(m)] *= 1 - 2 * preAlpha * one.C + preAlpha * preAlpha;
    total += FHarmPower[static_cast<std::size_t>(m)];
  }
  if (!(total > 0) || !std::isfinite(total)) return 0;

  std::array<double, p + 1> r{};
  for (int m = 0; m < Count; ++m) {
    const double pm =
        FWeight[static_cast<std::size_t>(m)] * FHarmPower[static_cast<std::size_t>(m)] / total;
    for (int i = 0; i <= p; ++i)
      r[static_cast<std::size_t>(i)] += pm * FCos[static_cast<std::size_t>(m * (p + 1) + i)];
  }
  r[0] *= 1 + 1e-9;  // keeps the Toeplitz matrix positive definite

  Eigen::Matrix<double, p + 1, p + 1> toeplitz;
  for (int i = 0; i <= p; ++i)
    for (int j = 0; j <= p; ++j) toeplitz(i, j) = r[static_cast<std::size_t>(std::abs(i - j))];
  const Eigen::LLT<Eigen::Matrix<double, p + 1, p + 1>> llt(toeplitz);
  if (llt.info() != Eigen::Success) return 0;

  Eigen::Matrix<double, p + 1, 1> a, h;
  h.setZero();
  h(0) = 1;
  a = llt.solve(h);
  if (!(a(0) > 0)) return 0;
  a /= a(0);
  int stored = 0;
  const auto keep = [&] {
    for (int k = 0; k <= p; ++k) FIterates[static_cast<std::size_t>(stored * (p + 1) + k)] = a(k);
    ++stored;
  };
  keep();

  for (int iter = 0; iter < MaxFitIterations; ++iter) {
    h.setZero();
    for (int m = 0; m < Count; ++m) {
      const double* cm = FCos.data() + m * (p + 1);
      const double* sm = FSin.data() + m * (p + 1);
      double ar = 0, ai = 0;
      for (int k = 0; k <= p; ++k) {
        ar += a(k) * cm[k];
        ai -= a(k) * sm[k];
      }
      const double mag = ar * ar + ai * ai;
      if (!(mag > 0)) return stored;
      const double inv = FWeight[static_cast<std::size_t>(m)] / mag;
      for (int i = 0; i <= p; ++i) h(i) += (cm[i] * ar - sm[i] * ai) * inv;
    }
    Eigen::Matrix<double, p + 1, 1> next = llt.solve(h);
    if (!(next(0) > 0) || !next.allFinite()) break;
    next /= next(0);
    const double change = (next - a).cwiseAbs().maxCoeff();
    a = next;
    keep();
    if (change < 1e-7) break;
  }
  return stored;
}

// Roots of the model polynomial in the upper half plane, narrow enough and
// above the lowest plausible formant, as formants in rising order. False
// when a root above MinFormant is sharper than MinBandwidth (on or next to
// the unit circle).
bool CFormantTracker::FindRoots(const double* A, TRoots& Out) const noexcept {
  constexpr int p = Order;
  Out.Count = 0;
  Eigen::Matrix<double, p, p> companion;
  companion.setZero();
  for (int k = 0; k < p; ++k) companion(0, k) = -A[k + 1];
  for (int k = 1; k < p; ++k) companion(k, k - 1) = 1;
  const Eigen::EigenSolver<Eigen::Matrix<double, p, p>> solver(companion, false);
  if (solver.info() != Eigen::Success) return false;

  bool sound = true;
  const double scale = FCeiling / Pi;
  for (int k = 0; k < p; ++k) {
    const std::complex<double> z = solver.eigenvalues()(k);
    if (!(z.imag() > 0)) continue;
    const double f = AngleOf(z.real(), z.imag()) * scale;
    const double radius = std::abs(z);
    // A root outside the unit circle shapes the magnitude as its mirror
    // image inside does; the fit only sees magnitudes.
    const double b = radius > 0 ? std::abs(std::log(radius)) * 2 * scale : MaxBandwidth;
    if (!std::isfinite(f) || !std::isfinite(b) || f < MinFormant) continue;
    if (b < MinBandwidth) sound = false;
    if (b <= 0 || b >= MaxBandwidth || f < FMinF1) continue;
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
