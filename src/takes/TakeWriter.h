#pragma once
// Writes a take to disk on a thread of its own: the sound as captured (FLAC
// or WAV, 44 100 Hz stereo 16-bit) and its formants.csv and voice.csv, in
// the columns quenvis-render writes.
//
// The UI thread hands blocks over through a bounded queue of preallocated
// slots and never waits: a block that finds the queue full is lost and
// counted. About once a second the writer makes what it has written durable
// and readable after a kill or a power cut: the sound is synced, then its
// header (WAV or FLAC) gets the length synced, then the tables get the lines
// of the blocks whose sound is on disk, whole lines only, so that they never
// run past the sound.
//
// A fault (disk full, the folder gone) ends the writing; the file keeps what
// was written up to its last whole frame, and a file whose folder was removed
// is put back in a folder made again at the same place. A take with no sound
// on disk leaves no files.
#include <sndfile.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

#include "analysis/Common.h"
#include "analysis/FormantTracker.h"
#include "analysis/VoiceMeasures.h"
#include "takes/FlacTakeEncoder.h"

namespace quenvis {

class CLine;

enum class ETakeFormat { Flac, Wav };

class CTakeWriter {
 public:
  // About six seconds of blocks.
  static constexpr int QueueBlocks = 128;
  // Blocks between two steps that make the files readable after a crash.
  static constexpr int SyncBlocks = 22;
  // Blocks queued before the writer is woken; waking it per block cost more
  // than the writing.
  static constexpr int WakeBlocks = 4;

  CTakeWriter();
  // Writes what is queued and closes the files (waits for the disk).
  ~CTakeWriter();
  CTakeWriter(const CTakeWriter&) = delete;
  CTakeWriter& operator=(const CTakeWriter&) = delete;

  // Creates Folder (with its parents) if needed and the take's files,
  // Stem.flac or Stem.wav, Stem.formants.csv and Stem.voice.csv (Stem-2...
  // when taken), and starts the writing thread. Returns an empty string or
  // one line why not.
  std::string Start(const std::string& Folder, const std::string& Stem, ETakeFormat Format);
  const std::string& SoundPath() const noexcept { return FSoundPath; }
  const std::string& TablePath() const noexcept { return FTablePath; }
  const std::string& VoicePath() const noexcept { return FVoicePath; }

  // UI thread. Frames of the block's BlockFrames hold sound; a block without
  // any is no part of the take. False when the block was lost (queue full)
  // or the writing has ended.
  bool Push(const void* Samples, std::int32_t Frames, const TFormants& Formants,
            const TVoice& Voice = {}) noexcept;
  // Ends the take once the queue is written; returns at once.
  void Finish() noexcept;

  // Called on the writing thread once the files are closed, after the take
  // was finished or a fault ended it.
  std::function<void()> OnEvent;

  bool Done() const noexcept { return FDone.load(std::memory_order_acquire); }
  // Once Done: why the writing ended early, empty when it did not.
  std::string Fault() const;
  std::int64_t LostBlocks() const noexcept { return FLost.load(std::memory_order_relaxed); }
  std::int64_t PushedBlocks() const noexcept { return FHead.load(std::memory_order_relaxed); }
  std::int64_t WrittenFrames() const noexcept {
    return FWrittenFrames.load(std::memory_order_relaxed);
  }
  // Once Done: whether the take's files were kept (they hold sound).
  bool Kept() const noexcept { return FKept; }

 private:
  struct TSlot {
    std::array<unsigned char, BlockBytes> Samples;
    std::int32_t Frames;
    TFormants Formants;
    TVoice Voice;
  };
  void Run();
  bool WriteSlot(const TSlot& Slot, std::int64_t Block);
  void Sync();
  std::int64_t FramesOnDisk() const noexcept;
  // Appends to the table the pending lines of blocks whose sound is on disk.
  bool WriteLines(std::int64_t FramesOnDisk);
  bool FolderStillThere() const;
  void Close();
  void SetFault(std::string Text);

  std::vector<TSlot> FSlots;
  std::atomic<std::int64_t> FHead{0}, FTail{0};
  std::atomic<std::int64_t> FLost{0}, FWrittenFrames{0};
  std::atomic<bool> FStop{false}, FFaulted{false}, FDone{false};
  std::counting_semaphore<> FWake{0};
  std::thread FThread;
  std::string FFault;

  // The writing thread's own from Start on.
  std::string FFolder, FSoundPath, FTablePath, FVoicePath;
  int FSoundFd = -1;
  SNDFILE* FSound = nullptr;  // WAV
  std::unique_ptr<CFlacTakeEncoder> FFlac;
  bool FWav = false;
  int FTableFd = -1, FVoiceFd = -1;
  std::int64_t FTableBytes = 0;  // whole lines on disk
  // Lines not yet in the table, and where each ends with the frames of
  // sound its block ends at.
  std::string FPending;
  struct TPendingLine {
    std::size_t End;
    std::int64_t FramesEnd;
  };
  std::vector<TPendingLine> FPendingLines;
  std::int64_t FFramesTaken = 0;
  bool FKept = false;
  // The voice table's lines, one per pending formants line (same blocks).
  std::int64_t FVoiceBytes = 0;
  std::string FVoicePending;
  std::vector<std::size_t> FVoiceEnds;
  std::unique_ptr<CLine> FLine;
  std::vector<std::int16_t> FFrames;
  bool FVanished = false;
};

// "quenvis-2026-12-08_14-05-09": a take named by its local start time.
std::string TakeStem(std::int64_t SecondsSinceEpoch);

}  // namespace quenvis
