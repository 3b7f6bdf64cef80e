#include "display/Fade.h"

#include <algorithm>
#include <cmath>

#include "analysis/AnalysisSettings.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The integer form. With K = Factor * 2^32 (exact for a float factor in
// [2^-8, 1)), byte * Factor = P / 2^32 with P = byte * K < 2^40, and with
// A = byte * K1, Bh = (byte * K0) >> 16:
// - K0 != 0: byte * Factor is never exactly a half (a half needs a factor
//   with at most 8 fraction bits), and Round = (A + Bh + 0x8000) >> 16;
// - K0 == 0: P = A * 2^16 and ties to even give
//   (A + 0x7FFF + ((A >> 16) & 1)) >> 16.
// Both are (A + Bh + 0x7FFF + X) >> 16 with X = 1, or X = the parity of
// A >> 16. Every term fits 16-bit lanes once A is split into its halves.

namespace quenvis {

namespace {

inline std::uint32_t FadeChannel(std::uint32_t Byte, std::uint32_t K1, std::uint32_t K0,
                                 std::uint32_t Long) noexcept {
  const std::uint32_t a = Byte * K1;
  const std::uint32_t x = Long | ((a >> 16) & 1);
  return (a + ((Byte * K0) >> 16) + 0x7FFF + x) >> 16;
}

inline std::uint32_t FadePixel(std::uint32_t p, std::uint32_t K1, std::uint32_t K0,
                               std::uint32_t Long) noexcept {
  return (p & 0xFF000000u) | FadeChannel((p >> 16) & 0xFF, K1, K0, Long) << 16 |
         FadeChannel((p >> 8) & 0xFF, K1, K0, Long) << 8 | FadeChannel(p & 0xFF, K1, K0, Long);
}

#if defined(__SSE2__)
// Eight 16-bit lanes holding bytes 0..255.
inline __m128i FadeLanes(__m128i v, __m128i k1, __m128i k0, __m128i longMask,
                         __m128i one, __m128i bias) noexcept {
  const __m128i aHi = _mm_mulhi_epu16(v, k1);
  const __m128i aLo = _mm_mullo_epi16(v, k1);
  const __m128i bHi = _mm_mulhi_epu16(v, k0);
  const __m128i x = _mm_or_si128(_mm_and_si128(aHi, one), longMask);
  // w = Bh + 0x7FFE + X; avg gives (aLo + w + 1) >> 1 without overflow, so
  // its top bit is the carry out of aLo + Bh + 0x7FFF + X.
  const __m128i w = _mm_add_epi16(_mm_add_epi16(bHi, bias), x);
  return _mm_add_epi16(aHi, _mm_srli_epi16(_mm_avg_epu16(aLo, w), 15));
}
#endif

}  // namespace

CFade::CFade(float Factor) noexcept {
  const double f = Factor;
  for (int b = 0; b < 256; ++b)
    FTable[static_cast<std::size_t>(b)] =
        static_cast<std::uint8_t>(std::clamp(RoundToInt32(b * f), 0, 255));
  const double k = f * 4294967296.0;  // a power of two: exact
  if (f >= 0 && f < 1 && k == std::floor(k)) {
    const auto ki = static_cast<std::uint32_t>(k);
    FInteger = true;
    FK1 = static_cast<std::uint16_t>(ki >> 16);
    FK0 = static_cast<std::uint16_t>(ki & 0xFFFF);
  }
}

void CFade::ApplyTable(std::uint32_t* Pixels, std::size_t Count) const noexcept {
  for (std::size_t i = 0; i < Count; ++i) {
    const std::uint32_t p = Pixels[i];
    Pixels[i] = (p & 0xFF000000u) | static_cast<std::uint32_t>(FTable[(p >> 16) & 0xFF]) << 16 |
                static_cast<std::uint32_t>(FTable[(p >> 8) & 0xFF]) << 8 | FTable[p & 0xFF];
  }
}

void CFade::Apply(std::uint32_t* Pixels, std::size_t Count) const noexcept {
  if (!FInteger) {
    ApplyTable(Pixels, Count);
    return;
  }
  const std::uint32_t k1 = FK1, k0 = FK0, isLong = FK0 != 0 ? 1 : 0;
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i vk1 = _mm_set1_epi16(static_cast<short>(FK1));
  const __m128i vk0 = _mm_set1_epi16(static_cast<short>(FK0));
  const __m128i vLong = _mm_set1_epi16(static_cast<short>(isLong));
  const __m128i one = _mm_set1_epi16(1);
  const __m128i bias = _mm_set1_epi16(0x7FFE);
  const __m128i zero = _mm_setzero_si128();
  const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  for (; i + 4 <= Count; i += 4) {
    auto* at = reinterpret_cast<__m128i*>(Pixels + i);
    const __m128i v = _mm_loadu_si128(at);
    const __m128i lo = FadeLanes(_mm_unpacklo_epi8(v, zero), vk1, vk0, vLong, one, bias);
    const __m128i hi = FadeLanes(_mm_unpackhi_epi8(v, zero), vk1, vk0, vLong, one, bias);
    const __m128i faded = _mm_packus_epi16(lo, hi);
    _mm_storeu_si128(at, _mm_or_si128(_mm_andnot_si128(alpha, faded), _mm_and_si128(alpha, v)));
  }
#endif
  for (; i < Count; ++i) Pixels[i] = FadePixel(Pixels[i], k1, k0, isLong);
}

}  // namespace quenvis
