#pragma once
// Writes a take to disk on a thread of its own: the sound as captured (FLAC
// or WAV, 44 100 Hz stereo 16-bit) and its formants.csv and voice.csv, in
// the columns quenvis-render writes.
//
// The UI thread hands blocks over through a bounded queue of preallocated
// slots and never waits: a block that finds the queue full is lost and
// counted. About once a second the writer makes what it has written readable
// after a crash: a WAV header is brought up to date; a FLAC stream needs
// nothing, since libsndfile hands every encoded frame to the file at once
// and its header's sample count of 0 means "unknown" to readers, so a crash
// loses at most the frame being encoded (0.1 s). The tables are flushed at
// the same time.
//
// A fault (disk full, the folder gone) ends the writing; the file keeps what
// was written, and a file whose folder was removed is put back in a folder
// made again at the same place.
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

  // UI thread. Frames of the block's BlockFrames hold sound. False when the
  // block was lost (queue full) or the writing has ended.
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
  SNDFILE* FSound = nullptr;
  bool FWav = false;
  std::FILE* FTable = nullptr;
  std::FILE* FVoice = nullptr;
  std::unique_ptr<CLine> FLine;
  std::vector<std::int16_t> FFrames;
  bool FVanished = false;
};

// "quenvis-2026-12-08_14-05-09": a take named by its local start time.
std::string TakeStem(std::int64_t SecondsSinceEpoch);

}  // namespace quenvis
