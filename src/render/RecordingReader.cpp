#include "render/RecordingReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <string_view>

namespace quenvis {

namespace {

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

}  // namespace

std::string InputName(const std::string& Path) {
  if (Path == "-") return "standard input";
  if (Path.empty()) return "'' (empty file name)";
  return Path;
}

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
    FFd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
    if (FFd < 0) return FName + ": " + std::strerror(errno);
  }
  struct stat st {};
  if (::fstat(FFd, &st) != 0) return FName + ": " + std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return FName + ": is a directory";
  if (S_ISREG(st.st_mode) && st.st_size == 0) return FName + ": is empty";

  SF_INFO info{};
  FFile.reset(sf_open_fd(FFd, SFM_READ, &info, SF_FALSE));
  // libsndfile's own text for this is a global, shared with other threads.
  if (!FFile) return FName + ": not a sound file that can be read (unknown or damaged format)";
  if (info.samplerate != SampleRate)
    return FName + ": sample rate " + std::to_string(info.samplerate) + " Hz, expected 44100 Hz";
  if (info.channels < 1 || info.channels > 2)
    return FName + ": " + std::to_string(info.channels) + " channels, at most 2 supported";
  FEndedEarly = LogSaysCut(FFile.get());
  // Unknown counts are reported as 0 or as numbers near the type's limit; a
  // stream's header was written before its length was known.
  if (S_ISREG(st.st_mode) && info.frames > 0 && info.frames < std::int64_t{1} << 40)
    FExpectedFrames = info.frames;
  sf_command(FFile.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);
  FChannels = info.channels;
  FSamples.resize(static_cast<std::size_t>(BlockFrames * FChannels));
  return {};
}

std::int64_t CRecordingReader::ExpectedBlocks() const noexcept {
  return FExpectedFrames < 0 ? -1 : (FExpectedFrames + BlockFrames - 1) / BlockFrames;
}

std::int64_t CRecordingReader::Fill(std::int64_t Frames) {
  std::int64_t got = 0;
  while (!FEnded && got < Frames) {
    const sf_count_t n =
        sf_readf_short(FFile.get(), FSamples.data() + got * FChannels, Frames - got);
    if (n <= 0) {
      FEnded = true;
      // A decoder that stops with an error after some sound has ended early;
      // with none at all there is nothing to render.
      if (sf_error(FFile.get()) != SF_ERR_NO_ERROR) {
        if (FFramesRead + got == 0)
          FError = FName + ": cannot read the sound data: " + sf_strerror(FFile.get());
        else
          FEndedEarly = true;
      }
      break;
    }
    got += n;
  }
  FFramesRead += got;
  return got;
}

std::int32_t CRecordingReader::Next(TSampleBlock& Block) {
  if (!FError.empty() || !FFile) return 0;
  const std::int64_t got = Fill(BlockFrames);
  if (got == 0) {
    if (FFramesRead == 0 && FError.empty()) FError = FName + ": contains no sound";
    if (FExpectedFrames >= 0 && FFramesRead < FExpectedFrames) FEndedEarly = true;
    return 0;
  }
  Block.fill(0);
  for (std::int64_t i = 0; i < got; ++i) {
    const std::int16_t l = FSamples[static_cast<std::size_t>(i * FChannels)];
    const std::int16_t r = FSamples[static_cast<std::size_t>(i * FChannels + FChannels - 1)];
    unsigned char* at = Block.data() + 4 * i;
    at[0] = static_cast<unsigned char>(l & 0xFF);
    at[1] = static_cast<unsigned char>((l >> 8) & 0xFF);
    at[2] = static_cast<unsigned char>(r & 0xFF);
    at[3] = static_cast<unsigned char>((r >> 8) & 0xFF);
  }
  return static_cast<std::int32_t>(got);
}

std::vector<std::string> CRecordingReader::Notes() const {
  std::vector<std::string> notes;
  if (FEndedEarly)
    notes.push_back(FName + ": the file ends early; rendered the " + std::to_string(FFramesRead) +
                    " frames it holds");
  return notes;
}

}  // namespace quenvis
