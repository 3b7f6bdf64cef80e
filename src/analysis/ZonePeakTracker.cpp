#include "analysis/ZonePeakTracker.h"

#include <algorithm>
#include <cmath>

#include "analysis/AnalysisSettings.h"

namespace quenvis {

namespace {

constexpr std::int64_t LastBin = 4095;

struct TZoneBest {
  std::int32_t Bin = 0;
  double Level = 0.0;
  bool Peak = false;
};

// Strongest bin of [From, To]: strict comparisons, so ties keep the lower bin
// and -inf or NaN levels never win. Bins outside the spectrum do not exist and
// are not read. A zone whose bins all lose to the start value has no peak even
// when the threshold lies below that value.
TZoneBest StrongestBin(const double* Power, double Offset, double Threshold, std::int64_t From,
                       std::int64_t To) noexcept {
  TZoneBest result;
  double best = -1e30;
  bool won = false;
  for (std::int64_t j = std::max<std::int64_t>(From, 0), last = std::min(To, LastBin); j <= last;
       ++j) {
    const double d = Power[j] - Offset;
    if (d > best) {
      best = d;
      result.Level = d;
      result.Bin = static_cast<std::int32_t>(j);
      won = true;
    }
  }
  result.Peak = won && best > Threshold;
  return result;
}

// Moves Peak down to its lowest sub-octave above Lo whose rounded bin stands
// above the threshold. Once H has fallen to 1/2 every further halving would
// test bin 0 again and round to bin 0, so the descent stops there: this ends
// it for any bound, including a negative one.
std::int32_t SubOctaveDescent(const double* Power, double Offset, double Threshold,
                              std::int32_t Peak, std::int32_t Lo) noexcept {
  const double bound = Lo;
  double candidate = Peak;
  for (double h = Peak / 2.0; bound < h; h /= 2) {
    if (Power[RoundToInt32(h)] - Offset > Threshold) candidate = h;
    if (h <= 0.5) break;
  }
  return RoundToInt32(candidate);
}

}  // namespace

TZonePeaks TrackZonePeaks(const double* Power, double Offset, double Threshold,
                          std::int32_t Zone1Lo, std::int32_t Zone1Hi, std::int32_t Zone2Lo,
                          std::int32_t Zone2Hi) noexcept {
  TZonePeaks peaks;
  const TZoneBest zone1 = StrongestBin(Power, Offset, Threshold, Zone1Lo, Zone1Hi);
  peaks.Level1 = zone1.Level;
  if (!zone1.Peak) return peaks;
  peaks.Zone1Peak = SubOctaveDescent(Power, Offset, Threshold, zone1.Bin, Zone1Lo);

  const std::int64_t from = std::max<std::int64_t>(Zone2Lo, std::int64_t{peaks.Zone1Peak} + 1);
  const TZoneBest zone2 = StrongestBin(Power, Offset, Threshold, from, Zone2Hi);
  peaks.Level2 = zone2.Level;
  if (!zone2.Peak) return peaks;
  peaks.Zone2Peak = SubOctaveDescent(Power, Offset, Threshold, zone2.Bin, Zone2Lo);
  peaks.Found = true;
  return peaks;
}

}  // namespace quenvis
