#include "takes/Timeline.h"

#include <QComboBox>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "takes/TakeMarkers.h"

namespace quenvis {

namespace {

constexpr int BarMargin = 8;
// Names of markers above the bar, of selections below it.
constexpr int BarTop = 15, BarHeight = 14;
constexpr double NearPixels = 5;
const QColor MarkerInk(250, 200, 40);
const QColor SpanInk(80, 190, 120);

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
  setFixedHeight(2 * BarTop + BarHeight);
  setToolTip(
      QStringLiteral("Click or drag to go there, Shift+drag to select; right-click a marker to "
                     "rename or remove it"));
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
  // The bar ends where the time text begins: when the text grows ("paused",
  // "1 dropout"), everything on the bar moves.
  FTime->installEventFilter(this);
  UpdateText();
}

bool TTimeline::eventFilter(QObject* Watched, QEvent* Event) {
  if (Watched == FTime && (Event->type() == QEvent::Move || Event->type() == QEvent::Resize))
    update();
  return QWidget::eventFilter(Watched, Event);
}

QRectF TTimeline::BarRect() const {
  // Up to the time text and the speed list at the right, wherever the
  // layout put them.
  const int controls = FTime->isVisible() ? FTime->x() : width() - 230;
  return QRectF(BarMargin, BarTop, std::max(20, controls - 2 * BarMargin), BarHeight);
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

void TTimeline::SetMarkers(TTakeMarkers* Markers) {
  if (FMarkers) disconnect(FMarkers, nullptr, this, nullptr);
  FMarkers = Markers;
  if (FMarkers) connect(FMarkers, &TTakeMarkers::changed, this, qOverload<>(&QWidget::update));
  update();
}

double TTimeline::MarkerAt(double X, bool& IsSpan) const noexcept {
  double best = NearPixels, at = std::nan("");
  if (!FMarkers || FLength <= 0) return at;
  for (const TMarker& m : FMarkers->Points())
    if (const double d = std::abs(XOf(m.Time) - X); d <= best) {
      best = d;
      at = m.Time;
      IsSpan = false;
    }
  if (std::isnan(at))
    for (const TNamedSpan& s : FMarkers->Spans())
      if (X >= XOf(s.From) - NearPixels && X <= XOf(s.To) + NearPixels) {
        IsSpan = true;
        return s.From;
      }
  return at;
}

void TTimeline::contextMenuEvent(QContextMenuEvent* Event) {
  bool span = false;
  const double at = MarkerAt(Event->pos().x(), span);
  if (std::isnan(at) || !FMarkers) return;
  QString name;
  for (const TMarker& m : FMarkers->Points())
    if (!span && m.Time == at) name = m.Name;
  for (const TNamedSpan& s : FMarkers->Spans())
    if (span && s.From == at) name = s.Name;
  QMenu menu(this);
  menu.addAction(span ? QStringLiteral("Rename the selection...")
                      : QStringLiteral("Rename the marker..."));
  QAction* remove = menu.addAction(span ? QStringLiteral("Remove the selection")
                                        : QStringLiteral("Remove the marker"));
  const QAction* chosen = menu.exec(Event->globalPos());
  if (!chosen || !FMarkers) return;
  if (chosen == remove) {
    span ? FMarkers->RemoveSpan(at) : FMarkers->RemovePoint(at);
    return;
  }
  bool ok = false;
  const QString text = QInputDialog::getText(this, QStringLiteral("Marker"),
                                             QStringLiteral("Name:"), QLineEdit::Normal, name, &ok);
  if (ok && FMarkers) span ? FMarkers->RenameSpan(at, text) : FMarkers->RenamePoint(at, text);
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
  if (FMarkers && FLength > 0) {
    QFont small = font();
    small.setPixelSize(10);
    p.setFont(small);
    for (const TNamedSpan& s : FMarkers->Spans()) {
      const QRectF band(QPointF(XOf(s.From), bar.bottom() - 3), QPointF(XOf(s.To), bar.bottom()));
      p.fillRect(band, SpanInk);
      p.setPen(SpanInk);
      p.drawText(QRectF(band.left(), bar.bottom() + 1, std::max(40.0, band.width()), BarTop - 1),
                 Qt::AlignLeft | Qt::AlignTop, s.Name);
    }
    p.setPen(QPen(MarkerInk, 1));
    for (const TMarker& m : FMarkers->Points()) {
      const double x = XOf(m.Time);
      p.drawLine(QPointF(x, bar.top() - 3), QPointF(x, bar.bottom()));
      if (!m.Name.isEmpty())
        p.drawText(QRectF(x + 2, 0, 120, BarTop - 2), Qt::AlignLeft | Qt::AlignBottom, m.Name);
    }
  }
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
