#include "render/OfflineRender.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "analysis/FormantTracker.h"
#include "display/FrameRenderer.h"
#include "render/ChartImage.h"
#include "render/RecordingReader.h"
#include "render/RenderConsole.h"
#include "render/RenderOutputs.h"
#include "render/Sonogram.h"

namespace quenvis {

namespace {

// Everything one recording's rendering holds.
struct TPipeline {
  explicit TPipeline(const TRenderOptions& Options)
      : Settings(Options.Settings), Formants(Options.FormantVoice) {
    FFT.Reset();
    FFT.Window = Options.Window;
  }
  TAnalysisSettings Settings;
  TFrameRate Rate;
  CFFT_iterative FFT;
  TSurfaces Surfaces;
  // Nothing is shown: the loop draws and fades itself, so that the images of
  // the last block can be saved before its fade.
  CNoFrameHost Host;
  CFrameRenderer Renderer{Settings, Rate, FFT, Surfaces, Host};
  CFormantTracker Formants;
  TSampleBlock Block{};
};

// The zone peaks over the spectrogram: zone 1 in the live view's red, zone 2
// in white, which stands out on every colour of the map.
constexpr std::uint32_t Zone1TrackColour = 0xFFFF3030u;
constexpr std::uint32_t Zone2TrackColour = 0xFFFFFFFFu;
// The estimated formants of voiced blocks, in colours of their own.
constexpr std::uint32_t F1TrackColour = 0xFF00FFFFu;
constexpr std::uint32_t F2TrackColour = 0xFFFF00FFu;

std::string SpectrogramName(std::int64_t Page, std::int64_t Pages) {
  if (Pages == 1) return "spectrogram.png";
  char name[40];
  std::snprintf(name, sizeof name, "spectrogram-%03lld.png", static_cast<long long>(Page + 1));
  return name;
}

std::string SaveSpectrogram(const CSonogram& Spectrogram, COutputDir& Out) {
  std::vector<std::uint32_t> pixels;
  for (std::int64_t page = 0; page < Spectrogram.Pages(); ++page) {
    std::int32_t width = 0, height = 0;
    Spectrogram.RenderPage(page, pixels, width, height);
    const std::string name = SpectrogramName(page, Spectrogram.Pages());
    if (!SavePng(pixels.data(), width, height, Out.Add(name))) return name;
  }
  return {};
}

}  // namespace

std::string RenderRecording(const TRenderOptions& Options, const TRenderHooks& Hooks) {
  CRecordingReader reader;
  if (std::string e = reader.Open(Options.Input); !e.empty()) return e;

  COutputDir out;
  if (std::string e = out.Open(Options.OutDir); !e.empty()) return e;
  const std::string cannotWrite =
      (Options.OutDir.empty() ? "." : Options.OutDir) + ": cannot write ";
  CPeaksWriter peaks;
  if (!peaks.Open(out.Add("peaks.csv"))) return cannotWrite + "peaks.csv";
  CFormantsWriter formants;
  if (!formants.Open(out.Add("formants.csv"))) return cannotWrite + "formants.csv";
  std::unique_ptr<CPowerWriter> power;
  if (Options.WritePower) {
    const bool npy = Options.PowerFormat == TPowerFormat::Npy;
    power = npy ? std::make_unique<CNpyPowerWriter>() : std::make_unique<CPowerWriter>();
    const std::string name = npy ? "power.npy" : "power.csv";
    if (!power->Open(out.Add(name))) return cannotWrite + name;
  }

  auto p = std::make_unique<TPipeline>(Options);
  const std::int64_t expected = reader.ExpectedBlocks();
  CSonogram spectrogram(p->Settings);
  const std::size_t zone1Track = spectrogram.AddTrack(Zone1TrackColour);
  const std::size_t zone2Track = spectrogram.AddTrack(Zone2TrackColour);
  const std::size_t f1Track = spectrogram.AddTrack(F1TrackColour);
  const std::size_t f2Track = spectrogram.AddTrack(F2TrackColour);
  spectrogram.Reserve(expected);
  CChartImage chart(Options.Voice);
  chart.Reserve(expected);
  // The hop in frames, a multiple of 4 as the estimator's decimation needs.
  const int hop = 4 * static_cast<int>(std::nearbyint(Options.FormantStepMs * SampleRate / 4000.0));
  int sinceAnalysis = 0;
  std::int64_t consumed = 0, row = 0;
  std::int64_t b = 0;
  for (std::int32_t frames = reader.Next(p->Block); frames > 0; ++b) {
    if (Hooks.Stop && Hooks.Stop->load(std::memory_order_relaxed)) return "interrupted";
    p->Renderer.Draw(p->Block.data());
    const TZonePeaks& found = p->Renderer.LastPeaks();
    peaks.Add(b, found);
    if (power) power->Add(p->FFT.Power.data());
    spectrogram.AddColumn(p->FFT.Power.data());
    if (found.Found) {
      spectrogram.SetTrackPoint(zone1Track, found.Zone1Peak * double(SampleRate) / FFTSize);
      spectrogram.SetTrackPoint(zone2Track, found.Zone2Peak * double(SampleRate) / FFTSize);
    }
    TFormants estimate;
    if (hop == 0) {
      estimate = p->Formants.Process(p->Block.data());
      formants.Add(b, estimate);
    } else {
      // Analyses at every hop boundary within the block's frames.
      const int fed = (frames + 3) / 4 * 4;
      for (int at = 0; at < fed;) {
        const int n = std::min(fed - at, hop - sinceAnalysis);
        p->Formants.Feed(p->Block.data() + static_cast<std::size_t>(at) * 4, n);
        at += n;
        consumed += n;
        sinceAnalysis += n;
        if (sinceAnalysis < hop) continue;
        sinceAnalysis = 0;
        estimate = p->Formants.Analyse();
        const double centre =
            static_cast<double>(consumed - CFormantTracker::CentreLag) / SampleRate;
        if (centre >= 0) formants.AddAt(row++, centre, estimate);
      }
    }
    chart.Add(estimate);
    if (estimate.Voiced) {
      if (estimate.F[0] > 0) spectrogram.SetTrackPoint(f1Track, estimate.F[0]);
      if (estimate.F[1] > 0) spectrogram.SetTrackPoint(f2Track, estimate.F[1]);
    }
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
  if (std::string name = SaveSpectrogram(spectrogram, out); !name.empty())
    return cannotWrite + name;
  QImage chartImage = chart.Paint(Options.ChartWidth, Options.ChartHeight);
  if (chartImage.isNull()) return cannotWrite + "chart.png (cannot paint it)";
  if (!SavePng(std::move(chartImage), out.Add("chart.png"))) return cannotWrite + "chart.png";
  if (!peaks.Close() || !formants.Close() || (power && !power->Close()))
    return cannotWrite + "the tables (disk full?)";
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
  hooks.Progress = [&](std::int64_t Done, std::int64_t Expected) {
    console.Progress(Done, Expected);
  };
  std::string error = RenderRecording(Options, hooks);
  console.EndProgress();
  for (const std::string& n : notes) console.Line(n);
  return error;
}

}  // namespace quenvis
