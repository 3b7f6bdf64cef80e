#pragma once
// Praat TextGrids in the text formats Praat writes ("long", with names and
// "=" signs, and "short", values only), in UTF-8 or UTF-16 of either byte
// order (told by the byte-order mark). Binary TextGrids are not read.
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

}  // namespace quenvis
