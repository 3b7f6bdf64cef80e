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

  // Returns an empty string, or one line naming the file and the reason.
  std::string Open(const std::string& Path);

  // Fills Block with the next frames; the rest of a short last block stays
  // silent, and a mono recording feeds both channels. Returns the number of
  // frames read, 0 at the end. Error() tells whether the end was a failure.
  std::int32_t Next(TSampleBlock& Block);
  const std::string& Error() const noexcept { return FError; }

  // Number of blocks the recording holds.
  std::int64_t Blocks() const noexcept { return FBlocks; }

 private:
  struct TSndFileCloser {
    void operator()(SNDFILE* f) const noexcept { sf_close(f); }
  };
  std::unique_ptr<SNDFILE, TSndFileCloser> FFile;
  std::string FPath, FError;
  int FChannels = 0;
  std::int64_t FBlocks = 0, FBlock = 0;
  std::vector<std::int16_t> FSamples;
};

}  // namespace quenvis
