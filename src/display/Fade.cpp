#include "display/Fade.h"

#include <algorithm>
#include <cmath>

#include "analysis/Common.h"
#include "analysis/CpuFeatures.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QUENVIS_FADE_X86 1
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

#if defined(QUENVIS_FADE_X86) && defined(__SSE2__)
// Eight 16-bit lanes holding bytes 0..255. w = Bh + 0x7FFE + X; avg gives
// (aLo + w + 1) >> 1 without overflow, so its top bit is the carry out of
// aLo + Bh + 0x7FFF + X. The short form has K0 = 0, so Bh = 0.
template <bool Long>
inline __m128i FadeLanes(__m128i v, __m128i k1, __m128i k0) noexcept {
  const __m128i aHi = _mm_mulhi_epu16(v, k1);
  const __m128i aLo = _mm_mullo_epi16(v, k1);
  __m128i w;
  if constexpr (Long)
    w = _mm_add_epi16(_mm_mulhi_epu16(v, k0), _mm_set1_epi16(0x7FFF));
  else
    w = _mm_add_epi16(_mm_and_si128(aHi, _mm_set1_epi16(1)), _mm_set1_epi16(0x7FFE));
  return _mm_add_epi16(aHi, _mm_srli_epi16(_mm_avg_epu16(aLo, w), 15));
}

// Four pixels at a time; runs whose colour bytes are all at most Still,
// which the fade leaves as they are (most of a faded image), are left
// untouched. Returns the number of pixels done.
template <bool Long>
std::size_t FadeSse2(std::uint32_t* Pixels, std::size_t Count, std::uint16_t K1, std::uint16_t K0,
                     std::uint8_t Still) noexcept {
  const __m128i still = _mm_set1_epi8(static_cast<char>(Still));
  const __m128i vk1 = _mm_set1_epi16(static_cast<short>(K1));
  const __m128i vk0 = _mm_set1_epi16(static_cast<short>(K0));
  const __m128i zero = _mm_setzero_si128();
  const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  std::size_t i = 0;
  for (; i + 4 <= Count; i += 4) {
    auto* at = reinterpret_cast<__m128i*>(Pixels + i);
    const __m128i v = _mm_loadu_si128(at);
    const __m128i above = _mm_andnot_si128(alpha, _mm_subs_epu8(v, still));
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(above, zero)) == 0xFFFF) continue;
    const __m128i lo = FadeLanes<Long>(_mm_unpacklo_epi8(v, zero), vk1, vk0);
    const __m128i hi = FadeLanes<Long>(_mm_unpackhi_epi8(v, zero), vk1, vk0);
    const __m128i faded = _mm_packus_epi16(lo, hi);
    _mm_storeu_si128(at, _mm_or_si128(_mm_andnot_si128(alpha, faded), _mm_and_si128(alpha, v)));
  }
  return i;
}

// The same with sixteen lanes, for processors that have AVX2.
template <bool Long>
__attribute__((target("avx2"))) inline __m256i FadeLanes256(__m256i v, __m256i k1,
                                                            __m256i k0) noexcept {
  const __m256i aHi = _mm256_mulhi_epu16(v, k1);
  const __m256i aLo = _mm256_mullo_epi16(v, k1);
  __m256i w;
  if constexpr (Long)
    w = _mm256_add_epi16(_mm256_mulhi_epu16(v, k0), _mm256_set1_epi16(0x7FFF));
  else
    w = _mm256_add_epi16(_mm256_and_si256(aHi, _mm256_set1_epi16(1)), _mm256_set1_epi16(0x7FFE));
  return _mm256_add_epi16(aHi, _mm256_srli_epi16(_mm256_avg_epu16(aLo, w), 15));
}

template <bool Long>
__attribute__((target("avx2"))) std::size_t FadeAvx2(std::uint32_t* Pixels, std::size_t Count,
                                                     std::uint16_t K1, std::uint16_t K0,
                                                     std::uint8_t Still) noexcept {
  const __m256i still = _mm256_set1_epi8(static_cast<char>(Still));
  const __m256i vk1 = _mm256_set1_epi16(static_cast<short>(K1));
  const __m256i vk0 = _mm256_set1_epi16(static_cast<short>(K0));
  const __m256i zero = _mm256_setzero_si256();
  const __m256i rgb = _mm256_set1_epi32(0x00FFFFFF);
  std::size_t i = 0;
  for (; i + 8 <= Count; i += 8) {
    auto* at = reinterpret_cast<__m256i*>(Pixels + i);
    const __m256i v = _mm256_loadu_si256(at);
    if (_mm256_testz_si256(_mm256_subs_epu8(v, still), rgb)) continue;
    // Unpacking and packing both work within 128-bit halves, so the pixel
    // order comes back unchanged.
    const __m256i lo = FadeLanes256<Long>(_mm256_unpacklo_epi8(v, zero), vk1, vk0);
    const __m256i hi = FadeLanes256<Long>(_mm256_unpackhi_epi8(v, zero), vk1, vk0);
    const __m256i faded = _mm256_packus_epi16(lo, hi);
    _mm256_storeu_si256(at, _mm256_blendv_epi8(v, faded, rgb));
  }
  return i;
}
#endif

}  // namespace

CFade::CFade(float Factor) noexcept : FAvx2(UseAvx2()) {
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
    // The bytes the fade keeps: below 1 / (2 (1 - Factor)) rounding gives
    // the byte back, and faded pixels settle there.
    while (FStill < 255 && FTable[FStill + 1u] == FStill + 1u) ++FStill;
  }
}

void CFade::ApplyTable(std::uint32_t* Pixels, std::size_t Count) const noexcept {
  for (std::size_t i = 0; i < Count; ++i) {
    const std::uint32_t p = Pixels[i];
    Pixels[i] = (p & 0xFF000000u) | static_cast<std::uint32_t>(FTable[(p >> 16) & 0xFF]) << 16 |
                static_cast<std::uint32_t>(FTable[(p >> 8) & 0xFF]) << 8 | FTable[p & 0xFF];
  }
}

void CFade::Apply(std::uint32_t* Pixels, std::size_t Count, TFadePath Path) const noexcept {
  if (!FInteger) {
    ApplyTable(Pixels, Count);
    return;
  }
  const std::uint16_t isLong = FK0 != 0 ? 1 : 0;
  std::size_t i = 0;
#if defined(QUENVIS_FADE_X86) && defined(__SSE2__)
  if (Path == TFadePath::Best && FAvx2)
    i = isLong ? FadeAvx2<true>(Pixels, Count, FK1, FK0, FStill)
               : FadeAvx2<false>(Pixels, Count, FK1, FK0, FStill);
  else if (Path != TFadePath::Scalar)
    i = isLong ? FadeSse2<true>(Pixels, Count, FK1, FK0, FStill)
               : FadeSse2<false>(Pixels, Count, FK1, FK0, FStill);
#endif
  for (; i < Count; ++i) Pixels[i] = FadePixel(Pixels[i], FK1, FK0, isLong);
}

}  // namespace quenvis
