#pragma once
// The files quenvis-render writes, and the folder they are placed in.
#include <QImage>
#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "analysis/Common.h"
#include "analysis/FormantTracker.h"
#include "analysis/ZonePeakTracker.h"
#include "display/DXCommon.h"

namespace quenvis {

// The output folder, filled all at once: files are written into a private
// folder inside it (made by mkdtemp, mode 0700, so nothing planted there can
// redirect them) and moved into place only when every one of them can be.
// The private folder is removed whatever happens.
class COutputDir {
 public:
  COutputDir() = default;
  ~COutputDir();
  COutputDir(const COutputDir&) = delete;
  COutputDir& operator=(const COutputDir&) = delete;

  // Creates Dir if needed and the private folder in it. Returns an empty
  // string, or one line naming the folder and the reason.
  std::string Open(const std::string& Dir);
  // The path to write Name to until Commit.
  std::string Add(const std::string& Name);
  // Moves every file into place, or none: returns an empty string, or one
  // line naming the file that cannot be placed.
  std::string Commit();

 private:
  std::string FDir, FPrivate;
  std::vector<std::string> FNames;
};

// Appends numbers in shortest round-trip form to a line buffer.
class CLine {
 public:
  void Clear() noexcept { FLength = 0; }
  template <typename T>
  void Number(T v) noexcept;
  // With a fixed number of decimals, always '.' as the separator.
  void Fixed(double v, int Decimals) noexcept;
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
  virtual ~CTableFile();
  virtual bool Open(const std::string& Path);
  // Flushes and closes; false when any write failed.
  virtual bool Close();

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
  bool Open(const std::string& Path) override;
  void Add(std::int64_t Block, const TZonePeaks& Peaks);
};

// formants.csv: one line per block with the estimated pitch and formants,
// in Hz to a tenth; unknown values are left empty. AddAt writes a line of
// an analysis at its own time instead (the row number in the block column).
class CFormantsWriter : public CTableFile {
 public:
  bool Open(const std::string& Path) override;
  void Add(std::int64_t Block, const TFormants& Formants);
  void AddAt(std::int64_t Row, double TimeS, const TFormants& Formants);
};

// The 4096 log10 power values of every block.
class CPowerWriter : public CTableFile {
 public:
  virtual void Add(const double* Power);
};

// power.npy: the same as a NumPy array, float32, shape (blocks, 4096). The
// header is rewritten with the number of blocks on Close.
class CNpyPowerWriter : public CPowerWriter {
 public:
  bool Open(const std::string& Path) override;
  void Add(const double* Power) override;
  bool Close() override;

 private:
  bool WriteHeader();
  std::int64_t FBlocks = 0;
  std::array<float, FFTSize> FRow{};
};

// Saves a surface as PNG straight from its pixel buffer.
bool SavePng(const CBM32& Surface, const std::string& Path);
// Saves 32-bit ARGB pixels (rows without gaps) as PNG.
bool SavePng(const std::uint32_t* Pixels, std::int32_t Width, std::int32_t Height,
             const std::string& Path);
bool SavePng(QImage Image, const std::string& Path);
// Writes Size bytes to a new file at Path; false on any failure.
bool WriteNewFile(const std::string& Path, const char* Data, std::size_t Size);

}  // namespace quenvis
