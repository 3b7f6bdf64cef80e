#include "takes/TakeMarkers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace quenvis {

TTakeMarkers::TTakeMarkers(QObject* Parent) : QObject(Parent) {}

QString TTakeMarkers::PathFor(const QString& SoundPath) {
  const QFileInfo info(SoundPath);
  return info.dir().filePath(info.completeBaseName() + QStringLiteral(".TextGrid"));
}

QString TTakeMarkers::Open(const QString& SoundPath, double Length) {
  Close();
  FSoundPath = SoundPath;
  FLength = std::max(0.0, Length);
  const QString path = PathFor(SoundPath);
  if (!QFileInfo::exists(path)) {
    emit changed();
    return {};
  }
  FKept = true;
  TTextGrid grid;
  if (const std::string e = ReadTextGrid(QFile::encodeName(path).toStdString(), grid); !e.empty()) {
    // Written over, whatever it holds would be lost.
    FReadOnly = true;
    FError = QString::fromStdString(e) +
             QStringLiteral(" (new markers are not saved; the file is left as it is)");
    emit changed();
    return FError;
  }
  bool havePoints = false, haveSpans = false;
  for (TTier& tier : grid.Tiers) {
    if (tier.Points && !havePoints && tier.Name == PointTier) {
      havePoints = true;
      for (const TInterval& i : tier.Items)
        FPoints.push_back({i.Start, QString::fromStdString(i.Text)});
    } else if (!tier.Points && !haveSpans && tier.Name == SpanTier) {
      haveSpans = true;
      for (const TInterval& i : tier.Items)
        if (!i.Text.empty()) FSpans.push_back({i.Start, i.End, QString::fromStdString(i.Text)});
    } else {
      FOtherTiers.push_back(std::move(tier));
    }
  }
  std::stable_sort(FPoints.begin(), FPoints.end(),
                   [](const TMarker& a, const TMarker& b) { return a.Time < b.Time; });
  if (FLength <= 0) FLength = grid.End;
  emit changed();
  return {};
}

void TTakeMarkers::Close() {
  FSoundPath.clear();
  FLength = 0;
  FPoints.clear();
  FSpans.clear();
  FOtherTiers.clear();
  FKept = FReadOnly = false;
  FError.clear();
  emit changed();
}

void TTakeMarkers::SetLength(double Seconds) noexcept { FLength = std::max(FLength, Seconds); }

double TTakeMarkers::Clamp(double Time) const noexcept {
  return FLength > 0 ? std::clamp(Time, 0.0, FLength) : std::max(0.0, Time);
}

bool TTakeMarkers::AddPoint(double Time, const QString& Name) {
  if (!IsOpen() || !(Time == Time)) return false;
  const double t = Clamp(Time);
  const auto at = std::lower_bound(FPoints.begin(), FPoints.end(), t,
                                   [](const TMarker& m, double v) { return m.Time < v; });
  if (at != FPoints.end() && at->Time == t) return false;
  FPoints.insert(at, {t, Name});
  Changed();
  return true;
}

bool TTakeMarkers::RenamePoint(double Time, const QString& Name) {
  for (TMarker& m : FPoints)
    if (m.Time == Time) {
      if (m.Name == Name) return false;
      m.Name = Name;
      Changed();
      return true;
    }
  return false;
}

bool TTakeMarkers::RemovePoint(double Time) {
  const auto it = std::find_if(FPoints.begin(), FPoints.end(),
                               [Time](const TMarker& m) { return m.Time == Time; });
  if (it == FPoints.end()) return false;
  FPoints.erase(it);
  Changed();
  return true;
}

bool TTakeMarkers::AddSpan(double From, double To, const QString& Name) {
  if (!IsOpen() || !(From == From) || !(To == To) || Name.trimmed().isEmpty()) return false;
  const double f = Clamp(std::min(From, To)), t = Clamp(std::max(From, To));
  if (t - f < MinSpan) return false;
  std::vector<TNamedSpan> kept;
  kept.reserve(FSpans.size() + 2);
  for (const TNamedSpan& s : FSpans) {
    if (s.To <= f || s.From >= t) {
      kept.push_back(s);
      continue;
    }
    if (f - s.From >= MinSpan) kept.push_back({s.From, f, s.Name});
    if (s.To - t >= MinSpan) kept.push_back({t, s.To, s.Name});
  }
  kept.push_back({f, t, Name});
  std::sort(kept.begin(), kept.end(),
            [](const TNamedSpan& a, const TNamedSpan& b) { return a.From < b.From; });
  FSpans = std::move(kept);
  Changed();
  return true;
}

bool TTakeMarkers::RenameSpan(double From, const QString& Name) {
  if (Name.trimmed().isEmpty()) return RemoveSpan(From);
  for (TNamedSpan& s : FSpans)
    if (s.From == From) {
      if (s.Name == Name) return false;
      s.Name = Name;
      Changed();
      return true;
    }
  return false;
}

bool TTakeMarkers::RemoveSpan(double From) {
  const auto it = std::find_if(FSpans.begin(), FSpans.end(),
                               [From](const TNamedSpan& s) { return s.From == From; });
  if (it == FSpans.end()) return false;
  FSpans.erase(it);
  Changed();
  return true;
}

void TTakeMarkers::Changed() {
  FKept = true;
  Save();
  emit changed();
}

TTextGrid TTakeMarkers::Grid() const {
  TTextGrid grid;
  grid.End = FLength;
  TTier points{PointTier, true, {}};
  for (const TMarker& m : FPoints) {
    const std::string name = m.Name.toStdString();
    points.Items.push_back({m.Time, m.Time, name});
    grid.End = std::max(grid.End, m.Time);
  }
  TTier spans{SpanTier, false, {}};
  for (const TNamedSpan& s : FSpans) {
    spans.Items.push_back({s.From, s.To, s.Name.toStdString()});
    grid.End = std::max(grid.End, s.To);
  }
  grid.Tiers.push_back(std::move(points));
  grid.Tiers.push_back(std::move(spans));
  for (const TTier& tier : FOtherTiers) {
    grid.Tiers.push_back(tier);
    for (const TInterval& i : tier.Items) grid.End = std::max(grid.End, i.End);
  }
  return grid;
}

bool TTakeMarkers::Save() {
  if (!IsOpen()) return false;
  if (!FKept) return true;
  if (FReadOnly) {
    emit problem(FError);
    return false;
  }
  const std::string e = WriteTextGrid(QFile::encodeName(PathFor(FSoundPath)).toStdString(), Grid());
  if (e.empty()) {
    FError.clear();
    return true;
  }
  FError = QStringLiteral("Markers not saved: ") + QString::fromStdString(e);
  emit problem(FError);
  return false;
}

}  // namespace quenvis
