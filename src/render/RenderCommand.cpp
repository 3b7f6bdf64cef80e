#include "render/RenderCommand.h"

#include <unistd.h>

#include <cstdio>

#include "render/OfflineRender.h"
#include "render/RenderConsole.h"
#include "render/RenderOptions.h"

namespace quenvis {

int RunRenderCommand(const std::vector<std::string>& Args, int ErrFd,
                     const std::atomic<bool>* Stop) {
  CConsole console(ErrFd, ::isatty(ErrFd) != 0);
  TRenderOptions options;
  if (std::string error = ParseRenderOptions(Args, options); !error.empty()) {
    console.Line(error);
    return 2;
  }
  if (options.Help) {
    const std::string usage = RenderUsage();
    std::fwrite(usage.data(), 1, usage.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 2;
  }

  std::vector<std::string> notes;
  TRenderHooks hooks;
  hooks.Notes = &notes;
  hooks.Stop = Stop;
  hooks.Progress = [&](std::int64_t Done, std::int64_t Expected) {
    console.Progress(Done, Expected);
  };
  const std::string error = RenderRecording(options, hooks);
  console.EndProgress();
  for (const std::string& n : notes) console.Line(n);
  if (error.empty()) return 0;
  console.Line(error);
  return 2;
}

}  // namespace quenvis
