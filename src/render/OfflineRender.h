#pragma once
// Runs the live view's per-block pipeline and the formant estimator over a
// recording and writes the images of the last block, the spectrogram, the
// vowel chart, the per-block peaks, formants and voice measures (and power)
// as files, and a summary of the voice measures.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "render/RenderOptions.h"

namespace quenvis {

struct TRenderHooks {
  // Called on the rendering thread after each block with the blocks done and
  // the blocks expected (-1 when the input does not say).
  std::function<void(std::int64_t Done, std::int64_t Expected)> Progress;
  // Receives lines for the user (resampling, a file that ended early), only
  // when the rendering succeeded.
  std::vector<std::string>* Notes = nullptr;
  // Receives the voice measures' summary line ("NAME: voice (medians): ..."),
  // empty when nothing was voiced, only when the rendering succeeded.
  std::string* VoiceLine = nullptr;
  // When it becomes true the rendering stops and leaves nothing behind.
  const std::atomic<bool>* Stop = nullptr;
};

// Returns an empty string on success, or one line naming the file and the
// reason. OUTDIR receives all of the output files or, on failure, none; the
// outputs an earlier run left there that this one does not make are removed.
std::string RenderRecording(const TRenderOptions& Options, const TRenderHooks& Hooks);

// The same, with the notes and (when ShowProgress is set and stderr is a
// terminal) a progress line on stderr, ending with the voice summary.
std::string RenderRecording(const TRenderOptions& Options, bool ShowProgress);

}  // namespace quenvis
