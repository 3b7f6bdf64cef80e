#pragma once
// The markers of one take: named moments and named stretches, kept beside
// the take as a Praat TextGrid (<stem>.TextGrid: a point tier "markers" and
// an interval tier "selections") and written again, whole, on every change.
// Tiers of the file that are not these two are written back as they were.
#include <QObject>
#include <QString>
#include <vector>

#include "io/TextGrid.h"

namespace quenvis {

struct TMarker {
  double Time = 0;
  QString Name;
};

struct TNamedSpan {
  double From = 0, To = 0;
  QString Name;
};

class TTakeMarkers : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* PointTier = "markers";
  static constexpr const char* SpanTier = "selections";
  // A stretch shorter than this is a slip of the mouse, not a selection.
  static constexpr double MinSpan = 0.01;

  explicit TTakeMarkers(QObject* Parent = nullptr);

  // <stem>.TextGrid beside a take's sound file.
  static QString PathFor(const QString& SoundPath);

  // Takes up the markers of the take SoundPath, Length seconds long (0
  // while it is being recorded). Returns an empty string, or why its
  // TextGrid could not be read: then the markers are shown but never
  // written over that file.
  QString Open(const QString& SoundPath, double Length);
  void Close();
  bool IsOpen() const noexcept { return !FSoundPath.isEmpty(); }
  const QString& SoundPath() const noexcept { return FSoundPath; }
  double Length() const noexcept { return FLength; }
  // The take grows while it is recorded; Save writes the new length.
  void SetLength(double Seconds) noexcept;

  const std::vector<TMarker>& Points() const noexcept { return FPoints; }
  const std::vector<TNamedSpan>& Spans() const noexcept { return FSpans; }
  // Each returns false (and changes nothing) when it has nothing to do.
  // A time past the take's length is taken at its end.
  bool AddPoint(double Time, const QString& Name = {});
  bool RenamePoint(double Time, const QString& Name);
  bool RemovePoint(double Time);
  // A new stretch wins over the older ones it overlaps, which are cut back.
  bool AddSpan(double From, double To, const QString& Name);
  bool RenameSpan(double From, const QString& Name);
  bool RemoveSpan(double From);
  // Writes the TextGrid (when there has been a marker); false with
  // problem() emitted when it cannot.
  bool Save();
  // The grid as written.
  TTextGrid Grid() const;
  // The latest reason a TextGrid could not be read or written.
  const QString& Error() const noexcept { return FError; }

 signals:
  void changed();
  void problem(const QString& Message);

 private:
  void Changed();
  double Clamp(double Time) const noexcept;

  QString FSoundPath;
  double FLength = 0;
  std::vector<TMarker> FPoints;    // by time
  std::vector<TNamedSpan> FSpans;  // by time, not overlapping
  std::vector<TTier> FOtherTiers;
  bool FKept = false;      // its TextGrid exists or is to be written
  bool FReadOnly = false;  // its TextGrid is unreadable: left alone
  QString FError;
};

}  // namespace quenvis
