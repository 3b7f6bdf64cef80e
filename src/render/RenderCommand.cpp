#include "render/RenderCommand.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <thread>

#include "render/OfflineRender.h"
#include "render/RenderConsole.h"
#include "render/RenderOptions.h"

namespace quenvis {

namespace {

bool PrintToStdout(const std::string& Text) {
  return std::fwrite(Text.data(), 1, Text.size(), stdout) == Text.size() &&
         std::fflush(stdout) == 0;
}

// The blocks of all inputs together, for one progress line. The total is
// known once every input has said how long it is.
class CProgressSum {
 public:
  CProgressSum(CConsole& Console, std::size_t Inputs)
      : FConsole(Console), FDone(Inputs, 0), FExpected(Inputs, -1) {}
  void Update(std::size_t Input, std::int64_t Done, std::int64_t Expected) {
    std::int64_t done = 0, expected = 0;
    {
      const std::lock_guard lock(FMutex);
      FDone[Input] = Done;
      FExpected[Input] = Expected;
      for (std::size_t i = 0; i < FDone.size(); ++i) {
        done += FDone[i];
        expected = expected < 0 || FExpected[i] < 0 ? -1 : expected + FExpected[i];
      }
    }
    FConsole.Progress(done, expected);
  }

 private:
  CConsole& FConsole;
  std::mutex FMutex;
  std::vector<std::int64_t> FDone, FExpected;
};

}  // namespace

int RunRenderCommand(const std::vector<std::string>& Args, int ErrFd,
                     const std::atomic<bool>* Stop) {
  TRenderOptions options;
  const std::string parseError = ParseRenderOptions(Args, options);
  CConsole console(ErrFd, !options.Quiet && ::isatty(ErrFd) != 0);
  if (!parseError.empty()) {
    console.Line(parseError);
    return 2;
  }
  if (options.Help || options.Version) {
    const bool ok =
        PrintToStdout(options.Help ? RenderUsage() : "quenvis-render " QUENVIS_VERSION "\n");
    return ok ? 0 : 2;
  }

  // With several inputs each gets a folder of its own, and the inputs are
  // spread over the cores; a failure does not stop the others.
  const std::size_t count = options.Inputs.size();
  CProgressSum progress(console, count);
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  auto work = [&] {
    for (std::size_t i = next++; i < count; i = next++) {
      TRenderOptions one = options;
      one.Input = options.Inputs[i];
      if (count > 1) {
        const std::string& dir = options.OutDir;
        one.OutDir =
            (dir.empty() || dir.back() == '/' ? dir : dir + "/") + InputOutputName(one.Input);
      }
      std::vector<std::string> notes;
      TRenderHooks hooks;
      hooks.Notes = &notes;
      hooks.Stop = Stop;
      hooks.Progress = [&](std::int64_t Done, std::int64_t Expected) {
        progress.Update(i, Done, Expected);
      };
      const std::string error = RenderRecording(one, hooks);
      for (const std::string& n : notes) console.Line(n);
      if (!error.empty()) {
        failed = true;
        console.Line(error);
      }
    }
  };
  const std::size_t threads =
      std::min<std::size_t>(count, std::max(1u, std::thread::hardware_concurrency()));
  std::vector<std::thread> helpers;
  for (std::size_t t = 1; t < threads; ++t) helpers.emplace_back(work);
  work();
  for (std::thread& t : helpers) t.join();
  console.EndProgress();
  return failed ? 2 : 0;
}

}  // namespace quenvis
