#include "chart/VowelPlane.h"

#include <QCursor>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <cmath>

#include "analysis/Common.h"
#include "chartdraw/ChartOverlayPainter.h"

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
  // The new dot, the one before it (now a trail dot), the one that leaves
  // the trail, and those that reach their next shade.
  QRegion dots;
  const int slot = (FNewest + 1) % TrailBlocks;
  if (FTrail[static_cast<std::size_t>(slot)].Voiced)
    dots += DotRect(scale, FTrail[static_cast<std::size_t>(slot)]);
  FNewest = slot;
  FTrail[static_cast<std::size_t>(slot)] = {Estimate.Voiced, Estimate.F1, Estimate.F2};
  for (int age = 0; age < TrailBlocks; ++age)
    if (AtAge(age).Voiced && (age <= 1 || (age - 1) % FadeStep == 0))
      dots += DotRect(scale, AtAge(age));
  // A compact trail is repainted as one rectangle: copying it whole costs
  // less than the many pieces its dots overlap into.
  const QRect bounds = dots.boundingRect();
  qint64 covered = 0;
  for (const QRect& r : dots) covered += qint64(r.width()) * r.height();
  if (qint64(bounds.width()) * bounds.height() <= 2 * covered)
    update(bounds);
  else
    update(dots);

  // Figures that change every block cannot be read: the readout follows the
  // estimate every few blocks, and at once when the voice starts or stops.
  ++FSinceReadout;
  const bool changed =
      Estimate.Voiced != FShown.Voiced || Estimate.Clipped != FShown.Clipped ||
      (Estimate.Voiced && FSinceReadout >= ReadoutEvery &&
       (Estimate.F0 != FShown.F0 || Estimate.F1 != FShown.F1 || Estimate.F2 != FShown.F2));
  if (changed) {
    FShown = Estimate;
    FSinceReadout = 0;
    update(ReadoutRect());
    if (!FTargets.Empty()) update(CChartOverlayPainter::NoteRect(size()).toAlignedRect());
  }
  // Each estimate is one block; a ring that fills or empties is rare
  // enough to repaint the background for.
  if (!FTargets.Empty() &&
      FTargets.Update(Estimate.Voiced, Estimate.F1, Estimate.F2, double(BlockFrames) / SampleRate))
    ComposeTargets();
}

void TVowelPlane::ClearTrail() {
  if (FTargets.ResetHolds()) ComposeTargets();
  FTrail.fill({});
  FNewest = -1;
  FShown = {};
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
  return QRectF(Scale.XOfF2(Point.F2) - r, Scale.YOfF1(Point.F1) - r, 2 * r, 2 * r).toAlignedRect();
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

void TVowelPlane::PaintBase(QPainter& Painter, const QSizeF& Size) const {
  FPainter.PaintBackground(Painter, Size);
  const CChartScale scale = FPainter.ScaleFor(Size);
  if (!FComparison.Empty())
    CChartOverlayPainter::PaintComparison(Painter, scale, FComparison.Points(),
                                          FComparison.Clusters());
  CChartOverlayPainter::PaintTargets(Painter, scale, FTargets);
}

void TVowelPlane::PaintAll(QPainter& Painter, const QString& Caption) const {
  // Drawn afresh rather than from the cached picture: an SVG gets lines.
  PaintBase(Painter, size());
  PaintDots(Painter, FPainter.ScaleFor(size()), nullptr);
  CVowelChartPainter::PaintReadout(
      Painter, size(), ReadoutText(FShown.Voiced, FShown.F0, FShown.F1, FShown.F2, FShown.Clipped),
      CVowelChartPainter::ReadoutFont(size()));
  CChartOverlayPainter::PaintNote(Painter, size(), TargetNote());
  CChartOverlayPainter::PaintCaption(Painter, size(), Caption);
}

QString TVowelPlane::TargetNote() const {
  return TargetDistanceText(FTargets, FShown.Voiced, FShown.F1, FShown.F2);
}

QString TVowelPlane::LoadComparison(const QString& Path) {
  CComparison next;
  const std::string error = next.Load(Path.toStdString());
  if (!error.empty()) return QString::fromStdString(error);
  FComparison = std::move(next);
  FClusteredFor.clear();
  Rebuild();
  return {};
}

void TVowelPlane::ClearComparison() {
  FComparison.Clear();
  Rebuild();
}

void TVowelPlane::EditTargets(const std::function<void(CTargetVowels&)>& Edit) {
  Edit(FTargets);
  if (FBase.isNull())
    Rebuild();
  else
    ComposeTargets();
  update(CChartOverlayPainter::NoteRect(size()).toAlignedRect());
}

void TVowelPlane::RemoveTargetUnderPointer() {
  if (FTargets.Empty()) return;
  const CChartScale scale = FPainter.ScaleFor(size());
  const QPointF at = mapFromGlobal(QCursor::pos());
  const auto hit = FTargets.At(scale.F1AtY(at.y()), scale.F2AtX(at.x()));
  EditTargets([&](CTargetVowels& T) { T.Remove(hit ? *hit : T.All().size() - 1); });
  emit targetsEdited();
}

void TVowelPlane::mousePressEvent(QMouseEvent* Event) {
  const CChartScale scale = FPainter.ScaleFor(size());
  const QPointF at = Event->position();
  const double f1 = scale.F1AtY(at.y()), f2 = scale.F2AtX(at.x());
  if (Event->button() == Qt::LeftButton && (Event->modifiers() & Qt::ControlModifier) &&
      scale.Contains(f1, f2)) {
    EditTargets([&](CTargetVowels& T) { T.Add({"", f1, f2, std::nullopt}); });
    emit targetsEdited();
    return;
  }
  if (Event->button() == Qt::RightButton) {
    if (const auto hit = FTargets.At(f1, f2)) {
      EditTargets([&](CTargetVowels& T) { T.Remove(*hit); });
      emit targetsEdited();
      return;
    }
  }
  QWidget::mousePressEvent(Event);
}

void TVowelPlane::Paint(QPainter& Painter, const QSizeF& Size) const {
  if (FBackground.isNull() || FBackground.deviceIndependentSize() != Size)
    PaintBase(Painter, Size);
  else
    Painter.drawImage(QPointF(0, 0), FBackground);
  PaintDots(Painter, FPainter.ScaleFor(Size), nullptr);
  const QString text = ReadoutText(FShown.Voiced, FShown.F0, FShown.F1, FShown.F2, FShown.Clipped);
  CVowelChartPainter::PaintReadout(Painter, Size, text,
                                   CVowelChartPainter::ReadoutFont(Size));
  CChartOverlayPainter::PaintNote(Painter, Size, TargetNote());
}

void TVowelPlane::PaintDots(QPainter& Painter, const CChartScale& Scale,
                            const QRegion* Only) const {
  const qreal ratio = Painter.device()->devicePixelRatioF();
  if (ratio != FDotsRatio) {
    // One prepared dot per age: copying a small image costs a fraction of
    // drawing an anti-aliased disc, and the trail redraws every dot per block.
    FDotsRatio = ratio;
    for (int age = 0; age < TrailBlocks; ++age) {
      const double r = (age == 0 ? NewestRadius : TrailRadius) * ratio;
      const int side = 2 * static_cast<int>(std::ceil(r + 1));
      QImage& dot = FDots[static_cast<std::size_t>(age)];
      dot = QImage(side, side, QImage::Format_ARGB32_Premultiplied);
      dot.fill(Qt::transparent);
      QPainter p(&dot);
      CVowelChartPainter::PrepareDots(p);
      // The trail fades in steps, a dot's shade changing every FadeStep
      // blocks, so that a block repaints a quarter of the trail; the dots'
      // ages differ, so the trail as a whole still fades every block.
      QColor c = DotColour;
      c.setAlphaF(age == 0 ? 1.0
                           : 0.75 * (1.0 - double(FadeStep * ((age - 1) / FadeStep)) / TrailBlocks));
      p.setBrush(c);
      p.drawEllipse(QPointF(side / 2.0, side / 2.0), r, r);
      p.end();
      dot.setDevicePixelRatio(ratio);
    }
  }
  // Oldest first, so the newest dot lies on top; each at whole device
  // pixels, so that it is copied as prepared rather than resampled.
  for (int age = TrailBlocks - 1; FNewest >= 0 && age >= 0; --age) {
    const TTrailPoint& p = AtAge(age);
    if (!p.Voiced || !Scale.Contains(p.F1, p.F2)) continue;
    if (Only && !Only->intersects(DotRect(Scale, p))) continue;
    const QImage& dot = FDots[static_cast<std::size_t>(age)];
    const double half = dot.width() / 2.0;
    Painter.drawImage(QPointF(std::nearbyint(Scale.XOfF2(p.F2) * ratio - half) / ratio,
                              std::nearbyint(Scale.YOfF1(p.F1) * ratio - half) / ratio),
                      dot);
  }
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
  PaintDots(painter, FPainter.ScaleFor(size()), &Event->region());
  if (Event->region().intersects(ReadoutRect())) {
    const QString text = ReadoutText(FShown.Voiced, FShown.F0, FShown.F1, FShown.F2, FShown.Clipped);
    if (size() != FReadoutSize) {
      FReadoutSize = size();
      FReadoutFont = CVowelChartPainter::ReadoutFont(size());
    }
    CVowelChartPainter::PaintReadout(painter, size(), text, FReadoutFont);
  }
  if (!FTargets.Empty() && Event->region().intersects(
                               CChartOverlayPainter::NoteRect(size()).toAlignedRect()))
    CChartOverlayPainter::PaintNote(painter, size(), TargetNote());
}

namespace {

bool SameReferences(const std::vector<TReferenceVowel>& A, const std::vector<TReferenceVowel>& B) {
  if (A.size() != B.size()) return false;
  for (std::size_t i = 0; i < A.size(); ++i)
    if (A[i].Label != B[i].Label || A[i].F1 != B[i].F1 || A[i].F2 != B[i].F2) return false;
  return true;
}

}  // namespace

void TVowelPlane::Rebuild() {
  // A new voice or reference set groups the comparison anew and shows its
  // own targets.
  FTargets.SetVoice(FPainter.Voice());
  if (!FComparison.Empty() &&
      (FClusteredFor.empty() || !SameReferences(FClusteredFor, FPainter.Shown()))) {
    FComparison.Cluster(FPainter.Shown());
    FClusteredFor = FPainter.Shown();
  }
  const qreal ratio = devicePixelRatioF();
  const QSizeF s(std::max(1, width()), std::max(1, height()));
  // Opaque, so that it is copied to the window rather than blended.
  FBase = QImage((s * ratio).toSize(), QImage::Format_RGB32);
  FBase.setDevicePixelRatio(ratio);
  QPainter painter(&FBase);
  FPainter.PaintBackground(painter, s);
  if (!FComparison.Empty())
    CChartOverlayPainter::PaintComparison(painter, FPainter.ScaleFor(s), FComparison.Points(),
                                          FComparison.Clusters());
  painter.end();
  ComposeTargets();
}

void TVowelPlane::ComposeTargets() {
  // The targets change as the voice fills their rings: they go over a copy
  // of the rest, which a long comparison makes slow to paint.
  if (FBackground.size() != FBase.size() ||
      FBackground.devicePixelRatio() != FBase.devicePixelRatio())
    FBackground = QImage(FBase.size(), QImage::Format_RGB32);
  FBackground.setDevicePixelRatio(FBase.devicePixelRatio());
  QPainter painter(&FBackground);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  painter.drawImage(QPointF(0, 0), FBase);
  painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  CChartOverlayPainter::PaintTargets(painter, FPainter.ScaleFor(FBase.deviceIndependentSize()),
                                     FTargets);
  update();
}

void TVowelPlane::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  Rebuild();
}

}  // namespace quenvis
