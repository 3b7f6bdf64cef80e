// Writes a small aligned corpus of synthetic vowels of known formants, for
// comparing the corpus table with other tools: OUTDIR/NAME.wav and
// NAME.TextGrid per recording, OUTDIR/manifest.csv (with each speaker's
// usual Praat ceiling) and OUTDIR/truth.csv (the formants of every vowel).
//   quenvis_make_vowel_corpus OUTDIR [RECORDINGS_PER_SPEAKER]
#include <sndfile.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/VowelSynth.h"

namespace {

struct TVowelSpec {
  const char* Label;
  std::array<double, 5> Man;  // F1..F5 of a man; women's are 17 % higher
};

// Peterson and Barney's men's averages (F1-F3), F4 and F5 typical.
const TVowelSpec Vowels[] = {
    {"IY1", {270, 2290, 3010, 3500, 4200}}, {"EH1", {530, 1840, 2480, 3500, 4200}},
    {"AE1", {660, 1720, 2410, 3500, 4200}}, {"AA1", {730, 1090, 2440, 3500, 4200}},
    {"AO1", {570, 840, 2410, 3500, 4200}},  {"UW1", {300, 870, 2240, 3500, 4200}},
};

struct TSpeaker {
  const char* Name;
  double F0, Scale;
  int Ceiling;
};
const TSpeaker Speakers[] = {
    {"m1", 110, 1.0, 5000}, {"m2", 130, 1.0, 5000}, {"w1", 200, 1.17, 5500}, {"w2", 230, 1.17, 5500}};

std::string Num(double v) {
  char t[40];
  std::snprintf(t, sizeof t, "%.6f", v);
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUTDIR [RECORDINGS_PER_SPEAKER]\n", argv[0]);
    return 2;
  }
  const std::filesystem::path out = argv[1];
  const int per = argc > 2 ? std::atoi(argv[2]) : 4;
  std::filesystem::create_directories(out);
  std::ofstream manifest(out / "manifest.csv"), truth(out / "truth.csv");
  manifest << "recording,textgrid,speaker,ceiling\n";
  truth << "recording,start_s,phone,f1,f2\n";
  constexpr double gap = 0.1, vowelS = 0.3;
  std::uint32_t seed = 1;
  for (const TSpeaker& s : Speakers) {
    for (int r = 0; r < per; ++r) {
      const std::string name = std::string(s.Name) + "-" + std::to_string(r);
      std::vector<short> mono;
      std::string phones;
      int items = 0;
      for (int rep = 0; rep < 2; ++rep) {
        for (const TVowelSpec& v : Vowels) {
          quenvis::test::TVowel vowel;
          vowel.F0 = s.F0 * (1 + 0.02 * rep);
          for (int k = 0; k < 5; ++k) vowel.F[static_cast<std::size_t>(k)] = v.Man[static_cast<std::size_t>(k)] * s.Scale;
          vowel.Seconds = vowelS;
          vowel.Seed = seed++;
          const double start = static_cast<double>(mono.size()) / 44100 + gap;
          mono.resize(mono.size() + static_cast<std::size_t>(gap * 44100));
          const auto sound = quenvis::test::Synthesize(vowel);
          mono.insert(mono.end(), sound.begin(), sound.end());
          const double end = static_cast<double>(mono.size()) / 44100;
          phones += Num(start - gap) + "\n" + Num(start) + "\n\"\"\n" + Num(start) + "\n" + Num(end) +
                    "\n\"" + v.Label + "\"\n";
          items += 2;
          truth << name << ".wav," << Num(start) << "," << v.Label << "," << vowel.F[0] << ","
                << vowel.F[1] << "\n";
        }
      }
      const double end = static_cast<double>(mono.size()) / 44100;
      SF_INFO info{};
      info.samplerate = 44100;
      info.channels = 1;
      info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
      SNDFILE* f = sf_open((out / (name + ".wav")).c_str(), SFM_WRITE, &info);
      if (!f) return 1;
      sf_writef_short(f, mono.data(), static_cast<sf_count_t>(mono.size()));
      sf_close(f);
      std::ofstream grid(out / (name + ".TextGrid"));
      grid << "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\n0\n" << Num(end)
           << "\n<exists>\n2\n\"IntervalTier\"\n\"words\"\n0\n" << Num(end) << "\n1\n0\n" << Num(end)
           << "\n\"\"\n\"IntervalTier\"\n\"phones\"\n0\n" << Num(end) << "\n" << items << "\n"
           << phones;
      manifest << name << ".wav," << name << ".TextGrid," << s.Name << "," << s.Ceiling << "\n";
    }
  }
  return 0;
}
