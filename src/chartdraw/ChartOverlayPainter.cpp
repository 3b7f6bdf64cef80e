#include "chartdraw/ChartOverlayPainter.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <numbers>

#include "analysis/Common.h"
#include "chartdraw/ChartStyle.h"
#include "chartdraw/VowelChartPainter.h"

namespace quenvis {

const QColor CChartOverlayPainter::ComparisonColour(120, 60, 150);
const QColor CChartOverlayPainter::TargetColour(30, 140, 70);

namespace {

QString Label(const std::string& Text) {
  return QString::fromUtf8(Text.data(), static_cast<qsizetype>(Text.size()));
}

QPointF At(const CChartScale& Scale, double F1Bark, double F2Bark) {
  return {Scale.XOfF2(BarkToHz(F2Bark)), Scale.YOfF1(BarkToHz(F1Bark))};
}

// The outline of Sigmas standard deviations, through the plane's mapping
// (linear in Bark on each axis), as a closed polygon.
QPainterPath CloudOutline(const CChartScale& Scale, const TCloudEllipse& E, double Sigmas) {
  QPainterPath path;
  constexpr int Steps = 48;
  for (int i = 0; i <= Steps; ++i) {
    double b1 = 0, b2 = 0;
    EllipsePoint(E, Sigmas, 2 * std::numbers::pi * i / Steps, b1, b2);
    const QPointF p = At(Scale, b1, b2);
    if (i == 0)
      path.moveTo(p);
    else
      path.lineTo(p);
  }
  path.closeSubpath();
  return path;
}

// A target's ring: the size of a reference vowel's ellipse.
QRectF RingRect(const CChartScale& Scale, const TReferenceVowel& T) {
  const double x = Scale.XOfF2(T.F2), y = Scale.YOfF1(T.F1);
  const double rx = std::fabs(Scale.XOfF2(BarkToHz(HzToBark(T.F2) + EllipseF2Bark)) - x);
  const double ry = std::fabs(Scale.YOfF1(BarkToHz(HzToBark(T.F1) + EllipseF1Bark)) - y);
  return {x - rx, y - ry, 2 * rx, 2 * ry};
}

}  // namespace

void CChartOverlayPainter::PaintComparison(QPainter& Painter, const CChartScale& Scale,
                                           const std::vector<TVowelPoint>& Points,
                                           const std::vector<TCloudEllipse>& Clusters) {
  const TChartRange& r = Scale.Range();
  Painter.save();
  Painter.setRenderHint(QPainter::Antialiasing, true);
  Painter.setClipRect(QRectF(QPointF(Scale.XOfF2(r.F2Hi), Scale.YOfF1(r.F1Lo)),
                             QPointF(Scale.XOfF2(r.F2Lo), Scale.YOfF1(r.F1Hi))));
  QColor faint = ComparisonColour;
  faint.setAlpha(45);
  Painter.setPen(Qt::NoPen);
  Painter.setBrush(faint);
  const std::size_t every = Points.size() / MaxDrawnComparisonPoints + 1;
  for (std::size_t i = 0; i < Points.size(); i += every) {
    const TVowelPoint& p = Points[i];
    if (!Scale.Contains(p.F1, p.F2)) continue;
    Painter.drawEllipse(QPointF(Scale.XOfF2(p.F2), Scale.YOfF1(p.F1)), 2.5, 2.5);
  }

  QColor fill = ComparisonColour;
  fill.setAlpha(30);
  const QFont font = ChartFont(13, true);
  const QFontMetricsF metrics(font);
  Painter.setFont(font);
  // Outline, cross and label over a pale halo: a take's own dots pile up
  // into a solid patch in the middle of a vowel.
  const QColor line = ComparisonColour.darker(150);
  const QPen halo(QColor(255, 255, 255, 200), 4.0);
  for (const TCloudEllipse& e : Clusters) {
    const QPainterPath outline = CloudOutline(Scale, e, 1.0);
    Painter.setBrush(fill);
    Painter.setPen(halo);
    Painter.drawPath(outline);
    Painter.setBrush(Qt::NoBrush);
    Painter.setPen(QPen(line, 1.8));
    Painter.drawPath(outline);
    // The mean: a cross, and the label beside it.
    const QPointF m = At(Scale, e.F1Bark, e.F2Bark);
    for (const QPen& pen : {QPen(halo.color(), 4.5), QPen(line, 2.0)}) {
      Painter.setPen(pen);
      Painter.drawLine(m - QPointF(6, 0), m + QPointF(6, 0));
      Painter.drawLine(m - QPointF(0, 6), m + QPointF(0, 6));
    }
    const QString label = Label(e.Label);
    const QRectF box(m.x() + 7, m.y() - metrics.height() - 2, metrics.horizontalAdvance(label) + 4,
                     metrics.height() + 2);
    Painter.fillRect(box, QColor(255, 255, 255, 170));
    Painter.setPen(line);
    Painter.drawText(box, Qt::AlignLeft | Qt::AlignVCenter, label);
  }
  Painter.restore();
}

void CChartOverlayPainter::PaintTargets(QPainter& Painter, const CChartScale& Scale,
                                        const CTargetVowels& Targets) {
  Painter.save();
  Painter.setRenderHint(QPainter::Antialiasing, true);
  const QFont font = ChartFont(12, true);
  Painter.setFont(font);
  const std::vector<TReferenceVowel>& all = Targets.All();
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (!Targets.Applies(i)) continue;
    const TReferenceVowel& t = all[i];
    const QRectF ring = RingRect(Scale, t);
    QColor solid = TargetColour;
    solid.setAlpha(150);
    Painter.setPen(QPen(TargetColour, Targets.Solid(i) ? 3.0 : 2.0,
                        Targets.Solid(i) ? Qt::SolidLine : Qt::DashLine));
    Painter.setBrush(Targets.Solid(i) ? QBrush(solid) : QBrush(Qt::NoBrush));
    Painter.drawEllipse(ring);
    Painter.setPen(TargetColour.darker(130));
    Painter.drawText(QRectF(ring.right() + 2, ring.top() - 16, 120, 16),
                     Qt::AlignLeft | Qt::AlignVCenter, Label(t.Label));
  }
  Painter.restore();
}

QRectF CChartOverlayPainter::NoteRect(const QSizeF& Size) {
  const QRectF area = CVowelChartPainter::PlotArea(Size);
  return {area.left() + 1, area.top() + 1, std::min(area.width() - 2, 420.0), 20};
}

void CChartOverlayPainter::PaintNote(QPainter& Painter, const QSizeF& Size, const QString& Text) {
  if (Text.isEmpty()) return;
  const QRectF box = NoteRect(Size);
  const QFont font = ChartFont(13, true);
  const QFontMetricsF metrics(font);
  const QString shown = metrics.elidedText(Text, Qt::ElideRight, box.width() - 8);
  Painter.save();
  Painter.setFont(font);
  Painter.fillRect(QRectF(box.topLeft(), QSizeF(metrics.horizontalAdvance(shown) + 8, box.height())),
                   ChartPaper);
  Painter.setPen(TargetColour.darker(130));
  Painter.drawText(box.adjusted(4, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, shown);
  Painter.restore();
}

void CChartOverlayPainter::PaintCaption(QPainter& Painter, const QSizeF& Size,
                                        const QString& Text) {
  if (Text.isEmpty()) return;
  const QFont font = ChartFont(11);
  const QFontMetricsF metrics(font);
  // Clear of the F2 title, which is centred.
  const double width = std::max(40.0, Size.width() / 2 - 50);
  Painter.save();
  Painter.setFont(font);
  Painter.setPen(ChartInk);
  Painter.drawText(QRectF(6, 4, width, 18), Qt::AlignLeft | Qt::AlignVCenter,
                   metrics.elidedText(Text, Qt::ElideMiddle, width));
  Painter.restore();
}

QString TargetDistanceText(const CTargetVowels& Targets, bool Voiced, double F1, double F2) {
  if (!Voiced || Targets.Empty()) return {};
  double bark = 0;
  const auto nearest = Targets.Nearest(F1, F2, bark);
  if (!nearest) return {};
  const TReferenceVowel& t = Targets.All()[*nearest];
  const auto signedHz = [](double Hz) {
    const std::int32_t v = RoundToInt32(Hz);
    return (v > 0 ? QStringLiteral("+") : QString()) + QString::number(v);
  };
  return QStringLiteral("to %1: %2 Bark   F1 %3 Hz   F2 %4 Hz")
      .arg(Label(t.Label), QString::number(bark, 'f', 2), signedHz(F1 - t.F1), signedHz(F2 - t.F2));
}

}  // namespace quenvis
