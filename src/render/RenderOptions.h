#pragma once
// Command line of quenvis-render. The options carry the side panel's values,
// units and limits and become the same settings record as the panel's.
#include <string>
#include <vector>

#include "analysis/AnalysisSettings.h"
#include "analysis/UFFT_iterative_tabs.h"

namespace quenvis {

struct TRenderOptions {
  bool Help = false;
  bool WritePower = false;
  std::string Input;
  std::string OutDir;
  TAnalysisSettings Settings;
  const TWindowTab* Window = &TabHamming;
};

// Fills Options from the arguments (without the program name). Returns an
// empty string, or one line naming the option or argument and what is wrong.
std::string ParseRenderOptions(const std::vector<std::string>& Args, TRenderOptions& Options);

std::string RenderUsage();

}  // namespace quenvis
