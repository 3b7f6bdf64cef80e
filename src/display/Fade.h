#pragma once
// The per-block fade of the surfaces: every colour byte becomes
// Round(byte x Factor), the product formed in double from the 32-bit float
// factor and rounded to nearest, ties to even; alpha is left alone.
#include <array>
#include <cstddef>
#include <cstdint>

namespace quenvis {

// Which code path Apply takes: the fastest the processor offers, or a
// narrower one (all give the same bytes).
enum class TFadePath { Best, Sse2, Scalar };

class CFade {
 public:
  // Cheap enough to make once per block (256 roundings). Results below 0 or
  // above 255 (a negative factor, or one above 1) are held to the byte range;
  // NaN gives 0.
  explicit CFade(float Factor) noexcept;

  std::uint8_t Byte(std::uint8_t Value) const noexcept { return FTable[Value]; }
  void Apply(std::uint32_t* Pixels, std::size_t Count,
             TFadePath Path = TFadePath::Best) const noexcept;

 private:
  void ApplyTable(std::uint32_t* Pixels, std::size_t Count) const noexcept;

  std::array<std::uint8_t, 256> FTable{};
  // Integer form for 2^-8 <= Factor < 1 (and 0), where Factor * 2^32 is a
  // whole number K = K1 * 2^16 + K0: see Fade.cpp.
  bool FInteger = false;
  // Whether Best may take the AVX2 path, decided when the fade is made.
  bool FAvx2 = false;
  std::uint16_t FK1 = 0;
  std::uint16_t FK0 = 0;
  // Bytes 0..FStill fade to themselves (integer form only).
  std::uint8_t FStill = 0;
};

}  // namespace quenvis
