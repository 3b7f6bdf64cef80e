#include "takes/Timeline.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace quenvis {

namespace {

constexpr int BarMargin = 8;

}  // namespace

QString TimelineTime(double Seconds) {
  // Tenths, cut rather than rounded: the place never shows past itself.
  const auto t = static_cast<long long>(std::floor(std::clamp(Seconds, 0.0, 1e7) * 10 + 1e-6));
  return QStringLiteral("%1:%2.%3")
      .arg(t / 600)
      .arg(t / 10 % 60, 2, 10, QLatin1Char('0'))
      .arg(t % 10);
}

TTimeline::TTimeline(QWidget* Parent) : QWidget(Parent) {
  setObjectName(QStringLiteral("Timeline"));
  setFixedHeight(34);
  FTime = new QLabel(this);
  FSpeed = new QComboBox(this);
  for (const double s : Speeds) FSpeed->addItem(QString::number(s) + QStringLiteral("x"), s);
  FSpeed->setFocusPolicy(Qt::NoFocus);
  FSpeed->setToolTip(QStringLiteral("Playing speed"));
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 6, 0);
  row->addStretch(1);
  row->addWidget(FTime);
  row->addWidget(FSpeed);
  connect(FSpeed, &QComboBox::activated, this, [this] { emit speedChanged(Speed()); });
  UpdateText();
}

QRectF TTimeline::BarRect() const {
  // Up to the time text and the speed list at the right, wherever the
  // layout put them.
  const int controls = FTime->isVisible() ? FTime->x() : width() - 230;
  return QRectF(BarMargin, 10, std::max(20, controls - 2 * BarMargin), 14);
}

double TTimeline::TimeAt(double X) const noexcept {
  const QRectF bar = BarRect();
  return std::clamp((X - bar.left()) / bar.width(), 0.0, 1.0) * FLength;
}

double TTimeline::XOf(double Seconds) const noexcept {
  const QRectF bar = BarRect();
  return bar.left() + (FLength > 0 ? std::clamp(Seconds / FLength, 0.0, 1.0) : 0.0) * bar.width();
}

void TTimeline::SetLength(double Seconds) {
  if (Seconds == FLength) return;
  FLength = std::max(0.0, Seconds);
  UpdateText();
}

void TTimeline::SetPosition(double Seconds) {
  if (Seconds == FPosition) return;
  const double before = XOf(FPosition);
  FPosition = Seconds;
  // Only the strip between the old and the new place.
  const QRectF bar = BarRect();
  const double after = XOf(FPosition);
  update(QRectF(std::min(before, after) - 2, 0, std::abs(after - before) + 4, height())
             .toAlignedRect()
             .intersected(QRect(0, 0, int(bar.right()) + 3, height())));
  // The text shows tenths: made again only when they change.
  if (std::floor(FPosition * 10) != FShownTenth) UpdateText();
}

void TTimeline::SetPaused(bool Paused) {
  if (Paused == FPaused) return;
  FPaused = Paused;
  UpdateText();
}

void TTimeline::SetDropouts(long long Count) {
  if (Count == FDropouts) return;
  FDropouts = Count;
  UpdateText();
}

QString TTimeline::Text() const { return FTime->text(); }

void TTimeline::Select(double From, double To) {
  FFrom = std::clamp(std::min(From, To), 0.0, FLength);
  FTo = std::clamp(std::max(From, To), 0.0, FLength);
  update();
  UpdateText();
}

double TTimeline::Speed() const noexcept { return FSpeed->currentData().toDouble(); }

void TTimeline::SetSpeed(double Speed) {
  const int i = FSpeed->findData(Speed);
  if (i >= 0) FSpeed->setCurrentIndex(i);
}

void TTimeline::Step(double Seconds) {
  emit seekRequested(std::clamp(FPosition + Seconds, 0.0, FLength));
}

void TTimeline::ToggleLoop() {
  FLoop = !FLoop;
  const bool whole = FTo <= FFrom;
  emit loopChanged(FLoop, whole ? 0.0 : FFrom, whole ? 0.0 : FTo);
  update();
  UpdateText();
}

void TTimeline::UpdateText() {
  FShownTenth = std::floor(FPosition * 10);
  QString text = TimelineTime(FPosition) + QStringLiteral(" / ") + TimelineTime(FLength);
  if (FTo > FFrom)
    text += QStringLiteral("  sel ") + TimelineTime(FFrom) + QStringLiteral("-") +
            TimelineTime(FTo) + QStringLiteral(" (") + TimelineTime(FTo - FFrom) +
            QStringLiteral(")");
  if (FLoop) text += QStringLiteral("  loop");
  if (FPaused) text += QStringLiteral("  paused");
  if (FDropouts > 0)
    text += FDropouts == 1 ? QStringLiteral("  1 dropout")
                           : QStringLiteral("  %1 dropouts").arg(FDropouts);
  FTime->setText(text);
}

void TTimeline::paintEvent(QPaintEvent* /*Event*/) {
  QPainter p(this);
  const QRectF bar = BarRect();
  p.fillRect(bar, QColor(60, 60, 60));
  if (FTo > FFrom)
    p.fillRect(QRectF(QPointF(XOf(FFrom), bar.top()), QPointF(XOf(FTo), bar.bottom())),
               FLoop ? QColor(70, 120, 200) : QColor(90, 100, 130));
  else if (FLoop)
    p.fillRect(bar, QColor(50, 80, 130));
  p.fillRect(QRectF(bar.topLeft(), QPointF(XOf(FPosition), bar.bottom())).adjusted(0, 5, 0, -5),
             QColor(200, 200, 200));
  const double x = XOf(FPosition);
  p.setPen(QPen(QColor(230, 60, 60), 2));
  p.drawLine(QPointF(x, bar.top() - 4), QPointF(x, bar.bottom() + 4));
}

void TTimeline::mousePressEvent(QMouseEvent* Event) {
  if (Event->button() != Qt::LeftButton || FLength <= 0) return;
  const double t = TimeAt(Event->position().x());
  if (Event->modifiers() & Qt::ShiftModifier) {
    FAnchor = t;
    Select(t, t);
  } else {
    FAnchor = -1;
    emit seekRequested(t);
  }
}

void TTimeline::mouseMoveEvent(QMouseEvent* Event) {
  if (!(Event->buttons() & Qt::LeftButton) || FLength <= 0) return;
  const double t = TimeAt(Event->position().x());
  if (FAnchor >= 0)
    Select(FAnchor, t);
  else
    emit seekRequested(t);
}

void TTimeline::mouseReleaseEvent(QMouseEvent* /*Event*/) {
  if (FAnchor < 0) return;
  FAnchor = -1;
  // A loop running follows the new selection.
  if (FLoop) emit loopChanged(true, FTo > FFrom ? FFrom : 0.0, FTo > FFrom ? FTo : 0.0);
}

}  // namespace quenvis
