#pragma once
// The timeline of a recording being played: the position within its length,
// a selection to loop, and the speed. Click or drag to seek there; drag with
// Shift held to select. It only asks: the player answers by setting the
// position. The take's markers show as thin lines with their names above
// the bar, its named selections as bands below it; a right click on one
// offers to rename or remove it.
#include <QPointer>
#include <QString>
#include <QWidget>

class QComboBox;
class QLabel;

namespace quenvis {

class TTakeMarkers;

class TTimeline : public QWidget {
  Q_OBJECT

 public:
  static constexpr double StepSeconds = 5.0;
  // The speeds offered, fastest first.
  static constexpr double Speeds[] = {1.0, 0.5, 0.25};

  explicit TTimeline(QWidget* Parent = nullptr);

  void SetLength(double Seconds);
  void SetPosition(double Seconds);
  void SetPaused(bool Paused);
  // Times the sound ran dry while playing: shown when any.
  void SetDropouts(long long Count);
  double Length() const noexcept { return FLength; }
  double Position() const noexcept { return FPosition; }
  bool Looping() const noexcept { return FLoop; }
  // The selection, From < To, or none (From == To).
  double SelectionFrom() const noexcept { return FFrom; }
  double SelectionTo() const noexcept { return FTo; }
  void Select(double From, double To);
  double Speed() const noexcept;
  // The time, the selection and the state as shown.
  QString Text() const;
  void SetSpeed(double Speed);

  // Seconds for a place on the bar.
  double TimeAt(double X) const noexcept;
  double XOf(double Seconds) const noexcept;
  QRectF BarRect() const;

  // The markers drawn over the bar (none when null); not owned.
  void SetMarkers(TTakeMarkers* Markers);
  // The marker or named selection nearest X within a few pixels: its time
  // (a selection's start), or NaN.
  double MarkerAt(double X, bool& IsSpan) const noexcept;

 public slots:
  // Left/Right.
  void Step(double Seconds);
  // L: loops the selection, or the whole take without one; again stops.
  void ToggleLoop();

 signals:
  void seekRequested(double Seconds);
  void loopChanged(bool On, double From, double To);
  void speedChanged(double Speed);

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void contextMenuEvent(QContextMenuEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;

 private:
  void UpdateText();

  double FLength = 0, FPosition = 0;
  double FFrom = 0, FTo = 0;
  double FAnchor = -1;  // where a Shift-drag began, -1 when none
  bool FLoop = false;
  bool FPaused = false;
  long long FDropouts = 0;
  double FShownTenth = -1;
  QLabel* FTime;
  QComboBox* FSpeed;
  QPointer<TTakeMarkers> FMarkers;
};

// "1:05.3": minutes, seconds and tenths.
QString TimelineTime(double Seconds);

}  // namespace quenvis
