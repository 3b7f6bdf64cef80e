// The spectrogram's pitch scale in notes, and a target pitch line.
#include "chart/SonogramView.h"

#include <QImage>
#include <QSettings>
#include <QTest>

#include "chartdraw/NoteGrid.h"
#include "support/QtTestMain.h"

namespace {

using namespace quenvis;

// The colour of a row of the picture, half way across.
QColor AtRow(TSpectrogramView& View, double Hz) {
  const QImage image = View.grab().toImage();
  const QRect plot = View.PlotRect();
  const qreal r = image.devicePixelRatio();
  const QPoint p((plot.left() + plot.width() / 2) * r,
                 (plot.top() + View.Core().RowOfF0(Hz) + 0.5) * r);
  return image.pixelColor(p);
}

TEST(SonogramView, NoteLinesAndTargetPitchAreDrawnAndRemembered) {
  QSettings().clear();
  {
    TSpectrogramView view;
    view.resize(600, 300);
    EXPECT_FALSE(view.NoteGrid());
    EXPECT_EQ(view.TargetNote(), -1);
    // The empty picture is black; C4's row too, until the grid is on.
    const double c4 = NoteHz(60), a4 = NoteHz(69);
    EXPECT_EQ(AtRow(view, c4), QColor(Qt::black));
    view.SetNoteGrid(true);
    const QColor line = AtRow(view, c4);
    EXPECT_GT(line.red(), 30);
    EXPECT_EQ(line.red(), line.blue());  // a grey line
    // Between two semitones there is no line.
    EXPECT_EQ(AtRow(view, c4 * std::exp2(0.5 / 12)), QColor(Qt::black));

    view.SetTargetNote(69);
    const QColor target = AtRow(view, a4);
    EXPECT_GT(target.red(), 200);
    EXPECT_LT(target.blue(), 60);
  }
  {
    // Both are remembered.
    TSpectrogramView view;
    EXPECT_TRUE(view.NoteGrid());
    EXPECT_EQ(view.TargetNote(), 69);
    view.SetNoteGrid(false);
    view.SetTargetNote(-1);
    view.resize(600, 300);
    EXPECT_EQ(AtRow(view, NoteHz(60)), QColor(Qt::black));
    EXPECT_EQ(AtRow(view, NoteHz(69)), QColor(Qt::black));
  }
  // A remembered note that is not offered shows none.
  QSettings().setValue("chart/targetNote", 500);
  TSpectrogramView view;
  EXPECT_EQ(view.TargetNote(), -1);
  view.SetTargetNote(TSpectrogramView::HighestTarget + 1);
  EXPECT_EQ(view.TargetNote(), -1);
  view.SetTargetNote(TSpectrogramView::LowestTarget);
  EXPECT_EQ(view.TargetNote(), TSpectrogramView::LowestTarget);
}

}  // namespace

int main(int argc, char** argv) { return quenvis::test::RunWidgetTests(argc, argv); }
