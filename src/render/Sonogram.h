#pragma once
// The whole recording as one picture: one column per block, frequency
// upwards over the range the options show, log power on a viridis-like
// colour map over the options' power range and offset, with Hz and seconds
// axes and tracks (the zone peaks, F1 and F2) drawn over it.
#include <cstdint>
#include <vector>

#include "analysis/AnalysisSettings.h"

namespace quenvis {

class CSonogram {
 public:
  static constexpr std::int32_t PlotHeight = 512;
  static constexpr std::int64_t PageColumns = 4000;
  static constexpr std::int32_t Left = 48, Right = 8, Top = 14, Bottom = 24;

  explicit CSonogram(const TAnalysisSettings& Settings);

  // Reserves room for this many blocks, so that adding them allocates nothing.
  void Reserve(std::int64_t Blocks);
  // Adds the next block's column from its 4096 log10 power values.
  void AddColumn(const double* Power);

  // A track is one frequency per block (in Hz, NaN where there is none),
  // drawn in Colour (ARGB) over the image. Returns the track's index.
  std::size_t AddTrack(std::uint32_t Colour);
  // Sets the track's value for the latest block added.
  void SetTrackPoint(std::size_t Track, double Hz);

  std::int64_t Columns() const noexcept { return FColumns; }
  // Pages of at most PageColumns columns; at least one.
  std::int64_t Pages() const noexcept;

  // Draws page Page (from 0) into Pixels (ARGB, rows without gaps).
  void RenderPage(std::int64_t Page, std::vector<std::uint32_t>& Pixels, std::int32_t& Width,
                  std::int32_t& Height) const;

  // The image row (from the top) where frequency Hz lies, for axes and
  // tracks alike; outside the plot when Hz is out of the shown range.
  std::int32_t RowOfHz(double Hz) const noexcept;

 private:
  struct TTrack {
    std::uint32_t Colour;
    std::vector<float> Hz;
  };
  std::int32_t FBinsPerRow;
  std::int32_t FTickHz;
  double FOffset, FScale;
  std::int64_t FColumns = 0;
  // Colour-map indices, PlotHeight per column, the lowest frequency first.
  std::vector<std::uint8_t> FCells;
  std::vector<TTrack> FTracks;
};

}  // namespace quenvis
