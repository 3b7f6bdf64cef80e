// quenvis-render end to end, on sound files generated here.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/AnalysisSettings.h"
#include "analysis/FormantTracker.h"
#include "app/VowelChartPainter.h"
#include "render/Sonogram.h"
#include "support/VowelSynth.h"

namespace {

namespace fs = std::filesystem;

class RenderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = fs::temp_directory_path() /
          ("quenvis-render-test-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(Dir);
    fs::create_directories(Dir);
  }
  void TearDown() override { fs::remove_all(Dir); }

  static SNDFILE* Create(const fs::path& Path, int Rate, int Channels, int Format) {
    SF_INFO info{};
    info.samplerate = Rate;
    info.channels = Channels;
    info.format = Format;
    SNDFILE* f = sf_open(Path.c_str(), SFM_WRITE, &info);
    EXPECT_NE(f, nullptr) << Path;
    return f;
  }

  // Writes Frames frames of sines on the given bins (all channels alike).
  fs::path Wave(const std::string& Name, int Frames, std::vector<int> Bins, int Channels = 2,
                int Rate = 44100, int Format = SF_FORMAT_WAV | SF_FORMAT_PCM_16) {
    const fs::path path = Dir / Name;
    SNDFILE* f = Create(path, Rate, Channels, Format);
    std::vector<short> data(static_cast<std::size_t>(Frames * Channels));
    for (int i = 0; i < Frames; ++i) {
      double v = 0;
      for (int b : Bins) v += 8000 * std::sin(2 * M_PI * b * (i % 4096) / 4096.0);
      for (int c = 0; c < Channels; ++c)
        data[static_cast<std::size_t>(i * Channels + c)] = static_cast<short>(std::lrint(v));
    }
    sf_writef_short(f, data.data(), Frames);
    sf_close(f);
    return path;
  }

  // Sines of the given frequencies in Hz; channels after the second carry
  // other tones, which must not reach the analysis.
  fs::path Tones(const std::string& Name, int Rate, std::vector<double> Hz, int Channels = 2,
                 double Seconds = 1.5, int Format = SF_FORMAT_WAV | SF_FORMAT_PCM_16) {
    const fs::path path = Dir / Name;
    SNDFILE* f = Create(path, Rate, Channels, Format);
    const int frames = static_cast<int>(Seconds * Rate);
    std::vector<float> data(static_cast<std::size_t>(frames * Channels));
    for (int i = 0; i < frames; ++i)
      for (int c = 0; c < Channels; ++c) {
        double v = 0;
        for (double h : Hz) v += 0.25 * std::sin(2 * M_PI * (c < 2 ? h : h * 1.7) * i / Rate);
        data[static_cast<std::size_t>(i * Channels + c)] = static_cast<float>(v);
      }
    sf_writef_float(f, data.data(), frames);
    sf_close(f);
    return path;
  }

  struct TResult {
    int Status;
    std::string Err;
  };
  // Feed, when given, is a shell command whose output is piped into stdin.
  TResult Run(const std::vector<std::string>& Args, const std::string& Feed = "") {
    std::string cmd = "'" QUENVIS_RENDER_EXE "'";
    for (const std::string& a : Args) cmd += " '" + a + "'";
    cmd = Feed.empty() ? cmd + " </dev/null" : Feed + " | " + cmd;
    const fs::path err = Dir / "stderr.txt";
    const int raw = std::system((cmd + " 2>'" + err.string() + "' >/dev/null").c_str());
    std::ifstream in(err);
    std::stringstream text;
    text << in.rdbuf();
    fs::remove(err);
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, text.str()};
  }

  static std::vector<std::vector<std::string>> Csv(const fs::path& p) {
    std::vector<std::vector<std::string>> rows;
    std::ifstream in(p);
    for (std::string line; std::getline(in, line);) {
      std::vector<std::string> cells;
      std::stringstream ls(line);
      for (std::string cell; std::getline(ls, cell, ',');) cells.push_back(cell);
      if (!line.empty() && line.back() == ',') cells.emplace_back();
      rows.push_back(cells);
    }
    return rows;
  }

  static std::string Bytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  static void Put(const fs::path& p, const std::string& Data) {
    std::ofstream(p, std::ios::binary | std::ios::trunc) << Data;
  }
  static void PutLE32(std::string& Data, std::size_t At, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) Data[At + i] = static_cast<char>(v >> (8 * i));
  }
  // Files and folders in Dir, hidden ones included.
  static std::vector<std::string> Listing(const fs::path& Dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(Dir, ec)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path Dir;
  const std::vector<std::string> AllOutputs = {"chart.png", "formants.csv",    "peaks.csv",
                                               "plot.png",  "spectrogram.png", "spectrum.png"};
};

TEST_F(RenderTest, TwoTonesGivePeakBinsAndMarksAtTheExpectedPixels) {
  const fs::path in = Wave("two.wav", 3 * 44100, {18, 100});
  const fs::path out = Dir / "out" / "nested";
  const TResult r = Run({"--fade", "0", in, out});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Err, "");  // no progress line off a terminal

  const auto rows = Csv(out / "peaks.csv");
  ASSERT_EQ(rows.size(), 1u + 65u);  // 132300 frames: 64 full blocks and a partial one
  EXPECT_EQ(rows[0], (std::vector<std::string>{"block", "time_s", "zone1_bin", "zone1_hz", "level1",
                                               "zone2_bin", "zone2_hz", "level2", "found"}));
  EXPECT_DOUBLE_EQ(std::stod(rows[1][1]), 2048.0 / 44100);
  EXPECT_DOUBLE_EQ(std::stod(rows[65][1]), 65 * 2048.0 / 44100);
  for (std::size_t i = 1; i < rows.size(); ++i) {
    ASSERT_EQ(rows[i].size(), 9u);
    EXPECT_EQ(rows[i][0], std::to_string(i - 1));
    EXPECT_EQ(rows[i][2], "18");
    EXPECT_EQ(rows[i][3], "193.798828125");
    EXPECT_EQ(rows[i][5], "100");
    EXPECT_EQ(rows[i][6], "1076.66015625");
    EXPECT_EQ(rows[i][8], "1");
  }

  const QImage spectrum(QString::fromStdString((out / "spectrum.png").string()));
  const QImage plot(QString::fromStdString((out / "plot.png").string()));
  ASSERT_EQ(spectrum.size(), QSize(1024, 256));
  ASSERT_EQ(plot.size(), QSize(256, 256));
  // 100 dpi, as the files have always said, whatever screen Qt assumes.
  EXPECT_EQ(spectrum.dotsPerMeterX(), 3937);
  EXPECT_EQ(plot.dotsPerMeterY(), 3937);
  // Marker of zone 1 centred on x = 36, zone 2 on x = 200, at the level's row.
  const double level1 = std::stod(rows.back()[4]), level2 = std::stod(rows.back()[7]);
  const int y1 = static_cast<int>(std::nearbyint(255 - level1 * 25.5));
  const int y2 = static_cast<int>(std::nearbyint(255 - level2 * 25.5));
  EXPECT_EQ(spectrum.pixel(31, y1 - 5), 0xFF800000u);
  EXPECT_EQ(spectrum.pixel(41, y1 - 5), 0xFF800000u);
  EXPECT_EQ(spectrum.pixel(195, y2 - 5), 0xFF000080u);
  EXPECT_EQ(spectrum.pixel(205, y2 - 5), 0xFF000080u);
  // Plot mark centred on (30, 182) for bins 18 in 10..79 and 100 in 56..209.
  int marked = 0;
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x) marked += plot.pixel(x, y) != 0xFF000000u;
  EXPECT_EQ(marked, 40);
  EXPECT_EQ(plot.pixel(25, 177), 0xFFFFFF00u);
  EXPECT_EQ(plot.pixel(35, 187), 0xFFFFFF00u);
  EXPECT_EQ(plot.pixel(30, 182), 0xFF000000u);
  // Nothing else was left in the output folder.
  EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 6);
}

TEST_F(RenderTest, MonoFeedsBothChannelsAndOptionsApply) {
  const fs::path stereo = Wave("s.wav", 20000, {30, 150});
  const fs::path mono =
      Wave("m.flac", 20000, {30, 150}, 1, 44100, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
  ASSERT_EQ(Run({stereo, Dir / "a"}).Status, 0);
  ASSERT_EQ(Run({mono, Dir / "b"}).Status, 0);
  EXPECT_EQ(Csv(Dir / "a" / "peaks.csv"), Csv(Dir / "b" / "peaks.csv"));
  // Zone 1 limited to 100..200 Hz (bins 9..19) no longer sees bin 30.
  ASSERT_EQ(Run({"--zone1-lo=100", "--zone1-hi", "200", "--window", "Blackman_Nuttall", stereo,
                 Dir / "c"})
                .Status,
            0);
  EXPECT_NE(Csv(Dir / "c" / "peaks.csv")[3][2], "30");
}

TEST_F(RenderTest, PowerTableHasEveryBinOfEveryBlock) {
  const fs::path silent = Wave("silent.wav", 1000, {}, 1);
  ASSERT_EQ(Run({"--power", silent, Dir / "o"}).Status, 0);
  const auto rows = Csv(Dir / "o" / "power.csv");
  ASSERT_EQ(rows.size(), 1u);  // one zero-padded block
  ASSERT_EQ(rows[0].size(), 4096u);
  for (const std::string& v : rows[0]) ASSERT_EQ(v, "-inf");
  const auto peaks = Csv(Dir / "o" / "peaks.csv");
  ASSERT_EQ(peaks.size(), 2u);
  EXPECT_EQ(peaks[1][2], "-1");
  EXPECT_EQ(peaks[1][3], "");
  EXPECT_EQ(peaks[1][8], "0");

  const fs::path tone = Wave("tone.wav", 5000, {100});
  ASSERT_EQ(Run({"--power", tone, Dir / "p"}).Status, 0);
  const auto power = Csv(Dir / "p" / "power.csv");
  ASSERT_EQ(power.size(), 3u);
  for (const auto& row : power) ASSERT_EQ(row.size(), 4096u);
  EXPECT_GT(std::stod(power[1][100]), std::stod(power[1][90]) + 3);
}

TEST_F(RenderTest, BadInputFailsWithOneLineAndNoOutput) {
  const fs::path good = Wave("good.wav", 30000, {18});
  const fs::path slow = Wave("slow.wav", 3000, {18}, 2, 500);
  const fs::path garbage = Dir / "garbage.wav";
  std::ofstream(garbage) << "this is not a sound file at all";
  const fs::path missing = Dir / "missing.wav";
  const fs::path out = Dir / "out";

  struct Case {
    std::vector<std::string> Args;
    std::string Named;  // the file or option the message must name
  };
  const Case cases[] = {
      {{missing, out}, missing},
      {{Dir, out}, Dir},
      {{garbage, out}, garbage},
      {{slow, out}, slow},
      {{"--colour", "red", good, out}, "--colour"},
      {{"--fade", "12", good, out}, "--fade"},
      {{"--zone1-lo", "5", good, out}, "--zone1-lo"},
      {{"--power-range=10001", good, out}, "--power-range"},
      {{"--threshold", "abc", good, out}, "--threshold"},
      {{"--freq-range", "1.5", good, out}, "--freq-range"},
      {{"--window", "triangle", good, out}, "--window"},
      {{good, Dir / "x" / "good.flac", out}, "good.flac"},
      {{"--power-format", "hdf5", good, out}, "--power-format"},
      {{"--chart-size", "100x600", good, out}, "--chart-size"},
      {{"--voice", "robot", good, out}, "--voice"},
      {{good}, "OUTDIR"},
      {{good, out, "--fade"}, "--fade"},
  };
  for (const Case& c : cases) {
    const TResult r = Run(c.Args);
    EXPECT_EQ(r.Status, 2) << c.Named;
    EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
    EXPECT_NE(r.Err.find(c.Named), std::string::npos) << r.Err;
    EXPECT_TRUE(!fs::exists(out) || fs::is_empty(out)) << c.Named;
  }
}

// Recordings that once crashed, failed or went unremarked, each made here.
TEST_F(RenderTest, HostileRecordingsRenderWhatIsThereWithOneNote) {
  const int frames = 30000;  // 15 blocks
  const fs::path wav = Wave("w.wav", frames, {18});
  struct Case {
    std::string Name;
    std::function<std::string()> Make;  // returns the input path, or "-" with Feed set
    std::string Feed;
    bool EndsEarly;
    std::size_t MinRows, MaxRows;  // data rows of peaks.csv
  };
  auto cut = [&](const std::string& Name, int Format) {
    return [=, this] {
      const fs::path whole = Wave("whole-" + Name, frames, {18}, 2, 44100, Format);
      const fs::path p = Dir / Name;
      fs::copy_file(whole, p);
      fs::resize_file(p, fs::file_size(whole) / 2);
      return p.string();
    };
  };
  const Case cases[] = {
      // FLAC whose header gives 0 total samples (unknown): read to the end.
      {"flac-zero-count",
       [&] {
         const fs::path p =
             Wave("z.flac", frames, {18}, 2, 44100, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
         std::string d = Bytes(p);
         d[21] = static_cast<char>(d[21] & 0xF0);
         std::fill(d.begin() + 22, d.begin() + 26, '\0');
         Put(p, d);
         return p.string();
       },
       "", false, 15, 15},
      // A stream with the placeholder sizes of a writer that cannot seek back.
      {"wav-stream-stdin",
       [&] {
         const fs::path p = Dir / "stream.wav";
         std::string d = Bytes(wav);
         PutLE32(d, 4, 0x7FFFF024);
         PutLE32(d, d.find("data") + 4, 0x7FFFF000);
         Put(p, d);
         return std::string("-");
       },
       "cat '" + (Dir / "stream.wav").string() + "'", false, 15, 15},
      {"au8-stdin",
       [&] {
         Wave("a8.au", frames, {18}, 2, 44100, SF_FORMAT_AU | SF_FORMAT_PCM_S8);
         return std::string("-");
       },
       "cat '" + (Dir / "a8.au").string() + "'", false, 15, 15},
      {"rf64-stdin",
       [&] {
         Wave("a.rf64", frames, {18}, 2, 44100, SF_FORMAT_RF64 | SF_FORMAT_PCM_16);
         return std::string("-");
       },
       "cat '" + (Dir / "a.rf64").string() + "'", false, 15, 15},
      {"cut-wav", cut("c.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16), "", true, 7, 8},
      {"cut-aiff", cut("c.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16), "", true, 7, 8},
      {"cut-au", cut("c.au", SF_FORMAT_AU | SF_FORMAT_PCM_16), "", true, 7, 8},
      {"cut-w64", cut("c.w64", SF_FORMAT_W64 | SF_FORMAT_PCM_16), "", true, 7, 8},
      {"cut-flac", cut("c.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16), "", true, 1, 14},
  };
  for (const Case& c : cases) {
    const std::string input = c.Make();
    const fs::path out = Dir / ("out-" + c.Name);
    const TResult r = Run({input, out}, c.Feed);
    ASSERT_EQ(r.Status, 0) << c.Name << ": " << r.Err;
    EXPECT_EQ(r.Err.find("ends early") != std::string::npos, c.EndsEarly)
        << c.Name << ": " << r.Err;
    EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), c.EndsEarly ? 1 : 0) << c.Name;
    const std::size_t rows = Csv(out / "peaks.csv").size() - 1;
    EXPECT_GE(rows, c.MinRows) << c.Name;
    EXPECT_LE(rows, c.MaxRows) << c.Name;
    EXPECT_EQ(Listing(out), AllOutputs) << c.Name;
  }
}

TEST_F(RenderTest, FailuresAreOneLineAndLeaveNothingBehind) {
  const fs::path good = Wave("good.wav", 30000, {18});
  const fs::path garbage = Dir / "garbage";
  Put(garbage, std::string(5000, '\x5A'));
  const std::string odd = (Dir / "odd\xff\xfe").string();

  // A folder where plot.png should go: nothing at all is placed.
  const fs::path blocked = Dir / "blocked";
  fs::create_directories(blocked / "plot.png");
  TResult r = Run({good, blocked});
  EXPECT_EQ(r.Status, 2);
  EXPECT_NE(r.Err.find("plot.png"), std::string::npos) << r.Err;
  EXPECT_EQ(Listing(blocked), std::vector<std::string>{"plot.png"});

  struct Case {
    std::vector<std::string> Args;
    std::string Feed;
    std::string Named;  // what the one line must contain
  };
  const Case cases[] = {
      {{"-", Dir / "o"}, "cat '" + garbage.string() + "'", "standard input: "},
      {{"", Dir / "o"}, "", "'' (empty file name): "},
      {{"--window", "bad\nname", good, Dir / "o"}, "", "bad\\nname"},
      {{garbage, Dir / "o"}, "", garbage},
  };
  for (const Case& c : cases) {
    r = Run(c.Args, c.Feed);
    EXPECT_EQ(r.Status, 2) << c.Named;
    EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
    EXPECT_NE(r.Err.find(c.Named), std::string::npos) << r.Err;
    EXPECT_TRUE(Listing(Dir / "o").empty()) << c.Named;
  }

  // Paths are bytes: a folder name that is not UTF-8 works.
  ASSERT_EQ(Run({good, odd}).Status, 0);
  EXPECT_TRUE(fs::exists(fs::path(odd) / "plot.png"));

  // A planted link in place of an output is replaced, not followed.
  const fs::path victim = Dir / "victim.txt";
  Put(victim, "keep");
  fs::create_directories(Dir / "planted");
  fs::create_symlink(victim, Dir / "planted" / "peaks.csv");
  ASSERT_EQ(Run({good, Dir / "planted"}).Status, 0);
  EXPECT_EQ(Bytes(victim), "keep");
  EXPECT_FALSE(fs::is_symlink(Dir / "planted" / "peaks.csv"));
}

TEST_F(RenderTest, TerminatedRunRemovesItsPrivateFolder) {
  const fs::path stream = Wave("s.wav", 44100 * 5, {18});
  std::string data = Bytes(stream);
  PutLE32(data, 4, 0x7FFFF024);
  PutLE32(data, data.find("data") + 4, 0x7FFFF000);
  const fs::path out = Dir / "out";
  int feed[2];
  ASSERT_EQ(::pipe(feed), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::dup2(feed[0], STDIN_FILENO);
    ::close(feed[0]);
    ::dup2(::open("/dev/null", O_WRONLY), STDERR_FILENO);
    ::close(feed[1]);
    ::execl(QUENVIS_RENDER_EXE, QUENVIS_RENDER_EXE, "-", out.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(feed[0]);
  const std::size_t half = data.size() / 2;
  ASSERT_EQ(::write(feed[1], data.data(), half), static_cast<ssize_t>(half));
  // Waits until the run has made its private folder, then ends it.
  for (int i = 0; i < 500 && Listing(out).empty(); ++i) ::usleep(10000);
  ASSERT_EQ(Listing(out).size(), 1u);
  ::kill(child, SIGTERM);
  ::usleep(50000);
  // The next block lets a blocked read return; the run may have ended already.
  const auto pipeAction = std::signal(SIGPIPE, SIG_IGN);
  (void)!::write(feed[1], data.data() + half, 16384);
  std::signal(SIGPIPE, pipeAction);
  ::close(feed[1]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  EXPECT_TRUE(Listing(out).empty());
}

TEST_F(RenderTest, AnyRateAndChannelCountReachesTheRightBins) {
  // Bins 30 and 150 of the 44 100 Hz analysis, in zone 1 and zone 2.
  const std::vector<double> hz = {30 * 44100.0 / 4096, 150 * 44100.0 / 4096};
  struct Case {
    int Rate, Channels;
    std::string Note;  // the one line expected on stderr
  };
  const Case cases[] = {
      {8000, 2, "resampled from 8000 Hz"},
      {22050, 1, "resampled from 22050 Hz"},
      {48000, 2, "resampled from 48000 Hz"},
      {96000, 2, "resampled from 96000 Hz"},
      {44100, 1, ""},
      {44100, 6, "6 channels, rendered the first two"},
  };
  for (const Case& c : cases) {
    const std::string name = std::to_string(c.Rate) + "-" + std::to_string(c.Channels);
    const fs::path in = Tones(name + ".wav", c.Rate, hz, c.Channels);
    const TResult r = Run({in, Dir / name});
    ASSERT_EQ(r.Status, 0) << name << r.Err;
    EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), c.Note.empty() ? 0 : 1) << r.Err;
    EXPECT_NE(r.Err.find(c.Note), std::string::npos) << name << r.Err;
    const auto rows = Csv(Dir / name / "peaks.csv");
    // 1.5 s is 33 blocks after resampling; the first and last are partial.
    ASSERT_GE(rows.size(), 1u + 32u) << name;
    ASSERT_LE(rows.size(), 1u + 34u) << name;
    for (std::size_t i = 3; i + 3 < rows.size(); ++i) {
      EXPECT_EQ(rows[i][2], "30") << name << " block " << i;
      EXPECT_EQ(rows[i][5], "150") << name << " block " << i;
    }
  }
}

TEST_F(RenderTest, NpyPowerEqualsTheCsvInFloat32) {
  const fs::path in = Wave("t.wav", 9000, {40, 300});
  ASSERT_EQ(Run({"--power", in, Dir / "csv"}).Status, 0);
  ASSERT_EQ(Run({"--power-format", "npy", in, Dir / "npy"}).Status, 0);
  const std::string npy = Bytes(Dir / "npy" / "power.npy");
  ASSERT_GT(npy.size(), 10u);
  ASSERT_EQ(npy.compare(0, 8, std::string("\x93NUMPY\x01\x00", 8)), 0);
  const std::size_t headerEnd =
      10 + static_cast<unsigned char>(npy[8]) + 256 * static_cast<unsigned char>(npy[9]);
  EXPECT_EQ(headerEnd % 64, 0u);
  const std::string header = npy.substr(10, headerEnd - 10);
  EXPECT_NE(header.find("'descr': '<f4'"), std::string::npos) << header;
  EXPECT_NE(header.find("'fortran_order': False"), std::string::npos) << header;
  EXPECT_NE(header.find("'shape': (5, 4096)"), std::string::npos) << header;
  const auto csv = Csv(Dir / "csv" / "power.csv");
  ASSERT_EQ(csv.size(), 5u);
  ASSERT_EQ(npy.size(), headerEnd + 5 * 4096 * 4);
  for (std::size_t b = 0; b < 5; ++b)
    for (std::size_t k = 0; k < 4096; ++k) {
      float v;
      std::memcpy(&v, npy.data() + headerEnd + (b * 4096 + k) * 4, 4);
      ASSERT_EQ(v, static_cast<float>(std::stod(csv[b][k]))) << b << " " << k;
    }
  EXPECT_FALSE(fs::exists(Dir / "npy" / "power.csv"));
}

TEST_F(RenderTest, SpectrogramShowsTonesAtTheirLabelledHeightsAndPages) {
  const fs::path in = Tones("t.wav", 44100, {1000, 3000});
  ASSERT_EQ(Run({in, Dir / "o"}).Status, 0);
  const QImage image(QString::fromStdString((Dir / "o" / "spectrogram.png").string()));
  ASSERT_FALSE(image.isNull());
  // 1.5 s: 33 columns between the margins.
  constexpr int left = 48, right = 8, top = 14, plot = 512;
  ASSERT_EQ(image.width(), left + 33 + right);
  // The axis ticks, bottom (0 Hz) up, every 1000 Hz.
  std::vector<int> ticks;
  for (int y = top + plot - 1; y >= top; --y)
    if (qGray(image.pixel(left - 1, y)) > 150) ticks.push_back(y);
  ASSERT_GE(ticks.size(), 5u);
  // The two brightest rows of a column in the middle.
  std::vector<std::pair<int, int>> rows;
  for (int y = top; y < top + plot; ++y) rows.push_back({-qGray(image.pixel(left + 16, y)), y});
  std::sort(rows.begin(), rows.end());
  std::vector<int> bright;
  for (const auto& [g, y] : rows)
    if (std::none_of(bright.begin(), bright.end(), [&](int b) { return std::abs(b - y) < 5; }))
      bright.push_back(y);
  bright.resize(2);
  std::sort(bright.begin(), bright.end());
  EXPECT_NEAR(bright[1], ticks[1], 1);  // 1000 Hz
  EXPECT_NEAR(bright[0], ticks[3], 1);  // 3000 Hz

  // 4000 blocks fit one image; one more block makes two pages.
  for (const int blocks : {4000, 4001}) {
    const fs::path silent = Wave("s" + std::to_string(blocks) + ".flac", blocks * 2048, {}, 1,
                                 44100, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    const fs::path out = Dir / std::to_string(blocks);
    ASSERT_EQ(Run({silent, out}).Status, 0);
    if (blocks == 4000) {
      EXPECT_EQ(QImage(QString::fromStdString((out / "spectrogram.png").string())).width(),
                left + 4000 + right);
      EXPECT_FALSE(fs::exists(out / "spectrogram-001.png"));
    } else {
      EXPECT_FALSE(fs::exists(out / "spectrogram.png"));
      EXPECT_EQ(QImage(QString::fromStdString((out / "spectrogram-001.png").string())).width(),
                left + 4000 + right);
      EXPECT_EQ(QImage(QString::fromStdString((out / "spectrogram-002.png").string())).width(),
                left + 1 + right);
    }
  }
}

// Silence, a synthetic vowel, silence: the vowel's formants in formants.csv,
// on the spectrogram and as dots on the chart; nothing in the silences.
TEST_F(RenderTest, VowelGivesFormantsTracksAndChartDots) {
  using quenvis::test::TVowel;
  struct Case {
    std::string Voice;
    TVowel Vowel;
    std::string Size;
    int Width, Height;
  };
  const Case cases[] = {
      {"man", {.F0 = 120, .F = {730, 1090, 2440, 3300, 3750}, .Seconds = 2}, "", 800, 600},
      {"woman", {.F0 = 220, .F = {310, 2790, 3310, 4300, 4900}, .Seconds = 2}, "640x900", 640, 900},
  };
  constexpr double lead = 0.5, tail = 0.5;
  for (const Case& c : cases) {
    const std::vector<std::int16_t> vowel = quenvis::test::Synthesize(c.Vowel);
    std::vector<short> mono(static_cast<std::size_t>(lead * 44100));
    mono.insert(mono.end(), vowel.begin(), vowel.end());
    mono.resize(mono.size() + static_cast<std::size_t>(tail * 44100));
    const fs::path in = Dir / (c.Voice + ".wav"), out = Dir / c.Voice;
    SNDFILE* f = Create(in, 44100, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    sf_writef_short(f, mono.data(), static_cast<sf_count_t>(mono.size()));
    sf_close(f);
    std::vector<std::string> args = {"--voice", c.Voice, in, out};
    if (!c.Size.empty()) args.insert(args.begin(), {"--chart-size", c.Size});
    const TResult r = Run(args);
    ASSERT_EQ(r.Status, 0) << r.Err;

    const auto rows = Csv(out / "formants.csv"), peaks = Csv(out / "peaks.csv");
    ASSERT_EQ(rows[0], (std::vector<std::string>{"block", "time_s", "f0_hz", "f1_hz", "f2_hz",
                                                 "f3_hz", "b1_hz", "b2_hz", "b3_hz", "voiced"}));
    ASSERT_EQ(rows.size(), peaks.size());
    std::vector<double> f1, f2;
    std::vector<int> middle;
    for (std::size_t i = 1; i < rows.size(); ++i) {
      const auto& row = rows[i];
      ASSERT_EQ(row.size(), 10u) << i;
      EXPECT_EQ(row[0], peaks[i][0]);
      EXPECT_EQ(row[1], peaks[i][1]);
      for (std::size_t k = 2; k < 9; ++k) {
        const std::string& v = row[k];
        const std::size_t dot = v.find('.');
        EXPECT_TRUE(v.empty() || (dot != std::string::npos && dot + 2 == v.size() && dot > 0 &&
                                  v.find_first_not_of("0123456789.") == std::string::npos))
            << c.Voice << " row " << i << ": " << v;
      }
      const double t = std::stod(row[1]);
      if (t < lead - 0.05 || t > lead + c.Vowel.Seconds + 0.2) {
        EXPECT_EQ(row[9], "0") << c.Voice << " silent row " << i;
        EXPECT_EQ(std::count(row.begin() + 2, row.begin() + 9, ""), 7) << c.Voice << " row " << i;
      } else if (t > lead + c.Vowel.Seconds / 4 && t < lead + c.Vowel.Seconds * 3 / 4) {
        EXPECT_EQ(row[9], "1") << c.Voice << " vowel row " << i;
        EXPECT_NEAR(std::stod(row[2]), c.Vowel.F0, c.Vowel.F0 * 0.02) << c.Voice << " row " << i;
        if (row[3].empty() || row[4].empty()) continue;
        f1.push_back(std::stod(row[3]));
        f2.push_back(std::stod(row[4]));
        middle.push_back(static_cast<int>(i - 1));
      }
    }
    ASSERT_GE(f1.size(), 18u) << c.Voice;  // of about 22 blocks
    std::nth_element(f1.begin(), f1.begin() + f1.size() / 2, f1.end());
    std::nth_element(f2.begin(), f2.begin() + f2.size() / 2, f2.end());
    const double medianF1 = f1[f1.size() / 2], medianF2 = f2[f2.size() / 2];
    EXPECT_NEAR(medianF1, c.Vowel.F[0], 50) << c.Voice;
    EXPECT_NEAR(medianF2, c.Vowel.F[1], 60) << c.Voice;

    // The spectrogram's F1 track (cyan) and F2 track (magenta) at their rows.
    const QImage spectrogram(QString::fromStdString((out / "spectrogram.png").string()));
    const quenvis::CSonogram scale(quenvis::StartupSettings());
    const int column = quenvis::CSonogram::Left + middle[middle.size() / 2];
    const auto& row = rows[static_cast<std::size_t>(middle[middle.size() / 2]) + 1];
    EXPECT_EQ(spectrogram.pixel(column, scale.RowOfHz(std::stod(row[3]))), 0xFF00FFFFu) << c.Voice;
    EXPECT_EQ(spectrogram.pixel(column, scale.RowOfHz(std::stod(row[4]))), 0xFFFF00FFu) << c.Voice;
    for (int y = 0; y < spectrogram.height(); ++y) {
      const QRgb p = spectrogram.pixel(quenvis::CSonogram::Left + 2, y);
      EXPECT_TRUE(p != 0xFF00FFFFu && p != 0xFFFF00FFu) << c.Voice << " silent column, y " << y;
    }

    // The chart: its size, and the vowel's dots (reds, not the paper's grey)
    // where the median formants lie.
    const QImage chart(QString::fromStdString((out / "chart.png").string()));
    ASSERT_EQ(chart.size(), QSize(c.Width, c.Height)) << c.Voice;
    quenvis::CVowelChartPainter painter;
    painter.SetVoice(*quenvis::ParseVoice(c.Voice));
    const quenvis::CChartScale plane = painter.ScaleFor(QSizeF(c.Width, c.Height));
    const QRgb dot = chart.pixel(quenvis::RoundToInt32(plane.XOfF2(medianF2)),
                                 quenvis::RoundToInt32(plane.YOfF1(medianF1)));
    EXPECT_GT(qRed(dot) - qBlue(dot), 80) << c.Voice << std::hex << " " << dot;
    const QRgb corner = chart.pixel(c.Width - 2, c.Height - 2);
    EXPECT_LT(std::abs(qRed(corner) - qBlue(corner)), 10) << c.Voice;
  }
}

// With --formant-step, one row per hop (a multiple of 4 frames near the
// step), each at the centre of its analysis frame: the rows of the vowel are
// voiced and those well clear of it not.
TEST_F(RenderTest, FormantStepGivesRowsAtTheirFrameCentres) {
  const quenvis::test::TVowel vowel{.F0 = 150, .F = {660, 1720, 2410, 3300, 3750}, .Seconds = 1};
  constexpr double lead = 0.5, tail = 0.5;
  std::vector<short> mono(static_cast<std::size_t>(lead * 44100));
  const std::vector<std::int16_t> sound = quenvis::test::Synthesize(vowel);
  mono.insert(mono.end(), sound.begin(), sound.end());
  mono.resize(mono.size() + static_cast<std::size_t>(tail * 44100));
  const fs::path in = Dir / "step.wav", out = Dir / "step";
  SNDFILE* f = Create(in, 44100, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  sf_writef_short(f, mono.data(), static_cast<sf_count_t>(mono.size()));
  sf_close(f);
  for (const int ms : {5, 10, 40}) {
    const TResult r = Run({"--formant-step", std::to_string(ms), in, out / std::to_string(ms)});
    ASSERT_EQ(r.Status, 0) << r.Err;
    const auto rows = Csv(out / std::to_string(ms) / "formants.csv");
    const double hop = 4 * std::nearbyint(ms * 44.1 / 4) / 44100;
    const double seconds = static_cast<double>(mono.size()) / 44100;
    // Rows start once a whole analysis frame lies within the recording.
    const double centreLag = quenvis::CFormantTracker::CentreLag / 44100.0;
    EXPECT_NEAR(static_cast<double>(rows.size() - 1), (seconds - centreLag) / hop, 1.5) << ms;
    int voicedInVowel = 0, vowelRows = 0;
    for (std::size_t i = 1; i < rows.size(); ++i) {
      ASSERT_EQ(rows[i].size(), 10u);
      EXPECT_EQ(rows[i][0], std::to_string(i - 1));
      const double t = std::stod(rows[i][1]);
      if (i > 1) {
        EXPECT_NEAR(t - std::stod(rows[i - 1][1]), hop, 1e-9) << ms << " row " << i;
      }
      // The frames reach 42 ms around their centre.
      if (t < lead - 0.05 || t > lead + vowel.Seconds + 0.05) {
        EXPECT_EQ(rows[i][9], "0") << ms << " ms, silent row at " << t;
      } else if (t > lead + 0.05 && t < lead + vowel.Seconds - 0.05) {
        ++vowelRows;
        voicedInVowel += rows[i][9] == "1" && std::abs(std::stod(rows[i][2]) - 150) < 3;
      }
    }
    EXPECT_GT(vowelRows, 0.8 / (ms / 1000.0)) << ms;
    EXPECT_EQ(voicedInVowel, vowelRows) << ms;
  }
}

TEST_F(RenderTest, SeveralInputsRenderIntoTheirOwnFoldersDespiteOneFailure) {
  const fs::path a = Wave("a.wav", 9000, {18, 100});
  const fs::path b = Wave("b.flac", 9000, {18, 100}, 1, 44100, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
  const fs::path bad = Dir / "bad.wav";
  Put(bad, "not sound at all");
  const TResult r = Run({a, bad, b, Dir / "out"});
  EXPECT_EQ(r.Status, 2);
  EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
  EXPECT_NE(r.Err.find(bad.string() + ": "), std::string::npos) << r.Err;
  EXPECT_EQ(Listing(Dir / "out"), (std::vector<std::string>{"a", "b"}));
  for (const char* name : {"a", "b"}) {
    EXPECT_EQ(Listing(Dir / "out" / name), AllOutputs);
    EXPECT_EQ(Csv(Dir / "out" / name / "peaks.csv").size(), 6u);
  }
}

TEST_F(RenderTest, HelpAndVersionOfBothProgramsNeedNoDisplay) {
  const std::string gui = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" QUENVIS_EXE "'";
  const std::string render = "'" QUENVIS_RENDER_EXE "'";
  struct Case {
    std::string Command;
    int Status;
    std::string Out, Err;  // the start of stdout; stderr's text
  };
  const Case cases[] = {
      {gui + " --help", 0, "Usage: quenvis [options]", ""},
      {gui + " -h", 0, "Usage: quenvis [options]", ""},
      {gui + " --version", 0, "quenvis 0.", ""},
      {gui, 1, "", "quenvis: needs a display"},
      {render + " -h", 0, "Usage: quenvis-render [options] INPUT... OUTDIR", ""},
      {render + " --version", 0, "quenvis-render 0.", ""},
  };
  for (const Case& c : cases) {
    const fs::path out = Dir / "out.txt", err = Dir / "err.txt";
    const int raw = std::system(
        (c.Command + " >'" + out.string() + "' 2>'" + err.string() + "' </dev/null").c_str());
    EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, c.Status) << c.Command;
    EXPECT_EQ(Bytes(out).rfind(c.Out, 0), 0u) << c.Command << ": " << Bytes(out);
    const std::string text = Bytes(err);
    EXPECT_EQ(text.rfind(c.Err, 0), 0u) << c.Command << ": " << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), c.Err.empty() ? 0 : 1) << text;
  }
}

}  // namespace
