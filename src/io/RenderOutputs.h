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
#include "analysis/VoiceMeasures.h"
#include "analysis/ZonePeakTracker.h"
#include "display/DXCommon.h"

namespace quenvis {

// The output folder, filled all at once: files are written into a private
// folder inside it (mode 0700, named after this process so that a later run
// can tell when it was left behind) and moved into place only when every one
// of them can be. Nothing is reached through a name that could be a planted
// link: everything below the folder the user named is opened relative to it,
// without following links. The private folder is removed whatever happens,
// and so are the folders Open made when the outputs are not placed.
class COutputDir {
 public:
  COutputDir() = default;
  ~COutputDir();
  COutputDir(const COutputDir&) = delete;
  COutputDir& operator=(const COutputDir&) = delete;

  // Opens Dir (made with its parents if missing) and, when Sub is not
  // empty, the folder Sub inside it (made if missing, refused if a link),
  // and makes the private folder there. Removes private folders that runs
  // which no longer exist left there. Returns an empty string, or one line
  // naming the folder and the reason.
  std::string Open(const std::string& Dir, const std::string& Sub = {});
  // Creates output Name in the private folder: a descriptor to write it, or
  // -1 with errno set.
  int Create(const std::string& Name);
  // A working file in the private folder that is not an output, open for
  // reading and writing; null with errno set on failure.
  std::FILE* Scratch(const std::string& Name);
  // Moves every output into place, or none, then removes this program's
  // outputs of an earlier run that this one did not make. Returns an empty
  // string, or one line naming the file that cannot be placed.
  std::string Commit();
  // How the user knows output Name: "OUTDIR/Name".
  std::string Shown(const std::string& Name) const;
  // Lines for the user once the outputs are placed.
  const std::vector<std::string>& Notes() const noexcept { return FNotes; }

 private:
  void RemoveStale();
  void RemoveEarlierOutputs();

  std::string FShown, FPrivate;
  int FParent = -1, FDir = -1, FPrivateFd = -1;
  // Folders Open made, the deepest last; Sub is made in FParent.
  std::vector<std::string> FMade;
  bool FMadeSub = false, FCommitted = false;
  std::string FSub;
  std::vector<std::string> FNames, FNotes;
};

// Makes Dir and its missing parents, adding the ones made to Made, the
// deepest last. Returns 0, or an errno value.
int MakeFolders(const std::string& Dir, std::vector<std::string>& Made);
// Removes the folders of Made that are empty, the deepest first.
void RemoveEmptyFolders(const std::vector<std::string>& Made);
// Whether Name is one this program writes into an OUTDIR.
bool IsOutputName(const std::string& Name);

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
  void AppendTo(std::string& Text) const { Text.append(FText.data(), FLength); }

 private:
  std::array<char, FFTSize * 32> FText{};
  std::size_t FLength = 0;
};

// A table written line by line; failures are remembered and reported by Close.
class CTableFile {
 public:
  CTableFile() : FLine(std::make_unique<CLine>()) {}
  virtual ~CTableFile();
  // Takes the descriptor (closed here in any case). False with errno set
  // on failure.
  virtual bool Open(int Fd);
  // Flushes and closes; false when any write failed, with Error() telling why.
  virtual bool Close();
  // The errno value of the first failure, 0 if none.
  int Error() const noexcept { return FError; }
  bool Ok() const noexcept { return FOk; }

 protected:
  CLine& Line() noexcept { return *FLine; }
  void WriteLine() noexcept;
  // Remembers the first failure's errno when Ok turns false.
  void Check(bool Ok) noexcept;

  std::FILE* FFile = nullptr;
  bool FOk = true;
  int FError = 0;

 private:
  std::unique_ptr<CLine> FLine;
};

// peaks.csv: one line per block with the tracked peaks.
class CPeaksWriter : public CTableFile {
 public:
  bool Open(int Fd) override;
  void Add(std::int64_t Block, const TZonePeaks& Peaks);
};

// formants.csv: one line per block with the estimated pitch and formants,
// in Hz to a tenth; unknown values are left empty. A take recorded live
// writes the same lines. AddAt writes a line of an analysis at its own time
// instead (the row number in the block column).
inline constexpr const char* FormantsColumns =
    "block,time_s,f0_hz,f1_hz,f2_hz,f3_hz,b1_hz,b2_hz,b3_hz,voiced,confidence\n";
void FormantsLine(CLine& Line, std::int64_t Block, const TFormants& Formants) noexcept;
void FormantsLineAt(CLine& Line, std::int64_t Row, double TimeS, const TFormants& Formants) noexcept;

class CFormantsWriter : public CTableFile {
 public:
  bool Open(int Fd) override;
  void Add(std::int64_t Block, const TFormants& Formants);
  void AddAt(std::int64_t Row, double TimeS, const TFormants& Formants);
};

// voice.csv: the voice measures of each analysis, on the rows of
// formants.csv (the same block or row number and time); unknown values are
// left empty. Decibels to a hundredth, jitter and shimmer % to a thousandth.
inline constexpr const char* VoiceColumns =
    "block,time_s,cpps_db,hnr_db,h1_h2_db,h1c_h2c_db,h1_a1_db,h1_a3_db,jitter_pct,shimmer_pct,"
    "shimmer_db,vibrato_hz,vibrato_cents,vibrato_regularity,spr_db,alpha_db,voiced\n";
void VoiceLineAt(CLine& Line, std::int64_t Row, double TimeS, const TVoice& Voice) noexcept;
// A block's line, at the block's time as in formants.csv.
void VoiceLine(CLine& Line, std::int64_t Block, const TVoice& Voice) noexcept;

class CVoiceWriter : public CTableFile {
 public:
  bool Open(int Fd) override;
  void Add(std::int64_t Block, const TVoice& Voice);
  void AddAt(std::int64_t Row, double TimeS, const TVoice& Voice);
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
  bool Open(int Fd) override;
  void Add(const double* Power) override;
  bool Close() override;

 private:
  bool WriteHeader();
  std::int64_t FBlocks = 0;
  std::array<float, FFTSize> FRow{};
};

// PNG files, written to Fd (closed here in any case). Return 0, or an errno
// value (EINVAL when the image cannot be encoded).
int SavePng(const CBM32& Surface, int Fd);
// 32-bit ARGB pixels, rows without gaps.
int SavePng(const std::uint32_t* Pixels, std::int32_t Width, std::int32_t Height, int Fd);
int SavePng(QImage Image, int Fd);

}  // namespace quenvis
