#pragma once
// The per-block pipeline: analyse a block, draw the spectrum trace with its
// markers, guides and threshold line, mark the tracked pair in the three
// plots, present, fade, and keep the block rate up to date.
#include <cstdint>
#include <string>

#include "analysis/AnalysisSettings.h"
#include "analysis/UFFT_iterative.h"
#include "analysis/ZonePeakTracker.h"
#include "display/DXCommon.h"
#include "display/Fade.h"
#include "display/Surfaces.h"

namespace quenvis {

struct TFrameRate {
  std::string FRateText;
  double FRateNow = 0, FRateLast = 0;
  std::int32_t FFrameCount = 0;
};

// What the renderer needs from the window that shows its images.
class IFrameHost {
 public:
  virtual ~IFrameHost() = default;
  // Copies the four surfaces into the window at once, before returning.
  virtual void Present() = 0;
  virtual void UpdateCaption() = 0;
  // Dispatches pending events; this may run a nested RecorderData.
  virtual void ProcessMessages() = 0;
  // Local time of day as a fraction of a day.
  virtual double TimeOfDay() = 0;
  // Blocks per second with the pattern "0.00" in the user's locale.
  virtual std::string FormatRate(double BlocksPerSecond) = 0;
};

// A host that shows nothing and has no clock: for callers that draw offline
// (rendering recordings, benchmarks, fuzzing).
class CNoFrameHost : public IFrameHost {
 public:
  void Present() override {}
  void UpdateCaption() override {}
  void ProcessMessages() override {}
  double TimeOfDay() override { return 0; }
  std::string FormatRate(double) override { return {}; }
};

// Pen colours: trace, zone 1 (guides, marker, threshold line), zone 2, plot mark.
inline constexpr std::uint32_t TraceColour = MakeColor(255, 0, 255, 0);
inline constexpr std::uint32_t Zone1Colour = MakeColor(128, 255, 0, 0);
inline constexpr std::uint32_t Zone2Colour = MakeColor(128, 0, 0, 255);
inline constexpr std::uint32_t PlotColour = MakeColor(255, 255, 255, 0);

// The block rate is measured over this many blocks.
inline constexpr std::int32_t RateBlocks = 81;

class CFrameRenderer {
 public:
  CFrameRenderer(TAnalysisSettings& Settings, TFrameRate& Rate, CFFT_iterative& FFT,
                 TSurfaces& Surfaces, IFrameHost& Host);

  // The recorder's data handler. Always analyses the full block at Data;
  // Bytes and Frames do not limit it. On return Done holds Frames.
  void RecorderData(const void* Data, std::int32_t Bytes, std::int32_t Frames, std::int32_t& Done);

  // x of a bin on the trace: Shift < 0 shifts left, Shift > 0 shifts right
  // (logically). A left shift that leaves the 32-bit range saturates.
  static std::int32_t BinToX(std::int32_t Shift, std::int32_t Bin) noexcept;

  // The parts of RecorderData before and after presentation, for callers
  // that present differently (and for measuring them).
  void Draw(const void* Data);
  void Fade() noexcept;

  // Results of the latest Draw: the tracker's output, and whether the plots
  // received a mark.
  const TZonePeaks& LastPeaks() const noexcept { return FLastPeaks; }
  bool LastPlotMark() const noexcept { return FLastPlotMark; }

  // How many of the plots, from the left, are drawn and faded (all three
  // unless told): a caller that saves only the first need not keep the rest.
  void DrawPlots(int Count) noexcept { FPlots = Count < 0 ? 0 : Count > 3 ? 3 : Count; }

 private:
  TAnalysisSettings& FSettings;
  TFrameRate& FRate;
  CFFT_iterative& FFFT;
  TSurfaces& FSurfaces;
  IFrameHost& FHost;
  TZonePeaks FLastPeaks;
  bool FLastPlotMark = false;
  int FPlots = 3;
  // The fade for the factor last used; remade only when the factor changes.
  CFade FFadeOp{0.0f};
  std::uint32_t FFadeBits = 0;
};

}  // namespace quenvis
