#pragma once
// Praat TextGrids in the text formats Praat writes ("long", with names and
// "=" signs, and "short", values only), in UTF-8 or UTF-16 of either byte
// order (told by the byte-order mark). Binary TextGrids are not read.
// Written in the long format, UTF-8.
#include <string>
#include <string_view>
#include <vector>

namespace quenvis {

struct TInterval {
  double Start = 0, End = 0;
  std::string Text;  // UTF-8
};

struct TTier {
  std::string Name;
  bool Points = false;  // a TextTier: each interval is a point (Start == End)
  std::vector<TInterval> Items;
};

struct TTextGrid {
  double Start = 0, End = 0;
  std::vector<TTier> Tiers;
  // The interval tier of that name, or null.
  const TTier* IntervalTier(std::string_view Name) const noexcept;
};

// Parses the bytes of a TextGrid file. Returns an empty string, or one line
// "LINE: reason" (the line counted from 1 in the text).
std::string ParseTextGrid(std::string_view Bytes, TTextGrid& Grid);

// Reads and parses the file Path. Returns an empty string, or one line
// naming the file (and the line, for a malformed one) and the reason.
std::string ReadTextGrid(const std::string& Path, TTextGrid& Grid);

// The grid in Praat's long text format. Praat wants an interval tier to
// cover the grid without gaps or overlaps: gaps become empty intervals, an
// overlapping start is moved to the end of the interval before it, and
// intervals of no length are left out.
std::string FormatTextGrid(const TTextGrid& Grid);

// Writes the grid to Path through a temporary file beside it, synced and
// renamed over Path, so that Path holds either the old grid or the new one
// whatever happens. Returns an empty string, or one line naming the file
// and the reason.
std::string WriteTextGrid(const std::string& Path, const TTextGrid& Grid);

}  // namespace quenvis
