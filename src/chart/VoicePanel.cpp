#include "chart/VoicePanel.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <limits>

#include "chartdraw/NoteName.h"

namespace quenvis {

namespace {

struct TTile {
  const char* Title;
  const char* Unit;
  int Decimals;
  const char* Hint;
};
constexpr std::array<TTile, TVoicePanel::Measures> Tiles{{
    {"CPPS", "dB", 1, "higher: clearer voice (on /a/, below about 14.5 dB: dysphonic)"},
    {"HNR", "dB", 1, "harmonics to noise; higher: less hoarse or breathy"},
    {"H1*-H2*", "dB", 1, "corrected for F1, F2; higher: breathier, lower: pressed"},
    {"Jitter", "%", 2, "lower: steadier pitch (on straight tones only)"},
    {"Shimmer", "%", 1, "lower: steadier loudness (on straight tones only)"},
    {"Vibrato", "Hz", 1, "a regular swing of the pitch; sung vibrato is mostly 5-7 Hz"},
    {"SPR", "dB", 1, "2-4 kHz against 0-2 kHz; nearer 0 dB: more ring"},
    {"Alpha", "dB", 1, "1-5 kHz against below 1 kHz; higher: brighter, louder"},
}};

constexpr float Unknown = std::numeric_limits<float>::quiet_NaN();

}  // namespace

TVoicePanel::TVoicePanel(QWidget* Parent) : QWidget(Parent) {
  setObjectName(QStringLiteral("VoicePanel"));
  setMinimumHeight(120);
  Clear();
}

void TVoicePanel::Clear() {
  for (auto& h : FHistory) h.fill(Unknown);
  FLast.fill(NoMeasure);
  FGrey.fill(true);
  FNext = FFilled = 0;
  FVibratoCents = NoMeasure;
  FF0 = 0;
  update();
}

void TVoicePanel::Add(const TVoice& V, double F0) {
  const std::array<double, Measures> now{
      V.Cpps,       V.Hnr,       V.H1H2Corrected,     V.JitterPct,
      V.ShimmerPct, V.VibratoHz, V.SingingPowerRatio, V.AlphaRatio};
  for (std::size_t m = 0; m < Measures; ++m) {
    const bool known = Measured(now[m]);
    FHistory[m][static_cast<std::size_t>(FNext)] = known ? static_cast<float>(now[m]) : Unknown;
    FGrey[m] = !known;
    if (known) FLast[m] = now[m];
  }
  if (Measured(V.VibratoCents)) FVibratoCents = V.VibratoCents;
  FF0 = F0 > 0 ? F0 : 0.0;
  FNext = (FNext + 1) % HistoryBlocks;
  FFilled = std::min(FFilled + 1, HistoryBlocks);
  // Ten repaints a second are enough to read numbers by, at half the cost.
  if (++FUnpainted >= 2) {
    FUnpainted = 0;
    update();
  }
}

namespace {
constexpr double Head = 22;  // the F0 line's height
constexpr int Columns = 4, Rows = 2;
}  // namespace

QRectF TVoicePanel::TileBox(int M) const {
  const double w = width() / double(Columns), h = (height() - Head) / Rows;
  return QRectF((M % Columns) * w, Head + (M / Columns) * h, w, h).adjusted(3, 3, -3, -3);
}

QRectF TVoicePanel::NumberBox(const QRectF& Box) {
  return {Box.left() + 6, Box.top() + 14, Box.width() - 12, Box.height() * 0.32};
}

QRectF TVoicePanel::StripBox(const QRectF& Box) {
  const QRectF n = NumberBox(Box);
  return {Box.left() + 6, n.bottom() + 2, Box.width() - 12, Box.height() * 0.22};
}

// What does not change from block to block: the tiles, their titles, hints
// and strip frames, painted once per size.
void TVoicePanel::PaintBackground() {
  const qreal ratio = devicePixelRatioF();
  FBackground = QImage((QSizeF(size()) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
  FBackground.setDevicePixelRatio(ratio);
  FBackgroundSize = size();
  QPainter p(&FBackground);
  p.fillRect(rect(), QColor(24, 24, 28));
  QFont font = this->font();
  for (int m = 0; m < Measures; ++m) {
    const TTile& tile = Tiles[static_cast<std::size_t>(m)];
    const QRectF box = TileBox(m), strip = StripBox(box);
    p.fillRect(box, QColor(36, 36, 42));
    font.setPointSizeF(9);
    p.setFont(font);
    p.setPen(QColor(170, 170, 180));
    p.drawText(box.adjusted(6, 2, -6, 0), Qt::AlignTop | Qt::AlignLeft,
               QString::fromLatin1(tile.Title));
    p.setPen(QColor(60, 60, 70));
    p.drawRect(strip);
    font.setPointSizeF(7.5);
    p.setFont(font);
    p.setPen(QColor(150, 150, 150));
    p.drawText(QRectF(box.left() + 6, strip.bottom() + 2, box.width() - 12,
                      box.bottom() - strip.bottom() - 2),
               Qt::AlignTop | Qt::AlignLeft | Qt::TextWordWrap, QString::fromLatin1(tile.Hint));
  }
}

void TVoicePanel::paintEvent(QPaintEvent* /*Event*/) {
  if (FBackgroundSize != size() || FBackground.devicePixelRatio() != devicePixelRatioF())
    PaintBackground();
  QPainter p(this);
  p.drawImage(QPointF(0, 0), FBackground);
  QFont font = p.font();
  font.setPointSizeF(10);
  p.setFont(font);
  p.setPen(QColor(220, 220, 220));
  const QString f0 = FF0 > 0 ? QStringLiteral("F0 %1 Hz  %2")
                                   .arg(FF0, 0, 'f', 1)
                                   .arg(QString::fromStdString(NoteName(FF0)))
                             : QStringLiteral("F0 -");
  p.drawText(QRectF(8, 0, width() - 16, Head), Qt::AlignVCenter | Qt::AlignLeft, f0);
  // The numbers, as large as the tiles allow.
  font.setPointSizeF(std::clamp(NumberBox(TileBox(0)).height() * 0.45, 8.0, 28.0));
  font.setBold(true);
  p.setFont(font);
  for (int m = 0; m < Measures; ++m) PaintTile(p, TileBox(m), m);
}

void TVoicePanel::PaintTile(QPainter& p, const QRectF& Box, int M) {
  const TTile& tile = Tiles[static_cast<std::size_t>(M)];
  const bool grey = FGrey[static_cast<std::size_t>(M)];
  const double value = FLast[static_cast<std::size_t>(M)];
  QString number =
      Measured(value) ? QString::number(value, 'f', tile.Decimals) : QStringLiteral("-");
  number += QStringLiteral(" ") + QString::fromUtf8(tile.Unit);
  if (M == Vibrato && Measured(value) && Measured(FVibratoCents))
    number += QStringLiteral(" \u00B1%1 c").arg(FVibratoCents, 0, 'f', 0);
  p.setPen(grey ? QColor(110, 110, 110) : QColor(240, 240, 240));
  p.drawText(NumberBox(Box), Qt::AlignVCenter | Qt::AlignLeft, number);
  // The strip: the last ten seconds, scaled to what they hold; a gap where
  // a block gave nothing.
  const QRectF strip = StripBox(Box);
  const auto& h = FHistory[static_cast<std::size_t>(M)];
  float lo = std::numeric_limits<float>::max(), hi = -lo;
  for (const float v : h)
    if (std::isfinite(v)) lo = std::min(lo, v), hi = std::max(hi, v);
  if (hi < lo) return;
  if (hi - lo < 1e-3f) hi = lo + 1, lo -= 1;
  p.setPen(QPen(grey ? QColor(90, 110, 130) : QColor(90, 180, 255), 0));
  int run = 0;
  for (int i = 0; i <= FFilled; ++i) {
    const int at = (FNext - FFilled + i + HistoryBlocks) % HistoryBlocks;
    const float v = i < FFilled ? h[static_cast<std::size_t>(at)] : Unknown;
    if (std::isfinite(v)) {
      FPoints[static_cast<std::size_t>(run++)] = QPointF(
          strip.left() + strip.width() * (HistoryBlocks - FFilled + i) / (HistoryBlocks - 1),
          strip.bottom() - strip.height() * (v - lo) / (hi - lo));
      continue;
    }
    if (run > 1) p.drawPolyline(FPoints.data(), run);
    run = 0;
  }
}

}  // namespace quenvis
