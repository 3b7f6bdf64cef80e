// Takes on a private PulseAudio server (scripts/pulse-private.sh run): a tone
// played into its null sink is captured through "Quenvis test input" and
// recorded; the take holds exactly what capture delivered. Played back, the
// window gets the take's blocks again, and the sink plays its sound, which a
// second capture of the same input hears.
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "app/Playback.h"
#include "app/UIQuenvis.h"
#include "capture/PulseWaveInService.h"
#include "capture/UWaveRecorder.h"
#include "takes/TakeRecorder.h"
#include "takes/Timeline.h"
#include "chart/VowelChart.h"
#include "io/RecordingReader.h"
#include "support/QtTestMain.h"
#include "support/RunEvents.h"
#include "support/SoundFiles.h"

namespace quenvis {
namespace {

using test::RunFor;
using test::RunUntil;

const QString InputName = QStringLiteral("Quenvis test input");

bool Script(const QStringList& Args) {
  QProcess p;
  p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  p.start(qEnvironmentVariable("QUENVIS_PULSE_SCRIPT"), Args);
  return p.waitForFinished(30000) && p.exitCode() == 0;
}

std::vector<unsigned char> ReadTake(const QString& Path) {
  CRecordingReader reader;
  std::vector<unsigned char> all;
  if (!reader.Open(Path.toStdString()).empty()) return all;
  TSampleBlock block;
  for (std::int32_t n; (n = reader.Next(block)) > 0;)
    all.insert(all.end(), block.begin(), block.begin() + n * 4);
  return all;
}

double Rms(const unsigned char* Data, int Frames) {
  double sum = 0;
  for (int i = 0; i < 2 * Frames; ++i) {
    const auto v = static_cast<std::int16_t>(Data[2 * i] | Data[2 * i + 1] << 8);
    sum += double(v) * v;
  }
  return Frames > 0 ? std::sqrt(sum / (2 * Frames)) : 0;
}

class TakesPulse : public ::testing::TestWithParam<ETakeFormat> {};

TEST_P(TakesPulse, TheTakeHoldsWhatWasCapturedAndPlaysBack) {
  ASSERT_FALSE(qEnvironmentVariableIsEmpty("QUENVIS_PULSE_DIR"))
      << "run through scripts/pulse-private.sh run";
  QTemporaryDir dir;
  QSettings().setValue(QStringLiteral("takes/folder"), dir.filePath(QStringLiteral("takes")));
  TPulseWaveInService live;
  TForm1 form(&live);
  form.ShowChart();
  TVowelChart& chart = *form.Chart;
  chart.Takes().SetFormat(GetParam());
  int saved = 0;
  QObject::connect(&chart.Takes(), &TTakeRecorder::saved, [&] { ++saved; });
  std::vector<unsigned char> taken, played;
  int blocks = 0;
  auto inner = form.Recorder->OnData;
  form.Recorder->OnData = [&](void* Data, int32_t Bytes, int32_t Frames, int32_t& Done) {
    const bool taking = chart.Takes().Recording();
    inner(Data, Bytes, Frames, Done);
    ++blocks;
    const auto* p = static_cast<const unsigned char*>(Data);
    if (taking) taken.insert(taken.end(), p, p + Frames * 4);
    if (form.Playback->Active()) played.insert(played.end(), p, p + Frames * 4);
  };
  const int input = form.CB_Pilotes->findText(InputName, Qt::MatchContains);
  ASSERT_GE(input, 0);
  form.CB_Pilotes->setCurrentIndex(input);

  // Record a second and a half of a tone that lasts four.
  ASSERT_TRUE(Script({"tone", qEnvironmentVariable("QUENVIS_PULSE_DIR"), "1000", "4"}));
  form.Bt_startClick(nullptr);
  ASSERT_TRUE(RunUntil([&] { return blocks >= 3; }, 5000));
  chart.ToggleRecording();
  ASSERT_TRUE(chart.Takes().Recording()) << chart.TakeMessage().toStdString();
  RunFor(1500);
  chart.ToggleRecording();
  form.Bt_stopClick(nullptr);
  ASSERT_TRUE(RunUntil([&] { return saved == 1 && !form.Recorder->IsBusy(); }, 5000));
  const QString path = chart.Takes().LastPath();
  EXPECT_TRUE(path.endsWith(GetParam() == ETakeFormat::Wav ? ".wav" : ".flac"));
  const std::vector<unsigned char> take = ReadTake(path);
  EXPECT_GE(taken.size(), std::size_t(25) * BlockBytes);
  EXPECT_EQ(take.size(), taken.size());
  EXPECT_TRUE(take == taken);  // sample for sample

  // Played back when the tone is over: the same blocks, and the sound.
  QWidget owner;
  TPulseWaveInService listenService;
  auto* listener = new TWaveRecorder(&owner, listenService);
  listener->SetBufferFrames(BlockFrames);
  int loud = 0, heard = 0, quiet = 0;
  listener->OnData = [&](void* Data, int32_t, int32_t Frames, int32_t&) {
    ++heard;
    const bool isLoud = Rms(static_cast<const unsigned char*>(Data), Frames) > 1000;
    loud += isLoud;
    quiet = isLoud ? 0 : quiet + 1;
  };
  for (int i = 0; i < listener->DeviceCount(); ++i)
    if (listener->Devices()[i].contains(InputName)) listener->SetDevice(i);
  ASSERT_TRUE(listener->Start());
  // The tone's end first: the sink is silent.
  ASSERT_TRUE(RunUntil([&] { return quiet >= 10; }, 8000));
  loud = 0;
  ASSERT_EQ(form.OpenRecording(path), QString());
  TFileWaveInService& file = form.Playback->File();
  ASSERT_TRUE(RunUntil([&] { return file.IsStarted() && file.Paused(); }, 8000));
  RunFor(300);
  EXPECT_TRUE(played == take);
  // At the server's pace, most of the take's blocks are heard again.
  EXPECT_GE(loud, int(take.size() / BlockBytes) / 2) << heard << " blocks heard";
  listener->Stop();
  RunUntil([&] { return !listener->IsBusy(); }, 3000);
}

// What the sink's monitor heard of a tone played at 1x.
struct THeardTone {
  int Gaps = -1;         // silences of a millisecond or more inside the tone
  double Seconds = 0;    // from the tone's first loud sample to its last
  std::int64_t Dropouts = -1;
  bool DropoutsShown = false;
  std::string Problem;   // why nothing could be measured
};

// Plays the tone at Path through the test sink, by Quenvis or, with
// ByAnotherProgram, by paplay, and counts the silences heard on the sink's
// monitor.
THeardTone PlayToneAndListen(const QString& Path, bool ByAnotherProgram) {
  THeardTone r;
  const QString heardPath = Path + QStringLiteral(".heard.raw");
  // The recorder's and the keep-alive's latencies only set how often the
  // server wakes, while the player's own buffer is what is under test.
  // PipeWire wakes the whole graph at the shortest of them: 100 ms keeps a
  // busy machine from missing a wake-up. PulseAudio keeps them short: its
  // monitor does not hear what a sink rewinds for a new stream, which on a
  // long latency cuts the tone's start.
  const bool pipewire = qEnvironmentVariable("QUENVIS_SOUND_SERVER") == QStringLiteral("pipewire");
  const QString recorderLatency = QStringLiteral("--latency-msec=%1").arg(pipewire ? 100 : 20);
  const QString keepAliveLatency = QStringLiteral("--latency-msec=%1").arg(pipewire ? 100 : 40);
  QProcess recorder;
  recorder.setStandardOutputFile(heardPath);
  recorder.start(QStringLiteral("parec"),
                 {QStringLiteral("--device=quenvis_sink.monitor"), QStringLiteral("--raw"),
                  QStringLiteral("--format=s16le"), QStringLiteral("--rate=44100"),
                  QStringLiteral("--channels=2"), recorderLatency});
  if (!recorder.waitForStarted(5000)) return r.Problem = "parec did not start", r;
  // Silence played all along keeps the null sink running, as a desktop's sink
  // runs: an idle one wakes only every second or two.
  QProcess silence;
  silence.setStandardInputFile(QStringLiteral("/dev/zero"));
  silence.start(QStringLiteral("pacat"),
                {QStringLiteral("--playback"), QStringLiteral("--raw"),
                 QStringLiteral("--format=s16le"), QStringLiteral("--rate=44100"),
                 QStringLiteral("--channels=2"), keepAliveLatency});
  if (!silence.waitForStarted(5000)) return r.Problem = "pacat did not start", r;
  RunFor(400);
  if (ByAnotherProgram) {
    QProcess player;
    player.start(QStringLiteral("paplay"), {QStringLiteral("--device=quenvis_sink"), Path});
    if (!player.waitForStarted(5000)) return r.Problem = "paplay did not start", r;
    if (!RunUntil([&] { return player.state() == QProcess::NotRunning; }, 15000))
      return r.Problem = "paplay did not end", r;
    RunFor(600);
    r.Dropouts = 0;
  } else {
    TPulseWaveInService live;
    TForm1 form(&live);
    if (!form.OpenRecording(Path).isEmpty()) return r.Problem = "the tone did not open", r;
    TFileWaveInService& file = form.Playback->File();
    if (!RunUntil([&] { return file.IsStarted(); }, 8000)) return r.Problem = "no playing", r;
    if (!RunUntil([&] { return file.Paused(); }, 15000)) return r.Problem = "no end", r;
    RunFor(600);
    r.Dropouts = file.Dropouts();
    r.DropoutsShown = form.Chart->Timeline().Text().contains(QStringLiteral("dropout"));
  }
  recorder.terminate();
  silence.terminate();
  recorder.waitForFinished(5000);
  silence.waitForFinished(5000);

  QFile heard(heardPath);
  if (!heard.open(QIODevice::ReadOnly)) return r.Problem = "nothing recorded", r;
  const QByteArray raw = heard.readAll();
  const auto* p = reinterpret_cast<const unsigned char*>(raw.constData());
  const std::size_t n = std::size_t(raw.size()) / 4;
  auto left = [&](std::size_t i) { return static_cast<std::int16_t>(p[4 * i] | p[4 * i + 1] << 8); };
  std::size_t first = n, last = 0;
  for (std::size_t i = 0; i < n; ++i)
    if (std::abs(left(i)) > 8000) {
      first = std::min(first, i);
      last = i;
    }
  if (first >= last) return r.Problem = "nothing heard", r;
  // A silence of a millisecond or more inside the tone is a gap; the tone
  // itself is near zero for a few microseconds only.
  r.Gaps = 0;
  std::size_t quiet = 0;
  for (std::size_t i = first; i <= last; ++i) {
    quiet = std::abs(left(i)) < 500 ? quiet + 1 : 0;
    if (quiet == 44) ++r.Gaps;
  }
  r.Seconds = double(last - first) / 44100;
  return r;
}

// A recording played at 1x through the sink is heard whole: the sink's
// monitor, recorded by another program, has the tone from its start to its
// end without a silence.
TEST(PlaybackPulse, PlaysWithoutGapsAtFullSpeed) {
  ASSERT_FALSE(qEnvironmentVariableIsEmpty("QUENVIS_PULSE_DIR"))
      << "run through scripts/pulse-private.sh run";
  QTemporaryDir dir;
  constexpr double Seconds = 4.0;
  const QString path = dir.filePath(QStringLiteral("tone.wav"));
  {
    std::vector<std::int16_t> frames(std::size_t(2 * 44100 * Seconds));
    for (std::size_t i = 0; i < frames.size() / 2; ++i)
      frames[2 * i] = frames[2 * i + 1] =
          static_cast<std::int16_t>(std::nearbyint(16000 * std::sin(2 * M_PI * 440 * double(i) / 44100)));
    ASSERT_TRUE(test::WriteWav(path.toStdString(), frames, 2));
  }
  // The fault was a gap every 0.6 s, in every run. A sound server on a busy
  // shared test machine now and then stutters by itself (14-39 short
  // silences in 4 s with no underrun of our stream), so a try where ours has
  // gaps is checked against paplay playing the same file just after: when
  // that has gaps too, the server stuttered and the try is made again. A try
  // counts once paplay is heard whole.
  THeardTone r;
  bool measured = false;
  for (int attempt = 1; attempt <= 4 && !measured; ++attempt) {
    r = PlayToneAndListen(path, false);
    ASSERT_TRUE(r.Problem.empty()) << r.Problem;
    std::printf("try %d: %d gaps, %.3f s heard, %lld dropouts\n", attempt, r.Gaps, r.Seconds,
                static_cast<long long>(r.Dropouts));
    if (r.Gaps <= 1 && std::abs(r.Seconds - Seconds) <= 0.05 && r.Dropouts <= 1) break;
    const THeardTone other = PlayToneAndListen(path, true);
    ASSERT_TRUE(other.Problem.empty()) << other.Problem;
    std::printf("  paplay just after: %d gaps, %.3f s heard\n", other.Gaps, other.Seconds);
    measured = other.Gaps <= 1;
  }
  if (!measured && r.Gaps > 1 && r.Dropouts == 0)
    GTEST_SKIP() << "the sound server stuttered by itself in every try (paplay had gaps as well)";
  // A timer may still come late once in a run; the count then says so.
  EXPECT_LE(r.Gaps, 1);
  EXPECT_NEAR(r.Seconds, Seconds, 0.05);
  EXPECT_LE(r.Dropouts, 1);
  EXPECT_EQ(r.DropoutsShown, r.Dropouts > 0);
}

// Start while a recording plays goes back to capture at once: the first
// captured block comes within 300 ms, also from the monitor of an output
// that nothing else plays into (an idle sink sleeps for up to 2 s).
TEST(PlaybackPulse, StartAfterPlaybackCapturesAtOnce) {
  ASSERT_FALSE(qEnvironmentVariableIsEmpty("QUENVIS_PULSE_DIR"))
      << "run through scripts/pulse-private.sh run";
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("short.wav"));
  {
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.toUtf8().constData(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    const std::vector<std::int16_t> frames(2 * 44100 * 3, 1000);
    sf_writef_short(f, frames.data(), 44100 * 3);
    sf_close(f);
  }
  TPulseWaveInService live;
  TForm1 form(&live);
  const int input = form.CB_Pilotes->findText(InputName, Qt::MatchContains);
  ASSERT_GE(input, 0);
  form.CB_Pilotes->setCurrentIndex(input);
  int captured = 0;
  auto inner = form.Recorder->OnData;
  form.Recorder->OnData = [&](void* Data, int32_t Bytes, int32_t Frames, int32_t& Done) {
    inner(Data, Bytes, Frames, Done);
    if (!form.Playback->Active()) ++captured;
  };
  // Capture, then a recording, then capture again, twice.
  form.Bt_startClick(nullptr);
  ASSERT_TRUE(RunUntil([&] { return captured >= 3; }, 5000));
#if defined(__SANITIZE_ADDRESS__)
  constexpr qint64 StartBound = 1500;
#else
  constexpr qint64 StartBound = 600;  // 300 ms unloaded; a loaded test machine takes more
#endif
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(form.OpenRecording(path), QString());
    TFileWaveInService& file = form.Playback->File();
    ASSERT_TRUE(RunUntil([&] { return file.IsStarted() && form.Playback->Active(); }, 5000));
    RunFor(1000);
    const int before = captured;
    QElapsedTimer t;
    t.start();
    form.Bt_startClick(nullptr);
    ASSERT_TRUE(RunUntil([&] { return captured > before; }, 5000));
    // The fault was a sleeping server's 2 s; a loaded machine, and more so the
    // sanitizer build, needs more than the 300 ms kept unloaded.
    EXPECT_LE(t.elapsed(), StartBound) << "round " << round;
    RunFor(200);
  }
  form.Bt_stopClick(nullptr);
  RunUntil([&] { return !form.Recorder->IsBusy(); }, 3000);
}

INSTANTIATE_TEST_SUITE_P(Formats, TakesPulse,
                         ::testing::Values(ETakeFormat::Flac, ETakeFormat::Wav),
                         [](const auto& Info) {
                           return std::string(Info.param == ETakeFormat::Wav ? "Wav" : "Flac");
                         });

}  // namespace
}  // namespace quenvis

int main(int argc, char** argv) {
  return quenvis::test::RunWidgetTests(argc, argv);
}
