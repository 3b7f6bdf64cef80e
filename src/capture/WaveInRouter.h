#pragma once
// Puts a recording in the place of live capture: a wave-input service that
// passes every call to the capture service or to the file player. The device
// list is always the capture service's; a stream belongs to the service that
// opened it, whatever is chosen meanwhile.

#include "capture/UMyMMSystem.h"

namespace quenvis {

class CWaveInRouter : public CWaveInService {
 public:
  // Both must outlive the router.
  CWaveInRouter(CWaveInService& Live, CWaveInService& File);
  ~CWaveInRouter() override;

  // Which service the next waveInOpen goes to.
  void UseFile(bool File) noexcept { FUseFile = File; }
  bool UsingFile() const noexcept { return FUseFile; }

  uint32_t waveInGetNumDevs() override { return FLive.waveInGetNumDevs(); }
  MMRESULT waveInGetDevCaps(uint32_t DeviceId, TWaveInCaps& Caps) override {
    return FLive.waveInGetDevCaps(DeviceId, Caps);
  }
  MMRESULT waveInOpen(HWAVEIN& Handle, uint32_t DeviceId, const TWaveFormatEx& Format,
                      QObject* Target) override;
  MMRESULT waveInPrepareHeader(HWAVEIN Handle, TMyWaveHdr& Header) override {
    return Owner().waveInPrepareHeader(Handle, Header);
  }
  MMRESULT waveInAddBuffer(HWAVEIN Handle, TMyWaveHdr& Header) override {
    return Owner().waveInAddBuffer(Handle, Header);
  }
  MMRESULT waveInStart(HWAVEIN Handle) override { return Owner().waveInStart(Handle); }
  MMRESULT waveInStop(HWAVEIN Handle) override { return Owner().waveInStop(Handle); }
  MMRESULT waveInReset(HWAVEIN Handle) override { return Owner().waveInReset(Handle); }
  MMRESULT waveInClose(HWAVEIN Handle) override { return Owner().waveInClose(Handle); }
  MMRESULT waveInUnprepareHeader(HWAVEIN Handle, TMyWaveHdr& Header) override {
    return Owner().waveInUnprepareHeader(Handle, Header);
  }

 private:
  CWaveInService& Owner() noexcept { return FOpenedOnFile ? FFile : FLive; }

  CWaveInService& FLive;
  CWaveInService& FFile;
  bool FUseFile = false;
  bool FOpenedOnFile = false;  // the latest stream's service
};

}  // namespace quenvis
