// Writes the synthetic voices that scripts/voice-vs-praat.sh measures with
// Praat and quenvis-render: OUTDIR/NAME.wav for each sustained vowel and
// OUTDIR/NAME-vowel.wav, OUTDIR/NAME-speech.wav for each AVQI pair.
//   quenvis_make_voice_samples OUTDIR
#include <sndfile.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/VoiceSamples.h"

namespace {

bool Write(const std::filesystem::path& Path, const std::vector<std::int16_t>& Mono) {
  SF_INFO info{};
  info.samplerate = static_cast<int>(quenvis::test::SynthRate);
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(Path.c_str(), SFM_WRITE, &info);
  if (!f) {
    std::fprintf(stderr, "%s: %s\n", Path.c_str(), sf_strerror(nullptr));
    return false;
  }
  const auto n = static_cast<sf_count_t>(Mono.size());
  const bool ok = sf_writef_short(f, Mono.data(), n) == n;
  return sf_close(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
    return 2;
  }
  const std::filesystem::path out = argv[1];
  std::error_code e;
  std::filesystem::create_directories(out, e);
  for (const auto& s : quenvis::test::SustainedVoiceSamples())
    if (!Write(out / (s.Name + ".wav"), quenvis::test::Synthesize(s.Vowel))) return 1;
  for (const auto& p : quenvis::test::AvqiSamples()) {
    quenvis::test::TVowel vowel = p.Voice;
    vowel.Seconds = p.VowelSeconds;
    if (!Write(out / (p.Name + "-vowel.wav"), quenvis::test::Synthesize(vowel)) ||
        !Write(out / (p.Name + "-speech.wav"), quenvis::test::SynthesizeSpeech(p.Voice)))
      return 1;
  }
  return 0;
}
