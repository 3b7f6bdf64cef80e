#pragma once
// Where a recording's sound goes while it plays: the default output device.
// Stereo signed 16-bit frames, written ahead of the picture as far as Room
// allows, so that the stream's queue covers the scheduling's jitter; a write
// that finds the queue full drops the rest rather than wait.
#include <cstdint>
#include <memory>

namespace quenvis {

class CSoundOutput {
 public:
  virtual ~CSoundOutput() = default;
  // Begins a stream at Rate frames per second (slower playback plays the
  // same frames at a lower rate); false when nothing can play.
  virtual bool Open(std::uint32_t Rate) = 0;
  virtual void Write(const void* Frames, std::uint32_t Bytes) = 0;
  // Bytes that can be written now without dropping any.
  virtual std::uint32_t Room() = 0;
  // Times the stream ran dry since it was opened.
  virtual std::int64_t Underruns() const { return 0; }
  // Seconds between the end of what was written and what is heard now (the
  // queue and the device); negative while unknown.
  virtual double Latency() { return -1; }
  virtual void SetRate(std::uint32_t Rate) = 0;
  // Drops what is queued and not yet heard (pause, seek).
  virtual void Flush() = 0;
  virtual void Close() = 0;
};

// Plays nothing: for tests, and where no output can be had.
class CSilentOutput final : public CSoundOutput {
 public:
  bool Open(std::uint32_t) override { return true; }
  void Write(const void*, std::uint32_t) override {}
  std::uint32_t Room() override { return 1u << 30; }
  void SetRate(std::uint32_t) override {}
  void Flush() override {}
  void Close() override {}
};

// The native output where capture is native (PulseAudio), Qt's otherwise;
// QUENVIS_AUDIO=qt chooses Qt as for capture.
std::unique_ptr<CSoundOutput> MakeSoundOutput();

}  // namespace quenvis
