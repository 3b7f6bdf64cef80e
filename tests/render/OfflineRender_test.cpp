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
#include "chartdraw/VowelChartPainter.h"
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
  // Prefix, when given, is shell set-up run first (limits, traps).
  TResult Run(const std::vector<std::string>& Args, const std::string& Feed = "",
              const std::string& Prefix = "") {
    std::string cmd = "'" QUENVIS_RENDER_EXE "'";
    for (const std::string& a : Args) cmd += " '" + a + "'";
    cmd = Prefix + (Feed.empty() ? cmd + " </dev/null" : Feed + " | " + cmd);
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
  const std::vector<std::string> AllOutputs = {"chart.png",   "formants.csv",    "peaks.csv",
                                               "plot.png",    "spectrogram.png", "spectrum.png",
                                               "summary.csv", "voice.csv"};
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
  EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 8);
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

// The Ogg page checksum (polynomial 0x04C11DB7, no reflection).
std::uint32_t OggCrc(const std::string& Page) {
  std::uint32_t crc = 0;
  for (const char c : Page) {
    crc ^= static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 24;
    for (int k = 0; k < 8; ++k) crc = crc & 0x80000000u ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  }
  return crc;
}

// Recordings that once crashed, failed, ran without end or went unremarked,
// each made here, from files and through standard input.
TEST_F(RenderTest, HostileRecordingsRenderWhatIsThereWithOneNote) {
  const int frames = 30000;  // 15 blocks
  const fs::path wav = Wave("w.wav", frames, {18});
  struct Case {
    std::string Name;
    std::function<fs::path()> Make;
    bool Piped;                      // fed through standard input
    std::vector<std::string> Notes;  // each on a line of its own, and no other
    std::size_t MinRows, MaxRows;    // data rows of peaks.csv
  };
  auto cut = [&](const std::string& Name, int Format) {
    return [=, this] {
      const fs::path whole = Wave("whole-" + Name, frames, {18}, 2, 44100, Format);
      const fs::path p = Dir / Name;
      fs::copy_file(whole, p);
      fs::resize_file(p, fs::file_size(whole) / 2);
      return p;
    };
  };
  // A file of the format with Patch applied to its bytes.
  auto patched = [&](const std::string& Name, int Format, int Rate,
                     std::function<void(std::string&)> Patch) {
    return [=, this] {
      const fs::path p = Tones(Name, Rate, {30 * 44100.0 / 4096}, 2, 0.7, Format);
      std::string d = Bytes(p);
      Patch(d);
      Put(p, d);
      return p;
    };
  };
  auto plain = [&](const std::string& Name, int Format, int Rate = 44100) {
    return patched(Name, Format, Rate, [](std::string&) {});
  };
  const int flac = SF_FORMAT_FLAC | SF_FORMAT_PCM_16,
            mp3 = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
  const int opus = SF_FORMAT_OGG | SF_FORMAT_OPUS, vorbis = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
  const Case cases[] = {
      // FLAC whose header gives 0 total samples (unknown): read to the end.
      {"flac-zero-count",
       patched("z.flac", flac, 44100,
               [](std::string& d) {
                 d[21] = static_cast<char>(d[21] & 0xF0);
                 std::fill(d.begin() + 22, d.begin() + 26, '\0');
               }),
       false,
       {},
       15,
       16},
      // Enormous declared lengths: nothing is sized from them.
      {"flac-huge-count",
       patched("h.flac", flac, 44100,
               [](std::string& d) {
                 d[21] = static_cast<char>(d[21] | 0x0F);
                 std::fill(d.begin() + 22, d.begin() + 26, '\xFF');
               }),
       false,
       {"ends early"},
       15,
       16},
      {"mp3-huge-xing",
       patched("h.mp3", mp3, 44100,
               [](std::string& d) {
                 const std::size_t at = d.find("Xing");
                 ASSERT_NE(at, std::string::npos);
                 d.replace(at + 8, 4, "\x7F\xFF\xFF\xFF");
               }),
       false,
       {},
       15,
       17},
      {"opus-huge-granule",
       patched("h.opus", opus, 48000,
               [](std::string& d) {
                 const std::size_t at = d.rfind("OggS");
                 for (int i = 0; i < 8; ++i) d[at + 6 + i] = i < 6 ? '\xFF' : '\x0F';
                 std::string page = d.substr(at);
                 page.replace(22, 4, std::string(4, '\0'));
                 const std::uint32_t crc = OggCrc(page);
                 for (int i = 0; i < 4; ++i) d[at + 22 + i] = static_cast<char>(crc >> (8 * i));
               }),
       false,
       {"resampled from 48000 Hz"},
       15,
       17},
      // Compressed formats through a pipe.
      {"mp3-stdin", plain("p.mp3", mp3), true, {}, 15, 17},
      {"vorbis-stdin", plain("p.ogg", vorbis), true, {}, 15, 16},
      {"flac-stdin", plain("p.flac", flac), true, {}, 15, 16},
      {"opus-stdin", plain("p.opus", opus, 48000), true, {"resampled from 48000 Hz"}, 15, 17},
      // A stream with the placeholder sizes of a writer that cannot seek back.
      {"wav-stream-stdin",
       [&] {
         const fs::path p = Dir / "stream.wav";
         std::string d = Bytes(wav);
         PutLE32(d, 4, 0x7FFFF024);
         PutLE32(d, d.find("data") + 4, 0x7FFFF000);
         Put(p, d);
         return p;
       },
       true,
       {},
       15,
       15},
      // A pipe whose ADPCM header claims 2 GB: the real end still ends it.
      {"ima-adpcm-bogus-size-stdin",
       patched("ima.wav", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 44100,
               [](std::string& d) { PutLE32(d, d.find("data") + 4, 0x80000000u); }),
       true,
       {},
       15,
       16},
      {"au8-stdin",
       [&] { return Wave("a8.au", frames, {18}, 2, 44100, SF_FORMAT_AU | SF_FORMAT_PCM_S8); },
       true,
       {},
       15,
       15},
      {"rf64-stdin",
       [&] { return Wave("a.rf64", frames, {18}, 2, 44100, SF_FORMAT_RF64 | SF_FORMAT_PCM_16); },
       true,
       {},
       15,
       15},
      {"cut-wav", cut("c.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16), false, {"ends early"}, 7, 8},
      {"cut-aiff", cut("c.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16), false, {"ends early"}, 7, 8},
      {"cut-au", cut("c.au", SF_FORMAT_AU | SF_FORMAT_PCM_16), false, {"ends early"}, 7, 8},
      {"cut-w64", cut("c.w64", SF_FORMAT_W64 | SF_FORMAT_PCM_16), false, {"ends early"}, 7, 8},
      {"cut-flac", cut("c.flac", flac), false, {"ends early"}, 1, 14},
  };
  for (const Case& c : cases) {
    const fs::path file = c.Make();
    const fs::path out = Dir / ("out-" + c.Name);
    const TResult r = c.Piped ? Run({"-", out}, "cat '" + file.string() + "'") : Run({file, out});
    ASSERT_EQ(r.Status, 0) << c.Name << ": " << r.Err;
    for (const std::string& n : c.Notes)
      EXPECT_NE(r.Err.find(n), std::string::npos) << c.Name << ": " << r.Err;
    EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), std::ssize(c.Notes))
        << c.Name << ": " << r.Err;
    const std::size_t rows = Csv(out / "peaks.csv").size() - 1;
    EXPECT_GE(rows, c.MinRows) << c.Name;
    EXPECT_LE(rows, c.MaxRows) << c.Name;
    EXPECT_EQ(Listing(out), AllOutputs) << c.Name;
  }
}

// Every sample format at 44 100 Hz is analysed at the level of the same
// sound in 16 bits.
TEST_F(RenderTest, EverySampleFormatHasTheLevelOf16Bit) {
  const std::vector<double> hz = {30 * 44100.0 / 4096, 150 * 44100.0 / 4096};
  struct Case {
    std::string Name;
    int Format;
    double Tolerance;  // log10 power units (0.01 is 0.1 dB)
  };
  const Case cases[] = {
      {"u8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 0.01},
      {"s8.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, 0.01},
      {"s24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 0.01},
      {"s32.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 0.01},
      {"float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0.01},
      {"double.wav", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 0.01},
      {"float.w64", SF_FORMAT_W64 | SF_FORMAT_FLOAT, 0.01},
      {"double.caf", SF_FORMAT_CAF | SF_FORMAT_DOUBLE, 0.01},
      {"float.aifc", SF_FORMAT_AIFF | SF_FORMAT_FLOAT, 0.01},
      {"float.au", SF_FORMAT_AU | SF_FORMAT_FLOAT, 0.01},
      {"s24.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 0.01},
      {"ulaw.au", SF_FORMAT_AU | SF_FORMAT_ULAW, 0.02},
      {"alaw.wav", SF_FORMAT_WAV | SF_FORMAT_ALAW, 0.02},
      {"ima.wav", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 0.05},
      {"ms.wav", SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM, 0.05},
      {"vorbis.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 0.05},
  };
  const fs::path reference = Tones("s16.wav", 44100, hz);
  ASSERT_EQ(Run({reference, Dir / "s16"}).Status, 0);
  const auto expected = Csv(Dir / "s16" / "peaks.csv");
  for (const Case& c : cases) {
    const fs::path in = Tones(c.Name, 44100, hz, 2, 1.5, c.Format);
    const TResult r = Run({in, Dir / ("out-" + c.Name)});
    ASSERT_EQ(r.Status, 0) << c.Name << ": " << r.Err;
    const auto rows = Csv(Dir / ("out-" + c.Name) / "peaks.csv");
    ASSERT_GE(rows.size(), 30u) << c.Name;
    for (std::size_t i = 3; i < 28; ++i) {
      EXPECT_EQ(rows[i][2], "30") << c.Name << " row " << i;
      EXPECT_NEAR(std::stod(rows[i][4]), std::stod(expected[i][4]), c.Tolerance)
          << c.Name << " row " << i;
      EXPECT_NEAR(std::stod(rows[i][7]), std::stod(expected[i][7]), c.Tolerance)
          << c.Name << " row " << i;
    }
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

  // A WAV header without sound: the input opens, then fails.
  std::string headerOnly = Bytes(good);
  headerOnly.resize(headerOnly.find("data") + 8);
  PutLE32(headerOnly, headerOnly.size() - 4, 0);
  Put(Dir / "header-only.wav", headerOnly);

  struct Case {
    std::vector<std::string> Args;
    std::string Feed, Prefix;
    std::string Named;  // what the one line must contain
  };
  const Case cases[] = {
      {{"-", Dir / "o"}, "cat '" + garbage.string() + "'", "", "standard input: "},
      {{"", Dir / "o"}, "", "", "'' (empty file name): "},
      {{"--window", "bad\nname", good, Dir / "o"}, "", "", "bad\\nname"},
      {{garbage, Dir / "o"}, "", "", garbage},
      {{good, ""}, "", "", "'' (empty OUTDIR)"},
      {{Dir / "header-only.wav", Dir / "o" / "made"}, "", "", "header-only.wav: contains no sound"},
      // A full disk (here a file size limit) names the file and the reason.
      {{"--power", good, Dir / "o" / "made"},
       "",
       "ulimit -f 100; trap '' XFSZ; ",
       (Dir / "o" / "made" / "power.csv").string() + ": cannot write: File too large"},
  };
  for (const Case& c : cases) {
    r = Run(c.Args, c.Feed, c.Prefix);
    EXPECT_EQ(r.Status, 2) << c.Named;
    EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
    EXPECT_NE(r.Err.find(c.Named), std::string::npos) << r.Err;
    // Nothing left, not even the folder the run made.
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

// A signal ends the run wherever it is, waiting for input or rendering, and
// leaves nothing: no private folder, no OUTDIR it made.
TEST_F(RenderTest, SignalsEndTheRunAtAnyPointAndLeaveNothing) {
  const fs::path longFile = Wave("long.wav", 44100 * 120, {18});
  std::string stream = Bytes(Wave("s.wav", 44100 * 5, {18}));
  PutLE32(stream, 4, 0x7FFFF024);
  PutLE32(stream, stream.find("data") + 4, 0x7FFFF000);
  const fs::path fifo = Dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  enum class EWhere { StalledPipe, HalfStream, FifoWithoutWriter, Rendering };
  struct Case {
    std::string Name;
    EWhere Where;
    int Signal;
  };
  const Case cases[] = {
      {"stalled-pipe", EWhere::StalledPipe, SIGINT}, {"half-stream", EWhere::HalfStream, SIGHUP},
      {"fifo", EWhere::FifoWithoutWriter, SIGTERM},  {"rendering", EWhere::Rendering, SIGTERM},
      {"rendering-int", EWhere::Rendering, SIGINT},
  };
  for (const Case& c : cases) {
    const fs::path out = Dir / ("out-" + c.Name) / "deeper";
    const fs::path err = Dir / ("err-" + c.Name);
    std::string input = "-";
    if (c.Where == EWhere::FifoWithoutWriter) input = fifo;
    if (c.Where == EWhere::Rendering) input = longFile;
    int feed[2];
    ASSERT_EQ(::pipe2(feed, O_CLOEXEC), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::dup2(feed[0], STDIN_FILENO);
      ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
      ::execl(QUENVIS_RENDER_EXE, QUENVIS_RENDER_EXE, input.c_str(), out.c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(feed[0]);
    if (c.Where == EWhere::HalfStream) {
      ASSERT_EQ(::write(feed[1], stream.data(), 65536), 65536);
    }
    if (c.Where == EWhere::Rendering) {
      // Until the run has made its private folder and is under way.
      for (int i = 0; i < 1000 && Listing(out).empty(); ++i) ::usleep(10000);
      ASSERT_EQ(Listing(out).size(), 1u) << c.Name;
    } else {
      ::usleep(300000);
    }
    ::kill(child, c.Signal);
    // A second is the promise; the margin is for slow sanitizer builds.
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
    ::close(feed[1]);
    EXPECT_EQ(ended, child) << c.Name << ": still running 5 s after the signal";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.Signal) << c.Name << " " << status;
    const std::string text = Bytes(err);
    EXPECT_EQ(text,
              "quenvis-render: " + (input == "-" ? "standard input" : input) + ": interrupted\n")
        << c.Name;
    EXPECT_FALSE(fs::exists(Dir / ("out-" + c.Name))) << c.Name;
  }
}

// Runs into an OUTDIR tidy what earlier runs of this program left there:
// private folders of runs that no longer exist (with one note), and outputs
// this run does not make. Nothing else is touched.
TEST_F(RenderTest, EarlierRunsLeftoversAreRemovedAndNothingElse) {
  const fs::path out = Dir / "out";
  const fs::path longFile = Wave("long.wav", 44100 * 120, {18});
  // Runs that are killed outright, or stopped while under way.
  auto startAndWait = [&](int Private) {
    const pid_t child = ::fork();
    if (child == 0) {
      ::dup2(::open("/dev/null", O_WRONLY), STDERR_FILENO);
      ::execl(QUENVIS_RENDER_EXE, QUENVIS_RENDER_EXE, longFile.c_str(), out.c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    for (int i = 0; i < 1000 && Listing(out).size() < static_cast<std::size_t>(Private); ++i)
      ::usleep(10000);
    return child;
  };
  fs::create_directories(out / "spectrogram-009.png");  // a folder: not ours
  Put(out / "notes.txt", "mine");
  Put(out / "spectrogram-x.png", "mine");
  const std::vector<std::string> own = Listing(out);
  const pid_t killed = startAndWait(static_cast<int>(own.size()) + 1);
  ::kill(killed, SIGKILL);
  ::waitpid(killed, nullptr, 0);
  ASSERT_EQ(Listing(out).size(), own.size() + 1);

  // An earlier run with more outputs: pages and the power table.
  const fs::path pages =
      Wave("pages.flac", 4001 * 2048, {}, 1, 44100, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
  const TResult first = Run({"--power-format", "npy", pages, out});
  ASSERT_EQ(first.Status, 0) << first.Err;
  EXPECT_TRUE(fs::exists(out / "spectrogram-002.png") && fs::exists(out / "power.npy"));
  // The killed run's folder went, with one note.
  EXPECT_EQ(std::count(first.Err.begin(), first.Err.end(), '\n'), 1) << first.Err;
  EXPECT_NE(first.Err.find("removed 1 private folder"), std::string::npos) << first.Err;

  // A run under way (stopped, but alive) keeps the folder: another is
  // refused and touches nothing.
  const pid_t alive = startAndWait(static_cast<int>(Listing(out).size()) + 1);
  ::kill(alive, SIGSTOP);
  const std::vector<std::string> withAlive = Listing(out);
  const fs::path shortFile = Wave("short.wav", 9000, {18});
  const TResult refused = Run({shortFile, out});
  EXPECT_EQ(refused.Status, 2);
  EXPECT_NE(refused.Err.find("(process " + std::to_string(alive) + ")"), std::string::npos)
      << refused.Err;
  EXPECT_EQ(Listing(out), withAlive);
  ::kill(alive, SIGKILL);
  ::waitpid(alive, nullptr, 0);

  // Once it is gone, its folder is a leftover like the killed one's.
  const TResult r = Run({shortFile, out});
  ASSERT_EQ(r.Status, 0) << r.Err;
  std::vector<std::string> expected = own;
  for (const std::string& name : AllOutputs) expected.push_back(name);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Listing(out), expected);
  EXPECT_NE(r.Err.find("removed 1 private folder"), std::string::npos) << r.Err;
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

  // Silence, then a tone from 5 s on: the tick for 5 s lies on the first
  // column that shows the tone, the column of the block whose time_s is
  // nearest to 5 s.
  {
    const fs::path late = Dir / "late.wav";
    SNDFILE* f = Create(late, 44100, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    std::vector<short> data(44100 * 6);
    for (std::size_t i = 44100 * 5; i < data.size(); ++i)
      data[i] = static_cast<short>(std::lrint(8000 * std::sin(2 * M_PI * 1000.0 * i / 44100)));
    sf_writef_short(f, data.data(), static_cast<sf_count_t>(data.size()));
    sf_close(f);
    ASSERT_EQ(Run({late, Dir / "late"}).Status, 0);
    const QImage page(QString::fromStdString((Dir / "late" / "spectrogram.png").string()));
    const quenvis::CSonogram scale(quenvis::StartupSettings());
    const int row = scale.RowOfHz(1000);
    int onset = -1;
    for (int x = left; x < page.width() - right && onset < 0; ++x)
      if (page.pixel(x, row) != page.pixel(left, row)) onset = x - left;
    std::vector<int> ticks5;
    for (int x = left; x < page.width() - right; ++x)
      if (page.pixel(x, top + plot + 1) == 0xFFC8C8C8u) ticks5.push_back(x - left);
    ASSERT_EQ(ticks5.size(), 1u);  // at 5 s only: the step is 5 s
    EXPECT_EQ(ticks5[0], onset);
    const auto rows = Csv(Dir / "late" / "peaks.csv");
    const double time = std::stod(rows[static_cast<std::size_t>(onset) + 1][1]);
    EXPECT_LT(std::abs(time - 5), 1024.0 / 44100) << time;
  }

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
                                                 "f3_hz", "b1_hz", "b2_hz", "b3_hz", "voiced",
                                                 "confidence"}));
    ASSERT_EQ(rows.size(), peaks.size());
    std::vector<double> f1, f2;
    std::vector<int> middle;
    for (std::size_t i = 1; i < rows.size(); ++i) {
      const auto& row = rows[i];
      ASSERT_EQ(row.size(), 11u) << i;
      // Confidence: two decimals in 0..1, 0 exactly where F1 and F2 are both missing.
      const double confidence = std::stod(row[10]);
      EXPECT_TRUE(row[10].size() == 4 && confidence >= 0 && confidence <= 1) << row[10];
      EXPECT_EQ(confidence > 0, !row[3].empty() || !row[4].empty()) << c.Voice << " row " << i;
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
    const double span = quenvis::CFormantTracker::SpanFrames / 44100.0;
    EXPECT_NEAR(static_cast<double>(rows.size() - 1), (seconds - span) / hop + 1, 1.5) << ms;
    ASSERT_GT(rows.size(), 1u);
    // The first row is the first analysis whose frame starts at or after 0.
    const double first = std::stod(rows[1][1]);
    EXPECT_GE(first - centreLag, -1e-9) << ms;
    EXPECT_LT(first - centreLag, hop) << ms;
    int voicedInVowel = 0, vowelRows = 0;
    for (std::size_t i = 1; i < rows.size(); ++i) {
      ASSERT_EQ(rows[i].size(), 11u);
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

// voice.csv on the rows of formants.csv, per block and with --formant-step:
// nothing in the silences, the measures of a rough vowel in its middle, and
// their medians in summary.csv.
TEST_F(RenderTest, VoiceMeasuresFollowTheFormantsRows) {
  quenvis::test::TVowel vowel{.F0 = 130, .F = {700, 1220, 2600, 3300, 4200}, .Seconds = 2};
  vowel.Jitter = 0.015;  // 1 % local
  constexpr double lead = 0.5, tail = 0.5;
  std::vector<short> mono(static_cast<std::size_t>(lead * 44100));
  quenvis::test::TPulses pulses;
  const std::vector<std::int16_t> sound = quenvis::test::Synthesize(vowel, &pulses);
  const double jitter = quenvis::test::PulseJitter(pulses, 0, vowel.Seconds);
  mono.insert(mono.end(), sound.begin(), sound.end());
  mono.resize(mono.size() + static_cast<std::size_t>(tail * 44100));
  const fs::path in = Dir / "rough.wav";
  SNDFILE* f = Create(in, 44100, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  sf_writef_short(f, mono.data(), static_cast<sf_count_t>(mono.size()));
  sf_close(f);
  for (const std::string step : {"", "10"}) {
    const fs::path out = Dir / ("rough" + step);
    std::vector<std::string> args = {in, out};
    if (!step.empty()) args.insert(args.begin(), {"--formant-step", step});
    const TResult r = Run(args);
    ASSERT_EQ(r.Status, 0) << r.Err;
    const auto rows = Csv(out / "voice.csv"), formants = Csv(out / "formants.csv");
    ASSERT_EQ(rows[0],
              (std::vector<std::string>{"block", "time_s", "cpps_db", "hnr_db", "h1_h2_db",
                                        "h1c_h2c_db", "h1_a1_db", "h1_a3_db", "jitter_pct",
                                        "shimmer_pct", "shimmer_db", "vibrato_hz", "vibrato_cents",
                                        "vibrato_regularity", "spr_db", "alpha_db", "voiced"}));
    ASSERT_EQ(rows.size(), formants.size()) << step;
    int middle = 0;
    for (std::size_t i = 1; i < rows.size(); ++i) {
      const auto& row = rows[i];
      ASSERT_EQ(row.size(), 17u) << step << " row " << i;
      EXPECT_EQ(row[0], formants[i][0]);
      EXPECT_EQ(row[1], formants[i][1]);
      EXPECT_EQ(row[16], formants[i][9]) << step << " row " << i;
      const double t = std::stod(row[1]);
      if (t < lead - 0.1 || t > lead + vowel.Seconds + 0.15) {
        EXPECT_EQ(std::count(row.begin() + 2, row.begin() + 16, ""), 14) << step << " row " << i;
      } else if (t > lead + 1.0 && t < lead + vowel.Seconds - 0.1) {
        ++middle;
        ASSERT_EQ(row[16], "1") << step << " row " << i;
        EXPECT_NEAR(std::stod(row[8]), jitter, 0.35) << step << " row " << i;
        EXPECT_GT(std::stod(row[3]), 3) << step << " row " << i;  // jitter is its only noise
        EXPECT_GT(std::stod(row[2]), 5) << step << " row " << i;
        EXPECT_EQ(row[11], "") << step << " row " << i;  // no vibrato
      }
    }
    EXPECT_GT(middle, step.empty() ? 15 : 70) << step;
    const auto summary = Csv(out / "summary.csv");
    ASSERT_EQ(summary.size(), 15u) << step;
    EXPECT_EQ(summary[0],
              (std::vector<std::string>{"measure", "unit", "count", "median", "q1", "q3", "iqr"}));
    const auto& jitterRow = summary[7];
    ASSERT_EQ(jitterRow[0], "jitter");
    EXPECT_GT(std::stoi(jitterRow[2]), middle) << step;
    EXPECT_NEAR(std::stod(jitterRow[3]), jitter, 0.3) << step;
    EXPECT_LE(std::stod(jitterRow[4]), std::stod(jitterRow[3]));
    EXPECT_NEAR(std::stod(jitterRow[6]), std::stod(jitterRow[5]) - std::stod(jitterRow[4]), 2e-3);
    EXPECT_EQ(summary[10][0], "vibrato_rate");
    EXPECT_EQ(summary[10][2], "0") << step;
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

  // A link planted in place of an input's folder is not followed.
  const fs::path elsewhere = Dir / "elsewhere", planted = Dir / "planted";
  fs::create_directories(elsewhere);
  fs::create_directories(planted);
  fs::create_directory_symlink(elsewhere, planted / "a");
  const TResult linked = Run({a, b, planted});
  EXPECT_EQ(linked.Status, 2);
  EXPECT_EQ(std::count(linked.Err.begin(), linked.Err.end(), '\n'), 1) << linked.Err;
  EXPECT_NE(linked.Err.find((planted / "a").string() + ": is a symbolic link"), std::string::npos)
      << linked.Err;
  EXPECT_TRUE(Listing(elsewhere).empty());
  EXPECT_TRUE(fs::is_symlink(planted / "a"));
  EXPECT_EQ(Listing(planted / "b"), AllOutputs);
}

// A second run into a folder another run is writing into is refused at
// once, naming that run; the first completes its set.
TEST_F(RenderTest, SecondRunIntoABusyFolderIsRefusedAndTheFirstCompletes) {
  const fs::path a = Wave("a.wav", 9000, {18, 100});
  const fs::path b = Wave("b.wav", 9000, {30});
  const fs::path fifo = Dir / "fifo", out = Dir / "out";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const pid_t first = ::fork();
  ASSERT_GE(first, 0);
  if (first == 0) {
    ::execl(QUENVIS_RENDER_EXE, QUENVIS_RENDER_EXE, "--quiet", "--power", fifo.c_str(), out.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // The first run holds the folder while it waits for its input.
  TResult second{0, ""};
  for (int i = 0; i < 40 && second.Status != 2; ++i) {
    ::usleep(50000);
    second = Run({b, out});
  }
  EXPECT_EQ(second.Status, 2);
  EXPECT_NE(second.Err.find(out.string() + ": another quenvis-render is writing into this folder "
                                           "(process " + std::to_string(first) + ")"),
            std::string::npos)
      << second.Err;
  EXPECT_EQ(std::count(second.Err.begin(), second.Err.end(), '\n'), 1) << second.Err;
  {
    // Not blocking: a first run that has ended would leave no reader.
    const int feed = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    EXPECT_GE(feed, 0) << "the first run is no longer waiting for its input";
    if (feed >= 0) {
      ::fcntl(feed, F_SETFL, 0);
      const std::string data = Bytes(a);
      EXPECT_EQ(::write(feed, data.data(), data.size()), static_cast<ssize_t>(data.size()));
      ::close(feed);
    }
  }
  int status = 0;
  ASSERT_EQ(::waitpid(first, &status, 0), first);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  std::vector<std::string> all = AllOutputs;
  all.push_back("power.csv");
  std::sort(all.begin(), all.end());
  EXPECT_EQ(Listing(out), all);
  // Once it is done, the folder is free again.
  EXPECT_EQ(Run({b, out}).Status, 0);
}

// Standard input that was closed, or opened only for writing, is refused
// rather than waited on.
TEST_F(RenderTest, ClosedStandardInputIsRefused) {
  for (const std::string redirect : {"<&-", "0>/dev/null"}) {
    const fs::path out = Dir / "out", err = Dir / "err.txt";
    const std::string cmd = "timeout -s KILL 20 '" QUENVIS_RENDER_EXE "' - '" + out.string() +
                            "' " + redirect + " 2>'" + err.string() + "'";
    const int raw = std::system(cmd.c_str());
    EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 2) << redirect;
    EXPECT_EQ(Bytes(err),
              "quenvis-render: standard input: is closed or not open for reading; give the "
              "recording as a file or through a pipe\n")
        << redirect;
    EXPECT_FALSE(fs::exists(out)) << redirect;
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
  // Help that cannot be written says so.
  const int raw =
      std::system((render + " --help >/dev/full 2>'" + (Dir / "err.txt").string() + "'").c_str());
  EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 2);
  EXPECT_EQ(Bytes(Dir / "err.txt"),
            "quenvis-render: cannot write to standard output: No space left on device\n");

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
