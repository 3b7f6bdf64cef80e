#include "chartdraw/NoteGrid.h"

#include <algorithm>
#include <cmath>

#include "analysis/Common.h"

namespace quenvis {

namespace {

constexpr const char* Names[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
constexpr bool Natural[12] = {true, false, true, false, true, true,
                              false, true, false, true, false, true};
// Pixels between neighbouring lines and labels below which a finer level is
// too dense to read.
constexpr double SemitoneLines = 8, NaturalLines = 4, NaturalLabels = 13, OctaveLabels = 12;

}  // namespace

std::string NoteLabel(int Midi) {
  const int m = std::clamp(Midi, 0, 127);
  return std::string(Names[m % 12]) + std::to_string(m / 12 - 1);
}

double NoteHz(int Midi) noexcept { return 440.0 * std::exp2((Midi - 69) / 12.0); }

int NearestNote(double Hz) noexcept {
  if (!(Hz > 0) || !std::isfinite(Hz)) return 0;
  const double midi = std::clamp(69 + 12 * std::log2(Hz / 440), 0.0, 127.0);
  return RoundToInt32(midi);
}

std::vector<TNoteLine> NoteGrid(double LowHz, double HighHz, double PixelsPerOctave) {
  std::vector<TNoteLine> lines;
  if (!(LowHz > 0 && HighHz > LowHz && PixelsPerOctave > 0) || !std::isfinite(HighHz) ||
      !std::isfinite(PixelsPerOctave))
    return lines;
  const double semitone = PixelsPerOctave / 12;
  const int first = std::max(0, static_cast<int>(std::ceil(69 + 12 * std::log2(LowHz / 440) - 1e-9)));
  const int last = std::min(127, static_cast<int>(std::floor(69 + 12 * std::log2(HighHz / 440) + 1e-9)));
  for (int m = first; m <= last; ++m) {
    const int pc = m % 12;
    const bool line = semitone >= SemitoneLines || (semitone >= NaturalLines && Natural[pc]) || pc == 0;
    if (!line) continue;
    const bool label = (semitone >= NaturalLabels && Natural[pc]) ||
                       (pc == 0 && PixelsPerOctave >= OctaveLabels);
    lines.push_back({m, NoteHz(m), label ? NoteLabel(m) : std::string(), pc == 0});
  }
  return lines;
}

}  // namespace quenvis
