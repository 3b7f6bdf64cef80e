#pragma once
// A scripted wave-input service for tests: a device table, buffers filled on
// demand, any call made to fail. Stream rules and notifications are the real
// service's own (TWaveInStreamService).

#include "capture/UMyMMSystem.h"

#include <QByteArray>

#include <array>
#include <cstdint>
#include <vector>

namespace quenvis {

class TFakeWaveInService : public TWaveInStreamService {
  Q_OBJECT
 public:
  enum class ECall {
    GetNumDevs,
    GetDevCaps,
    Open,
    Prepare,
    AddBuffer,
    Start,
    Stop,
    Reset,
    Close,
    Unprepare,
    Count
  };

  struct TDevice {
    QByteArray Name;  // copied into szPname as is, so a test may fill all 32 bytes
    uint32_t Formats = WAVE_FORMAT_4S16;
    uint32_t Version = 0x0100;
    MMRESULT CapsResult = MMSYSERR_NOERROR;
    bool Monitor = false;
  };

  struct TCall {
    ECall Call;
    HWAVEIN Handle;
    const TMyWaveHdr* Header;
    MMRESULT Result;
  };

  explicit TFakeWaveInService(std::vector<TDevice> Devices = {}, QObject* Parent = nullptr);

  std::vector<TDevice> Devices;
  // Each call answers this code instead of doing its work while it is not 0.
  std::array<MMRESULT, size_t(ECall::Count)> FailWith{};
  std::array<int, size_t(ECall::Count)> Calls{};
  bool Logging = true;
  std::vector<TCall> Log;
  int64_t OpenedDevice = -1;

  // While started, writes Bytes bytes of a running byte counter into the
  // queued buffers in turn, returning each one that fills; without a queued
  // buffer the rest is dropped. Returns the bytes written into buffers.
  uint32_t Fill(uint32_t Bytes);
  uint32_t FillBlocks(int Blocks);  // Blocks full buffers' worth
  // The device vanishes: the stream takes the stop path by itself.
  void Vanish(EWaveInEnd Why = EWaveInEnd::DeviceRemoved) { Fail(Why); }
  // The device list changed: tell whoever listens, as a real service would.
  void DevicesChanged() {
    if (OnDevicesChanged) OnDevicesChanged();
  }
  uint8_t NextByte() const { return FCounter; }

  int CallCount(ECall C) const { return Calls[size_t(C)]; }
  void ClearLog();

  uint32_t waveInGetNumDevs() override;
  MMRESULT waveInGetDevCaps(uint32_t DeviceId, TWaveInCaps& Caps) override;
  MMRESULT waveInOpen(HWAVEIN& Handle, uint32_t DeviceId, const TWaveFormatEx& Format,
                      QObject* Target) override;
  MMRESULT waveInPrepareHeader(HWAVEIN Handle, TMyWaveHdr& Header) override;
  MMRESULT waveInAddBuffer(HWAVEIN Handle, TMyWaveHdr& Header) override;
  MMRESULT waveInStart(HWAVEIN Handle) override;
  MMRESULT waveInStop(HWAVEIN Handle) override;
  MMRESULT waveInReset(HWAVEIN Handle) override;
  MMRESULT waveInClose(HWAVEIN Handle) override;
  MMRESULT waveInUnprepareHeader(HWAVEIN Handle, TMyWaveHdr& Header) override;

 protected:
  MMRESULT DoOpen(uint32_t DeviceId, const TWaveFormatEx& Format) override;
  MMRESULT DoStart() override { return MMSYSERR_NOERROR; }
  void DoStop() override {}
  void DoClose() override {}

 private:
  MMRESULT Record(ECall C, HWAVEIN Handle, const TMyWaveHdr* Header, MMRESULT Result);
  template <class TWork>
  MMRESULT Call(ECall C, HWAVEIN Handle, const TMyWaveHdr* Header, TWork Work) {
    if (MMRESULT injected = FailWith[size_t(C)]) return Record(C, Handle, Header, injected);
    return Record(C, Handle, Header, Work());
  }
  uint32_t FLastLength = 0;
  uint8_t FCounter = 0;
};

}  // namespace quenvis
