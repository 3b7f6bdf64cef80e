#include "display/LiveSonogram.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "analysis/AnalysisSettings.h"
#include "analysis/Common.h"
#include "display/Graphics.h"

namespace quenvis {

namespace {

constexpr double Nan = std::numeric_limits<double>::quiet_NaN();
constexpr double BlocksPerSecond = double(SampleRate) / BlockFrames;

double ValidTopHz(double Hz) noexcept {
  return Hz >= 100.0 ? std::min(Hz, CLiveSpectrogram::MaxTopHz)
                     : CLiveSpectrogram::DefaultTopHz;  // NaN too
}

}  // namespace

CLiveSpectrogram::CLiveSpectrogram(std::int32_t Width, std::int32_t Height, double TopHz,
                                   double Seconds)
    : FTopHz(ValidTopHz(TopHz)),
      FSeconds(Seconds >= 1.0 && Seconds <= 600.0 ? Seconds : DefaultSeconds) {
  const TAnalysisSettings startup = StartupSettings();
  FColours = {startup.FScale, startup.FOffset};
  Allocate(Width, Height);
  Clear();
}

void CLiveSpectrogram::Allocate(std::int32_t Width, std::int32_t Height) {
  Width = std::clamp(Width, 1, 1 << 14);
  Height = std::clamp(Height, 1, 1 << 13);
  FRing = std::make_unique<CBM32>(Width, Height);
  FPixelsPerBlock = Width / (FSeconds * BlocksPerSecond);
  FStrip =
      std::make_unique<CBM32>(static_cast<std::int32_t>(std::ceil(FPixelsPerBlock)) + 1, Height);
  FTimes.assign(static_cast<std::size_t>(Width), Nan);
  FColumn.assign(static_cast<std::size_t>(Height), Background);
  MakeRowBins();
}

void CLiveSpectrogram::MakeRowBins() {
  const std::int32_t h = Height();
  FFirstBin.resize(static_cast<std::size_t>(h));
  FLastBin.resize(static_cast<std::size_t>(h));
  // Row i from the bottom shows [i, i + 1) x TopHz / h; a bin belongs to the
  // row of its centre, and a row narrower than a bin shows the nearest bin.
  const double binsPerRow = FTopHz * FFTSize / SampleRate / h;
  for (std::int32_t i = 0; i < h; ++i) {
    // Small whole numbers: TopHz and h are bounded.
    std::int32_t first = static_cast<std::int32_t>(std::ceil(i * binsPerRow));
    std::int32_t last = static_cast<std::int32_t>(std::ceil((i + 1) * binsPerRow)) - 1;
    if (last < first) first = last = RoundToInt32((i + 0.5) * binsPerRow);
    const auto y = static_cast<std::size_t>(h - 1 - i);
    FFirstBin[y] = std::clamp(first, 0, FFTSize / 2 - 1);
    FLastBin[y] = std::clamp(last, 0, FFTSize / 2 - 1);
  }
}

void CLiveSpectrogram::Resize(std::int32_t Width, std::int32_t Height) {
  Width = std::clamp(Width, 1, 1 << 14);
  Height = std::clamp(Height, 1, 1 << 13);
  if (Width == this->Width() && Height == this->Height()) return;
  const std::unique_ptr<CBM32> old = std::move(FRing);
  const std::vector<double> oldTimes = std::move(FTimes);
  const std::int32_t oldW = old->Info->Width, oldH = old->Info->Height, oldHead = FHead;
  Allocate(Width, Height);
  // Nearest neighbour, in display order; the ring starts again at column 0.
  for (std::int32_t x = 0; x < Width; ++x) {
    const auto from = static_cast<std::int32_t>((std::int64_t{x} * oldW / Width + oldHead) % oldW);
    FTimes[static_cast<std::size_t>(x)] = oldTimes[static_cast<std::size_t>(from)];
    for (std::int32_t y = 0; y < Height; ++y)
      FRing->Info->Bits[std::int64_t{y} * Width + x] =
          old->Info->Bits[std::int64_t{y} * oldH / Height * oldW + from];
  }
  FHead = 0;
  FCarry = 0;
}

void CLiveSpectrogram::SetTopHz(double TopHz) {
  TopHz = ValidTopHz(TopHz);
  if (TopHz == FTopHz) return;
  FTopHz = TopHz;
  MakeRowBins();
  Clear();
}

void CLiveSpectrogram::Clear() noexcept {
  FRing->Fill(Background);
  std::fill(FTimes.begin(), FTimes.end(), Nan);
  FHead = 0;
  FCarry = 0;
  FLastStrip = 0;
  FPreviousF0 = 0;
}

void CLiveSpectrogram::Add(double Time, const double* Power, const TFormants& Formants) noexcept {
  // Strips of whole pixels that add up to Width over Seconds: a fraction
  // left over is carried to the next block.
  FCarry += FPixelsPerBlock;
  const std::int32_t strip = std::min(static_cast<std::int32_t>(FCarry), FStrip->Info->Width);
  FCarry -= strip;
  FLastStrip = strip;
  if (strip == 0) return;  // the F0 line keeps its previous end

  const std::int32_t w = Width(), h = Height(), sw = FStrip->Info->Width;
  std::uint32_t* const cells = FStrip->Info->Bits;
  for (std::int32_t y = 0; y < h; ++y) {
    const auto i = static_cast<std::size_t>(y);
    double most = Power[FFirstBin[i]];
    for (std::int32_t b = FFirstBin[i] + 1; b <= FLastBin[i]; ++b) most = std::max(most, Power[b]);
    const std::uint32_t c = FColours.Colour(most);
    std::fill_n(cells + std::int64_t{y} * sw, strip, c);
  }
  DrawTracks(strip, Formants);

  std::uint32_t* const ring = FRing->Info->Bits;
  for (std::int32_t k = 0; k < strip; ++k) {
    const std::int32_t x = (FHead + k) % w;
    FTimes[static_cast<std::size_t>(x)] = Time;
    for (std::int32_t y = 0; y < h; ++y)
      ring[std::int64_t{y} * w + x] = cells[std::int64_t{y} * sw + k];
  }
  FHead = (FHead + strip) % w;
}

void CLiveSpectrogram::DrawTracks(std::int32_t Strip, const TFormants& Formants) noexcept {
  CGraphics g(FStrip->Bitmap);
  const std::int32_t right = Strip - 1;
  // A dot three pixels high, and three wide where the strip allows.
  const std::int32_t dotLeft = std::max(0, Strip / 2 - 1);
  const std::int32_t dotRight = std::min(right, dotLeft + 2);
  const auto dot = [&](double Hz, std::uint32_t Colour) {
    if (!(Hz > 0)) return;
    const std::int32_t y = RowOfHz(Hz);
    if (y < 0) return;
    const CPen pen(Colour);
    for (std::int32_t dy = -1; dy <= 1; ++dy) g.DrawLine(pen, dotLeft, y + dy, dotRight, y + dy);
  };
  if (Formants.Voiced) {
    dot(Formants.F[2], F3Colour);
    dot(Formants.F[0], FormantColour);
    dot(Formants.F[1], FormantColour);
  }
  // F0 runs across the strip from where the previous block left it.
  const double f0 = Formants.Voiced ? Formants.F0 : 0.0;
  const std::int32_t y = f0 > 0 ? RowOfF0(f0) : -1;
  if (y >= 0) {
    const std::int32_t from = FPreviousF0 > 0 ? RowOfF0(FPreviousF0) : -1;
    g.DrawLine(CPen(F0Colour), 0, from >= 0 ? from : y, right, y);
  }
  FPreviousF0 = y >= 0 ? f0 : 0.0;
}

std::uint32_t CLiveSpectrogram::Pixel(std::int32_t x, std::int32_t y) const noexcept {
  const std::int32_t w = Width();
  if (x < 0 || y < 0 || x >= w || y >= Height()) return 0;
  return FRing->Info->Bits[std::int64_t{y} * w + (FHead + x) % w];
}

double CLiveSpectrogram::TimeAtX(std::int32_t x) const noexcept {
  const std::int32_t w = Width();
  if (x < 0 || x >= w) return Nan;
  return FTimes[static_cast<std::size_t>((FHead + x) % w)];
}

std::int32_t CLiveSpectrogram::RowOfHz(double Hz) const noexcept {
  if (!(Hz >= 0 && Hz < FTopHz)) return -1;
  const std::int32_t h = Height();
  // Hz < TopHz, so the band index stays below h.
  return h - 1 - std::min(static_cast<std::int32_t>(Hz / FTopHz * h), h - 1);
}

std::int32_t CLiveSpectrogram::RowOfF0(double Hz) const noexcept {
  if (!(Hz >= F0LowHz && Hz <= F0HighHz)) return -1;
  const double up = std::log(Hz / F0LowHz) / std::log(F0HighHz / F0LowHz);
  return std::clamp(RoundToInt32((Height() - 1) * (1.0 - up)), 0, Height() - 1);
}

}  // namespace quenvis
