// quenvis-render corpus end to end, on a small corpus of synthetic vowels in
// words, with TextGrids written to match.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "io/CsvText.h"
#include "support/SoundFiles.h"
#include "support/VowelSynth.h"

namespace {

namespace fs = std::filesystem;
using quenvis::test::TVowel;

struct TWordSpec {
  std::string Word, Vowel;  // the vowel's label
  std::array<double, 5> F;
};

struct TRecordingSpec {
  std::string Name, Speaker;
  double F0;
  std::vector<TWordSpec> Words;
  bool Short = false;  // the TextGrid in the short text format
  bool Utf16 = false;
};

// Each word: 50 ms of silence (its consonant), then 350 ms of the vowel;
// 250 ms of silence before, between and after the words.
constexpr double Lead = 0.25, Consonant = 0.05, VowelS = 0.35, Gap = 0.25;

class CorpusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = fs::temp_directory_path() /
          ("quenvis-corpus-test-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(Dir);
    fs::create_directories(Dir);
  }
  void TearDown() override { fs::remove_all(Dir); }

  struct TInterval {
    double Start, End;
    std::string Text;
  };

  static std::string Number(double v) {
    std::ostringstream s;
    s.imbue(std::locale::classic());
    s.precision(17);
    s << v;
    return s.str();
  }

  static std::string TextGrid(double End, const std::vector<TInterval>& Words,
                              const std::vector<TInterval>& Phones, bool Short) {
    std::string t = "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\n";
    auto tier = [&](const char* Name, const std::vector<TInterval>& Items) {
      if (Short) {
        t += "\"IntervalTier\"\n\"" + std::string(Name) + "\"\n0\n" + Number(End) + "\n" +
             std::to_string(Items.size()) + "\n";
        for (const TInterval& i : Items)
          t += Number(i.Start) + "\n" + Number(i.End) + "\n\"" + i.Text + "\"\n";
        return;
      }
      t += "    item [" + std::string(Name[0] == 'w' ? "1" : "2") +
           "]:\n        class = \"IntervalTier\"\n        name = \"" + Name +
           "\"\n        xmin = 0\n        xmax = " + Number(End) +
           "\n        intervals: size = " + std::to_string(Items.size()) + "\n";
      for (std::size_t k = 0; k < Items.size(); ++k)
        t += "        intervals [" + std::to_string(k + 1) + "]:\n            xmin = " +
             Number(Items[k].Start) + "\n            xmax = " + Number(Items[k].End) +
             "\n            text = \"" + Items[k].Text + "\"\n";
    };
    t += Short ? "0\n" + Number(End) + "\n<exists>\n2\n"
               : "xmin = 0\nxmax = " + Number(End) + "\ntiers? <exists>\nsize = 2\nitem []:\n";
    tier("words", Words);
    tier("phones", Phones);
    return t;
  }

  static std::string ToUtf16Le(const std::string& Utf8) {
    std::string out = "\xFF\xFE";
    for (std::size_t i = 0; i < Utf8.size();) {
      const auto c = static_cast<unsigned char>(Utf8[i]);
      const int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : 3;
      unsigned v = n == 1 ? c : c & (0x3F >> (n - 1));
      for (int k = 1; k < n; ++k) v = v << 6 | (static_cast<unsigned char>(Utf8[i + k]) & 0x3F);
      out += static_cast<char>(v & 0xFF);
      out += static_cast<char>(v >> 8);
      i += static_cast<std::size_t>(n);
    }
    return out;
  }

  // Writes the recording and its TextGrid; returns the recording's length.
  double Make(const TRecordingSpec& R, const fs::path& Wav, const fs::path& Grid) {
    std::vector<short> mono(static_cast<std::size_t>(Lead * 44100));
    std::vector<TInterval> words{{0, Lead, ""}}, phones{{0, Lead, ""}};
    for (std::size_t w = 0; w < R.Words.size(); ++w) {
      const double start = static_cast<double>(mono.size()) / 44100;
      mono.resize(mono.size() + static_cast<std::size_t>(Consonant * 44100));
      const double vowelStart = static_cast<double>(mono.size()) / 44100;
      TVowel v{.F0 = R.F0, .F = R.Words[w].F, .Seconds = VowelS};
      v.Seed = static_cast<std::uint32_t>(w + 1);
      const auto sound = quenvis::test::Synthesize(v);
      mono.insert(mono.end(), sound.begin(), sound.end());
      const double end = static_cast<double>(mono.size()) / 44100;
      words.push_back({start, end, R.Words[w].Word});
      phones.push_back({start, vowelStart, "M"});
      phones.push_back({vowelStart, end, R.Words[w].Vowel});
      mono.resize(mono.size() + static_cast<std::size_t>(Gap * 44100));
      const double after = static_cast<double>(mono.size()) / 44100;
      words.push_back({end, after, ""});
      phones.push_back({end, after, ""});
    }
    const double seconds = static_cast<double>(mono.size()) / 44100;
    fs::create_directories(Wav.parent_path());
    EXPECT_TRUE(quenvis::test::WriteWav(Wav, mono)) << Wav;
    const std::string grid = TextGrid(seconds, words, phones, R.Short);
    std::ofstream(Grid, std::ios::binary) << (R.Utf16 ? ToUtf16Le(grid) : grid);
    return seconds;
  }

  struct TResult {
    int Status;
    std::string Err;
  };
  TResult Run(const std::vector<std::string>& Args, const std::string& Env = "") {
    std::string cmd = Env + " '" QUENVIS_RENDER_EXE "'";
    for (const std::string& a : Args) cmd += " '" + a + "'";
    const fs::path err = Dir / "stderr.txt";
    const int raw =
        std::system((cmd + " </dev/null >/dev/null 2>'" + err.string() + "'").c_str());
    std::ifstream in(err);
    std::stringstream text;
    text << in.rdbuf();
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, text.str()};
  }

  static std::vector<std::vector<std::string>> Csv(const fs::path& p) {
    std::vector<std::vector<std::string>> rows;
    std::FILE* f = std::fopen(p.c_str(), "r");
    if (!f) return rows;
    quenvis::CCsvReader csv(f);
    for (std::vector<std::string> r; csv.Next(r);) rows.push_back(r);
    std::fclose(f);
    return rows;
  }
  static std::string Bytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  fs::path Dir;
};

// Men's and women's vowels (Hz), F1..F5.
const std::array<double, 5> ManA{730, 1090, 2440, 3300, 3750}, ManI{270, 2290, 3010, 3400, 3800},
    WomanA{850, 1220, 2810, 3800, 4400}, WomanU{370, 950, 2670, 3800, 4400},
    WomanE{550, 1950, 2750, 3800, 4400};

const std::vector<TRecordingSpec> Good = {
    {"s1/one.wav", "ben", 120, {{"FATHER", "AA1", ManA}, {"SEE", "IY1", ManI}}},
    {"s1/two.wav", "ben", 110, {{"SEE", "IY1", ManI}, {"FATHER", "AA1", ManA}}, true},
    {"s2/one.wav", "ann", 210, {{"SPA", "AA1", WomanA}, {"BED", "EH0", WomanE}}, false, true},
    {"s2/ünï/é.wav", "ann", 200, {{"BOOT", "UW1", WomanU}, {"SPA", "AA2", WomanA}}},
    {"s3/ipa.wav", "cat", 190, {{"spa", "ɑː", WomanA}, {"boot", "uː", WomanU}}},
};

std::size_t Column(const std::vector<std::string>& Header, const std::string& Name) {
  const auto at = std::find(Header.begin(), Header.end(), Name);
  EXPECT_NE(at, Header.end()) << Name;
  return static_cast<std::size_t>(at - Header.begin());
}

TEST_F(CorpusTest, TableHasEveryVowelWithItsFormantsAndProblemsAreListed) {
  const fs::path corpus = Dir / "corpus";
  std::string manifest = "recording,textgrid,speaker,session\n";
  for (const TRecordingSpec& r : Good) {
    fs::path grid = r.Name;
    grid.replace_extension(".TextGrid");
    Make(r, corpus / r.Name, corpus / grid);
    manifest += r.Name + "," + grid.string() + "," + r.Speaker + ",morning\n";
  }
  // What goes wrong in real corpora, one each.
  Make(Good[0], corpus / "long/x.wav", corpus / "long/x.TextGrid");
  fs::copy_file(corpus / "long/x.wav", corpus / "long/z.wav");
  std::ofstream(corpus / "long/y.TextGrid") << TextGrid(9.5, {{0, 9.5, ""}}, {{0, 9.5, ""}}, true);
  std::ofstream(corpus / "bad.wav") << "not sound at all";
  std::ofstream(corpus / "broken.TextGrid") << "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n0\n1.5x\n";
  manifest += "missing.wav,missing.TextGrid,dan,morning\n"
              "bad.wav,s1/one.TextGrid,dan,morning\n"
              "long/x.wav,long/y.TextGrid,dan,morning\n"
              "s1/one.wav,s1/one.TextGrid,ben,evening\n"
              "long/z.wav,broken.TextGrid,dan,morning\n"
              "s1/one.wav\n";
  std::ofstream(corpus / "manifest.csv") << manifest;
  const fs::path out = Dir / "out";
  const TResult r = Run({"corpus", "--jobs", "2", (corpus / "manifest.csv").string(), out});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Err, "quenvis-render: 6 of 11 recordings could not be measured; see " +
                       out.string() + "/problems.csv\n");

  const auto problems = Csv(out / "problems.csv");
  ASSERT_EQ(problems.size(), 7u);
  EXPECT_EQ(problems[0], (std::vector<std::string>{"recording", "speaker", "problem"}));
  const std::string m = (corpus / "manifest.csv").string();
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"missing.wav", (corpus / "missing.TextGrid").string() + ": No such file or directory"},
      {"bad.wav", (corpus / "bad.wav").string() + ": not a sound file"},
      {"long/x.wav", (corpus / "long/y.TextGrid").string() + ": the TextGrid lasts 9.500 s"},
      {"s1/one.wav", m + ":10: the same recording as " + m + ":2; measured once"},
      {"long/z.wav", (corpus / "broken.TextGrid").string() + ":4: expected the end time (a number)"},
      {"s1/one.wav", m + ":12: has 1 column; recording,textgrid,speaker are needed"},
  };
  for (std::size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(problems[i + 1].size(), 3u);
    EXPECT_EQ(problems[i + 1][0], expected[i].first);
    EXPECT_EQ(problems[i + 1][2].rfind(expected[i].second, 0), 0u) << problems[i + 1][2];
  }

  const auto table = Csv(out / "vowels.csv");
  ASSERT_EQ(table.size(), 1 + 2 * Good.size());
  const auto& h = table[0];
  EXPECT_EQ(std::vector<std::string>(h.begin(), h.begin() + 8),
            (std::vector<std::string>{"recording", "speaker", "session", "word", "phone", "start_s",
                                      "end_s", "duration_s"}));
  EXPECT_EQ(h.size(), 8u + 5 * 7 + 1 + 10);
  const std::size_t f1 = Column(h, "f1_50"), f2 = Column(h, "f2_50"), f0 = Column(h, "f0_50"),
                    z1 = Column(h, "f1_lobanov_50"), z2 = Column(h, "f2_lobanov_50");
  std::map<std::string, std::vector<std::pair<double, double>>> zs;
  double worstF1 = 0, worstF2 = 0;
  std::size_t row = 1;
  for (const TRecordingSpec& spec : Good) {
    for (const TWordSpec& w : spec.Words) {
      SCOPED_TRACE(spec.Name + " " + w.Word);
      const auto& t = table[row++];
      ASSERT_EQ(t.size(), h.size());
      EXPECT_EQ(t[0], spec.Name);
      EXPECT_EQ(t[1], spec.Speaker);
      EXPECT_EQ(t[2], "morning");
      EXPECT_EQ(t[3], w.Word);
      EXPECT_EQ(t[4], w.Vowel);
      EXPECT_NEAR(std::stod(t[7]), VowelS, 0.0001);
      // The estimator's own goals on clean synthetic vowels.
      EXPECT_NEAR(std::stod(t[f0]), spec.F0, spec.F0 * 0.02);
      EXPECT_NEAR(std::stod(t[f1]), w.F[0], 60);
      EXPECT_NEAR(std::stod(t[f2]), w.F[1], 60);
      worstF1 = std::max(worstF1, std::fabs(std::stod(t[f1]) - w.F[0]));
      worstF2 = std::max(worstF2, std::fabs(std::stod(t[f2]) - w.F[1]));
      zs[spec.Speaker].push_back({std::stod(t[z1]), std::stod(t[z2])});
      // Clean vowels with their formants found: trusted, but never above 1.
      const std::string& confidence = t[Column(h, "confidence")];
      ASSERT_EQ(confidence.size(), 4u) << confidence;
      EXPECT_GT(std::stod(confidence), 0.3);
      EXPECT_LE(std::stod(confidence), 1.0);
    }
  }
  std::printf("vowels at 50 %%: worst F1 error %.1f Hz, worst F2 error %.1f Hz\n", worstF1, worstF2);
  // Lobanov: each speaker's z-scores at 50 % have mean 0 and deviation 1.
  for (const auto& [speaker, values] : zs) {
    SCOPED_TRACE(speaker);
    for (int k = 0; k < 2; ++k) {
      double sum = 0, sq = 0;
      for (const auto& v : values) sum += k ? v.second : v.first;
      const double mean = sum / static_cast<double>(values.size());
      for (const auto& v : values) sq += std::pow((k ? v.second : v.first) - mean, 2);
      EXPECT_NEAR(mean, 0, 0.002);
      EXPECT_NEAR(std::sqrt(sq / static_cast<double>(values.size() - 1)), 1, 0.002);
    }
  }
}

// The table's values are the renderer's own 10 ms tracks at those times:
// the median of the formants.csv rows within 5 ms of each point.
TEST_F(CorpusTest, RowsAreTheRenderersTracksAtTheirPoints) {
  const TRecordingSpec& spec = Good[2];
  const double seconds = Make(spec, Dir / "a.wav", Dir / "a.TextGrid");
  std::ofstream(Dir / "m.csv") << "recording,textgrid,speaker\na.wav,a.TextGrid,ann\n";
  ASSERT_EQ(Run({"corpus", (Dir / "m.csv").string(), Dir / "out"}).Status, 0);
  ASSERT_EQ(Run({"--formant-step", "10", (Dir / "a.wav").string(), Dir / "render"}).Status, 0);
  const auto tracks = Csv(Dir / "render/formants.csv");
  const auto table = Csv(Dir / "out/vowels.csv");
  ASSERT_EQ(table.size(), 3u);
  ASSERT_GT(tracks.size(), seconds / 0.01 - 10);
  const auto& h = table[0];
  int compared = 0;
  for (std::size_t r = 1; r < table.size(); ++r) {
    const double start = std::stod(table[r][Column(h, "start_s")]);
    const double end = std::stod(table[r][Column(h, "end_s")]);
    for (const int p : {20, 35, 50, 65, 80}) {
      const double at = start + (end - start) * p / 100.0;
      // formants.csv: block,time_s,f0,f1,f2,f3,b1,b2,b3,voiced
      const char* names[] = {"f0", "f1", "f2", "f3", "b1", "b2", "b3"};
      for (int q = 0; q < 7; ++q) {
        std::vector<double> near;
        for (std::size_t k = 1; k < tracks.size(); ++k) {
          const auto& tr = tracks[k];
          const int formant = q == 0 ? 0 : q <= 3 ? q : q - 3;  // bandwidths go with their formant
          if (std::fabs(std::stod(tr[1]) - at) <= 0.005 + 1e-9 && !tr[2 + q].empty() &&
              !tr[2 + formant].empty())
            near.push_back(std::stod(tr[2 + q]));
        }
        std::sort(near.begin(), near.end());
        const std::string cell = table[r][Column(h, names[q] + std::string("_") + std::to_string(p))];
        SCOPED_TRACE(std::string(names[q]) + " at " + std::to_string(p) + " % of row " + std::to_string(r));
        if (near.empty()) {
          EXPECT_EQ(cell, "");
          continue;
        }
        const std::size_t n = near.size();
        const double median = n % 2 ? near[n / 2] : (near[n / 2 - 1] + near[n / 2]) / 2;
        ASSERT_FALSE(cell.empty());
        // formants.csv holds tenths; the table the median of the exact values.
        EXPECT_NEAR(std::stod(cell), median, 0.1 + 1e-9);
        ++compared;
      }
    }
  }
  // Most points have every value (F3 may be unknown near a vowel's edges).
  EXPECT_GE(compared, 2 * 5 * 7 * 3 / 4);
}

// Shards merged give the table of one run byte for byte; a merge before
// every shard has run names what is missing; --resume keeps what is done.
TEST_F(CorpusTest, ShardsMergeIntoTheSameTableAndResumeSkipsWhatIsDone) {
  const fs::path corpus = Dir / "corpus";
  for (const TRecordingSpec& r : Good) {
    fs::path grid = r.Name;
    grid.replace_extension(".TextGrid");
    Make(r, corpus / r.Name, corpus / grid);
  }
  std::ofstream(corpus / "s3/orphan.wav") << "no TextGrid beside it";
  const fs::path whole = Dir / "whole", sharded = Dir / "sharded";
  ASSERT_EQ(Run({"corpus", corpus, whole}).Status, 0);
  ASSERT_EQ(Csv(whole / "vowels.csv").size(), 1 + 2 * Good.size());
  ASSERT_EQ(Csv(whole / "problems.csv").size(), 2u);

  // Shard 3 of 3 takes its number from Slurm's variable.
  ASSERT_EQ(Run({"corpus", "--shard", "1/3", corpus, sharded}).Status, 0);
  const TResult early = Run({"corpus", "merge", sharded});
  EXPECT_EQ(early.Status, 2);
  EXPECT_NE(early.Err.find("not measured yet: "), std::string::npos) << early.Err;
  EXPECT_NE(early.Err.find("have no part yet; nothing merged"), std::string::npos) << early.Err;
  EXPECT_FALSE(fs::exists(sharded / "vowels.csv"));
  ASSERT_EQ(Run({"corpus", "--shard", "2/3", corpus, sharded}).Status, 0);
  ASSERT_EQ(Run({"corpus", "--shard", "3", corpus, sharded}, "SLURM_ARRAY_TASK_ID=3").Status, 0);
  ASSERT_EQ(Run({"corpus", "merge", sharded}).Status, 0);
  EXPECT_EQ(Bytes(sharded / "vowels.csv"), Bytes(whole / "vowels.csv"));
  EXPECT_EQ(Bytes(sharded / "problems.csv"), Bytes(whole / "problems.csv"));

  // A part lost (a preempted task) is redone; the others are left as they are.
  std::vector<fs::path> parts;
  for (const auto& e : fs::directory_iterator(sharded / "parts"))
    if (e.path().extension() == ".part") parts.push_back(e.path());
  ASSERT_EQ(parts.size(), Good.size() + 1);
  std::sort(parts.begin(), parts.end());
  std::map<fs::path, ino_t> inodes;
  for (const fs::path& p : parts) {
    struct stat st {};
    ASSERT_EQ(::stat(p.c_str(), &st), 0);
    inodes[p] = st.st_ino;
  }
  fs::remove(parts[1]);
  // A part cut short (a machine that crashed) is measured again too.
  const std::string cut = Bytes(parts[2]);
  std::ofstream(parts[2], std::ios::binary | std::ios::trunc) << cut.substr(0, cut.size() / 2);
  for (const char* shard : {"1/3", "2/3", "3/3"})
    ASSERT_EQ(Run({"corpus", "--resume", "--shard", shard, corpus, sharded}).Status, 0);
  ASSERT_TRUE(fs::exists(parts[1]));
  for (const fs::path& p : parts) {
    struct stat st {};
    ASSERT_EQ(::stat(p.c_str(), &st), 0);
    if (p == parts[2]) {
      EXPECT_EQ(Bytes(p), cut);
    } else if (p != parts[1]) {
      EXPECT_EQ(st.st_ino, inodes[p]) << p << " was measured again";
    }
  }
  ASSERT_EQ(Run({"corpus", "merge", sharded}).Status, 0);
  EXPECT_EQ(Bytes(sharded / "vowels.csv"), Bytes(whole / "vowels.csv"));

  // Without a shard number there is nothing to guess from.
  const TResult noShard = Run({"corpus", "--shard", "3", corpus, sharded}, "env -u SLURM_ARRAY_TASK_ID");
  EXPECT_EQ(noShard.Status, 2);
  EXPECT_EQ(noShard.Err, "quenvis-render: --shard 3: which shard? give I/3 or set SLURM_ARRAY_TASK_ID\n");
}

// A task told to stop (SIGTERM, as a scheduler preempts) ends at once by
// that signal, keeping the recordings it finished and writing no table; a
// run with --resume measures only the rest, into the same table as one
// uninterrupted run.
TEST_F(CorpusTest, StoppedRunKeepsWhatItFinishedAndResumes) {
  const fs::path corpus = Dir / "corpus";
  std::string manifest = "recording,textgrid,speaker\n";
  for (int i = 0; i < 12; ++i) {
    TRecordingSpec r = Good[static_cast<std::size_t>(i) % Good.size()];
    r.Name = "r" + std::to_string(i) + ".wav";
    // Long enough that the stop comes while most are still to do.
    for (int k = 0; k < 3; ++k) r.Words.push_back(r.Words[static_cast<std::size_t>(k) % 2]);
    Make(r, corpus / r.Name, corpus / ("r" + std::to_string(i) + ".TextGrid"));
    manifest += r.Name + ",r" + std::to_string(i) + ".TextGrid," + r.Speaker + "\n";
  }
  std::ofstream(corpus / "m.csv") << manifest;
  const fs::path whole = Dir / "whole", stopped = Dir / "stopped";
  ASSERT_EQ(Run({"corpus", corpus / "m.csv", whole}).Status, 0);

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  const fs::path err = Dir / "err.txt";
  if (child == 0) {
    ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
    ::execl(QUENVIS_RENDER_EXE, QUENVIS_RENDER_EXE, "corpus", "--jobs", "1",
            (corpus / "m.csv").c_str(), stopped.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  auto parts = [&] {
    std::size_t n = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(stopped / "parts", ec))
      n += e.path().extension() == ".part";
    return n;
  };
  for (int i = 0; i < 2000 && parts() == 0; ++i) ::usleep(5000);
  ::kill(child, SIGTERM);
  int status = 0;
  pid_t ended = 0;
  for (int i = 0; i < 500 && ended == 0; ++i) {
    ended = ::waitpid(child, &status, WNOHANG);
    if (ended == 0) ::usleep(10000);
  }
  if (ended == 0) {
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
  }
  EXPECT_EQ(ended, child) << "still running 5 s after SIGTERM";
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  const std::size_t kept = parts();
  EXPECT_GE(kept, 1u);
  EXPECT_LT(kept, 12u);
  EXPECT_FALSE(fs::exists(stopped / "vowels.csv"));
  EXPECT_EQ(Bytes(err), "quenvis-render: " + (corpus / "m.csv").string() +
                            ": interrupted; the recordings measured so far are kept (run again "
                            "with --resume)\n");

  ASSERT_EQ(Run({"corpus", "--resume", corpus / "m.csv", stopped}).Status, 0);
  EXPECT_EQ(Bytes(stopped / "vowels.csv"), Bytes(whole / "vowels.csv"));
}

}  // namespace
