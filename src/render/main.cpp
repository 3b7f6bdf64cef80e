// quenvis-render: the live view's analysis and drawing, run over a recording.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "render/OfflineRender.h"
#include "render/RenderOptions.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  quenvis::TRenderOptions options;
  std::string error = quenvis::ParseRenderOptions(args, options);
  if (error.empty() && options.Help) {
    std::fputs(quenvis::RenderUsage().c_str(), stdout);
    return 0;
  }
  if (error.empty()) error = quenvis::RenderRecording(options, ::isatty(STDERR_FILENO) != 0);
  if (!error.empty()) {
    std::fprintf(stderr, "quenvis-render: %s\n", error.c_str());
    return 2;
  }
  return 0;
}
