#pragma once
// The capture service over Qt Multimedia, for platforms without a native one
// (and on Linux when QUENVIS_AUDIO=qt). Devices are Qt's audio inputs, listed
// at waveInGetNumDevs; a device number keeps naming the same input (by its id)
// until the next waveInGetNumDevs. Qt reports no driver version; the Qt
// runtime's major.minor stands in for it.
//
// Qt polls the sound server about every 50 ms and hands over whatever came,
// often more than one 2048-frame buffer. Bytes go straight from Qt into the
// queued buffers; while none is queued, up to 100 ms wait in the stream for
// the next one, and anything beyond that is dropped and counted.

#include "capture/UMyMMSystem.h"

#include <memory>

namespace quenvis {

class TQtWaveInService : public TWaveInStreamService {
  Q_OBJECT
 public:
  explicit TQtWaveInService(QObject* Parent = nullptr);
  ~TQtWaveInService() override;

  uint32_t waveInGetNumDevs() override;
  MMRESULT waveInGetDevCaps(uint32_t DeviceId, TWaveInCaps& Caps) override;

  // The version word standing for the driver version, which Qt does not
  // report: the Qt runtime's major.minor.
  static uint32_t DriverVersion();

 protected:
  MMRESULT DoOpen(uint32_t DeviceId, const TWaveFormatEx& Format) override;
  MMRESULT DoStart() override;
  void DoStop() override;
  void DoClose() override;
  void BufferAdded() override;

 private:
  struct TImpl;
  void ReadAvailable();
  void Watch();
  std::unique_ptr<TImpl> FImpl;
};

}  // namespace quenvis
