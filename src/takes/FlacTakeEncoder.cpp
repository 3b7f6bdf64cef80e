#include "takes/FlacTakeEncoder.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "analysis/Common.h"

namespace quenvis {

namespace {

// "fLaC", the STREAMINFO block's 4-byte header, then its fields: the 36-bit
// total sample count starts in the low nibble of the block's byte 13.
constexpr off_t CountOffset = 4 + 4 + 13;

}  // namespace

CFlacTakeEncoder::~CFlacTakeEncoder() {
  if (FEncoder) Close();
}

std::string CFlacTakeEncoder::Open(int Fd) {
  FFd = Fd;
  FEncoder = FLAC__stream_encoder_new();
  if (!FEncoder) return "cannot make a FLAC encoder";
  FLAC__stream_encoder_set_channels(FEncoder, 2);
  FLAC__stream_encoder_set_bits_per_sample(FEncoder, 16);
  FLAC__stream_encoder_set_sample_rate(FEncoder, SampleRate);
  // A light compression: the file is a little larger, the writing much cheaper.
  FLAC__stream_encoder_set_compression_level(FEncoder, 0);
  const FLAC__StreamEncoderInitStatus status = FLAC__stream_encoder_init_stream(
      FEncoder, &WriteCallback, &SeekCallback, &TellCallback, nullptr, this);
  if (status != FLAC__STREAM_ENCODER_INIT_STATUS_OK || FFailed) {
    const std::string why = FFailed ? std::strerror(FError)
                                    : FLAC__StreamEncoderInitStatusString[status];
    FLAC__stream_encoder_delete(FEncoder);
    FEncoder = nullptr;
    return "cannot start the FLAC stream: " + why;
  }
  return {};
}

bool CFlacTakeEncoder::Write(const std::int16_t* Frames, std::int32_t Count) {
  if (FFailed || !FEncoder) return false;
  // libFLAC takes 32-bit samples; a block's worth at a time on the stack.
  std::array<FLAC__int32, 2 * 1024> wide;
  for (std::int32_t done = 0; done < Count;) {
    const std::int32_t n = std::min<std::int32_t>(Count - done, std::int32_t(wide.size() / 2));
    for (std::int32_t i = 0; i < 2 * n; ++i) wide[std::size_t(i)] = Frames[2 * done + i];
    if (!FLAC__stream_encoder_process_interleaved(FEncoder, wide.data(), unsigned(n))) {
      if (!FFailed) Fail(EIO);
      return false;
    }
    done += n;
  }
  return true;
}

bool CFlacTakeEncoder::Sync() {
  if (FFailed) return false;
  // The frames first: the count never names frames that a power cut loses.
  if (::fdatasync(FFd) != 0 && errno != EINVAL) {
    Fail(errno);
    return false;
  }
  if (!WriteCount(FSamplesWritten)) return false;
  return ::fdatasync(FFd) == 0 || errno == EINVAL;
}

bool CFlacTakeEncoder::Close() {
  if (!FEncoder) return !FFailed;
  FClosing = true;
  // Encodes the rest and, unless a write failed, completes the header.
  const bool finished = FLAC__stream_encoder_finish(FEncoder) && !FFailed;
  FLAC__stream_encoder_delete(FEncoder);
  FEncoder = nullptr;
  if (FFailed && ::ftruncate(FFd, off_t(FWholeEnd)) != 0) return false;
  const bool counted = WriteCount(FSamplesWritten);
  ::fdatasync(FFd);
  return finished && counted;
}

std::int64_t CFlacTakeEncoder::HeaderFrames(int Fd) {
  unsigned char b[CountOffset + 5];
  if (::pread(Fd, b, sizeof b, 0) != ssize_t(sizeof b) || std::memcmp(b, "fLaC", 4) != 0 ||
      (b[4] & 0x7F) != 0)
    return -1;
  std::int64_t n = b[CountOffset] & 0x0F;
  for (int i = 1; i < 5; ++i) n = n << 8 | b[CountOffset + i];
  return n;
}

FLAC__StreamEncoderWriteStatus CFlacTakeEncoder::WriteCallback(const FLAC__StreamEncoder*,
                                                               const FLAC__byte Buffer[],
                                                               size_t Bytes, uint32_t Samples,
                                                               uint32_t, void* Self) {
  auto& self = *static_cast<CFlacTakeEncoder*>(Self);
  if (self.FFailed) return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
  if (!self.WriteAt(Buffer, Bytes, self.FPosition))
    return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
  self.FPosition += Bytes;
  // libFLAC hands each frame over in one call; a header write has no samples.
  if (Samples > 0) self.FSamplesWritten += Samples;
  if (self.FPosition > self.FWholeEnd) self.FWholeEnd = self.FPosition;
  return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
}

FLAC__StreamEncoderSeekStatus CFlacTakeEncoder::SeekCallback(const FLAC__StreamEncoder*,
                                                             FLAC__uint64 Offset, void* Self) {
  auto& self = *static_cast<CFlacTakeEncoder*>(Self);
  // Only the header is rewritten, and only over a stream written whole.
  if (self.FFailed || !self.FClosing) return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
  self.FPosition = Offset;
  return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
}

FLAC__StreamEncoderTellStatus CFlacTakeEncoder::TellCallback(const FLAC__StreamEncoder*,
                                                             FLAC__uint64* Offset, void* Self) {
  *Offset = static_cast<CFlacTakeEncoder*>(Self)->FPosition;
  return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
}

bool CFlacTakeEncoder::WriteAt(const unsigned char* Data, std::size_t Bytes, std::uint64_t At) {
  for (std::size_t done = 0; done < Bytes;) {
    const ssize_t n = ::pwrite(FFd, Data + done, Bytes - done, off_t(At + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      Fail(n < 0 ? errno : ENOSPC);
      return false;
    }
    done += std::size_t(n);
  }
  return true;
}

bool CFlacTakeEncoder::WriteCount(std::int64_t Frames) {
  unsigned char b[5];
  if (::pread(FFd, b, 1, CountOffset) != 1) return false;
  b[0] = static_cast<unsigned char>((b[0] & 0xF0) | ((Frames >> 32) & 0x0F));
  for (int i = 1; i < 5; ++i) b[i] = static_cast<unsigned char>(Frames >> (8 * (4 - i)));
  return ::pwrite(FFd, b, sizeof b, CountOffset) == ssize_t(sizeof b);
}

void CFlacTakeEncoder::Fail(int Error) {
  if (FFailed) return;
  FFailed = true;
  FError = Error;
  // The part of a frame that reached the disk would make the stream invalid.
  if (::ftruncate(FFd, off_t(FWholeEnd)) != 0) FError = errno ? errno : Error;
}

}  // namespace quenvis
