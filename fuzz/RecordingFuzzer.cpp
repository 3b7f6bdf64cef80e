// libFuzzer target: the recording reader. Each input is written to a file, or
// (a quarter of them) fed through a pipe, and rendered through the offline
// renderer's entry point into a fresh OUTDIR.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <QGuiApplication>
#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "render/OfflineRender.h"
#include "render/RenderOptions.h"

namespace {

namespace fs = std::filesystem;

// A violated invariant must stop the run like a sanitizer report does.
void Require(bool Condition, const char* What) {
  if (Condition) return;
  std::fprintf(stderr, "recording fuzzer: %s\n", What);
  std::abort();
}

// One private directory per fuzzing process, removed at exit.
struct TScratch {
  TScratch() {
    std::error_code ec;
    std::string pattern = (fs::temp_directory_path(ec) / "quenvis-fuzz-XXXXXX").string();
    Require(::mkdtemp(pattern.data()) != nullptr, "cannot make a scratch directory");
    Dir = pattern;
  }
  ~TScratch() {
    std::error_code ec;
    fs::remove_all(Dir, ec);
  }
  fs::path Dir;
};

// chart.png's text needs a QGuiApplication; offscreen, as in quenvis-render.
struct TGui {
  int Argc = 3;
  char Name[8] = "fuzzer", Platform[10] = "-platform", Offscreen[10] = "offscreen";
  char* Argv[4] = {Name, Platform, Offscreen, nullptr};
  QGuiApplication App{Argc, Argv};
};

std::vector<std::string> Listing(const fs::path& Dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(Dir, ec)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  // A pipe the reader gave up on must not end the fuzzer.
  static const auto pipeAction = std::signal(SIGPIPE, SIG_IGN);
  (void)pipeAction;
  static TGui gui;
  static TScratch scratch;
  const fs::path input = scratch.Dir / "input";
  const fs::path out = scratch.Dir / "out";
  std::error_code ec;
  fs::remove_all(out, ec);
  {
    std::FILE* f = std::fopen(input.c_str(), "wb");
    Require(f != nullptr, "cannot write the input file");
    Require(std::fwrite(Data, 1, Size, f) == Size && std::fclose(f) == 0,
            "cannot write the input file");
  }

  // Through a pipe the reader copies the stream before decoding it; the
  // writer stops early when the reader gives up.
  const bool piped = Size % 4 == 2;
  int feed[2] = {-1, -1};
  std::thread writer;
  if (piped) {
    Require(::pipe2(feed, O_CLOEXEC) == 0, "cannot make a pipe");
    writer = std::thread([&] {
      for (std::size_t at = 0; at < Size;) {
        const ssize_t n = ::write(feed[1], Data + at, Size - at);
        if (n <= 0) break;
        at += static_cast<std::size_t>(n);
      }
      ::close(feed[1]);
    });
  }

  quenvis::TRenderOptions options;
  options.Input = piped ? "/proc/self/fd/" + std::to_string(feed[0]) : input.string();
  options.OutDir = out.string();
  options.Settings = quenvis::StartupSettings();
  // The per-bin table is slow to write; ask for it on half the inputs only.
  options.WritePower = Size % 2 == 1;
  // The smallest chart paints quickest; its content is not what is fuzzed.
  options.ChartWidth = options.ChartHeight = quenvis::MinChartSide;
  const std::string error = quenvis::RenderRecording(options, false);
  if (piped) {
    ::close(feed[0]);
    writer.join();
  }

  // One line, and all the outputs or none of them, nor the folder.
  Require(error.find('\n') == std::string::npos, "error message of more than one line");
  if (error.empty()) {
    // The fixed outputs, and the spectrogram as one picture or numbered pages.
    std::vector<std::string> expected = {"chart.png",   "formants.csv", "peaks.csv", "plot.png",
                                         "spectrum.png", "summary.csv",  "voice.csv"};
    if (options.WritePower) expected.push_back("power.csv");
    std::vector<std::string> names = Listing(out), pages;
    for (const std::string& n : names)
      if (n.rfind("spectrogram", 0) == 0) pages.push_back(n);
    std::erase_if(names, [](const std::string& n) { return n.rfind("spectrogram", 0) == 0; });
    std::sort(expected.begin(), expected.end());
    Require(names == expected, "success without exactly the outputs");
    if (pages.size() == 1) {
      Require(pages[0] == "spectrogram.png", "a lone spectrogram page is numbered");
    } else {
      for (std::size_t i = 0; i < pages.size(); ++i) {
        char name[40];
        std::snprintf(name, sizeof name, "spectrogram-%03zu.png", i + 1);
        Require(pages[i] == name, "spectrogram pages are not numbered 1..N");
      }
      Require(!pages.empty(), "success without a spectrogram");
    }
  } else {
    Require(!fs::exists(out, ec), "failure left OUTDIR or files in it");
  }
  fs::remove_all(out, ec);
  return 0;
}
