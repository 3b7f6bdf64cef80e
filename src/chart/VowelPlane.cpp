#include "chart/VowelPlane.h"

#include <QPaintEvent>
#include <QPainter>

namespace quenvis {

namespace {

const QColor DotColour(200, 40, 40);
constexpr double NewestRadius = 8.0, TrailRadius = 5.0;

}  // namespace

TVowelPlane::TVowelPlane(QWidget* Parent) : QWidget(Parent) {
  setObjectName(QStringLiteral("VowelPlane"));
  setMinimumSize(200, 150);
  // Everything is painted from the cached background: nothing to erase first.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TVowelPlane::AddEstimate(const TVowelEstimate& Estimate) {
  const CChartScale scale = FPainter.ScaleFor(size());
  // The dots that fade, the one that leaves the trail and the new one; each
  // of the first kind is drawn again a little fainter.
  const int slot = (FNewest + 1) % TrailBlocks;
  if (FTrail[static_cast<std::size_t>(slot)].Voiced)
    update(DotRect(scale, FTrail[static_cast<std::size_t>(slot)]));
  FNewest = slot;
  FTrail[static_cast<std::size_t>(slot)] = {Estimate.Voiced, Estimate.F1, Estimate.F2};
  for (int age = 0; age < TrailBlocks; ++age)
    if (AtAge(age).Voiced) update(DotRect(scale, AtAge(age)));
  const bool readoutChanged = Estimate.Voiced != FLatest.Voiced ||
                              (Estimate.Voiced && (Estimate.F0 != FLatest.F0 ||
                                                   Estimate.F1 != FLatest.F1 ||
                                                   Estimate.F2 != FLatest.F2));
  FLatest = Estimate;
  if (readoutChanged) update(ReadoutRect());
}

void TVowelPlane::ClearTrail() {
  FTrail.fill({});
  FNewest = -1;
  FLatest = {};
  update();
}

bool TVowelPlane::LatestPoint(double& F1, double& F2) const {
  for (int age = 0; FNewest >= 0 && age < TrailBlocks; ++age) {
    const TTrailPoint& p = AtAge(age);
    if (p.Voiced) {
      F1 = p.F1;
      F2 = p.F2;
      return true;
    }
  }
  return false;
}

QRect TVowelPlane::DotRect(const CChartScale& Scale, const TTrailPoint& Point) const {
  if (!Scale.Contains(Point.F1, Point.F2)) return {};
  // The largest radius, and a pixel for anti-aliasing and rounding.
  const double r = NewestRadius + 2;
  return QRectF(Scale.XOfF2(Point.F2) - r, Scale.YOfF1(Point.F1) - r, 2 * r, 2 * r)
      .toAlignedRect();
}

QRect TVowelPlane::ReadoutRect() const {
  const QRectF area = CVowelChartPainter::PlotArea(size());
  return QRectF(0, area.bottom() + 1, width(), height() - area.bottom()).toAlignedRect();
}

QImage TVowelPlane::Render() const {
  const qreal ratio = devicePixelRatioF();
  QImage image((QSizeF(size()) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(ratio);
  QPainter painter(&image);
  Paint(painter, size());
  return image;
}

void TVowelPlane::Paint(QPainter& Painter, const QSizeF& Size) const {
  if (FBackground.isNull() || FBackground.deviceIndependentSize() != Size)
    FPainter.PaintBackground(Painter, Size);
  else
    Painter.drawImage(QPointF(0, 0), FBackground);
  const CChartScale scale = FPainter.ScaleFor(Size);
  // Oldest first, so the newest dot lies on top.
  for (int age = TrailBlocks - 1; FNewest >= 0 && age >= 0; --age) {
    const TTrailPoint& p = AtAge(age);
    if (!p.Voiced) continue;
    QColor c = DotColour;
    c.setAlphaF(age == 0 ? 1.0 : 0.75 * (1.0 - double(age) / TrailBlocks));
    CVowelChartPainter::PaintDot(Painter, scale, p.F1, p.F2, c,
                                 age == 0 ? NewestRadius : TrailRadius);
  }
  CVowelChartPainter::PaintReadout(
      Painter, Size, ReadoutText(FLatest.Voiced, FLatest.F0, FLatest.F1, FLatest.F2));
}

void TVowelPlane::paintEvent(QPaintEvent* Event) {
  QPainter painter(this);
  // The background only where the window needs it, then what lies on it,
  // clipped to the same region.
  if (FBackground.isNull() || FBackground.deviceIndependentSize() != QSizeF(size())) {
    Paint(painter, size());
    return;
  }
  const qreal ratio = FBackground.devicePixelRatio();
  for (const QRect& r : Event->region())
    painter.drawImage(QRectF(r), FBackground,
                      QRectF(r.x() * ratio, r.y() * ratio, r.width() * ratio, r.height() * ratio));
  painter.setClipRegion(Event->region());
  const CChartScale scale = FPainter.ScaleFor(size());
  for (int age = TrailBlocks - 1; FNewest >= 0 && age >= 0; --age) {
    const TTrailPoint& p = AtAge(age);
    if (!p.Voiced || !Event->region().intersects(DotRect(scale, p))) continue;
    QColor c = DotColour;
    c.setAlphaF(age == 0 ? 1.0 : 0.75 * (1.0 - double(age) / TrailBlocks));
    CVowelChartPainter::PaintDot(painter, scale, p.F1, p.F2, c,
                                 age == 0 ? NewestRadius : TrailRadius);
  }
  if (Event->region().intersects(ReadoutRect()))
    CVowelChartPainter::PaintReadout(
        painter, size(), ReadoutText(FLatest.Voiced, FLatest.F0, FLatest.F1, FLatest.F2));
}

void TVowelPlane::Rebuild() {
  const qreal ratio = devicePixelRatioF();
  const QSizeF s(std::max(1, width()), std::max(1, height()));
  FBackground = QImage((s * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
  FBackground.setDevicePixelRatio(ratio);
  QPainter painter(&FBackground);
  FPainter.PaintBackground(painter, s);
  update();
}

void TVowelPlane::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  Rebuild();
}

}  // namespace quenvis
