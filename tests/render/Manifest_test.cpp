// Manifests and corpus folders as labs keep them, and the shards' shares.
#include "render/Manifest.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

namespace {

namespace fs = std::filesystem;

class ManifestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = fs::temp_directory_path() / ("quenvis-manifest-" + std::to_string(::getpid()));
    fs::remove_all(Dir);
    fs::create_directories(Dir);
  }
  void TearDown() override { fs::remove_all(Dir); }
  fs::path Put(const fs::path& Name, const std::string& Text) {
    fs::create_directories((Dir / Name).parent_path());
    std::ofstream(Dir / Name, std::ios::binary) << Text;
    return Dir / Name;
  }
  fs::path Dir;
};

TEST_F(ManifestTest, RowsAreKeptInOrderWithTheirFaults) {
  const fs::path m = Put("m.csv",
                         "\xEF\xBB\xBFRecording,TextGrid,Speaker,age,\"dialect, region\"\r\n"
                         "a.wav,a.TextGrid,s1,31,north\r\n"
                         "\r\n"
                         "\"b, take 2.wav\",/abs/b.TextGrid,s2,40,\"say \"\"hi\"\"\"\r\n"
                         "c.wav,c.TextGrid\r\n"
                         "a.wav,other.TextGrid,s1,31,north\r\n"
                         "d.wav,,s3\r\n"
                         "ü/é.wav,ü/é.TextGrid,s4,22\n");
  quenvis::TManifest man;
  ASSERT_EQ(quenvis::ReadManifest(m, man), "");
  EXPECT_EQ(man.CarriedNames, (std::vector<std::string>{"age", "dialect, region"}));
  ASSERT_EQ(man.Entries.size(), 6u);
  const auto& e = man.Entries;
  EXPECT_EQ(e[0].Recording, "a.wav");
  EXPECT_EQ(e[0].RecordingPath, (Dir / "a.wav").string());
  EXPECT_EQ(e[0].Carried, (std::vector<std::string>{"31", "north"}));
  EXPECT_EQ(e[0].Problem, "");
  EXPECT_EQ(e[1].Recording, "b, take 2.wav");
  EXPECT_EQ(e[1].TextGridPath, "/abs/b.TextGrid");
  EXPECT_EQ(e[1].Carried[1], "say \"hi\"");
  EXPECT_EQ(e[1].Where, m.string() + ":4");
  EXPECT_EQ(e[2].Problem, "has 2 columns; recording,textgrid,speaker are needed");
  EXPECT_EQ(e[3].Problem, "the same recording as " + m.string() + ":2; measured once");
  EXPECT_EQ(e[4].Problem, "names no recording or no TextGrid");
  EXPECT_EQ(e[5].RecordingPath, (Dir / "ü/é.wav").string());
  EXPECT_EQ(e[5].Carried, (std::vector<std::string>{"22", ""}));
  EXPECT_EQ(e[5].Problem, "");

  EXPECT_EQ(quenvis::ReadManifest(Put("bad.csv", "file,grid,who\n"), man),
            (Dir / "bad.csv").string() + ":1: the header must start with recording,textgrid,speaker");
  EXPECT_EQ(quenvis::ReadManifest((Dir / "none.csv").string(), man),
            (Dir / "none.csv").string() + ": No such file or directory");
}

TEST_F(ManifestTest, FoldersGiveRecordingsWithTheirTextGridsAndSpeakers) {
  for (const char* name : {"corpus/s2/b.wav", "corpus/s1/a.flac", "corpus/s1/a.TextGrid",
                           "corpus/s1/notes.txt", "corpus/top.WAV"})
    Put(name, "x");
  quenvis::TManifest man;
  ASSERT_EQ(quenvis::ScanCorpusFolder(Dir / "corpus", man), "");
  ASSERT_EQ(man.Entries.size(), 3u);
  EXPECT_EQ(man.Entries[0].Recording, "s1/a.flac");
  EXPECT_EQ(man.Entries[0].TextGrid, "s1/a.TextGrid");
  EXPECT_EQ(man.Entries[0].Speaker, "s1");
  EXPECT_EQ(man.Entries[1].Recording, "s2/b.wav");
  EXPECT_EQ(man.Entries[1].Speaker, "s2");
  EXPECT_EQ(man.Entries[2].Recording, "top.WAV");
  EXPECT_EQ(man.Entries[2].Speaker, "corpus");
  EXPECT_EQ(quenvis::ScanCorpusFolder(Dir / "corpus/s1/empty", man).empty(), false);
}

// Every entry falls in exactly one shard, the shares are alike, and they
// depend on the recording alone.
TEST_F(ManifestTest, ShardsPartitionTheEntriesEvenly) {
  EXPECT_EQ(quenvis::StableHash("a"), 0xaf63dc4c8601ec8cull);  // FNV-1a's published value
  constexpr int shards = 4, entries = 2000;
  int counts[shards] = {};
  for (int i = 0; i < entries; ++i) {
    quenvis::TManifestEntry e;
    e.Recording = "speaker" + std::to_string(i % 37) + "/utt" + std::to_string(i) + ".wav";
    int in = 0;
    for (int s = 1; s <= shards; ++s)
      if (quenvis::InShard(e, s, shards)) {
        ++in;
        ++counts[s - 1];
      }
    EXPECT_EQ(in, 1) << e.Recording;
    EXPECT_TRUE(quenvis::InShard(e, 1, 1));
  }
  for (const int c : counts) EXPECT_NEAR(c, entries / shards, entries / shards / 5);
  quenvis::TManifestEntry a, b;
  a.Recording = b.Recording = "x.wav";
  b.Speaker = "other";
  EXPECT_NE(quenvis::EntryKey(a, 0), quenvis::EntryKey(b, 0));
  EXPECT_NE(quenvis::EntryKey(a, 0), quenvis::EntryKey(a, 1));
  EXPECT_EQ(quenvis::EntryKey(a, 0).substr(0, 9), "00000001-");
}

}  // namespace
