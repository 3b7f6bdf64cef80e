#pragma once
// What the plane shows over its reference vowels besides the trail: a take
// to compare with (its points faint, each vowel's mean and one-sigma
// ellipse) and the target vowels (rings, solid once reached). QPainter
// only, so the window, a saved SVG and quenvis-render can share it.
#include <QColor>
#include <QRectF>
#include <QString>
#include <vector>

#include "chartdraw/ChartScale.h"
#include "chartdraw/TargetVowels.h"
#include "chartdraw/VowelCloud.h"

class QPainter;
class QSizeF;

namespace quenvis {

// More points than this are thinned evenly: the cloud looks the same, and
// an SVG of an hour's take stays small.
inline constexpr std::size_t MaxDrawnComparisonPoints = 20000;

class CChartOverlayPainter {
 public:
  static const QColor ComparisonColour;
  static const QColor TargetColour;

  static void PaintComparison(QPainter& Painter, const CChartScale& Scale,
                              const std::vector<TVowelPoint>& Points,
                              const std::vector<TCloudEllipse>& Clusters);
  static void PaintTargets(QPainter& Painter, const CChartScale& Scale,
                           const CTargetVowels& Targets);
  // A small line in the plane's top left corner (the distance to the
  // nearest target), on a paper-coloured box so it reads over the grid.
  static QRectF NoteRect(const QSizeF& Size);
  static void PaintNote(QPainter& Painter, const QSizeF& Size, const QString& Text);
  // The caption of a saved chart (the take and the time), left of the F2
  // title.
  static void PaintCaption(QPainter& Painter, const QSizeF& Size, const QString& Text);
};

// "to i: 0.42 Bark   F1 +35 Hz   F2 -120 Hz": the live point against the
// nearest target; empty without a target or a voice.
QString TargetDistanceText(const CTargetVowels& Targets, bool Voiced, double F1, double F2);

}  // namespace quenvis
