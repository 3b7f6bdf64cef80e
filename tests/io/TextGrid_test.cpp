// TextGrids as Praat writes them, and as they arrive damaged.
#include "io/TextGrid.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using quenvis::ParseTextGrid;
using quenvis::TTextGrid;

const std::string Long =
    "File type = \"ooTextFile\"\n"
    "Object class = \"TextGrid\"\n"
    "\n"
    "xmin = 0 \n"
    "xmax = 1.35 \n"
    "tiers? <exists> \n"
    "size = 3 \n"
    "item []: \n"
    "    item [1]:\n"
    "        class = \"IntervalTier\" \n"
    "        name = \"words\" \n"
    "        xmin = 0 \n"
    "        xmax = 1.35 \n"
    "        intervals: size = 2 \n"
    "        intervals [1]:\n"
    "            xmin = 0 \n"
    "            xmax = 0.6 \n"
    "            text = \"\" \n"
    "        intervals [2]:\n"
    "            xmin = 0.6 \n"
    "            xmax = 1.35 \n"
    "            text = \"say \"\"hi\"\"\" \n"
    "    item [2]:\n"
    "        class = \"IntervalTier\" \n"
    "        name = \"phones\" \n"
    "        xmin = 0 \n"
    "        xmax = 1.35 \n"
    "        intervals: size = 2 \n"
    "        intervals [1]:\n"
    "            xmin = 0 \n"
    "            xmax = 0.6 \n"
    "            text = \"\" \n"
    "        intervals [2]:\n"
    "            xmin = 0.6 \n"
    "            xmax = 1.35 \n"
    "            text = \"ɑː\" \n"
    "    item [3]:\n"
    "        class = \"TextTier\" \n"
    "        name = \"events\" \n"
    "        xmin = 0 \n"
    "        xmax = 1.35 \n"
    "        points: size = 1 \n"
    "        points [1]:\n"
    "            number = 0.7 \n"
    "            mark = \"click\" \n";

const std::string Short =
    "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\n0\n1.35\n<exists>\n3\n"
    "\"IntervalTier\"\n\"words\"\n0\n1.35\n2\n0\n0.6\n\"\"\n0.6\n1.35\n\"say \"\"hi\"\"\"\n"
    "\"IntervalTier\"\n\"phones\"\n0\n1.35\n2\n0\n0.6\n\"\"\n0.6\n1.35\n\"ɑː\"\n"
    "\"TextTier\"\n\"events\"\n0\n1.35\n1\n0.7\n\"click\"\n";

std::string Utf16(const std::string& Utf8, bool BigEndian) {
  std::u32string wide;
  for (std::size_t i = 0; i < Utf8.size();) {
    const auto c = static_cast<unsigned char>(Utf8[i]);
    const int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    char32_t v = n == 1 ? c : c & (0x3F >> (n - 1));
    for (int k = 1; k < n; ++k) v = v << 6 | (static_cast<unsigned char>(Utf8[i + k]) & 0x3F);
    wide += v;
    i += n;
  }
  std::string out = BigEndian ? "\xFE\xFF" : "\xFF\xFE";
  auto unit = [&](unsigned u) {
    const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    out += BigEndian ? hi : lo;
    out += BigEndian ? lo : hi;
  };
  for (const char32_t c : wide) {
    if (c >= 0x10000) {
      unit(0xD800 + ((c - 0x10000) >> 10));
      unit(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      unit(c);
    }
  }
  return out;
}

TEST(TextGrid, EveryEncodingAndFormatGivesTheSameTiers) {
  const struct {
    const char* Name;
    std::string Bytes;
  } cases[] = {
      {"long", Long},
      {"short", Short},
      {"long, UTF-8 mark", "\xEF\xBB\xBF" + Long},
      {"long, CRLF", [] {
         std::string s;
         for (const char c : Long) s += c == '\n' ? std::string("\r\n") : std::string(1, c);
         return s;
       }()},
      {"long, UTF-16LE", Utf16(Long, false)},
      {"long, UTF-16BE", Utf16(Long, true)},
      {"short, UTF-16LE", Utf16(Short, false)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TTextGrid g;
    ASSERT_EQ(ParseTextGrid(c.Bytes, g), "");
    EXPECT_EQ(g.Start, 0);
    EXPECT_EQ(g.End, 1.35);
    ASSERT_EQ(g.Tiers.size(), 3u);
    const quenvis::TTier* words = g.IntervalTier("words");
    const quenvis::TTier* phones = g.IntervalTier("phones");
    ASSERT_TRUE(words && phones);
    EXPECT_EQ(g.IntervalTier("events"), nullptr);  // a point tier
    ASSERT_EQ(words->Items.size(), 2u);
    EXPECT_EQ(words->Items[1].Text, "say \"hi\"");
    EXPECT_EQ(words->Items[1].Start, 0.6);
    EXPECT_EQ(words->Items[1].End, 1.35);
    ASSERT_EQ(phones->Items.size(), 2u);
    EXPECT_EQ(phones->Items[0].Text, "");
    EXPECT_EQ(phones->Items[1].Text, "ɑː");
    ASSERT_EQ(g.Tiers[2].Items.size(), 1u);
    EXPECT_TRUE(g.Tiers[2].Points);
    EXPECT_EQ(g.Tiers[2].Items[0].Start, 0.7);
    EXPECT_EQ(g.Tiers[2].Items[0].Text, "click");
  }
}

// Each damage is named with the line it is on.
TEST(TextGrid, MalformedFilesAreOneLineNamingWhere) {
  auto replaced = [](std::string s, const std::string& From, const std::string& To) {
    const std::size_t at = s.find(From);
    EXPECT_NE(at, std::string::npos) << From;
    return s.replace(at, From.size(), To);
  };
  const struct {
    const char* Name;
    std::string Bytes;
    std::string Error;
  } cases[] = {
      {"empty", "", "1: the file ends where the file type should be"},
      {"not Praat", "hello world\n", "2: the file ends where the file type should be"},
      {"another object", replaced(Long, "\"TextGrid\"", "\"Sound\""),
       "2: not a TextGrid (object class \"Sound\")"},
      {"bad number", replaced(Long, "xmax = 0.6 ", "xmax = 0.6x "),
       "17: expected an interval's end (a number)"},
      {"text for a number", replaced(Long, "xmax = 1.35 \n        intervals: size = 2",
                                     "xmax = \"a\" \n        intervals: size = 2"),
       "13: expected the tier's end (a number)"},
      {"cut short", Long.substr(0, Long.find("    item [2]:") + 60),
       "25: the file ends where the tier's name should be"},
      {"unterminated text", Long.substr(0, Long.find("ɑː") + 3),
       "36: unterminated text in an interval's text"},
      {"backwards interval", replaced(Long, "xmin = 0.6 \n            xmax = 1.35 \n            text = \"ɑː\"",
                                      "xmin = 1.6 \n            xmax = 1.35 \n            text = \"ɑː\""),
       "35: interval 2 of tier \"phones\" ends before it starts"},
      {"overlapping", replaced(Short, "0.6\n1.35\n\"say", "0.5\n1.35\n\"say"),
       "16: interval 2 of tier \"words\" starts before the one before it ends"},
      {"unknown tier class", replaced(Short, "\"TextTier\"", "\"PitchTier\""),
       "30: unknown tier class \"PitchTier\""},
      {"negative count", replaced(Short, "<exists>\n3\n", "<exists>\n-3\n"),
       "7: expected the number of tiers (a count)"},
      {"odd UTF-16", Utf16(Long, false) + "x", "46: not valid UTF-16"},
      {"lone surrogate", std::string("\xFF\xFE\x00\xD8\x41\x00", 6), "1: not valid UTF-16"},
  };
  for (const auto& c : cases) {
    TTextGrid g;
    EXPECT_EQ(ParseTextGrid(c.Bytes, g), c.Error) << c.Name;
  }
}

// A pipe or a device in a TextGrid's place is refused at once, not waited on.
TEST(TextGrid, ReadingNamesTheFile) {
  TTextGrid g;
  EXPECT_EQ(quenvis::ReadTextGrid("/nonexistent/a.TextGrid", g),
            "/nonexistent/a.TextGrid: No such file or directory");
  const std::string fifo = ::testing::TempDir() + "quenvis-fifo-" + std::to_string(::getpid());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, std::string("/dev/zero"), std::string("/tmp")})
    EXPECT_EQ(quenvis::ReadTextGrid(path, g), path + ": not a regular file");
  ::unlink(fifo.c_str());
}

// Praat's own long text, parsed and written again, comes out byte for byte.
TEST(TextGridWriting, PraatsLongTextComesOutAsPraatWroteIt) {
  TTextGrid g;
  ASSERT_EQ(ParseTextGrid(Long, g), "");
  EXPECT_EQ(quenvis::FormatTextGrid(g), Long);
}

TEST(TextGridWriting, IntervalTiersCoverTheGridWithoutGapsOrOverlaps) {
  using quenvis::TInterval;
  struct TCase {
    const char* Name;
    std::vector<TInterval> In;
    std::vector<TInterval> Out;
  };
  const std::vector<TCase> cases = {
      {"empty tier", {}, {{0, 4, ""}}},
      {"gaps around", {{1, 2, "a"}}, {{0, 1, ""}, {1, 2, "a"}, {2, 4, ""}}},
      {"gap between", {{0, 1, "a"}, {3, 4, "b"}}, {{0, 1, "a"}, {1, 3, ""}, {3, 4, "b"}}},
      {"overlap moves the later start",
       {{0, 2, "a"}, {1, 3, "b"}},
       {{0, 2, "a"}, {2, 3, "b"}, {3, 4, ""}}},
      {"no length left out", {{1, 1, "a"}, {2, 3, "b"}}, {{0, 2, ""}, {2, 3, "b"}, {3, 4, ""}}},
      {"past the end cut", {{3, 9, "a"}, {5, 6, "b"}}, {{0, 3, ""}, {3, 4, "a"}}},
  };
  for (const TCase& c : cases) {
    TTextGrid g;
    g.End = 4;
    g.Tiers.push_back({"selections", false, c.In});
    TTextGrid back;
    ASSERT_EQ(ParseTextGrid(quenvis::FormatTextGrid(g), back), "") << c.Name;
    ASSERT_EQ(back.Tiers.size(), 1u) << c.Name;
    const auto& items = back.Tiers[0].Items;
    ASSERT_EQ(items.size(), c.Out.size()) << c.Name;
    for (std::size_t i = 0; i < items.size(); ++i) {
      EXPECT_EQ(items[i].Start, c.Out[i].Start) << c.Name << " " << i;
      EXPECT_EQ(items[i].End, c.Out[i].End) << c.Name << " " << i;
      EXPECT_EQ(items[i].Text, c.Out[i].Text) << c.Name << " " << i;
    }
  }
}

std::vector<std::string> FilesIn(const std::string& Dir) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(Dir.c_str())) {
    while (const dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') names.emplace_back(e->d_name);
    ::closedir(d);
  }
  return names;
}

std::string FileText(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(TextGridWriting, WrittenGridReadsBackAndReplacesTheOldOneWhole) {
  char dir[] = "/tmp/quenvis-textgrid-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/take.TextGrid";
  TTextGrid g;
  g.End = 12.345678901234567;
  // Times that need every digit, names with quotes, non-Latin text and a
  // line break.
  g.Tiers.push_back({"markers",
                     true,
                     {{0.1, 0.1, "breath"},
                      {1.0 / 3, 1.0 / 3, "say \"ah\""},
                      {7.25, 7.25, "тон\nвыше"},
                      {9, 9, ""}}});
  g.Tiers.push_back({"selections", false, {{2.5, 4.75, "phrase ə"}}});
  ASSERT_EQ(quenvis::WriteTextGrid(path, g), "");
  // scripts/textgrid-vs-praat.sh has Praat read the same grid.
  if (const char* out = std::getenv("QUENVIS_TEXTGRID_OUT")) {
    ASSERT_EQ(quenvis::WriteTextGrid(out, g), "");
  }
  TTextGrid back;
  ASSERT_EQ(quenvis::ReadTextGrid(path, back), "");
  EXPECT_EQ(back.End, g.End);
  ASSERT_EQ(back.Tiers.size(), 2u);
  EXPECT_TRUE(back.Tiers[0].Points);
  EXPECT_EQ(back.Tiers[0].Name, "markers");
  ASSERT_EQ(back.Tiers[0].Items.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(back.Tiers[0].Items[i].Start, g.Tiers[0].Items[i].Start);
    EXPECT_EQ(back.Tiers[0].Items[i].Text, g.Tiers[0].Items[i].Text);
  }
  const quenvis::TTier* sel = back.IntervalTier("selections");
  ASSERT_NE(sel, nullptr);
  ASSERT_EQ(sel->Items.size(), 3u);
  EXPECT_EQ(sel->Items[1].Text, "phrase ə");
  EXPECT_EQ(sel->Items[2].End, g.End);

  // A second write replaces the first and leaves no temporary file.
  g.Tiers[0].Items.resize(1);
  ASSERT_EQ(quenvis::WriteTextGrid(path, g), "");
  EXPECT_EQ(FileText(path), quenvis::FormatTextGrid(g));
  EXPECT_EQ(FilesIn(dir), std::vector<std::string>{"take.TextGrid"});

  // A folder that went away: the reason, and nothing left behind.
  const std::string gone = std::string(dir) + "/gone/take.TextGrid";
  EXPECT_EQ(quenvis::WriteTextGrid(gone, g), gone + ": No such file or directory");
  // A grid cannot replace a folder: the folder stays, no temporary is left.
  const std::string folder = std::string(dir) + "/folder.TextGrid";
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  EXPECT_EQ(quenvis::WriteTextGrid(folder, g), folder + ": Is a directory");
  EXPECT_EQ(FilesIn(dir).size(), 2u);
  ::rmdir(folder.c_str());
  ::unlink(path.c_str());
  ::rmdir(dir);
}

}  // namespace
