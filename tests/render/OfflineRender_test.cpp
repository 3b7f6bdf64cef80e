// quenvis-render end to end, on sound files generated here.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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

  // Writes Frames frames of sines on the given bins (all channels alike).
  fs::path Wave(const std::string& Name, int Frames, std::vector<int> Bins, int Channels = 2,
                int Rate = 44100, int Format = SF_FORMAT_WAV | SF_FORMAT_PCM_16) {
    const fs::path path = Dir / Name;
    SF_INFO info{};
    info.samplerate = Rate;
    info.channels = Channels;
    info.format = Format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    EXPECT_NE(f, nullptr) << sf_strerror(nullptr);
    std::vector<short> data(static_cast<std::size_t>(Frames * Channels));
    for (int i = 0; i < Frames; ++i) {
      double v = 0;
      for (int b : Bins) v += 8000 * std::sin(2 * M_PI * b * (i % 4096) / 4096.0);
      for (int c = 0; c < Channels; ++c) data[static_cast<std::size_t>(i * Channels + c)] = static_cast<short>(std::lrint(v));
    }
    sf_writef_short(f, data.data(), Frames);
    sf_close(f);
    return path;
  }

  struct TResult {
    int Status;
    std::string Err;
  };
  TResult Run(const std::vector<std::string>& Args) {
    std::string cmd = "'" QUENVIS_RENDER_EXE "'";
    for (const std::string& a : Args) cmd += " '" + a + "'";
    const fs::path err = Dir / "stderr.txt";
    const int raw = std::system((cmd + " 2>'" + err.string() + "' </dev/null >/dev/null").c_str());
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

  fs::path Dir;
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
  EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 3);
}

TEST_F(RenderTest, MonoFeedsBothChannelsAndOptionsApply) {
  const fs::path stereo = Wave("s.wav", 20000, {30, 150});
  const fs::path mono = Wave("m.flac", 20000, {30, 150}, 1, 44100, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
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
  const fs::path rate48 = Wave("r48.wav", 30000, {18}, 2, 48000);
  const fs::path three = Wave("three.wav", 30000, {18}, 3);
  const fs::path garbage = Dir / "garbage.wav";
  std::ofstream(garbage) << "this is not a sound file at all";
  const fs::path cut = Dir / "cut.wav";
  fs::copy_file(good, cut);
  fs::resize_file(cut, fs::file_size(good) / 2);
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
      {{cut, out}, cut},
      {{rate48, out}, rate48},
      {{three, out}, three},
      {{"--colour", "red", good, out}, "--colour"},
      {{"--fade", "12", good, out}, "--fade"},
      {{"--zone1-lo", "5", good, out}, "--zone1-lo"},
      {{"--power-range=10001", good, out}, "--power-range"},
      {{"--threshold", "abc", good, out}, "--threshold"},
      {{"--freq-range", "1.5", good, out}, "--freq-range"},
      {{"--window", "triangle", good, out}, "--window"},
      {{good, out, "extra"}, "extra"},
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

}  // namespace
