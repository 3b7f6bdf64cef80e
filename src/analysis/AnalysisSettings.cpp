#include "analysis/AnalysisSettings.h"

#include <cmath>
#include <limits>

namespace quenvis {

std::int32_t RoundToInt32(double Value) noexcept {
  if (std::isnan(Value)) return 0;
  const double r = std::nearbyint(Value);
  if (r <= static_cast<double>(std::numeric_limits<std::int32_t>::min()))
    return std::numeric_limits<std::int32_t>::min();
  if (r >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
    return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(r);
}

std::optional<double> OffsetFromPowerOffset(std::int32_t Value) noexcept {
  if (!PowerOffsetLimits.Contains(Value)) return std::nullopt;
  return static_cast<double>(Value);
}

std::optional<double> ScaleFromPowerRange(std::int32_t Value) noexcept {
  if (!PowerRangeLimits.Contains(Value)) return std::nullopt;
  if (Value >= 1) return 255.0 / Value;
  // Within the limits (1 - v) * 255 stays far below the int32 range.
  const std::int32_t product = (1 - Value) * 255;
  return static_cast<double>(product);
}

std::optional<float> FadeFromRemanance(std::int32_t Value) noexcept {
  if (!RemananceLimits.Contains(Value)) return std::nullopt;
  return static_cast<float>(FadeTab[static_cast<std::size_t>(Value)]);
}

std::optional<std::int32_t> ShiftFromFreqPlage(std::int32_t Value) noexcept {
  if (!FreqPlageLimits.Contains(Value)) return std::nullopt;
  return FreqShiftTab[static_cast<std::size_t>(Value)];
}

std::optional<double> ThresholdFromSeuil(std::int32_t Value, double Scale) noexcept {
  if (!SeuilLimits.Contains(Value)) return std::nullopt;
  return Value * Scale / 100;
}

std::optional<std::int32_t> BinFromHz(std::int32_t Hz, const TSpinLimits& Limits) noexcept {
  if (!Limits.Contains(Hz)) return std::nullopt;
  const std::int32_t product = Hz * 4096;  // at most 20000 * 4096, inside int32
  return RoundToInt32(product / 44100.0);
}

TAnalysisSettings StartupSettings() noexcept {
  // The initial values lie within their limits, so every rule gives a value.
  TAnalysisSettings s;
  s.FOffset = *OffsetFromPowerOffset(PowerOffsetLimits.Initial);
  s.FScale = *ScaleFromPowerRange(PowerRangeLimits.Initial);
  s.FFade = *FadeFromRemanance(RemananceLimits.Initial);
  s.FShift = *ShiftFromFreqPlage(FreqPlageLimits.Initial);
  s.FThreshold = *ThresholdFromSeuil(SeuilLimits.Initial, s.FScale);
  s.FZone1Lo = *BinFromHz(Zone1LoLimits.Initial, Zone1LoLimits);
  s.FZone1Hi = *BinFromHz(Zone1HiLimits.Initial, Zone1HiLimits);
  s.FZone2Lo = *BinFromHz(Zone2LoLimits.Initial, Zone2LoLimits);
  s.FZone2Hi = *BinFromHz(Zone2HiLimits.Initial, Zone2HiLimits);
  return s;
}

double FreqMaxForShift(std::int32_t Shift) noexcept {
  for (std::size_t i = 0; i < FreqShiftTab.size(); ++i)
    if (FreqShiftTab[i] == Shift) return FreqMaxTab[i];
  return FreqMaxTab[0];
}

}  // namespace quenvis
