#pragma once
// The chart window's live spectrogram with its axes: frequency on the left,
// F0's own scale on the right, seconds before the newest block below, and a
// choice of the top frequency. Each block repaints only the picture; a click
// on it reports the stream time of the column under the pointer. A take's
// markers are thin lines over it, named at the top.
#include <QImage>
#include <QString>
#include <QWidget>
#include <vector>

#include "analysis/FormantTracker.h"
#include "display/LiveSonogram.h"

class QCheckBox;
class QComboBox;

namespace quenvis {

struct TSpectrogramMark {
  double Time = 0;  // stream time
  QString Name;
};

class TSpectrogramView : public QWidget {
  Q_OBJECT

 public:
  // The top frequencies offered, in Hz.
  static constexpr double TopChoices[] = {2500.0, 5000.0, 10000.0};
  static constexpr int Left = 48, Right = 44, Top = 26, Bottom = 20;

  explicit TSpectrogramView(QWidget* Parent = nullptr);

  // One analysed block: its stream time in seconds, its FFTSize log10 power
  // bins, and the estimator's result.
  void AddBlock(double Time, const double* Power, const TFormants& Formants);
  void Clear();
  // As the analysis settings' FScale and FOffset.
  void SetPowerScale(double Scale, double Offset) noexcept { FCore.SetPowerScale(Scale, Offset); }
  void SetTopHz(double Hz);
  double TopHz() const noexcept { return FCore.TopHz(); }
  // Note names as grid lines on F0's scale, and a target pitch line (a
  // MIDI note number, or -1 for none). Both are remembered.
  void SetNoteGrid(bool Shown);
  bool NoteGrid() const noexcept { return FNoteGrid; }
  void SetTargetNote(int Midi);
  int TargetNote() const noexcept { return FTargetNote; }
  // The notes offered as targets, as MIDI numbers: C2 to C6.
  static constexpr int LowestTarget = 36, HighestTarget = 84;

  const CLiveSpectrogram& Core() const noexcept { return FCore; }
  // Where the picture lies in the widget.
  QRect PlotRect() const;
  // The stream time of the column at a point of the widget; NaN off the
  // picture or where it is still empty.
  double TimeAt(QPoint Point) const noexcept;
  // The markers to draw, by stream time.
  void SetMarks(std::vector<TSpectrogramMark> Marks);
  // The x of each mark shown, in the widget, as last painted.
  const std::vector<TSpectrogramMark>& Marks() const noexcept { return FMarks; }
  double XOfTime(double Time) const noexcept;

 signals:
  // A click on the picture, with the clicked column's stream time.
  void TimeClicked(double Seconds);
  void TopHzChanged(double Hz);

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;

 private:
  void MakeAxes();
  void PlaceControls();
  void RememberNotes() const;

  CLiveSpectrogram FCore;
  QComboBox* FRange;
  QCheckBox* FNotes;
  QComboBox* FTarget;
  bool FNoteGrid = false;
  int FTargetNote = -1;
  struct TGridRow {
    int Row;
    bool Octave;
  };
  std::vector<TGridRow> FGridRows;  // the note lines' rows of the picture, made with the axes
  QImage FAxes;  // everything but the picture, made on resize and on a new range
  std::vector<TSpectrogramMark> FMarks;
};

}  // namespace quenvis
