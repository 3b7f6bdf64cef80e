#pragma once
// The files quenvis-render writes, and the folder they are placed in.
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "analysis/Common.h"
#include "analysis/ZonePeakTracker.h"
#include "display/DXCommon.h"

namespace quenvis {

// Output files under temporary names in OUTDIR; removed again unless all of
// them were renamed into place.
class COutputs {
 public:
  explicit COutputs(std::filesystem::path Dir) : FDir(std::move(Dir)) {}
  ~COutputs();
  COutputs(const COutputs&) = delete;
  COutputs& operator=(const COutputs&) = delete;
  // The path to write Name to until Commit.
  std::string Add(const std::string& Name);
  // Returns an empty string, or one line naming the file that could not be placed.
  std::string Commit();

 private:
  struct TFile {
    std::filesystem::path Temp, Final;
  };
  std::filesystem::path FDir;
  std::vector<TFile> FFiles;
  bool FCommitted = false;
};

// Appends numbers in shortest round-trip form to a line buffer.
class CLine {
 public:
  void Clear() noexcept { FLength = 0; }
  template <typename T>
  void Number(T v) noexcept;
  void Char(char c) noexcept { FText[FLength++] = c; }
  bool WriteTo(std::FILE* f) const noexcept {
    return std::fwrite(FText.data(), 1, FLength, f) == FLength;
  }

 private:
  std::array<char, FFTSize * 32> FText{};
  std::size_t FLength = 0;
};

// A table written line by line; failures are remembered and reported by Close.
class CTableFile {
 public:
  CTableFile() : FLine(std::make_unique<CLine>()) {}
  ~CTableFile();
  bool Open(const std::string& Path);
  // Flushes and closes; false when any write failed.
  bool Close();

 protected:
  CLine& Line() noexcept { return *FLine; }
  void WriteLine() noexcept;

  std::FILE* FFile = nullptr;
  bool FOk = true;

 private:
  std::unique_ptr<CLine> FLine;
};

// peaks.csv: one line per block with the tracked peaks.
class CPeaksWriter : public CTableFile {
 public:
  bool Open(const std::string& Path);
  void Add(std::int64_t Block, const TZonePeaks& Peaks);
};

// power.csv: the 4096 log10 power values of every block.
class CPowerWriter : public CTableFile {
 public:
  void Add(const double* Power);
};

// Saves a surface as PNG straight from its pixel buffer.
bool SavePng(const CBM32& Surface, const std::string& Path);

}  // namespace quenvis
