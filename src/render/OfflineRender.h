#pragma once
// Runs the live view's per-block pipeline over a recording and writes the
// images of the last block and the per-block peaks (and power) as files.
#include <string>

#include "render/RenderOptions.h"

namespace quenvis {

// Returns an empty string on success, or one line naming the file and the
// reason. On failure OUTDIR receives none of the output files: everything is
// written under temporary names and renamed only once all of it succeeded.
// Progress goes to stderr when ShowProgress is set.
std::string RenderRecording(const TRenderOptions& Options, bool ShowProgress);

}  // namespace quenvis
