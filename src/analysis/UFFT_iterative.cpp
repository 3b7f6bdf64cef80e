#include "analysis/UFFT_iterative.h"

#include <bit>
#include <cstddef>
#include <limits>

#include "analysis/CpuFeatures.h"

namespace quenvis {

namespace {

// The hot loops are also built for AVX2 and picked when the engine is made
// (UseAvx2). Without fused multiply-add (contraction is off) wider vectors
// give the same bits as the baseline build: each lane does the same IEEE
// operations.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define QUENVIS_AVX2_PATH 1
#define QUENVIS_BODY __attribute__((always_inline)) inline
#else
#define QUENVIS_AVX2_PATH 0
#define QUENVIS_BODY inline
#endif

constexpr std::size_t Half = FFTSize / 2;

// log10 of a power (a sum of squares, so never negative), written so that the
// compiler can run it several lanes at a time: no table, no branch, no
// int64-to-double conversion. It is deterministic and stays within one ulp of
// a correctly rounded log10 (the tests hold it to that).
// It follows the classic fdlibm reduction: x = 2^e * m with m in
// [sqrt(1/2), sqrt(2)), log1p(m - 1) by its minimax series in s = f / (2 + f),
// and the result assembled from split constants so the error stays within
// about one ulp. Zero gives -infinity without evaluating a logarithm of zero.
inline double Log10Power(double X) noexcept {
  constexpr double Lg1 = 0x1.5555555555593p-1, Lg2 = 0x1.999999997fa04p-2,
                   Lg3 = 0x1.2492494229359p-2, Lg4 = 0x1.c71c51d8e78afp-3,
                   Lg5 = 0x1.7466496cb03dep-3, Lg6 = 0x1.39a09d078c69fp-3,
                   Lg7 = 0x1.2f112df3e5244p-3;
  constexpr double InvLn10Hi = 0x1.bcb7b152p-2, InvLn10Lo = 0x1.b9438ca9aadd5p-36;
  constexpr double Log10Of2Hi = 0x1.34413509f6p-2, Log10Of2Lo = 0x1.9fef311f12b36p-42;
  constexpr std::uint64_t MantissaMask = 0x000F'FFFF'FFFF'FFFFull;
  constexpr std::uint64_t ExponentOne = 0x3FF0'0000'0000'0000ull;
  // 2^52 as the bit pattern whose low bits receive the biased exponent.
  constexpr std::uint64_t IntegerMagic = 0x4330'0000'0000'0000ull;

  // Subnormal powers are scaled into the normal range first.
  const bool tiny = X < 0x1p-1022;  // zero or subnormal: scale into the normal range
  const double scaled = X * (tiny ? 0x1p54 : 1.0);
  const double bias = tiny ? 1023.0 + 54.0 : 1023.0;

  const std::uint64_t bits = std::bit_cast<std::uint64_t>(scaled);
  double m = std::bit_cast<double>((bits & MantissaMask) | ExponentOne);
  const bool upper = m > 0x1.6a09e667f3bcdp+0;  // sqrt(2)
  m *= upper ? 0.5 : 1.0;
  const double biased = std::bit_cast<double>(IntegerMagic | (bits >> 52)) - 0x1p52;
  const double e = biased - bias + (upper ? 1.0 : 0.0);

  const double f = m - 1.0;
  const double hfsq = 0.5 * f * f;
  const double s = f / (2.0 + f);
  const double z = s * s;
  const double w = z * z;
  const double t1 = w * (Lg2 + w * (Lg4 + w * Lg6));
  const double t2 = z * (Lg1 + w * (Lg3 + w * (Lg5 + w * Lg7)));
  const double r = s * (hfsq + (t1 + t2));

  // hi keeps only its upper 21 mantissa bits so hi * InvLn10Hi is exact.
  const double hi =
      std::bit_cast<double>(std::bit_cast<std::uint64_t>(f - hfsq) & 0xFFFF'FFFF'0000'0000ull);
  const double lo = (f - hi) - hfsq + r;
  const double valHi0 = hi * InvLn10Hi;
  const double y2 = e * Log10Of2Hi;
  double valLo = e * Log10Of2Lo + (lo + hi) * InvLn10Lo + lo * InvLn10Hi;
  const double sum = y2 + valHi0;
  valLo += (y2 - sum) + valHi0;
  const double result = valLo + sum;
  return X == 0.0 ? -std::numeric_limits<double>::infinity() : result;
}

// One butterfly exactly as the algorithm states it: t = w * X[m] with each
// component rounded, then X[n] = a + t and X[m] = a - t.
inline void Butterfly(double& NRe, double& NIm, double& MRe, double& MIm, double WRe,
                      double WIm) noexcept {
  const double tr = WRe * MRe - WIm * MIm;
  const double ti = WRe * MIm + WIm * MRe;
  const double ar = NRe, ai = NIm;
  NRe = ar + tr;
  NIm = ai + ti;
  MRe = ar - tr;
  MIm = ai - ti;
}

// Two consecutive stages with halves H and 2H over one block of 4H points:
// for each k the four points k, k+H, k+2H, k+3H only meet one another in
// these two stages, so both are done while the values sit in registers.
// W1 is the first stage's rotation for k; W2 and W3 the second stage's for
// k and k+H. The streams never overlap, which the restrict qualifiers tell
// the compiler so that it vectorises across k.
[[gnu::always_inline]] inline void StagePair(
    double* __restrict ARe, double* __restrict AIm, double* __restrict BRe, double* __restrict BIm,
    double* __restrict CRe, double* __restrict CIm, double* __restrict DRe, double* __restrict DIm,
    const double* __restrict W1Re, const double* __restrict W1Im, const double* __restrict W2Re,
    const double* __restrict W2Im, const double* __restrict W3Re, const double* __restrict W3Im,
    std::size_t H) noexcept {
  for (std::size_t k = 0; k < H; ++k) {
    double ar = ARe[k], ai = AIm[k], br = BRe[k], bi = BIm[k];
    double cr = CRe[k], ci = CIm[k], dr = DRe[k], di = DIm[k];
    Butterfly(ar, ai, br, bi, W1Re[k], W1Im[k]);
    Butterfly(cr, ci, dr, di, W1Re[k], W1Im[k]);
    Butterfly(ar, ai, cr, ci, W2Re[k], W2Im[k]);
    Butterfly(br, bi, dr, di, W3Re[k], W3Im[k]);
    ARe[k] = ar;
    AIm[k] = ai;
    BRe[k] = br;
    BIm[k] = bi;
    CRe[k] = cr;
    CIm[k] = ci;
    DRe[k] = dr;
    DIm[k] = di;
  }
}

// Mono mix of the new block into NewHalf and the frame weighted into
// Windowed: the older block (OldHalf) first, then the new one.
QUENVIS_BODY void MixAndWeighBody(const unsigned char* __restrict Bytes, const double* __restrict W,
                                  double* __restrict NewHalf, const double* __restrict OldHalf,
                                  double* __restrict Windowed) noexcept {
  for (std::size_t i = 0; i < Half; ++i) {
    const unsigned char* frame = Bytes + 4 * i;
    const auto left = static_cast<std::int16_t>(frame[0] | frame[1] << 8);
    const auto right = static_cast<std::int16_t>(frame[2] | frame[3] << 8);
    const double s = left / 65536.0 + right / 65536.0;
    NewHalf[i] = s;
    Windowed[Half + i] = W[Half + i] * s;
  }
  for (std::size_t i = 0; i < Half; ++i) Windowed[i] = W[i] * OldHalf[i];
}

// Bit-reversed load fused with stages 1 and 2. Point j + q (j a multiple of
// 4) of the loaded sequence is Windowed[u + {0, 2048, 1024, 3072}[q]] with
// u = TabBitRev[j], so the four points of each pair of stages are read
// together and written in order. The rotations of these stages are (1, 0)
// for stage 1 and (1, 0), (+0, 1) for stage 2: the recurrence from (1, 0)
// with the exact entry (0, 1). They are written as constants and the
// imaginary inputs as +0; the compiler may then only drop operations that
// cannot change a bit (1 * x, x - +0).
QUENVIS_BODY void FirstStagesBody(const double* __restrict Windowed, double* __restrict Re,
                                  double* __restrict Im) noexcept {
  for (std::size_t j = 0; j < FFTSize; j += 4) {
    const auto u = static_cast<std::size_t>(TabBitRev[j]);
    double r0 = Windowed[u], i0 = 0.0, r1 = Windowed[u + 2048], i1 = 0.0;
    double r2 = Windowed[u + 1024], i2 = 0.0, r3 = Windowed[u + 3072], i3 = 0.0;
    Butterfly(r0, i0, r1, i1, 1.0, 0.0);
    Butterfly(r2, i2, r3, i3, 1.0, 0.0);
    Butterfly(r0, i0, r2, i2, 1.0, 0.0);
    Butterfly(r1, i1, r3, i3, 0.0, 1.0);
    Re[j] = r0;
    Im[j] = i0;
    Re[j + 1] = r1;
    Im[j + 1] = i1;
    Re[j + 2] = r2;
    Im[j + 2] = i2;
    Re[j + 3] = r3;
    Im[j + 3] = i3;
  }
}

// Stages 3 to 12 in pairs. Butterflies within a stage are independent, so
// this order gives each one the same operands, and the same bits, as the
// stage-by-stage, group-by-group order. Rot holds the rotations by stage as
// the engine keeps them.
QUENVIS_BODY void LaterStagesBody(double* Re, double* Im, const double* RotRe,
                                  const double* RotIm) noexcept {
  for (int stage = 2; stage < FFTStages; stage += 2) {
    const std::size_t h = std::size_t{1} << stage;
    const double* const w1Re = RotRe + (h - 1);
    const double* const w1Im = RotIm + (h - 1);
    const double* const w2Re = RotRe + (2 * h - 1);
    const double* const w2Im = RotIm + (2 * h - 1);
    for (std::size_t base = 0; base < FFTSize; base += 4 * h) {
      double* const r = Re + base;
      double* const i = Im + base;
      StagePair(r, i, r + h, i + h, r + 2 * h, i + 2 * h, r + 3 * h, i + 3 * h, w1Re, w1Im, w2Re,
                w2Im, w2Re + h, w2Im + h, h);
    }
  }
}

// Power of every bin, and the spectrum copied out in its interleaved form.
QUENVIS_BODY void PowerRunBody(const double* __restrict Re, const double* __restrict Im,
                               double* __restrict Out, TComplex* __restrict Spectrum,
                               std::size_t Count) noexcept {
  for (std::size_t b = 0; b < Count; ++b) {
    Spectrum[b].re = Re[b];
    Spectrum[b].im = Im[b];
    Out[b] = Log10Power(Re[b] * Re[b] + Im[b] * Im[b]);
  }
}

// Each hot loop twice: for the baseline processor and for AVX2.
#define QUENVIS_KERNEL(Name, Params, Args)             \
  void Name##Base Params noexcept { Name##Body Args; } \
  QUENVIS_AVX2_KERNEL(Name, Params, Args)
#if QUENVIS_AVX2_PATH
#define QUENVIS_AVX2_KERNEL(Name, Params, Args) \
  __attribute__((target("avx2"))) void Name##Avx2 Params noexcept { Name##Body Args; }
#else
#define QUENVIS_AVX2_KERNEL(Name, Params, Args) \
  void Name##Avx2 Params noexcept { Name##Body Args; }
#endif

QUENVIS_KERNEL(MixAndWeigh,
               (const unsigned char* __restrict Bytes, const double* __restrict W,
                double* __restrict NewHalf, const double* __restrict OldHalf,
                double* __restrict Windowed),
               (Bytes, W, NewHalf, OldHalf, Windowed))
QUENVIS_KERNEL(FirstStages,
               (const double* __restrict Windowed, double* __restrict Re, double* __restrict Im),
               (Windowed, Re, Im))
QUENVIS_KERNEL(LaterStages, (double* Re, double* Im, const double* RotRe, const double* RotIm),
               (Re, Im, RotRe, RotIm))
QUENVIS_KERNEL(PowerRun,
               (const double* __restrict Re, const double* __restrict Im, double* __restrict Out,
                TComplex* __restrict Spectrum, std::size_t Count),
               (Re, Im, Out, Spectrum, Count))

}  // namespace

CFFT_iterative::CFFT_iterative() : Window(&TabBlackmanNuttall), FAvx2(UseAvx2()) {
  for (int stage = 0; stage < FFTStages; ++stage) {
    const std::size_t half = std::size_t{1} << stage;
    const double cs = TabTwiddle[static_cast<std::size_t>(stage)].Cos;
    const double sn = TabTwiddle[static_cast<std::size_t>(stage)].Sin;
    double wr = 1.0, wi = 0.0;
    for (std::size_t k = 0; k < half; ++k) {
      RotRe[half - 1 + k] = wr;
      RotIm[half - 1 + k] = wi;
      const double nextRe = wr * cs - wi * sn;
      const double nextIm = wr * sn + wi * cs;
      wr = nextRe;
      wi = nextIm;
    }
  }
}

CFFT_iterative::~CFFT_iterative() = default;

void CFFT_iterative::Reset() noexcept {
  Phase = 0;
  Samples.fill(0.0);
}

void CFFT_iterative::Process(const void* Block) noexcept {
  const auto* bytes = static_cast<const unsigned char*>(Block);
  const TWindowTab& w = *Window;
  // The new block goes into the half named by Phase; the other half holds the
  // previous block, which always forms the older half of the frame.
  const std::size_t newHalf = Phase == 0 ? 0 : Half;
  const std::size_t oldHalf = Half - newHalf;
  (FAvx2 ? MixAndWeighAvx2 : MixAndWeighBase)(bytes, w.data(), Samples.data() + newHalf,
                                              Samples.data() + oldHalf, Windowed.data());
  Phase = Phase == 0 ? 1 : 0;

  Transform();
  ComputePower();
}

void CFFT_iterative::Transform() noexcept {
  double* const re = Re.data();
  double* const im = Im.data();

  (FAvx2 ? FirstStagesAvx2 : FirstStagesBase)(Windowed.data(), re, im);
  (FAvx2 ? LaterStagesAvx2 : LaterStagesBase)(re, im, RotRe.data(), RotIm.data());
}

void CFFT_iterative::ComputePower() noexcept {
  (FAvx2 ? PowerRunAvx2 : PowerRunBase)(Re.data(), Im.data(), Power.data(), Spectrum.data(),
                                        FFTSize);
}

}  // namespace quenvis
