#include "capture/QtWaveInService.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSource>
#include <QElapsedTimer>
#include <QIODevice>
#include <QMediaDevices>
#include <QTimer>
#include <QVersionNumber>

#include <algorithm>

#include "analysis/Common.h"

namespace quenvis {

struct TQtWaveInService::TImpl {
  QList<QAudioDevice> Devices;  // as of the last waveInGetNumDevs
  QByteArray OpenId;
  QAudioSource* Source = nullptr;
  QPointer<QIODevice> Io;  // Qt deletes it when the stream stops or fails
  QTimer Watchdog;
  QElapsedTimer SinceData;
  bool GotData = false;  // since open
  qint64 FrameBytes = 4;
  qint64 Backlog = 0;  // bytes left waiting in the stream while no buffer is queued
  char Discard[4096];
};

namespace {

QAudioFormat CaptureFormat(int Rate, int Channels) {
  QAudioFormat f;
  f.setSampleRate(Rate);
  f.setChannelCount(Channels);
  f.setSampleFormat(QAudioFormat::Int16);
  return f;
}

bool Listed(const QByteArray& Id) {
  const QList<QAudioDevice> now = QMediaDevices::audioInputs();
  return std::any_of(now.begin(), now.end(), [&](const QAudioDevice& d) { return d.id() == Id; });
}

}  // namespace

TQtWaveInService::TQtWaveInService(QObject* Parent)
    : TWaveInStreamService(Parent), FImpl(std::make_unique<TImpl>()) {
  FImpl->Watchdog.setInterval(WatchdogPeriodMs);
  connect(&FImpl->Watchdog, &QTimer::timeout, this, &TQtWaveInService::Watch);
}

TQtWaveInService::~TQtWaveInService() {
  FImpl->Watchdog.stop();
  delete FImpl->Source;
}

uint32_t TQtWaveInService::DriverVersion() {
  const QVersionNumber v = QVersionNumber::fromString(QString::fromLatin1(qVersion()));
  const auto clamp = [](int x) { return uint32_t(std::clamp(x, 0, 255)); };
  return clamp(v.majorVersion()) << 8 | clamp(v.minorVersion());
}

uint32_t TQtWaveInService::waveInGetNumDevs() {
  FImpl->Devices = QMediaDevices::audioInputs();
  return uint32_t(FImpl->Devices.size());
}

MMRESULT TQtWaveInService::waveInGetDevCaps(uint32_t DeviceId, TWaveInCaps& Caps) {
  if (DeviceId >= uint32_t(FImpl->Devices.size())) return MMSYSERR_BADDEVICEID;
  const QAudioDevice& d = FImpl->Devices[qsizetype(DeviceId)];
  Caps = TWaveInCaps{};
  Caps.vDriverVersion = DriverVersion();
  CopyDeviceName(d.description().toUtf8(), Caps.szPname);
  if (d.isFormatSupported(CaptureFormat(SampleRate, 2))) Caps.dwFormats |= WAVE_FORMAT_4S16;
  Caps.wChannels = uint16_t(std::clamp(d.maximumChannelCount(), 0, 0xFFFF));
  return MMSYSERR_NOERROR;
}

MMRESULT TQtWaveInService::DoOpen(uint32_t DeviceId, const TWaveFormatEx& Format) {
  if (DeviceId >= uint32_t(FImpl->Devices.size())) return MMSYSERR_BADDEVICEID;
  // The number names the input seen at enumeration; after a sound server
  // restart that input is found again by its id.
  const QByteArray id = FImpl->Devices[qsizetype(DeviceId)].id();
  const QList<QAudioDevice> now = QMediaDevices::audioInputs();
  const auto it =
      std::find_if(now.begin(), now.end(), [&](const QAudioDevice& d) { return d.id() == id; });
  if (it == now.end()) return MMSYSERR_BADDEVICEID;
  const QAudioFormat format = CaptureFormat(int(Format.nSamplesPerSec), Format.nChannels);
  if (!it->isFormatSupported(format)) return WAVERR_BADFORMAT;

  // The stream runs from open on, so a dead server shows here; what arrives
  // before waveInStart is thrown away.
  auto* source = new QAudioSource(*it, format, this);
  QIODevice* io = source->start();
  if (io == nullptr || source->error() != QAudio::NoError ||
      source->state() == QAudio::StoppedState) {
    source->stop();
    delete source;
    return MMSYSERR_NODRIVER;
  }
  FImpl->Source = source;
  FImpl->Io = io;
  FImpl->GotData = false;
  FImpl->FrameBytes = Format.nBlockAlign;
  FImpl->Backlog = qint64(Format.nBlockAlign) * Format.nSamplesPerSec / 10;
  FImpl->OpenId = id;
  connect(io, &QIODevice::readyRead, this, &TQtWaveInService::ReadAvailable);
  connect(source, &QAudioSource::stateChanged, this, [this] {
    // Errors reach the stop path from the watchdog, outside Qt's own call.
    QTimer::singleShot(0, this, &TQtWaveInService::Watch);
  });
  FImpl->Watchdog.start();
  return MMSYSERR_NOERROR;
}

MMRESULT TQtWaveInService::DoStart() {
  QAudioSource* s = FImpl->Source;
  if (s == nullptr || s->error() != QAudio::NoError || s->state() == QAudio::StoppedState)
    return MMSYSERR_ERROR;
  FImpl->SinceData.start();
  return MMSYSERR_NOERROR;
}

void TQtWaveInService::DoStop() {}

void TQtWaveInService::DoClose() {
  FImpl->Watchdog.stop();
  if (QAudioSource* s = FImpl->Source) {
    disconnect(s, nullptr, this, nullptr);
    if (QIODevice* io = FImpl->Io.data()) disconnect(io, nullptr, this, nullptr);
    s->stop();
    // Closing may happen inside the source's own signal.
    s->deleteLater();
  }
  FImpl->Source = nullptr;
  FImpl->Io = nullptr;
  FImpl->OpenId.clear();
}

void TQtWaveInService::ReadAvailable() {
  for (;;) {
    QIODevice* io = FImpl->Io.data();
    if (io == nullptr || FImpl->Source == nullptr) return;
    qint64 n;
    if (!IsStarted()) {
      n = io->read(FImpl->Discard, qint64(sizeof FImpl->Discard));
      if (n <= 0) return;
      FImpl->GotData = true;
      continue;
    }
    uint32_t room = 0;
    if (char* p = FillPointer(room)) {
      n = io->read(p, qint64(room));
      if (n <= 0) return;
      Filled(uint32_t(n));
    } else {
      // No buffer queued. Qt hands over about 50 ms at a time, more than one
      // 2048-frame buffer, so a short backlog waits in the stream for the next
      // buffer; only sound beyond it is dropped, in whole frames.
      const qint64 excess = FImpl->Source->bytesAvailable() - FImpl->Backlog;
      const qint64 chunk =
          std::min<qint64>(excess, sizeof FImpl->Discard) / FImpl->FrameBytes * FImpl->FrameBytes;
      if (chunk <= 0) return;
      n = io->read(FImpl->Discard, chunk);
      if (n <= 0) return;
      Dropped(n);
    }
    FImpl->SinceData.start();
    FImpl->GotData = true;
  }
}

void TQtWaveInService::BufferAdded() {
  if (IsStarted()) ReadAvailable();
}

void TQtWaveInService::Watch() {
  QAudioSource* s = FImpl->Source;
  if (s == nullptr) return;
  const QAudio::Error e = s->error();
  const bool broken =
      (e != QAudio::NoError && e != QAudio::UnderrunError) || s->state() == QAudio::StoppedState;
  const int limit = FImpl->GotData ? SilenceTimeoutMs : StartupTimeoutMs;
  const bool silent =
      IsStarted() && FImpl->SinceData.isValid() && FImpl->SinceData.elapsed() > limit;
  if (!Listed(FImpl->OpenId))
    Fail(EWaveInEnd::DeviceRemoved);
  else if (broken)
    Fail(EWaveInEnd::ServerGone);
  else if (silent)
    Fail(EWaveInEnd::NoSound);
}

}  // namespace quenvis
