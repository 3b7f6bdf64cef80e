#pragma once
// Recording takes from the chart window: where they go and in which format
// (remembered), the take being written, and the takes still being closed.
#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

#include "takes/TakeWriter.h"

namespace quenvis {

class TTakeRecorder : public QObject {
  Q_OBJECT

 public:
  explicit TTakeRecorder(QObject* Parent = nullptr);
  // Waits until every take is on disk.
  ~TTakeRecorder() override;

  // The folder chosen once, by default the desktop's music folder.
  QString Folder() const;
  void SetFolder(const QString& Folder);
  static QString DefaultFolder();
  ETakeFormat Format() const;
  void SetFormat(ETakeFormat Format);

  // Starts a take from the next block; returns an empty string or why not.
  QString Start();
  // Ends the take. A Why that is not empty is the reason the take could not
  // go on, given once in ended().
  void Stop(const QString& Why = {});
  bool Recording() const noexcept { return FCurrent != nullptr; }
  // One analysed block; never waits.
  void Add(const void* Samples, std::int32_t Frames, const TFormants& Formants,
           const TVoice& Voice = {}) noexcept;
  // Seconds of sound in the take so far.
  double Elapsed() const noexcept { return double(FFrames) / SampleRate; }
  // The file of the latest take.
  QString LastPath() const { return FLastPath; }
  // Takes not yet closed (the current one included).
  int Open() const noexcept { return int(FClosing.size()) + (FCurrent ? 1 : 0); }

 signals:
  // Started or stopped.
  void stateChanged();
  // A take ended by itself or lost blocks: one message for the user.
  void problem(const QString& Message);
  // A take's files are closed and hold its sound.
  void saved(const QString& Path);
  // A take ended with no sound: it left no files.
  void nothingKept(const QString& Message);

 private:
  void WriterEvent();
  void Retire(const QString& Why);

  std::unique_ptr<CTakeWriter> FCurrent;
  struct TClosing {
    std::unique_ptr<CTakeWriter> Writer;
    QString Why;  // why it was stopped, when not by the user
  };
  std::vector<TClosing> FClosing;
  std::int64_t FFrames = 0;
  QString FLastPath;
};

}  // namespace quenvis
