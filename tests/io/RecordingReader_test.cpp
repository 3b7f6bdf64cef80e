// The reader's hold on its descriptor, whatever libsndfile makes of the file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "io/RecordingReader.h"
#include "support/SoundFiles.h"

namespace {

namespace fs = std::filesystem;

// A refused file must not cost anyone else a descriptor: the number the
// reader had is given to the next open (here, as to another thread's output
// folder), and must still be open after the reader is gone.
TEST(RecordingReader, RefusedFilesLeaveOtherDescriptorsAlone) {
  const fs::path dir = fs::temp_directory_path() / ("quenvis-reader-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path good = dir / "good.wav";
  ASSERT_TRUE(quenvis::test::WriteWav(good, std::vector<std::int16_t>(5000, 1000)));
  struct Case {
    std::string Name, Bytes;
    bool Opens;
  };
  std::string cutAiff = "FORM\x00\x00\x10\x00" "AIFCFVER";
  cutAiff.resize(64, '\x7f');
  std::ifstream in(good, std::ios::binary);
  const std::string wav{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const Case cases[] = {
      {"text.wav", "not sound at all", false},
      {"cut.aifc", cutAiff, false},
      {"header-only.wav", wav.substr(0, 20), false},
      {"good.wav", wav, true},
  };
  for (const Case& c : cases) {
    const fs::path path = dir / c.Name;
    std::ofstream(path, std::ios::binary) << c.Bytes;
    int other = -1;
    {
      quenvis::CRecordingReader reader;
      const std::string error = reader.Open(path);
      EXPECT_EQ(error.empty(), c.Opens) << c.Name << ": " << error;
      other = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
      ASSERT_GE(other, 0);
      if (c.Opens) {
        quenvis::TSampleBlock block{};
        EXPECT_GT(reader.Next(block), 0) << c.Name;
      }
    }
    EXPECT_NE(::fcntl(other, F_GETFD), -1) << c.Name << ": the reader closed a descriptor it no longer had";
    ::close(other);
  }
  fs::remove_all(dir);
}

}  // namespace
