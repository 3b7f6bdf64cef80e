#pragma once
// Command line of quenvis-render. The options carry the side panel's values,
// units and limits and become the same settings record as the panel's.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analysis/AnalysisSettings.h"
#include "analysis/FormantTracker.h"
#include "analysis/UFFT_iterative_tabs.h"

namespace quenvis {

enum class TPowerFormat { Csv, Npy };

struct TRenderOptions {
  bool Help = false;
  bool Version = false;
  bool Quiet = false;
  bool WritePower = false;
  TPowerFormat PowerFormat = TPowerFormat::Csv;
  // The recording RenderRecording reads, and the folder it fills: OutDir,
  // or when OutSub is set the folder OutSub inside it (never a link).
  std::string Input;
  std::string OutDir;
  std::string OutSub;
  // Every input of the command line; with more than one, each renders into
  // OutDir/<InputOutputName(input)>.
  std::vector<std::string> Inputs;
  TAnalysisSettings Settings;
  const TWindowTab* Window = &TabHamming;
  // The reference vowels of chart.png; given with --voice, also the formant
  // estimator's ceiling (FormantVoice), which is otherwise chosen per voice.
  EVoice Voice = DefaultVoice;
  std::optional<EVoice> FormantVoice;
  // Formant analysis hop in ms; 0: one analysis per block.
  std::int32_t FormantStepMs = 0;
  std::int32_t ChartWidth = 800, ChartHeight = 600;
};

// --formant-step's limits in ms: phoneticians' steps up to about a block.
inline constexpr std::int32_t MinFormantStepMs = 5, MaxFormantStepMs = 40;

// chart.png's limits, each side, in pixels.
inline constexpr std::int32_t MinChartSide = 200, MaxChartSide = 8000;

// Fills Options from the arguments (without the program name). Returns an
// empty string, or one line naming the option or argument and what is wrong.
std::string ParseRenderOptions(const std::vector<std::string>& Args, TRenderOptions& Options);

std::string RenderUsage();

// The folder name an input renders into when there are several: its file
// name without the extension ("stdin" for "-").
std::string InputOutputName(const std::string& Input);

}  // namespace quenvis
