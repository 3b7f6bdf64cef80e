// libFuzzer target: the recording reader. Each input is written to a file and
// rendered through the offline renderer's entry point into a fresh OUTDIR.
#include <stdlib.h>
#include <unistd.h>

#include <QGuiApplication>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

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

bool HasEntries(const fs::path& Dir) {
  std::error_code ec;
  return fs::exists(Dir, ec) && !fs::is_empty(Dir, ec);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
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

  quenvis::TRenderOptions options;
  options.Input = input.string();
  options.OutDir = out.string();
  options.Settings = quenvis::StartupSettings();
  // The per-bin table is slow to write; ask for it on half the inputs only.
  options.WritePower = Size % 2 == 1;
  // The smallest chart paints quickest; its content is not what is fuzzed.
  options.ChartWidth = options.ChartHeight = quenvis::MinChartSide;
  const std::string error = quenvis::RenderRecording(options, false);

  // One line, and all the outputs or none of them.
  Require(error.find('\n') == std::string::npos, "error message of more than one line");
  if (error.empty()) {
    for (const char* name : {"peaks.csv", "formants.csv", "spectrum.png", "plot.png", "chart.png"})
      Require(fs::is_regular_file(out / name, ec), "success without every output");
    Require(fs::is_regular_file(out / "power.csv", ec) == options.WritePower,
            "power.csv does not follow the option");
  } else {
    Require(!HasEntries(out), "failure left files in OUTDIR");
  }
  fs::remove_all(out, ec);
  return 0;
}
