#pragma once
// A fresh folder for one test, named after the test and the process, and
// removed with everything in it when the test ends.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace quenvis::test {

class TTempFolderTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Writes Text as the file Name in the folder; returns its path.
  std::string Write(const std::string& Name, const std::string& Text) const;
  std::filesystem::path FDir;
};

}  // namespace quenvis::test
