// Takes on the scripted capture service: the faults that end a take, a
// crash while writing, and the estimates of a recording played back against
// quenvis-render's.
#include <signal.h>
#include <sys/resource.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "app/Playback.h"
#include "app/UIQuenvis.h"
#include "capture/UWaveRecorder.h"
#include "chart/TakeRecorder.h"
#include "chart/Timeline.h"
#include "chart/VowelChart.h"
#include "render/OfflineRender.h"
#include "render/RecordingReader.h"
#include "support/QtTestMain.h"
#include "support/FakeWaveInService.h"
#include "support/RunEvents.h"
#include "support/VowelSynth.h"

namespace quenvis {
namespace {

using test::RunFor;
using test::RunUntil;

// Every frame of a recording as 16-bit stereo bytes, through the reader that
// quenvis-render uses; only the frames the blocks say they hold.
std::vector<unsigned char> ReadTake(const QString& Path, std::string* Error = nullptr) {
  CRecordingReader reader;
  std::vector<unsigned char> all;
  std::string e = reader.Open(Path.toStdString());
  TSampleBlock block;
  for (std::int32_t n; e.empty() && (n = reader.Next(block)) > 0;)
    all.insert(all.end(), block.begin(), block.begin() + n * 4);
  if (Error) *Error = e.empty() ? reader.Error() : e;
  return all;
}

QString TablePath(const QString& SoundPath) {
  return SoundPath.left(SoundPath.lastIndexOf(u'.')) + QStringLiteral(".formants.csv");
}

// The main window on the scripted service, its chart shown, takes written
// below a folder of its own, and what capture handed over while a take ran.
struct TSetup {
  QTemporaryDir Dir;
  QString Folder = Dir.path() + QStringLiteral("/takes");
  TFakeWaveInService Service;
  std::unique_ptr<TForm1> Form;
  TVowelChart* Chart = nullptr;
  std::vector<unsigned char> Taken;
  int Blocks = 0;
  QStringList Problems;
  int Saved = 0;

  explicit TSetup(ETakeFormat Format = ETakeFormat::Flac,
                  std::vector<TFakeWaveInService::TDevice> Devices = {{"Mic"}})
      : Service(std::move(Devices)) {
    QSettings().setValue(QStringLiteral("takes/folder"), Folder);
    Form = std::make_unique<TForm1>(&Service);
    Form->Playback->File().SetOutput(nullptr);
    Form->ShowChart();
    Chart = Form->Chart;
    Chart->Takes().SetFormat(Format);
    auto inner = Form->Recorder->OnData;
    Form->Recorder->OnData = [this, inner](void* Data, int32_t Bytes, int32_t Frames,
                                           int32_t& Done) {
      const bool taking = Chart->Takes().Recording();
      inner(Data, Bytes, Frames, Done);
      ++Blocks;
      const auto* p = static_cast<const unsigned char*>(Data);
      if (taking) Taken.insert(Taken.end(), p, p + Frames * 4);
    };
    QObject::connect(&Chart->Takes(), &TTakeRecorder::problem,
                     [this](const QString& M) { Problems << M; });
    QObject::connect(&Chart->Takes(), &TTakeRecorder::saved, [this] { ++Saved; });
  }
  bool StartCapture() {
    Form->Bt_startClick(nullptr);
    return RunUntil([&] { return Form->Recorder->IsRecording(); }, 10000);
  }
  // One block of the service's byte counter, handled by the window.
  bool Capture(int Count) {
    for (int i = 0; i < Count; ++i) {
      const int before = Blocks;
      if (Service.FillBlocks(1) == 0) return false;
      if (!RunUntil([&] { return Blocks > before; }, 10000)) return false;
    }
    return true;
  }
};

// A process that writes a take and dies without closing it.
constexpr const char* CrashEnv = "QUENVIS_TEST_CRASH_TAKE";
constexpr int CrashBlocks = 60;

std::vector<unsigned char> Pattern(int Blocks) {
  std::vector<unsigned char> v(std::size_t(Blocks) * BlockBytes);
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<unsigned char>(i * 7 + i / 4096);
  return v;
}

[[noreturn]] void CrashWhileWriting(const QString& Spec) {
  const QStringList parts = Spec.split(u'|');
  CTakeWriter writer;
  const ETakeFormat format =
      parts[1] == QStringLiteral("wav") ? ETakeFormat::Wav : ETakeFormat::Flac;
  if (!writer.Start(parts[0].toStdString(), "crash", format).empty()) std::_Exit(3);
  const std::vector<unsigned char> sound = Pattern(CrashBlocks);
  for (int b = 0; b < CrashBlocks; ++b)
    if (!writer.Push(sound.data() + std::size_t(b) * BlockBytes, BlockFrames, TFormants{}))
      std::_Exit(4);
  while (writer.WrittenFrames() < std::int64_t(CrashBlocks) * BlockFrames)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ::raise(SIGKILL);
  std::_Exit(5);
}

struct TFaultCase {
  const char* Name;
  ETakeFormat Format;
  // What goes wrong, after some blocks of the take; the blocks captured
  // afterwards come from the test.
  std::function<void(TSetup&)> Fault;
  const char* Message;  // a part of the one message
  int MinBlocks;        // the file keeps at least these
};

void PrintTo(const TFaultCase& Case, std::ostream* Out) { *Out << Case.Name; }

class TakeFaults : public ::testing::TestWithParam<TFaultCase> {};

TEST_P(TakeFaults, EndTheTakeWithOneMessageAndLeaveAPlayableFile) {
  const TFaultCase& c = GetParam();
  TSetup s(c.Format);
  ASSERT_TRUE(s.StartCapture());
  s.Chart->ToggleRecording();
  ASSERT_TRUE(s.Chart->Takes().Recording()) << s.Chart->TakeMessage().toStdString();
  const QString path = s.Chart->Takes().LastPath();
  ASSERT_TRUE(s.Capture(10));
  c.Fault(s);
  s.Capture(40);  // capture may have ended
  ASSERT_TRUE(RunUntil([&] { return s.Saved == 1; }, 20000));
  RunFor(100);
  ::rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
  ::setrlimit(RLIMIT_FSIZE, &unlimited);

  EXPECT_FALSE(s.Chart->Takes().Recording());
  ASSERT_EQ(s.Problems.size(), 1) << s.Problems.join(" // ").toStdString();
  EXPECT_TRUE(s.Problems[0].contains(QString::fromLatin1(c.Message)))
      << s.Problems[0].toStdString();
  EXPECT_EQ(s.Chart->TakeMessage(), s.Problems[0]);
  std::string error;
  const std::vector<unsigned char> kept = ReadTake(path, &error);
  EXPECT_EQ(error, "");
  EXPECT_GE(kept.size(), std::size_t(c.MinBlocks) * BlockBytes);
  ASSERT_LE(kept.size(), s.Taken.size());
  EXPECT_TRUE(std::equal(kept.begin(), kept.end(), s.Taken.begin()));
  EXPECT_TRUE(QFile::exists(TablePath(path)));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, TakeFaults,
    ::testing::Values(TFaultCase{"CaptureStopsByItself", ETakeFormat::Flac,
                                 [](TSetup& s) {
                                   s.Capture(5);
                                   s.Service.Vanish();
                                 },
                                 "capture stopped: the device was removed", 15},
                      TFaultCase{"DiskFull", ETakeFormat::Wav,
                                 [](TSetup&) {
                                   ::signal(SIGXFSZ, SIG_IGN);
                                   const ::rlimit small{160 * 1024, RLIM_INFINITY};
                                   ::setrlimit(RLIMIT_FSIZE, &small);
                                 },
                                 "cannot write the take", 12},
                      TFaultCase{"FolderRemoved", ETakeFormat::Flac,
                                 [](TSetup& s) { ASSERT_TRUE(QDir(s.Folder).removeRecursively()); },
                                 "the folder was removed while recording; the take was saved again",
                                 22}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// A crash loses at most the last second.
class TakeCrash : public ::testing::TestWithParam<const char*> {};

TEST_P(TakeCrash, LeavesAFileReadableUpToTheLastSecond) {
  QTemporaryDir dir;
  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QString::fromLatin1(CrashEnv), dir.path() + u'|' + QString::fromLatin1(GetParam()));
  child.setProcessEnvironment(env);
  child.start(QCoreApplication::applicationFilePath(), {});
  ASSERT_TRUE(child.waitForFinished(20000));
  ASSERT_EQ(child.exitStatus(), QProcess::CrashExit) << child.exitCode();
  const QString path = dir.filePath(QStringLiteral("crash.") + GetParam());
  std::string error;
  const std::vector<unsigned char> kept = ReadTake(path, &error);
  EXPECT_EQ(error, "");
  const std::vector<unsigned char> sound = Pattern(CrashBlocks);
  const int synced = CrashBlocks / CTakeWriter::SyncBlocks * CTakeWriter::SyncBlocks;
  EXPECT_GE(kept.size(), std::size_t(synced) * BlockBytes);
  ASSERT_LE(kept.size(), sound.size());
  EXPECT_TRUE(std::equal(kept.begin(), kept.end(), sound.begin()));
  QFile table(dir.filePath(QStringLiteral("crash.formants.csv")));
  ASSERT_TRUE(table.open(QIODevice::ReadOnly));
  EXPECT_GE(table.readAll().count('\n'), synced + 1);
}

INSTANTIATE_TEST_SUITE_P(Formats, TakeCrash, ::testing::Values("flac", "wav"));

// Played back, a recording gives the chart the estimates quenvis-render
// writes for it, block for block: the take of the playback holds them.
TEST(TakePlayback, EstimatesEqualQuenvisRenderAndStartGoesBackToCapture) {
  TSetup s;
  test::TVowel vowel;
  vowel.F0 = 180;
  vowel.F = {800, 1200, 2500, 3500, 4500};
  vowel.Vibrato = true;
  vowel.Seconds = 2.3;
  const std::vector<std::int16_t> mono = test::Synthesize(vowel);
  const std::string wav = s.Dir.filePath(QStringLiteral("vowel.wav")).toStdString();
  SF_INFO info{};
  info.samplerate = 44100;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(wav.c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(sf_write_short(f, mono.data(), sf_count_t(mono.size())), sf_count_t(mono.size()));
  sf_close(f);

  TRenderOptions options;
  options.Input = wav;
  options.OutDir = s.Dir.filePath(QStringLiteral("render")).toStdString();
  options.Voice = s.Chart->Voice();
  options.FormantVoice = s.Chart->FormantVoice();
  ASSERT_EQ(RenderRecording(options, TRenderHooks{}), "");

  TFileWaveInService& file = s.Form->Playback->File();
  file.SetPacing(false);
  ASSERT_EQ(s.Form->OpenRecording(QString::fromStdString(wav)), QString());
  ASSERT_TRUE(RunUntil([&] { return file.IsStarted() && file.Complete(); }, 15000));
  s.Chart->ToggleRecording();
  ASSERT_TRUE(s.Chart->Takes().Recording());
  int played = 0;
  for (int idle = 0; idle < 400 && !file.Paused();) {
    const int before = s.Blocks;
    if (file.Step(1) == 1) {
      ++played;
      ASSERT_TRUE(RunUntil([&] { return s.Blocks > before; }, 10000));
    } else {
      ++idle;
      RunFor(5);
    }
  }
  ASSERT_TRUE(file.Paused());
  EXPECT_EQ(played, int((mono.size() + BlockFrames - 1) / BlockFrames));
  s.Chart->ToggleRecording();
  ASSERT_TRUE(RunUntil([&] { return s.Saved == 1; }, 20000));

  QFile ours(TablePath(s.Chart->Takes().LastPath()));
  QFile theirs(QString::fromStdString(options.OutDir) + QStringLiteral("/formants.csv"));
  ASSERT_TRUE(ours.open(QIODevice::ReadOnly));
  ASSERT_TRUE(theirs.open(QIODevice::ReadOnly));
  const QByteArray a = ours.readAll(), b = theirs.readAll();
  EXPECT_GT(b.count('\n'), 40);
  EXPECT_EQ(a.toStdString(), b.toStdString());
  // And the voice measures, taken live on the same blocks.
  const QString sound = s.Chart->Takes().LastPath();
  QFile ourVoice(sound.left(sound.lastIndexOf(u'.')) + QStringLiteral(".voice.csv"));
  QFile theirVoice(QString::fromStdString(options.OutDir) + QStringLiteral("/voice.csv"));
  ASSERT_TRUE(ourVoice.open(QIODevice::ReadOnly));
  ASSERT_TRUE(theirVoice.open(QIODevice::ReadOnly));
  const QByteArray c = ourVoice.readAll(), d = theirVoice.readAll();
  EXPECT_EQ(c.count('\n'), b.count('\n'));
  EXPECT_EQ(c.toStdString(), d.toStdString());
  // The picture saw the file's sound itself.
  std::vector<unsigned char> expected(s.Taken.size(), 0);
  for (std::size_t i = 0; i < mono.size() && 4 * i + 3 < expected.size(); ++i)
    for (int ch = 0; ch < 2; ++ch) {
      expected[4 * i + 2 * ch] = static_cast<unsigned char>(mono[i] & 0xFF);
      expected[4 * i + 2 * ch + 1] = static_cast<unsigned char>((mono[i] >> 8) & 0xFF);
    }
  EXPECT_TRUE(s.Taken == expected);

  // Start in the main window: capture again, from the device.
  const int opens = s.Service.CallCount(TFakeWaveInService::ECall::Open);
  s.Form->Bt_startClick(nullptr);
  ASSERT_TRUE(
      RunUntil([&] { return s.Service.CallCount(TFakeWaveInService::ECall::Open) > opens; }, 15000));
  ASSERT_TRUE(RunUntil([&] { return s.Form->Recorder->IsRecording(); }, 10000));
  EXPECT_FALSE(s.Form->Playback->Active());
  EXPECT_FALSE(s.Chart->Timeline().isVisible());
  EXPECT_TRUE(s.Capture(2));
}

// The timeline and the keys drive the player; the timeline follows it. A
// recording plays also where no capture device is listed.
TEST(TakePlayback, TimelineSeeksStepsLoopsPausesAndSetsTheSpeed) {
  TSetup s(ETakeFormat::Flac, {});
  const std::string wav = s.Dir.filePath(QStringLiteral("silence.wav")).toStdString();
  SF_INFO info{};
  info.samplerate = 48000;  // resampled, as quenvis-render does
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(wav.c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr);
  const std::vector<short> frames(2 * 48000 * 12, 100);
  sf_writef_short(f, frames.data(), 48000 * 12);
  sf_close(f);
  TFileWaveInService& file = s.Form->Playback->File();
  file.SetPacing(false);
  ASSERT_EQ(s.Form->OpenRecording(QString::fromStdString(wav)), QString());
  ASSERT_TRUE(RunUntil([&] { return file.IsStarted() && file.Complete(); }, 15000));
  TTimeline& t = s.Chart->Timeline();
  EXPECT_TRUE(t.isVisible());
  const double block = double(BlockFrames) / SampleRate;
  EXPECT_NEAR(t.Length(), 12.0, block);
  auto step = [&](int Blocks) {
    for (int i = 0; i < Blocks; ++i) {
      const int before = s.Blocks;
      if (file.Step(1) != 1 || !RunUntil([&] { return s.Blocks > before; }, 10000)) return false;
    }
    return true;
  };
  ASSERT_TRUE(step(10));
  EXPECT_DOUBLE_EQ(t.Position(), 10 * block);
  t.Step(TTimeline::StepSeconds);  // Right
  EXPECT_DOUBLE_EQ(file.Position(), std::floor((10 * block + 5) / block) * block);
  t.Step(-3 * TTimeline::StepSeconds);  // Left, past the start
  EXPECT_DOUBLE_EQ(file.Position(), 0.0);
  emit t.seekRequested(7.0);  // a click
  EXPECT_DOUBLE_EQ(t.Position(), std::floor(7.0 / block) * block);

  // L with a selection loops it; again stops looping.
  t.Select(2.0, 3.0);
  t.ToggleLoop();
  EXPECT_TRUE(file.Looping());
  EXPECT_DOUBLE_EQ(file.Position(), std::floor(2.0 / block) * block);
  double latest = 0;
  for (int i = 0; i < 60; ++i) {
    ASSERT_TRUE(step(1));
    latest = std::max(latest, file.Position());
    EXPECT_GE(file.Position(), 2.0 - block);
  }
  EXPECT_LE(latest, 3.0 + block);
  t.ToggleLoop();
  EXPECT_FALSE(file.Looping());

  // Space pauses the playing, not the chart.
  emit s.Chart->playPauseRequested();
  EXPECT_TRUE(file.Paused());
  EXPECT_FALSE(s.Chart->Paused());
  EXPECT_EQ(file.Step(1), 0);
  // A seek while paused shows the new place.
  const int shown = s.Blocks;
  emit t.seekRequested(4.0);
  ASSERT_TRUE(RunUntil([&] { return s.Blocks == shown + 1; }, 10000));
  EXPECT_DOUBLE_EQ(t.Position(), (std::floor(4.0 / block) + 1) * block);
  EXPECT_TRUE(file.Paused());
  emit s.Chart->playPauseRequested();
  EXPECT_TRUE(step(1));

  t.SetSpeed(0.25);
  emit t.speedChanged(t.Speed());
  EXPECT_DOUBLE_EQ(file.Speed(), 0.25);
}

}  // namespace
}  // namespace quenvis

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsEmpty(quenvis::CrashEnv))
    quenvis::CrashWhileWriting(qEnvironmentVariable(quenvis::CrashEnv));
  return quenvis::test::RunWidgetTests(argc, argv);
}
