#pragma once
// The vowel chart window: the newest voiced estimate as a dot with a fading
// two-second trail over reference vowels, and a readout of F1, F2 and F0;
// below it, on the other sides of a splitter, the voice measures and the
// live spectrogram with the tracks.
#include <QImage>
#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "analysis/FormantTracker.h"
#include "analysis/VoiceMeasures.h"
#include "chartdraw/VowelChartPainter.h"
#include "chart/VowelPlane.h"

class QComboBox;
class QGridLayout;
class QLabel;
class QPushButton;
class QSplitter;
class QToolButton;

namespace quenvis {

class TChartTools;
class TMarkerControl;
class TTakeRecorder;
class TTakesList;
class TTimeline;

// One analysed block as the chart window takes it: the samples as captured,
// the spectrum the main window drew from them, and the estimator's result.
struct TChartBlock {
  const void* Samples = nullptr;  // BlockFrames interleaved stereo 16-bit frames
  std::int32_t Frames = 0;        // of them holding sound (a last block may be short)
  const double* Power = nullptr;  // FFTSize log10 power bins of this block
  TFormants Formants;
  // Stream time of the block in seconds; negative: one block after the last.
  double Time = -1;
  // The analysis settings' FScale and FOffset; a scale of 0 keeps the last.
  double PowerScale = 0, PowerOffset = 0;
  // The estimator's input at 22 050 and 11 025 Hz for this block, copied so
  // that the voice measures need not decimate it again (Decimated false:
  // they do).
  std::array<double, CFormantTracker::BlockFrames / 2> Rate2{};
  std::array<double, CFormantTracker::BlockFrames / 4> Rate4{};
  bool Decimated = false;
};

class TSpectrogramView;
class TVoicePanel;

class TVowelChart : public QWidget {
  Q_OBJECT

 public:
  // The trail: about two seconds of blocks.
  static constexpr int TrailBlocks = TVowelPlane::TrailBlocks;
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

  // A voice picks the reference vowels and fixes the estimator's ceiling;
  // "auto" (the default) shows the default voice's vowels and leaves the
  // ceiling to the estimator.
  void SetVoice(EVoice Voice);
  void SetAutomaticVoice();
  EVoice Voice() const noexcept { return Painter().Voice(); }
  std::optional<EVoice> FormantVoice() const noexcept { return FFormantVoice; }
  // Loads a reference set; on failure returns the message, shows it, and
  // keeps the chart as it was.
  QString LoadReferences(const QString& Path);
  void UseBuiltInReferences();
  const CVowelChartPainter& Painter() const noexcept;

  // The plane as the window shows it, at the screen's pixel density.
  QImage Render() const;
  // PNG, or SVG for a name ending in .svg: the plane with its caption.
  bool SaveImage(const QString& Path) const;
  // Ctrl+S after its dialog: saves as SaveImage does and, once saved,
  // remembers the folder for the next dialog and says so.
  bool SaveChart(const QString& Path);
  // The folder the save dialog starts in: that of the last chart saved,
  // else the takes' folder.
  QString SaveFolder() const;
  // What a saved chart is captioned with: the take playing and its time,
  // or the time of a live chart.
  QString Caption() const;
  // Comparison and targets.
  TChartTools& Tools() noexcept { return *FTools; }
  // The readout as shown (it follows the estimate every few blocks). Made
  // when painted: taking a block's estimate allocates nothing.
  QString Readout() const;

  // The newest voiced point still on the trail, if any.
  bool LatestPoint(double& F1, double& F2) const;

  // The parts of the window.
  TVowelPlane* Plane() const noexcept { return FPlane; }
  TSpectrogramView* Spectrogram() const noexcept { return FSpectrogram; }
  TVoicePanel* VoicePanel() const noexcept { return FVoicePanel; }

  // Takes: recording what the chart is given, and the timeline of a
  // recording being played (shown only then).
  TTakeRecorder& Takes() noexcept { return *FTakes; }
  TTimeline& Timeline() noexcept { return *FTimeline; }
  void ShowTimeline(bool Shown);
  // The file playing in the place of capture, named in the title (none when
  // empty); one that ends before its header said is called cut short.
  void SetPlayingName(const QString& Name, bool EndsEarly = false);
  // Record and R: starts or ends a take.
  void ToggleRecording();
  // Set by the main window: called as a take starts, it makes blocks come
  // (starts capture when it is stopped) and sets the analysis afresh, so
  // that the take's table is what quenvis-render writes for its file.
  // Returns an empty string, or why no blocks can come.
  std::function<QString()> PrepareTake;
  // The status line's text.
  QString Status() const;
  // Capture has ended (Why says how, when by itself): so does the take.
  void CaptureEnded(const QString& Why);
  // The latest message about takes (also shown in a box).
  QString TakeMessage() const { return FTakeMessage; }
  // M and Shift+M, and the take the markers go on.
  TMarkerControl& Markers() noexcept { return *FMarkerControl; }
  // Ctrl+T: the takes list, made on first use; F1: the keys.
  TTakesList& ShowTakesList();
  void ShowHelp();

 signals:
  // Open..., or a file dropped on the window.
  void openRequested(const QString& Path);
  // Space while a recording plays.
  void playPauseRequested();

 protected:
  void dragEnterEvent(QDragEnterEvent* Event) override;
  void dropEvent(QDropEvent* Event) override;
  void closeEvent(QCloseEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;

 private:
  void SaveWithDialog();
  void AskForReferences();
  void Remember() const;
  void AskForRecording();
  void UpdateRecordMark();
  void TakeProblem(const QString& Message);
  void BuildTakeSettings();
  void PlaceToolbar();

  bool FPaused = false;
  QString FReferencePath;
  TVowelPlane* FPlane;
  TSpectrogramView* FSpectrogram;
  TVoicePanel* FVoicePanel;
  // Measured on every block, shown unless paused.
  std::unique_ptr<CVoiceMeasures> FVoiceMeasures;
  QSplitter* FSplitter;
  double FNextTime = 0;  // stream time of a block that brings none
  QComboBox* FVoiceList;  // "auto", then the voices
  std::optional<EVoice> FFormantVoice;
  QPushButton* FLoad;
  QPushButton* FBuiltIn;
  QLabel* FStatus;
  TTakeRecorder* FTakes;
  QPushButton* FRecord;
  QLabel* FRecordMark;
  QPushButton* FOpen;
  QToolButton* FTakeSettings;
  TTimeline* FTimeline;
  TMarkerControl* FMarkerControl;
  TTakesList* FTakesList = nullptr;
  QWidget* FHelp = nullptr;
  QString FTakeMessage;
  int FShownSecond = -1;
  bool FPlaying = false;
  QWidget* FRefsBox;
  QWidget* FTakesBox;
  QGridLayout* FToolbar;
  bool FNarrowToolbar = false;  // a recording plays in the place of capture
  TChartTools* FTools;
  QString FPlayingName;
};

}  // namespace quenvis
