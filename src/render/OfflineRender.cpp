#include "render/OfflineRender.h"

#include <sndfile.h>
#include <unistd.h>

#include <QImage>
#include <QString>
#include <array>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "display/FrameRenderer.h"

namespace quenvis {

namespace {

namespace fs = std::filesystem;

struct TSndFileCloser {
  void operator()(SNDFILE* f) const noexcept { sf_close(f); }
};
using TSndFile = std::unique_ptr<SNDFILE, TSndFileCloser>;

struct TFileCloser {
  void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};

// Output files under temporary names in OUTDIR; removed again unless all of
// them were renamed into place.
class COutputs {
 public:
  explicit COutputs(fs::path Dir) : FDir(std::move(Dir)) {}
  ~COutputs() {
    std::error_code ec;
    for (const auto& f : FFiles)
      if (!FCommitted) fs::remove(f.Temp, ec);
  }
  std::string Add(const std::string& Name) {
    FFiles.push_back({FDir / (".quenvis-render-" + std::to_string(::getpid()) + "-" + Name),
                      FDir / Name});
    return FFiles.back().Temp.string();
  }
  std::string Commit() {
    for (const auto& f : FFiles) {
      std::error_code ec;
      fs::rename(f.Temp, f.Final, ec);
      if (ec) return f.Final.string() + ": cannot write: " + ec.message();
    }
    FCommitted = true;
    return {};
  }

 private:
  struct TFile {
    fs::path Temp, Final;
  };
  fs::path FDir;
  std::vector<TFile> FFiles;
  bool FCommitted = false;
};

// Presents nothing on screen; for the last block it saves the spectrum and
// the first plot straight from their pixel buffers.
class CRenderHost : public IFrameHost {
 public:
  CRenderHost(const CBM32& Spectrum, const CBM32& Plot) : FSpectrum(Spectrum), FPlot(Plot) {}
  void Present() override {
    if (!ExportNow) return;
    Exported = Save(FSpectrum, SpectrumPath) && Save(FPlot, PlotPath);
  }
  void UpdateCaption() override {}
  void ProcessMessages() override {}
  // The recording's own clock, so the rate text is that of real time play.
  double TimeOfDay() override { return Blocks * (BlockFrames / double(SampleRate)) / 86400; }
  std::string FormatRate(double BlocksPerSecond) override {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", BlocksPerSecond);
    return text;
  }

  bool ExportNow = false, Exported = false;
  std::string SpectrumPath, PlotPath;
  std::int64_t Blocks = 0;

 private:
  static bool Save(const CBM32& s, const std::string& Path) {
    // Wraps the buffer read-only: no copy of the pixels is made.
    const QImage image(reinterpret_cast<const uchar*>(s.Info->Bits), s.Info->Width,
                       s.Info->Height, s.Info->Stride, QImage::Format_ARGB32);
    return image.save(QString::fromStdString(Path), "PNG");
  }
  const CBM32& FSpectrum;
  const CBM32& FPlot;
};

// Appends numbers in shortest round-trip form to a line buffer.
class CLine {
 public:
  void Clear() { FLength = 0; }
  template <typename T>
  void Number(T v) {
    const auto r = std::to_chars(FText.data() + FLength, FText.data() + FText.size(), v);
    FLength = static_cast<std::size_t>(r.ptr - FText.data());
  }
  void Char(char c) { FText[FLength++] = c; }
  bool WriteTo(std::FILE* f) const { return std::fwrite(FText.data(), 1, FLength, f) == FLength; }

 private:
  std::array<char, 4096 * 32> FText{};
  std::size_t FLength = 0;
};

std::string DescribeOpenFailure(const std::string& Input) {
  std::error_code ec;
  if (!fs::exists(Input, ec)) return Input + ": no such file";
  if (fs::is_directory(Input, ec)) return Input + ": is a directory";
  return Input + ": cannot read as sound: " + sf_strerror(nullptr);
}

// A data chunk that claims more than the file holds means the file was cut.
bool LooksTruncated(SNDFILE* f) {
  std::array<char, 4096> log{};
  sf_command(f, SFC_GET_LOG_INFO, log.data(), static_cast<int>(log.size()) - 1);
  const std::string text(log.data());
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const std::string line = text.substr(at, end - at);
    if (line.rfind("data", 0) == 0 && line.find("should be") != std::string::npos) return true;
    at = end + 1;
  }
  return false;
}

}  // namespace

std::string RenderRecording(const TRenderOptions& Options, bool ShowProgress) {
  const std::string& input = Options.Input;
  SF_INFO info{};
  TSndFile file(sf_open(input.c_str(), SFM_READ, &info));
  if (!file) return DescribeOpenFailure(input);
  if (info.samplerate != SampleRate)
    return input + ": sample rate " + std::to_string(info.samplerate) + " Hz, expected 44100 Hz";
  if (info.channels < 1 || info.channels > 2)
    return input + ": " + std::to_string(info.channels) + " channels, at most 2 supported";
  if (LooksTruncated(file.get())) return input + ": truncated (the file ends inside its sound data)";
  if (info.frames <= 0) return input + ": contains no sound";
  sf_command(file.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);

  const fs::path outDir(Options.OutDir);
  std::error_code ec;
  fs::create_directories(outDir, ec);
  if (ec || !fs::is_directory(outDir, ec))
    return Options.OutDir + ": cannot create directory" + (ec ? ": " + ec.message() : "");

  COutputs outputs(outDir);
  const std::string peaksPath = outputs.Add("peaks.csv");
  const std::string powerPath = Options.WritePower ? outputs.Add("power.csv") : std::string();

  TAnalysisSettings settings = Options.Settings;
  TFrameRate rate;
  rate.FRateText = "?";
  auto fft = std::make_unique<CFFT_iterative>();
  fft->Reset();
  fft->Window = Options.Window;
  auto surfaces = std::make_unique<TSurfaces>();
  CRenderHost host(surfaces->SpectrumBmp, surfaces->PlotBmp1);
  host.SpectrumPath = outputs.Add("spectrum.png");
  host.PlotPath = outputs.Add("plot.png");
  CFrameRenderer renderer(settings, rate, *fft, *surfaces, host);

  std::unique_ptr<std::FILE, TFileCloser> peaks(std::fopen(peaksPath.c_str(), "wb"));
  if (!peaks) return (outDir / "peaks.csv").string() + ": cannot write";
  std::unique_ptr<std::FILE, TFileCloser> power;
  if (Options.WritePower) {
    power.reset(std::fopen(powerPath.c_str(), "wb"));
    if (!power) return (outDir / "power.csv").string() + ": cannot write";
  }
  std::fputs("block,time_s,zone1_bin,zone1_hz,level1,zone2_bin,zone2_hz,level2,found\n", peaks.get());

  const std::int64_t blocks = (info.frames + BlockFrames - 1) / BlockFrames;
  const bool progress = ShowProgress && info.frames > 5 * SampleRate;
  std::vector<std::int16_t> samples(static_cast<std::size_t>(BlockFrames * info.channels));
  std::array<unsigned char, BlockBytes> block{};
  auto line = std::make_unique<CLine>();
  bool written = true;

  for (std::int64_t b = 0; b < blocks; ++b) {
    const sf_count_t got = sf_readf_short(file.get(), samples.data(), BlockFrames);
    const bool last = b + 1 == blocks;
    if (got <= 0 || (!last && got < BlockFrames) || sf_error(file.get()) != SF_ERR_NO_ERROR)
      return input + ": read failed after " + std::to_string(b * BlockFrames) + " frames" +
             (sf_error(file.get()) ? std::string(": ") + sf_strerror(file.get()) : "");
    // Interleaved 16-bit little-endian, mono fed to both channels; the rest
    // of a short last block stays silent.
    block.fill(0);
    for (sf_count_t i = 0; i < got; ++i) {
      const std::int16_t l = samples[static_cast<std::size_t>(i * info.channels)];
      const std::int16_t r = samples[static_cast<std::size_t>(i * info.channels + info.channels - 1)];
      unsigned char* at = block.data() + 4 * i;
      at[0] = static_cast<unsigned char>(l & 0xFF);
      at[1] = static_cast<unsigned char>((l >> 8) & 0xFF);
      at[2] = static_cast<unsigned char>(r & 0xFF);
      at[3] = static_cast<unsigned char>((r >> 8) & 0xFF);
    }
    host.ExportNow = last;
    host.Blocks = b + 1;
    std::int32_t done = 0;
    const auto frames = static_cast<std::int32_t>(got);
    renderer.RecorderData(block.data(), frames * 4, frames, done);

    const TZonePeaks& p = renderer.LastPeaks();
    CLine& l = *line;
    l.Clear();
    l.Number(b);
    l.Char(',');
    l.Number(static_cast<double>((b + 1) * BlockFrames) / SampleRate);
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
    written = written && l.WriteTo(peaks.get());
    if (power) {
      l.Clear();
      for (int k = 0; k < FFTSize; ++k) {
        if (k) l.Char(',');
        l.Number(fft->Power[static_cast<std::size_t>(k)]);
      }
      l.Char('\n');
      written = written && l.WriteTo(power.get());
    }
    if (progress && (b % 64 == 0 || last))
      std::fprintf(stderr, "\rquenvis-render: block %lld of %lld", static_cast<long long>(b + 1),
                   static_cast<long long>(blocks));
  }
  if (progress) std::fputs("\n", stderr);

  if (!host.Exported) return Options.OutDir + ": cannot write the images";
  for (auto* f : {&peaks, &power}) {
    if (!*f) continue;
    written = written && std::fflush(f->get()) == 0 && !std::ferror(f->get());
    written = std::fclose(f->release()) == 0 && written;
  }
  if (!written) return Options.OutDir + ": cannot write the tables (disk full?)";
  return outputs.Commit();
}

}  // namespace quenvis
