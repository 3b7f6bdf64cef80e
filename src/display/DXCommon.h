#pragma once
// Off-screen 32-bit ARGB pixel surfaces. The pixels live in one plain buffer
// that drawing, the fade and the window's paint step all share: nothing ever
// holds a second copy of them.
#include <cstdint>

namespace quenvis {

inline constexpr std::uint32_t PixelFormat32bppARGB = 0x26200A;

// Geometry and pixel buffer of a surface. Rows run top to bottom without gaps
// (Stride = Width * 4); pixel (x, y) is word y * Width + x, an ARGB colour
// stored little-endian (blue, green, red, alpha in memory), not premultiplied.
struct TBM32Info {
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  std::int32_t Stride = 0;
  std::uint32_t PixelFormat = PixelFormat32bppARGB;
  std::uint32_t* Bits = nullptr;
};

// Makes the header and an uncleared pixel buffer and points Info at the header.
// Returns 0, or 3 when either cannot be had (or the size does not fit the
// header's 32-bit fields); Info is then empty and nothing stays allocated.
// A negative width or height makes an empty surface.
std::uint8_t AllocBM32Info(TBM32Info*& Info, std::int32_t Width, std::int32_t Height);
// Releases the buffer, then the header, if Info is set; leaves Info empty.
void FreeBM32Info(TBM32Info*& Info) noexcept;

constexpr std::uint32_t MakeColor(std::uint8_t a, std::uint8_t r, std::uint8_t g,
                                  std::uint8_t b) noexcept {
  return static_cast<std::uint32_t>(a) << 24 | static_cast<std::uint32_t>(r) << 16 |
         static_cast<std::uint32_t>(g) << 8 | b;
}

// Number of pixels of a header, 0 when either side is not positive.
std::int64_t PixelCount(const TBM32Info& Info) noexcept;

// The drawable bitmap of a surface: a view over its buffer, never a copy.
// Drawing contexts are opened on it; the window's paint step and image export
// wrap Bits in their own image type.
class CBitmap {
 public:
  CBitmap() = default;
  explicit CBitmap(const TBM32Info& Info) noexcept
      : FWidth(Info.Width), FHeight(Info.Height), FStride(Info.Stride), FBits(Info.Bits) {}

  std::int32_t Width() const noexcept { return FWidth; }
  std::int32_t Height() const noexcept { return FHeight; }
  std::int32_t Stride() const noexcept { return FStride; }
  std::uint32_t* Bits() const noexcept { return FBits; }
  bool Empty() const noexcept { return FBits == nullptr || FWidth <= 0 || FHeight <= 0; }
  // Forgets the buffer; the buffer itself stays with its owner.
  void Release() noexcept { *this = CBitmap(); }

 private:
  std::int32_t FWidth = 0;
  std::int32_t FHeight = 0;
  std::int32_t FStride = 0;
  std::uint32_t* FBits = nullptr;
};

class CBM32 {
 public:
  // Throws std::bad_alloc when the buffer cannot be had, so a surface never
  // exists without its header, buffer and bitmap.
  CBM32(std::int32_t Width, std::int32_t Height);
  ~CBM32();
  CBM32(const CBM32&) = delete;
  CBM32& operator=(const CBM32&) = delete;

  void Fill(std::uint32_t Colour) noexcept;

  CBitmap Bitmap;
  TBM32Info* Info = nullptr;
};

}  // namespace quenvis
