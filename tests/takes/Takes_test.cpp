// Takes on the scripted capture service: the faults that end a take, a
// crash while writing, and the estimates of a recording played back against
// quenvis-render's.
#include <signal.h>
#include <sys/resource.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <FLAC/stream_decoder.h>
#include <fcntl.h>
#include <unistd.h>
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
#include "takes/FlacTakeEncoder.h"
#include "takes/TakeRecorder.h"
#include "takes/Timeline.h"
#include "chart/VowelChart.h"
#include "render/OfflineRender.h"
#include "io/RecordingReader.h"
#include "support/QtTestMain.h"
#include "support/FakeWaveInService.h"
#include "support/RunEvents.h"
#include "support/SoundFiles.h"
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

// A FLAC file decoded strictly: every frame valid up to the file's last
// byte, and the length its header gives.
struct TFlacCheck {
  std::int64_t Frames = 0;        // decoded
  std::int64_t HeaderFrames = -1;
  int Errors = 0;
  bool ToTheEnd = false;  // the last frame ends where the file does
};

TFlacCheck CheckFlac(const QString& Path) {
  TFlacCheck c;
  const int fd = ::open(QFile::encodeName(Path).constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return c;
  c.HeaderFrames = CFlacTakeEncoder::HeaderFrames(fd);
  const off_t size = ::lseek(fd, 0, SEEK_END);
  ::close(fd);
  FLAC__StreamDecoder* d = FLAC__stream_decoder_new();
  auto write = [](const FLAC__StreamDecoder*, const FLAC__Frame* Frame, const FLAC__int32* const[],
                  void* Check) {
    static_cast<TFlacCheck*>(Check)->Frames += Frame->header.blocksize;
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
  };
  auto error = [](const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* Check) {
    ++static_cast<TFlacCheck*>(Check)->Errors;
  };
  if (FLAC__stream_decoder_init_file(d, QFile::encodeName(Path).constData(), write, nullptr,
                                     error, &c) != FLAC__STREAM_DECODER_INIT_STATUS_OK) {
    ++c.Errors;
  } else {
    FLAC__uint64 end = 0;
    while (FLAC__stream_decoder_process_single(d) &&
           FLAC__stream_decoder_get_state(d) != FLAC__STREAM_DECODER_END_OF_STREAM) {
      FLAC__uint64 at = 0;
      if (FLAC__stream_decoder_get_decode_position(d, &at)) end = at;
    }
    if (FLAC__stream_decoder_get_state(d) != FLAC__STREAM_DECODER_END_OF_STREAM) ++c.Errors;
    c.ToTheEnd = end == FLAC__uint64(size);
  }
  FLAC__stream_decoder_delete(d);
  return c;
}

// The lines of a table; false when its last line is cut short.
bool TableLines(const QString& Path, qsizetype& Lines) {
  QFile f(Path);
  if (!f.open(QIODevice::ReadOnly)) return false;
  const QByteArray text = f.readAll();
  Lines = text.count('\n');
  return !text.isEmpty() && text.endsWith('\n');
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
  // The table ends with a whole line and never runs past the sound.
  qsizetype lines = 0;
  EXPECT_TRUE(TableLines(TablePath(path), lines));
  EXPECT_LE(lines - 1, qsizetype((kept.size() + BlockBytes - 1) / BlockBytes));
  EXPECT_GE(lines - 1, c.MinBlocks - 1);
  if (c.Format == ETakeFormat::Flac) {
    // Valid to its last byte, its length in its header.
    const TFlacCheck flac = CheckFlac(path);
    EXPECT_EQ(flac.Errors, 0);
    EXPECT_TRUE(flac.ToTheEnd);
    EXPECT_EQ(flac.HeaderFrames, flac.Frames);
    EXPECT_EQ(std::size_t(flac.Frames) * 4, kept.size());
  }
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
                      TFaultCase{"DiskFullFlac", ETakeFormat::Flac,
                                 [](TSetup&) {
                                   ::signal(SIGXFSZ, SIG_IGN);
                                   const ::rlimit small{48 * 1024, RLIM_INFINITY};
                                   ::setrlimit(RLIMIT_FSIZE, &small);
                                 },
                                 "cannot write the take", 2},
                      TFaultCase{"FolderRemoved", ETakeFormat::Flac,
                                 [](TSetup& s) { ASSERT_TRUE(QDir(s.Folder).removeRecursively()); },
                                 "the folder was removed while recording; the take was saved again",
                                 22}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// Record with capture stopped starts capture; a take with no sound leaves no
// file and is not called saved; Record with no device says why and writes
// nothing.
TEST(TakeRecord, StartsCaptureAndKeepsOnlyTakesWithSound) {
  TSetup s;
  ASSERT_FALSE(s.Form->Recorder->IsRecording());
  s.Chart->ToggleRecording();
  ASSERT_TRUE(s.Chart->Takes().Recording()) << s.Chart->TakeMessage().toStdString();
  ASSERT_TRUE(RunUntil([&] { return s.Form->Recorder->IsRecording(); }, 10000));
  const QString path = s.Chart->Takes().LastPath();
  ASSERT_TRUE(s.Capture(3));
  s.Chart->ToggleRecording();
  ASSERT_TRUE(RunUntil([&] { return s.Saved == 1; }, 20000));
  EXPECT_EQ(s.Chart->Status(), QStringLiteral("Saved ") + path);
  std::string error;
  EXPECT_EQ(ReadTake(path, &error).size(), std::size_t(3) * BlockBytes);
  EXPECT_EQ(error, "");

  // Started and ended between two blocks: nothing to keep.
  s.Chart->ToggleRecording();
  ASSERT_TRUE(s.Chart->Takes().Recording());
  const QString empty = s.Chart->Takes().LastPath();
  EXPECT_TRUE(QFile::exists(empty));
  s.Chart->ToggleRecording();
  ASSERT_TRUE(RunUntil([&] { return s.Chart->Takes().Open() == 0; }, 20000));
  RunFor(50);
  EXPECT_EQ(s.Saved, 1);
  EXPECT_FALSE(QFile::exists(empty));
  EXPECT_FALSE(QFile::exists(TablePath(empty)));
  EXPECT_TRUE(s.Chart->Status().startsWith(QStringLiteral("Nothing was recorded")))
      << s.Chart->Status().toStdString();
  EXPECT_TRUE(s.Problems.isEmpty());
  EXPECT_EQ(QDir(s.Folder).entryList(QDir::Files).size(), 3);  // the first take: sound and two tables

  TSetup none(ETakeFormat::Flac, {});
  none.Chart->ToggleRecording();
  EXPECT_FALSE(none.Chart->Takes().Recording());
  EXPECT_TRUE(none.Chart->TakeMessage().contains(QStringLiteral("no device")))
      << none.Chart->TakeMessage().toStdString();
  RunFor(50);
  EXPECT_EQ(none.Saved, 0);
  EXPECT_TRUE(QDir(none.Folder).entryList(QDir::Files).isEmpty());
}

// quenvis-render's formants.csv for Path, with the chart's voices.
// Table: formants.csv or voice.csv of quenvis-render's outputs for Path.
QByteArray RenderedTable(TSetup& S, const QString& Path,
                         const QString& Table = QStringLiteral("formants.csv")) {
  TRenderOptions options;
  options.Input = Path.toStdString();
  options.OutDir = S.Dir.filePath(QStringLiteral("render-") + QFileInfo(Path).baseName()).toStdString();
  options.Voice = S.Chart->Voice();
  options.FormantVoice = S.Chart->FormantVoice();
  if (const std::string e = RenderRecording(options, TRenderHooks{}); !e.empty()) {
    ADD_FAILURE() << e;
    return {};
  }
  QFile f(QString::fromStdString(options.OutDir) + QStringLiteral("/") + Table);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray FileBytes(const QString& Path) {
  QFile f(Path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}


// A take started in the middle of a sung vowel: its table is what
// quenvis-render writes for the take's file, from the first row. Also when
// the voice clips, where the estimator redraws the peaks that the voice
// measures then share.
TEST(TakeTable, StartedMidSpeechIsQuenvisRendersTableOfTheTake) {
  for (const double peak : {0.5, 2.0}) {
    SCOPED_TRACE(peak);
    TSetup s;
    test::TVowel vowel;
    vowel.F0 = 220;
    vowel.F = {700, 1100, 2600, 3500, 4500};
    vowel.Vibrato = true;
    vowel.Seconds = 2.5;
    vowel.Peak = peak;
    const std::string wav = s.Dir.filePath(QStringLiteral("sung.wav")).toStdString();
    ASSERT_TRUE(test::WriteWav(wav, test::Synthesize(vowel)));
    TFileWaveInService& file = s.Form->Playback->File();
    file.SetPacing(false);
    ASSERT_EQ(s.Form->OpenRecording(QString::fromStdString(wav)), QString());
    ASSERT_TRUE(RunUntil([&] { return file.IsStarted() && file.Complete(); }, 15000));
    auto step = [&](int Blocks) {
      for (int i = 0; i < Blocks; ++i) {
        const int before = s.Blocks;
        if (file.Step(1) != 1 || !RunUntil([&] { return s.Blocks > before; }, 10000)) return false;
      }
      return true;
    };
    ASSERT_TRUE(step(17));
    s.Chart->ToggleRecording();
    ASSERT_TRUE(s.Chart->Takes().Recording());
    EXPECT_EQ(s.Chart->Status(), QStringLiteral("Recording the sound being played"));
    ASSERT_TRUE(step(25));
    s.Chart->ToggleRecording();
    ASSERT_TRUE(RunUntil([&] { return s.Saved == 1; }, 20000));
    const QString take = s.Chart->Takes().LastPath();
    const QByteArray ours = FileBytes(TablePath(take));
    EXPECT_EQ(ours.count('\n'), 26);
    EXPECT_EQ(ours.toStdString(), RenderedTable(s, take).toStdString());
    // The voice measures start afresh with the take too.
    const QByteArray voice =
        FileBytes(take.left(take.lastIndexOf(u'.')) + QStringLiteral(".voice.csv"));
    EXPECT_EQ(voice.toStdString(),
              RenderedTable(s, take, QStringLiteral("voice.csv")).toStdString());
  }
}

// Capture ended by an unplugged device in the middle of a block: the take's
// table has a row for that short block, as quenvis-render's has, and none
// past it.
TEST(TakeTable, EndedByAnUnpluggedDeviceIsQuenvisRendersTableOfTheTake) {
  TSetup s;
  ASSERT_TRUE(s.StartCapture());
  ASSERT_TRUE(s.Capture(4));
  s.Chart->ToggleRecording();
  ASSERT_TRUE(s.Capture(6));
  s.Service.Fill(BlockBytes / 2);
  s.Service.Vanish();
  ASSERT_TRUE(RunUntil([&] { return s.Saved == 1; }, 20000));
  const QString take = s.Chart->Takes().LastPath();
  std::string error;
  const std::size_t kept = ReadTake(take, &error).size();
  EXPECT_EQ(error, "");
  const QByteArray ours = FileBytes(TablePath(take));
  EXPECT_EQ(ours.count('\n') - 1, qsizetype((kept + BlockBytes - 1) / BlockBytes));
  EXPECT_EQ(ours.toStdString(), RenderedTable(s, take).toStdString());
}

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
  // Up to the last sync, less what the encoder still held then (a frame).
  EXPECT_GE(kept.size(), std::size_t(synced - 1) * BlockBytes);
  ASSERT_LE(kept.size(), sound.size());
  EXPECT_TRUE(std::equal(kept.begin(), kept.end(), sound.begin()));
  // The header gives the length to within a sync.
  std::int64_t header = -1;
  if (QString::fromLatin1(GetParam()) == QStringLiteral("flac")) {
    const TFlacCheck flac = CheckFlac(path);
    EXPECT_EQ(flac.Errors, 0);
    EXPECT_TRUE(flac.ToTheEnd);
    // Readers that trust the header stop at its count; the frames after it
    // are valid too.
    EXPECT_GE(std::size_t(flac.Frames) * 4, kept.size());
    EXPECT_GE(flac.Frames, std::int64_t(sound.size() / 4) - 2 * BlockFrames);
    EXPECT_LE(flac.HeaderFrames, flac.Frames);
    EXPECT_GE(flac.HeaderFrames, flac.Frames - (CTakeWriter::SyncBlocks + 1) * BlockFrames);
    header = flac.HeaderFrames;
  } else {
    SF_INFO info{};
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    sf_close(f);
    header = info.frames;
  }
  EXPECT_GT(header, 0);
  EXPECT_LE(header, std::int64_t(kept.size() / 4));
  EXPECT_GE(header, std::int64_t(kept.size() / 4) - (CTakeWriter::SyncBlocks + 1) * BlockFrames);
  // A line per block whose sound is in the file, whole lines only; the
  // block the encoder still held may be missing.
  qsizetype lines = 0;
  EXPECT_TRUE(TableLines(dir.filePath(QStringLiteral("crash.formants.csv")), lines));
  EXPECT_GE(lines, synced);
  EXPECT_LE(lines - 1, qsizetype((kept.size() + BlockBytes - 1) / BlockBytes));
}

INSTANTIATE_TEST_SUITE_P(Formats, TakeCrash, ::testing::Values("flac", "wav"));

// A file cut short (its header announces more than it holds) plays what it
// holds and is named as such; the desktop entry opens the files it reads.
TEST(TakePlayback, CutShortFileIsNamedAsSuchAndTheDesktopEntryOpensFiles) {
  TSetup s;
  const QString wav = s.Dir.filePath(QStringLiteral("cut.wav"));
  ASSERT_TRUE(test::WriteSteadyStereoWav(QFile::encodeName(wav).toStdString(), 1.0, 300));
  ASSERT_TRUE(QFile::resize(wav, 44 + 4 * 20000));
  TFileWaveInService& file = s.Form->Playback->File();
  file.SetPacing(false);
  ASSERT_EQ(s.Form->OpenRecording(wav), QString());
  ASSERT_TRUE(RunUntil([&] { return file.IsStarted() && file.Complete(); }, 15000));
  EXPECT_EQ(file.Step(1), 1);
  RunFor(50);
  EXPECT_EQ(s.Chart->windowTitle(), QStringLiteral("cut.wav (cut short) - Quenvis vowel chart"));
  EXPECT_TRUE(s.Chart->Status().contains(QStringLiteral("the file ends early")))
      << s.Chart->Status().toStdString();
  // Back to capture: no file named.
  s.Form->Bt_startClick(nullptr);
  ASSERT_TRUE(RunUntil([&] { return s.Form->Recorder->IsRecording() && !s.Form->Playback->Active(); },
                       15000));
  EXPECT_EQ(s.Chart->windowTitle(), QStringLiteral("Quenvis vowel chart"));

  QFile entry(QStringLiteral(QUENVIS_SOURCE_DIR "/data/io.github.quenvis.Quenvis.desktop"));
  ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(entry.readAll());
  EXPECT_TRUE(text.contains(QStringLiteral("\nExec=quenvis %f\n")));
  const qsizetype at = text.indexOf(QStringLiteral("\nMimeType="));
  ASSERT_GE(at, 0);
  const QStringList types = text.mid(at + 10).section(u'\n', 0, 0).split(u';', Qt::SkipEmptyParts);
  for (const char* type : {"audio/flac", "audio/x-wav", "audio/ogg", "audio/mpeg", "audio/x-aiff"})
    EXPECT_TRUE(types.contains(QString::fromLatin1(type))) << type;
  for (const QString& type : types) EXPECT_TRUE(type.startsWith(QStringLiteral("audio/"))) << type.toStdString();
}

// The memory this process holds, in bytes.
std::int64_t ResidentBytes() {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ')[0].toLongLong() * 1024;
  return -1;
}

// A long recording plays from the file: what is decoded stays within 100 MB
// whatever the length, and a seek anywhere plays from there.
TEST(TakePlayback, LongRecordingPlaysWithBoundedMemory) {
  TSetup s;
  // 20 minutes of silence, a sparse file: nothing to write, 212 MB decoded.
  const std::int64_t frames = 44100LL * 60 * 20;
  const QString wav = s.Dir.filePath(QStringLiteral("long.wav"));
  {
    QFile f(wav);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    auto u32 = [&](std::uint32_t v) {
      const char b[4] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
      f.write(b, 4);
    };
    auto u16 = [&](std::uint16_t v) {
      const char b[2] = {char(v), char(v >> 8)};
      f.write(b, 2);
    };
    const auto data = std::uint32_t(frames * 4);
    f.write("RIFF", 4);
    u32(36 + data);
    f.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(2);
    u32(44100);
    u32(44100 * 4);
    u16(4);
    u16(16);
    f.write("data", 4);
    u32(data);
    ASSERT_TRUE(f.resize(44 + std::int64_t(data)));
  }
  const std::int64_t before = ResidentBytes();
  ASSERT_GT(before, 0);
  TFileWaveInService& file = s.Form->Playback->File();
  file.SetPacing(false);
  ASSERT_EQ(s.Form->OpenRecording(wav), QString());
  ASSERT_TRUE(RunUntil([&] { return file.IsStarted(); }, 15000));
  // Decoding runs ahead until it stops by itself.
  std::int64_t decoded = -1;
  for (int i = 0; i < 100 && file.Blocks() != decoded; ++i) {
    decoded = file.Blocks();
    RunFor(150);
  }
  constexpr std::int64_t Limit = 100LL << 20;
  EXPECT_LT(ResidentBytes() - before, Limit);
  const double block = double(BlockFrames) / SampleRate;
  EXPECT_NEAR(file.Length(), 1200.0, 1.0);

  // Near the end, then near the start again.
  for (const double at : {1140.0, 10.0}) {
    emit s.Chart->Timeline().seekRequested(at);
    ASSERT_TRUE(RunUntil([&] { return file.Step(1) == 1; }, 15000)) << at;
    EXPECT_NEAR(file.Position(), at, 2 * block);
    EXPECT_LT(ResidentBytes() - before, Limit);
  }
}

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
  ASSERT_TRUE(test::WriteWav(wav, mono));

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

// An output that takes all it is given and holds HeldSeconds of it unheard,
// as a sound server's queue and device do.
class THoldingOutput final : public CSoundOutput {
 public:
  explicit THoldingOutput(double HeldSeconds) : FHeld(HeldSeconds) {}
  bool Open(std::uint32_t) override { return true; }
  void Write(const void*, std::uint32_t) override {}
  std::uint32_t Room() override { return 1u << 30; }
  double Latency() override { return FHeld; }
  void SetRate(std::uint32_t) override {}
  void Flush() override {}
  void Close() override {}

 private:
  double FHeld;
};

// The timeline shows what is heard: the sound written, some blocks ahead of
// the picture, less what the output still holds (in the file's time: fewer
// seconds of it at half speed). Paused, nothing is held.
TEST(TakePlayback, TimelineShowsTheSoundHeardNotTheBlockAnalysed) {
  TSetup s(ETakeFormat::Flac, {});
  const std::string wav = s.Dir.filePath(QStringLiteral("tone.wav")).toStdString();
  ASSERT_TRUE(test::WriteSteadyStereoWav(wav, 8.0, 100));
  TFileWaveInService& file = s.Form->Playback->File();
  constexpr double Held = 1.0;
  file.SetOutput(std::make_unique<THoldingOutput>(Held));
  file.SetPacing(false);
  ASSERT_EQ(s.Form->OpenRecording(QString::fromStdString(wav)), QString());
  ASSERT_TRUE(RunUntil([&] { return file.IsStarted() && file.Complete(); }, 15000));
  TTimeline& t = s.Chart->Timeline();
  const double block = double(BlockFrames) / SampleRate;
  auto step = [&](int Blocks) {
    for (int i = 0; i < Blocks; ++i) {
      const int before = s.Blocks;
      if (file.Step(1) != 1 || !RunUntil([&] { return s.Blocks > before; }, 10000)) return false;
    }
    return true;
  };
  ASSERT_TRUE(step(40));
  const double written = file.Position() + TFileWaveInService::LeadBlocks * block;
  EXPECT_NEAR(t.Position(), written - Held, 1e-9);
  EXPECT_LT(t.Position(), file.Position());

  t.SetSpeed(0.5);
  emit t.speedChanged(t.Speed());
  ASSERT_TRUE(step(4));
  EXPECT_NEAR(t.Position(), written + 4 * block - 0.5 * Held, 1e-9);

  emit s.Chart->playPauseRequested();
  ASSERT_TRUE(file.Paused());
  EXPECT_DOUBLE_EQ(t.Position(), file.Position());
}

// The timeline and the keys drive the player; the timeline follows it. A
// recording plays also where no capture device is listed.
TEST(TakePlayback, TimelineSeeksStepsLoopsPausesAndSetsTheSpeed) {
  TSetup s(ETakeFormat::Flac, {});
  const std::string wav = s.Dir.filePath(QStringLiteral("silence.wav")).toStdString();
  ASSERT_TRUE(test::WriteSteadyStereoWav(wav, 12.0, 100, 48000));  // resampled, as quenvis-render does
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
  // Tenths of a second, and the file's name in the window's title.
  EXPECT_TRUE(t.Text().startsWith(QStringLiteral("0:00.4 / 0:12.0"))) << t.Text().toStdString();
  EXPECT_EQ(s.Chart->windowTitle(), QStringLiteral("silence.wav - Quenvis vowel chart"));
  t.Step(TTimeline::StepSeconds);  // Right
  EXPECT_DOUBLE_EQ(file.Position(), std::floor((10 * block + 5) / block) * block);
  t.Step(-3 * TTimeline::StepSeconds);  // Left, past the start
  EXPECT_DOUBLE_EQ(file.Position(), 0.0);
  emit t.seekRequested(7.0);  // a click
  EXPECT_DOUBLE_EQ(t.Position(), std::floor(7.0 / block) * block);

  // L with a selection loops it; again stops looping.
  t.Select(2.0, 3.25);
  EXPECT_TRUE(t.Text().contains(QStringLiteral("sel 0:02.0-0:03.2 (0:01.2)")))
      << t.Text().toStdString();
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
  EXPECT_TRUE(t.Text().contains(QStringLiteral("paused"))) << t.Text().toStdString();
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
