#include "chart/TakeWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "render/RenderOutputs.h"

namespace quenvis {

namespace {

std::string SystemError(int Error) {
  return std::error_code(Error, std::generic_category()).message();
}

// Opens a new file, never one that is there already (nor a planted link);
// readable too, so that it can be copied should its folder go.
int CreateNew(const std::string& Path) {
  return ::open(Path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
}

// Copies everything Fd holds into a new file at Path.
bool CopyTo(int Fd, const std::string& Path) {
  const int to = CreateNew(Path);
  if (to < 0) return false;
  std::array<char, 65536> buffer;
  off_t at = 0;
  bool ok = true;
  for (;;) {
    const ssize_t n = ::pread(Fd, buffer.data(), buffer.size(), at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::write(to, buffer.data() + done, size_t(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        ok = false;
        break;
      }
      done += w;
    }
    if (!ok) break;
    at += n;
  }
  ok = ::close(to) == 0 && ok;
  if (!ok) ::unlink(Path.c_str());
  return ok;
}

}  // namespace

std::string TakeStem(std::int64_t SecondsSinceEpoch) {
  const auto t = static_cast<std::time_t>(SecondsSinceEpoch);
  std::tm local{};
  localtime_r(&t, &local);
  char name[64];
  std::strftime(name, sizeof name, "quenvis-%Y-%m-%d_%H-%M-%S", &local);
  return name;
}

CTakeWriter::CTakeWriter() : FSlots(QueueBlocks), FLine(std::make_unique<CLine>()) {
  FFrames.resize(std::size_t(BlockFrames) * 2);
}

CTakeWriter::~CTakeWriter() {
  Finish();
  if (FThread.joinable()) FThread.join();
  Close();
}

std::string CTakeWriter::Start(const std::string& Folder, const std::string& Stem,
                               ETakeFormat Format) {
  FFolder = Folder;
  std::error_code ec;
  std::filesystem::create_directories(Folder, ec);
  struct stat st {};
  if (ec || ::stat(Folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return Folder + ": cannot create the folder" + (ec ? ": " + ec.message() : "");
  FWav = Format == ETakeFormat::Wav;
  const std::string base = Folder + (Folder.empty() || Folder.back() == '/' ? "" : "/");
  // Two takes in one second get -2, -3...
  int error = 0;
  for (int n = 1; n < 100 && FSoundFd < 0; ++n) {
    const std::string stem = n == 1 ? Stem : Stem + "-" + std::to_string(n);
    FSoundPath = base + stem + (FWav ? ".wav" : ".flac");
    FTablePath = base + stem + ".formants.csv";
    FVoicePath = base + stem + ".voice.csv";
    FSoundFd = CreateNew(FSoundPath);
    error = errno;
    if (FSoundFd >= 0) {
      const int table = CreateNew(FTablePath);
      error = errno;
      if (table >= 0) FTable = ::fdopen(table, "wb");
      const int voice = FTable ? CreateNew(FVoicePath) : -1;
      if (FTable) error = errno;
      if (voice >= 0) FVoice = ::fdopen(voice, "wb");
      if (!FTable || !FVoice) {
        if (FTable) {
          std::fclose(FTable);
          FTable = nullptr;
          ::unlink(FTablePath.c_str());
        } else if (table >= 0) {
          ::close(table);
          ::unlink(FTablePath.c_str());
        }
        if (voice >= 0) {
          ::close(voice);
          ::unlink(FVoicePath.c_str());
        }
        ::close(FSoundFd);
        FSoundFd = -1;
        ::unlink(FSoundPath.c_str());
        if (error != EEXIST) break;
      }
    } else if (error != EEXIST) {
      break;
    }
  }
  if (FSoundFd < 0) return FSoundPath + ": cannot create: " + SystemError(error);

  SF_INFO info{};
  info.samplerate = SampleRate;
  info.channels = 2;
  info.format = (FWav ? SF_FORMAT_WAV : SF_FORMAT_FLAC) | SF_FORMAT_PCM_16;
  FSound = sf_open_fd(FSoundFd, SFM_WRITE, &info, SF_FALSE);
  if (FSound && !FWav) {
    // A light compression: the file is a little larger, the writing much cheaper.
    double level = 0.0;
    sf_command(FSound, SFC_SET_COMPRESSION_LEVEL, &level, sizeof level);
  }
  if (!FSound || std::fputs(FormantsColumns, FTable) < 0 || std::fputs(VoiceColumns, FVoice) < 0) {
    const std::string why = FSound ? "cannot write the tables" : sf_strerror(nullptr);
    Close();
    ::unlink(FSoundPath.c_str());
    ::unlink(FTablePath.c_str());
    ::unlink(FVoicePath.c_str());
    return FSoundPath + ": " + why;
  }
  FThread = std::thread([this] { Run(); });
  return {};
}

bool CTakeWriter::Push(const void* Samples, std::int32_t Frames, const TFormants& Formants,
                       const TVoice& Voice) noexcept {
  if (FStop.load(std::memory_order_relaxed) || FFaulted.load(std::memory_order_acquire) ||
      !FThread.joinable())
    return false;
  const std::int64_t head = FHead.load(std::memory_order_relaxed);
  if (head - FTail.load(std::memory_order_acquire) >= QueueBlocks) {
    FLost.fetch_add(1, std::memory_order_relaxed);
    return false;
  }
  TSlot& slot = FSlots[std::size_t(head % QueueBlocks)];
  slot.Frames = std::clamp(Frames, 0, BlockFrames);
  std::memcpy(slot.Samples.data(), Samples, std::size_t(slot.Frames) * 4);
  slot.Formants = Formants;
  slot.Voice = Voice;
  FHead.store(head + 1, std::memory_order_release);
  if ((head + 1) % WakeBlocks == 0) FWake.release();
  return true;
}

void CTakeWriter::Finish() noexcept {
  if (FStop.exchange(true)) return;
  FWake.release();
}

std::string CTakeWriter::Fault() const { return Done() ? FFault : std::string(); }

void CTakeWriter::SetFault(std::string Text) {
  if (FFaulted.load(std::memory_order_relaxed)) return;
  FFault = std::move(Text);
  FFaulted.store(true, std::memory_order_release);
}

void CTakeWriter::Run() {
  using namespace std::chrono_literals;
  std::int64_t sinceSync = 0;
  for (;;) {
    (void)FWake.try_acquire_for(200ms);
    const bool stopping = FStop.load(std::memory_order_acquire);
    const std::int64_t head = FHead.load(std::memory_order_acquire);
    std::int64_t tail = FTail.load(std::memory_order_relaxed);
    bool ok = true;
    for (; tail < head && ok; ++tail) {
      ok = WriteSlot(FSlots[std::size_t(tail % QueueBlocks)], tail);
      FTail.store(tail + 1, std::memory_order_release);
      if (ok && ++sinceSync >= SyncBlocks) {
        sinceSync = 0;
        Sync();
        ok = !FFaulted.load(std::memory_order_relaxed);
      }
    }
    if (!ok || (stopping && tail == FHead.load(std::memory_order_acquire))) break;
  }
  Close();
  FDone.store(true, std::memory_order_release);
  if (OnEvent) OnEvent();
}

bool CTakeWriter::WriteSlot(const TSlot& Slot, std::int64_t Block) {
  const unsigned char* s = Slot.Samples.data();
  for (std::size_t i = 0; i < std::size_t(Slot.Frames) * 2; ++i)
    FFrames[i] =
        static_cast<std::int16_t>(static_cast<std::uint16_t>(s[2 * i] | s[2 * i + 1] << 8));
  const sf_count_t written = sf_writef_short(FSound, FFrames.data(), Slot.Frames);
  if (written > 0) FWrittenFrames.fetch_add(written, std::memory_order_relaxed);
  if (written != Slot.Frames || sf_error(FSound) != SF_ERR_NO_ERROR) {
    SetFault(std::string("cannot write the take: ") + sf_strerror(FSound));
    return false;
  }
  FormantsLine(*FLine, Block, Slot.Formants);
  if (!FLine->WriteTo(FTable)) {
    SetFault("cannot write the take's formants: " + SystemError(errno));
    return false;
  }
  VoiceLine(*FLine, Block, Slot.Voice);
  if (!FLine->WriteTo(FVoice)) {
    SetFault("cannot write the take's voice measures: " + SystemError(errno));
    return false;
  }
  return true;
}

void CTakeWriter::Sync() {
  if (FWav) sf_command(FSound, SFC_UPDATE_HEADER_NOW, nullptr, 0);
  if (std::fflush(FTable) != 0) SetFault("cannot write the take's formants: " + SystemError(errno));
  if (std::fflush(FVoice) != 0)
    SetFault("cannot write the take's voice measures: " + SystemError(errno));
  if (!FolderStillThere()) {
    FVanished = true;
    SetFault(FFolder + ": the folder was removed while recording");
  }
}

bool CTakeWriter::FolderStillThere() const {
  struct stat file {
  }, named{};
  return ::fstat(FSoundFd, &file) == 0 && ::stat(FSoundPath.c_str(), &named) == 0 &&
         file.st_ino == named.st_ino && file.st_dev == named.st_dev;
}

void CTakeWriter::Close() {
  if (FSound) {
    sf_close(FSound);  // the header's final counts
    FSound = nullptr;
  }
  if (FTable) std::fflush(FTable);
  if (FVoice) std::fflush(FVoice);
  if (FSoundFd >= 0 && !FVanished && !FolderStillThere()) FVanished = true;
  if (FVanished && FSoundFd >= 0) {
    // The open files still hold the take: write them again where they were.
    std::error_code ec;
    std::filesystem::create_directories(FFolder, ec);
    const bool saved = CopyTo(FSoundFd, FSoundPath) &&
                       (!FTable || CopyTo(::fileno(FTable), FTablePath)) &&
                       (!FVoice || CopyTo(::fileno(FVoice), FVoicePath));
    const std::string where =
        saved ? "; the take was saved again in " + FFolder : "; the take could not be saved again";
    if (FFaulted.load(std::memory_order_relaxed))
      FFault += where;
    else
      SetFault(FFolder + ": the folder was removed while recording" + where);
    FVanished = false;
  }
  if (FSoundFd >= 0) {
    ::close(FSoundFd);
    FSoundFd = -1;
  }
  if (FTable) {
    std::fclose(FTable);
    FTable = nullptr;
  }
  if (FVoice) {
    std::fclose(FVoice);
    FVoice = nullptr;
  }
}

}  // namespace quenvis
