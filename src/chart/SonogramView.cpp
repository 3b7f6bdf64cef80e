#include "chart/SonogramView.h"

#include <QComboBox>
#include <QFont>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "analysis/Common.h"

namespace quenvis {

namespace {

const QColor Paper(252, 252, 248);
const QColor Ink(60, 60, 60);
const QColor F0Ink(0, 120, 150);

QFont AxisFont() {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  return font;
}

}  // namespace

TSpectrogramView::TSpectrogramView(QWidget* Parent)
    : QWidget(Parent), FCore(1, 1), FRange(new QComboBox(this)) {
  setObjectName(QStringLiteral("Spectrogram"));
  setMinimumSize(Left + Right + 120, Top + Bottom + 60);
  setAttribute(Qt::WA_OpaquePaintEvent);
  FRange->setFocusPolicy(Qt::NoFocus);
  FRange->setToolTip(QStringLiteral("The spectrogram's frequency range"));
  setToolTip(QStringLiteral("Click to tell the time there (and go there while a recording plays)"));
  for (const double hz : TopChoices)
    FRange->addItem(QStringLiteral("0-%1 Hz").arg(RoundToInt32(hz)), hz);
  FRange->setCurrentIndex(1);
  connect(FRange, &QComboBox::activated, this,
          [this](int Index) { SetTopHz(FRange->itemData(Index).toDouble()); });
}

void TSpectrogramView::AddBlock(double Time, const double* Power, const TFormants& Formants) {
  FCore.Add(Time, Power, Formants);
  // The picture moves left by the new strip, which alone is drawn; the axes
  // stay as they are.
  const int strip = FCore.LastStrip();
  const QRect plot = PlotRect();
  if (strip <= 0) return;
  // Names drawn across strips would be cut by a scroll: the whole picture.
  if (strip < plot.width() && FMarks.empty())
    scroll(-strip, 0, plot);
  else
    update(plot);
}

void TSpectrogramView::Clear() {
  FCore.Clear();
  update(PlotRect());
}

void TSpectrogramView::SetTopHz(double Hz) {
  const double before = FCore.TopHz();
  // Only the listed ranges (a remembered value may be anything).
  int index = FRange->findData(Hz);
  if (index < 0) index = FRange->findData(CLiveSpectrogram::DefaultTopHz);
  FRange->setCurrentIndex(index);
  FCore.SetTopHz(FRange->itemData(index).toDouble());
  if (FCore.TopHz() == before) return;
  MakeAxes();
  update();
  emit TopHzChanged(FCore.TopHz());
}

QRect TSpectrogramView::PlotRect() const {
  return QRect(Left, Top, std::max(1, width() - Left - Right),
               std::max(1, height() - Top - Bottom));
}

double TSpectrogramView::TimeAt(QPoint Point) const noexcept {
  const QRect plot = PlotRect();
  if (!plot.contains(Point)) return std::nan("");
  return FCore.TimeAtX(Point.x() - plot.left());
}

void TSpectrogramView::SetMarks(std::vector<TSpectrogramMark> Marks) {
  std::sort(Marks.begin(), Marks.end(),
            [](const TSpectrogramMark& a, const TSpectrogramMark& b) { return a.Time < b.Time; });
  FMarks = std::move(Marks);
  update(PlotRect());
}

double TSpectrogramView::XOfTime(double Time) const noexcept {
  // A mark belongs to the column of the block it falls in: the last column
  // at or before it, with the next column (or a block on) after it.
  const int w = FCore.Width();
  const double block = double(BlockFrames) / SampleRate;
  for (int x = w - 1; x >= 0; --x) {
    const double t = FCore.TimeAtX(x);
    if (std::isnan(t)) continue;
    const double next = x + 1 < w ? FCore.TimeAtX(x + 1) : t + block;
    const double end = next > t && next - t <= 4 * block ? next : t + block;
    if (Time >= t && Time < end) return PlotRect().left() + x + 0.5;
  }
  return std::nan("");
}

void TSpectrogramView::mousePressEvent(QMouseEvent* Event) {
  const double t = TimeAt(Event->position().toPoint());
  if (Event->button() == Qt::LeftButton && std::isfinite(t)) {
    emit TimeClicked(t);
    return;
  }
  QWidget::mousePressEvent(Event);
}

void TSpectrogramView::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  const QRect plot = PlotRect();
  FCore.Resize(plot.width(), plot.height());
  FRange->adjustSize();
  FRange->move(Left, (Top - FRange->height()) / 2);
  MakeAxes();
}

void TSpectrogramView::MakeAxes() {
  const qreal ratio = devicePixelRatioF();
  FAxes = QImage((QSizeF(size()) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
  FAxes.setDevicePixelRatio(ratio);
  FAxes.fill(Paper);
  QPainter p(&FAxes);
  const QRect plot = PlotRect();
  const QFont font = AxisFont();
  const QFontMetricsF metrics(font);
  p.setFont(font);
  p.setPen(Ink);

  // Frequency: a round step that leaves room between the labels.
  const double top = FCore.TopHz();
  double step = 100;
  for (const double s : {100.0, 200.0, 250.0, 500.0, 1000.0, 2000.0, 2500.0}) {
    step = s;
    if (plot.height() * s / top >= metrics.height() + 4) break;
  }
  for (double hz = 0; hz <= top; hz += step) {
    const double y = plot.bottom() + 1 - hz / top * plot.height();
    p.drawLine(QPointF(plot.left() - 4, y), QPointF(plot.left(), y));
    p.drawText(QRectF(0, y - 8, Left - 7, 16), Qt::AlignRight | Qt::AlignVCenter,
               QString::number(RoundToInt32(hz)));
  }
  p.drawText(QRectF(4, 2, Left - 8, Top - 4), Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral("Hz"));

  // F0 on its own scale, in the colour of its line.
  p.setPen(F0Ink);
  for (const double hz : {50.0, 100.0, 200.0, 400.0, 800.0}) {
    const std::int32_t row = FCore.RowOfF0(hz);
    if (row < 0) continue;
    const double y = plot.top() + row + 0.5;
    p.drawLine(QPointF(plot.right() + 1, y), QPointF(plot.right() + 5, y));
    const double labelY = std::clamp(y - 8, double(plot.top()) - 4, plot.bottom() - 12.0);
    p.drawText(QRectF(plot.right() + 7, labelY, Right - 8, 16), Qt::AlignLeft | Qt::AlignVCenter,
               QString::number(RoundToInt32(hz)));
  }
  p.drawText(QRectF(plot.right() - 80, 2, Right + 76, Top - 4), Qt::AlignRight | Qt::AlignVCenter,
             QStringLiteral("F0 (Hz)"));

  // Seconds before the newest block, the newest at the right edge.
  p.setPen(Ink);
  const double seconds = FCore.Seconds();
  const double perSecond = plot.width() / seconds;
  const int every = perSecond >= 40 ? 1 : perSecond >= 20 ? 2 : 5;
  for (int s = 0; s <= seconds; s += every) {
    const double x = plot.right() + 1 - s * perSecond;
    p.drawLine(QPointF(x, plot.bottom() + 1), QPointF(x, plot.bottom() + 5));
    // The newest column's label ends at the edge rather than past it.
    if (s == 0)
      p.drawText(QRectF(x - 40, plot.bottom() + 4, 44, Bottom - 4),
                 Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("0 s"));
    else
      p.drawText(QRectF(x - 20, plot.bottom() + 4, 40, Bottom - 4), Qt::AlignCenter,
                 QString::number(-s));
  }
}

void TSpectrogramView::paintEvent(QPaintEvent* Event) {
  QPainter painter(this);
  const QRect plot = PlotRect();
  if (!plot.contains(Event->rect())) {
    const qreal ratio = FAxes.devicePixelRatio();
    for (const QRect& r : Event->region())
      painter.drawImage(
          QRectF(r), FAxes,
          QRectF(r.x() * ratio, r.y() * ratio, r.width() * ratio, r.height() * ratio));
  }
  // The ring in two pieces: from its origin to its end at the left, then
  // from its start up to the origin.
  const TBM32Info& ring = *FCore.Ring().Info;
  const QImage view(reinterpret_cast<const uchar*>(ring.Bits), ring.Width, ring.Height, ring.Stride,
                    QImage::Format_RGB32);
  const int origin = FCore.Origin();
  const int first = ring.Width - origin;
  painter.drawImage(QRect(plot.left(), plot.top(), first, ring.Height), view,
                    QRect(origin, 0, first, ring.Height));
  if (origin > 0)
    painter.drawImage(QRect(plot.left() + first, plot.top(), origin, ring.Height), view,
                      QRect(0, 0, origin, ring.Height));
  if (FMarks.empty()) return;
  painter.setClipRect(plot);
  painter.setFont(AxisFont());
  for (const TSpectrogramMark& m : FMarks) {
    const double x = XOfTime(m.Time);
    if (std::isnan(x)) continue;
    painter.setPen(QPen(QColor(255, 255, 255, 200), 1));
    painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
    if (m.Name.isEmpty()) continue;
    // Right of the line, or left of it near the newest edge.
    const double width = painter.fontMetrics().horizontalAdvance(m.Name) + 2;
    const bool left = x + 3 + width > plot.right();
    const QRectF label(left ? x - 3 - width : x + 3, plot.top() + 2, width, 14);
    painter.setPen(Qt::white);
    painter.drawText(label, (left ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop, m.Name);
  }
}

}  // namespace quenvis
