#include "render/RecordingReader.h"

#include <filesystem>
#include <system_error>

namespace quenvis {

namespace {

namespace fs = std::filesystem;

std::string DescribeOpenFailure(const std::string& Input) {
  std::error_code ec;
  if (!fs::exists(Input, ec)) return Input + ": no such file";
  if (fs::is_directory(Input, ec)) return Input + ": is a directory";
  return Input + ": cannot read as sound: " + sf_strerror(nullptr);
}

// A data chunk that claims more than the file holds means the file was cut.
bool LooksTruncated(SNDFILE* f) {
  std::array<char, 4096> log{};
  sf_command(f, SFC_GET_LOG_INFO, log.data(), static_cast<int>(log.size()) - 1);
  const std::string text(log.data());
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const std::string line = text.substr(at, end - at);
    if (line.rfind("data", 0) == 0 && line.find("should be") != std::string::npos) return true;
    at = end + 1;
  }
  return false;
}

}  // namespace

CRecordingReader::CRecordingReader() = default;
CRecordingReader::~CRecordingReader() = default;

std::string CRecordingReader::Open(const std::string& Path) {
  FPath = Path;
  SF_INFO info{};
  FFile.reset(sf_open(Path.c_str(), SFM_READ, &info));
  if (!FFile) return DescribeOpenFailure(Path);
  if (info.samplerate != SampleRate)
    return Path + ": sample rate " + std::to_string(info.samplerate) + " Hz, expected 44100 Hz";
  if (info.channels < 1 || info.channels > 2)
    return Path + ": " + std::to_string(info.channels) + " channels, at most 2 supported";
  if (LooksTruncated(FFile.get())) return Path + ": truncated (the file ends inside its sound data)";
  if (info.frames <= 0) return Path + ": contains no sound";
  sf_command(FFile.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);
  FChannels = info.channels;
  FBlocks = (info.frames + BlockFrames - 1) / BlockFrames;
  FSamples.resize(static_cast<std::size_t>(BlockFrames * FChannels));
  return {};
}

std::int32_t CRecordingReader::Next(TSampleBlock& Block) {
  if (FBlock >= FBlocks || !FError.empty()) return 0;
  const sf_count_t got = sf_readf_short(FFile.get(), FSamples.data(), BlockFrames);
  const bool last = FBlock + 1 == FBlocks;
  if (got <= 0 || (!last && got < BlockFrames) || sf_error(FFile.get()) != SF_ERR_NO_ERROR) {
    FError = FPath + ": read failed after " + std::to_string(FBlock * BlockFrames) + " frames" +
             (sf_error(FFile.get()) ? std::string(": ") + sf_strerror(FFile.get()) : "");
    return 0;
  }
  ++FBlock;
  Block.fill(0);
  for (sf_count_t i = 0; i < got; ++i) {
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

}  // namespace quenvis
