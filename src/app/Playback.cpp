#include "app/Playback.h"

#include <QFileInfo>
#include <QMessageBox>

#include "app/UIQuenvis.h"
#include "capture/FileWaveInService.h"
#include "capture/UWaveRecorder.h"
#include "capture/WaveInRouter.h"
#include "capture/WaveInServiceChoice.h"
#include "chart/MarkerControl.h"
#include "chart/SonogramView.h"
#include "takes/Timeline.h"
#include "chart/VowelChart.h"

namespace quenvis {

TPlayback::TPlayback(TForm1& Form, CWaveInService* Live, std::unique_ptr<TFileWaveInService> File)
    : FForm(Form), FFile(std::move(File)) {
  if (!Live) {
    FOwnedLive = MakeWaveInService();
    Live = FOwnedLive.get();
  }
  if (!FFile) FFile = std::make_unique<TFileWaveInService>(MakeSoundOutput());
  FRouter = std::make_unique<CWaveInRouter>(*Live, *FFile);
  FFile->OnPosition = [this] { ShowPosition(); };
}

TPlayback::~TPlayback() { FFile->OnPosition = nullptr; }

CWaveInService& TPlayback::Service() noexcept { return *FRouter; }

bool TPlayback::Active() const noexcept { return FRouter->UsingFile() || FWant == EWant::File; }

double TPlayback::BlockTime(const void* Data) const noexcept {
  return FRouter->UsingFile() ? FFile->TimeOf(Data) : -1;
}

QString TPlayback::Open(const QString& Path) {
  // The file player cannot take another file while its stream is open.
  if (FForm.Recorder->IsBusy() && FRouter->UsingFile()) {
    FWant = EWant::Nothing;
    FForm.Recorder->Stop();
    // Its close is on its way; the new file waits for it, and says itself
    // when it cannot be played.
    QMetaObject::invokeMethod(
        this,
        [this, Path] {
          const QString error = Open(Path);
          QWidget* parent = FForm.Chart ? static_cast<QWidget*>(FForm.Chart) : &FForm;
          if (!error.isEmpty())
            QMessageBox::warning(parent, QStringLiteral("Play a recording"), error);
        },
        Qt::QueuedConnection);
    return {};
  }
  if (FFile->IsOpen()) return Path + QStringLiteral(": the previous recording is still closing");
  const std::string error = FFile->Load(Path.toStdString());
  if (!error.empty()) return QString::fromStdString(error);
  FForm.ShowChart();
  FForm.Chart->Markers().PlayingOpened(Path, FFile->Length());
  FForm.Chart->Timeline().Select(0, 0);
  FForm.Chart->Timeline().SetSpeed(FFile->Speed());
  if (FForm.Chart->Timeline().Looping()) FForm.Chart->Timeline().ToggleLoop();
  FToldEndsEarly = false;
  FWant = EWant::File;
  Apply();
  return {};
}

bool TPlayback::Leave() {
  if (FStarting || FWant == EWant::Live || !Active()) return false;
  FWant = EWant::Live;
  Apply();
  return true;
}

void TPlayback::RecorderClosed() {
  // The recorder is still busy while its close is handled: switch after it.
  if (FWant != EWant::Nothing)
    QMetaObject::invokeMethod(this, &TPlayback::Apply, Qt::QueuedConnection);
}

void TPlayback::Apply() {
  TWaveRecorder& recorder = *FForm.Recorder;
  if (FWant == EWant::Nothing) return;
  if (recorder.IsBusy()) {
    recorder.Stop();  // RecorderClosed comes back here
    return;
  }
  const EWant want = FWant;
  FRouter->UseFile(want == EWant::File);
  recorder.SetDeviceFree(want == EWant::File);
  if (FForm.Chart) {
    if (want == EWant::Live) FForm.Chart->Markers().PlayingClosed();
    FForm.Chart->ShowTimeline(want == EWant::File);
    FForm.Chart->SetPlayingName(want == EWant::File ? PlayingName() : QString());
  }
  // Start as the button does, with the analysis starting afresh.
  FStarting = true;
  FForm.Bt_startClick(&FForm);
  FStarting = false;
  if (recorder.StartResult() == MMSYSERR_ALLOCATED && !recorder.IsBusy()) {
    // Refused inside a block's handling: again once it is over.
    QMetaObject::invokeMethod(this, &TPlayback::Apply, Qt::QueuedConnection);
    return;
  }
  FWant = EWant::Nothing;
  ShowPosition();
}

void TPlayback::Attach(TVowelChart& Chart) {
  connect(&Chart, &TVowelChart::openRequested, this, [this, &Chart](const QString& Path) {
    const QString error = Open(Path);
    if (!error.isEmpty()) QMessageBox::warning(&Chart, QStringLiteral("Play a recording"), error);
  });
  connect(&Chart, &TVowelChart::playPauseRequested, this,
          [this] { FFile->SetPaused(!FFile->Paused()); });
  TTimeline& t = Chart.Timeline();
  connect(&t, &TTimeline::seekRequested, this, [this](double S) { FFile->Seek(S); });
  connect(&t, &TTimeline::loopChanged, this,
          [this](bool On, double From, double To) { FFile->SetLoop(On, From, To); });
  connect(&t, &TTimeline::speedChanged, this, [this](double S) { FFile->SetSpeed(S); });
  // A click on the spectrogram seeks there too.
  connect(Chart.Spectrogram(), &TSpectrogramView::TimeClicked, this, [this](double S) {
    if (FRouter->UsingFile()) FFile->Seek(S);
  });
  Chart.ShowTimeline(FRouter->UsingFile());
  Chart.SetPlayingName(FRouter->UsingFile() ? PlayingName() : QString());
  ShowPosition();
}

void TPlayback::ShowPosition() {
  if (!FForm.Chart) return;
  TTimeline& t = FForm.Chart->Timeline();
  t.SetLength(FFile->Length());
  t.SetPosition(FFile->HeardPosition());
  t.SetPaused(FFile->Paused());
  t.SetDropouts(FFile->Dropouts());
  if (!FToldEndsEarly && FRouter->UsingFile() && FFile->Complete() && FFile->EndsEarly()) {
    FToldEndsEarly = true;
    FForm.Chart->SetPlayingName(PlayingName(), true);
  }
}

QString TPlayback::PlayingName() const {
  return QFileInfo(QString::fromStdString(FFile->Path())).fileName();
}

}  // namespace quenvis
