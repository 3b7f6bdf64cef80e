#pragma once
// quenvis-render's stderr: one line per message, and on a terminal a
// progress line that messages never run into.
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace quenvis {

// Text with control characters written as escapes (\n, \t, \xHH), so that it
// stays on one line whatever a name or a value holds.
std::string EscapeControls(std::string_view Text);

class CConsole {
 public:
  // ShowProgress only where Fd is a terminal.
  CConsole(int Fd, bool ShowProgress);

  // "quenvis-render: " and Text on a line of its own. Safe from any thread.
  void Line(std::string_view Text);
  // Blocks done and expected (-1 when unknown); redrawn a few times a second.
  void Progress(std::int64_t Done, std::int64_t Expected);
  // Ends the progress line, if one is shown.
  void EndProgress();
  bool ShowsProgress() const noexcept { return FShowProgress; }

 private:
  void Write(std::string_view Text);
  void Draw(std::int64_t Done, std::int64_t Expected);

  std::mutex FMutex;
  int FFd;
  bool FShowProgress;
  bool FShown = false;
  std::chrono::steady_clock::time_point FStart, FLastDraw;
  std::int64_t FLastDone = 0, FLastExpected = -1;
};

}  // namespace quenvis
