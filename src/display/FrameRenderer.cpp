#include "display/FrameRenderer.h"

#include <algorithm>
#include <bit>
#include <limits>

#include "display/Fade.h"
#include "display/Graphics.h"

namespace quenvis {

namespace {

constexpr std::int32_t TraceWidth = SpectrumWidth;
constexpr std::int32_t Bottom = SpectrumHeight - 1;

// y of a level on the 256-row scale; saturated, so a level far off the scale
// stays far off instead of wrapping.
std::int32_t LevelToY(double Level, double Scale) noexcept {
  return RoundToInt32(Bottom - Level * Scale);
}

// Bin shown at trace position x (0..1023). Shifts beyond +-31 give the same
// in-range-or-not answer as +-31, and bins outside the spectrum are reported
// as -1.
std::int32_t XToBin(std::int32_t Shift, std::int32_t x) noexcept {
  const std::int32_t s = std::clamp(Shift, -31, 31);
  const std::int64_t bin = s >= 0 ? static_cast<std::int64_t>(x) << s : x >> -s;
  return bin < FFTSize ? static_cast<std::int32_t>(bin) : -1;
}

void DrawTrace(CGraphics& g, const TAnalysisSettings& s, const double* Power) {
  const CPen pen(TraceColour);
  auto yAt = [&](std::int32_t x) {
    const std::int32_t bin = XToBin(s.FShift, x);
    double d = bin >= 0 ? Power[bin] - s.FOffset : 0.0;
    if (!(d >= s.FThreshold)) d = 0;
    return std::max(LevelToY(d, s.FScale), 0);
  };
  std::int32_t prev = yAt(0);
  for (std::int32_t x = 1; x < TraceWidth; ++x) {
    const std::int32_t y = yAt(x);
    g.DrawLine(pen, x - 1, prev, x, y);
    prev = y;
  }
}

void DrawMarker(CGraphics& g, const CPen& Pen, std::int32_t Shift, std::int32_t Bin, double Level,
                double Scale) {
  const std::int32_t x = CFrameRenderer::BinToX(Shift, Bin);
  const std::int32_t y = LevelToY(Level, Scale);
  g.DrawRectangleI(Pen, SaturateToInt32(std::int64_t{x} - 5), SaturateToInt32(std::int64_t{y} - 5),
                   10, 10);
}

// Position of Peak between Lo (0) and Hi (255). The differences are taken in
// 64 bits, so no limits can overflow them; equal limits have no position.
bool PlotPosition(std::int32_t Peak, std::int32_t Lo, std::int32_t Hi, double& Position) noexcept {
  if (Hi == Lo) return false;
  const std::int64_t num = (std::int64_t{Peak} - Lo) * 255;
  Position = static_cast<double>(num) / static_cast<double>(std::int64_t{Hi} - Lo);
  return true;
}

}  // namespace

CFrameRenderer::CFrameRenderer(TAnalysisSettings& Settings, TFrameRate& Rate, CFFT_iterative& FFT,
                               TSurfaces& Surfaces, IFrameHost& Host)
    : FSettings(Settings), FRate(Rate), FFFT(FFT), FSurfaces(Surfaces), FHost(Host) {}

std::int32_t CFrameRenderer::BinToX(std::int32_t Shift, std::int32_t Bin) noexcept {
  if (Shift < 0) {
    if (Bin == 0) return 0;
    const std::int64_t s = -std::int64_t{Shift};
    if (s >= 32)
      return Bin > 0 ? std::numeric_limits<std::int32_t>::max()
                     : std::numeric_limits<std::int32_t>::min();
    return SaturateToInt32(std::int64_t{Bin} * (std::int64_t{1} << s));
  }
  if (Shift > 0) {
    if (Shift >= 32) return 0;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(Bin) >> Shift);
  }
  return Bin;
}

void CFrameRenderer::Draw(const void* Data) {
  // The contexts live only while drawing: nothing is held open across the
  // presentation or the event dispatch, where a nested block may run.
  CGraphics spectrum(FSurfaces.SpectrumBmp.Bitmap);
  CGraphics plots[3] = {CGraphics(FSurfaces.PlotBmp1.Bitmap), CGraphics(FSurfaces.PlotBmp2.Bitmap),
                        CGraphics(FSurfaces.PlotBmp3.Bitmap)};
  const CPen zone1Pen(Zone1Colour), zone2Pen(Zone2Colour), plotPen(PlotColour);
  TAnalysisSettings& s = FSettings;

  FFFT.Process(Data);
  const double* power = FFFT.Power.data();
  DrawTrace(spectrum, s, power);

  FLastPeaks = TrackZonePeaks(power, s.FOffset, s.FThreshold, s.FZone1Lo, s.FZone1Hi, s.FZone2Lo,
                              s.FZone2Hi);
  s.FZone1Peak = FLastPeaks.Zone1Peak;
  s.FZone2Peak = FLastPeaks.Zone2Peak;
  FLastPlotMark = false;
  if (FLastPeaks.Found) {
    DrawMarker(spectrum, zone1Pen, s.FShift, s.FZone1Peak, FLastPeaks.Level1, s.FScale);
    DrawMarker(spectrum, zone2Pen, s.FShift, s.FZone2Peak, FLastPeaks.Level2, s.FScale);
    double across = 0, up = 0;
    if (PlotPosition(s.FZone1Peak, s.FZone1Lo, s.FZone1Hi, across) &&
        PlotPosition(s.FZone2Peak, s.FZone2Lo, s.FZone2Hi, up)) {
      const std::int32_t n = RoundToInt32(across);
      const std::int32_t m = RoundToInt32(Bottom - up);
      const auto left = static_cast<float>(n - 5.0), top = static_cast<float>(m - 5.0);
      for (int i = 0; i < FPlots; ++i)
        plots[i].DrawRectangle(plotPen, left, top, 10.0f, 10.0f);
      FLastPlotMark = true;
    }
  }

  for (std::int32_t bin : {s.FZone1Lo, s.FZone1Hi}) {
    const std::int32_t x = BinToX(s.FShift, bin);
    spectrum.DrawLine(zone1Pen, x, 0, x, Bottom);
  }
  for (std::int32_t bin : {s.FZone2Lo, s.FZone2Hi}) {
    const std::int32_t x = BinToX(s.FShift, bin);
    spectrum.DrawLine(zone2Pen, x, 0, x, Bottom);
  }
  const std::int32_t yT = RoundToInt32(Bottom - s.FThreshold / s.FScale * 255);
  spectrum.DrawLine(zone1Pen, 0, yT, TraceWidth, yT);
}

void CFrameRenderer::Fade() noexcept {
  // Compared bit for bit, so a NaN factor does not remake it every block.
  const auto bits = std::bit_cast<std::uint32_t>(FSettings.FFade);
  if (bits != FFadeBits) {
    FFadeOp = CFade(FSettings.FFade);
    FFadeBits = bits;
  }
  const CFade& fade = FFadeOp;
  const auto surfaces = FSurfaces.All();
  for (std::size_t i = 0; i <= static_cast<std::size_t>(FPlots); ++i) {
    const CBM32* s = surfaces[i];
    if (s->Info != nullptr && s->Info->Bits != nullptr)
      fade.Apply(s->Info->Bits, static_cast<std::size_t>(PixelCount(*s->Info)));
  }
}

void CFrameRenderer::RecorderData(const void* Data, std::int32_t /*Bytes*/, std::int32_t Frames,
                                  std::int32_t& Done) {
  Draw(Data);
  FHost.Present();
  Fade();

  TFrameRate& r = FRate;
  r.FFrameCount =
      r.FFrameCount < std::numeric_limits<std::int32_t>::max() ? r.FFrameCount + 1 : r.FFrameCount;
  if (r.FFrameCount >= RateBlocks) {
    r.FRateNow = FHost.TimeOfDay();
    if (r.FRateNow > r.FRateLast)
      r.FRateText = FHost.FormatRate(r.FFrameCount / ((r.FRateNow - r.FRateLast) * 86400));
    else
      r.FRateText.assign(1, '?');  // no time passed, or the day wrapped at midnight
    r.FRateLast = r.FRateNow;
    r.FFrameCount = 0;
    FHost.UpdateCaption();
    // A nested block may run here. Nothing below reads this object's state:
    // only the caller's Done, from a value copied on entry.
    FHost.ProcessMessages();
  }
  Done = Frames;
}

}  // namespace quenvis
