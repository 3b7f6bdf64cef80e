#include "capture/UMyMMSystem.h"

#include <QCoreApplication>
#include <QSocketNotifier>

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
  static const QEvent::Type type = QEvent::Type(QEvent::registerEventType());
  return type;
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
  if (Format.wFormatTag != WAVE_FORMAT_PCM || Format.wBitsPerSample != 16 ||
      Format.nChannels == 0 || Format.nSamplesPerSec == 0 ||
      Format.nBlockAlign != Format.nChannels * 2)
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
    Fail(EWaveInEnd::DeviceRemoved);
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
  CloseStream(EWaveInEnd::Closed);
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

void TWaveInStreamService::Fail(EWaveInEnd Why) {
  if (FHandle != 0) CloseStream(Why);
}

void TWaveInStreamService::CloseStream(EWaveInEnd Why) {
  if (FStarted) DoStop();
  FStarted = false;
  DoClose();
  // The buffer being filled first, with what it holds, then the rest.
  for (TMyWaveHdr* h : FQueue) GiveBack(*h);
  FQueue.clear();
  Post(MM_WIM_CLOSE, nullptr, Why);
  FHandle = 0;
  FTarget = nullptr;
}

void TWaveInStreamService::GiveBack(TMyWaveHdr& Header) {
  Header.dwFlags = (Header.dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
  Post(MM_WIM_DATA, &Header);
}

void TWaveInStreamService::Post(uint32_t Msg, TMyWaveHdr* Header, EWaveInEnd End) {
  FPending.push_back(TNotice{Msg, FHandle, Header, End, FTarget});
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
    TWaveInEvent event(notice.Msg, notice.Handle, notice.Header, notice.End);
    QCoreApplication::sendEvent(target, &event);
  }
}

}  // namespace quenvis
