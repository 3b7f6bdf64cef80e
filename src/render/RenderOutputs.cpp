#include "render/RenderOutputs.h"

#include <unistd.h>

#include <QImage>
#include <QString>
#include <charconv>
#include <system_error>

namespace quenvis {

namespace fs = std::filesystem;

COutputs::~COutputs() {
  std::error_code ec;
  for (const auto& f : FFiles)
    if (!FCommitted) fs::remove(f.Temp, ec);
}

std::string COutputs::Add(const std::string& Name) {
  FFiles.push_back(
      {FDir / (".quenvis-render-" + std::to_string(::getpid()) + "-" + Name), FDir / Name});
  return FFiles.back().Temp.string();
}

std::string COutputs::Commit() {
  for (const auto& f : FFiles) {
    std::error_code ec;
    fs::rename(f.Temp, f.Final, ec);
    if (ec) return f.Final.string() + ": cannot write: " + ec.message();
  }
  FCommitted = true;
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

CTableFile::~CTableFile() {
  if (FFile) std::fclose(FFile);
}

bool CTableFile::Open(const std::string& Path) {
  FFile = std::fopen(Path.c_str(), "wb");
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

void CPeaksWriter::Add(std::int64_t Block, const TZonePeaks& p) {
  CLine& l = Line();
  l.Clear();
  l.Number(Block);
  l.Char(',');
  l.Number(static_cast<double>((Block + 1) * BlockFrames) / SampleRate);
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

bool SavePng(const CBM32& s, const std::string& Path) {
  // Wraps the buffer read-only: no copy of the pixels is made.
  const QImage image(reinterpret_cast<const uchar*>(s.Info->Bits), s.Info->Width, s.Info->Height,
                     s.Info->Stride, QImage::Format_ARGB32);
  return image.save(QString::fromStdString(Path), "PNG");
}

}  // namespace quenvis
