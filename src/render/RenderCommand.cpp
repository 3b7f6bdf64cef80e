#include "render/RenderCommand.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <system_error>
#include <thread>

#include "render/AvqiCommand.h"
#include "render/CorpusCommand.h"
#include "render/OfflineRender.h"
#include "render/OutDirLock.h"
#include "io/RecordingReader.h"
#include "render/RenderConsole.h"
#include "render/RenderOptions.h"
#include "io/RenderOutputs.h"

namespace quenvis {

namespace {

// 0, or the errno value of the failure.
int PrintToStdout(const std::string& Text) {
  errno = 0;
  if (std::fwrite(Text.data(), 1, Text.size(), stdout) == Text.size() && std::fflush(stdout) == 0)
    return 0;
  return errno != 0 ? errno : EIO;
}

// The blocks of an input its header announces, -1 when unknown. Only plain
// files are looked at: a stream read here would be gone.
std::int64_t AnnouncedBlocks(const std::string& Input) {
  struct stat st {};
  if (Input == "-" || ::stat(Input.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  CRecordingReader reader;
  return reader.Open(Input).empty() ? reader.ExpectedBlocks() : -1;
}

// The blocks of all inputs together, for one progress line. The total is
// what the headers announce, each replaced by what its input says once it
// has started.
class CProgressSum {
 public:
  CProgressSum(CConsole& Console, std::vector<std::int64_t> Expected)
      : FConsole(Console), FDone(Expected.size(), 0), FExpected(std::move(Expected)) {}
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
                     const std::atomic<bool>* Stop, bool StdinReadable) {
  if (!Args.empty() && Args.front() == "corpus")
    return RunCorpusCommand({Args.begin() + 1, Args.end()}, ErrFd, Stop);
  if (!Args.empty() && Args.front() == "--avqi")
    return RunAvqiCommand({Args.begin() + 1, Args.end()}, ErrFd, Stop, StdinReadable);
  TRenderOptions options;
  const std::string parseError = ParseRenderOptions(Args, options);
  CConsole console(ErrFd, !options.Quiet && ::isatty(ErrFd) != 0);
  if (!parseError.empty()) {
    console.Line(parseError);
    return 2;
  }
  if (options.Help || options.Version) {
    const int error =
        PrintToStdout(options.Help ? RenderUsage() : "quenvis-render " QUENVIS_VERSION "\n");
    if (error != 0)
      console.Line(std::string("cannot write to standard output: ") +
                   std::error_code(error, std::generic_category()).message());
    return error != 0 ? 2 : 0;
  }

  if (!StdinReadable &&
      std::find(options.Inputs.begin(), options.Inputs.end(), "-") != options.Inputs.end()) {
    console.Line("standard input: is closed or not open for reading; give the recording as a "
                 "file or through a pipe");
    return 2;
  }

  // With several inputs each gets a folder of its own, and the inputs are
  // spread over the cores; a failure does not stop the others. OUTDIR is
  // made here, once, locked against other runs for the whole run, and
  // removed at the end if it was made and nothing went into it.
  const std::size_t count = options.Inputs.size();
  std::vector<std::string> made;
  COutDirLock lock;
  if (!options.OutDir.empty()) {
    if (const int e = MakeFolders(options.OutDir, made); e != 0) {
      console.Line(options.OutDir + ": cannot create the folder: " +
                   std::error_code(e, std::generic_category()).message());
      return 2;
    }
    if (std::string e = lock.Lock(options.OutDir); !e.empty()) {
      RemoveEmptyFolders(made);
      console.Line(e);
      return 2;
    }
  }
  std::vector<std::int64_t> announced(count, -1);
  if (count > 1 && console.ShowsProgress())
    for (std::size_t i = 0; i < count; ++i) announced[i] = AnnouncedBlocks(options.Inputs[i]);
  CProgressSum progress(console, std::move(announced));
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  auto work = [&] {
    for (std::size_t i = next++; i < count; i = next++) {
      TRenderOptions one = options;
      one.Input = options.Inputs[i];
      if (count > 1) one.OutSub = InputOutputName(one.Input);
      std::vector<std::string> notes;
      std::string voice;
      TRenderHooks hooks;
      hooks.Notes = &notes;
      hooks.VoiceLine = &voice;
      hooks.Stop = Stop;
      hooks.Progress = [&](std::int64_t Done, std::int64_t Expected) {
        progress.Update(i, Done, Expected);
      };
      const std::string error = RenderRecording(one, hooks);
      for (const std::string& n : notes) console.Line(n);
      // Beside the progress line, where the user watches the run.
      if (console.ShowsProgress() && !voice.empty()) console.Line(voice);
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
  RemoveEmptyFolders(made);
  return failed ? 2 : 0;
}

}  // namespace quenvis
