#include "capture/UMyMMSystem.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSource>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QIODevice>
#include <QMediaDevices>
#include <QSocketNotifier>
#include <QTimer>
#include <QVersionNumber>

#if defined(__linux__)
#include <sys/eventfd.h>
#include <unistd.h>
#define QUENVIS_HAVE_EVENTFD 1
#endif

#include <algorithm>
#include <cstring>

namespace quenvis {

void CopyDeviceName(const QByteArray& Utf8Name, char (&Dest)[MAXPNAMELEN]) {
  std::memset(Dest, 0, sizeof Dest);
  qsizetype n = std::min<qsizetype>(Utf8Name.size(), MAXPNAMELEN);
  if (n < Utf8Name.size()) {
    // Step back over continuation bytes to the start of the cut character.
    while (n > 0 && (static_cast<unsigned char>(Utf8Name[n]) & 0xC0) == 0x80) --n;
  }
  std::memcpy(Dest, Utf8Name.constData(), size_t(n));
}

QEvent::Type TWaveInEvent::EventType() {
  static const QEvent::Type Type = QEvent::Type(QEvent::registerEventType());
  return Type;
}

// --- TWaveInStreamService ---------------------------------------------------

TWaveInStreamService::TWaveInStreamService(QObject* Parent) : QObject(Parent) {
#ifdef QUENVIS_HAVE_EVENTFD
  // An eventfd wakes the event loop without allocating, unlike a posted event.
  FWakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
#endif
  if (FWakeFd >= 0) {
    FWakeNotifier = new QSocketNotifier(FWakeFd, QSocketNotifier::Read, this);
    connect(FWakeNotifier, &QSocketNotifier::activated, this, &TWaveInStreamService::Dispatch);
  }
  FPending.reserve(8);
}

TWaveInStreamService::~TWaveInStreamService() {
  delete FWakeNotifier;
#ifdef QUENVIS_HAVE_EVENTFD
  if (FWakeFd >= 0) ::close(FWakeFd);
#endif
}

MMRESULT TWaveInStreamService::waveInOpen(HWAVEIN& Handle, uint32_t DeviceId,
                                          const TWaveFormatEx& Format, QObject* Target) {
  if (FHandle != 0) return MMSYSERR_ALLOCATED;
  if (Target == nullptr) return MMSYSERR_INVALPARAM;
  if (Format.wFormatTag != WAVE_FORMAT_PCM || Format.wBitsPerSample != 16 || Format.nChannels == 0 ||
      Format.nSamplesPerSec == 0 || Format.nBlockAlign != Format.nChannels * 2)
    return WAVERR_BADFORMAT;
  if (MMRESULT r = DoOpen(DeviceId, Format)) return r;
  if (++FLastHandle == 0) ++FLastHandle;
  FHandle = FLastHandle;
  FTarget = Target;
  FStarted = false;
  FPrepared = 0;
  FDropped = 0;
  FPending.reserve(FPending.size() + 2);
  Handle = FHandle;
  Post(MM_WIM_OPEN, nullptr);
  return MMSYSERR_NOERROR;
}

MMRESULT TWaveInStreamService::waveInPrepareHeader(HWAVEIN Handle, TMyWaveHdr& Header) {
  if (!Valid(Handle)) return MMSYSERR_INVALHANDLE;
  if (Header.dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  if (Header.lpData == nullptr || Header.dwBufferLength == 0) return MMSYSERR_INVALPARAM;
  if (!(Header.dwFlags & WHDR_PREPARED)) {
    Header.dwFlags |= WHDR_PREPARED;
    ++FPrepared;
    // Room for every prepared buffer, so queuing and returning never allocate.
    FQueue.reserve(size_t(FPrepared));
    FPending.reserve(FPending.size() + size_t(FPrepared) + 2);
  }
  return MMSYSERR_NOERROR;
}

MMRESULT TWaveInStreamService::waveInAddBuffer(HWAVEIN Handle, TMyWaveHdr& Header) {
  if (!Valid(Handle)) return MMSYSERR_INVALHANDLE;
  if (!(Header.dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
  if (Header.dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  Header.dwFlags = (Header.dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
  Header.dwBytesRecorded = 0;
  FQueue.push_back(&Header);
  BufferAdded();
  return MMSYSERR_NOERROR;
}

MMRESULT TWaveInStreamService::waveInStart(HWAVEIN Handle) {
  if (!Valid(Handle)) return MMSYSERR_INVALHANDLE;
  if (FStarted) return MMSYSERR_NOERROR;
  if (MMRESULT r = DoStart()) {
    Fail();
    return r;
  }
  FStarted = true;
  return MMSYSERR_NOERROR;
}

MMRESULT TWaveInStreamService::waveInStop(HWAVEIN Handle) {
  if (!Valid(Handle)) return MMSYSERR_INVALHANDLE;
  if (!FStarted) return MMSYSERR_NOERROR;
  DoStop();
  FStarted = false;
  if (!FQueue.empty()) {
    TMyWaveHdr* h = FQueue.front();
    FQueue.erase(FQueue.begin());
    GiveBack(*h);
  }
  return MMSYSERR_NOERROR;
}

MMRESULT TWaveInStreamService::waveInReset(HWAVEIN Handle) {
  if (!Valid(Handle)) return MMSYSERR_INVALHANDLE;
  if (FStarted) {
    DoStop();
    FStarted = false;
  }
  for (TMyWaveHdr* h : FQueue) GiveBack(*h);
  FQueue.clear();
  return MMSYSERR_NOERROR;
}

MMRESULT TWaveInStreamService::waveInClose(HWAVEIN Handle) {
  if (!Valid(Handle)) return MMSYSERR_INVALHANDLE;
  CloseStream();
  return MMSYSERR_NOERROR;
}

MMRESULT TWaveInStreamService::waveInUnprepareHeader(HWAVEIN Handle, TMyWaveHdr& Header) {
  if (Header.dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  // The header is nobody's once its device has closed, so it is released even
  // when the handle is already dead; the answer still tells so.
  Header.dwFlags &= ~WHDR_PREPARED;
  return Valid(Handle) ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
}

char* TWaveInStreamService::FillPointer(uint32_t& Room) {
  if (FQueue.empty()) {
    Room = 0;
    return nullptr;
  }
  TMyWaveHdr& h = *FQueue.front();
  Room = h.dwBufferLength - h.dwBytesRecorded;
  return h.lpData + h.dwBytesRecorded;
}

void TWaveInStreamService::Filled(uint32_t Bytes) {
  if (FQueue.empty()) return;
  TMyWaveHdr& h = *FQueue.front();
  h.dwBytesRecorded += std::min(Bytes, h.dwBufferLength - h.dwBytesRecorded);
  if (h.dwBytesRecorded == h.dwBufferLength) {
    FQueue.erase(FQueue.begin());
    GiveBack(h);
  }
}

void TWaveInStreamService::Fail() {
  if (FHandle != 0) CloseStream();
}

void TWaveInStreamService::CloseStream() {
  if (FStarted) DoStop();
  FStarted = false;
  DoClose();
  // The buffer being filled first, with what it holds, then the rest.
  for (TMyWaveHdr* h : FQueue) GiveBack(*h);
  FQueue.clear();
  Post(MM_WIM_CLOSE, nullptr);
  FHandle = 0;
  FTarget = nullptr;
}

void TWaveInStreamService::GiveBack(TMyWaveHdr& Header) {
  Header.dwFlags = (Header.dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
  Post(MM_WIM_DATA, &Header);
}

void TWaveInStreamService::Post(uint32_t Msg, TMyWaveHdr* Header) {
  FPending.push_back(TNotice{Msg, FHandle, Header, FTarget});
  Wake();
}

void TWaveInStreamService::Wake() {
  if (FWoken) return;
  FWoken = true;
#ifdef QUENVIS_HAVE_EVENTFD
  if (FWakeFd >= 0) {
    const uint64_t one = 1;
    if (::write(FWakeFd, &one, sizeof one) == sizeof one) return;
  }
#endif
  // No eventfd to be had: a queued call does the same, at the cost of an
  // allocation.
  QMetaObject::invokeMethod(this, &TWaveInStreamService::Dispatch, Qt::QueuedConnection);
}

void TWaveInStreamService::Dispatch() {
#ifdef QUENVIS_HAVE_EVENTFD
  if (FWakeFd >= 0) {
    uint64_t count;
    while (::read(FWakeFd, &count, sizeof count) == sizeof count) {
    }
  }
#endif
  FWoken = false;
  if (FPendingHead == FPending.size()) return;
  TNotice notice = std::move(FPending[FPendingHead++]);
  if (FPendingHead == FPending.size()) {
    FPending.clear();
    FPendingHead = 0;
  } else {
    Wake();  // one notice per pass: nested event processing sees the next one
  }
  // Nothing of this object may be touched after the send: the handler may
  // destroy it.
  if (QObject* target = notice.Target.data()) {
    TWaveInEvent event(notice.Msg, notice.Handle, notice.Header);
    QCoreApplication::sendEvent(target, &event);
  }
}

// --- TQtWaveInService ---------------------------------------------------------

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
  if (d.isFormatSupported(CaptureFormat(44100, 2))) Caps.dwFormats |= WAVE_FORMAT_4S16;
  Caps.wChannels = uint16_t(std::clamp(d.maximumChannelCount(), 0, 0xFFFF));
  return MMSYSERR_NOERROR;
}

MMRESULT TQtWaveInService::DoOpen(uint32_t DeviceId, const TWaveFormatEx& Format) {
  if (DeviceId >= uint32_t(FImpl->Devices.size())) return MMSYSERR_BADDEVICEID;
  // The number names the input seen at enumeration; after a sound server
  // restart that input is found again by its id.
  const QByteArray id = FImpl->Devices[qsizetype(DeviceId)].id();
  const QList<QAudioDevice> now = QMediaDevices::audioInputs();
  const auto it = std::find_if(now.begin(), now.end(), [&](const QAudioDevice& d) { return d.id() == id; });
  if (it == now.end()) return MMSYSERR_NODRIVER;
  const QAudioFormat format = CaptureFormat(int(Format.nSamplesPerSec), Format.nChannels);
  if (!it->isFormatSupported(format)) return WAVERR_BADFORMAT;

  // The stream runs from open on, so a dead server shows here; what arrives
  // before waveInStart is thrown away.
  auto* source = new QAudioSource(*it, format, this);
  QIODevice* io = source->start();
  if (io == nullptr || source->error() != QAudio::NoError || source->state() == QAudio::StoppedState) {
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
      const qint64 chunk = std::min<qint64>(excess, sizeof FImpl->Discard) / FImpl->FrameBytes * FImpl->FrameBytes;
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
  const bool broken = (e != QAudio::NoError && e != QAudio::UnderrunError) || s->state() == QAudio::StoppedState;
  const int limit = FImpl->GotData ? SilenceTimeoutMs : StartupTimeoutMs;
  const bool silent = IsStarted() && FImpl->SinceData.isValid() && FImpl->SinceData.elapsed() > limit;
  if (broken || silent || !Listed(FImpl->OpenId)) Fail();
}

std::unique_ptr<CWaveInService> MakeWaveInService() { return std::make_unique<TQtWaveInService>(); }

}  // namespace quenvis
