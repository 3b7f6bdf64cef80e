#include "capture/WaveInRouter.h"

namespace quenvis {

CWaveInRouter::CWaveInRouter(CWaveInService& Live, CWaveInService& File)
    : FLive(Live), FFile(File) {
  FLive.OnDevicesChanged = [this] {
    if (OnDevicesChanged) OnDevicesChanged();
  };
}

CWaveInRouter::~CWaveInRouter() { FLive.OnDevicesChanged = nullptr; }

MMRESULT CWaveInRouter::waveInOpen(HWAVEIN& Handle, uint32_t DeviceId, const TWaveFormatEx& Format,
                                   QObject* Target) {
  // The file player has one device, the file, whatever entry is chosen.
  CWaveInService& to = FUseFile ? FFile : FLive;
  const MMRESULT r = to.waveInOpen(Handle, FUseFile ? 0 : DeviceId, Format, Target);
  if (r == MMSYSERR_NOERROR) FOpenedOnFile = FUseFile;
  return r;
}

}  // namespace quenvis
