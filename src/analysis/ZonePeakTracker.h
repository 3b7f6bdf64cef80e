#pragma once
// Finds one dominant peak in each of two frequency zones of a log-power spectrum.
#include <cstdint>

namespace quenvis {

struct TZonePeaks {
  std::int32_t Zone1Peak = -1;  // bin after the sub-octave descent, -1 when none
  std::int32_t Zone2Peak = -1;
  double Level1 = 0.0;  // level of the strongest bin, before the descent
  double Level2 = 0.0;
  bool Found = false;  // both zones produced a peak
};

// Power: 4096 log-power bins. Zone limits are inclusive bins; reversed or
// empty zones find nothing, and no bin outside 0..4095 is ever read.
TZonePeaks TrackZonePeaks(const double* Power, double Offset, double Threshold,
                          std::int32_t Zone1Lo, std::int32_t Zone1Hi, std::int32_t Zone2Lo,
                          std::int32_t Zone2Hi) noexcept;

}  // namespace quenvis
