#pragma once
// The chart window's voice measures: each as a large number with a short
// hint (what it means, which way is healthier) and a 10-second history strip
// under it, and F0 as a note. A value the latest block could not give (an
// unvoiced or too short stretch) stays, greyed.
#include <QImage>
#include <QPointF>
#include <QWidget>
#include <array>

#include "analysis/VoiceMeasures.h"

namespace quenvis {

class TVoicePanel : public QWidget {
 public:
  enum EMeasure { Cpps, Hnr, H1H2, Jitter, Shimmer, Vibrato, SingingPower, Alpha, Measures };
  // Ten seconds of blocks.
  static constexpr int HistoryBlocks =
      static_cast<int>(10 * CVoiceMeasures::SampleRate / CVoiceMeasures::BlockFrames) + 1;

  explicit TVoicePanel(QWidget* Parent = nullptr);

  // One block's measures and pitch (0 when unvoiced). Allocates nothing.
  void Add(const TVoice& Voice, double F0);
  void Clear();

  // The value shown (the latest known; NaN before any) and whether it is
  // greyed (the latest block did not give it).
  double Shown(EMeasure Measure) const noexcept { return FLast[Measure]; }
  bool Greyed(EMeasure Measure) const noexcept { return FGrey[Measure]; }
  QSize sizeHint() const override { return {800, 260}; }

 protected:
  void paintEvent(QPaintEvent* Event) override;

 private:
  QRectF TileBox(int Measure) const;
  static QRectF NumberBox(const QRectF& Tile);
  static QRectF StripBox(const QRectF& Tile);
  void PaintBackground();
  void PaintTile(class QPainter& Painter, const QRectF& Box, int Measure);

  QImage FBackground;
  QSize FBackgroundSize;
  std::array<QPointF, HistoryBlocks> FPoints{};

  std::array<std::array<float, HistoryBlocks>, Measures> FHistory{};
  int FNext = 0, FFilled = 0, FUnpainted = 0;
  std::array<double, Measures> FLast{};
  std::array<bool, Measures> FGrey{};
  double FVibratoCents = NoMeasure, FF0 = 0;
};

}  // namespace quenvis
