#include "chart/MarkerControl.h"

#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QWidget>

#include "chart/SonogramView.h"
#include "takes/TakeRecorder.h"
#include "takes/Timeline.h"

namespace quenvis {

TMarkerControl::TMarkerControl(QWidget& Window, TTakeRecorder& Takes, TTimeline& Timeline,
                               TSpectrogramView& Spectrogram)
    : QObject(&Window),
      FWindow(Window),
      FTakes(Takes),
      FTimeline(Timeline),
      FSpectrogram(Spectrogram),
      FMarkers(new TTakeMarkers(this)),
      FEditor(new QLineEdit(&Window)) {
  FEditor->setObjectName(QStringLiteral("markerName"));
  FEditor->setToolTip(
      QStringLiteral("The marker's name: Enter keeps it, Escape leaves it unnamed"));
  FEditor->hide();
  FEditor->installEventFilter(this);
  connect(FEditor, &QLineEdit::returnPressed, this, [this] { FinishEditing(true); });
  FTimeline.SetMarkers(FMarkers);
  connect(FMarkers, &TTakeMarkers::changed, this, &TMarkerControl::ShowMarks);
  connect(FMarkers, &TTakeMarkers::problem, this, [this](const QString& Message) {
    if (Tell) Tell(Message);
  });
  connect(&FTakes, &TTakeRecorder::stateChanged, this, &TMarkerControl::RecorderChanged);
  // A take that got no sound leaves no files: nor markers.
  connect(&FTakes, &TTakeRecorder::nothingKept, this, [this] {
    const QString sound = FTakes.LastPath();
    if (!QFileInfo::exists(sound)) {
      if (FMarkers->SoundPath() == sound) FMarkers->Close();
      QFile::remove(TTakeMarkers::PathFor(sound));
    }
  });
}

void TMarkerControl::Open(const QString& SoundPath, double Length) {
  FinishEditing(false);
  const QString error = FMarkers->Open(SoundPath, Length);
  if (!error.isEmpty() && Tell) Tell(error);
}

void TMarkerControl::PlayingOpened(const QString& SoundPath, double Length) {
  FPlayingPath = QFileInfo(SoundPath).absoluteFilePath();
  FPlayingLength = Length;
  if (!FTakes.Recording()) {
    FOrigin = 0;
    Open(FPlayingPath, Length);
  }
}

void TMarkerControl::PlayingClosed() {
  FPlayingPath.clear();
  if (!FTakes.Recording()) {
    FinishEditing(false);
    FMarkers->Close();
  }
}

void TMarkerControl::RecorderChanged() {
  if (FTakes.Recording()) {
    const QString path = QFileInfo(FTakes.LastPath()).absoluteFilePath();
    if (path == FRecordingPath) return;
    FRecordingPath = path;
    FOrigin = std::nan("");
    Open(path, 0);
    return;
  }
  if (FRecordingPath.isEmpty()) return;
  // The take is whole: its grid gets its length.
  FinishEditing(true);
  if (FMarkers->SoundPath() == FRecordingPath) {
    FMarkers->SetLength(FTakes.Elapsed());
    FMarkers->Save();
  }
  FRecordingPath.clear();
  if (!FPlayingPath.isEmpty()) {
    FOrigin = 0;
    Open(FPlayingPath, FPlayingLength);
  }
}

void TMarkerControl::Block(double StreamTime) {
  if (!FTakes.Recording() || !std::isnan(FOrigin)) return;
  FOrigin = StreamTime - FTakes.Elapsed();
  ShowMarks();
}

bool TMarkerControl::AddMarker() {
  double at = 0;
  if (FTakes.Recording() && FMarkers->SoundPath() == FRecordingPath) {
    at = FTakes.Elapsed();
    FMarkers->SetLength(at);
  } else if (!FPlayingPath.isEmpty() && FMarkers->IsOpen()) {
    at = FTimeline.Position();
  } else {
    if (Tell) Tell(QStringLiteral("Markers go on a take: record one (R) or open one (Ctrl+O)"));
    return false;
  }
  FinishEditing(true);
  if (!FMarkers->AddPoint(at)) {
    if (Tell) Tell(QStringLiteral("There is a marker there already"));
    return false;
  }
  // The time as it was kept (a time past the end is taken at the end).
  FEditFrom = at;
  double nearest = INFINITY;
  for (const TMarker& m : FMarkers->Points())
    if (std::abs(m.Time - at) < nearest) {
      nearest = std::abs(m.Time - at);
      FEditFrom = m.Time;
    }
  Edit(EEditing::Point,
       QStringLiteral("Marker at %1: its name (Enter keeps it, Escape leaves it unnamed)")
           .arg(TimelineTime(FEditFrom)));
  return true;
}

bool TMarkerControl::NameSelection() {
  const bool playing = !FTakes.Recording() && !FPlayingPath.isEmpty() && FMarkers->IsOpen();
  if (!playing || FTimeline.SelectionTo() - FTimeline.SelectionFrom() < TTakeMarkers::MinSpan) {
    if (Tell)
      Tell(QStringLiteral("To name a selection, open a take and drag with Shift on the timeline"));
    return false;
  }
  FinishEditing(true);
  FEditFrom = FTimeline.SelectionFrom();
  FEditTo = FTimeline.SelectionTo();
  Edit(EEditing::Span, QStringLiteral("Selection %1-%2: its name (Enter keeps it, Escape drops it)")
                           .arg(TimelineTime(FEditFrom), TimelineTime(FEditTo)));
  return true;
}

void TMarkerControl::Edit(EEditing What, const QString& Prompt) {
  FEditing = What;
  FEditor->clear();
  FEditor->setPlaceholderText(Prompt);
  PlaceEditor();
  FEditor->show();
  FEditor->raise();
  FEditor->setFocus(Qt::ShortcutFocusReason);
}

void TMarkerControl::PlaceEditor() {
  // Over the top of the spectrogram, where nothing needs a click meanwhile.
  const QPoint at = FSpectrogram.mapTo(&FWindow, QPoint(TSpectrogramView::Left, 2));
  const int width =
      std::max(200, FSpectrogram.width() - TSpectrogramView::Left - TSpectrogramView::Right);
  FEditor->setGeometry(at.x(), at.y(), width, FEditor->sizeHint().height());
}

void TMarkerControl::FinishEditing(bool Keep) {
  if (FEditing == EEditing::Nothing) return;
  const EEditing what = FEditing;
  FEditing = EEditing::Nothing;
  const QString name = FEditor->text().trimmed();
  FEditor->hide();
  FWindow.setFocus();
  if (what == EEditing::Point) {
    if (Keep && !name.isEmpty()) FMarkers->RenamePoint(FEditFrom, name);
  } else if (Keep && !name.isEmpty()) {
    FMarkers->AddSpan(FEditFrom, FEditTo, name);
  }
}

bool TMarkerControl::eventFilter(QObject* Watched, QEvent* Event) {
  if (Watched == FEditor) {
    if (Event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(Event)->key() == Qt::Key_Escape) {
      FinishEditing(false);
      return true;
    }
    // Clicking elsewhere keeps what was typed.
    if (Event->type() == QEvent::FocusOut && FEditing != EEditing::Nothing &&
        static_cast<QFocusEvent*>(Event)->reason() != Qt::PopupFocusReason)
      FinishEditing(true);
  }
  return QObject::eventFilter(Watched, Event);
}

void TMarkerControl::ShowMarks() {
  std::vector<TSpectrogramMark> marks;
  const double origin = std::isnan(FOrigin) ? 0.0 : FOrigin;
  if (FMarkers->IsOpen() && !(FTakes.Recording() && std::isnan(FOrigin))) {
    for (const TMarker& m : FMarkers->Points()) marks.push_back({origin + m.Time, m.Name});
    for (const TNamedSpan& s : FMarkers->Spans()) {
      marks.push_back({origin + s.From, s.Name});
      marks.push_back({origin + s.To, QString()});
    }
  }
  FSpectrogram.SetMarks(std::move(marks));
}

void TMarkerControl::TakeRenamed(const QString& OldSoundPath, const QString& NewSoundPath) {
  const QString from = QFileInfo(OldSoundPath).absoluteFilePath();
  if (FMarkers->SoundPath() == from)
    Open(QFileInfo(NewSoundPath).absoluteFilePath(), FMarkers->Length());
}

void TMarkerControl::TakeRemoved(const QString& SoundPath) {
  if (FMarkers->SoundPath() == QFileInfo(SoundPath).absoluteFilePath()) {
    FinishEditing(false);
    FMarkers->Close();
  }
}

}  // namespace quenvis
