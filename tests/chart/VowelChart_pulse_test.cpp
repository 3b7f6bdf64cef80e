// The vowel chart live, in a real X server with a real sound server: a
// synthetic /i/ and then /a/ are played into the test input, and the chart's
// newest dot, found on a screenshot, must lie inside that vowel's ellipse.
#include <QComboBox>
#include <QElapsedTimer>
#include <QPixmap>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <vector>

#include "app/UIQuenvis.h"
#include "chart/VowelChart.h"
#include "support/RunEvents.h"
#include "support/VowelSynth.h"

using namespace quenvis;

namespace {

using test::RunFor;

// Centre of the opaque dot colour on a screenshot of the chart's plane, in
// the plane's own coordinates; false when no dot is drawn.
bool FindDot(const TVowelChart& Chart, QPointF& Centre) {
  const QRect plane(Chart.Plane()->mapTo(&Chart, QPoint(0, 0)), Chart.Plane()->size());
  QImage shot = Chart.screen()
                    ->grabWindow(Chart.winId(), plane.x(), plane.y(), plane.width(), plane.height())
                    .toImage();
  const qreal ratio = shot.devicePixelRatio();
  double sx = 0, sy = 0;
  int n = 0;
  for (int y = 0; y < shot.height(); ++y)
    for (int x = 0; x < shot.width(); ++x) {
      const QColor c = shot.pixelColor(x, y);
      if (c.red() > 150 && c.green() < 60 && c.blue() < 60) {
        sx += x;
        sy += y;
        ++n;
      }
    }
  if (n < 20) return false;
  Centre = QPointF(sx / n / ratio, sy / n / ratio);
  return true;
}

}  // namespace

class VowelChartOnPulse : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
  void liveDotLandsInTheSungVowel();
};

void VowelChartOnPulse::liveDotLandsInTheSungVowel() {
  TForm1 form;
  form.show();
  int input = -1;
  for (int i = 0; i < form.CB_Pilotes->count(); ++i)
    if (form.CB_Pilotes->itemText(i).contains(QStringLiteral("Quenvis test input"))) input = i;
  QVERIFY2(input >= 0, "the private server's test input is not listed");
  form.CB_Pilotes->setCurrentIndex(input);
  form.ShowChart();
  TVowelChart& chart = *form.Chart;
  chart.SetVoice(EVoice::Man);
  chart.move(0, 0);
  chart.resize(800, 870);
  chart.raise();
  QVERIFY(QTest::qWaitForWindowExposed(&chart));
  QTest::mouseClick(form.Bt_start, Qt::LeftButton);

  QTemporaryDir dir;
  const struct {
    const char* Label;
    std::array<double, 5> F;
  } vowels[] = {{"i", {270, 2290, 3010, 3500, 4300}}, {"\u0251", {730, 1090, 2440, 3500, 4300}}};
  for (const auto& v : vowels) {
    test::TVowel vowel;
    vowel.F0 = 120;
    vowel.F = v.F;
    vowel.Seconds = 4;
    const std::vector<std::int16_t> mono = test::Synthesize(vowel);
    QByteArray raw;
    for (const std::int16_t s : mono)
      for (int channel = 0; channel < 2; ++channel)
        raw.append(reinterpret_cast<const char*>(&s), 2);
    const QString path = dir.filePath(QStringLiteral("vowel.raw"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(raw) == raw.size());
    file.close();
    QProcess player;
    player.start(QStringLiteral("pacat"),
                 {"--playback", "--raw", "--format=s16le", "--rate=44100", "--channels=2",
                  "--device=quenvis_sink", "--latency-msec=20", path});
    QVERIFY(player.waitForStarted());
    RunFor(2500);  // more than the trail's two seconds: earlier vowels are gone

    // The dot is read five times, 200 ms apart, and the middle reading of
    // each formant is checked: one block garbled by a stutter of a busy sound
    // server moves the dot for a moment only, as a user would see it.
    const CChartScale scale = chart.Painter().ScaleFor(chart.Plane()->size());
    std::vector<double> f1s, f2s;
    for (int look = 0; look < 5; ++look) {
      if (look > 0) RunFor(200);
      QPointF dot;
      QVERIFY2(FindDot(chart, dot), "no live dot on the chart");
      f1s.push_back(scale.F1AtY(dot.y()));
      f2s.push_back(scale.F2AtX(dot.x()));
    }
    std::sort(f1s.begin(), f1s.end());
    std::sort(f2s.begin(), f2s.end());
    const double f1 = f1s[2], f2 = f2s[2];
    const TReferenceVowel* reference = nullptr;
    for (const TReferenceVowel& r : chart.Painter().Shown())
      if (r.Label == v.Label) reference = &r;
    QVERIFY(reference != nullptr);
    qInfo("%s: dot at F1 %.0f Hz (%.0f-%.0f), F2 %.0f Hz (%.0f-%.0f); reference %.0f, %.0f", v.Label, f1,
          f1s.front(), f1s.back(), f2, f2s.front(), f2s.back(), reference->F1, reference->F2);
    QVERIFY2(CVowelChartPainter::InsideEllipse(*reference, f1, f2), v.Label);
    player.kill();
    player.waitForFinished();
  }
  QTest::mouseClick(form.Bt_stop, Qt::LeftButton);
}

QTEST_MAIN(VowelChartOnPulse)
#include "VowelChart_pulse_test.moc"
