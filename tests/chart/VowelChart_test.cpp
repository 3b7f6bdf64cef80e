#include <QFile>
#include <QImage>
#include <QPaintEvent>
#include <QScreen>
#include <QAbstractButton>
#include <QComboBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <utility>
#include <vector>

#include "analysis/Common.h"

#include "chartdraw/ChartScale.h"
#include "chartdraw/NoteName.h"
#include "chartdraw/ReferenceVowels.h"
#include "chart/SonogramView.h"
#include "chart/VoicePanel.h"
#include "chart/VowelChart.h"
#include "support/VowelSynth.h"

using namespace quenvis;

class VowelChartTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
  void mappingRoundTripsAndKeepsTheOrientation_data();
  void mappingRoundTripsAndKeepsTheOrientation();
  void noteNames();
  void badReferenceFilesLeaveTheChartAsItWas_data();
  void badReferenceFilesLeaveTheChartAsItWas();
  void referenceFileWithHeaderAndVoices();
  void trailPauseAndClear();
  void savesAPngWithTheReferenceVowels();
  void blocksRepaintOnlyWhatTheyChange();
  void voiceListFixesTheCeilingOrLeavesItToTheEstimator();
  void smallWindowShowsEveryControlWhole();
  void voicePanelShowsTheMeasuresGreysAndFreezes();
};

namespace {

// The union of what a widget repainted since it was last asked.
class CPaintSpy : public QObject {
 public:
  explicit CPaintSpy(QWidget* Widget) { Widget->installEventFilter(this); }
  QRegion Take() { return std::exchange(FPainted, QRegion()); }

 protected:
  bool eventFilter(QObject* /*Watched*/, QEvent* Event) override {
    if (Event->type() == QEvent::Paint) FPainted += static_cast<QPaintEvent*>(Event)->region();
    return false;
  }

 private:
  QRegion FPainted;
};

qint64 Area(const QRegion& Region) {
  qint64 area = 0;
  for (const QRect& r : Region) area += qint64(r.width()) * r.height();
  return area;
}

}  // namespace

void VowelChartTest::mappingRoundTripsAndKeepsTheOrientation_data() {
  QTest::addColumn<int>("voice");
  QTest::addColumn<QSizeF>("size");
  QTest::newRow("man 800x600") << 0 << QSizeF(800, 600);
  QTest::newRow("woman 360x270") << 1 << QSizeF(360, 270);
  QTest::newRow("child 1920x1080") << 2 << QSizeF(1920, 1080);
}

void VowelChartTest::mappingRoundTripsAndKeepsTheOrientation() {
  QFETCH(int, voice);
  QFETCH(QSizeF, size);
  CVowelChartPainter painter;
  painter.SetVoice(Voices[voice]);
  const CChartScale s = painter.ScaleFor(size);
  const QRectF area = CVowelChartPainter::PlotArea(size);
  const TChartRange r = s.Range();
  // Front vowels (high F2) on the left, close vowels (low F1) at the top.
  QCOMPARE(s.XOfF2(r.F2Hi), area.left());
  QVERIFY(std::fabs(s.XOfF2(r.F2Lo) - area.right()) < 1e-9);
  QCOMPARE(s.YOfF1(r.F1Lo), area.top());
  QVERIFY(std::fabs(s.YOfF1(r.F1Hi) - area.bottom()) < 1e-9);
  for (double f = r.F2Lo; f <= r.F2Hi; f += 37) {
    QVERIFY(std::fabs(s.F2AtX(s.XOfF2(f)) - f) < 1e-6);
    QVERIFY(s.XOfF2(f + 10) < s.XOfF2(f));
  }
  for (double f = r.F1Lo; f <= r.F1Hi; f += 13) {
    QVERIFY(std::fabs(s.F1AtY(s.YOfF1(f)) - f) < 1e-6);
    QVERIFY(s.YOfF1(f + 10) > s.YOfF1(f));
  }
  // Ticks: inside the range, increasing, never closer than asked, enough to read.
  for (const bool f1 : {true, false}) {
    const std::vector<double> ticks = f1 ? s.F1Ticks(20) : s.F2Ticks(40);
    QVERIFY(ticks.size() >= 3);
    for (std::size_t i = 0; i < ticks.size(); ++i) {
      QVERIFY(ticks[i] >= (f1 ? r.F1Lo : r.F2Lo) && ticks[i] <= (f1 ? r.F1Hi : r.F2Hi));
      if (i == 0) continue;
      QVERIFY(ticks[i] > ticks[i - 1]);
      const double gap = f1 ? s.YOfF1(ticks[i]) - s.YOfF1(ticks[i - 1])
                            : s.XOfF2(ticks[i - 1]) - s.XOfF2(ticks[i]);
      QVERIFY(gap >= (f1 ? 20 : 40));
    }
  }
}

void VowelChartTest::noteNames() {
  const struct {
    double Hz;
    const char* Name;
  } cases[] = {{440, "A4 +0"},  {220, "A3 +0"},    {261.6256, "C4 +0"},
               {445, "A4 +20"}, {435, "A4 -20"},   {116.54, "A#2 +0"},
               {19, ""},        {std::nan(""), ""}};
  for (const auto& c : cases) QCOMPARE(QString::fromStdString(NoteName(c.Hz)), QString(c.Name));
}

void VowelChartTest::badReferenceFilesLeaveTheChartAsItWas_data() {
  QTest::addColumn<QByteArray>("content");
  QTest::newRow("empty") << QByteArray();
  QTest::newRow("missing columns") << QByteArray("i,270\n");
  QTest::newRow("text in numbers") << QByteArray("i,low,2290\n");
  QTest::newRow("negative") << QByteArray("i,-270,2290\n");
  QTest::newRow("huge") << QByteArray("i,270,1e300\n");
  QTest::newRow("unknown voice") << QByteArray("i,270,2290,tenor\n");
  QTest::newRow("control characters") << QByteArray("a\x1b[2J,270,2290\n");
  QByteArray many = "label,f1_hz,f2_hz\n";
  for (int i = 0; i < 10000; ++i) many += "a,500,1500\n";
  QTest::newRow("10000 rows") << many;
}

void VowelChartTest::badReferenceFilesLeaveTheChartAsItWas() {
  QFETCH(QByteArray, content);
  QTemporaryDir dir;
  const QString path = dir.filePath("ref.csv");
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(content);
  file.close();
  TVowelChart chart;
  const std::size_t before = chart.Painter().Shown().size();
  const QString error = chart.LoadReferences(path);
  QVERIFY(!error.isEmpty());
  QVERIFY(!error.contains('\n'));
  QCOMPARE(chart.Painter().Shown().size(), before);
  QVERIFY(!chart.Render().isNull());
}

void VowelChartTest::referenceFileWithHeaderAndVoices() {
  std::vector<TReferenceVowel> set;
  QCOMPARE(QString::fromStdString(ParseReferenceCsv(
               "label,f1_hz,f2_hz,voice\n# Italian\ni,290,2300,man\ni,350,2800,woman\n"
               "a , 700 , 1300\r\n\n",
               set)),
           QString());
  QCOMPARE(set.size(), std::size_t(3));
  QCOMPARE(set[2].Label, std::string("a"));
  QCOMPARE(VowelsFor(set, EVoice::Woman).size(), std::size_t(2));
  QCOMPARE(VowelsFor(set, EVoice::Woman)[0].F2, 2800.0);
}

void VowelChartTest::trailPauseAndClear() {
  TVowelChart chart;
  chart.show();
  QVERIFY(QTest::qWaitForWindowActive(&chart));
  double f1 = 0, f2 = 0;
  chart.AddEstimate({true, 120, 300, 2200});
  chart.AddEstimate({false, 0, 0, 0});  // unvoiced: nothing new, the trail stays
  QVERIFY(chart.LatestPoint(f1, f2));
  QCOMPARE(f2, 2200.0);
  QVERIFY(chart.Readout().isEmpty());
  // A voice too loud for its formants says so instead of a blank readout,
  // and leaves the trail alone.
  chart.AddEstimate({false, 220, 0, 0, true});
  QCOMPARE(chart.Readout(), QString("Clipped: too loud for formants"));
  QVERIFY(chart.LatestPoint(f1, f2) && f2 == 2200.0);
  chart.AddEstimate({false, 0, 0, 0});
  QVERIFY(chart.Readout().isEmpty());
  QTest::keyClick(&chart, Qt::Key_Space);
  QVERIFY(chart.Paused());
  chart.AddEstimate({true, 120, 700, 1200});
  QVERIFY(chart.LatestPoint(f1, f2) && f2 == 2200.0);
  QTest::keyClick(&chart, Qt::Key_Space);
  chart.AddEstimate({true, 220, 700, 1200});
  QCOMPARE(chart.Readout(), QString("F1 700 Hz    F2 1200 Hz    F0 220 Hz    A3 +0"));
  // Two seconds later the point has left the trail.
  for (int i = 0; i < TVowelChart::TrailBlocks; ++i) chart.AddEstimate({});
  QVERIFY(!chart.LatestPoint(f1, f2));
  chart.AddEstimate({true, 120, 700, 1200});
  QTest::keyClick(&chart, Qt::Key_C);
  QVERIFY(!chart.LatestPoint(f1, f2));
}

void VowelChartTest::savesAPngWithTheReferenceVowels() {
  QTemporaryDir dir;
  TVowelChart chart;
  chart.resize(640, 510);
  chart.AddEstimate({true, 120, 270, 2290});
  const QString path = dir.filePath("chart.png");
  QVERIFY(chart.SaveImage(path));
  QImage image(path);
  QVERIFY(!image.isNull());
  const QSizeF size(image.width() / image.devicePixelRatio(),
                    image.height() / image.devicePixelRatio());
  // The live dot sits on /i/, which is drawn where the scale puts it.
  const CChartScale s = chart.Painter().ScaleFor(size);
  const QColor dot = image.pixelColor(QPointF(s.XOfF2(2290), s.YOfF1(270)).toPoint());
  QVERIFY(dot.red() > 150 && dot.green() < 100);
  QVERIFY(!chart.SaveImage(dir.filePath("missing/dir/chart.png")));
}

void VowelChartTest::blocksRepaintOnlyWhatTheyChange() {
  TVowelChart chart;
  chart.resize(800, 870);
  chart.show();
  QVERIFY(QTest::qWaitForWindowExposed(&chart));
  QWidget* plane = chart.Plane();
  TSpectrogramView* view = chart.Spectrogram();
  CPaintSpy planeSpy(plane), viewSpy(view);
  const auto settle = [] {
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
  };
  settle();
  planeSpy.Take();
  viewSpy.Take();

  const std::vector<double> power(FFTSize, 1.0);
  const qint64 planeArea = qint64(plane->width()) * plane->height();
  // A voice gliding across the plane for longer than the trail, then silence
  // until the trail is empty.
  for (int k = 0; k < 2 * TVowelChart::TrailBlocks + 2; ++k) {
    TChartBlock block;
    block.Power = power.data();
    const bool voiced = k < TVowelChart::TrailBlocks;
    block.Formants.Voiced = voiced;
    block.Formants.F0 = voiced ? 200 : 0;
    block.Formants.F = {voiced ? 400.0 + 8 * k : 0.0, voiced ? 2400.0 - 30 * k : 0.0, 0.0};
    chart.AddBlock(block);
    settle();
    const QRegion planePainted = planeSpy.Take(), viewPainted = viewSpy.Take();
    QVERIFY2(Area(planePainted) < planeArea / 4, qPrintable(QString::number(k)));
    // The spectrogram's picture scrolls and only the new strip is drawn; its
    // axes stay.
    const QRect plot = view->PlotRect();
    const int strip = view->Core().LastStrip();
    QVERIFY(viewPainted.isEmpty() ||
            viewPainted == QRegion(plot.right() + 1 - strip, plot.top(), strip, plot.height()));
    if (k == TVowelChart::TrailBlocks + 5) {
      // What the screen shows after the partial repaints is the whole chart,
      // old dots faded and the one that left the trail gone.
      const QImage shown = plane->screen()
                               ->grabWindow(chart.winId())
                               .toImage()
                               .copy(QRect(plane->mapTo(&chart, QPoint(0, 0)), plane->size()))
                               .convertToFormat(QImage::Format_RGB32);
      const QImage whole = chart.Render().convertToFormat(QImage::Format_RGB32);
      QCOMPARE(shown.size(), whole.size());
      int differ = 0;
      for (int y = 0; y < whole.height(); ++y)
        for (int x = 0; x < whole.width(); ++x) differ += shown.pixel(x, y) != whole.pixel(x, y);
      QCOMPARE(differ, 0);
      // And the spectrogram shows its whole picture, moved strip by strip.
      const QImage picture = view->screen()
                                 ->grabWindow(chart.winId())
                                 .toImage()
                                 .copy(plot.translated(view->mapTo(&chart, QPoint(0, 0))))
                                 .convertToFormat(QImage::Format_RGB32);
      for (int y = 0; y < plot.height(); ++y)
        for (int x = 0; x < plot.width(); ++x)
          differ += (picture.pixel(x, y) & 0xFFFFFF) != (view->Core().Pixel(x, y) & 0xFFFFFF);
      QCOMPARE(differ, 0);
    }
    if (k >= 2 * TVowelChart::TrailBlocks) QVERIFY(planePainted.isEmpty());
  }
}

// "auto" leaves the estimator's ceiling to the voice it hears and shows the
// default voice's vowels; a voice fixes both. The choice outlives the window.
void VowelChartTest::voiceListFixesTheCeilingOrLeavesItToTheEstimator() {
  const struct {
    int Index;
    std::optional<EVoice> Formant;
    EVoice Shown;
  } rows[] = {{1, EVoice::Man, EVoice::Man}, {0, std::nullopt, DefaultVoice},
              {3, EVoice::Child, EVoice::Child}, {0, std::nullopt, DefaultVoice}};
  for (const auto& r : rows) {
    {
      TVowelChart chart;
      auto* list = chart.findChild<QComboBox*>(QStringLiteral("voiceList"));
      QVERIFY(list != nullptr);
      list->setCurrentIndex(r.Index);
      emit list->activated(r.Index);
      QCOMPARE(chart.FormantVoice(), r.Formant);
      QCOMPARE(chart.Voice(), r.Shown);
    }
    const TVowelChart again;
    QCOMPARE(again.FormantVoice(), r.Formant);
    QCOMPARE(again.Voice(), r.Shown);
  }
}

// At 480x400 (a small laptop's split screen) every button and list of the
// chart is inside the window and at least as wide as its text needs.
void VowelChartTest::smallWindowShowsEveryControlWhole() {
  TVowelChart chart;
  chart.resize(480, 400);
  chart.show();
  QVERIFY(QTest::qWaitForWindowExposed(&chart));
  QCOMPARE(chart.width(), 480);
  const QRect inside = chart.rect();
  int checked = 0;
  for (QWidget* w : chart.findChildren<QWidget*>()) {
    if (!w->isVisible() || (!qobject_cast<QAbstractButton*>(w) && !qobject_cast<QComboBox*>(w)))
      continue;
    const QRect r(w->mapTo(&chart, QPoint(0, 0)), w->size());
    QVERIFY2(inside.contains(r), qPrintable(w->objectName() + QStringLiteral(" ") +
                                            w->property("text").toString()));
    QVERIFY2(w->width() >= w->minimumSizeHint().width(),
             qPrintable(w->property("text").toString()));
    ++checked;
  }
  QVERIFY(checked >= 6);
}

// A sung vowel through the chart as capture gives it: the panel shows its
// vibrato and HNR; paused, it keeps them; in silence after, the last values
// stay, greyed.
void VowelChartTest::voicePanelShowsTheMeasuresGreysAndFreezes() {
  test::TVowel vowel;
  vowel.F0 = 200;
  vowel.F = {700, 1220, 2600, 3300, 4200};
  vowel.Vibrato = true;
  vowel.VibratoHz = 5.5;
  vowel.VibratoCents = 60;
  vowel.Seconds = 2.5;
  std::vector<std::int16_t> mono = test::Synthesize(vowel);
  const std::size_t vowelEnd = mono.size() / BlockFrames * BlockFrames;
  mono.resize(vowelEnd + 40 * BlockFrames, 0);
  TVowelChart chart;
  chart.resize(800, 900);
  chart.show();
  QVERIFY(QTest::qWaitForWindowExposed(&chart));
  CFormantTracker tracker;
  TVoicePanel& panel = *chart.VoicePanel();
  const auto feed = [&](std::size_t From, std::size_t To) {
    for (std::size_t first = From; first < To; first += BlockFrames) {
      const auto block = test::StereoBlock(mono, first);
      TChartBlock b;
      b.Samples = block.data();
      b.Frames = BlockFrames;
      b.Formants = tracker.Process(block.data());
      chart.AddBlock(b);
    }
  };
  feed(0, vowelEnd);
  QVERIFY(!panel.Greyed(TVoicePanel::Vibrato));
  QVERIFY(std::abs(panel.Shown(TVoicePanel::Vibrato) - 5.5) < 0.3);
  QVERIFY(!panel.Greyed(TVoicePanel::Hnr));
  QVERIFY(panel.Shown(TVoicePanel::Hnr) > 20);
  const double hnr = panel.Shown(TVoicePanel::Hnr);
  // The panel paints its numbers and strips (light pixels on the dark ground).
  const QImage shot = panel.grab().toImage();
  int light = 0;
  for (int y = 0; y < shot.height(); y += 2)
    for (int x = 0; x < shot.width(); x += 2) light += qGray(shot.pixel(x, y)) > 200;
  QVERIFY(light > 50);
  QTest::keyClick(&chart, Qt::Key_Space);
  QVERIFY(chart.Paused());
  feed(vowelEnd, vowelEnd + 20 * BlockFrames);
  QCOMPARE(panel.Shown(TVoicePanel::Hnr), hnr);
  QVERIFY(!panel.Greyed(TVoicePanel::Hnr));
  QTest::keyClick(&chart, Qt::Key_Space);
  feed(vowelEnd + 20 * BlockFrames, mono.size());
  QCOMPARE(panel.Shown(TVoicePanel::Hnr), hnr);
  QVERIFY(panel.Greyed(TVoicePanel::Hnr));
  QVERIFY(panel.Greyed(TVoicePanel::Vibrato));
  QVERIFY(panel.Greyed(TVoicePanel::Cpps));
}

QTEST_MAIN(VowelChartTest)
#include "VowelChart_test.moc"
