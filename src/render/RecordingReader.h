#pragma once
// Reads a recording as the capture layer would deliver it: blocks of 2048
// stereo frames, interleaved signed 16-bit little-endian.
#include <sndfile.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "analysis/Common.h"

namespace quenvis {

using TSampleBlock = std::array<unsigned char, BlockBytes>;

class CRecordingReader {
 public:
  CRecordingReader();
  ~CRecordingReader();
  CRecordingReader(const CRecordingReader&) = delete;
  CRecordingReader& operator=(const CRecordingReader&) = delete;

  // Path "-" reads standard input. Returns an empty string, or one line
  // naming the input and the reason.
  std::string Open(const std::string& Path);

  // Fills Block with the next frames; the rest of a short last block stays
  // silent, and a mono recording feeds both channels. Returns the number of
  // frames, 0 at the end: the reader reads until the file gives no more,
  // whatever its header claimed. Error() tells whether the end was a failure.
  std::int32_t Next(TSampleBlock& Block);
  const std::string& Error() const noexcept { return FError; }

  // Blocks the header announces, -1 when it does not say (streams, some
  // encodings).
  std::int64_t ExpectedBlocks() const noexcept;
  // Lines for the user once reading is over (the file ended early, ...).
  std::vector<std::string> Notes() const;

 private:
  struct TSndFileCloser {
    void operator()(SNDFILE* f) const noexcept { sf_close(f); }
  };
  // Fills up to Frames frames of FSamples; fewer only at the end.
  std::int64_t Fill(std::int64_t Frames);

  std::unique_ptr<SNDFILE, TSndFileCloser> FFile;
  int FFd = -1;
  std::string FName, FError;
  int FChannels = 0;
  std::int64_t FExpectedFrames = -1, FFramesRead = 0;
  bool FEnded = false, FEndedEarly = false;
  std::vector<std::int16_t> FSamples;
};

// How an input is named in messages: standard input and an empty name are
// spelled out.
std::string InputName(const std::string& Path);

}  // namespace quenvis
