#include "io/RenderOutputs.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <random>
#include <string_view>
#include <system_error>

namespace quenvis {

namespace {

constexpr std::string_view PrivatePrefix = ".quenvis-render-";

std::string Join(const std::string& Dir, const std::string& Name) {
  return !Dir.empty() && Dir.back() == '/' ? Dir + Name : Dir + "/" + Name;
}

std::string SystemError(int Error) {
  return std::error_code(Error, std::generic_category()).message();
}

// Removes Name in Parent and, when it is a folder, what it holds; links are
// removed, never followed.
void RemoveTree(int Parent, const char* Name, int Depth = 0) {
  if (::unlinkat(Parent, Name, 0) == 0 || (errno != EISDIR && errno != EPERM) || Depth > 16) return;
  const int fd = ::openat(Parent, Name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    ::close(fd);
    return;
  }
  while (const dirent* e = ::readdir(dir)) {
    const std::string_view name(e->d_name);
    if (name != "." && name != "..") RemoveTree(::dirfd(dir), e->d_name, Depth + 1);
  }
  ::closedir(dir);
  ::unlinkat(Parent, Name, AT_REMOVEDIR);
}

// The names in the folder Fd (which stays open).
std::vector<std::string> Entries(int Fd) {
  std::vector<std::string> names;
  const int copy = ::openat(Fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* dir = copy >= 0 ? ::fdopendir(copy) : nullptr;
  if (!dir) {
    if (copy >= 0) ::close(copy);
    return names;
  }
  while (const dirent* e = ::readdir(dir)) {
    const std::string_view name(e->d_name);
    if (name != "." && name != "..") names.emplace_back(name);
  }
  ::closedir(dir);
  return names;
}

// A process is known by its id and its start time (clock ticks after boot),
// so that an id taken again by another process does not count.
std::uint64_t StartTime(long Pid) {
  const std::string path = "/proc/" + std::to_string(Pid) + "/stat";
  std::FILE* f = std::fopen(path.c_str(), "re");
  if (!f) return 0;
  std::array<char, 1024> text{};
  const std::size_t n = std::fread(text.data(), 1, text.size() - 1, f);
  std::fclose(f);
  const std::string_view fields(text.data(), n);
  // The fields after the command name, which ends at the last ')', start
  // with field 3; the start time is field 22.
  std::size_t at = fields.rfind(')');
  if (at == std::string_view::npos) return 0;
  for (int field = 2; at < fields.size();) {
    at = fields.find_first_not_of(' ', at + 1);
    if (at == std::string_view::npos) break;
    const std::size_t end = std::min(fields.find(' ', at), fields.size());
    if (++field == 22) {
      std::uint64_t v = 0;
      std::from_chars(fields.data() + at, fields.data() + end, v);
      return v;
    }
    at = end;
  }
  return 0;
}

// Private folders made on another machine sharing the folder cannot be
// judged, so the name carries the machine's too.
std::uint32_t HostTag() {
  std::array<char, 256> name{};
  ::gethostname(name.data(), name.size() - 1);
  std::uint32_t h = 2166136261u;
  for (const char c : std::string_view(name.data()))
    h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
  return h;
}

std::string PrivateName() {
  static constexpr char Letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  std::string tag(6, 'a');
  for (char& c : tag) c = Letters[random() % (sizeof Letters - 1)];
  char head[64];
  std::snprintf(head, sizeof head, "%08x-%ld-%llu-", HostTag(), static_cast<long>(::getpid()),
                static_cast<unsigned long long>(StartTime(::getpid())));
  return std::string(PrivatePrefix) + head + tag;
}

// Whether a private folder name is of a run on this machine that has ended.
bool LeftBehind(std::string_view Name) {
  if (Name.substr(0, PrivatePrefix.size()) != PrivatePrefix) return false;
  Name.remove_prefix(PrivatePrefix.size());
  std::uint32_t host = 0;
  long pid = 0;
  std::uint64_t start = 0;
  const char* at = Name.data();
  const char* end = Name.data() + Name.size();
  auto field = [&](auto& v, int Base) {
    const auto r = std::from_chars(at, end, v, Base);
    if (r.ec != std::errc() || r.ptr == end || *r.ptr != '-') return false;
    at = r.ptr + 1;
    return true;
  };
  if (!field(host, 16) || !field(pid, 10) || !field(start, 10)) return false;
  if (host != HostTag() || pid <= 0 || pid == ::getpid()) return false;
  if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) return true;
  const std::uint64_t now = StartTime(pid);
  return now != 0 && now != start;
}

int WriteAndClose(int Fd, const char* Data, std::size_t Size) {
  int error = 0;
  while (Size > 0 && error == 0) {
    const ssize_t n = ::write(Fd, Data, Size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : ENOSPC;
      break;
    }
    Data += n;
    Size -= static_cast<std::size_t>(n);
  }
  if (::close(Fd) != 0 && error == 0) error = errno;
  return error;
}

}  // namespace

bool IsOutputName(const std::string& Name) {
  for (const char* fixed :
       {"spectrum.png", "plot.png", "spectrogram.png", "peaks.csv", "formants.csv", "chart.png",
        "power.csv", "power.npy", "voice.csv", "summary.csv"})
    if (Name == fixed) return true;
  constexpr std::string_view head = "spectrogram-", tail = ".png";
  const std::string_view n(Name);
  if (n.size() < head.size() + 3 + tail.size() || n.substr(0, head.size()) != head ||
      n.substr(n.size() - tail.size()) != tail)
    return false;
  const std::string_view digits = n.substr(head.size(), n.size() - head.size() - tail.size());
  return digits.find_first_not_of("0123456789") == std::string_view::npos;
}

int MakeFolders(const std::string& Dir, std::vector<std::string>& Made) {
  for (std::size_t at = 0; at != std::string::npos;) {
    at = Dir.find('/', at + 1);
    const std::string part = Dir.substr(0, at);
    if (part.empty() || part == "/" || part.back() == '/') continue;
    if (::mkdir(part.c_str(), 0777) == 0) {
      Made.push_back(part);
    } else if (errno != EEXIST) {
      return errno;
    }
  }
  struct stat st {};
  if (::stat(Dir.c_str(), &st) != 0) return errno;
  return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

void RemoveEmptyFolders(const std::vector<std::string>& Made) {
  for (auto it = Made.rbegin(); it != Made.rend(); ++it) ::rmdir(it->c_str());
}

COutputDir::~COutputDir() {
  if (FPrivateFd >= 0) ::close(FPrivateFd);
  if (!FPrivate.empty() && FDir >= 0) RemoveTree(FDir, FPrivate.c_str());
  if (!FCommitted) {
    if (FMadeSub && FParent >= 0) ::unlinkat(FParent, FSub.c_str(), AT_REMOVEDIR);
    RemoveEmptyFolders(FMade);
  }
  if (FDir >= 0) ::close(FDir);
  if (FParent >= 0) ::close(FParent);
}

std::string COutputDir::Open(const std::string& Dir, const std::string& Sub) {
  FShown = Dir;
  if (Dir.empty()) return "'' (empty OUTDIR): not a folder name";
  if (const int e = MakeFolders(Dir, FMade); e != 0)
    return Dir + ": cannot create the folder: " + SystemError(e);
  // The folder the user named may be a link; what is below it is not followed.
  const int top = ::open(Dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (top < 0) return Dir + ": cannot open the folder: " + SystemError(errno);
  if (Sub.empty()) {
    FDir = top;
  } else {
    FParent = top;
    FSub = Sub;
    FShown = Join(Dir, Sub);
    if (::mkdirat(FParent, Sub.c_str(), 0777) == 0)
      FMadeSub = true;
    else if (errno != EEXIST)
      return FShown + ": cannot create the folder: " + SystemError(errno);
    FDir = ::openat(FParent, Sub.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (FDir < 0) {
      const int error = errno;
      struct stat st {};
      if (::fstatat(FParent, Sub.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
        return FShown + ": is a symbolic link (not followed)";
      return FShown + ": cannot open the folder: " + SystemError(error);
    }
  }
  RemoveStale();
  for (int attempt = 0; FPrivate.empty(); ++attempt) {
    const std::string name = PrivateName();
    if (::mkdirat(FDir, name.c_str(), 0700) == 0)
      FPrivate = name;
    else if (errno != EEXIST || attempt > 100)
      return FShown + ": cannot write into the folder: " + SystemError(errno);
  }
  FPrivateFd = ::openat(FDir, FPrivate.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (FPrivateFd < 0) return FShown + ": cannot write into the folder: " + SystemError(errno);
  return {};
}

void COutputDir::RemoveStale() {
  int removed = 0;
  for (const std::string& name : Entries(FDir)) {
    if (!LeftBehind(name)) continue;
    struct stat st {};
    if (::fstatat(FDir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != ::geteuid())
      continue;
    RemoveTree(FDir, name.c_str());
    ++removed;
  }
  if (removed > 0)
    FNotes.push_back(FShown + ": removed " + std::to_string(removed) +
                     (removed == 1 ? " private folder" : " private folders") +
                     " left by runs that did not finish");
}

std::string COutputDir::Shown(const std::string& Name) const { return Join(FShown, Name); }

int COutputDir::Create(const std::string& Name) {
  const int fd = ::openat(FPrivateFd, Name.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd >= 0) FNames.push_back(Name);
  return fd;
}

std::FILE* COutputDir::Scratch(const std::string& Name) {
  const int fd =
      ::openat(FPrivateFd, Name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  std::FILE* f = ::fdopen(fd, "w+b");
  if (!f) ::close(fd);
  return f;
}

std::string COutputDir::Commit() {
  // Every place must take a file: nothing is moved while one of them cannot.
  std::vector<bool> replaces(FNames.size());
  for (std::size_t i = 0; i < FNames.size(); ++i) {
    struct stat st {};
    if (::fstatat(FDir, FNames[i].c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
      if (S_ISDIR(st.st_mode)) return Shown(FNames[i]) + ": cannot write: is a folder";
      replaces[i] = true;
    } else if (errno != ENOENT) {
      return Shown(FNames[i]) + ": cannot write: " + SystemError(errno);
    }
  }
  // An existing file (or link: moves never follow one) is exchanged with
  // the new one, so that a failure part way can put the earlier ones back;
  // the old files leave with the private folder. File systems without these
  // moves get plain renames, which cannot be undone.
  auto move = [&](std::size_t i, bool Undo) {
    const char* name = FNames[i].c_str();
    if (Undo && !replaces[i]) return ::renameat(FDir, name, FPrivateFd, name);
    const unsigned flags = replaces[i] ? RENAME_EXCHANGE : RENAME_NOREPLACE;
    const int r = ::renameat2(FPrivateFd, name, FDir, name, flags);
    return r != 0 && errno == EINVAL && !Undo ? ::renameat(FPrivateFd, name, FDir, name) : r;
  };
  for (std::size_t i = 0; i < FNames.size(); ++i) {
    if (move(i, false) == 0) continue;
    const int error = errno;
    for (std::size_t k = i; k-- > 0;) move(k, true);
    return Shown(FNames[i]) + ": cannot write: " + SystemError(error);
  }
  FCommitted = true;
  RemoveEarlierOutputs();
  return {};
}

void COutputDir::RemoveEarlierOutputs() {
  for (const std::string& name : Entries(FDir)) {
    if (!IsOutputName(name) || std::find(FNames.begin(), FNames.end(), name) != FNames.end())
      continue;
    struct stat st {};
    if (::fstatat(FDir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode))
      ::unlinkat(FDir, name.c_str(), 0);
  }
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

bool CTableFile::Open(int Fd) {
  if (Fd < 0) return false;
  FFile = ::fdopen(Fd, "wb");
  if (!FFile) {
    const int error = errno;
    ::close(Fd);
    errno = error;
  }
  return FFile != nullptr;
}

void CTableFile::Check(bool Ok) noexcept {
  if (!Ok && FOk) FError = errno != 0 ? errno : EIO;
  FOk = FOk && Ok;
}

bool CTableFile::Close() {
  if (!FFile) return FOk;
  if (FOk) Check(std::fflush(FFile) == 0 && !std::ferror(FFile));
  const bool closed = std::fclose(FFile) == 0;
  if (FOk) Check(closed);
  FFile = nullptr;
  return FOk;
}

void CTableFile::WriteLine() noexcept {
  if (FOk) Check(FLine->WriteTo(FFile));
}

bool CPeaksWriter::Open(int Fd) {
  if (!CTableFile::Open(Fd)) return false;
  Check(std::fputs("block,time_s,zone1_bin,zone1_hz,level1,zone2_bin,zone2_hz,level2,found\n",
                   FFile) >= 0);
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

bool CFormantsWriter::Open(int Fd) {
  if (!CTableFile::Open(Fd)) return false;
  Check(std::fputs(FormantsColumns, FFile) >= 0);
  return true;
}

void FormantsLineAt(CLine& l, std::int64_t Row, double TimeS, const TFormants& f) noexcept {
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
  l.Char(',');
  l.Fixed(f.Confidence, 2);
  l.Char('\n');
}

void FormantsLine(CLine& l, std::int64_t Block, const TFormants& f) noexcept {
  FormantsLineAt(l, Block, static_cast<double>((Block + 1) * BlockFrames) / SampleRate, f);
}

void CFormantsWriter::Add(std::int64_t Block, const TFormants& f) {
  FormantsLine(Line(), Block, f);
  WriteLine();
}

void CFormantsWriter::AddAt(std::int64_t Row, double TimeS, const TFormants& f) {
  FormantsLineAt(Line(), Row, TimeS, f);
  WriteLine();
}

bool CVoiceWriter::Open(int Fd) {
  if (!CTableFile::Open(Fd)) return false;
  Check(std::fputs(VoiceColumns, FFile) >= 0);
  return true;
}

void VoiceLineAt(CLine& l, std::int64_t Row, double TimeS, const TVoice& v) noexcept {
  l.Clear();
  l.Number(Row);
  l.Char(',');
  l.Number(TimeS);
  auto value = [&](double x, int Decimals) {
    l.Char(',');
    // Beyond this a value is not a measure but a failure; it is left out.
    if (Measured(x) && std::abs(x) < 1e6) l.Fixed(x, Decimals);
  };
  for (const double x : {v.Cpps, v.Hnr, v.H1H2, v.H1H2Corrected, v.H1A1, v.H1A3}) value(x, 2);
  value(v.JitterPct, 3);
  value(v.ShimmerPct, 3);
  value(v.ShimmerDb, 3);
  value(v.VibratoHz, 2);
  value(v.VibratoCents, 1);
  value(v.VibratoRegularity, 3);
  value(v.SingingPowerRatio, 2);
  value(v.AlphaRatio, 2);
  l.Char(',');
  l.Char(v.Voiced ? '1' : '0');
  l.Char('\n');
}

void VoiceLine(CLine& l, std::int64_t Block, const TVoice& v) noexcept {
  VoiceLineAt(l, Block, static_cast<double>((Block + 1) * BlockFrames) / SampleRate, v);
}

void CVoiceWriter::Add(std::int64_t Block, const TVoice& v) {
  VoiceLine(Line(), Block, v);
  WriteLine();
}

void CVoiceWriter::AddAt(std::int64_t Row, double TimeS, const TVoice& v) {
  VoiceLineAt(Line(), Row, TimeS, v);
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

bool CNpyPowerWriter::Open(int Fd) { return CTableFile::Open(Fd) && WriteHeader(); }

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
  if (FOk) Check(std::fwrite(header.data(), 1, header.size(), FFile) == header.size());
  return FOk;
}

void CNpyPowerWriter::Add(const double* Power) {
  static_assert(std::endian::native == std::endian::little, "npy is written little-endian");
  for (std::size_t k = 0; k < FRow.size(); ++k) FRow[k] = static_cast<float>(Power[k]);
  if (FOk) Check(std::fwrite(FRow.data(), sizeof(float), FRow.size(), FFile) == FRow.size());
  ++FBlocks;
}

bool CNpyPowerWriter::Close() {
  if (FFile && FOk) {
    Check(std::fflush(FFile) == 0);
    if (FOk) Check(std::fseek(FFile, 0, SEEK_SET) == 0);
    if (FOk) WriteHeader();
  }
  return CTableFile::Close();
}

int SavePng(const CBM32& s, int Fd) {
  return SavePng(s.Info->Bits, s.Info->Width, s.Info->Height, Fd);
}

int SavePng(const std::uint32_t* Pixels, std::int32_t Width, std::int32_t Height, int Fd) {
  // Wraps the pixels read-only.
  return SavePng(QImage(reinterpret_cast<const uchar*>(Pixels), Width, Height, Width * 4,
                        QImage::Format_ARGB32),
                 Fd);
}

namespace {

bool Opaque(const QImage& Image) noexcept {
  for (int y = 0; y < Image.height(); ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(Image.constScanLine(y));
    for (int x = 0; x < Image.width(); ++x)
      if (qAlpha(row[x]) != 255) return false;
  }
  return true;
}

}  // namespace

int SavePng(QImage Image, int Fd) {
  if (Fd < 0) return errno;
  // An opaque image goes without its alpha channel: a quarter fewer bytes
  // to filter and compress, and the same pixels read back.
  if ((Image.format() == QImage::Format_ARGB32 ||
       Image.format() == QImage::Format_ARGB32_Premultiplied) &&
      Opaque(Image))
    Image.reinterpretAsFormat(QImage::Format_RGB32);
  // The resolution stays 100 dpi whatever screen Qt assumes, so that the
  // files do not change with the platform. Image is taken by value so that
  // setting it copies no pixels when the caller hands its image over.
  constexpr int DotsPerMeter = 3937;
  Image.setDotsPerMeterX(DotsPerMeter);
  Image.setDotsPerMeterY(DotsPerMeter);
  // The PNG is made in memory and written here, so that write errors are
  // ours to report. Qt's quality 80 is zlib's fastest level: a long
  // spectrogram compresses in a quarter of the default's time, for a tenth
  // more bytes; the pixels are the same.
  constexpr int FastCompression = 80;
  QByteArray png;
  QBuffer buffer(&png);
  if (!buffer.open(QIODevice::WriteOnly) || !Image.save(&buffer, "PNG", FastCompression)) {
    ::close(Fd);
    return EINVAL;
  }
  return WriteAndClose(Fd, png.constData(), static_cast<std::size_t>(png.size()));
}

}  // namespace quenvis
