#include "render/RenderOutputs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace quenvis {

namespace fs = std::filesystem;

namespace {

std::string Join(const std::string& Dir, const std::string& Name) {
  return !Dir.empty() && Dir.back() == '/' ? Dir + Name : Dir + "/" + Name;
}

std::string SystemError(int Error) {
  return std::error_code(Error, std::generic_category()).message();
}

}  // namespace

COutputDir::~COutputDir() {
  if (FPrivate.empty()) return;
  std::error_code ec;
  fs::remove_all(FPrivate, ec);
}

std::string COutputDir::Open(const std::string& Dir) {
  FDir = Dir.empty() ? std::string(".") : Dir;
  std::error_code ec;
  fs::create_directories(fs::path(FDir), ec);
  struct stat st {};
  if (ec || ::stat(FDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return FDir + ": cannot create the folder" + (ec ? ": " + ec.message() : "");
  std::string pattern = Join(FDir, ".quenvis-render-XXXXXX");
  if (::mkdtemp(pattern.data()) == nullptr)
    return FDir + ": cannot write into the folder: " + SystemError(errno);
  FPrivate = pattern;
  return {};
}

std::string COutputDir::Add(const std::string& Name) {
  FNames.push_back(Name);
  return Join(FPrivate, Name);
}

std::string COutputDir::Commit() {
  // Every place must take a file: nothing is moved while one of them cannot.
  std::vector<bool> replaces(FNames.size());
  for (std::size_t i = 0; i < FNames.size(); ++i) {
    const std::string target = Join(FDir, FNames[i]);
    struct stat st {};
    if (::lstat(target.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode)) return target + ": cannot write: is a folder";
      replaces[i] = true;
    } else if (errno != ENOENT) {
      return target + ": cannot write: " + SystemError(errno);
    }
  }
  // An existing file is exchanged with the new one, so that a failure part
  // way can put the earlier ones back; the old files leave with the private
  // folder.
  // File systems without these moves get plain renames, which cannot be undone.
  auto move = [&](std::size_t i, bool Undo) {
    const std::string from = Join(FPrivate, FNames[i]), to = Join(FDir, FNames[i]);
    if (Undo && !replaces[i]) return ::rename(to.c_str(), from.c_str());
    const unsigned flags = replaces[i] ? RENAME_EXCHANGE : RENAME_NOREPLACE;
    const int r = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), flags);
    return r != 0 && errno == EINVAL && !Undo ? ::rename(from.c_str(), to.c_str()) : r;
  };
  for (std::size_t i = 0; i < FNames.size(); ++i) {
    if (move(i, false) == 0) continue;
    const int error = errno;
    for (std::size_t k = i; k-- > 0;) move(k, true);
    return Join(FDir, FNames[i]) + ": cannot write: " + SystemError(error);
  }
  return {};
}

template <typename T>
void CLine::Number(T v) noexcept {
  const auto r = std::to_chars(FText.data() + FLength, FText.data() + FText.size(), v);
  FLength = static_cast<std::size_t>(r.ptr - FText.data());
}
template void CLine::Number(std::int32_t) noexcept;
template void CLine::Number(std::int64_t) noexcept;
template void CLine::Number(double) noexcept;

void CLine::Fixed(double v, int Decimals) noexcept {
  const auto r = std::to_chars(FText.data() + FLength, FText.data() + FText.size(), v,
                               std::chars_format::fixed, Decimals);
  FLength = static_cast<std::size_t>(r.ptr - FText.data());
}

CTableFile::~CTableFile() {
  if (FFile) std::fclose(FFile);
}

bool CTableFile::Open(const std::string& Path) {
  FFile = std::fopen(Path.c_str(), "wbx");
  return FFile != nullptr;
}

bool CTableFile::Close() {
  if (!FFile) return FOk;
  FOk = FOk && std::fflush(FFile) == 0 && !std::ferror(FFile);
  FOk = std::fclose(FFile) == 0 && FOk;
  FFile = nullptr;
  return FOk;
}

void CTableFile::WriteLine() noexcept { FOk = FOk && FLine->WriteTo(FFile); }

bool CPeaksWriter::Open(const std::string& Path) {
  if (!CTableFile::Open(Path)) return false;
  FOk = std::fputs("block,time_s,zone1_bin,zone1_hz,level1,zone2_bin,zone2_hz,level2,found\n",
                   FFile) >= 0;
  return true;
}

namespace {

// Starts a table line with the block and the time at its end, in seconds.
void BlockAndTime(CLine& l, std::int64_t Block) noexcept {
  l.Clear();
  l.Number(Block);
  l.Char(',');
  l.Number(static_cast<double>((Block + 1) * BlockFrames) / SampleRate);
}

}  // namespace

void CPeaksWriter::Add(std::int64_t Block, const TZonePeaks& p) {
  CLine& l = Line();
  BlockAndTime(l, Block);
  for (int z = 0; z < 2; ++z) {
    const std::int32_t bin = z == 0 ? p.Zone1Peak : p.Zone2Peak;
    l.Char(',');
    l.Number(bin);
    l.Char(',');
    if (bin >= 0) l.Number(bin * double(SampleRate) / FFTSize);
    l.Char(',');
    l.Number(z == 0 ? p.Level1 : p.Level2);
  }
  l.Char(',');
  l.Char(p.Found ? '1' : '0');
  l.Char('\n');
  WriteLine();
}

bool CFormantsWriter::Open(const std::string& Path) {
  if (!CTableFile::Open(Path)) return false;
  FOk = std::fputs("block,time_s,f0_hz,f1_hz,f2_hz,f3_hz,b1_hz,b2_hz,b3_hz,voiced\n", FFile) >= 0;
  return true;
}

void CFormantsWriter::Add(std::int64_t Block, const TFormants& f) {
  AddAt(Block, static_cast<double>((Block + 1) * BlockFrames) / SampleRate, f);
}

void CFormantsWriter::AddAt(std::int64_t Row, double TimeS, const TFormants& f) {
  CLine& l = Line();
  l.Clear();
  l.Number(Row);
  l.Char(',');
  l.Number(TimeS);
  auto hz = [&](double v) {
    l.Char(',');
    if (v > 0) l.Fixed(v, 1);
  };
  hz(f.F0);
  for (const double v : f.F) hz(v);
  for (const double v : f.B) hz(v);
  l.Char(',');
  l.Char(f.Voiced ? '1' : '0');
  l.Char('\n');
  WriteLine();
}

void CPowerWriter::Add(const double* Power) {
  CLine& l = Line();
  l.Clear();
  for (int k = 0; k < FFTSize; ++k) {
    if (k) l.Char(',');
    l.Number(Power[k]);
  }
  l.Char('\n');
  WriteLine();
}

// Version 1.0 header padded to 128 bytes, room for any block count.
constexpr std::size_t NpyHeaderSize = 128;

bool CNpyPowerWriter::Open(const std::string& Path) {
  return CTableFile::Open(Path) && WriteHeader();
}

bool CNpyPowerWriter::WriteHeader() {
  std::string dict = "{'descr': '<f4', 'fortran_order': False, 'shape': (" +
                     std::to_string(FBlocks) + ", " + std::to_string(FFTSize) + "), }";
  dict.resize(NpyHeaderSize - 10 - 1, ' ');
  dict += '\n';
  std::string header = "\x93NUMPY";
  header += '\x01';
  header += '\x00';
  header += static_cast<char>(dict.size() & 0xFF);
  header += static_cast<char>(dict.size() >> 8);
  header += dict;
  FOk = FOk && std::fwrite(header.data(), 1, header.size(), FFile) == header.size();
  return FOk;
}

void CNpyPowerWriter::Add(const double* Power) {
  static_assert(std::endian::native == std::endian::little, "npy is written little-endian");
  for (std::size_t k = 0; k < FRow.size(); ++k) FRow[k] = static_cast<float>(Power[k]);
  FOk = FOk && std::fwrite(FRow.data(), sizeof(float), FRow.size(), FFile) == FRow.size();
  ++FBlocks;
}

bool CNpyPowerWriter::Close() {
  if (FFile) FOk = FOk && std::fseek(FFile, 0, SEEK_SET) == 0 && WriteHeader();
  return CTableFile::Close();
}

bool SavePng(const CBM32& s, const std::string& Path) {
  return SavePng(s.Info->Bits, s.Info->Width, s.Info->Height, Path);
}

bool SavePng(const std::uint32_t* Pixels, std::int32_t Width, std::int32_t Height,
             const std::string& Path) {
  // Wraps the pixels read-only.
  return SavePng(QImage(reinterpret_cast<const uchar*>(Pixels), Width, Height, Width * 4,
                        QImage::Format_ARGB32),
                 Path);
}

bool SavePng(QImage Image, const std::string& Path) {
  // The resolution stays 100 dpi whatever screen Qt assumes, so that the
  // files do not change with the platform. Image is taken by value so that
  // setting it copies no pixels when the caller hands its image over.
  constexpr int DotsPerMeter = 3937;
  Image.setDotsPerMeterX(DotsPerMeter);
  Image.setDotsPerMeterY(DotsPerMeter);
  // The PNG is made in memory and written here, so that the path stays bytes
  // and write errors are ours to report.
  QByteArray png;
  QBuffer buffer(&png);
  if (!buffer.open(QIODevice::WriteOnly) || !Image.save(&buffer, "PNG")) return false;
  return WriteNewFile(Path, png.constData(), static_cast<std::size_t>(png.size()));
}

bool WriteNewFile(const std::string& Path, const char* Data, std::size_t Size) {
  std::FILE* f = std::fopen(Path.c_str(), "wbx");
  if (!f) return false;
  bool ok = std::fwrite(Data, 1, Size, f) == Size;
  ok = std::fflush(f) == 0 && ok;
  return std::fclose(f) == 0 && ok;
}

}  // namespace quenvis
