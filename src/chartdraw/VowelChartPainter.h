#pragma once
// Paints the vowel chart with QPainter: the plane with its grid, ticks and
// axis titles, the reference vowels, dots, and the readout. Shared by the
// chart window and by quenvis-render's chart.png.
#include <QColor>
#include <QFont>
#include <QRectF>
#include <QString>
#include <vector>

#include "chartdraw/ChartScale.h"
#include "chartdraw/ReferenceVowels.h"

class QPainter;

namespace quenvis {

// Spread drawn around a reference vowel, in Bark.
inline constexpr double EllipseF1Bark = 0.45;
inline constexpr double EllipseF2Bark = 0.6;

class CVowelChartPainter {
 public:
  CVowelChartPainter();

  void SetVoice(EVoice Voice);
  EVoice Voice() const noexcept { return FVoice; }
  // The whole set; only the vowels for the current voice are drawn.
  void SetReferences(std::vector<TReferenceVowel> Set);
  const std::vector<TReferenceVowel>& Shown() const noexcept { return FShown; }

  // The plot area of a chart of Size, and its scale.
  static QRectF PlotArea(const QSizeF& Size);
  CChartScale ScaleFor(const QSizeF& Size) const;

  // Everything that stays from block to block.
  void PaintBackground(QPainter& Painter, const QSizeF& Size) const;
  // Sets the painter up for PaintDot, once for any number of dots (saving
  // and restoring the painter per dot is what made dots costly).
  static void PrepareDots(QPainter& Painter);
  // A filled dot; pairs outside the plane are not drawn. Leaves the brush set.
  static void PaintDot(QPainter& Painter, const CChartScale& Scale, double F1, double F2,
                       const QColor& Colour, double Radius);
  // The readout line under the plane, in the font that fits the widest one.
  static QFont ReadoutFont(const QSizeF& Size);
  static void PaintReadout(QPainter& Painter, const QSizeF& Size, const QString& Text,
                           const QFont& Font);

  // Whether a pair lies inside the drawn ellipse of a reference vowel.
  static bool InsideEllipse(const TReferenceVowel& Vowel, double F1, double F2) noexcept;

 private:
  EVoice FVoice = DefaultVoice;
  std::vector<TReferenceVowel> FSet;
  std::vector<TReferenceVowel> FShown;
};

// The readout text: "F1 310 Hz   F2 2290 Hz   F0 220 Hz   A3 +0"; empty when unvoiced.
// Clipped: the voice is there but too loud for its formants, which says so.
QString ReadoutText(bool Voiced, double F0, double F1, double F2, bool Clipped = false);

}  // namespace quenvis
