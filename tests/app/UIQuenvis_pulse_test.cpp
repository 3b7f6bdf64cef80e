// The window on the native capture service, against a private PulseAudio
// server (scripts/pulse-private.sh run), or PipeWire through pipewire-pulse
// (scripts/pipewire-private.sh run), that the tests kill, stall, restart,
// and whose sources and streams they unload, reload, suspend and end. Each
// fault must bring the window back to "?" with one line saying why, and the
// next Start must capture at the real block rate.
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextBlock>
#include <QThread>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <functional>

#include "app/UIQuenvis.h"
#include "capture/UWaveRecorder.h"
#include "support/RunEvents.h"

namespace quenvis {
namespace {

const QString TestInput = QStringLiteral("Quenvis test input");

QString Env(const char* Name) { return qEnvironmentVariable(Name); }

QString Exec(const QString& Program, const QStringList& Args) {
  QProcess p;
  p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  p.start(Program, Args);
  const bool ok = p.waitForFinished(30000) && p.exitCode() == 0;
  EXPECT_TRUE(ok) << Program.toStdString() << ' ' << Args.join(' ').toStdString();
  return QString::fromUtf8(p.readAllStandardOutput());
}

void Script(QStringList Args) {
  Args.insert(1, Env("QUENVIS_PULSE_DIR"));
  Exec(Env("QUENVIS_PULSE_SCRIPT"), Args);
}

using test::RunFor;
using test::RunUntil;

// Sends Signal to the private server (SIGSTOP stalls it as an overloaded or
// hung server would).
void SignalServer(int Signal) {
  QFile file(Env("QUENVIS_PULSE_DIR") + QStringLiteral("/server.pid"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const pid_t pid = file.readAll().trimmed().toInt();
  ASSERT_GT(pid, 0);
  ASSERT_EQ(::kill(pid, Signal), 0);
}

bool OnPipeWire() { return Env("QUENVIS_SOUND_SERVER") == QStringLiteral("pipewire"); }

// Has the server end a capture stream, its source staying, as a sound
// settings panel may. pactl cannot: PulseAudio's command line interface
// does, and on PipeWire pw-cli, destroying the stream's node.
void EndStream(const QString& Id) {
  if (OnPipeWire()) {
    // pipewire-pulse numbers a stream by its node's serial; pw-cli wants the
    // node's id, which the stream's properties give.
    QString node;
    bool ours = false;
    for (const QString& line : Exec("pactl", {"list", "source-outputs"}).split('\n')) {
      if (line.startsWith(QStringLiteral("Source Output #"))) ours = line.mid(15).trimmed() == Id;
      const QString t = line.trimmed();
      if (ours && t.startsWith(QStringLiteral("object.id = ")))
        node = t.section('"', 1, 1);
    }
    ASSERT_FALSE(node.isEmpty()) << "no node for stream " << Id.toStdString();
    Exec("pw-cli", {"destroy", node});
    return;
  }
  const QByteArray path = (Env("QUENVIS_PULSE_DIR") + QStringLiteral("/cli")).toLocal8Bit();
  if (!QFile::exists(QString::fromLocal8Bit(path)))
    Exec("pactl", {"load-module", "module-cli-protocol-unix", "socket=" + path});
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(size_t(path.size()), sizeof address.sun_path);
  std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  const QByteArray command = "kill-source-output " + Id.toLatin1() + "\n";
  EXPECT_EQ(::write(fd, command.constData(), size_t(command.size())), command.size());
  ::shutdown(fd, SHUT_WR);  // the server answers, then hangs up
  char reply[256];
  while (::read(fd, reply, sizeof reply) > 0) {
  }
  ::close(fd);
}

// The numbers of the capture streams the server holds for clients (the
// remap sources' own streams have no client): after Stop, none.
QStringList ClientStreams() {
  QStringList ids;
  for (const QString& line : Exec("pactl", {"list", "short", "source-outputs"}).split('\n'))
    if (const QStringList f = line.split('\t'); f.size() > 2 && f[2] != "-") ids << f[0];
  return ids;
}

class WindowOnPulse : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Env("QUENVIS_PULSE_DIR").isEmpty()) << "run through scripts/pulse-private.sh run";
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    qputenv("QUENVIS_AUDIO", "");
    // A tone keeps the test sink running as a sound card would; idle, it may
    // take seconds to deliver the first sound to a new stream.
    Script({"tone"});
  }

  void TearDown() override {
    if (Stalled) SignalServer(SIGCONT);
  }

  QString Caption() const { return Form->windowTitle(); }
  QString LastLine() const { return Form->Memo1->toPlainText().split('\n').last(); }
  QStringList Lines() const { return Form->Memo1->toPlainText().split('\n'); }

  bool Select(const QString& Name) {
    for (int i = 0; i < Form->CB_Pilotes->count(); ++i)
      if (Form->CB_Pilotes->itemText(i).contains(Name)) {
        Form->CB_Pilotes->setCurrentIndex(i);
        return true;
      }
    return false;
  }

  // Start on the test input; capture must go on at the real block rate. The
  // test server's sink may take up to two seconds to deliver its first
  // sound, so the rate taken is the second one.
  void StartAndCheckRate() {
    ASSERT_TRUE(Select(TestInput)) << Lines().join('|').toStdString();
    Form->Bt_start->click();
    CheckRate();
  }
  void CheckRate() {
    // A rate as steady as PipeWire's leaves the caption's text as it was: the
    // blocks counted then show that the rate was measured again.
    const QRegularExpression rate(QStringLiteral("^Quenvis par ZR ([0-9.]+) img/s$"));
    int updates = 0, blocks = 0;
    QString last = Caption();
    std::int32_t count = Form->Rate.FFrameCount;
    ASSERT_TRUE(RunUntil(
        [&] {
          if (Caption() != last) ++updates;
          last = Caption();
          // The count starts again at every measurement.
          blocks += (Form->Rate.FFrameCount - count + RateBlocks) % RateBlocks;
          count = Form->Rate.FFrameCount;
          return updates == 2 || (blocks > 2 * RateBlocks && rate.match(Caption()).hasMatch());
        },
        15000))
        << Caption().toStdString() << " / " << LastLine().toStdString();
    ASSERT_TRUE(rate.match(Caption()).hasMatch()) << Caption().toStdString();
    EXPECT_NEAR(rate.match(Caption()).captured(1).toDouble(), 21.5, 1.0);
  }

  // Capture ends by itself within TimeoutMs, saying Why once.
  void ExpectStopped(const char* Why, int TimeoutMs) {
    const QString line = QStringLiteral("Capture stopped: ") + QLatin1String(Why);
    const qsizetype before = Lines().count(line);
    EXPECT_TRUE(RunUntil([&] { return Lines().count(line) > before; }, TimeoutMs))
        << LastLine().toStdString();
    EXPECT_EQ(LastLine(), line);
    EXPECT_EQ(Lines().count(line), before + 1);
    EXPECT_EQ(Caption(), QStringLiteral("Quenvis par ZR ? img/s"));
    EXPECT_FALSE(Form->Recorder->IsBusy());
  }

  void Outage(int Seconds) {
    Form = std::make_unique<TForm1>();
    StartAndCheckRate();
    Script({"kill"});
    ExpectStopped("the sound server went away", 1000);
    RunFor(Seconds * 1000 / 2);
    Form->Bt_start->click();
    EXPECT_EQ(LastLine(), QStringLiteral("Start: the sound server is not running"));
    RunFor(Seconds * 1000 / 2);
    Script({"start"});
    Script({"tone"});
    RunFor(2000);  // one reconnection attempt a second
    StartAndCheckRate();
  }

  // The last line of the text box is wholly in view.
  bool LastLineShown() const {
    const QPlainTextEdit& memo = *Form->Memo1;
    QTextCursor c(memo.document()->lastBlock());
    const QRect start = memo.cursorRect(c);
    c.movePosition(QTextCursor::EndOfBlock);
    const QRect end = memo.cursorRect(c);
    const QRect view = memo.viewport()->rect();
    return view.contains(start) && view.contains(end);
  }

  std::unique_ptr<TForm1> Form;
  bool Stalled = false;
};

TEST_F(WindowOnPulse, TenSecondsWithoutServerThenStartCaptures) { Outage(10); }

TEST_F(WindowOnPulse, MinuteWithoutServerThenStartCaptures) { Outage(60); }

TEST_F(WindowOnPulse, LaunchedWithoutServerFindsTheDevicesWhenItComes) {
  Script({"stop"});
  Form = std::make_unique<TForm1>();
  EXPECT_EQ(Form->CB_Pilotes->count(), 0);
  Form->Bt_start->click();
  EXPECT_EQ(LastLine(), QStringLiteral("Start: no device"));
  Script({"start"});
  Script({"tone"});
  ASSERT_TRUE(RunUntil([&] { return Form->CB_Pilotes->count() == 2; }, 5000));
  // Inputs first, then the monitors of outputs, named as the server
  // describes them, with the server's version.
  const QString version =
      Exec("pactl", {"info"}).section(QStringLiteral("Server Version: "), 1).section('\n', 0, 0);
  const QString v = QStringLiteral(" v") + version.section('.', 0, 1);
  const QStringList expected = {QStringLiteral("0 - Quenvis test input") + v,
                                QStringLiteral("1 - Monitor of Quenvis_test_sink") + v};
  for (int i = 0; i < 2; ++i) EXPECT_EQ(Form->CB_Pilotes->itemText(i), expected[i]);
  EXPECT_EQ(Lines().mid(3), expected + QStringList{"Start: no device"});
  StartAndCheckRate();
}

TEST_F(WindowOnPulse, SourceUnloadedAndReloadedFiveTimes) {
  Form = std::make_unique<TForm1>();
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(Select(TestInput));
    Form->Bt_start->click();
    ASSERT_TRUE(RunUntil([&] { return Form->Rate.FFrameCount >= 3; }, 5000));
    Script({"unload-source"});
    ExpectStopped("the device was removed", 1000);
    Script({"load-source", "quenvis_mic", TestInput});
    ASSERT_TRUE(RunUntil([&] { return Select(TestInput); }, 3000));
  }
  StartAndCheckRate();
}

// PulseAudio suspends a source that is being captured, and its silence ends
// the capture; PipeWire keeps a node running while a stream is linked to it,
// so there capture goes on at the real rate.
TEST_F(WindowOnPulse, SuspendedSourceEndsTheCapture) {
  Form = std::make_unique<TForm1>();
  StartAndCheckRate();
  Exec("pactl", {"suspend-source", "quenvis_mic", "1"});
  if (OnPipeWire()) {
    CheckRate();
    EXPECT_TRUE(Form->Recorder->IsRecording());
    Exec("pactl", {"suspend-source", "quenvis_mic", "0"});
    Form->Bt_stop->click();
  } else {
    ExpectStopped("no sound for 1.5 s", 3000);
    Exec("pactl", {"suspend-source", "quenvis_mic", "0"});
  }
  StartAndCheckRate();
}

TEST_F(WindowOnPulse, SourceAddedDuringCaptureIsListedAfterStop) {
  Form = std::make_unique<TForm1>();
  StartAndCheckRate();
  const QString second = QStringLiteral("Second test input");
  Script({"load-source", "quenvis_mic2", second});
  RunFor(1000);
  EXPECT_EQ(Form->CB_Pilotes->findText(second, Qt::MatchContains), -1);
  Form->Bt_stop->click();
  ASSERT_TRUE(
      RunUntil([&] { return Form->CB_Pilotes->findText(second, Qt::MatchContains) >= 0; }, 3000));
  EXPECT_TRUE(Form->CB_Pilotes->currentText().contains(TestInput));
  EXPECT_EQ(Lines().filter(second).size(), 1);
  StartAndCheckRate();
  Form.reset();
  Script({"unload-source", "quenvis_mic2"});
}

// Start and Stop clicked in fast pairs, a few milliseconds apart, with the
// streams still being made or ended: after the last Stop the server holds no
// stream of ours, and the next Start captures.
TEST_F(WindowOnPulse, TwoHundredFastStartStopPairsLeaveNoStream) {
  Form = std::make_unique<TForm1>();
  ASSERT_TRUE(Select(TestInput));
  for (int i = 0; i < 200; ++i) {
    Form->Bt_start->click();
    RunFor(1 + i % 5);
    Form->Bt_stop->click();
    RunFor(1 + (i * 7) % 4);
  }
  Form->Bt_stop->click();
  for (int i = 0; i < 10 && !ClientStreams().isEmpty(); ++i) RunFor(300);
  EXPECT_EQ(ClientStreams(), QStringList());
  EXPECT_FALSE(Form->Recorder->IsBusy());
  EXPECT_EQ(Caption(), QStringLiteral("Quenvis par ZR ? img/s"));
  StartAndCheckRate();
  Form->Bt_stop->click();
  for (int i = 0; i < 10 && !ClientStreams().isEmpty(); ++i) RunFor(300);
  EXPECT_EQ(ClientStreams(), QStringList());
}

// Faults during capture, one after the other in one window with three
// devices. Each row: the fault, why capture stopped (in view as the last
// line), and what brings the device back, after which capture resumes by
// itself or by Start. Then the test input is chosen and captured at the real
// rate, and after Stop the server holds no stream of ours, however the fault
// and the clicks fell.
TEST_F(WindowOnPulse, FaultsLeaveNoStreamTheChoiceAndALineInView) {
  const struct {
    const char* Name;
    std::function<void()> Fault;
    const char* Why;  // null: no line
    std::function<void()> Back;
    bool Resumes;
  } rows[] = {
      {"server killed and started again", [] { Script({"kill"}); }, "the sound server went away",
       [] {
         Script({"start"});
         Script({"tone"});
         Script({"load-source", "quenvis_mic2", "Second test input"});
       },
       true},
      {"source unloaded and loaded again", [] { Script({"unload-source"}); },
       "the device was removed",
       [this] {
         EXPECT_FALSE(Form->CB_Pilotes->currentText().contains(TestInput));
         Script({"load-source", "quenvis_mic", TestInput});
       },
       true},
      {"stream ended by the server",
       [] {
         const QStringList ids = ClientStreams();
         ASSERT_EQ(ids.size(), 1);
         EndStream(ids[0]);
       },
       "the sound server ended the stream", [] {}, false},
      {"server stalled; Start and Stop meanwhile",
       [this] {
         SignalServer(SIGSTOP);
         Stalled = true;
       },
       "no sound for 1.5 s",
       [this] {
         // A stream asked for now is still being made when Stop lets it go.
         Form->Bt_start->click();
         RunFor(500);
         Form->Bt_stop->click();
         SignalServer(SIGCONT);
         Stalled = false;
         RunFor(1000);
       },
       false},
      {"Stop and Start in one batch of input",
       [this] {
         QMetaObject::invokeMethod(Form->Bt_stop, &QPushButton::click, Qt::QueuedConnection);
         QMetaObject::invokeMethod(Form->Bt_start, &QPushButton::click, Qt::QueuedConnection);
         RunFor(500);
       },
       nullptr, [] {}, true},
      {"source away, Stop, source back", [] { Script({"unload-source"}); },
       "the device was removed",
       [this] {
         Form->Bt_stop->click();
         Script({"load-source", "quenvis_mic", TestInput});
         RunFor(1500);
       },
       false},
  };

  // With three devices the stop line used to scroll out of view.
  Script({"load-source", "quenvis_mic2", "Second test input"});
  Form = std::make_unique<TForm1>();
  Form->show();
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Name);
    ASSERT_TRUE(Select(TestInput));
    Form->Bt_start->click();
    ASSERT_TRUE(RunUntil([&] { return Form->Rate.FFrameCount >= 3; }, 5000));
    const QString before = LastLine();
    row.Fault();
    if (row.Why) ExpectStopped(row.Why, 4000);
    EXPECT_TRUE(LastLineShown());
    const QString stopped = LastLine();
    row.Back();
    if (!row.Resumes) {
      EXPECT_EQ(LastLine(), stopped);
      EXPECT_FALSE(Form->Recorder->IsBusy());
      Form->Bt_start->click();
    } else if (row.Why) {
      EXPECT_TRUE(RunUntil([&] { return LastLine() == "Capture resumed"; }, 5000));
    } else {
      EXPECT_EQ(LastLine(), before);
      EXPECT_TRUE(Form->Recorder->IsRecording());
    }
    EXPECT_TRUE(Form->CB_Pilotes->currentText().contains(TestInput));
    CheckRate();
    Form->Bt_stop->click();
    for (int i = 0; i < 10 && !ClientStreams().isEmpty(); ++i) RunFor(300);
    EXPECT_EQ(ClientStreams(), QStringList());
    EXPECT_TRUE(LastLineShown());
  }
  Form.reset();
  Script({"unload-source", "quenvis_mic2"});
}

}  // namespace
}  // namespace quenvis
