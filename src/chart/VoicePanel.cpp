#include "chart/VoicePanel.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <limits>

#include "chart/NoteName.h"

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
  update();
}

void TVoicePanel::paintEvent(QPaintEvent* /*Event*/) {
  QPainter p(this);
  p.fillRect(rect(), QColor(24, 24, 28));
  p.setRenderHint(QPainter::Antialiasing);
  const double head = 22;
  QFont font = p.font();
  font.setPointSizeF(10);
  p.setFont(font);
  p.setPen(QColor(220, 220, 220));
  const std::string note = FF0 > 0 ? NoteName(FF0) : std::string();
  const QString f0 = FF0 > 0 ? QStringLiteral("F0 %1 Hz  %2")
                                   .arg(FF0, 0, 'f', 1)
                                   .arg(QString::fromStdString(note))
                             : QStringLiteral("F0 -");
  p.drawText(QRectF(8, 0, width() - 16, head), Qt::AlignVCenter | Qt::AlignLeft, f0);
  constexpr int columns = 4, rows = 2;
  const double w = width() / double(columns), h = (height() - head) / rows;
  for (int m = 0; m < Measures; ++m)
    PaintTile(p, QRectF((m % columns) * w, head + (m / columns) * h, w, h).adjusted(3, 3, -3, -3), m);
}

void TVoicePanel::PaintTile(QPainter& p, const QRectF& Box, int M) const {
  const TTile& tile = Tiles[static_cast<std::size_t>(M)];
  p.fillRect(Box, QColor(36, 36, 42));
  const bool grey = FGrey[static_cast<std::size_t>(M)];
  const QColor text = grey ? QColor(110, 110, 110) : QColor(240, 240, 240);
  QFont font = p.font();
  font.setPointSizeF(9);
  p.setFont(font);
  p.setPen(QColor(170, 170, 180));
  p.drawText(Box.adjusted(6, 2, -6, 0), Qt::AlignTop | Qt::AlignLeft, QString::fromLatin1(tile.Title));
  // The number, as large as the tile allows.
  const double value = FLast[static_cast<std::size_t>(M)];
  QString number = Measured(value) ? QString::number(value, 'f', tile.Decimals) : QStringLiteral("-");
  number += QStringLiteral(" ") + QString::fromUtf8(tile.Unit);
  if (M == Vibrato && Measured(value) && Measured(FVibratoCents))
    number += QStringLiteral(" \u00B1%1 c").arg(FVibratoCents, 0, 'f', 0);
  const QRectF numberBox(Box.left() + 6, Box.top() + 14, Box.width() - 12, Box.height() * 0.32);
  font.setPointSizeF(std::clamp(numberBox.height() * 0.45, 8.0, 28.0));
  font.setBold(true);
  p.setFont(font);
  p.setPen(text);
  p.drawText(numberBox, Qt::AlignVCenter | Qt::AlignLeft, number);
  // The strip: the last ten seconds, scaled to what they hold.
  const QRectF strip(Box.left() + 6, numberBox.bottom() + 2, Box.width() - 12, Box.height() * 0.22);
  const auto& h = FHistory[static_cast<std::size_t>(M)];
  float lo = std::numeric_limits<float>::max(), hi = -lo;
  for (const float v : h)
    if (std::isfinite(v)) lo = std::min(lo, v), hi = std::max(hi, v);
  p.setPen(QColor(60, 60, 70));
  p.drawRect(strip);
  if (hi >= lo) {
    if (hi - lo < 1e-3f) hi = lo + 1, lo -= 1;
    QPainterPath path;
    bool drawing = false;
    for (int i = 0; i < FFilled; ++i) {
      const int at = (FNext - FFilled + i + HistoryBlocks) % HistoryBlocks;
      const float v = h[static_cast<std::size_t>(at)];
      if (!std::isfinite(v)) {
        drawing = false;
        continue;
      }
      const QPointF pt(strip.left() + strip.width() * (HistoryBlocks - FFilled + i) / (HistoryBlocks - 1),
                       strip.bottom() - strip.height() * (v - lo) / (hi - lo));
      if (drawing)
        path.lineTo(pt);
      else
        path.moveTo(pt);
      drawing = true;
    }
    p.setPen(QPen(grey ? QColor(90, 110, 130) : QColor(90, 180, 255), 1.5));
    p.drawPath(path);
  }
  font.setBold(false);
  font.setPointSizeF(7.5);
  p.setFont(font);
  p.setPen(QColor(150, 150, 150));
  p.drawText(QRectF(Box.left() + 6, strip.bottom() + 2, Box.width() - 12, Box.bottom() - strip.bottom() - 2),
             Qt::AlignTop | Qt::AlignLeft | Qt::TextWordWrap, QString::fromLatin1(tile.Hint));
}

}  // namespace quenvis
