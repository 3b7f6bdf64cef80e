#include "display/DXCommon.h"

#include <algorithm>
#include <limits>
#include <new>

namespace quenvis {

std::int64_t PixelCount(const TBM32Info& Info) noexcept {
  if (Info.Width <= 0 || Info.Height <= 0) return 0;
  return static_cast<std::int64_t>(Info.Width) * Info.Height;
}

std::uint8_t AllocBM32Info(TBM32Info*& Info, std::int32_t Width, std::int32_t Height) {
  Info = new (std::nothrow) TBM32Info;
  if (Info == nullptr) return 3;
  const std::int32_t w = std::max<std::int32_t>(Width, 0);
  const std::int32_t h = std::max<std::int32_t>(Height, 0);
  // The stride must fit its 32-bit field, and the buffer the address space.
  const std::int64_t stride = static_cast<std::int64_t>(w) * 4;
  const std::int64_t bytes = stride * h;
  if (stride > std::numeric_limits<std::int32_t>::max() ||
      static_cast<std::uint64_t>(bytes) > std::numeric_limits<std::size_t>::max() / 2) {
    delete Info;
    Info = nullptr;
    return 3;
  }
  Info->Width = w;
  Info->Height = h;
  Info->Stride = static_cast<std::int32_t>(stride);
  Info->PixelFormat = PixelFormat32bppARGB;
  Info->Bits =
      new (std::nothrow) std::uint32_t[static_cast<std::size_t>(w) * static_cast<std::size_t>(h)];
  if (Info->Bits == nullptr) {
    delete Info;
    Info = nullptr;
    return 3;
  }
  return 0;
}

void FreeBM32Info(TBM32Info*& Info) noexcept {
  if (Info == nullptr) return;
  delete[] Info->Bits;
  delete Info;
  Info = nullptr;
}

CBM32::CBM32(std::int32_t Width, std::int32_t Height) {
  if (AllocBM32Info(Info, Width, Height) != 0) throw std::bad_alloc();
  Bitmap = CBitmap(*Info);
}

CBM32::~CBM32() {
  // The bitmap points into the buffer, so it goes first.
  Bitmap.Release();
  FreeBM32Info(Info);
}

void CBM32::Fill(std::uint32_t Colour) noexcept {
  if (Info == nullptr || Info->Bits == nullptr) return;
  std::fill_n(Info->Bits, PixelCount(*Info), Colour);
}

}  // namespace quenvis
