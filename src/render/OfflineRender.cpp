#include "render/OfflineRender.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <system_error>

#include "analysis/FormantPath.h"
#include "analysis/FormantSteps.h"
#include "analysis/FormantTracker.h"
#include "display/FrameRenderer.h"
#include "render/ChartImage.h"
#include "io/RecordingReader.h"
#include "render/RenderConsole.h"
#include "io/RenderOutputs.h"
#include "render/Sonogram.h"
#include "render/VoiceSummary.h"

namespace quenvis {

namespace {

// Everything one recording's rendering holds.
struct TPipeline {
  explicit TPipeline(const TRenderOptions& Options)
      : Settings(Options.Settings), Formants(Options.FormantVoice) {
    FFT.Reset();
    FFT.Window = Options.Window;
    // plot.png is the first plot; the other two are never saved.
    Renderer.DrawPlots(1);
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
  CVoiceMeasures Voice;
  TSampleBlock Block{};
};

// The zone peaks over the spectrogram: zone 1 in the live view's red, zone 2
// in white, which stands out on every colour of the map.
constexpr std::uint32_t Zone1TrackColour = 0xFFFF3030u;
constexpr std::uint32_t Zone2TrackColour = 0xFFFFFFFFu;
// The estimated formants of voiced blocks, in colours of their own.
constexpr std::uint32_t F1TrackColour = 0xFF00FFFFu;
constexpr std::uint32_t F2TrackColour = 0xFFFF00FFu;

std::string SpectrogramName(std::int64_t Page, bool Numbered) {
  if (!Numbered) return "spectrogram.png";
  char name[40];
  std::snprintf(name, sizeof name, "spectrogram-%03lld.png", static_cast<long long>(Page + 1));
  return name;
}

std::string CannotWrite(const COutputDir& Out, const std::string& Name, int Error) {
  return Out.Shown(Name) +
         ": cannot write: " + std::error_code(Error, std::generic_category()).message();
}

// Saves the spectrogram's current page; an empty string or the failure.
std::string SavePage(const CSonogram& Spectrogram, bool Numbered, COutputDir& Out,
                     std::vector<std::uint32_t>& Pixels) {
  std::int32_t width = 0, height = 0;
  Spectrogram.RenderPage(Pixels, width, height);
  const std::string name = SpectrogramName(Spectrogram.Page(), Numbered);
  const int error = SavePng(Pixels.data(), width, height, Out.Create(name));
  return error != 0 ? CannotWrite(Out, name, error) : std::string();
}

std::string Render(const TRenderOptions& Options, const TRenderHooks& Hooks) {
  const std::string input = InputName(Options.Input);
  auto stopped = [&] { return Hooks.Stop && Hooks.Stop->load(std::memory_order_relaxed); };
  CRecordingReader reader;
  reader.SetStop(Hooks.Stop);
  if (std::string e = reader.Open(Options.Input); !e.empty()) return e;
  if (stopped()) return input + ": interrupted";

  COutputDir out;
  if (std::string e = out.Open(Options.OutDir, Options.OutSub); !e.empty()) return e;
  CPeaksWriter peaks;
  if (!peaks.Open(out.Create("peaks.csv"))) return CannotWrite(out, "peaks.csv", errno);
  CFormantsWriter formants;
  if (!formants.Open(out.Create("formants.csv"))) return CannotWrite(out, "formants.csv", errno);
  CVoiceWriter voice;
  if (!voice.Open(out.Create("voice.csv"))) return CannotWrite(out, "voice.csv", errno);
  CVoiceSummary summary;
  std::unique_ptr<CPowerWriter> power;
  const bool npy = Options.PowerFormat == TPowerFormat::Npy;
  const std::string powerName = npy ? "power.npy" : "power.csv";
  if (Options.WritePower) {
    power = npy ? std::make_unique<CNpyPowerWriter>() : std::make_unique<CPowerWriter>();
    if (!power->Open(out.Create(powerName))) return CannotWrite(out, powerName, errno);
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> dots(out.Scratch("chart-dots"), &std::fclose);
  if (!dots) return CannotWrite(out, "chart.png", errno);

  auto p = std::make_unique<TPipeline>(Options);
  p->Formants.SetSourceRate(reader.SourceRate());
  // Only a hint for the progress line: nothing is sized from a header.
  const std::int64_t expected = reader.ExpectedBlocks();
  CSonogram spectrogram(p->Settings);
  const std::size_t zone1Track = spectrogram.AddTrack(Zone1TrackColour);
  const std::size_t zone2Track = spectrogram.AddTrack(Zone2TrackColour);
  const std::size_t f1Track = spectrogram.AddTrack(F1TrackColour);
  const std::size_t f2Track = spectrogram.AddTrack(F2TrackColour);
  CChartImage chart(Options.Voice, dots.get());
  std::vector<std::uint32_t> pixels;
  // A table that fails is named at once: a full disk ends the run there.
  auto tablesFailed = [&]() -> std::string {
    if (!peaks.Ok()) return CannotWrite(out, "peaks.csv", peaks.Error());
    if (!formants.Ok()) return CannotWrite(out, "formants.csv", formants.Error());
    if (!voice.Ok()) return CannotWrite(out, "voice.csv", voice.Error());
    if (power && !power->Ok()) return CannotWrite(out, powerName, power->Error());
    return {};
  };
  std::optional<CFormantSteps> steps;
  std::optional<CFormantPath> path;
  if (Options.FormantStepMs > 0) {
    steps.emplace(p->Formants, Options.FormantStepMs);
    path.emplace(Options.FormantStepMs);
    p->Formants.FitDenser(true);
  }
  // The analyses at a step are written as the path over each voiced stretch
  // chose them (the voice measures keep the causal estimates they rode on).
  const auto addRow = [&](std::int64_t Row, double Centre, const TFormants& f) {
    formants.AddAt(Row, Centre, f);
  };
  std::int64_t b = 0;
  for (std::int32_t frames = reader.Next(p->Block); frames > 0; ++b) {
    if (stopped()) return input + ": interrupted";
    p->Renderer.Draw(p->Block.data());
    const TZonePeaks& found = p->Renderer.LastPeaks();
    peaks.Add(b, found);
    if (power) power->Add(p->FFT.Power.data());
    // A full page is saved before the next column starts a new one.
    if (spectrogram.PageFull())
      if (std::string e = SavePage(spectrogram, true, out, pixels); !e.empty()) return e;
    spectrogram.AddColumn(p->FFT.Power.data());
    if (found.Found) {
      spectrogram.SetTrackPoint(zone1Track, found.Zone1Peak * double(SampleRate) / FFTSize);
      spectrogram.SetTrackPoint(zone2Track, found.Zone2Peak * double(SampleRate) / FFTSize);
    }
    TFormants estimate;
    if (!steps) {
      estimate = p->Formants.Process(p->Block.data());
      formants.Add(b, estimate);
      const TVoice measures = p->Voice.Process(p->Block.data(), estimate, &p->Formants);
      voice.Add(b, measures);
      summary.Add(measures);
    } else {
      steps->Feed(
          p->Block.data(), frames,
          [&](const unsigned char* Data, int Frames) {
            p->Voice.Feed(Data, Frames, &p->Formants);
          },
          [&](bool Reported, std::int64_t Row, double Centre, const TFormants& f) {
            const TVoice measures = p->Voice.Analyse(f, &p->Formants);
            if (!Reported) return;
            path->Add(Row, Centre, f, p->Formants.Candidates(), addRow);
            voice.AddAt(Row, Centre, measures);
            summary.Add(measures);
          });
      estimate = steps->Last();
    }
    if (!chart.Add(estimate)) return CannotWrite(out, "chart.png", errno);
    if (estimate.Voiced) {
      if (estimate.F[0] > 0) spectrogram.SetTrackPoint(f1Track, estimate.F[0]);
      if (estimate.F[1] > 0) spectrogram.SetTrackPoint(f2Track, estimate.F[1]);
    }
    if (std::string e = tablesFailed(); !e.empty()) return e;
    if (Hooks.Progress) Hooks.Progress(b + 1, expected);
    frames = reader.Next(p->Block);
    // The images keep the last block's drawing unfaded.
    if (frames > 0) p->Renderer.Fade();
  }
  if (!reader.Error().empty()) return reader.Error();
  if (stopped()) return input + ": interrupted";

  if (const int e = SavePng(p->Surfaces.SpectrumBmp, out.Create("spectrum.png")); e != 0)
    return CannotWrite(out, "spectrum.png", e);
  if (const int e = SavePng(p->Surfaces.PlotBmp1, out.Create("plot.png")); e != 0)
    return CannotWrite(out, "plot.png", e);
  if (std::string e = SavePage(spectrogram, spectrogram.Page() > 0, out, pixels); !e.empty())
    return e;
  if (stopped()) return input + ": interrupted";
  QImage chartImage = chart.Paint(Options.ChartWidth, Options.ChartHeight, Hooks.Stop);
  if (stopped()) return input + ": interrupted";
  if (chartImage.isNull()) return out.Shown("chart.png") + ": cannot paint it";
  if (const int e = SavePng(std::move(chartImage), out.Create("chart.png")); e != 0)
    return CannotWrite(out, "chart.png", e);
  if (!summary.Write(out.Create("summary.csv"))) return CannotWrite(out, "summary.csv", errno);
  if (path) path->Finish(addRow);
  peaks.Close();
  formants.Close();
  voice.Close();
  if (power) power->Close();
  if (std::string e = tablesFailed(); !e.empty()) return e;
  if (stopped()) return input + ": interrupted";
  if (std::string e = out.Commit(); !e.empty()) return e;
  if (Hooks.VoiceLine) {
    const std::string line = summary.Line();
    *Hooks.VoiceLine = line.empty() ? line : input + ": " + line;
  }
  if (Hooks.Notes) {
    for (std::string& n : reader.Notes()) Hooks.Notes->push_back(std::move(n));
    for (const std::string& n : out.Notes()) Hooks.Notes->push_back(n);
  }
  return {};
}

}  // namespace

std::string RenderRecording(const TRenderOptions& Options, const TRenderHooks& Hooks) {
  // Whatever runs out (memory, most likely) ends this input with a line,
  // not the program.
  try {
    return Render(Options, Hooks);
  } catch (const std::bad_alloc&) {
    return InputName(Options.Input) + ": out of memory";
  } catch (const std::exception& e) {
    return InputName(Options.Input) + ": " + e.what();
  }
}

std::string RenderRecording(const TRenderOptions& Options, bool ShowProgress) {
  CConsole console(STDERR_FILENO, ShowProgress && ::isatty(STDERR_FILENO));
  std::vector<std::string> notes;
  std::string voice;
  TRenderHooks hooks;
  hooks.Notes = &notes;
  hooks.VoiceLine = &voice;
  hooks.Progress = [&](std::int64_t Done, std::int64_t Expected) {
    console.Progress(Done, Expected);
  };
  std::string error = RenderRecording(Options, hooks);
  console.EndProgress();
  for (const std::string& n : notes) console.Line(n);
  if (console.ShowsProgress() && !voice.empty()) console.Line(voice);
  return error;
}

}  // namespace quenvis
