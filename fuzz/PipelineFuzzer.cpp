// libFuzzer target: the whole per-block pipeline (analysis, trace, tracker,
// markers, plots, fade, rate) over random blocks with random settings, either
// raw records (any bit pattern) or records made by the panel's rules.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>

#include "analysis/AnalysisSettings.h"
#include "analysis/UFFT_iterative.h"
#include "analysis/UFFT_iterative_tabs.h"
#include "display/FrameRenderer.h"
#include "display/Surfaces.h"

namespace quenvis {
namespace {

// Enough blocks to carry settings changes and history across blocks while
// keeping each run short.
constexpr int MaxBlocks = 6;

// A violated invariant must stop the run like a sanitizer report does.
void Require(bool Condition) {
  if (!Condition) std::abort();
}

class CNoHost : public IFrameHost {
 public:
  void Present() override {}
  void UpdateCaption() override {}
  void ProcessMessages() override {}
  double TimeOfDay() override { return Time; }
  std::string FormatRate(double) override { return "0.00"; }
  double Time = 0;
};

// Raw bits half of the time, otherwise a value that often breaks arithmetic.
double AnyDouble(FuzzedDataProvider& In) {
  constexpr double Inf = std::numeric_limits<double>::infinity();
  static constexpr std::array<double, 12> Special = {0.0,
                                                     -0.0,
                                                     Inf,
                                                     -Inf,
                                                     std::numeric_limits<double>::quiet_NaN(),
                                                     std::numeric_limits<double>::max(),
                                                     -std::numeric_limits<double>::max(),
                                                     std::numeric_limits<double>::denorm_min(),
                                                     1e-300,
                                                     255.0,
                                                     2147483648.0,
                                                     -2147483649.0};
  if (In.ConsumeBool()) return std::bit_cast<double>(In.ConsumeIntegral<std::uint64_t>());
  return In.PickValueInArray(Special);
}

float AnyFloat(FuzzedDataProvider& In) {
  if (In.ConsumeBool()) return std::bit_cast<float>(In.ConsumeIntegral<std::uint32_t>());
  return static_cast<float>(AnyDouble(In));
}

std::int32_t AnyInt(FuzzedDataProvider& In) {
  static constexpr std::array<std::int32_t, 9> Special = {std::numeric_limits<std::int32_t>::min(),
                                                          std::numeric_limits<std::int32_t>::max(),
                                                          -1,
                                                          0,
                                                          1,
                                                          31,
                                                          32,
                                                          FFTSize - 1,
                                                          FFTSize};
  if (In.ConsumeBool()) return In.ConsumeIntegral<std::int32_t>();
  return In.PickValueInArray(Special);
}

TAnalysisSettings RawSettings(FuzzedDataProvider& In) {
  TAnalysisSettings s;
  s.FFade = AnyFloat(In);
  s.FShift = AnyInt(In);
  s.FZone1Lo = AnyInt(In);
  s.FZone1Hi = AnyInt(In);
  s.FZone1Peak = AnyInt(In);
  s.FZone2Lo = AnyInt(In);
  s.FZone2Hi = AnyInt(In);
  s.FZone2Peak = AnyInt(In);
  s.FScale = AnyDouble(In);
  s.FOffset = AnyDouble(In);
  s.FThreshold = AnyDouble(In);
  return s;
}

// A spin value inside its limits most of the time, anything otherwise.
std::int32_t PanelValue(FuzzedDataProvider& In, const TSpinLimits& Limits) {
  if (In.ConsumeIntegralInRange(0, 7) == 0) return AnyInt(In);
  return In.ConsumeIntegralInRange(Limits.Lower, Limits.Upper);
}

bool Finite(const TAnalysisSettings& s) {
  return std::isfinite(s.FFade) && std::isfinite(s.FScale) && std::isfinite(s.FOffset) &&
         std::isfinite(s.FThreshold);
}

bool InSpectrum(std::int32_t Bin) { return Bin >= 0 && Bin < FFTSize; }

// The panel's rules: a record for values inside the limits, finite, with a
// positive scale and every zone inside the spectrum; nothing otherwise, and
// then the previous record stays in force.
void PanelSettings(FuzzedDataProvider& In, TAnalysisSettings& Settings) {
  TPanelValues v;
  v.PowerOffset = PanelValue(In, PowerOffsetLimits);
  v.PowerRange = PanelValue(In, PowerRangeLimits);
  v.Remanance = PanelValue(In, RemananceLimits);
  v.FreqPlage = PanelValue(In, FreqPlageLimits);
  v.Seuil = PanelValue(In, SeuilLimits);
  v.Zone1Lo = PanelValue(In, Zone1LoLimits);
  v.Zone1Hi = PanelValue(In, Zone1HiLimits);
  v.Zone2Lo = PanelValue(In, Zone2LoLimits);
  v.Zone2Hi = PanelValue(In, Zone2HiLimits);
  const bool inside = PowerOffsetLimits.Contains(v.PowerOffset) &&
                      PowerRangeLimits.Contains(v.PowerRange) &&
                      RemananceLimits.Contains(v.Remanance) &&
                      FreqPlageLimits.Contains(v.FreqPlage) && SeuilLimits.Contains(v.Seuil) &&
                      Zone1LoLimits.Contains(v.Zone1Lo) && Zone1HiLimits.Contains(v.Zone1Hi) &&
                      Zone2LoLimits.Contains(v.Zone2Lo) && Zone2HiLimits.Contains(v.Zone2Hi);
  const auto made = SettingsFromPanel(v);
  Require(made.has_value() == inside);
  if (!made) return;
  const TAnalysisSettings& s = *made;
  Require(Finite(s) && s.FScale > 0);
  Require(InSpectrum(s.FZone1Lo) && InSpectrum(s.FZone1Hi) && InSpectrum(s.FZone2Lo) &&
          InSpectrum(s.FZone2Hi));
  Settings = s;
}

// Drawing and fading keep every pixel opaque. Left out of the coverage
// hooks: it only checks, and traced it would take most of the run time.
__attribute__((no_sanitize("coverage"))) bool AllOpaque(const TSurfaces& Surfaces) {
  std::uint32_t all = 0xFFFFFFFFu;
  for (const CBM32* s : Surfaces.All()) {
    const std::int64_t n = PixelCount(*s->Info);
    for (std::int64_t i = 0; i < n; ++i) all &= s->Info->Bits[i];
  }
  return (all >> 24) == 255;
}

struct TRig {
  TAnalysisSettings Settings = StartupSettings();
  TFrameRate Rate;
  CFFT_iterative FFT;
  TSurfaces Surfaces;
  CNoHost Host;
  CFrameRenderer Renderer{Settings, Rate, FFT, Surfaces, Host};
};

}  // namespace
}  // namespace quenvis

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  using namespace quenvis;
  FuzzedDataProvider in(Data, Size);
  auto rig = std::make_unique<TRig>();
  rig->FFT.Window = &TabHamming;
  // Start anywhere in the rate window, so the rate step runs within a few
  // blocks, with any clock readings.
  rig->Rate.FFrameCount = in.ConsumeBool() ? in.ConsumeIntegralInRange(0, RateBlocks) : AnyInt(in);
  rig->Rate.FRateLast = AnyDouble(in);
  rig->Host.Time = AnyDouble(in);

  std::array<std::uint8_t, BlockBytes> block{};
  for (int b = 0; b < MaxBlocks && in.remaining_bytes() > 0; ++b) {
    switch (in.ConsumeIntegralInRange(0, 2)) {
      case 0:
        break;  // settings unchanged
      case 1:
        rig->Settings = RawSettings(in);
        break;
      default:
        PanelSettings(in, rig->Settings);
        break;
    }
    // Any list position, including none (-1) and positions past the end.
    if (in.ConsumeBool()) rig->FFT.Window = &WindowTable(in.ConsumeIntegral<std::int8_t>());
    const std::int32_t frames = AnyInt(in);
    // A short remainder repeats, so small inputs still carry a waveform.
    const auto bytes = in.ConsumeBytes<std::uint8_t>(BlockBytes);
    for (std::size_t i = 0; i < block.size(); ++i)
      block[i] = bytes.empty() ? 0 : bytes[i % bytes.size()];

    std::int32_t done = -12345;
    rig->Renderer.RecorderData(block.data(), static_cast<std::int32_t>(block.size()), frames, done);
    Require(done == frames);
    const TZonePeaks& p = rig->Renderer.LastPeaks();
    Require((p.Zone1Peak == -1 || InSpectrum(p.Zone1Peak)) &&
            (p.Zone2Peak == -1 || InSpectrum(p.Zone2Peak)));
    Require(p.Found == (p.Zone1Peak >= 0 && p.Zone2Peak >= 0));
  }
  Require(AllOpaque(rig->Surfaces));
  return 0;
}
