#include "display/Graphics.h"

#include <algorithm>
#include <cmath>

#include "analysis/Common.h"

namespace quenvis {

namespace {

inline void Plot(std::uint32_t* Pixel, std::uint32_t Colour) noexcept {
  *Pixel = (Colour >> 24) == 255 ? Colour : BlendOver(*Pixel, Colour);
}

// floor((2 i Minor + Major) / (2 Major)) and its remainder: the minor-axis
// offset of step i of a line and the error term that goes with it. Exact for
// i <= Major < 2^33 and Minor <= Major, without a 128-bit type: i * Minor is
// split at bit 17 so that every partial result stays below 2^53.
void MinorAt(std::uint64_t i, std::uint64_t Minor, std::uint64_t Major, std::uint64_t& Quotient,
             std::uint64_t& Remainder) noexcept {
  const std::uint64_t d = 2 * Major;
  const std::uint64_t p1 = (i >> 17) * Minor;
  const std::uint64_t p0 = (i & 0x1FFFF) * Minor;
  // 2 i Minor + Major = p1 * 2^18 + 2 p0 + Major
  const std::uint64_t rest = ((p1 % d) << 18) + 2 * p0 + Major;
  Quotient = ((p1 / d) << 18) + rest / d;
  Remainder = rest % d;
}

}  // namespace

std::uint32_t BlendOver(std::uint32_t Old, std::uint32_t Pen) noexcept {
  const std::uint32_t a = Pen >> 24;
  if (a == 255) return Pen;
  if (a == 0) return Old;
  const std::uint32_t oa = Old >> 24;
  const std::uint32_t na = 255 - a;
  std::uint32_t result;
  if (oa == 255) {
    // x / 255 never lies halfway between integers, so + 127 rounds to nearest.
    result = 0xFF000000u;
    for (int shift = 0; shift <= 16; shift += 8) {
      const std::uint32_t p = (Pen >> shift) & 0xFF;
      const std::uint32_t o = (Old >> shift) & 0xFF;
      result |= ((p * a + o * na + 127) / 255) << shift;
    }
  } else {
    // General case, both alphas on the 0..255 scale: out alpha * 255 = S / 255.
    const std::uint32_t s = a * 255 + oa * na;
    result = ((s + 127) / 255) << 24;
    for (int shift = 0; shift <= 16; shift += 8) {
      const std::uint32_t p = (Pen >> shift) & 0xFF;
      const std::uint32_t o = (Old >> shift) & 0xFF;
      result |= ((p * a * 255 + o * oa * na + s / 2) / s) << shift;
    }
  }
  return result;
}

CGraphics::CGraphics(const CBitmap& Bitmap) noexcept
    : FBits(Bitmap.Empty() ? nullptr : Bitmap.Bits()),
      FWidth(FBits ? Bitmap.Width() : 0),
      FHeight(FBits ? Bitmap.Height() : 0) {}

void CGraphics::DrawLine(const CPen& Pen, std::int32_t x1, std::int32_t y1, std::int32_t x2,
                         std::int32_t y2) noexcept {
  if (FBits == nullptr) return;
  const std::int64_t w = FWidth, h = FHeight;
  if (std::max(x1, x2) < 0 || std::min<std::int64_t>(x1, x2) >= w || std::max(y1, y2) < 0 ||
      std::min<std::int64_t>(y1, y2) >= h)
    return;
  const std::uint32_t colour = Pen.Colour();
  const std::int64_t dx = static_cast<std::int64_t>(x2) - x1;
  const std::int64_t dy = static_cast<std::int64_t>(y2) - y1;
  const bool xMajor = std::abs(dx) >= std::abs(dy);
  // Walk along the major axis, one pixel per step, and take the minor offset
  // that rounds the exact line (halves away from the start point).
  const std::int64_t maj0 = xMajor ? x1 : y1, min0 = xMajor ? y1 : x1;
  const std::int64_t dMaj = xMajor ? dx : dy, dMin = xMajor ? dy : dx;
  const std::int64_t majLimit = xMajor ? w : h, minLimit = xMajor ? h : w;
  const std::int64_t sMaj = dMaj < 0 ? -1 : 1, sMin = dMin < 0 ? -1 : 1;
  const std::uint64_t aMaj = static_cast<std::uint64_t>(dMaj * sMaj);
  const std::uint64_t aMin = static_cast<std::uint64_t>(dMin * sMin);
  const std::int64_t majStep = xMajor ? 1 : w, minStep = xMajor ? w : 1;

  // Steps whose major coordinate lies inside the surface.
  std::int64_t iLo, iHi;
  if (sMaj > 0) {
    iLo = std::max<std::int64_t>(0, -maj0);
    iHi = std::min<std::int64_t>(static_cast<std::int64_t>(aMaj), majLimit - 1 - maj0);
  } else {
    iLo = std::max<std::int64_t>(0, maj0 - (majLimit - 1));
    iHi = std::min<std::int64_t>(static_cast<std::int64_t>(aMaj), maj0);
  }
  if (iLo > iHi) return;

  std::uint64_t m = 0, err = 0;
  const std::uint64_t twoMaj = 2 * aMaj, twoMin = 2 * aMin;
  // From the start point itself (the trace's thousand segments a block)
  // the offset is 0 and the error Major: no divisions.
  if (iLo == 0)
    err = aMaj;
  else if (aMaj > 0)
    MinorAt(static_cast<std::uint64_t>(iLo), aMin, aMaj, m, err);
  std::int64_t maj = maj0 + sMaj * iLo;
  std::int64_t mnr = min0 + sMin * static_cast<std::int64_t>(m);
  for (std::int64_t i = iLo; i <= iHi; ++i) {
    if (mnr >= 0 && mnr < minLimit) {
      Plot(FBits + maj * majStep + mnr * minStep, colour);
    } else if ((sMin > 0) == (mnr >= minLimit)) {
      break;  // moving away from the surface: nothing more to draw
    }
    maj += sMaj;
    err += twoMin;
    if (err >= twoMaj) {
      err -= twoMaj;
      mnr += sMin;
    }
  }
}

void CGraphics::HSpan(std::uint32_t Colour, std::int64_t y, std::int64_t x0,
                      std::int64_t x1) noexcept {
  if (y < 0 || y >= FHeight) return;
  x0 = std::max<std::int64_t>(x0, 0);
  x1 = std::min<std::int64_t>(x1, FWidth - 1);
  std::uint32_t* row = FBits + y * FWidth;
  for (std::int64_t x = x0; x <= x1; ++x) Plot(row + x, Colour);
}

void CGraphics::VSpan(std::uint32_t Colour, std::int64_t x, std::int64_t y0,
                      std::int64_t y1) noexcept {
  if (x < 0 || x >= FWidth) return;
  y0 = std::max<std::int64_t>(y0, 0);
  y1 = std::min<std::int64_t>(y1, FHeight - 1);
  for (std::int64_t y = y0; y <= y1; ++y) Plot(FBits + y * FWidth + x, Colour);
}

void CGraphics::Outline(const CPen& Pen, std::int64_t Left, std::int64_t Top, std::int64_t Right,
                        std::int64_t Bottom) noexcept {
  if (FBits == nullptr || Right < Left || Bottom < Top) return;
  const std::uint32_t c = Pen.Colour();
  HSpan(c, Top, Left, Right);
  if (Bottom != Top) HSpan(c, Bottom, Left, Right);
  VSpan(c, Left, Top + 1, Bottom - 1);
  if (Right != Left) VSpan(c, Right, Top + 1, Bottom - 1);
}

void CGraphics::DrawRectangleI(const CPen& Pen, std::int32_t x, std::int32_t y, std::int32_t Width,
                               std::int32_t Height) noexcept {
  Outline(Pen, x, y, static_cast<std::int64_t>(x) + Width, static_cast<std::int64_t>(y) + Height);
}

void CGraphics::DrawRectangle(const CPen& Pen, float x, float y, float Width,
                              float Height) noexcept {
  if (std::isnan(x) || std::isnan(y) || std::isnan(Width) || std::isnan(Height)) return;
  if (Width < 0 || Height < 0) return;
  // An infinite edge plus an infinite size of the other sign has no far edge.
  const double right = static_cast<double>(x) + static_cast<double>(Width);
  const double bottom = static_cast<double>(y) + static_cast<double>(Height);
  if (std::isnan(right) || std::isnan(bottom)) return;
  // Saturating at the 32-bit range keeps far-away edges far away.
  Outline(Pen, RoundToInt32(x), RoundToInt32(y), RoundToInt32(right), RoundToInt32(bottom));
}

}  // namespace quenvis
