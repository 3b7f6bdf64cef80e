#pragma once
// A take's FLAC stream, 44 100 Hz stereo 16-bit, encoded into a descriptor so
// that the file on disk is always a valid stream up to its last whole frame:
// a frame that cannot be written whole (a full disk) is cut off again, and
// Sync makes the frames durable and then writes their sample count into the
// header, so that after a kill or a power cut the header gives the length to
// within a sync.
#include <FLAC/stream_encoder.h>

#include <cstdint>
#include <string>

namespace quenvis {

class CFlacTakeEncoder {
 public:
  CFlacTakeEncoder() = default;
  ~CFlacTakeEncoder();
  CFlacTakeEncoder(const CFlacTakeEncoder&) = delete;
  CFlacTakeEncoder& operator=(const CFlacTakeEncoder&) = delete;

  // Writes the stream's header into Fd (not taken; an empty file). Returns
  // an empty string or why not.
  std::string Open(int Fd);
  // Interleaved stereo frames. False once a write failed (errno in Error).
  bool Write(const std::int16_t* Frames, std::int32_t Count);
  // Makes the whole frames durable and the header's sample count theirs.
  bool Sync();
  // Encodes what the encoder holds, completes the header and syncs; after a
  // failure keeps the whole frames only. False when anything failed.
  bool Close();

  // Frames of sound in whole FLAC frames on disk.
  std::int64_t FramesOnDisk() const noexcept { return FSamplesWritten; }
  int Error() const noexcept { return FError; }

  // The header's sample count of a FLAC file, -1 when it is not one.
  static std::int64_t HeaderFrames(int Fd);

 private:
  static FLAC__StreamEncoderWriteStatus WriteCallback(const FLAC__StreamEncoder*,
                                                      const FLAC__byte Buffer[], size_t Bytes,
                                                      uint32_t Samples, uint32_t, void* Self);
  static FLAC__StreamEncoderSeekStatus SeekCallback(const FLAC__StreamEncoder*,
                                                    FLAC__uint64 Offset, void* Self);
  static FLAC__StreamEncoderTellStatus TellCallback(const FLAC__StreamEncoder*,
                                                    FLAC__uint64* Offset, void* Self);
  bool WriteAt(const unsigned char* Data, std::size_t Bytes, std::uint64_t At);
  bool WriteCount(std::int64_t Frames);
  void Fail(int Error);

  FLAC__StreamEncoder* FEncoder = nullptr;
  int FFd = -1;
  std::uint64_t FPosition = 0;   // where the encoder writes next
  std::uint64_t FWholeEnd = 0;   // the end of the last whole frame
  std::int64_t FSamplesWritten = 0;
  bool FFailed = false, FClosing = false;
  int FError = 0;
};

}  // namespace quenvis
