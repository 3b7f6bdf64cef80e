#include "render/OfflineRender.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "display/FrameRenderer.h"
#include "render/RecordingReader.h"
#include "render/RenderOutputs.h"

namespace quenvis {

namespace {

namespace fs = std::filesystem;

// Offline nothing is shown: the loop draws and fades itself, so that the
// images of the last block can be saved before its fade.
class CNoHost : public IFrameHost {
 public:
  void Present() override {}
  void UpdateCaption() override {}
  void ProcessMessages() override {}
  double TimeOfDay() override { return 0; }
  std::string FormatRate(double) override { return {}; }
};

// Everything one recording's rendering holds.
struct TPipeline {
  explicit TPipeline(const TRenderOptions& Options) : Settings(Options.Settings) {
    FFT.Reset();
    FFT.Window = Options.Window;
  }
  TAnalysisSettings Settings;
  TFrameRate Rate;
  CFFT_iterative FFT;
  TSurfaces Surfaces;
  CNoHost Host;
  CFrameRenderer Renderer{Settings, Rate, FFT, Surfaces, Host};
  TSampleBlock Block{};
};

}  // namespace

std::string RenderRecording(const TRenderOptions& Options, bool ShowProgress) {
  CRecordingReader reader;
  if (std::string e = reader.Open(Options.Input); !e.empty()) return e;

  const fs::path outDir(Options.OutDir);
  std::error_code ec;
  fs::create_directories(outDir, ec);
  if (ec || !fs::is_directory(outDir, ec))
    return Options.OutDir + ": cannot create directory" + (ec ? ": " + ec.message() : "");

  COutputs outputs(outDir);
  CPeaksWriter peaks;
  if (!peaks.Open(outputs.Add("peaks.csv"))) return (outDir / "peaks.csv").string() + ": cannot write";
  std::unique_ptr<CPowerWriter> power;
  if (Options.WritePower) {
    power = std::make_unique<CPowerWriter>();
    if (!power->Open(outputs.Add("power.csv"))) return (outDir / "power.csv").string() + ": cannot write";
  }
  const std::string spectrumPath = outputs.Add("spectrum.png");
  const std::string plotPath = outputs.Add("plot.png");

  auto p = std::make_unique<TPipeline>(Options);
  const std::int64_t blocks = reader.Blocks();
  const bool progress = ShowProgress && blocks * BlockFrames > 5 * SampleRate;
  std::int64_t b = 0;
  for (std::int32_t frames = reader.Next(p->Block); frames > 0; ++b) {
    p->Renderer.Draw(p->Block.data());
    peaks.Add(b, p->Renderer.LastPeaks());
    if (power) power->Add(p->FFT.Power.data());
    if (progress && (b % 64 == 0 || b + 1 == blocks))
      std::fprintf(stderr, "\rquenvis-render: block %lld of %lld", static_cast<long long>(b + 1),
                   static_cast<long long>(blocks));
    frames = reader.Next(p->Block);
    // The images keep the last block's drawing unfaded.
    if (frames > 0) p->Renderer.Fade();
  }
  if (progress) std::fputs("\n", stderr);
  if (!reader.Error().empty()) return reader.Error();

  if (!SavePng(p->Surfaces.SpectrumBmp, spectrumPath) || !SavePng(p->Surfaces.PlotBmp1, plotPath))
    return Options.OutDir + ": cannot write the images";
  const bool written = peaks.Close() && (!power || power->Close());
  if (!written) return Options.OutDir + ": cannot write the tables (disk full?)";
  return outputs.Commit();
}

}  // namespace quenvis
