#pragma once
// Reads a recording as the capture layer would deliver it: blocks of 2048
// stereo frames at 44 100 Hz, interleaved signed 16-bit little-endian. Other
// rates are resampled (libsoxr, high quality); of more than two channels the
// first two are taken.
#include <sndfile.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "analysis/Common.h"

struct soxr;

namespace quenvis {

using TSampleBlock = std::array<unsigned char, BlockBytes>;

class CRecordingReader {
 public:
  CRecordingReader();
  ~CRecordingReader();
  CRecordingReader(const CRecordingReader&) = delete;
  CRecordingReader& operator=(const CRecordingReader&) = delete;

  // Path "-" reads standard input. Inputs that cannot seek (pipes, FIFOs,
  // devices) are first copied to an unnamed temporary file, which goes when
  // the reader does. Returns an empty string, or one line naming the input
  // and the reason.
  std::string Open(const std::string& Path);
  // When Stop becomes true, waiting for input ends and Open reports
  // "interrupted". Set before Open.
  void SetStop(const std::atomic<bool>* Stop) noexcept { FStop = Stop; }

  // Fills Block with the next frames; the rest of a short last block stays
  // silent, and a mono recording feeds both channels. Returns the number of
  // frames, 0 at the end: the reader reads until the file gives no more,
  // whatever its header claimed. Error() tells whether the end was a failure.
  std::int32_t Next(TSampleBlock& Block);
  const std::string& Error() const noexcept { return FError; }
  // Goes to Frame (at 44 100 Hz) of the recording, so that Next reads from
  // there; a resampled recording starts its resampling afresh. False when
  // the input cannot go there.
  bool Seek(std::int64_t Frame);

  // Blocks (after resampling) the header announces, -1 when it does not say
  // (streams, some encodings). Only a hint: headers lie.
  std::int64_t ExpectedBlocks() const noexcept;
  // The file's own sample rate (0 before Open succeeds).
  int SourceRate() const noexcept { return FRate; }
  // Frames of the file read so far, at its own rate.
  std::int64_t FramesRead() const noexcept { return FFramesRead; }
  // Once reading is over: the file held less than its header announced.
  bool EndedEarly() const noexcept { return FEndedEarly; }
  // Lines for the user once reading is over (the file ended early, ...).
  std::vector<std::string> Notes() const;

 private:
  struct TSndFileCloser {
    void operator()(SNDFILE* f) const noexcept { sf_close(f); }
  };
  struct TResamplerDeleter {
    void operator()(::soxr* r) const noexcept;
  };
  // Copies a non-seekable input into an unnamed temporary file, waiting on
  // it no longer than a stop request allows. Returns the copy's descriptor,
  // or -1 with FError set.
  int Spool(int From);
  // Fills up to one block of stereo frames of FSamples from the file; fewer
  // only at the end.
  std::int64_t Fill();
  // Fills FSamples with up to one block of stereo 44 100 Hz frames through the resampler.
  std::int64_t FillResampled();
  // Reads up to Frames frames of the file as floats into FFloats; 0 at the end.
  std::int64_t ReadFloats(std::int64_t Frames);

  std::unique_ptr<SNDFILE, TSndFileCloser> FFile;
  // The reader's own descriptor, closed only by the destructor: libsndfile
  // reads it through FIo.
  int FFd = -1;
  SF_VIRTUAL_IO FIo{};
  const std::atomic<bool>* FStop = nullptr;
  std::string FName, FError;
  int FChannels = 0, FRate = 0;
  std::int64_t FExpectedFrames = -1, FFramesRead = 0;
  bool FEnded = false, FEndedEarly = false, FFlushed = false;
  // Every format is read as floats (integer reads of float files lose all
  // but the sign) and turned into stereo 16-bit frames here.
  std::vector<float> FFloats;
  std::vector<std::int16_t> FSamples;
  // Resampling: the file's first two channels, and the converted stereo
  // frames not yet handed out (from FPendingAt on).
  std::unique_ptr<::soxr, TResamplerDeleter> FResampler;
  std::vector<float> FStereoIn, FStereoOut;
  std::vector<std::int16_t> FPending;
  std::size_t FPendingAt = 0;
};

// How an input is named in messages: standard input and an empty name are
// spelled out.
std::string InputName(const std::string& Path);

}  // namespace quenvis
