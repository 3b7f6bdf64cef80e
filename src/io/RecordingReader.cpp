#include "io/RecordingReader.h"

#include <fcntl.h>
#include <poll.h>
#include <soxr.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace quenvis {

namespace {

// Rates outside this range are not sound recordings anyone makes; refusing
// them keeps the resampler's ratio, and with it the output, bounded.
constexpr int MinRate = 1000, MaxRate = 1000000;

// Frames asked of the file at a time when resampling.
constexpr std::int64_t ResampleChunk = 4096;

// A copy of a stream stops short of filling its disk: this much stays free.
constexpr std::int64_t SpoolReserveBytes = std::int64_t{64} << 20;
constexpr std::int64_t SpoolCheckBytes = std::int64_t{16} << 20;

// Streams are copied to a disk folder rather than one that may live in
// memory, unless the user chose otherwise.
std::string SpoolFolder() {
  const char* chosen = std::getenv("TMPDIR");
  return chosen && *chosen ? chosen : "/var/tmp";
}

// An unnamed file, so that nothing is left whatever ends the program.
int OpenSpoolFile(std::string& Folder) {
  int error = 0;
  for (const std::string& dir : {SpoolFolder(), std::string("/tmp")}) {
    int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0 && errno != ENOENT && errno != EACCES) {
      std::string pattern = dir + "/.quenvis-render-XXXXXX";
      fd = ::mkostemp(pattern.data(), O_CLOEXEC);
      if (fd >= 0) ::unlink(pattern.c_str());
    }
    if (fd >= 0) {
      Folder = dir;
      return fd;
    }
    error = errno;
  }
  errno = error;
  return -1;
}

bool WriteAll(int Fd, const char* Data, std::size_t Size) {
  while (Size > 0) {
    const ssize_t n = ::write(Fd, Data, Size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    Data += n;
    Size -= static_cast<std::size_t>(n);
  }
  return true;
}

// A float sample in [-1, 1) back to 16 bits, as libsndfile scales them.
std::int16_t ToInt16(float v) noexcept {
  const float s = std::nearbyint(v * 32768.0f);
  if (!(s > -32768.0f)) return -32768;  // also NaN
  return s >= 32767.0f ? std::int16_t{32767} : static_cast<std::int16_t>(s);
}

// Sizes at or above this are the placeholders that writers of streams put in
// a header they cannot go back to, not claims about the data.
constexpr std::int64_t UnknownSize = 0x7FFF0000;

// libsndfile logs "N (should be M)" where a header claims more bytes than the
// file holds. libsndfile then reads what is there, so this is the only sign
// that a PCM file was cut.
bool LogSaysCut(SNDFILE* f) {
  std::array<char, 8192> log{};
  sf_command(f, SFC_GET_LOG_INFO, log.data(), static_cast<int>(log.size()) - 1);
  const std::string_view text(log.data());
  constexpr std::string_view marker = " (should be ";
  for (std::size_t at = text.find(marker); at != std::string_view::npos;
       at = text.find(marker, at + 1)) {
    std::size_t start = at;
    while (start > 0 && text[start - 1] >= '0' && text[start - 1] <= '9') --start;
    std::int64_t claimed = 0, actual = 0;
    const char* base = text.data();
    if (std::from_chars(base + start, base + at, claimed).ec != std::errc()) continue;
    const std::size_t from = at + marker.size();
    if (std::from_chars(base + from, base + text.size(), actual).ec != std::errc()) continue;
    if (claimed > actual && claimed < UnknownSize) return true;
  }
  return false;
}

// libsndfile reads through these rather than through the descriptor itself:
// sf_open_fd closes a descriptor it refuses, even when told not to, so the
// reader could not know whether the number is still its own.
sf_count_t VioLength(void* Fd) {
  struct stat st {};
  return ::fstat(*static_cast<int*>(Fd), &st) == 0 ? st.st_size : -1;
}
sf_count_t VioSeek(sf_count_t Offset, int Whence, void* Fd) {
  return ::lseek(*static_cast<int*>(Fd), Offset, Whence);
}
sf_count_t VioRead(void* Data, sf_count_t Count, void* Fd) {
  auto* to = static_cast<char*>(Data);
  sf_count_t got = 0;
  while (got < Count) {
    const ssize_t n = ::read(*static_cast<int*>(Fd), to + got, static_cast<std::size_t>(Count - got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += n;
  }
  return got;
}
sf_count_t VioWrite(const void*, sf_count_t, void*) { return 0; }
sf_count_t VioTell(void* Fd) { return ::lseek(*static_cast<int*>(Fd), 0, SEEK_CUR); }

}  // namespace

std::string InputName(const std::string& Path) {
  if (Path == "-") return "standard input";
  if (Path.empty()) return "'' (empty file name)";
  return Path;
}

void CRecordingReader::TResamplerDeleter::operator()(::soxr* r) const noexcept { soxr_delete(r); }

CRecordingReader::CRecordingReader() = default;

CRecordingReader::~CRecordingReader() {
  FFile.reset();
  if (FFd > STDIN_FILENO) ::close(FFd);
}

std::string CRecordingReader::Open(const std::string& Path) {
  FName = InputName(Path);
  if (Path == "-") {
    FFd = STDIN_FILENO;
  } else {
    if (Path.empty()) return FName + ": no such file";
    // Not blocking: a FIFO without a writer is waited for below, where a
    // stop request is heard.
    FFd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (FFd < 0) return FName + ": " + std::strerror(errno);
  }
  struct stat st {};
  if (::fstat(FFd, &st) != 0) return FName + ": " + std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return FName + ": is a directory";
  if (!S_ISREG(st.st_mode)) {
    if (::isatty(FFd)) return FName + ": is a terminal, not a recording";
    // libsndfile's decoders seek, and some misread a stream they cannot
    // seek in; a copy is a plain file whose real length is known.
    const int copy = Spool(FFd);
    if (copy < 0) return FError;
    if (FFd > STDIN_FILENO) ::close(FFd);
    FFd = copy;
    if (::fstat(FFd, &st) != 0) return FName + ": " + std::strerror(errno);
  }
  if (st.st_size == 0) return FName + ": is empty";

  SF_INFO info{};
  // The descriptor stays the reader's whatever libsndfile decides.
  FIo = {VioLength, VioSeek, VioRead, VioWrite, VioTell};
  FFile.reset(sf_open_virtual(&FIo, SFM_READ, &info, &FFd));
  // libsndfile's own text for this is a global, shared with other threads.
  if (!FFile) return FName + ": not a sound file that can be read (unknown or damaged format)";
  if (info.samplerate < MinRate || info.samplerate > MaxRate)
    return FName + ": sample rate " + std::to_string(info.samplerate) + " Hz is outside " +
           std::to_string(MinRate) + ".." + std::to_string(MaxRate) + " Hz";
  if (info.channels < 1) return FName + ": has no channels";
  FRate = info.samplerate;
  FEndedEarly = LogSaysCut(FFile.get());
  // Unknown counts are reported as 0 or as numbers near the type's limit.
  if (info.frames > 0 && info.frames < std::int64_t{1} << 40) FExpectedFrames = info.frames;
  FChannels = info.channels;
  FFloats.resize(
      static_cast<std::size_t>(std::max<std::int64_t>(ResampleChunk, BlockFrames) * FChannels));
  FSamples.resize(static_cast<std::size_t>(BlockFrames * 2));
  if (FRate != SampleRate) {
    soxr_error_t error = nullptr;
    FResampler.reset(soxr_create(FRate, SampleRate, 2, &error, nullptr, nullptr, nullptr));
    if (!FResampler || error)
      return FName + ": cannot resample from " + std::to_string(FRate) + " Hz";
    FStereoIn.resize(static_cast<std::size_t>(ResampleChunk * 2));
    // Room for one chunk's output at the highest ratio, and a flush.
    const auto most = static_cast<std::size_t>(ResampleChunk * SampleRate / MinRate + BlockFrames);
    FStereoOut.resize(most * 2);
  }
  return {};
}

int CRecordingReader::Spool(int From) {
  std::string folder;
  const int to = OpenSpoolFile(folder);
  if (to < 0) {
    FError = FName + ": cannot make a temporary copy of it: " + std::strerror(errno);
    return -1;
  }
  auto fail = [&](const std::string& Why) {
    FError = FName + ": " + Why;
    ::close(to);
    return -1;
  };
  std::vector<char> buffer(std::size_t{1} << 16);
  std::int64_t sinceCheck = 0;
  for (;;) {
    if (FStop && FStop->load(std::memory_order_relaxed)) return fail("interrupted");
    pollfd wait{From, POLLIN, 0};
    const int ready = ::poll(&wait, 1, 100);
    if (ready < 0 && errno != EINTR)
      return fail(std::string("cannot read: ") + std::strerror(errno));
    if (ready <= 0) continue;
    const ssize_t n = ::read(From, buffer.data(), buffer.size());
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return fail(std::string("cannot read: ") + std::strerror(errno));
    }
    if (!WriteAll(to, buffer.data(), static_cast<std::size_t>(n)))
      return fail("cannot hold a copy in " + folder + ": " + std::strerror(errno));
    sinceCheck += n;
    if (sinceCheck >= SpoolCheckBytes) {
      sinceCheck = 0;
      struct statvfs fs {};
      if (::fstatvfs(to, &fs) == 0 &&
          static_cast<std::int64_t>(fs.f_bavail) * static_cast<std::int64_t>(fs.f_frsize) <
              SpoolReserveBytes)
        return fail("too long to hold a copy in " + folder + " (the disk is nearly full)");
    }
  }
  if (::lseek(to, 0, SEEK_SET) != 0)
    return fail(std::string("cannot read: ") + std::strerror(errno));
  return to;
}

std::int64_t CRecordingReader::ExpectedBlocks() const noexcept {
  if (FExpectedFrames < 0) return -1;
  const std::int64_t frames = FExpectedFrames * SampleRate / FRate;
  return (frames + BlockFrames - 1) / BlockFrames;
}

std::int64_t CRecordingReader::Fill() {
  std::int64_t got = 0;
  while (got < BlockFrames) {
    const std::int64_t n = ReadFloats(BlockFrames - got);
    if (n == 0) break;
    for (std::int64_t i = 0; i < n; ++i) {
      const float* frame = FFloats.data() + i * FChannels;
      const auto at = static_cast<std::size_t>(2 * (got + i));
      FSamples[at] = ToInt16(frame[0]);
      FSamples[at + 1] = ToInt16(frame[FChannels > 1 ? 1 : 0]);
    }
    got += n;
  }
  return got;
}

std::int64_t CRecordingReader::ReadFloats(std::int64_t Frames) {
  if (FEnded) return 0;
  const sf_count_t n = sf_readf_float(FFile.get(), FFloats.data(), Frames);
  if (n > 0) {
    FFramesRead += n;
    return n;
  }
  FEnded = true;
  if (sf_error(FFile.get()) != SF_ERR_NO_ERROR) {
    if (FFramesRead == 0)
      FError = FName + ": cannot read the sound data: " + sf_strerror(FFile.get());
    else
      FEndedEarly = true;
  }
  return 0;
}

std::int64_t CRecordingReader::FillResampled() {
  while (FPending.size() - FPendingAt < static_cast<std::size_t>(BlockFrames * 2) && !FFlushed &&
         FError.empty()) {
    const std::int64_t in = ReadFloats(ResampleChunk);
    for (std::int64_t i = 0; i < in; ++i) {
      const float* frame = FFloats.data() + i * FChannels;
      FStereoIn[static_cast<std::size_t>(2 * i)] = frame[0];
      FStereoIn[static_cast<std::size_t>(2 * i + 1)] = frame[FChannels > 1 ? 1 : 0];
    }
    // Drops what was handed out before appending, so the queue stays short.
    FPending.erase(FPending.begin(), FPending.begin() + static_cast<std::ptrdiff_t>(FPendingAt));
    FPendingAt = 0;
    // No input at all asks the resampler for what it still holds. Input it
    // could not take for want of room is offered again.
    const std::size_t room = FStereoOut.size() / 2;
    std::size_t offered = 0;
    do {
      std::size_t used = 0, made = 0;
      const float* from = in > 0 ? FStereoIn.data() + 2 * offered : nullptr;
      if (soxr_process(FResampler.get(), from, static_cast<std::size_t>(in) - offered, &used,
                       FStereoOut.data(), room, &made)) {
        FError = FName + ": cannot resample from " + std::to_string(FRate) + " Hz";
        break;
      }
      offered += used;
      if (in == 0 && made == 0) FFlushed = true;
      for (std::size_t i = 0; i < made * 2; ++i) FPending.push_back(ToInt16(FStereoOut[i]));
      if (used == 0 && made == 0) break;  // a resampler that neither takes nor gives
    } while (offered < static_cast<std::size_t>(in));
  }
  const std::size_t frames =
      std::min((FPending.size() - FPendingAt) / 2, static_cast<std::size_t>(BlockFrames));
  std::copy_n(FPending.begin() + static_cast<std::ptrdiff_t>(FPendingAt), frames * 2,
              FSamples.begin());
  FPendingAt += frames * 2;
  return static_cast<std::int64_t>(frames);
}

std::int32_t CRecordingReader::Next(TSampleBlock& Block) {
  if (!FError.empty() || !FFile) return 0;
  const std::int64_t got = FResampler ? FillResampled() : Fill();
  if (got == 0) {
    if (FFramesRead == 0 && FError.empty()) FError = FName + ": contains no sound";
    if (FExpectedFrames >= 0 && FFramesRead < FExpectedFrames) FEndedEarly = true;
    return 0;
  }
  Block.fill(0);
  for (std::int64_t i = 0; i < got; ++i) {
    const std::int16_t l = FSamples[static_cast<std::size_t>(2 * i)];
    const std::int16_t r = FSamples[static_cast<std::size_t>(2 * i + 1)];
    unsigned char* at = Block.data() + 4 * i;
    at[0] = static_cast<unsigned char>(l & 0xFF);
    at[1] = static_cast<unsigned char>((l >> 8) & 0xFF);
    at[2] = static_cast<unsigned char>(r & 0xFF);
    at[3] = static_cast<unsigned char>((r >> 8) & 0xFF);
  }
  return static_cast<std::int32_t>(got);
}

bool CRecordingReader::Seek(std::int64_t Frame) {
  if (!FFile || !FError.empty() || Frame < 0) return false;
  const double at = FResampler ? std::nearbyint(double(Frame) * FRate / SampleRate) : double(Frame);
  if (!(at >= 0 && at < 9e15)) return false;
  const auto to = static_cast<sf_count_t>(at);
  if (sf_seek(FFile.get(), to, SEEK_SET) < 0) return false;
  FFramesRead = to;
  FEnded = FFlushed = false;
  FPending.clear();
  FPendingAt = 0;
  if (FResampler) soxr_clear(FResampler.get());
  return true;
}

std::vector<std::string> CRecordingReader::Notes() const {
  std::vector<std::string> notes;
  if (FRate != SampleRate && FRate > 0)
    notes.push_back(FName + ": resampled from " + std::to_string(FRate) + " Hz");
  if (FChannels > 2)
    notes.push_back(FName + ": " + std::to_string(FChannels) + " channels, rendered the first two");
  if (FEndedEarly)
    notes.push_back(FName + ": the file ends early; rendered the " + std::to_string(FFramesRead) +
                    " frames it holds");
  return notes;
}

}  // namespace quenvis
