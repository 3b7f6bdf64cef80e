#include "render/OfflineRender.h"

#include <unistd.h>

#include <memory>

#include "display/FrameRenderer.h"
#include "render/RecordingReader.h"
#include "render/RenderConsole.h"
#include "render/RenderOutputs.h"

namespace quenvis {

namespace {

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

std::string RenderRecording(const TRenderOptions& Options, const TRenderHooks& Hooks) {
  CRecordingReader reader;
  if (std::string e = reader.Open(Options.Input); !e.empty()) return e;

  COutputDir out;
  if (std::string e = out.Open(Options.OutDir); !e.empty()) return e;
  const std::string cannotWrite = (Options.OutDir.empty() ? "." : Options.OutDir) + ": cannot write ";
  CPeaksWriter peaks;
  if (!peaks.Open(out.Add("peaks.csv"))) return cannotWrite + "peaks.csv";
  std::unique_ptr<CPowerWriter> power;
  if (Options.WritePower) {
    power = std::make_unique<CPowerWriter>();
    if (!power->Open(out.Add("power.csv"))) return cannotWrite + "power.csv";
  }

  auto p = std::make_unique<TPipeline>(Options);
  const std::int64_t expected = reader.ExpectedBlocks();
  std::int64_t b = 0;
  for (std::int32_t frames = reader.Next(p->Block); frames > 0; ++b) {
    if (Hooks.Stop && Hooks.Stop->load(std::memory_order_relaxed)) return "interrupted";
    p->Renderer.Draw(p->Block.data());
    peaks.Add(b, p->Renderer.LastPeaks());
    if (power) power->Add(p->FFT.Power.data());
    if (Hooks.Progress) Hooks.Progress(b + 1, expected);
    frames = reader.Next(p->Block);
    // The images keep the last block's drawing unfaded.
    if (frames > 0) p->Renderer.Fade();
  }
  if (!reader.Error().empty()) return reader.Error();
  if (Hooks.Stop && Hooks.Stop->load()) return "interrupted";

  if (!SavePng(p->Surfaces.SpectrumBmp, out.Add("spectrum.png")) ||
      !SavePng(p->Surfaces.PlotBmp1, out.Add("plot.png")))
    return cannotWrite + "the images";
  if (!peaks.Close() || (power && !power->Close())) return cannotWrite + "the tables (disk full?)";
  if (std::string e = out.Commit(); !e.empty()) return e;
  if (Hooks.Notes)
    for (std::string& n : reader.Notes()) Hooks.Notes->push_back(std::move(n));
  return {};
}

std::string RenderRecording(const TRenderOptions& Options, bool ShowProgress) {
  CConsole console(STDERR_FILENO, ShowProgress && ::isatty(STDERR_FILENO));
  std::vector<std::string> notes;
  TRenderHooks hooks;
  hooks.Notes = &notes;
  hooks.Progress = [&](std::int64_t Done, std::int64_t Expected) { console.Progress(Done, Expected); };
  std::string error = RenderRecording(Options, hooks);
  console.EndProgress();
  for (const std::string& n : notes) console.Line(n);
  return error;
}

}  // namespace quenvis
