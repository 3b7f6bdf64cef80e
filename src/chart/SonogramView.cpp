#include "chart/SonogramView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include <QSettings>

#include "analysis/Common.h"
#include "chartdraw/NoteGrid.h"

namespace quenvis {

namespace {

const QColor Paper(252, 252, 248);
const QColor Ink(60, 60, 60);
const QColor F0Ink(0, 120, 150);
const QColor TargetInk(230, 130, 20);
const QString NoteGridKey = QStringLiteral("chart/noteGrid");
const QString TargetNoteKey = QStringLiteral("chart/targetNote");

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

  FNotes = new QCheckBox(QStringLiteral("Notes"), this);
  FNotes->setFocusPolicy(Qt::NoFocus);
  FNotes->setToolTip(QStringLiteral("Note names as lines on the F0 scale"));
  FTarget = new QComboBox(this);
  FTarget->setFocusPolicy(Qt::NoFocus);
  FTarget->setToolTip(QStringLiteral("A target pitch, drawn as an orange line"));
  FTarget->addItem(QStringLiteral("No target pitch"), -1);
  for (int m = LowestTarget; m <= HighestTarget; ++m)
    FTarget->addItem(QStringLiteral("Target %1 (%2 Hz)")
                         .arg(QString::fromStdString(NoteLabel(m)))
                         .arg(RoundToInt32(NoteHz(m))),
                     m);
  const QSettings settings;
  FNoteGrid = settings.value(NoteGridKey, false).toBool();
  FNotes->setChecked(FNoteGrid);
  SetTargetNote(settings.value(TargetNoteKey, -1).toInt());
  connect(FNotes, &QCheckBox::toggled, this, [this](bool On) { SetNoteGrid(On); });
  connect(FTarget, &QComboBox::activated, this,
          [this](int Index) { SetTargetNote(FTarget->itemData(Index).toInt()); });
}

void TSpectrogramView::SetNoteGrid(bool Shown) {
  FNotes->setChecked(Shown);
  if (Shown == FNoteGrid) return;
  FNoteGrid = Shown;
  RememberNotes();
  MakeAxes();
  update();
}

void TSpectrogramView::SetTargetNote(int Midi) {
  // Only the listed notes (a remembered value may be anything).
  const int index = std::max(0, FTarget->findData(Midi));
  FTarget->setCurrentIndex(index);
  const int note = FTarget->itemData(index).toInt();
  if (note == FTargetNote) return;
  FTargetNote = note;
  RememberNotes();
  MakeAxes();
  update();
}

void TSpectrogramView::RememberNotes() const {
  QSettings settings;
  settings.setValue(NoteGridKey, FNoteGrid);
  settings.setValue(TargetNoteKey, FTargetNote);
}

void TSpectrogramView::PlaceControls() {
  FRange->adjustSize();
  FRange->move(Left, (Top - FRange->height()) / 2);
  FNotes->adjustSize();
  FNotes->move(FRange->geometry().right() + 10, (Top - FNotes->height()) / 2);
  FTarget->adjustSize();
  FTarget->move(FNotes->geometry().right() + 8, (Top - FTarget->height()) / 2);
  // In a narrow window the F0 scale's title keeps its place: what does not
  // fit before it is hidden.
  const int room = width() - 70;
  FTarget->setVisible(FTarget->geometry().right() < room);
  FNotes->setVisible(FNotes->geometry().right() < room);
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
  PlaceControls();
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

  // F0 on its own scale, in the colour of its line: in hertz, or as the
  // notes whose lines cross the picture.
  p.setPen(F0Ink);
  const auto label = [&](double Hz, const QString& Text) {
    const std::int32_t row = FCore.RowOfF0(Hz);
    if (row < 0) return;
    const double y = plot.top() + row + 0.5;
    p.drawLine(QPointF(plot.right() + 1, y), QPointF(plot.right() + 5, y));
    const double labelY = std::clamp(y - 8, double(plot.top()) - 4, plot.bottom() - 12.0);
    p.drawText(QRectF(plot.right() + 7, labelY, Right - 8, 16), Qt::AlignLeft | Qt::AlignVCenter,
               Text);
  };
  FGridRows.clear();
  if (FNoteGrid) {
    const double perOctave = FCore.Height() / std::log2(CLiveSpectrogram::F0HighHz /
                                                        CLiveSpectrogram::F0LowHz);
    for (const TNoteLine& n :
         quenvis::NoteGrid(CLiveSpectrogram::F0LowHz, CLiveSpectrogram::F0HighHz, perOctave)) {
      const std::int32_t row = FCore.RowOfF0(n.Hz);
      if (row >= 0) FGridRows.push_back({row, n.Octave});
      if (!n.Label.empty()) label(n.Hz, QString::fromStdString(n.Label));
    }
  } else {
    for (const double hz : {50.0, 100.0, 200.0, 400.0, 800.0})
      label(hz, QString::number(RoundToInt32(hz)));
  }
  if (FTargetNote >= 0) {
    p.setPen(TargetInk);
    label(NoteHz(FTargetNote), QString::fromStdString(NoteLabel(FTargetNote)));
    p.setPen(F0Ink);
  }
  p.drawText(QRectF(plot.right() - 80, 2, Right + 76, Top - 4), Qt::AlignRight | Qt::AlignVCenter,
             FNoteGrid ? QStringLiteral("F0 (note)") : QStringLiteral("F0 (Hz)"));

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

  // The note lines and the target pitch over the picture: across its whole
  // width, so a scrolled picture keeps them where they are.
  if (!FGridRows.empty() || FTargetNote >= 0) {
    painter.save();
    painter.setClipRegion(Event->region().intersected(plot));
    for (const TGridRow& g : FGridRows) {
      painter.setPen(QPen(QColor(255, 255, 255, g.Octave ? 110 : 45), 1));
      const double y = plot.top() + g.Row + 0.5;
      painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right() + 1, y));
    }
    if (FTargetNote >= 0) {
      const std::int32_t row = FCore.RowOfF0(NoteHz(FTargetNote));
      if (row >= 0) {
        painter.setPen(QPen(TargetInk, 2));
        const double y = plot.top() + row + 0.5;
        painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right() + 1, y));
      }
    }
    painter.restore();
  }
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
