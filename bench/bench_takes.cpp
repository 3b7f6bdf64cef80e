// How soon a recording shows: from Open to the main window's first picture
// of it (capture running before), and from a seek to the first picture from
// the new place. Runs the program's own window and services; start it in a
// sound server (scripts/pulse-private.sh run), headless by default.
//   quenvis_bench_takes [FILE] [TRIES]   (default: a 30 s tone, 20 tries)
#include <sndfile.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <vector>

#include "app/Playback.h"
#include "app/UIQuenvis.h"
#include "capture/UWaveRecorder.h"

using namespace quenvis;

namespace {

bool RunUntil(const std::function<bool()>& Done, int TimeoutMs) {
  QElapsedTimer t;
  t.start();
  while (!Done()) {
    if (t.elapsed() > TimeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
  }
  return true;
}

void Report(const char* What, std::vector<double> Ms) {
  if (Ms.empty()) {
    std::printf("%s: no measurement\n", What);
    return;
  }
  std::sort(Ms.begin(), Ms.end());
  std::printf("%-28s min %6.1f  median %6.1f  max %6.1f ms  (%zu tries)\n", What, Ms.front(),
              Ms[Ms.size() / 2], Ms.back(), Ms.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QStandardPaths::setTestModeEnabled(true);
  QTemporaryDir dir;
  QString path = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
  const int tries = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
  if (path.isEmpty()) {
    path = dir.filePath(QStringLiteral("tone.flac"));
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.toLocal8Bit().constData(), SFM_WRITE, &info);
    if (!f) return 1;
    std::vector<short> frames(2 * 44100);
    for (int s = 0; s < 30; ++s) {
      for (int i = 0; i < 44100; ++i)
        frames[2 * i] = frames[2 * i + 1] =
            short(8000 * std::sin(2 * std::numbers::pi * (300 + 20 * s) * i / 44100.0));
      sf_writef_short(f, frames.data(), 44100);
    }
    sf_close(f);
  }

  TForm1 form;
  form.show();
  form.ShowChart();
  QElapsedTimer clock;
  clock.start();
  qint64 lastPicture = -1;
  auto inner = form.Recorder->OnData;
  form.Recorder->OnData = [&](void* Data, int32_t Bytes, int32_t Frames, int32_t& Done) {
    inner(Data, Bytes, Frames, Done);  // drawn and shown when this returns
    lastPicture = clock.elapsed();
  };
  TFileWaveInService& file = form.Playback->File();

  std::vector<double> open, seek;
  for (int i = 0; i < tries; ++i) {
    // Capture first, as a user would have it.
    form.Bt_startClick(nullptr);
    RunUntil([&] { return !form.Playback->Active() && form.Recorder->IsRecording(); }, 3000);
    RunUntil([] { return false; }, 300);
    const qint64 t0 = clock.elapsed();
    lastPicture = -1;
    const QString error = form.OpenRecording(path);
    if (!error.isEmpty()) {
      std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
      return 1;
    }
    if (RunUntil([&] { return lastPicture >= 0 && file.IsStarted(); }, 2000))
      open.push_back(double(lastPicture - t0));
    RunUntil([] { return false; }, 300);
    // Seeks to places far apart while playing.
    for (int j = 0; j < 3; ++j) {
      const double to = std::fmod(7.3 * (i * 3 + j + 1), file.Length() - 2);
      RunUntil([] { return false; }, 150);
      const qint64 s0 = clock.elapsed();
      lastPicture = -1;
      file.Seek(to);
      if (RunUntil([&] { return lastPicture >= 0 && file.Position() > to; }, 2000))
        seek.push_back(double(lastPicture - s0));
    }
  }
  Report("Open to first picture", open);
  Report("seek to first picture", seek);
  return 0;
}
