#pragma once
// A recording played as if it were being captured: a wave-input service with
// one device, the file. Blocks come as quenvis-render reads them (any format
// and rate it reads, resampled to 44 100 Hz stereo 16-bit), at the pace of
// the chosen speed, and their sound goes to the default output at the same
// pace (slower playback plays the same frames at a lower rate: lower pitch).
//
// The file is decoded on a thread of its own, a little ahead of the playing
// (about 95 s) and kept a little behind it (about 24 s), so that memory stays
// bounded whatever the length; a seek elsewhere makes the decoder seek in
// the file. A block is handed
// out whole: the short last block of a file is filled with silence, as
// quenvis-render analyses it.
//
// Playing stops at the end of the take (or goes back to the start of the
// loop); the stream stays open, so seeking back plays on.

#include "analysis/Common.h"
#include "capture/SoundOutput.h"
#include "capture/UMyMMSystem.h"

#include <QElapsedTimer>
#include <QString>
#include <QTimer>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quenvis {

class CRecordingReader;

class TFileWaveInService : public TWaveInStreamService {
  Q_OBJECT
 public:
  // Blocks of each piece of decoded sound (2 MB, about 12 s).
  static constexpr int ChunkBlocks = 256;
  // Pieces decoded ahead of the playing, and kept behind it.
  static constexpr int AheadChunks = 8, BehindChunks = 2;
  // Blocks of sound written ahead of the picture at most (about 560 ms): a
  // window or a machine busy for that long leaves no gap in the sound.
  static constexpr int LeadBlocks = 12;

  // Output: where the sound goes; none plays nothing.
  explicit TFileWaveInService(std::unique_ptr<CSoundOutput> Output = nullptr,
                              QObject* Parent = nullptr);
  ~TFileWaveInService() override;

  // Replaces where the sound goes (not while a stream is open).
  void SetOutput(std::unique_ptr<CSoundOutput> Output);

  // Opens a recording and starts decoding it; the one before goes. Returns
  // an empty string or one line naming the file and the reason. Not while
  // a stream is open.
  std::string Load(const std::string& Path);
  bool Loaded() const noexcept { return FLoaded; }
  const std::string& Path() const noexcept { return FPath; }

  uint32_t waveInGetNumDevs() override { return FLoaded ? 1 : 0; }
  MMRESULT waveInGetDevCaps(uint32_t DeviceId, TWaveInCaps& Caps) override;

  // Playing, all on the UI thread. Times are seconds of the take.
  // The take's blocks once Complete (its end was decoded), until then the
  // end of what is decoded.
  std::int64_t Blocks() const noexcept;
  bool Complete() const noexcept { return FComplete.load(std::memory_order_acquire); }
  // Why decoding ended early, once Complete; empty when it did not.
  std::string DecodeError() const;
  // Once Complete: the file holds less than its header announced (cut short).
  bool EndsEarly() const;
  // The take's length: what the header announces until all is decoded.
  double Length() const noexcept;
  // The time at the end of the block last handed out.
  double Position() const noexcept;
  // Where the sound heard now is: Position less what the output still holds,
  // while it plays and says how much; Position otherwise.
  double HeardPosition();
  // The time at the start of the block a buffer handed out holds (of the
  // latest two), -1 for another buffer.
  double TimeOf(const void* Buffer) const noexcept;
  void Seek(double Seconds);
  void SetPaused(bool Paused);
  bool Paused() const noexcept { return FPaused; }
  // 1, 0.5 or 0.25 (anything in 0.1..1).
  void SetSpeed(double Speed);
  double Speed() const noexcept { return FSpeed; }
  // Plays From..To again and again; To <= From loops the whole take.
  void SetLoop(bool On, double From = 0, double To = 0);
  bool Looping() const noexcept { return FLoop; }
  // Without pacing nothing is handed out by itself: Step does it, as the
  // timer would, for tests.
  void SetPacing(bool On);
  // Hands out up to Blocks blocks now (as many as buffers are queued).
  int Step(int Blocks);

  // Times the sound ran dry while playing on (not after a pause, a seek or
  // the end).
  std::int64_t Dropouts() const noexcept { return FDropouts; }

  // After each block handed out, and after a seek.
  std::function<void()> OnPosition;

 protected:
  MMRESULT DoOpen(uint32_t DeviceId, const TWaveFormatEx& Format) override;
  MMRESULT DoStart() override;
  void DoStop() override;
  void DoClose() override;
  void BufferAdded() override;

 private:
  struct TChunk;
  void Decode(CRecordingReader& Reader);
  bool Available(std::int64_t Block) const;
  // Asks the decoder for Block (seeking when it is far from what it decodes).
  void NeedBlock(std::int64_t Block);
  void SetPlayBlock(std::int64_t Block);
  // Copies the decoded block to To; false when it is not there.
  bool CopyBlock(std::int64_t Block, void* To) const;
  void StopDecoding();
  bool Deliver();
  void Pump();
  void FeedSound();
  // Whether the sound of the block handed out next is written (or none is
  // to be); writes ahead when it can.
  bool SoundWritten();
  void FlushSound();
  void Rebase();
  void Schedule();
  std::int64_t LoopEnd() const noexcept;

  std::unique_ptr<CSoundOutput> FOutput;
  std::string FPath;
  bool FLoaded = false;

  // Decoding: the thread appends chunks and counts finished blocks.
  std::thread FDecoder;
  std::atomic<bool> FStopDecoding{false};
  mutable std::mutex FChunksLock;
  std::vector<std::unique_ptr<TChunk>> FChunks;
  std::condition_variable FDecodeWake;
  std::atomic<std::int64_t> FDecoded{0};  // the end of the decoded blocks
  std::atomic<std::int64_t> FTotal{-1};   // once Complete
  std::atomic<std::int64_t> FPlayBlock{0};
  std::int64_t FFirst = 0;                // the first decoded block held, under FChunksLock
  std::int64_t FSeekTo = -1;              // asked of the decoder, under FChunksLock
  std::atomic<bool> FComplete{false};
  std::string FDecodeError;  // under FChunksLock
  bool FEndsEarly = false;   // under FChunksLock
  std::int64_t FExpected = -1;

  // Playing.
  std::int64_t FNext = 0;  // the block handed out next
  bool FPaused = false;
  bool FPacing = true;
  double FSpeed = 1.0;
  bool FLoop = false;
  std::int64_t FLoopFrom = 0, FLoopTo = 0;
  bool FSounding = false;
  std::int64_t FAudioNext = 0;  // the block whose sound is written next
  std::array<unsigned char, BlockBytes> FSoundBlock{};
  std::int64_t FSeenUnderruns = 0, FDropouts = 0;
  bool FCountUnderruns = false;
  bool FWaitingForSound = false;
  struct THanded {
    const void* Buffer = nullptr;
    std::int64_t Block = 0;
  };
  std::array<THanded, 2> FHanded{};
  int FHandedAt = 0;
  // Block FBaseBlock was due at FClock's start.
  QElapsedTimer FClock;
  std::int64_t FBaseBlock = 0;
  QTimer FTimer;
  QTimer FCloseOutput;
};

}  // namespace quenvis
