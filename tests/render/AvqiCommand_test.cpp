// quenvis-render --avqi as a user runs it: a pair of recordings in, the
// index and its measures out, and one line with status 2 for what cannot
// give one.
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/VoiceSamples.h"

namespace quenvis {
namespace {

namespace fs = std::filesystem;

class AvqiCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = fs::temp_directory_path() / ("quenvis-avqi-" + std::to_string(::getpid()));
    fs::remove_all(Dir);
    fs::create_directories(Dir);
  }
  void TearDown() override { fs::remove_all(Dir); }

  fs::path Wav(const std::string& Name, const std::vector<std::int16_t>& Mono) {
    const fs::path path = Dir / Name;
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    EXPECT_NE(f, nullptr);
    if (f) {
      sf_writef_short(f, Mono.data(), static_cast<sf_count_t>(Mono.size()));
      sf_close(f);
    }
    return path;
  }

  // Exit status, stdout and stderr of quenvis-render with Args.
  int Run(const std::string& Args, std::string& Out, std::string& Err) {
    const fs::path out = Dir / "out.txt", err = Dir / "err.txt";
    const std::string cmd = "timeout -s KILL 60 '" QUENVIS_RENDER_EXE "' " + Args + " >'" +
                            out.string() + "' 2>'" + err.string() + "'";
    const int raw = std::system(cmd.c_str());
    Out = Read(out);
    Err = Read(err);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  static std::string Read(const fs::path& P) {
    std::ifstream in(P, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static std::string Quote(const fs::path& P) { return "'" + P.string() + "'"; }

  fs::path Dir;
};

TEST_F(AvqiCommandTest, APairGivesTheIndexAndItsSixMeasures) {
  const test::TAvqiSample pair = test::AvqiSamples()[1];
  test::TVowel vowel = pair.Voice;
  vowel.Seconds = pair.VowelSeconds;
  const fs::path v = Wav("vowel.wav", test::Synthesize(vowel));
  const fs::path s = Wav("speech.wav", test::SynthesizeSpeech(pair.Voice));
  std::string out, err;
  ASSERT_EQ(Run("--avqi " + Quote(v) + " " + Quote(s), out, err), 0) << err;
  EXPECT_EQ(err, "");
  std::map<std::string, double> value;
  std::istringstream lines(out);
  for (std::string name, rest; lines >> name && std::getline(lines, rest);)
    value[name] = std::stod(rest);
  for (const char* name :
       {"AVQI", "CPPS", "HNR", "shimmer", "shimmer_db", "slope", "tilt", "vowel", "speech"})
    EXPECT_TRUE(value.count(name)) << name << " missing from:\n" << out;
  EXPECT_LT(value["AVQI"], 2.43);  // a healthy synthetic voice
  EXPECT_NEAR(value["vowel"], 3.0, 0.05);
  // The printed index is the published formula of the printed measures.
  const double avqi = (4.152 - 0.177 * value["CPPS"] - 0.006 * value["HNR"] -
                       0.037 * value["shimmer"] + 0.941 * value["shimmer_db"] +
                       0.01 * value["slope"] + 0.093 * value["tilt"]) *
                      2.8902;
  EXPECT_NEAR(value["AVQI"], avqi, 0.02);
}

TEST_F(AvqiCommandTest, WhatGivesNoIndexIsOneLineAndStatus2) {
  const test::TAvqiSample pair = test::AvqiSamples()[0];
  test::TVowel shortVowel = pair.Voice;
  shortVowel.Seconds = 0.5;
  const fs::path shortV = Wav("short.wav", test::Synthesize(shortVowel));
  const fs::path silence = Wav("silence.wav", std::vector<std::int16_t>(44100 * 4, 0));
  test::TVowel vowel = pair.Voice;
  vowel.Seconds = 3.5;
  const fs::path v = Wav("vowel.wav", test::Synthesize(vowel));
  // Eleven minutes of silence: refused while reading, not measured.
  const fs::path tooLong = Wav("long.wav", std::vector<std::int16_t>(44100 * 660, 0));
  const fs::path notWav = Dir / "notes.txt";
  std::ofstream(notWav) << "not a recording\n";
  struct TCase {
    std::string Args, ErrStart;
  } cases[] = {
      {"--avqi", "quenvis-render: --avqi takes two recordings"},
      {"--avqi " + Quote(v), "quenvis-render: --avqi takes two recordings"},
      {"--avqi " + Quote(v) + " " + Quote(v) + " " + Quote(v),
       "quenvis-render: --avqi takes two recordings"},
      {"--avqi - - </dev/null", "quenvis-render: --avqi: standard input can give only one"},
      {"--avqi " + Quote(Dir / "missing.wav") + " " + Quote(v), "quenvis-render: "},
      {"--avqi " + Quote(notWav) + " " + Quote(v), "quenvis-render: "},
      {"--avqi " + Quote(shortV) + " " + Quote(v), "quenvis-render: "},
      {"--avqi " + Quote(v) + " " + Quote(silence), "quenvis-render: "},
      {"--avqi " + Quote(v) + " " + Quote(tooLong), "quenvis-render: "},
  };
  for (const TCase& c : cases) {
    std::string out, err;
    EXPECT_EQ(Run(c.Args, out, err), 2) << c.Args;
    EXPECT_EQ(out, "") << c.Args;
    EXPECT_EQ(err.rfind(c.ErrStart, 0), 0u) << c.Args << ": " << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << c.Args << ": " << err;
  }
  std::string out, err;
  Run("--avqi " + Quote(shortV) + " " + Quote(v), out, err);
  EXPECT_NE(err.find("shorter than 1 s"), std::string::npos) << err;
  Run("--avqi " + Quote(v) + " " + Quote(silence), out, err);
  EXPECT_NE(err.find("less than 1 s of voice"), std::string::npos) << err;
  Run("--avqi " + Quote(v) + " " + Quote(tooLong), out, err);
  EXPECT_NE(err.find("longer than 10 minutes"), std::string::npos) << err;
}

}  // namespace
}  // namespace quenvis
