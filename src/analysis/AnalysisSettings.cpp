#include "analysis/AnalysisSettings.h"

#include <cmath>
#include <limits>

#include "analysis/DecimalRounding.h"

namespace quenvis {

std::optional<double> OffsetFromPowerOffset(std::int32_t Value) noexcept {
  if (!PowerOffsetLimits.Contains(Value)) return std::nullopt;
  return static_cast<double>(Value);
}

std::optional<double> ScaleFromPowerRange(std::int32_t Value) noexcept {
  if (!PowerRangeLimits.Contains(Value)) return std::nullopt;
  if (Value >= 1) return ExtendedQuotient(255, 0, static_cast<std::uint64_t>(Value));
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
  if (Value == 0 || !(Scale > 0) || !std::isfinite(Scale)) return Value * Scale / 100;
  // The product Value * Scale is exact in 64 bits (7 + 53); only the division rounds.
  int exponent = 0;
  const double mantissa = std::frexp(Scale, &exponent);
  const auto m = static_cast<std::uint64_t>(std::ldexp(mantissa, 53));
  return ExtendedQuotient(static_cast<std::uint64_t>(Value) * m, exponent - 53, 100);
}

std::optional<std::int32_t> BinFromHz(std::int32_t Hz, const TSpinLimits& Limits) noexcept {
  if (!Limits.Contains(Hz)) return std::nullopt;
  const std::int32_t product = Hz * FFTSize;  // at most 20000 * 4096, inside int32
  return RoundToInt32(product / static_cast<double>(SampleRate));
}

std::optional<TAnalysisSettings> SettingsFromPanel(const TPanelValues& v) noexcept {
  TAnalysisSettings s;
  const auto offset = OffsetFromPowerOffset(v.PowerOffset);
  const auto scale = ScaleFromPowerRange(v.PowerRange);
  const auto fade = FadeFromRemanance(v.Remanance);
  const auto shift = ShiftFromFreqPlage(v.FreqPlage);
  if (!offset || !scale || !fade || !shift) return std::nullopt;
  const auto threshold = ThresholdFromSeuil(v.Seuil, *scale);
  const auto z1Lo = BinFromHz(v.Zone1Lo, Zone1LoLimits);
  const auto z1Hi = BinFromHz(v.Zone1Hi, Zone1HiLimits);
  const auto z2Lo = BinFromHz(v.Zone2Lo, Zone2LoLimits);
  const auto z2Hi = BinFromHz(v.Zone2Hi, Zone2HiLimits);
  if (!threshold || !z1Lo || !z1Hi || !z2Lo || !z2Hi) return std::nullopt;
  s.FOffset = *offset;
  s.FScale = *scale;
  s.FFade = *fade;
  s.FShift = *shift;
  s.FThreshold = *threshold;
  s.FZone1Lo = *z1Lo;
  s.FZone1Hi = *z1Hi;
  s.FZone2Lo = *z2Lo;
  s.FZone2Hi = *z2Hi;
  return s;
}

TAnalysisSettings StartupSettings() noexcept {
  // The initial values lie within their limits.
  return *SettingsFromPanel(TPanelValues{});
}

double FreqMaxForShift(std::int32_t Shift) noexcept {
  for (std::size_t i = 0; i < FreqShiftTab.size(); ++i)
    if (FreqShiftTab[i] == Shift) return FreqMaxTab[i];
  return FreqMaxTab[0];
}

}  // namespace quenvis
