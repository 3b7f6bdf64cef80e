#include "support/TempFolder.h"

#include <unistd.h>

#include <fstream>

namespace quenvis::test {

void TTempFolderTest::SetUp() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  FDir = std::filesystem::temp_directory_path() /
         ("quenvis-" + std::string(info->test_suite_name()) + "-" + info->name() + "-" +
          std::to_string(::getpid()));
  std::filesystem::remove_all(FDir);
  std::filesystem::create_directories(FDir);
}

void TTempFolderTest::TearDown() { std::filesystem::remove_all(FDir); }

std::string TTempFolderTest::Write(const std::string& Name, const std::string& Text) const {
  const std::string path = (FDir / Name).string();
  std::ofstream(path, std::ios::binary) << Text;
  return path;
}

}  // namespace quenvis::test
