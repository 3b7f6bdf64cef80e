#include "render/Sonogram.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string>

#include "display/ColourMap.h"

namespace quenvis {

namespace {

constexpr std::uint32_t Background = 0xFF000000u;
constexpr std::uint32_t Ink = 0xFFC8C8C8u;

const std::array<std::uint32_t, 256>& ColourMap = SpectrogramColours;

// A 5 x 7 pixel font for the axis labels: each glyph is seven rows of five
// bits, the leftmost pixel in the highest bit.
struct TGlyph {
  char C;
  std::array<std::uint8_t, 7> Rows;
};
constexpr TGlyph Glyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'z', {0x00, 0x00, 0x1F, 0x02, 0x04, 0x08, 0x1F}},
    {'s', {0x00, 0x00, 0x0E, 0x10, 0x0E, 0x01, 0x1E}},
};
constexpr std::int32_t GlyphAdvance = 6;

class CCanvas {
 public:
  CCanvas(std::vector<std::uint32_t>& Pixels, std::int32_t Width, std::int32_t Height)
      : FPixels(Pixels), FWidth(Width), FHeight(Height) {}
  void Set(std::int32_t x, std::int32_t y, std::uint32_t c) {
    if (x >= 0 && y >= 0 && x < FWidth && y < FHeight)
      FPixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(FWidth) +
              static_cast<std::size_t>(x)] = c;
  }
  // Text with its top-left corner at (x, y).
  void Text(std::int32_t x, std::int32_t y, const std::string& s) {
    for (const char ch : s) {
      for (const TGlyph& g : Glyphs) {
        if (g.C != ch) continue;
        for (std::int32_t r = 0; r < 7; ++r)
          for (std::int32_t c = 0; c < 5; ++c)
            if (g.Rows[static_cast<std::size_t>(r)] & (0x10 >> c)) Set(x + c, y + r, Ink);
      }
      x += GlyphAdvance;
    }
  }

 private:
  std::vector<std::uint32_t>& FPixels;
  std::int32_t FWidth, FHeight;
};

std::int32_t TextWidth(const std::string& s) {
  return static_cast<std::int32_t>(s.size()) * GlyphAdvance - 1;
}

}  // namespace

CSonogram::CSonogram(const TAnalysisSettings& Settings)
    : FOffset(Settings.FOffset), FScale(Settings.FScale) {
  FCells.reserve(static_cast<std::size_t>(PageColumns) * PlotHeight);
  // The trace's frequency ranges: 512, 1024, 2048 or 4096 bins.
  const std::int32_t shift = std::clamp(Settings.FShift, -1, 2);
  FBinsPerRow = 1 << (shift + 1);
  static constexpr std::int32_t TickHz[] = {1000, 2000, 5000, 10000};
  FTickHz = TickHz[shift + 1];
}

void CSonogram::AddColumn(const double* Power) {
  if (PageFull()) {
    ++FPage;
    FPageColumns = 0;
    FCells.clear();
    for (TTrack& t : FTracks) t.Hz.clear();
  }
  const CPowerColours colours(FScale, FOffset);
  for (std::int32_t row = 0; row < PlotHeight; ++row) {
    const double* bins = Power + row * FBinsPerRow;
    double most = bins[0];
    for (std::int32_t k = 1; k < FBinsPerRow; ++k) most = std::max(most, bins[k]);
    FCells.push_back(colours.Index(most));
  }
  ++FColumns;
  ++FPageColumns;
  for (TTrack& t : FTracks) t.Hz.push_back(std::nanf(""));
}

std::size_t CSonogram::AddTrack(std::uint32_t Colour) {
  FTracks.push_back(
      {Colour, std::vector<float>(static_cast<std::size_t>(FPageColumns), std::nanf(""))});
  FTracks.back().Hz.reserve(PageColumns);
  return FTracks.size() - 1;
}

void CSonogram::SetTrackPoint(std::size_t Track, double Hz) {
  if (FPageColumns > 0)
    FTracks[Track].Hz[static_cast<std::size_t>(FPageColumns - 1)] = static_cast<float>(Hz);
}

std::int32_t CSonogram::RowOfHz(double Hz) const noexcept {
  const std::int32_t bin = RoundToInt32(Hz * FFTSize / SampleRate);
  const std::int32_t row = bin >= 0 ? bin / FBinsPerRow : -1;
  return Top + PlotHeight - 1 - row;
}

void CSonogram::RenderPage(std::vector<std::uint32_t>& Pixels, std::int32_t& Width,
                           std::int32_t& Height) const {
  const std::int64_t first = FPage * PageColumns;
  const auto columns = static_cast<std::int32_t>(FPageColumns);
  Width = Left + std::max(columns, 1) + Right;
  Height = Top + PlotHeight + Bottom;
  Pixels.assign(static_cast<std::size_t>(Width) * static_cast<std::size_t>(Height), Background);
  CCanvas canvas(Pixels, Width, Height);

  for (std::int32_t x = 0; x < columns; ++x) {
    const std::uint8_t* cells = FCells.data() + static_cast<std::size_t>(x) * PlotHeight;
    for (std::int32_t row = 0; row < PlotHeight; ++row)
      canvas.Set(Left + x, Top + PlotHeight - 1 - row, ColourMap[cells[row]]);
  }
  for (const TTrack& t : FTracks)
    for (std::int32_t x = 0; x < columns; ++x) {
      const float hz = t.Hz[static_cast<std::size_t>(x)];
      if (std::isnan(hz)) continue;
      const std::int32_t y = RowOfHz(hz);
      if (y < Top || y >= Top + PlotHeight) continue;
      for (std::int32_t dy = -1; dy <= 1; ++dy)
        if (y + dy >= Top && y + dy < Top + PlotHeight) canvas.Set(Left + x, y + dy, t.Colour);
    }

  // Frequency axis: a tick and its label every FTickHz.
  for (std::int32_t hz = 0;; hz += FTickHz) {
    const std::int32_t y = RowOfHz(hz);
    if (y < Top) break;
    for (std::int32_t x = Left - 4; x < Left; ++x) canvas.Set(x, y, Ink);
    const std::string label = std::to_string(hz);
    canvas.Text(Left - 6 - TextWidth(label), std::clamp(y - 3, Top, Top + PlotHeight - 7), label);
  }
  canvas.Text(Left - 6 - TextWidth("Hz"), 2, "Hz");

  // Time axis: seconds from the start of the recording, at a step that
  // leaves room for the labels. Column b is block b, which ends (as time_s
  // in the tables says) at (b + 1) blocks: a tick marks the column whose
  // block ends nearest to it.
  const double columnsPerSecond = double(SampleRate) / BlockFrames;
  std::int32_t step = 1;
  for (const std::int32_t s : {1, 2, 5, 10, 20, 30, 60, 120, 300, 600, 1200, 3600}) {
    step = s;
    if (s * columnsPerSecond >= 60) break;
  }
  const std::int32_t axis = Top + PlotHeight;
  const double start = (static_cast<double>(first) + 0.5) / columnsPerSecond;
  const double end = static_cast<double>(first + columns) / columnsPerSecond;
  for (std::int64_t t = static_cast<std::int64_t>(std::ceil(start / step)) * step; t <= end;
       t += step) {
    const std::int64_t column = RoundToInt32(static_cast<double>(t) * columnsPerSecond - 1.0);
    if (column < first || column >= first + columns) continue;
    const std::int32_t x = Left + static_cast<std::int32_t>(column - first);
    for (std::int32_t y = axis; y < axis + 4; ++y) canvas.Set(x, y, Ink);
    const std::string label = std::to_string(t);
    canvas.Text(std::min(x - TextWidth(label) / 2, Width - TextWidth(label)), axis + 6, label);
  }
  canvas.Text(Left - 6 - TextWidth("s"), axis + 6, "s");
}

}  // namespace quenvis
