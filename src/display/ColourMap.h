#pragma once
// The spectrograms' colour map (viridis-like, dark for quiet, yellow for
// loud) and the scaling of a log10 power onto it over the power range and
// offset of the analysis settings. The offline spectrogram and the live one
// share it, so a power looks the same in both.
#include <array>
#include <cstdint>

namespace quenvis {

// 256 opaque ARGB colours, the quietest first.
extern const std::array<std::uint32_t, 256> SpectrogramColours;

class CPowerColours {
 public:
  // Scale and Offset as in the analysis settings (FScale, FOffset): a power
  // of Offset takes the first colour, Offset + 255 / Scale the last.
  CPowerColours(double Scale, double Offset) noexcept : FFactor(Scale / 255.0), FOffset(Offset) {}

  // Below the range, -inf (silence) and NaN give 0; above it, 255.
  std::uint8_t Index(double Power) const noexcept;
  std::uint32_t Colour(double Power) const noexcept { return SpectrogramColours[Index(Power)]; }

 private:
  double FFactor;
  double FOffset;
};

}  // namespace quenvis
