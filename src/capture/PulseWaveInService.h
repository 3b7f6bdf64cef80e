#pragma once
// The native capture service on Linux, over the PulseAudio client library,
// which PipeWire's server answers too.
//
// The client library runs its own thread (a threaded main loop). Its
// callbacks only raise flags and wake the UI thread through an eventfd; all
// the work, copying sound into the queued buffers included, happens on the UI
// thread under the loop's lock. Sound stays in the server's stream while no
// buffer is queued, so nothing is dropped here.
//
// Devices are all sources, inputs first, then the monitors of outputs. A
// device number names one source (by its name) for the service's whole life,
// so it survives server restarts and other sources coming and going; sources
// seen later get the next numbers. The name is the source's description, the
// version the sound server's major.minor. While the server is gone the last
// list stays, opening fails with MMSYSERR_NODRIVER, and the service tries to
// reconnect about once a second; OnDevicesChanged tells when a new list
// differs from the last one, and of the first list after the server is back.
//
// Streams ask for one fragment of FragmentFrames with adjusted latency, so
// the server sends one block at a time, evenly. A stream whose source or
// server goes away fails at once, as does one the server ends while its
// source stays; a started stream that brings nothing for SilenceTimeoutMs (a
// suspended source, say) fails too. Every stream let go of is ended on the
// server, also one the server has not finished creating.

#include "capture/UMyMMSystem.h"

#include <memory>

namespace quenvis {

class TPulseWaveInService : public TWaveInStreamService {
  Q_OBJECT
 public:
  static constexpr uint32_t FragmentFrames = 2048;
  static constexpr int ReconnectPeriodMs = 1000;
  // How long construction waits for a first device list.
  static constexpr int ConnectWaitMs = 2000;

  explicit TPulseWaveInService(QObject* Parent = nullptr);
  ~TPulseWaveInService() override;

  uint32_t waveInGetNumDevs() override;
  MMRESULT waveInGetDevCaps(uint32_t DeviceId, TWaveInCaps& Caps) override;

  // True while connected to a sound server.
  bool IsConnected() const;

 protected:
  MMRESULT DoOpen(uint32_t DeviceId, const TWaveFormatEx& Format) override;
  MMRESULT DoStart() override;
  void DoStop() override;
  void DoClose() override;
  void BufferAdded() override;

 private:
  struct TImpl;
  void Connect();
  void Reconnect();
  void Serve();
  void ReadStream();
  void Watch();
  void ReleaseStream();
  std::unique_ptr<TImpl> FImpl;
};

}  // namespace quenvis
