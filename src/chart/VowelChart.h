#pragma once
// The vowel chart window: the newest voiced estimate as a dot with a fading
// two-second trail over reference vowels, and a readout of F1, F2 and F0.
#include <QImage>
#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>

#include "analysis/FormantTracker.h"
#include "chart/VowelChartPainter.h"

class QComboBox;
class QLabel;
class QPushButton;
class QToolButton;

namespace quenvis {

class TTakeRecorder;
class TTimeline;

// One block's estimate as the chart takes it.
struct TVowelEstimate {
  bool Voiced = false;
  double F0 = 0, F1 = 0, F2 = 0;  // Hz; F0 0 when unknown
};

// One analysed block as the chart window takes it: the samples as captured,
// the spectrum the main window drew from them, and the estimator's result.
struct TChartBlock {
  const void* Samples = nullptr;  // BlockFrames interleaved stereo 16-bit frames
  std::int32_t Frames = 0;        // of them holding sound (a last block may be short)
  const double* Power = nullptr;  // FFTSize log10 power bins of this block
  TFormants Formants;
};

class TVowelChart : public QWidget {
  Q_OBJECT

 public:
  // The trail: about two seconds of blocks.
  static constexpr int TrailBlocks = 43;
  // The chart lies below the toolbar, this many pixels down.
  static constexpr int ToolbarHeight = 30;

  explicit TVowelChart(QWidget* Parent = nullptr);
  ~TVowelChart() override;

  // One call per analysed block, in capture order.
  void AddBlock(const TChartBlock& Block);
  // The trail's part of a block; ignored while paused.
  void AddEstimate(const TVowelEstimate& Estimate);
  void SetPaused(bool Paused);
  bool Paused() const noexcept { return FPaused; }
  void ClearTrail();

  void SetVoice(EVoice Voice);
  EVoice Voice() const noexcept { return FPainter.Voice(); }
  // Loads a reference set; on failure returns the message, shows it, and
  // keeps the chart as it was.
  QString LoadReferences(const QString& Path);
  void UseBuiltInReferences();
  const CVowelChartPainter& Painter() const noexcept { return FPainter; }

  // The chart as the window shows it, at the screen's pixel density.
  QImage Render() const;
  bool SaveImage(const QString& Path) const;
  // Made when painted: taking a block's estimate allocates nothing.
  QString Readout() const {
    return ReadoutText(FLatest.Voiced, FLatest.F0, FLatest.F1, FLatest.F2);
  }

  // The newest voiced point still on the trail, if any.
  bool LatestPoint(double& F1, double& F2) const;

  // Takes: recording what the chart is given, and the timeline of a
  // recording being played (shown only then).
  TTakeRecorder& Takes() noexcept { return *FTakes; }
  TTimeline& Timeline() noexcept { return *FTimeline; }
  void ShowTimeline(bool Shown);
  // Record and R: starts or ends a take.
  void ToggleRecording();
  // Capture has ended (Why says how, when by itself): so does the take.
  void CaptureEnded(const QString& Why);
  // The latest message about takes (also shown in a box).
  QString TakeMessage() const { return FTakeMessage; }

 signals:
  // Open..., or a file dropped on the window.
  void openRequested(const QString& Path);
  // Space while a recording plays.
  void playPauseRequested();

 protected:
  void dragEnterEvent(QDragEnterEvent* Event) override;
  void dropEvent(QDropEvent* Event) override;
  void paintEvent(QPaintEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;
  void closeEvent(QCloseEvent* Event) override;

 private:
  struct TTrailPoint {
    bool Voiced = false;
    double F1 = 0, F2 = 0;
  };
  void SaveWithDialog();
  void AskForReferences();
  void PaintChart(QPainter& Painter, const QSizeF& Size) const;
  void Rebuild();
  void Remember() const;
  void AskForRecording();
  void UpdateRecordMark();
  void TakeProblem(const QString& Message);
  void BuildTakeSettings();
  int TimelineHeight() const;

  CVowelChartPainter FPainter;
  std::array<TTrailPoint, TrailBlocks> FTrail{};
  int FNewest = -1;  // index of the newest entry, -1 when empty
  bool FPaused = false;
  TVowelEstimate FLatest;
  QString FReferencePath;
  QImage FBackground;  // made on resize and on a change of voice or references
  QComboBox* FVoiceList;
  QPushButton* FLoad;
  QPushButton* FBuiltIn;
  QLabel* FStatus;
  TTakeRecorder* FTakes;
  QPushButton* FRecord;
  QLabel* FRecordMark;
  QPushButton* FOpen;
  QToolButton* FTakeSettings;
  TTimeline* FTimeline;
  QString FTakeMessage;
  int FShownSecond = -1;
};

}  // namespace quenvis
