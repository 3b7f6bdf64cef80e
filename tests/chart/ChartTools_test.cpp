// The chart's lesson tools in the window: a take compared with, targets
// placed, held and kept, and the chart saved as PNG and SVG.
#include "chart/ChartTools.h"

#include <sys/stat.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QDropEvent>
#include <QImage>
#include <QMimeData>
#include <QSignalSpy>
#include <QUrl>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>
#include <cmath>

#include "analysis/Common.h"
#include "chart/VowelChart.h"
#include "chart/VowelPlane.h"
#include "chartdraw/ChartOverlayPainter.h"
#include "support/QtTestMain.h"

namespace {

using namespace quenvis;

// Rows every 10 ms: a second each of the woman's "i", "a" and "u", with a
// little spread, and one damaged line.
QByteArray ThreeVowels() {
  QByteArray text = "block,time_s,f0_hz,f1_hz,f2_hz,f3_hz,b1_hz,b2_hz,b3_hz,voiced,confidence\n";
  const double vowels[3][2] = {{310, 2790}, {850, 1220}, {370, 950}};
  for (int row = 0; row < 300; ++row) {
    const double* v = vowels[row / 100];
    // A deterministic spread of about 3 %.
    const double a = std::sin(row * 1.7), b = std::cos(row * 2.3);
    text += QByteArray::number(row) + "," + QByteArray::number(row * 0.01) + ",220," +
            QByteArray::number(v[0] * (1 + 0.03 * a)) + "," +
            QByteArray::number(v[1] * (1 + 0.03 * b)) + ",,,,,1,0.8\n";
    if (row == 10) text += "1,2,3\n";
  }
  return text;
}

void Write(const QString& Path, const QByteArray& Text) {
  QFile f(Path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(Text);
}

bool NearColour(const QColor& A, const QColor& B, int Tolerance) {
  return std::abs(A.red() - B.red()) <= Tolerance && std::abs(A.green() - B.green()) <= Tolerance &&
         std::abs(A.blue() - B.blue()) <= Tolerance;
}

// How many pixels of a box around a point differ from the paper.
int Inked(const QImage& Image, QPointF At, int Half) {
  int n = 0;
  const qreal r = Image.devicePixelRatio();
  for (int y = -Half; y <= Half; ++y)
    for (int x = -Half; x <= Half; ++x) {
      const QPoint p = ((At + QPointF(x, y)) * r).toPoint();
      if (Image.rect().contains(p) && !NearColour(Image.pixelColor(p), QColor(252, 252, 248), 6))
        ++n;
    }
  return n;
}

TEST(ChartTools, ComparisonShowsEachVowelsEllipseAndClears) {
  QTemporaryDir dir;
  Write(dir.filePath("take.formants.csv"), ThreeVowels());
  TVowelChart chart;
  chart.resize(800, 1100);
  chart.SetVoice(EVoice::Woman);
  ASSERT_EQ(chart.Tools().CompareWith(dir.filePath("take.flac")), QString());
  const CComparison& c = chart.Plane()->Comparison();
  ASSERT_EQ(c.Clusters().size(), 3u);
  EXPECT_TRUE(chart.Status().contains("take: 300 voiced rows, 1 bad line skipped (line 13)"))
      << chart.Status().toStdString();

  // The cloud of "a" is drawn around its mean, where the bare chart has
  // only the reference's soft glow.
  const QImage with = chart.Render();
  const QSizeF size = QSizeF(with.size()) / with.devicePixelRatio();
  const CChartScale s = chart.Painter().ScaleFor(size);
  const TCloudEllipse& a = c.Clusters()[1];
  double b1 = 0, b2 = 0;
  EllipsePoint(a, 1.0, 0.3, b1, b2);
  const QPointF rim(s.XOfF2(BarkToHz(b2)), s.YOfF1(BarkToHz(b1)));
  const auto purple = [&](const QImage& Image) {
    int n = 0;
    const qreal r = Image.devicePixelRatio();
    for (int y = -2; y <= 2; ++y)
      for (int x = -2; x <= 2; ++x) {
        const QColor p = Image.pixelColor(((rim + QPointF(x, y)) * r).toPoint());
        // The comparison's violet, not the references' blue.
        n += p.red() > p.green() + 20 && p.blue() > p.green() + 30;
      }
    return n;
  };
  EXPECT_GT(purple(with), 0);

  // A missing take says so and keeps what is shown.
  const QString error = chart.Tools().CompareWith(dir.filePath("gone.flac"));
  EXPECT_TRUE(error.contains("gone.formants.csv: cannot open")) << error.toStdString();
  EXPECT_EQ(chart.Status(), error);
  EXPECT_EQ(chart.Plane()->Comparison().Clusters().size(), 3u);

  // Another voice groups the take by its own references.
  chart.SetVoice(EVoice::Man);
  EXPECT_FALSE(chart.Plane()->Comparison().Clusters().empty());

  chart.SetVoice(EVoice::Woman);
  chart.Tools().ClearComparison();
  EXPECT_TRUE(chart.Plane()->Comparison().Empty());
  EXPECT_EQ(purple(chart.Render()), 0);
}

TEST(ChartTools, TargetsArePlacedHeldRemovedAndKept) {
  QTemporaryDir dir;
  TVowelChart chart;
  chart.resize(800, 1100);
  chart.SetVoice(EVoice::Woman);
  chart.Tools().ClearTargets();
  chart.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&chart));
  TVowelPlane* plane = chart.Plane();
  const CChartScale s = chart.Painter().ScaleFor(plane->size());

  // Ctrl+click adds a target where the click is; a plain click does not.
  const QPoint at = QPointF(s.XOfF2(1500), s.YOfF1(500)).toPoint();
  QTest::mouseClick(plane, Qt::LeftButton, Qt::NoModifier, at);
  EXPECT_TRUE(plane->Targets().Empty());
  QTest::mouseClick(plane, Qt::LeftButton, Qt::ControlModifier, at);
  ASSERT_EQ(plane->Targets().All().size(), 1u);
  EXPECT_NEAR(plane->Targets().All()[0].F1, 500, 5);
  EXPECT_NEAR(plane->Targets().All()[0].F2, 1500, 15);
  EXPECT_EQ(plane->Targets().All()[0].Label, "T1");

  // The distance is shown, and the ring fills after half a second inside.
  chart.AddEstimate({true, 200, 520, 1450});
  EXPECT_TRUE(plane->TargetNote().startsWith("to T1: ")) << plane->TargetNote().toStdString();
  const TReferenceVowel t = plane->Targets().All()[0];
  const QString deltas = QStringLiteral("F1 +%1 Hz   F2 -%2 Hz")
                             .arg(RoundToInt32(520 - t.F1))
                             .arg(RoundToInt32(t.F2 - 1450));
  EXPECT_TRUE(plane->TargetNote().contains(deltas)) << plane->TargetNote().toStdString();
  for (int b = 1; b < 10; ++b) chart.AddEstimate({true, 200, 520, 1450});
  EXPECT_FALSE(plane->Targets().Solid(0));
  const QImage hollow = chart.Render();
  chart.AddEstimate({true, 200, 520, 1450});
  EXPECT_TRUE(plane->Targets().Solid(0));
  // Filled: the ring's inside turns green between the trail's dot and the rim.
  const QImage solid = chart.Render();
  const qreal r = solid.devicePixelRatio();
  const QPoint inside = (QPointF(s.XOfF2(1500) - 25, s.YOfF1(500) - 10) * r).toPoint();
  EXPECT_NE(hollow.pixelColor(inside), solid.pixelColor(inside));
  EXPECT_GT(solid.pixelColor(inside).green(), solid.pixelColor(inside).red() + 40);
  chart.AddEstimate({true, 200, 300, 2800});
  EXPECT_FALSE(plane->Targets().Solid(0));

  // Kept in a file and read back; a damaged file changes nothing.
  const QString file = dir.filePath("targets.csv");
  ASSERT_EQ(chart.Tools().SaveTargets(file), QString());
  chart.Tools().ClearTargets();
  EXPECT_TRUE(plane->Targets().Empty());
  ASSERT_EQ(chart.Tools().LoadTargets(file), QString());
  ASSERT_EQ(plane->Targets().All().size(), 1u);
  Write(dir.filePath("bad.csv"), "i,310\n");
  EXPECT_TRUE(chart.Tools().LoadTargets(dir.filePath("bad.csv")).contains("line 1"));
  EXPECT_EQ(plane->Targets().All().size(), 1u);
  EXPECT_FALSE(chart.Tools().SaveTargets(dir.filePath("no/such/dir/t.csv")).isEmpty());
  // A pipe is refused at once rather than waited on, for targets and for
  // reference vowels alike.
  const QString pipe = dir.filePath("pipe.csv");
  ASSERT_EQ(::mkfifo(pipe.toLocal8Bit().constData(), 0600), 0);
  EXPECT_TRUE(chart.Tools().LoadTargets(pipe).contains("not a regular file"));
  EXPECT_EQ(plane->Targets().All().size(), 1u);
  EXPECT_TRUE(chart.LoadReferences(pipe).contains("not a regular file"));

  // A new window has the targets of the last.
  {
    TVowelChart again;
    EXPECT_EQ(again.Plane()->Targets().All().size(), 1u);
  }

  // A right click on the ring removes it.
  QTest::mouseClick(plane, Qt::RightButton, Qt::NoModifier, at);
  EXPECT_TRUE(plane->Targets().Empty());
}

TEST(ChartTools, ASeekEmptiesTheRings) {
  TVowelChart chart;
  chart.SetVoice(EVoice::Woman);
  chart.Tools().ClearTargets();
  TVowelPlane* plane = chart.Plane();
  plane->EditTargets([](CTargetVowels& T) { T.Add({"a", 850, 1220, std::nullopt}); });
  const std::vector<double> power(FFTSize, 1.0);
  double time = 0;
  const auto block = [&](double Time) {
    TChartBlock b;
    b.Power = power.data();
    b.Time = Time;
    b.Formants.Voiced = true;
    b.Formants.F0 = 220;
    b.Formants.F = {850.0, 1220.0, 0.0};
    chart.AddBlock(b);
  };
  const double step = double(BlockFrames) / SampleRate;
  for (int i = 0; i < 12; ++i) block(time += step);
  EXPECT_TRUE(plane->Targets().Solid(0));
  // Played on, the ring stays full; sought elsewhere, it starts afresh.
  block(time += step);
  EXPECT_TRUE(plane->Targets().Solid(0));
  block(time += 5);
  EXPECT_FALSE(plane->Targets().Solid(0));
  for (int i = 0; i < 11; ++i) block(time += step);
  EXPECT_TRUE(plane->Targets().Solid(0));
  chart.Tools().ClearTargets();
}

TEST(ChartTools, TargetsFromTheComparisonsMeans) {
  QTemporaryDir dir;
  Write(dir.filePath("take.formants.csv"), ThreeVowels());
  TVowelChart chart;
  chart.SetVoice(EVoice::Woman);
  chart.Tools().ClearTargets();
  EXPECT_EQ(chart.Tools().TargetsFromComparison(), 0);
  ASSERT_EQ(chart.Tools().CompareWith(dir.filePath("take.formants.csv")), QString());
  EXPECT_EQ(chart.Tools().TargetsFromComparison(), 3);
  const auto& t = chart.Plane()->Targets().All();
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[0].Label, "i");
  EXPECT_NEAR(t[1].F1, 850, 20);
  EXPECT_NEAR(t[1].F2, 1220, 30);
  chart.Tools().ClearTargets();
}

TEST(ChartTools, SavedChartsShowWhatTheWindowShows) {
  QTemporaryDir dir;
  Write(dir.filePath("take.formants.csv"), ThreeVowels());
  TVowelChart chart;
  chart.resize(700, 1000);
  chart.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&chart));
  ASSERT_EQ(chart.Tools().CompareWith(dir.filePath("take.flac")), QString());
  chart.SetPlayingName(QStringLiteral("quenvis-2026-12-08_14-05-09.flac"));
  chart.AddEstimate({true, 220, 700, 1200});

  const QString png = dir.filePath("chart.png");
  ASSERT_TRUE(chart.SaveImage(png));
  const QImage image(png);
  ASSERT_FALSE(image.isNull());
  const qreal ratio = chart.Plane()->devicePixelRatioF();
  EXPECT_EQ(image.size(), (QSizeF(chart.Plane()->size()) * ratio).toSize());
  // The readout is written under the plane, centred; the caption at the top
  // left.
  const QRectF area = CVowelChartPainter::PlotArea(chart.Plane()->size());
  const QPointF readout(chart.Plane()->width() / 2.0,
                        (area.bottom() + chart.Plane()->height()) / 2.0);
  QImage logical = image;
  logical.setDevicePixelRatio(ratio);
  int ink = 0;
  for (int dx = -150; dx <= 150; dx += 30) ink += Inked(logical, readout + QPointF(dx, 0), 6);
  EXPECT_GT(ink, 40);
  EXPECT_GT(Inked(logical, QPointF(40, 13), 8), 10);
  // Without a readout the band is paper.
  chart.ClearTrail();
  ASSERT_TRUE(chart.SaveImage(png));
  QImage blank(png);
  blank.setDevicePixelRatio(ratio);
  int none = 0;
  for (int dx = -150; dx <= 150; dx += 30) none += Inked(blank, readout + QPointF(dx, 0), 6);
  EXPECT_EQ(none, 0);

  chart.AddEstimate({true, 220, 700, 1200});
  const QString svg = dir.filePath("chart.svg");
  ASSERT_TRUE(chart.SaveImage(svg));
  QFile file(svg);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  QXmlStreamReader xml(&file);
  bool svgRoot = false;
  QString text;
  while (!xml.atEnd()) {
    xml.readNext();
    if (xml.isStartElement() && xml.name() == QLatin1String("svg")) svgRoot = true;
    if (xml.isCharacters()) text += xml.text();
  }
  EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
  EXPECT_TRUE(svgRoot);
  EXPECT_TRUE(text.contains("quenvis-2026-12-08_14-05-09.flac")) << text.left(400).toStdString();
  EXPECT_TRUE(text.contains("F1 700 Hz"));

  // A folder that is not there: no file, and saying so.
  EXPECT_FALSE(chart.SaveImage(dir.filePath("missing/chart.svg")));
  EXPECT_FALSE(QFile::exists(dir.filePath("missing/chart.svg")));
}

TEST(ChartTools, ADroppedTableIsComparedAndADroppedRecordingPlayed) {
  QTemporaryDir dir;
  Write(dir.filePath("take.formants.csv"), ThreeVowels());
  TVowelChart chart;
  QSignalSpy open(&chart, &TVowelChart::openRequested);
  const auto drop = [&](const QString& Path) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(Path)});
    // As a drag does it: the window takes the drag first, then the drop.
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&chart, &enter);
    QDropEvent event(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&chart, &event);
  };
  drop(dir.filePath("take.formants.csv"));
  EXPECT_FALSE(chart.Plane()->Comparison().Empty());
  EXPECT_EQ(open.count(), 0);
  drop(dir.filePath("take.flac"));
  ASSERT_EQ(open.count(), 1);
  EXPECT_EQ(open.at(0).at(0).toString(), dir.filePath("take.flac"));
}

TEST(ChartTools, TheSaveDialogStartsWhereTheLastChartWent) {
  QTemporaryDir dir;
  ASSERT_TRUE(QDir(dir.path()).mkpath("handouts"));
  const QString handouts = QDir(dir.filePath("handouts")).absolutePath();
  TVowelChart chart;
  chart.resize(640, 900);
  chart.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&chart));
  chart.AddEstimate({true, 220, 700, 1200});
  EXPECT_NE(chart.SaveFolder(), handouts);
  ASSERT_TRUE(chart.SaveChart(handouts + "/lesson.png"));
  EXPECT_FALSE(QImage(handouts + "/lesson.png").isNull());
  EXPECT_TRUE(chart.Status().contains("lesson.png")) << chart.Status().toStdString();
  EXPECT_EQ(chart.SaveFolder(), handouts);
  TVowelChart again;
  EXPECT_EQ(again.SaveFolder(), handouts);
  // A folder that is not there is not remembered.
  EXPECT_FALSE(chart.SaveChart(dir.filePath("gone/chart.svg")));
  EXPECT_EQ(chart.SaveFolder(), handouts);
}

}  // namespace

int main(int argc, char** argv) { return quenvis::test::RunWidgetTests(argc, argv); }
