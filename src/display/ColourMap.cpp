#include "display/ColourMap.h"

#include <algorithm>

#include "analysis/Common.h"

namespace quenvis {

namespace {

struct TRgb {
  double R, G, B;
};

// Viridis at nine evenly spaced points; the map interpolates between them.
constexpr std::array<TRgb, 9> ViridisStops = {{{68, 1, 84},
                                               {71, 44, 122},
                                               {59, 81, 139},
                                               {44, 113, 142},
                                               {33, 144, 141},
                                               {39, 173, 129},
                                               {92, 200, 99},
                                               {170, 220, 50},
                                               {253, 231, 37}}};

constexpr std::uint8_t ToByte(double v) { return static_cast<std::uint8_t>(v + 0.5); }

constexpr std::array<std::uint32_t, 256> MakeColourMap() {
  std::array<std::uint32_t, 256> map{};
  for (int i = 0; i < 256; ++i) {
    const double at = i * 8.0 / 255.0;
    const int k = std::min(static_cast<int>(at), 7);
    const double f = at - k;
    const TRgb& a = ViridisStops[static_cast<std::size_t>(k)];
    const TRgb& b = ViridisStops[static_cast<std::size_t>(k + 1)];
    map[static_cast<std::size_t>(i)] =
        0xFF000000u | std::uint32_t{ToByte(a.R + (b.R - a.R) * f)} << 16 |
        std::uint32_t{ToByte(a.G + (b.G - a.G) * f)} << 8 | ToByte(a.B + (b.B - a.B) * f);
  }
  return map;
}

}  // namespace

extern constexpr std::array<std::uint32_t, 256> SpectrogramColours = MakeColourMap();

std::uint8_t CPowerColours::Index(double Power) const noexcept {
  const double t = (Power - FOffset) * FFactor;
  return static_cast<std::uint8_t>(t > 0 ? std::min(RoundToInt32(t * 255.0), 255) : 0);
}

}  // namespace quenvis
