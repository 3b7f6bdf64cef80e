#pragma once
// Markers in the chart window: M drops one at the playhead (playing) or at
// the live time (recording, which wins when both), and a line under the
// spectrogram asks for its name: Enter keeps it, Escape leaves the marker
// unnamed. Shift+M names the timeline's selection: Enter keeps it as a
// named selection, Escape (or no name) drops it. They show on the timeline
// and the spectrogram and are kept beside the take as a TextGrid.
#include <QObject>
#include <QString>
#include <cmath>
#include <functional>

#include "takes/TakeMarkers.h"

class QLineEdit;
class QWidget;

namespace quenvis {

class TSpectrogramView;
class TTakeRecorder;
class TTimeline;

class TMarkerControl : public QObject {
  Q_OBJECT

 public:
  TMarkerControl(QWidget& Window, TTakeRecorder& Takes, TTimeline& Timeline,
                 TSpectrogramView& Spectrogram);

  TTakeMarkers& Markers() noexcept { return *FMarkers; }
  QLineEdit& NameEditor() noexcept { return *FEditor; }
  // Messages for the status line.
  std::function<void(const QString&)> Tell;

  // A recording plays (Length seconds) or no longer does.
  void PlayingOpened(const QString& SoundPath, double Length);
  void PlayingClosed();
  const QString& PlayingPath() const noexcept { return FPlayingPath; }
  // Each block's stream time, before the take (if any) gets it.
  void Block(double StreamTime);
  // M and Shift+M. False (having said why) when there is nothing to mark.
  bool AddMarker();
  bool NameSelection();
  // A take's files were renamed or went to the trash from the takes list.
  void TakeRenamed(const QString& OldSoundPath, const QString& NewSoundPath);
  void TakeRemoved(const QString& SoundPath);

 protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override;

 private:
  enum class EEditing { Nothing, Point, Span };
  void RecorderChanged();
  void Open(const QString& SoundPath, double Length);
  void ShowMarks();
  void Edit(EEditing What, const QString& Prompt);
  void FinishEditing(bool Keep);
  void PlaceEditor();

  QWidget& FWindow;
  TTakeRecorder& FTakes;
  TTimeline& FTimeline;
  TSpectrogramView& FSpectrogram;
  TTakeMarkers* FMarkers;
  QLineEdit* FEditor;
  QString FPlayingPath;
  double FPlayingLength = 0;
  QString FRecordingPath;  // the take being recorded, if any
  // Stream time of the take's start: 0 for a recording played, the first
  // block's time for a take; NaN until that block comes.
  double FOrigin = 0;
  EEditing FEditing = EEditing::Nothing;
  double FEditFrom = 0, FEditTo = 0;
};

}  // namespace quenvis
