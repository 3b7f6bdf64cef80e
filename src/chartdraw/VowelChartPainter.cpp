#include "chartdraw/VowelChartPainter.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QRadialGradient>
#include <cmath>

#include "analysis/Common.h"
#include "chartdraw/ChartStyle.h"
#include "chartdraw/NoteName.h"

namespace quenvis {

namespace {

const QColor Grid(222, 222, 215);
const QColor Reference(70, 110, 170);

QString Hz(double Value) { return QString::number(RoundToInt32(Value)); }

}  // namespace

CVowelChartPainter::CVowelChartPainter() { SetReferences({}); }

void CVowelChartPainter::SetVoice(EVoice Voice) {
  FVoice = Voice;
  FShown = FSet.empty() ? BuiltInVowels(FVoice) : VowelsFor(FSet, FVoice);
}

void CVowelChartPainter::SetReferences(std::vector<TReferenceVowel> Set) {
  FSet = std::move(Set);
  SetVoice(FVoice);
}

QRectF CVowelChartPainter::PlotArea(const QSizeF& Size) {
  const double readout = std::max(32.0, Size.height() * 0.08);
  const double left = 16, top = 46, right = 74;
  return QRectF(left, top, std::max(40.0, Size.width() - left - right),
                std::max(40.0, Size.height() - top - readout - 16));
}

CChartScale CVowelChartPainter::ScaleFor(const QSizeF& Size) const {
  const QRectF a = PlotArea(Size);
  return CChartScale(ChartRangeFor(FVoice), a.left(), a.top(), a.width(), a.height());
}

void CVowelChartPainter::PaintBackground(QPainter& Painter, const QSizeF& Size) const {
  const QRectF area = PlotArea(Size);
  const CChartScale scale = ScaleFor(Size);
  Painter.save();
  Painter.setRenderHint(QPainter::Antialiasing, true);
  Painter.fillRect(QRectF(QPointF(0, 0), Size), ChartPaper);

  // Grid and ticks: F2 labels along the top, F1 labels down the right side.
  const QFont small = ChartFont(11);
  const QFontMetricsF metrics(small);
  Painter.setFont(small);
  for (const double f : scale.F2Ticks(metrics.horizontalAdvance(QStringLiteral("0000")) + 10)) {
    const double x = scale.XOfF2(f);
    Painter.setPen(QPen(Grid, 1));
    Painter.drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
    Painter.setPen(ChartInk);
    Painter.drawText(QRectF(x - 30, area.top() - 20, 60, 16), Qt::AlignCenter, Hz(f));
  }
  for (const double f : scale.F1Ticks(metrics.height() + 6)) {
    const double y = scale.YOfF1(f);
    Painter.setPen(QPen(Grid, 1));
    Painter.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
    Painter.setPen(ChartInk);
    Painter.drawText(QRectF(area.right() + 6, y - 9, 60, 18), Qt::AlignLeft | Qt::AlignVCenter,
                     Hz(f));
  }
  Painter.setPen(QPen(ChartInk, 1));
  Painter.setBrush(Qt::NoBrush);
  Painter.drawRect(area);
  Painter.setFont(ChartFont(12, true));
  Painter.drawText(QRectF(area.left(), 4, area.width(), 18), Qt::AlignCenter,
                   QStringLiteral("F2 (Hz)"));
  Painter.drawText(QRectF(area.right() + 4, area.top() - 40, 70, 18), Qt::AlignLeft,
                   QStringLiteral("F1 (Hz)"));

  // Reference vowels: a soft ellipse and the symbol at the centre.
  const QFont symbol = ChartFont(std::clamp(area.height() / 22, 12.0, 28.0));
  Painter.setFont(symbol);
  Painter.setPen(Qt::NoPen);
  Painter.setClipRect(area);
  for (const TReferenceVowel& v : FShown) {
    const double x = scale.XOfF2(v.F2), y = scale.YOfF1(v.F1);
    const double rx = std::fabs(scale.XOfF2(BarkToHz(HzToBark(v.F2) + EllipseF2Bark)) - x);
    const double ry = std::fabs(scale.YOfF1(BarkToHz(HzToBark(v.F1) + EllipseF1Bark)) - y);
    QRadialGradient glow(QPointF(x, y), 1.0);
    glow.setCoordinateMode(QGradient::ObjectMode);
    glow.setCenter(0.5, 0.5);
    glow.setFocalPoint(0.5, 0.5);
    glow.setRadius(0.5);
    QColor inner = Reference, outer = Reference;
    inner.setAlpha(70);
    outer.setAlpha(12);
    glow.setColorAt(0, inner);
    glow.setColorAt(1, outer);
    Painter.setBrush(glow);
    Painter.drawEllipse(QPointF(x, y), rx, ry);
  }
  Painter.setPen(Reference.darker(140));
  for (const TReferenceVowel& v : FShown) {
    const double x = scale.XOfF2(v.F2), y = scale.YOfF1(v.F1);
    Painter.drawText(QRectF(x - 40, y - 20, 80, 40), Qt::AlignCenter,
                     QString::fromUtf8(v.Label.data(), static_cast<qsizetype>(v.Label.size())));
  }
  Painter.restore();
}

void CVowelChartPainter::PrepareDots(QPainter& Painter) {
  Painter.setRenderHint(QPainter::Antialiasing, true);
  Painter.setPen(Qt::NoPen);
}

void CVowelChartPainter::PaintDot(QPainter& Painter, const CChartScale& Scale, double F1, double F2,
                                  const QColor& Colour, double Radius) {
  if (!Scale.Contains(F1, F2)) return;
  Painter.setBrush(Colour);
  Painter.drawEllipse(QPointF(Scale.XOfF2(F2), Scale.YOfF1(F1)), Radius, Radius);
}

namespace {

QRectF ReadoutBand(const QSizeF& Size) {
  const QRectF area = CVowelChartPainter::PlotArea(Size);
  return QRectF(0, area.bottom() + 6, Size.width(), Size.height() - area.bottom() - 8);
}

}  // namespace

QFont CVowelChartPainter::ReadoutFont(const QSizeF& Size) {
  const QRectF band = ReadoutBand(Size);
  // As large as the band allows, narrowed until the widest readout fits the
  // width: one size for every readout, so the line does not swell and
  // shrink with the figures.
  const double pixels = std::clamp(band.height() * 0.7, 12.0, 40.0);
  const QFont font = ChartFont(pixels, true);
  const double wide = QFontMetricsF(font).horizontalAdvance(
      ReadoutText(true, 1000, 1000, 4000) + QStringLiteral("0"));
  return wide > band.width() * 0.94 ? ChartFont(pixels * band.width() * 0.94 / wide, true) : font;
}

void CVowelChartPainter::PaintReadout(QPainter& Painter, const QSizeF& Size, const QString& Text,
                                      const QFont& Font) {
  if (Text.isEmpty()) return;
  Painter.save();
  Painter.setFont(Font);
  Painter.setPen(ChartInk);
  Painter.drawText(ReadoutBand(Size), Qt::AlignCenter, Text);
  Painter.restore();
}

bool CVowelChartPainter::InsideEllipse(const TReferenceVowel& Vowel, double F1,
                                       double F2) noexcept {
  const double a = (HzToBark(F1) - HzToBark(Vowel.F1)) / EllipseF1Bark;
  const double b = (HzToBark(F2) - HzToBark(Vowel.F2)) / EllipseF2Bark;
  return a * a + b * b <= 1.0;
}

QString ReadoutText(bool Voiced, double F0, double F1, double F2, bool Clipped) {
  if (!Voiced)
    return Clipped ? QStringLiteral("Clipped: too loud for formants")
                   : QString();
  QString text = QStringLiteral("F1 %1 Hz    F2 %2 Hz").arg(Hz(F1), Hz(F2));
  if (F0 > 0) {
    text += QStringLiteral("    F0 %1 Hz").arg(Hz(F0));
    const std::string note = NoteName(F0);
    if (!note.empty()) text += QStringLiteral("    ") + QString::fromStdString(note);
  }
  return text;
}

}  // namespace quenvis
