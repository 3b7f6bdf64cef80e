#include "render/RenderConsole.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace quenvis {

namespace {

using Clock = std::chrono::steady_clock;

std::string Minutes(double Seconds) {
  const auto s = static_cast<long long>(Seconds < 0 ? 0 : Seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
  return text;
}

}  // namespace

std::string EscapeControls(std::string_view Text) {
  std::string out;
  out.reserve(Text.size());
  for (const char c : Text) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u != 0x7F) {
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", u);
      out += hex;
    }
  }
  return out;
}

CConsole::CConsole(int Fd, bool ShowProgress)
    : FFd(Fd), FShowProgress(ShowProgress), FStart(Clock::now()) {}

void CConsole::Write(std::string_view Text) {
  while (!Text.empty()) {
    const ssize_t n = ::write(FFd, Text.data(), Text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    Text.remove_prefix(static_cast<std::size_t>(n));
  }
}

void CConsole::Line(std::string_view Text) {
  const std::lock_guard lock(FMutex);
  // Clears the progress line, which is drawn again at the next update.
  std::string line = FShown ? "\r\033[K" : "";
  FShown = false;
  line += "quenvis-render: " + EscapeControls(Text) + "\n";
  Write(line);
}

void CConsole::Progress(std::int64_t Done, std::int64_t Expected) {
  if (!FShowProgress) return;
  const std::lock_guard lock(FMutex);
  FLastDone = Done;
  FLastExpected = Expected;
  const auto now = Clock::now();
  if (FShown && now - FLastDraw < std::chrono::milliseconds(100)) return;
  FLastDraw = now;
  Draw(Done, Expected);
}

void CConsole::Draw(std::int64_t Done, std::int64_t Expected) {
  const double elapsed = std::chrono::duration<double>(Clock::now() - FStart).count();
  std::string line = "\r\033[Kquenvis-render: ";
  if (Expected > 0 && Done <= Expected) {
    constexpr int Width = 30;
    const auto filled = static_cast<int>(Done * Width / Expected);
    line += "[" + std::string(static_cast<std::size_t>(filled), '#') +
            std::string(static_cast<std::size_t>(Width - filled), '.') + "] ";
    line += std::to_string(Done) + "/" + std::to_string(Expected) + " blocks, " + Minutes(elapsed) +
            " elapsed";
    if (Done > 0)
      line += ", " + Minutes(elapsed * double(Expected - Done) / double(Done)) + " left";
  } else {
    line += std::to_string(Done) + " blocks, " + Minutes(elapsed) + " elapsed";
  }
  Write(line);
  FShown = true;
}

void CConsole::EndProgress() {
  const std::lock_guard lock(FMutex);
  if (!FShown) return;
  Draw(FLastDone, FLastExpected);
  Write("\n");
  FShown = false;
}

}  // namespace quenvis
