#pragma once
// The whole recording as pictures of PageColumns columns, one column per
// block, frequency upwards over the range the options show, log power on a
// viridis-like colour map over the options' power range and offset, with Hz
// and seconds axes and tracks (the zone peaks, F1 and F2) drawn over it.
// Only the current page is held, so memory does not grow with the length.
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

  // True when the current page is complete: the next column starts a new
  // one, so this is the time to save it.
  bool PageFull() const noexcept { return FPageColumns == PageColumns; }
  // Adds the next block's column from its 4096 log10 power values, on a new
  // page when the current one is full.
  void AddColumn(const double* Power);

  // A track is one frequency per block (in Hz, NaN where there is none),
  // drawn in Colour (ARGB) over the image. Returns the track's index.
  std::size_t AddTrack(std::uint32_t Colour);
  // Sets the track's value for the latest block added.
  void SetTrackPoint(std::size_t Track, double Hz);

  std::int64_t Columns() const noexcept { return FColumns; }
  // The current page, from 0.
  std::int64_t Page() const noexcept { return FPage; }

  // Draws the current page into Pixels (ARGB, rows without gaps). The time
  // axis labels the column of the block that ends nearest each tick.
  void RenderPage(std::vector<std::uint32_t>& Pixels, std::int32_t& Width,
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
  std::int64_t FColumns = 0, FPage = 0, FPageColumns = 0;
  // The current page's colour-map indices, PlotHeight per column, the lowest
  // frequency first; tracks hold the current page's points too.
  std::vector<std::uint8_t> FCells;
  std::vector<TTrack> FTracks;
};

}  // namespace quenvis
