#include "chartdraw/ReferenceVowels.h"

#include <charconv>
#include <cmath>

namespace quenvis {

namespace {

struct TAverage {
  const char* Label;
  double F1[3], F2[3];  // man, woman, child
};

constexpr TAverage PetersonBarney[] = {
    {"i", {270, 310, 370}, {2290, 2790, 3200}},
    {"\u026A", {390, 430, 530}, {1990, 2480, 2730}},
    {"\u025B", {530, 610, 690}, {1840, 2330, 2610}},
    {"\u00E6", {660, 860, 1010}, {1720, 2050, 2320}},
    {"\u0251", {730, 850, 1030}, {1090, 1220, 1370}},
    {"\u0254", {570, 590, 680}, {840, 920, 1060}},
    {"\u028A", {440, 470, 560}, {1020, 1160, 1410}},
    {"u", {300, 370, 430}, {870, 950, 1170}},
    {"\u028C", {640, 760, 850}, {1190, 1400, 1590}},
    {"\u025D", {490, 500, 560}, {1350, 1640, 1820}},
};

// Plausible formant frequencies: anything outside is a typing error.
constexpr double MinHz = 50, MaxHz = 6000;
constexpr std::size_t MaxLabelBytes = 16;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

std::vector<std::string_view> Split(std::string_view Line) {
  std::vector<std::string_view> cells;
  for (std::size_t at = 0;;) {
    const std::size_t comma = Line.find(',', at);
    cells.push_back(Trim(Line.substr(at, comma == std::string_view::npos ? comma : comma - at)));
    if (comma == std::string_view::npos) return cells;
    at = comma + 1;
  }
}

std::optional<double> ParseHz(std::string_view Cell) {
  double v = 0;
  const auto [ptr, ec] = std::from_chars(Cell.data(), Cell.data() + Cell.size(), v);
  if (ec != std::errc() || ptr != Cell.data() + Cell.size() || Cell.empty()) return std::nullopt;
  return v;
}

// Printable text only, so a label cannot carry control characters into the chart.
bool PrintableLabel(std::string_view s) {
  if (s.empty() || s.size() > MaxLabelBytes) return false;
  for (const char c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  return true;
}

}  // namespace

std::vector<TReferenceVowel> BuiltInVowels(EVoice Voice) {
  const auto v = static_cast<std::size_t>(Voice);
  std::vector<TReferenceVowel> set;
  for (const TAverage& a : PetersonBarney) set.push_back({a.Label, a.F1[v], a.F2[v], Voice});
  return set;
}

std::vector<TReferenceVowel> VowelsFor(const std::vector<TReferenceVowel>& Set, EVoice Voice) {
  std::vector<TReferenceVowel> out;
  for (const TReferenceVowel& r : Set)
    if (!r.Voice || *r.Voice == Voice) out.push_back(r);
  return out;
}

std::string ParseReferenceCsv(std::string_view Text, std::vector<TReferenceVowel>& Set) {
  if (Text.size() > MaxReferenceBytes)
    return "the file is larger than " + std::to_string(MaxReferenceBytes / 1024) + " KiB";
  std::vector<TReferenceVowel> rows;
  std::size_t lineNo = 0;
  for (std::size_t at = 0; at <= Text.size();) {
    const std::size_t end = std::min(Text.find('\n', at), Text.size());
    const std::string_view line = Trim(Text.substr(at, end - at));
    at = end + 1;
    ++lineNo;
    if (line.empty() || line.front() == '#') continue;
    const std::vector<std::string_view> cells = Split(line);
    const std::string where = "line " + std::to_string(lineNo) + ": ";
    if (rows.empty() && lineNo == 1 && cells.size() >= 3 && !ParseHz(cells[1])) continue;  // header
    if (cells.size() < 3 || cells.size() > 4) return where + "expected label,f1_hz,f2_hz[,voice]";
    if (!PrintableLabel(cells[0])) return where + "the label must be 1 to 16 printable bytes";
    const auto f1 = ParseHz(cells[1]), f2 = ParseHz(cells[2]);
    if (!f1 || !f2) return where + "F1 and F2 must be numbers in Hz";
    if (!(*f1 >= MinHz && *f1 <= MaxHz && *f2 >= MinHz && *f2 <= MaxHz))
      return where + "F1 and F2 must lie between 50 and 6000 Hz";
    std::optional<EVoice> voice;
    if (cells.size() == 4 && !cells[3].empty()) {
      voice = ParseVoice(cells[3]);
      if (!voice) return where + "the voice must be man, woman or child";
    }
    if (rows.size() == MaxReferenceRows)
      return "more than " + std::to_string(MaxReferenceRows) + " vowels";
    rows.push_back({std::string(cells[0]), *f1, *f2, voice});
  }
  if (rows.empty()) return "no vowels in the file";
  Set = std::move(rows);
  return {};
}

}  // namespace quenvis
