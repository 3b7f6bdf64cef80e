#pragma once
// A small rasteriser that draws straight into a surface's pixel buffer:
// one-pixel solid pens, lines and rectangle outlines, no anti-aliasing,
// source-over blending. Pixel (x, y) is the pixel whose centre lies on the
// integer point (x, y).
//
// Clipping: any pair of 32-bit coordinates may be passed. Nothing outside the
// buffer is ever written, the arithmetic cannot overflow, and a clipped line
// sets exactly the pixels that the unclipped line would set inside the surface.
#include <cstdint>

#include "display/DXCommon.h"

namespace quenvis {

class CPen {
 public:
  constexpr explicit CPen(std::uint32_t Colour) noexcept : FColour(Colour) {}
  constexpr std::uint32_t Colour() const noexcept { return FColour; }

 private:
  std::uint32_t FColour;
};

// Source over, non-premultiplied: each colour channel becomes
// pen * a + old * (1 - a) (weighted by the old alpha when that is not opaque),
// rounded to nearest. An opaque pen replaces the pixel; an opaque old pixel
// stays opaque.
std::uint32_t BlendOver(std::uint32_t Old, std::uint32_t Pen) noexcept;

// A drawing context on one surface. It holds no resources beyond the view of
// the buffer, so any number may be open on one surface, and direct reads and
// writes of the buffer see every drawing operation as soon as it returns.
class CGraphics {
 public:
  explicit CGraphics(const CBitmap& Bitmap) noexcept;

  // Both end points are set (the line is closed at both ends), so a polyline
  // sets its shared vertices twice; with an opaque pen that is invisible.
  // Horizontal and vertical lines touch only their row or column.
  void DrawLine(const CPen& Pen, std::int32_t x1, std::int32_t y1, std::int32_t x2,
                std::int32_t y2) noexcept;
  // Outline along the edges x, x + Width, y and y + Height: a 10 x 10 outline
  // covers 11 x 11 pixels. Every outline pixel is blended once, corners
  // included. A negative width or height draws nothing.
  void DrawRectangleI(const CPen& Pen, std::int32_t x, std::int32_t y, std::int32_t Width,
                      std::int32_t Height) noexcept;
  // The same from real coordinates: each edge lies on the pixel its
  // coordinate rounds to (nearest, ties to even). NaN draws nothing.
  void DrawRectangle(const CPen& Pen, float x, float y, float Width, float Height) noexcept;

 private:
  void Outline(const CPen& Pen, std::int64_t Left, std::int64_t Top, std::int64_t Right,
               std::int64_t Bottom) noexcept;
  void HSpan(std::uint32_t Colour, std::int64_t y, std::int64_t x0, std::int64_t x1) noexcept;
  void VSpan(std::uint32_t Colour, std::int64_t x, std::int64_t y0, std::int64_t y1) noexcept;

  std::uint32_t* FBits;
  std::int32_t FWidth;
  std::int32_t FHeight;
};

}  // namespace quenvis
