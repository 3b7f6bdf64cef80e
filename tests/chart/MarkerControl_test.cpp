// Markers in the chart window, on the scripted capture service: M while a
// take is recorded and while it plays, Shift+M on a selection, what the
// TextGrid beside the take then holds, and the marks on the spectrogram.
// Also the window's keys: every one in the F1 list, every control hinted.
#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QSettings>
#include <QShortcut>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "analysis/Common.h"
#include "app/Playback.h"
#include "app/UIQuenvis.h"
#include "capture/UWaveRecorder.h"
#include "chart/ChartHelp.h"
#include "chart/MarkerControl.h"
#include "chart/SonogramView.h"
#include "chart/VowelChart.h"
#include "io/TextGrid.h"
#include "support/FakeWaveInService.h"
#include "support/QtTestMain.h"
#include "support/RunEvents.h"
#include "takes/TakeRecorder.h"
#include "takes/Timeline.h"

namespace quenvis {
namespace {

using test::RunUntil;

constexpr double BlockSeconds = double(BlockFrames) / SampleRate;

struct TSetup {
  QTemporaryDir Dir;
  QString Folder = Dir.path() + QStringLiteral("/takes");
  TFakeWaveInService Service{{{"Mic"}}};
  std::unique_ptr<TForm1> Form;
  TVowelChart* Chart = nullptr;
  int Blocks = 0;
  int Saved = 0;

  TSetup() {
    QSettings().setValue(QStringLiteral("takes/folder"), Folder);
    Form = std::make_unique<TForm1>(&Service);
    Form->Playback->File().SetOutput(nullptr);
    Form->ShowChart();
    Chart = Form->Chart;
    Chart->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(Chart));
    auto inner = Form->Recorder->OnData;
    Form->Recorder->OnData = [this, inner](void* Data, int32_t Bytes, int32_t Frames,
                                           int32_t& Done) {
      inner(Data, Bytes, Frames, Done);
      ++Blocks;
    };
    QObject::connect(&Chart->Takes(), &TTakeRecorder::saved, [this] { ++Saved; });
  }
  bool Capture(int Count) {
    for (int i = 0; i < Count; ++i) {
      const int before = Blocks;
      if (Service.FillBlocks(1) == 0 || !RunUntil([&] { return Blocks > before; }, 10000))
        return false;
    }
    return true;
  }
  QLineEdit& Editor() { return Chart->Markers().NameEditor(); }
  // ASCII typed key by key, the rest as an input method would give it.
  void Type(const QString& Keys, Qt::Key End, const QString& Composed = {}) {
    QTest::keyClicks(&Editor(), Keys);
    Editor().insert(Composed);
    QTest::keyClick(&Editor(), End);
  }
};

TTextGrid Grid(const QString& SoundPath) {
  TTextGrid g;
  EXPECT_EQ(ReadTextGrid(QFile::encodeName(TTakeMarkers::PathFor(SoundPath)).toStdString(), g), "");
  return g;
}

TEST(Markers, WhileRecordingThenPlayingAreKeptInTheTakesTextGrid) {
  TSetup s;
  // Nothing to mark yet: said, and nothing written.
  QTest::keyClick(s.Chart, Qt::Key_M);
  EXPECT_TRUE(s.Chart->Status().contains(QStringLiteral("Markers go on a take")));
  EXPECT_FALSE(s.Editor().isVisible());

  s.Form->Bt_startClick(nullptr);
  ASSERT_TRUE(RunUntil([&] { return s.Form->Recorder->IsRecording(); }, 10000));
  ASSERT_TRUE(s.Capture(7));  // the take starts later in the stream
  QTest::keyClick(s.Chart, Qt::Key_R);
  ASSERT_TRUE(s.Chart->Takes().Recording());
  const QString take = s.Chart->Takes().LastPath();
  ASSERT_TRUE(s.Capture(10));
  QTest::keyClick(s.Chart, Qt::Key_M);
  ASSERT_TRUE(s.Editor().isVisible());
  // Typed keys name the marker: R here records nothing, Space pauses nothing.
  s.Type(QStringLiteral("R "), Qt::Key_Return, QStringLiteral("Ω"));
  EXPECT_FALSE(s.Editor().isVisible());
  EXPECT_TRUE(s.Chart->Takes().Recording());
  EXPECT_FALSE(s.Chart->Paused());
  ASSERT_TRUE(s.Capture(10));
  QTest::keyClick(s.Chart, Qt::Key_M);
  s.Type(QStringLiteral("dropped"), Qt::Key_Escape);  // the name, not the marker
  ASSERT_TRUE(s.Capture(5));
  {
    // On disk at once, while the take goes on.
    const TTextGrid g = Grid(take);
    ASSERT_EQ(g.Tiers.size(), 2u);
    ASSERT_EQ(g.Tiers[0].Items.size(), 2u);
    EXPECT_DOUBLE_EQ(g.Tiers[0].Items[0].Start, 10 * BlockSeconds);
    EXPECT_EQ(g.Tiers[0].Items[0].Text, "R Ω");
    EXPECT_DOUBLE_EQ(g.Tiers[0].Items[1].Start, 20 * BlockSeconds);
    EXPECT_EQ(g.Tiers[0].Items[1].Text, "");
  }
  // On the spectrogram, where those blocks are: 7 blocks in.
  const auto& marks = s.Chart->Spectrogram()->Marks();
  ASSERT_EQ(marks.size(), 2u);
  EXPECT_NEAR(marks[0].Time, 17 * BlockSeconds, 1e-9);
  const double x0 = s.Chart->Spectrogram()->XOfTime(marks[0].Time);
  const double x1 = s.Chart->Spectrogram()->XOfTime(marks[1].Time);
  EXPECT_TRUE(std::isfinite(x0) && std::isfinite(x1) && x0 < x1) << x0 << " " << x1;

  QTest::keyClick(s.Chart, Qt::Key_R);
  ASSERT_TRUE(RunUntil([&] { return s.Saved == 1; }, 20000));
  EXPECT_DOUBLE_EQ(Grid(take).End, 25 * BlockSeconds);  // the whole take

  // Played: the markers come back on the timeline, M marks the playhead.
  TFileWaveInService& file = s.Form->Playback->File();
  file.SetPacing(false);
  ASSERT_EQ(s.Form->OpenRecording(take), QString());
  ASSERT_TRUE(RunUntil([&] { return file.IsStarted() && file.Complete(); }, 15000));
  TTakeMarkers& m = s.Chart->Markers().Markers();
  EXPECT_EQ(m.SoundPath(), take);
  ASSERT_EQ(m.Points().size(), 2u);
  EXPECT_EQ(m.Points()[0].Name, QStringLiteral("R Ω"));
  emit s.Chart->Timeline().seekRequested(0.7);
  ASSERT_TRUE(RunUntil([&] { return s.Chart->Timeline().Position() > 0; }, 10000));
  const double at = s.Chart->Timeline().Position();
  QTest::keyClick(s.Chart, Qt::Key_M);
  ASSERT_TRUE(s.Editor().isVisible()) << s.Chart->Status().toStdString() << " at " << at;
  // The window's keys edit the name meanwhile: Left moves in it, L is a letter.
  QTest::keyClicks(&s.Editor(), QStringLiteral("onst"));
  QTest::keyClick(&s.Editor(), Qt::Key_Left);
  s.Type(QStringLiteral("e"), Qt::Key_Return);
  EXPECT_EQ(s.Chart->Timeline().Position(), at);
  // A right click finds it on the timeline, within a few pixels.
  bool span = true;
  EXPECT_EQ(s.Chart->Timeline().MarkerAt(s.Chart->Timeline().XOf(at) + 2, span), at);
  EXPECT_FALSE(span);
  EXPECT_TRUE(std::isnan(s.Chart->Timeline().MarkerAt(s.Chart->Timeline().XOf(at) + 40, span)));
  // A named selection; Escape drops an unnamed one.
  s.Chart->Timeline().Select(0.2, 0.45);
  QTest::keyClick(s.Chart, Qt::Key_M, Qt::ShiftModifier);
  ASSERT_TRUE(s.Editor().isVisible());
  s.Type(QStringLiteral("sigh"), Qt::Key_Escape);
  EXPECT_TRUE(m.Spans().empty());
  QTest::keyClick(s.Chart, Qt::Key_M, Qt::ShiftModifier);
  s.Type(QStringLiteral("phrase"), Qt::Key_Return);
  EXPECT_EQ(s.Chart->Timeline().MarkerAt(s.Chart->Timeline().XOf(0.3), span), 0.2);
  EXPECT_TRUE(span);

  const TTextGrid g = Grid(take);
  ASSERT_EQ(g.Tiers[0].Items.size(), 3u);
  EXPECT_DOUBLE_EQ(g.Tiers[0].Items[1].Start, at);
  EXPECT_EQ(g.Tiers[0].Items[1].Text, "onset");
  const TTier* spans = g.IntervalTier("selections");
  ASSERT_NE(spans, nullptr);
  ASSERT_EQ(spans->Items.size(), 3u);
  EXPECT_DOUBLE_EQ(spans->Items[1].Start, 0.2);
  EXPECT_DOUBLE_EQ(spans->Items[1].End, 0.45);
  EXPECT_EQ(spans->Items[1].Text, "phrase");
  EXPECT_DOUBLE_EQ(spans->Items[2].End, 25 * BlockSeconds);

  // Back to capture: no take to mark.
  s.Form->Bt_startClick(nullptr);
  ASSERT_TRUE(RunUntil([&] { return !s.Form->Playback->Active(); }, 10000));
  EXPECT_FALSE(m.IsOpen());
}

TEST(ChartKeys, EveryKeyIsInTheHelpAndEveryControlHasAHint) {
  TSetup s;
  QStringList listed;
  for (const TChartKey& k : ChartKeys())
    if (!k.Mouse) listed << k.Keys;
  QStringList bound;
  for (const QShortcut* shortcut : s.Chart->findChildren<QShortcut*>())
    if (shortcut->parent() == s.Chart)
      bound << shortcut->key().toString(QKeySequence::PortableText);
  EXPECT_GE(bound.size(), 12);
  for (const QString& key : bound)
    EXPECT_TRUE(listed.contains(key)) << key.toStdString() << " is missing from the help";
  for (const QString& key : listed)
    EXPECT_TRUE(bound.contains(key)) << key.toStdString() << " is listed but does nothing";

  s.Chart->ShowTimeline(true);
  for (QWidget* w : s.Chart->findChildren<QWidget*>()) {
    if (!qobject_cast<QAbstractButton*>(w) && !qobject_cast<QComboBox*>(w) &&
        !qobject_cast<QLineEdit*>(w))
      continue;
    // The line inside a list is the list's.
    if (qobject_cast<QComboBox*>(w->parentWidget())) continue;
    EXPECT_FALSE(w->toolTip().isEmpty())
        << w->metaObject()->className() << " " << w->objectName().toStdString() << " \""
        << (qobject_cast<QAbstractButton*>(w)
                ? qobject_cast<QAbstractButton*>(w)->text().toStdString()
                : std::string())
        << "\" has no hint";
  }
  QTest::keyClick(s.Chart, Qt::Key_F1);
  QWidget* help = s.Chart->findChild<QWidget*>(QStringLiteral("ChartHelp"));
  ASSERT_NE(help, nullptr);
  EXPECT_TRUE(help->isVisible());
}

}  // namespace
}  // namespace quenvis

int main(int argc, char** argv) { return quenvis::test::RunWidgetTests(argc, argv); }
