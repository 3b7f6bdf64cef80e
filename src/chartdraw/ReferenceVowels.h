#pragma once
// Reference vowels drawn on the chart: published averages for three voices,
// or a set the user loads from a small CSV file. Plain C++.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "chartdraw/ChartScale.h"

namespace quenvis {

struct TReferenceVowel {
  std::string Label;  // UTF-8, usually an IPA symbol
  double F1 = 0, F2 = 0;
  std::optional<EVoice> Voice;  // none: applies to every voice
};

// Average F1 and F2 of ten American English vowels (Peterson and Barney, 1952).
std::vector<TReferenceVowel> BuiltInVowels(EVoice Voice);

// The vowels of Set that apply to Voice.
std::vector<TReferenceVowel> VowelsFor(const std::vector<TReferenceVowel>& Set, EVoice Voice);

inline constexpr std::size_t MaxReferenceRows = 200;
inline constexpr std::size_t MaxReferenceBytes = 64 * 1024;

// Reads "label,f1_hz,f2_hz[,voice]" lines; a first line naming the columns,
// blank lines and lines starting with '#' are skipped. Returns an empty
// string and fills Set, or one line saying what is wrong (Set is then left
// as it was).
std::string ParseReferenceCsv(std::string_view Text, std::vector<TReferenceVowel>& Set);

}  // namespace quenvis
