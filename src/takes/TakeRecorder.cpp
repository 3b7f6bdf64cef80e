#include "takes/TakeRecorder.h"

#include <QDateTime>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>

namespace quenvis {

TTakeRecorder::TTakeRecorder(QObject* Parent) : QObject(Parent) {}

TTakeRecorder::~TTakeRecorder() {
  // Each writer's destructor waits for its files; the events they post go
  // with this object.
  FCurrent.reset();
  FClosing.clear();
}

QString TTakeRecorder::DefaultFolder() {
  QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
  if (music.isEmpty()) music = QDir::homePath() + QStringLiteral("/Music");
  return music;
}

QString TTakeRecorder::Folder() const {
  const QString folder = QSettings().value(QStringLiteral("takes/folder")).toString();
  return folder.isEmpty() ? DefaultFolder() : folder;
}

void TTakeRecorder::SetFolder(const QString& Folder) {
  QSettings().setValue(QStringLiteral("takes/folder"), Folder);
}

ETakeFormat TTakeRecorder::Format() const {
  return QSettings().value(QStringLiteral("takes/format")).toString() == QStringLiteral("wav")
             ? ETakeFormat::Wav
             : ETakeFormat::Flac;
}

void TTakeRecorder::SetFormat(ETakeFormat Format) {
  QSettings().setValue(QStringLiteral("takes/format"),
                       Format == ETakeFormat::Wav ? QStringLiteral("wav") : QStringLiteral("flac"));
}

QString TTakeRecorder::Start() {
  if (FCurrent) return {};
  auto writer = std::make_unique<CTakeWriter>();
  writer->OnEvent = [this] {
    QMetaObject::invokeMethod(this, &TTakeRecorder::WriterEvent, Qt::QueuedConnection);
  };
  const std::string error = writer->Start(QDir(Folder()).absolutePath().toStdString(),
                                          TakeStem(QDateTime::currentSecsSinceEpoch()), Format());
  if (!error.empty()) return QString::fromStdString(error);
  FLastPath = QString::fromStdString(writer->SoundPath());
  FCurrent = std::move(writer);
  FFrames = 0;
  emit stateChanged();
  return {};
}

void TTakeRecorder::Add(const void* Samples, std::int32_t Frames, const TFormants& Formants,
                        const TVoice& Voice) noexcept {
  if (!FCurrent) return;
  if (FCurrent->Push(Samples, Frames, Formants, Voice)) FFrames += Frames;
}

void TTakeRecorder::Stop(const QString& Why) {
  if (!FCurrent) return;
  Retire(Why);
}

void TTakeRecorder::Retire(const QString& Why) {
  FCurrent->Finish();
  FClosing.push_back({std::move(FCurrent), Why});
  emit stateChanged();
}

void TTakeRecorder::WriterEvent() {
  // A fault ends the take being written.
  if (FCurrent && FCurrent->Done()) Retire({});
  for (auto it = FClosing.begin(); it != FClosing.end();) {
    CTakeWriter& w = *it->Writer;
    if (!w.Done()) {
      ++it;
      continue;
    }
    QString message = QString::fromStdString(w.Fault());
    if (message.isEmpty()) message = it->Why;
    if (w.LostBlocks() > 0)
      message += (message.isEmpty() ? QString() : QStringLiteral("; ")) +
                 QStringLiteral("%1 blocks were lost (the disk was too slow)").arg(w.LostBlocks());
    const QString path = QString::fromStdString(w.SoundPath());
    const bool kept = w.Kept();
    it = FClosing.erase(it);
    if (!kept) {
      // No file is left, so none is named.
      const QString why = message.isEmpty() ? QStringLiteral("no sound came in") : message;
      if (message.isEmpty())
        emit nothingKept(QStringLiteral("Nothing was recorded: ") + why);
      else
        emit problem(QStringLiteral("Recording ended: ") + why +
                     QStringLiteral("\nNothing was recorded; no file was kept."));
      continue;
    }
    if (!message.isEmpty())
      emit problem(QStringLiteral("Recording ended: ") + message + QStringLiteral("\nKept: ") +
                   path);
    emit saved(path);
  }
}

}  // namespace quenvis
