#pragma once
// The live spectrogram: the last few seconds of spectra as a scrolling
// picture, frequency upwards, with the formant tracks as dots and F0 as a
// thin line on its own scale. Drawn incrementally: each block paints one
// new strip of columns into a ring of pixel columns whose origin moves, so
// older columns are never redrawn; the window shows the ring in two pieces.
#include <cstdint>
#include <memory>
#include <vector>

#include "analysis/FormantTracker.h"
#include "display/ColourMap.h"
#include "display/DXCommon.h"

namespace quenvis {

class CLiveSpectrogram {
 public:
  static constexpr double DefaultSeconds = 10.0;
  static constexpr double DefaultTopHz = 5000.0;
  static constexpr double MaxTopHz = 10000.0;
  // F0's own scale, logarithmic: from a low man's voice to a high soprano.
  static constexpr double F0LowHz = 50.0;
  static constexpr double F0HighHz = 1000.0;

  static constexpr std::uint32_t Background = 0xFF000000u;
  static constexpr std::uint32_t FormantColour = 0xFFFF3B30u;
  static constexpr std::uint32_t F3Colour = 0x80FF9080u;  // lighter: half covering
  static constexpr std::uint32_t F0Colour = 0xFF40E0FFu;

  // Width x Height pixels (at least 1 x 1), showing 0..TopHz (at most
  // MaxTopHz) over Seconds.
  CLiveSpectrogram(std::int32_t Width, std::int32_t Height, double TopHz = DefaultTopHz,
                   double Seconds = DefaultSeconds);
  CLiveSpectrogram(const CLiveSpectrogram&) = delete;
  CLiveSpectrogram& operator=(const CLiveSpectrogram&) = delete;

  // Keeps the picture, stretched to the new size.
  void Resize(std::int32_t Width, std::int32_t Height);
  // A new range starts an empty picture: the old columns are on another scale.
  void SetTopHz(double TopHz);
  // As the analysis settings' FScale and FOffset; applies from the next block.
  void SetPowerScale(double Scale, double Offset) noexcept { FColours = {Scale, Offset}; }
  void Clear() noexcept;

  // One analysed block: its stream time in seconds, its FFTSize log10 power
  // bins and the estimator's result. Allocates nothing.
  void Add(double Time, const double* Power, const TFormants& Formants) noexcept;

  std::int32_t Width() const noexcept { return FRing->Info->Width; }
  std::int32_t Height() const noexcept { return FRing->Info->Height; }
  double TopHz() const noexcept { return FTopHz; }
  double Seconds() const noexcept { return FSeconds; }
  // The ring: ring column Origin() shows at the left edge, the newest column
  // just before it (at Origin() - 1, modulo Width) at the right edge.
  const CBM32& Ring() const noexcept { return *FRing; }
  std::int32_t Origin() const noexcept { return FHead; }
  // Pixel (x, y) as the window shows it, x from the left edge.
  std::uint32_t Pixel(std::int32_t x, std::int32_t y) const noexcept;

  // The stream time of the column shown at x; NaN where nothing is shown yet
  // or x lies outside.
  double TimeAtX(std::int32_t x) const noexcept;
  // The row (from the top) whose band [i, i + 1) x TopHz / Height holds Hz;
  // -1 outside 0..TopHz. A spectrum bin shows in the row of its centre
  // frequency (a row narrower than a bin shows the nearest bin).
  std::int32_t RowOfHz(double Hz) const noexcept;
  // The row of F0 on its own scale; -1 outside F0LowHz..F0HighHz.
  std::int32_t RowOfF0(double Hz) const noexcept;
  // Width of the strip the last block painted (0 when it fell between pixels).
  std::int32_t LastStrip() const noexcept { return FLastStrip; }

 private:
  void Allocate(std::int32_t Width, std::int32_t Height);
  void MakeRowBins();
  void DrawTracks(std::int32_t Strip, const TFormants& Formants) noexcept;

  std::unique_ptr<CBM32> FRing;
  std::unique_ptr<CBM32> FStrip;  // the new strip, drawn here then copied into the ring
  std::vector<double> FTimes;     // per ring column
  // Per row from the top, the first and last spectrum bin it shows.
  std::vector<std::int32_t> FFirstBin, FLastBin;
  std::vector<std::uint32_t> FColumn;  // the new column's colours
  CPowerColours FColours{0, 0};
  double FTopHz;
  double FSeconds;
  double FPixelsPerBlock = 0;
  double FCarry = 0;       // the fraction of a pixel the strips still owe
  std::int32_t FHead = 0;  // next ring column to write
  std::int32_t FLastStrip = 0;
  double FPreviousF0 = 0;  // Hz, 0 when the previous block had none
};

}  // namespace quenvis
