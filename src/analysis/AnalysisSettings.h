#pragma once
// The analysis settings record and the rules that turn the side panel's
// integer values into it. Shared by the window and by offline rendering.
#include <array>
#include <cstdint>
#include <optional>

#include "analysis/Common.h"

namespace quenvis {

struct TAnalysisSettings {
  float FFade = 0.0f;
  std::int32_t FShift = 0;
  std::int32_t FZone1Lo = 0;
  std::int32_t FZone1Hi = 0;
  std::int32_t FZone1Peak = 0;
  std::int32_t FZone2Lo = 0;
  std::int32_t FZone2Hi = 0;
  std::int32_t FZone2Peak = 0;
  double FScale = 0.0;
  double FOffset = 0.0;
  double FThreshold = 0.0;
};

inline constexpr std::array<std::int32_t, 4> FreqShiftTab = {-1, 0, 1, 2};
inline constexpr std::array<double, 4> FreqMaxTab = {5000, 10000, 20000, 40000};
inline constexpr std::array<double, 12> FadeTab = {0,   0.1, 0.2, 0.3, 0.4,  0.5,
                                                   0.6, 0.7, 0.8, 0.9, 0.95, 0.99};

struct TSpinLimits {
  std::int32_t Lower;
  std::int32_t Upper;
  std::int32_t Initial;
  constexpr bool Contains(std::int32_t v) const { return v >= Lower && v <= Upper; }
};

inline constexpr TSpinLimits PowerOffsetLimits{-10000, 10000, 0};
inline constexpr TSpinLimits PowerRangeLimits{-10000, 10000, 10};
inline constexpr TSpinLimits RemananceLimits{0, 11, 10};
inline constexpr TSpinLimits FreqPlageLimits{0, 3, 0};
inline constexpr TSpinLimits SeuilLimits{0, 100, 2};
inline constexpr TSpinLimits Zone1LoLimits{10, 20000, 110};
inline constexpr TSpinLimits Zone1HiLimits{10, 20000, 850};
inline constexpr TSpinLimits Zone2LoLimits{10, 20000, 600};
inline constexpr TSpinLimits Zone2HiLimits{10, 20000, 2250};

// Each rule returns nothing when the value lies outside its control's limits
// (as it can while the user types): the field then keeps its previous value.
// Within the limits every result is finite, every scale positive and every
// bin inside the spectrum.
std::optional<double> OffsetFromPowerOffset(std::int32_t Value) noexcept;
std::optional<double> ScaleFromPowerRange(std::int32_t Value) noexcept;
std::optional<float> FadeFromRemanance(std::int32_t Value) noexcept;
std::optional<std::int32_t> ShiftFromFreqPlage(std::int32_t Value) noexcept;
std::optional<double> ThresholdFromSeuil(std::int32_t Value, double Scale) noexcept;
// Zone limit in Hz to a bin; Limits are the control's own.
std::optional<std::int32_t> BinFromHz(std::int32_t Hz, const TSpinLimits& Limits) noexcept;

// The nine spin-field values of the side panel, initial values by default.
struct TPanelValues {
  std::int32_t PowerOffset = PowerOffsetLimits.Initial;
  std::int32_t PowerRange = PowerRangeLimits.Initial;
  std::int32_t Remanance = RemananceLimits.Initial;
  std::int32_t FreqPlage = FreqPlageLimits.Initial;
  std::int32_t Seuil = SeuilLimits.Initial;
  std::int32_t Zone1Lo = Zone1LoLimits.Initial;
  std::int32_t Zone1Hi = Zone1HiLimits.Initial;
  std::int32_t Zone2Lo = Zone2LoLimits.Initial;
  std::int32_t Zone2Hi = Zone2HiLimits.Initial;
};

// The record the rules make from Values in the window's start-up order (the
// threshold is scaled by the range already in force); nothing when a value
// lies outside its limits.
std::optional<TAnalysisSettings> SettingsFromPanel(const TPanelValues& Values) noexcept;

// The record as the controls' initial values make it.
TAnalysisSettings StartupSettings() noexcept;

// Upper end, in Hz, of the displayed range for a frequency-range shift.
double FreqMaxForShift(std::int32_t Shift) noexcept;

}  // namespace quenvis
