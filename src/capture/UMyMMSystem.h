#pragma once
// The wave-input layer: the capture buffer header, the small wave-input
// service the recorder talks to, and the stream bookkeeping its
// implementations share (QtWaveInService, PulseWaveInService).
//
// The service follows the classic wave-input model: open a device for one
// format with a notification target, prepare headers, queue them, start.
// Every queued buffer comes back exactly once, as an MM_WIM_DATA notification
// with dwBytesRecorded set, either when it is full or when capture stops or is
// reset. MM_WIM_OPEN comes first and MM_WIM_CLOSE last. Notifications reach
// the target as TWaveInEvent, sent from the target thread's event loop in the
// order they arose; one notification per loop pass, so a handler that lets
// pending events run sees the next one.
//
// A stream that fails (device gone, sound server gone, no data for a while
// when started) takes the stop path by itself: the buffers it
// holds come back, then MM_WIM_CLOSE, which tells why, and its handle is dead
// from then on.
//
// Only one device can be open per service object at a time. The service must
// outlive whatever it notifies.

#include <QByteArray>
#include <QEvent>
#include <QObject>
#include <QPointer>

#include <cstdint>
#include <memory>
#include <vector>

#include <functional>

class QSocketNotifier;

namespace quenvis {

class TWaveRecorder;

using HWAVEIN = uint32_t;  // 0 is never a valid handle
using MMRESULT = uint32_t;

inline constexpr MMRESULT MMSYSERR_NOERROR = 0;
inline constexpr MMRESULT MMSYSERR_ERROR = 1;
inline constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
inline constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
inline constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
inline constexpr MMRESULT MMSYSERR_NODRIVER = 6;
inline constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
inline constexpr MMRESULT WAVERR_BADFORMAT = 32;
inline constexpr MMRESULT WAVERR_STILLPLAYING = 33;
inline constexpr MMRESULT WAVERR_UNPREPARED = 34;

inline constexpr uint32_t MM_WIM_OPEN = 0x3BE;
inline constexpr uint32_t MM_WIM_CLOSE = 0x3BF;
inline constexpr uint32_t MM_WIM_DATA = 0x3C0;

inline constexpr uint32_t WAVE_FORMAT_4S16 = 0x800;  // 44.1 kHz, stereo, 16-bit
inline constexpr uint16_t WAVE_FORMAT_PCM = 1;

inline constexpr uint32_t WHDR_DONE = 0x01;
inline constexpr uint32_t WHDR_PREPARED = 0x02;
inline constexpr uint32_t WHDR_INQUEUE = 0x10;

// Why a stream closed, carried by MM_WIM_CLOSE.
enum class EWaveInEnd : uint32_t {
  Closed,         // waveInClose
  ServerGone,     // the sound server went away
  DeviceRemoved,  // the device went away
  ServerEnded,    // the sound server ended the stream, the device staying
  NoSound,        // a started stream brought no sound for too long
};

// Capture buffer header: the platform's eight fields, then the recorder's own.
struct TMyWaveHdr {
  char* lpData = nullptr;
  uint32_t dwBufferLength = 0;
  uint32_t dwBytesRecorded = 0;
  uintptr_t dwUser = 0;
  uint32_t dwFlags = 0;
  uint32_t dwLoops = 0;
  TMyWaveHdr* lpNext = nullptr;
  uintptr_t reserved = 0;
  TWaveRecorder* OwnerRecorder = nullptr;
};

struct TWaveFormatEx {
  uint16_t wFormatTag = 0;
  uint16_t nChannels = 0;
  uint32_t nSamplesPerSec = 0;
  uint32_t nAvgBytesPerSec = 0;
  uint16_t nBlockAlign = 0;
  uint16_t wBitsPerSample = 0;
  uint16_t cbSize = 0;
};

inline constexpr int MAXPNAMELEN = 32;

struct TWaveInCaps {
  uint16_t wMid = 0;
  uint16_t wPid = 0;
  uint32_t vDriverVersion = 0;     // major in bits 8..15, minor in bits 0..7
  char szPname[MAXPNAMELEN] = {};  // UTF-8; zero-terminated unless all 32 bytes are used
  uint32_t dwFormats = 0;
  uint16_t wChannels = 0;
  uint16_t wReserved1 = 0;
  // What the computer plays (an output's monitor) rather than a microphone:
  // listed, but never the device chosen by default.
  bool Monitor = false;
};

// Copies Name into Dest, zero-filled, cut at a character boundary so that no
// UTF-8 sequence is split. Uses all 32 bytes (no terminator) when they fit
// exactly.
void CopyDeviceName(const QByteArray& Utf8Name, char (&Dest)[MAXPNAMELEN]);

// A notification as the target receives it.
class TWaveInEvent : public QEvent {
 public:
  TWaveInEvent(uint32_t Msg, HWAVEIN Handle, TMyWaveHdr* Header,
               EWaveInEnd End = EWaveInEnd::Closed)
      : QEvent(EventType()), Msg(Msg), Handle(Handle), Header(Header), End(End) {}
  static QEvent::Type EventType();

  uint32_t Msg;
  HWAVEIN Handle;
  TMyWaveHdr* Header;  // MM_WIM_DATA only
  EWaveInEnd End;      // MM_WIM_CLOSE only
};

class CWaveInService {
 public:
  virtual ~CWaveInService() = default;
  virtual uint32_t waveInGetNumDevs() = 0;
  virtual MMRESULT waveInGetDevCaps(uint32_t DeviceId, TWaveInCaps& Caps) = 0;
  virtual MMRESULT waveInOpen(HWAVEIN& Handle, uint32_t DeviceId, const TWaveFormatEx& Format,
                              QObject* Target) = 0;
  virtual MMRESULT waveInPrepareHeader(HWAVEIN Handle, TMyWaveHdr& Header) = 0;
  virtual MMRESULT waveInAddBuffer(HWAVEIN Handle, TMyWaveHdr& Header) = 0;
  virtual MMRESULT waveInStart(HWAVEIN Handle) = 0;
  virtual MMRESULT waveInStop(HWAVEIN Handle) = 0;
  virtual MMRESULT waveInReset(HWAVEIN Handle) = 0;
  virtual MMRESULT waveInClose(HWAVEIN Handle) = 0;
  virtual MMRESULT waveInUnprepareHeader(HWAVEIN Handle, TMyWaveHdr& Header) = 0;

  // Called on the UI thread when the devices a new waveInGetNumDevs would
  // list have changed. Services whose device list never changes never call it.
  std::function<void()> OnDevicesChanged;
};

// The bookkeeping every service shares: one stream, its header queue, the
// flags, the stop/reset/close rules and the notification queue. Subclasses
// supply the devices and the sound; see the protected section.
class TWaveInStreamService : public QObject, public CWaveInService {
  Q_OBJECT
 public:
  // A started stream that brings no sound for this long has failed (the
  // window then says "no sound for 1.5 s"). The first sound of a stream may
  // take longer: a sound server that has just started needs about two
  // seconds. Services check every WatchdogPeriodMs.
  static constexpr int SilenceTimeoutMs = 1500;
  static constexpr int StartupTimeoutMs = 5000;
  static constexpr int WatchdogPeriodMs = 250;

  explicit TWaveInStreamService(QObject* Parent = nullptr);
  ~TWaveInStreamService() override;

  MMRESULT waveInOpen(HWAVEIN& Handle, uint32_t DeviceId, const TWaveFormatEx& Format,
                      QObject* Target) override;
  MMRESULT waveInPrepareHeader(HWAVEIN Handle, TMyWaveHdr& Header) override;
  MMRESULT waveInAddBuffer(HWAVEIN Handle, TMyWaveHdr& Header) override;
  MMRESULT waveInStart(HWAVEIN Handle) override;
  MMRESULT waveInStop(HWAVEIN Handle) override;
  MMRESULT waveInReset(HWAVEIN Handle) override;
  MMRESULT waveInClose(HWAVEIN Handle) override;
  MMRESULT waveInUnprepareHeader(HWAVEIN Handle, TMyWaveHdr& Header) override;

  bool IsOpen() const { return FHandle != 0; }
  bool IsStarted() const { return FStarted; }
  int QueuedBuffers() const { return int(FQueue.size()); }
  // Bytes dropped while started because no buffer was queued.
  int64_t DroppedBytes() const { return FDropped; }
  int PendingNotifications() const { return int(FPending.size() - FPendingHead); }

 protected:
  // Device side, called by the bookkeeping above. DoOpen and DoStart return 0
  // on success; a failing DoStart makes the stream fail.
  virtual MMRESULT DoOpen(uint32_t DeviceId, const TWaveFormatEx& Format) = 0;
  virtual MMRESULT DoStart() = 0;
  virtual void DoStop() = 0;
  virtual void DoClose() = 0;
  // A buffer has just been queued.
  virtual void BufferAdded() {}

  // For the device side while started: the free room of the buffer at the
  // head of the queue (null when none is queued), and how many bytes were
  // just written there. A full buffer goes back to the target.
  char* FillPointer(uint32_t& Room);
  void Filled(uint32_t Bytes);
  void Dropped(int64_t Bytes) { FDropped += Bytes; }
  // The device failed: stop, give every buffer back, close.
  void Fail(EWaveInEnd Why);

 private:
  struct TNotice {
    uint32_t Msg;
    HWAVEIN Handle;
    TMyWaveHdr* Header;
    EWaveInEnd End;
    QPointer<QObject> Target;
  };
  bool Valid(HWAVEIN Handle) const { return Handle != 0 && Handle == FHandle; }
  void GiveBack(TMyWaveHdr& Header);
  void Post(uint32_t Msg, TMyWaveHdr* Header, EWaveInEnd End = EWaveInEnd::Closed);
  void Wake();
  void Dispatch();
  void CloseStream(EWaveInEnd Why);

  HWAVEIN FHandle = 0;
  HWAVEIN FLastHandle = 0;
  QPointer<QObject> FTarget;
  bool FStarted = false;
  std::vector<TMyWaveHdr*> FQueue;  // capacity grows at prepare only
  std::vector<TNotice> FPending;    // capacity grows at open/prepare only
  size_t FPendingHead = 0;
  int FPrepared = 0;
  int64_t FDropped = 0;
  int FWakeFd = -1;
  bool FWoken = false;
  QSocketNotifier* FWakeNotifier = nullptr;
};

}  // namespace quenvis
