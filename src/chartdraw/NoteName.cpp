#include "chartdraw/NoteName.h"

#include <cmath>

#include "analysis/Common.h"

namespace quenvis {

std::string NoteName(double Hz) {
  if (!(Hz >= 20 && Hz <= 20000)) return {};
  static constexpr const char* Names[12] = {"C",  "C#", "D",  "D#", "E",  "F",
                                            "F#", "G",  "G#", "A",  "A#", "B"};
  const double midi = 69 + 12 * std::log2(Hz / 440);
  const std::int32_t note = RoundToInt32(midi);
  const std::int32_t cents = RoundToInt32((midi - note) * 100);
  const std::string sign = cents < 0 ? "-" : "+";
  return std::string(Names[note % 12]) + std::to_string(note / 12 - 1) + " " + sign +
         std::to_string(cents < 0 ? -cents : cents);
}

}  // namespace quenvis
