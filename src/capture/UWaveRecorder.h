#pragma once
// TWaveRecorder: live capture from one audio input, 16-bit PCM, 2 channels,
// 44 100 frames per second, handed to the owner block by block through two
// buffers that circulate.
//
// Construction and use (all on the UI thread):
//
//   auto* Recorder = new TWaveRecorder(this);            // the platform service, owned
//   auto* Recorder = new TWaveRecorder(this, Service);   // any CWaveInService&,
//                                                        // which must outlive it
//   Recorder->setParent(this);       // optional: the owner is already the parent;
//                                    // without a parent the recorder is not ready
//   Recorder->SetBufferFrames(2048);
//   Recorder->OnData = [this](void* Data, int32_t Bytes, int32_t Frames, int32_t& Done) {...};
//   Recorder->OnOpen = Recorder->OnClose = [](TWaveRecorder* Sender) {};
//   double d = Recorder->BufferDuration();
//   const QStringList& list = Recorder->Devices();   // one description per device
//   QString text = Recorder->DevicesText();          // each entry + "\r\n"
//   int32_t n = Recorder->DeviceCount(), sel = Recorder->GetDevice();
//   Recorder->SetDevice(index); Recorder->Start(); ... Recorder->Stop();
//
// Devices are described as "N - Name vMAJOR.MINOR", N being the device number.
// SetDevice and GetDevice take a position in Devices(); each position keeps its
// device number, so the entry picked is the device that opens.
//
// States: Idle, Opening (open succeeded, open notification pending), Capturing
// (IsRecording), Closing (IsRecording and IsStopping). The recorder is busy from
// a successful open until the close notification: meanwhile Start, SetDevice
// and SetBufferFrames do nothing. Stop returns at once; the buffers the device
// still held come back once more through OnData (maybe with 0 bytes) and are
// not queued again, then OnClose runs with IsRecording still true. A failing
// device takes the same way back to Idle on its own; EndReason tells why.
//
// When the service's devices change, the list is made again at once in Idle,
// or at the close notification while busy; the device chosen stays chosen
// while it is listed. OnDevicesChange follows each new list.
//
// OnData's Data is valid only during the call, and is always BufferBytes()
// long: the first Bytes bytes are new, the rest is older data or zeros.

#include "capture/UMyMMSystem.h"

#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace quenvis {

class TWaveRecorder : public QWidget {
  Q_OBJECT
 public:
  using TNotifyEvent = std::function<void(TWaveRecorder* Sender)>;
  using TDataEvent = std::function<void(void* Data, int32_t Bytes, int32_t Frames, int32_t& Done)>;

  explicit TWaveRecorder(QWidget* Owner);
  TWaveRecorder(QWidget* Owner, CWaveInService& Service);
  ~TWaveRecorder() override;

  bool IsReady() const;
  // A service that plays a file needs no capture device: Start then opens
  // its device 0 even when no device is listed.
  void SetDeviceFree(bool Free) noexcept { DeviceFree = Free; }
  bool Start();
  void Stop();
  void SetDevice(int32_t Position);
  int32_t GetDevice() const;
  int32_t DeviceCount() const;
  const QStringList& Devices() const { return FDevices; }
  QString DevicesText() const;
  void SetBufferFrames(int32_t Frames);
  int32_t BufferBytes() const { return BufferFrames * 4; }
  double BufferDuration() const { return BufferFrames * SamplePeriod; }

  bool IsRecording() const { return Recording; }
  bool IsStopping() const { return Stopping; }
  bool IsBusy() const { return Busy; }
  // The device number that Start opens, -1 without a device.
  int32_t DeviceNumber() const;
  // The device number of an entry of Devices(), -1 for no entry.
  int32_t DeviceNumberAt(int32_t Position) const;
  // Why the latest capture ended; Closed when by Stop (or not yet ended).
  EWaveInEnd EndReason() const { return FEnd; }
  // What the service answered when Start last failed, MMSYSERR_ALLOCATED when
  // Start was refused because capture is on, MMSYSERR_NOERROR after a success.
  MMRESULT StartResult() const { return FStartResult; }

  TNotifyEvent OnOpen;
  TNotifyEvent OnClose;
  TDataEvent OnData;
  TNotifyEvent OnDevicesChange;

 protected:
  bool event(QEvent* Event) override;
  void WaveWndProc(const TWaveInEvent& Msg);

 private:
  void Init();
  void ListDevices();
  void DevicesChanged();
  bool StartSteps();
  void AllocBuffers();
  void FreeBuffers();

  std::unique_ptr<CWaveInService> OwnedService;
  CWaveInService& Service;

  int32_t DeviceId = 0;  // position in FDevices
  HWAVEIN WaveInHandle = 0;
  TWaveFormatEx WaveFormat;
  bool Recording = false;
  bool HasDevice = false;
  bool DeviceFree = false;
  double SamplePeriod = 0;
  bool Stopping = false;
  TMyWaveHdr Header1;
  TMyWaveHdr Header2;
  int32_t BufferFrames = 1024;
  QStringList FDevices;
  std::vector<uint32_t> DeviceNumbers;  // beside FDevices, entry by entry
  bool Busy = false;                    // from a successful open to the close notification
  int DataDepth = 0;                    // data notifications being handled
  bool DevicesStale = false;            // the service's devices changed while busy
  EWaveInEnd FEnd = EWaveInEnd::Closed;
  MMRESULT FStartResult = MMSYSERR_NOERROR;
};

}  // namespace quenvis
