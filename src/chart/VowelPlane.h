#pragma once
// The vowel chart's plane: reference vowels, the newest voiced estimate as a
// dot with a fading two-second trail, and the readout under it. Repaints
// only what a block changes: the new dot, the dots whose shade changes and
// the readout, over a cached background.
#include <QFont>
#include <QImage>
#include <QWidget>
#include <array>
#include <functional>

#include "chartdraw/TargetVowels.h"
#include "chartdraw/VowelChartPainter.h"
#include "takes/Comparison.h"

namespace quenvis {

// One block's estimate as the chart takes it.
struct TVowelEstimate {
  bool Voiced = false;
  double F0 = 0, F1 = 0, F2 = 0;  // Hz; F0 0 when unknown
  bool Clipped = false;           // a voice too loud for its formants
};

class TVowelPlane : public QWidget {
  Q_OBJECT

 public:
  // The trail: about two seconds of blocks.
  static constexpr int TrailBlocks = 43;
  // Blocks between two shades of a trail dot.
  static constexpr int FadeStep = 4;
  // The readout's figures change at most every this many blocks (7 a second).
  static constexpr int ReadoutEvery = 3;

  explicit TVowelPlane(QWidget* Parent = nullptr);

  CVowelChartPainter& Painter() noexcept { return FPainter; }
  const CVowelChartPainter& Painter() const noexcept { return FPainter; }
  // After a change of voice or references.
  void Rebuild();

  void AddEstimate(const TVowelEstimate& Estimate);
  void ClearTrail();
  bool LatestPoint(double& F1, double& F2) const;
  // The estimate the readout shows.
  const TVowelEstimate& Shown() const noexcept { return FShown; }

  // The plane as shown, at the screen's pixel density.
  QImage Render() const;
  // Everything the plane shows, with a caption (the take and the time) in
  // its top left corner: for saving.
  void PaintAll(QPainter& Painter, const QString& Caption) const;

  // A take shown behind the trail. Load returns an empty string or why the
  // take cannot be shown (the plane then stays as it was).
  QString LoadComparison(const QString& Path);
  void ClearComparison();
  const CComparison& Comparison() const noexcept { return FComparison; }

  // Target vowels: Ctrl+click adds one, a right click on one removes it.
  const CTargetVowels& Targets() const noexcept { return FTargets; }
  // Edits the targets and shows them.
  void EditTargets(const std::function<void(CTargetVowels&)>& Edit);
  // The target under the pointer, else the newest, goes.
  void RemoveTargetUnderPointer();
  // The distance from the shown estimate to the nearest target.
  QString TargetNote() const;

 signals:
  // The user added or removed targets on the plane.
  void targetsEdited();

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;

 private:
  // The background with the comparison and targets on it.
  void PaintBase(QPainter& Painter, const QSizeF& Size) const;
  void ComposeTargets();
  struct TTrailPoint {
    bool Voiced = false;
    double F1 = 0, F2 = 0;
  };
  const TTrailPoint& AtAge(int Age) const noexcept {
    return FTrail[static_cast<std::size_t>((FNewest - Age + TrailBlocks) % TrailBlocks)];
  }
  void Paint(QPainter& Painter, const QSizeF& Size) const;
  // The trail's dots, all of them or those meeting Only.
  void PaintDots(QPainter& Painter, const CChartScale& Scale, const QRegion* Only) const;
  // What a dot of the trail covers, newest or not.
  QRect DotRect(const CChartScale& Scale, const TTrailPoint& Point) const;
  QRect ReadoutRect() const;

  CVowelChartPainter FPainter;
  std::array<TTrailPoint, TrailBlocks> FTrail{};
  mutable std::array<QImage, TrailBlocks> FDots;  // prepared for FDotsRatio
  mutable qreal FDotsRatio = 0;
  QSize FReadoutSize;
  QFont FReadoutFont;
  int FNewest = -1;  // index of the newest entry, -1 when empty
  TVowelEstimate FShown;
  int FSinceReadout = 0;  // blocks since the readout last changed
  // The references and the comparison, made on resize and on a change of
  // voice, references or comparison; the background is it with the targets.
  QImage FBase;
  QImage FBackground;
  CComparison FComparison;
  std::vector<TReferenceVowel> FClusteredFor;  // the references the comparison was grouped by
  CTargetVowels FTargets;
};

}  // namespace quenvis
