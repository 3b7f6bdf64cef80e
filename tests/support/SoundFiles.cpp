#include "support/SoundFiles.h"

#include <sndfile.h>

#include <cmath>

namespace quenvis::test {

bool WriteWav(const std::string& Path, const std::vector<std::int16_t>& Interleaved,
              int Channels, int Rate) {
  if (Channels < 1) return false;
  SF_INFO info{};
  info.samplerate = Rate;
  info.channels = Channels;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(Path.c_str(), SFM_WRITE, &info);
  if (!f) return false;
  const auto frames = sf_count_t(Interleaved.size() / std::size_t(Channels));
  const bool whole = sf_writef_short(f, Interleaved.data(), frames) == frames;
  return sf_close(f) == 0 && whole;
}

bool WriteSteadyStereoWav(const std::string& Path, double Seconds, std::int16_t Level, int Rate) {
  const double frames = std::floor(Seconds * Rate);
  if (!(frames >= 0 && frames < 1e9)) return false;
  return WriteWav(Path, std::vector<std::int16_t>(2 * std::size_t(frames), Level), 2, Rate);
}

}  // namespace quenvis::test
