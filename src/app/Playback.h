#pragma once
// Playing a recording in the place of live capture. The recorder talks to a
// router that passes its calls to the capture service or to the file player;
// switching stops the recorder, waits for its close, chooses the other
// service and starts the recorder again, so the window and the chart take
// the recording's blocks exactly as they take captured ones.
#include <QObject>
#include <QString>
#include <memory>

#include "capture/FileWaveInService.h"

namespace quenvis {

class CWaveInService;
class CWaveInRouter;
class TForm1;
class TVowelChart;

class TPlayback : public QObject {
  Q_OBJECT

 public:
  // Live: the capture service, made here when null. File: the file player,
  // made here (with the default output) when null.
  TPlayback(TForm1& Form, CWaveInService* Live, std::unique_ptr<TFileWaveInService> File = nullptr);
  ~TPlayback() override;

  // The service the recorder uses.
  CWaveInService& Service() noexcept;
  TFileWaveInService& File() noexcept { return *FFile; }

  // Plays Path from its start; returns an empty string or why not.
  QString Open(const QString& Path);
  // True while a recording is playing or about to.
  bool Active() const noexcept;
  // The take's time at the start of a block the recorder hands over, -1
  // when it is captured.
  double BlockTime(const void* Data) const noexcept;
  // Goes back to live capture, then presses Start. False when live already.
  bool Leave();
  // The recorder has closed its stream.
  void RecorderClosed();
  // Connects a chart window's timeline and keys to the player.
  void Attach(TVowelChart& Chart);

 private:
  enum class EWant { Nothing, File, Live };
  void Apply();
  void ShowPosition();
  QString PlayingName() const;

  TForm1& FForm;
  std::unique_ptr<CWaveInService> FOwnedLive;
  std::unique_ptr<TFileWaveInService> FFile;
  std::unique_ptr<CWaveInRouter> FRouter;
  EWant FWant = EWant::Nothing;
  bool FStarting = false;  // Apply is pressing Start
  bool FToldEndsEarly = false;
};

}  // namespace quenvis
