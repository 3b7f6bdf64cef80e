#include "capture/UWaveRecorder.h"

#include "analysis/Common.h"
#include "capture/WaveInServiceChoice.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace quenvis {

namespace {

QString Describe(uint32_t Number, const TWaveInCaps& Caps) {
  const auto nameLength = qsizetype(strnlen(Caps.szPname, sizeof Caps.szPname));
  return QString::number(Number) + QStringLiteral(" - ") +
         QString::fromUtf8(Caps.szPname, nameLength) + QStringLiteral(" v") +
         QString::number(Caps.vDriverVersion >> 8) + QLatin1Char('.') +
         QString::number(Caps.vDriverVersion & 0xFF);
}

}  // namespace

TWaveRecorder::TWaveRecorder(QWidget* Owner)
    : QWidget(Owner), OwnedService(MakeWaveInService()), Service(*OwnedService) {
  Init();
}

TWaveRecorder::TWaveRecorder(QWidget* Owner, CWaveInService& Service)
    : QWidget(Owner), Service(Service) {
  Init();
}

void TWaveRecorder::Init() {
  // A notification target only: never shown, never sized.
  setAttribute(Qt::WA_DontShowOnScreen);
  resize(0, 0);
  hide();

  WaveFormat.nSamplesPerSec = static_cast<uint32_t>(SampleRate);
  SamplePeriod = 1.0 / WaveFormat.nSamplesPerSec;
  Recording = false;
  HasDevice = false;
  Header1.lpNext = &Header2;
  Header2.lpNext = &Header1;
  BufferFrames = 1024;
  ListDevices();
  Service.OnDevicesChanged = [this] { DevicesChanged(); };
}

void TWaveRecorder::ListDevices() {
  const int32_t chosen = DeviceNumber();
  FDevices.clear();
  DeviceNumbers.clear();
  HasDevice = false;
  DeviceId = 0;
  const uint32_t n = Service.waveInGetNumDevs();
  bool inputFound = false;
  for (uint32_t i = 0; i < n; ++i) {
    TWaveInCaps caps;
    if (Service.waveInGetDevCaps(i, caps) != MMSYSERR_NOERROR) continue;
    if (!(caps.dwFormats & WAVE_FORMAT_4S16)) continue;
    // The last qualifying device, but an input before any monitor: a user who
    // presses Start wants to see the microphone, not what the computer plays.
    if (!caps.Monitor || !inputFound) DeviceId = int32_t(FDevices.size());
    inputFound = inputFound || !caps.Monitor;
    HasDevice = true;
    FDevices.append(Describe(i, caps));
    DeviceNumbers.push_back(i);
  }
  // The device chosen before stays chosen while it is listed.
  const auto it = std::find(DeviceNumbers.begin(), DeviceNumbers.end(), uint32_t(chosen));
  if (chosen >= 0 && it != DeviceNumbers.end()) DeviceId = int32_t(it - DeviceNumbers.begin());
}

void TWaveRecorder::DevicesChanged() {
  if (Busy) {
    DevicesStale = true;
    return;
  }
  ListDevices();
  if (OnDevicesChange) OnDevicesChange(this);
}

TWaveRecorder::~TWaveRecorder() {
  Service.OnDevicesChanged = nullptr;
  // The owner should have stopped; if the device is still open, close it
  // before its buffers go, or it would go on writing into freed memory.
  if (Busy) {
    Stopping = true;
    Service.waveInStop(WaveInHandle);
    Service.waveInReset(WaveInHandle);
    Service.waveInClose(WaveInHandle);
    Service.waveInUnprepareHeader(WaveInHandle, Header1);
    Service.waveInUnprepareHeader(WaveInHandle, Header2);
  }
  FreeBuffers();
}

bool TWaveRecorder::IsReady() const {
  return (HasDevice || DeviceFree) && parentWidget() != nullptr;
}

bool TWaveRecorder::Start() {
  // While a data handler runs its buffer must stay put, even if a nested
  // close has already ended the capture.
  if (Recording || Busy || DataDepth > 0) {
    FStartResult = MMSYSERR_ALLOCATED;
    return false;
  }
  if (!IsReady()) {
    FStartResult = MMSYSERR_BADDEVICEID;
    return false;
  }
  return StartSteps();
}

bool TWaveRecorder::StartSteps() {
  AllocBuffers();
  Stopping = false;

  WaveFormat.wFormatTag = WAVE_FORMAT_PCM;
  WaveFormat.nChannels = 2;
  WaveFormat.wBitsPerSample = 16;
  WaveFormat.nBlockAlign = uint16_t(WaveFormat.nChannels * WaveFormat.wBitsPerSample / 8);
  WaveFormat.nAvgBytesPerSec = WaveFormat.nBlockAlign * WaveFormat.nSamplesPerSec;
  WaveFormat.cbSize = 0;

  FStartResult =
      Service.waveInOpen(WaveInHandle, HasDevice ? DeviceNumbers[size_t(DeviceId)] : 0, WaveFormat,
                         this);
  if (FStartResult != MMSYSERR_NOERROR) return false;
  Busy = true;
  FEnd = EWaveInEnd::Closed;

  for (TMyWaveHdr* h : {&Header1, &Header2}) {
    h->dwFlags = 0;
    h->dwLoops = 0;
    h->OwnerRecorder = this;
    h->dwBytesRecorded = 0;
  }
  for (TMyWaveHdr* h : {&Header1, &Header2}) {
    if ((FStartResult = Service.waveInPrepareHeader(WaveInHandle, *h)) != MMSYSERR_NOERROR)
      return false;
    if ((FStartResult = Service.waveInAddBuffer(WaveInHandle, *h)) != MMSYSERR_NOERROR)
      return false;
  }
  FStartResult = Service.waveInStart(WaveInHandle);
  return FStartResult == MMSYSERR_NOERROR;
}

void TWaveRecorder::Stop() {
  // Busy rather than Recording: a Stop before the open notification must
  // close the device too.
  if (!IsReady() || !Busy) return;
  Stopping = true;
  Service.waveInStop(WaveInHandle);
  Service.waveInReset(WaveInHandle);
  Service.waveInClose(WaveInHandle);
}

void TWaveRecorder::SetDevice(int32_t Position) {
  if (Position >= 0 && Position < DeviceCount() && !Recording && !Busy) DeviceId = Position;
}

int32_t TWaveRecorder::GetDevice() const { return HasDevice ? DeviceId : -1; }

int32_t TWaveRecorder::DeviceCount() const { return int32_t(FDevices.size()); }

int32_t TWaveRecorder::DeviceNumber() const {
  return HasDevice ? int32_t(DeviceNumbers[size_t(DeviceId)]) : -1;
}

int32_t TWaveRecorder::DeviceNumberAt(int32_t Position) const {
  return Position >= 0 && Position < DeviceCount() ? int32_t(DeviceNumbers[size_t(Position)]) : -1;
}

QString TWaveRecorder::DevicesText() const {
  QString text;
  for (const QString& d : FDevices) text += d + QStringLiteral("\r\n");
  return text;
}

void TWaveRecorder::SetBufferFrames(int32_t Frames) {
  // BufferBytes must stay a positive int32_t.
  if (Recording || Busy) return;
  if (Frames < 1 || Frames > std::numeric_limits<int32_t>::max() / 4) return;
  BufferFrames = Frames;
}

void TWaveRecorder::AllocBuffers() {
  FreeBuffers();
  // Zeroed, so the part of a short last block that was not recorded is silence.
  Header1.lpData = new char[size_t(BufferBytes())]();
  Header2.lpData = new char[size_t(BufferBytes())]();
  Header1.dwBufferLength = uint32_t(BufferBytes());
  Header2.dwBufferLength = uint32_t(BufferBytes());
}

void TWaveRecorder::FreeBuffers() {
  delete[] Header1.lpData;
  Header1.lpData = nullptr;
  delete[] Header2.lpData;
  Header2.lpData = nullptr;
  Header1.dwBufferLength = 0;
  Header2.dwBufferLength = 0;
}

bool TWaveRecorder::event(QEvent* Event) {
  if (Event->type() == TWaveInEvent::EventType()) {
    WaveWndProc(static_cast<const TWaveInEvent&>(*Event));
    return true;
  }
  return QWidget::event(Event);
}

void TWaveRecorder::WaveWndProc(const TWaveInEvent& Msg) {
  switch (Msg.Msg) {
    case MM_WIM_OPEN:
      Recording = true;
      if (OnOpen) OnOpen(this);
      break;
    case MM_WIM_CLOSE:
      Service.waveInUnprepareHeader(WaveInHandle, Header1);
      Service.waveInUnprepareHeader(WaveInHandle, Header2);
      FEnd = Msg.End;
      if (OnClose) OnClose(this);
      Recording = false;
      Busy = false;
      if (DevicesStale) {
        DevicesStale = false;
        DevicesChanged();
      }
      break;
    case MM_WIM_DATA: {
      if (Msg.Header != &Header1 && Msg.Header != &Header2) break;
      TMyWaveHdr& h = *Msg.Header;
      const auto bytes = int32_t(std::min(h.dwBytesRecorded, h.dwBufferLength));
      if (OnData) {
        struct TDepth {
          int& D;
          explicit TDepth(int& D) : D(D) { ++D; }
          ~TDepth() { --D; }
        } depth(DataDepth);
        int32_t done = 0;
        OnData(h.lpData, bytes, bytes / 4, done);
      }
      h.dwBytesRecorded = 0;
      // Stopping may have been set by a Stop handled inside OnData.
      if (!Stopping) Service.waveInAddBuffer(Msg.Handle, h);
      break;
    }
    default:
      break;
  }
}

}  // namespace quenvis
