#include "takes/TakeWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "io/RenderOutputs.h"

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
      FTableFd = CreateNew(FTablePath);
      error = errno;
      if (FTableFd >= 0) {
        FVoiceFd = CreateNew(FVoicePath);
        error = errno;
        if (FVoiceFd < 0) {
          ::close(FTableFd);
          FTableFd = -1;
          ::unlink(FTablePath.c_str());
        }
      }
      if (FTableFd < 0) {
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

  std::string why;
  if (FWav) {
    SF_INFO info{};
    info.samplerate = SampleRate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    FSound = sf_open_fd(FSoundFd, SFM_WRITE, &info, SF_FALSE);
    if (!FSound) why = sf_strerror(nullptr);
  } else {
    FFlac = std::make_unique<CFlacTakeEncoder>();
    why = FFlac->Open(FSoundFd);
  }
  const std::size_t columns = std::strlen(FormantsColumns);
  const std::size_t voiceColumns = std::strlen(VoiceColumns);
  if (why.empty() && (::write(FTableFd, FormantsColumns, columns) != ssize_t(columns) ||
                      ::write(FVoiceFd, VoiceColumns, voiceColumns) != ssize_t(voiceColumns)))
    why = "cannot write the tables: " + SystemError(errno);
  if (!why.empty()) {
    Close();
    ::unlink(FSoundPath.c_str());
    ::unlink(FTablePath.c_str());
    ::unlink(FVoicePath.c_str());
    return FSoundPath + ": " + why;
  }
  FTableBytes = std::int64_t(columns);
  FVoiceBytes = std::int64_t(voiceColumns);
  // A few seconds of lines: no allocation while writing.
  FPending.reserve(std::size_t(QueueBlocks) * 128);
  FPendingLines.reserve(std::size_t(QueueBlocks) * 2);
  FVoicePending.reserve(std::size_t(QueueBlocks) * 192);
  FVoiceEnds.reserve(std::size_t(QueueBlocks) * 2);
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
  if (Frames <= 0) return true;
  slot.Frames = std::min(Frames, BlockFrames);
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
  bool ok;
  std::string why;
  if (FWav) {
    const sf_count_t written = sf_writef_short(FSound, FFrames.data(), Slot.Frames);
    if (written > 0) FWrittenFrames.fetch_add(written, std::memory_order_relaxed);
    ok = written == Slot.Frames && sf_error(FSound) == SF_ERR_NO_ERROR;
    if (!ok) why = sf_strerror(FSound);
  } else {
    ok = FFlac->Write(FFrames.data(), Slot.Frames);
    if (ok) FWrittenFrames.fetch_add(Slot.Frames, std::memory_order_relaxed);
    else why = SystemError(FFlac->Error());
  }
  if (!ok) {
    SetFault("cannot write the take: " + why);
    return false;
  }
  FFramesTaken += Slot.Frames;
  FormantsLine(*FLine, Block, Slot.Formants);
  FLine->AppendTo(FPending);
  FPendingLines.push_back({FPending.size(), FFramesTaken});
  VoiceLine(*FLine, Block, Slot.Voice);
  FLine->AppendTo(FVoicePending);
  FVoiceEnds.push_back(FVoicePending.size());
  return true;
}

std::int64_t CTakeWriter::FramesOnDisk() const noexcept {
  // libsndfile hands WAV frames to the file as they come.
  return FWav ? FWrittenFrames.load(std::memory_order_relaxed)
              : (FFlac ? FFlac->FramesOnDisk() : 0);
}

// Appends Bytes of Pending at Offset of Fd; a line cut short (a full disk)
// is taken off again. 0 or an errno value.
static int AppendWhole(int Fd, const std::string& Pending, std::size_t Bytes,
                       std::int64_t Offset) {
  for (std::size_t done = 0; done < Bytes;) {
    const ssize_t n =
        ::pwrite(Fd, Pending.data() + done, Bytes - done, off_t(Offset + std::int64_t(done)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int error = n < 0 ? errno : ENOSPC;
      if (::ftruncate(Fd, off_t(Offset)) != 0) error = errno;
      return error;
    }
    done += std::size_t(n);
  }
  return 0;
}

bool CTakeWriter::WriteLines(std::int64_t OnDisk) {
  std::size_t lines = 0;
  while (lines < FPendingLines.size() && FPendingLines[lines].FramesEnd <= OnDisk) ++lines;
  if (lines == 0) return true;
  const std::size_t bytes = FPendingLines[lines - 1].End;
  if (const int error = AppendWhole(FTableFd, FPending, bytes, FTableBytes); error != 0) {
    SetFault("cannot write the take's formants: " + SystemError(error));
    return false;
  }
  // The voice table keeps to the same blocks.
  const std::size_t voiceBytes = FVoiceEnds[lines - 1];
  if (const int error = AppendWhole(FVoiceFd, FVoicePending, voiceBytes, FVoiceBytes);
      error != 0) {
    SetFault("cannot write the take's voice measures: " + SystemError(error));
    return false;
  }
  FTableBytes += std::int64_t(bytes);
  FPending.erase(0, bytes);
  FPendingLines.erase(FPendingLines.begin(), FPendingLines.begin() + std::ptrdiff_t(lines));
  for (TPendingLine& l : FPendingLines) l.End -= bytes;
  FVoiceBytes += std::int64_t(voiceBytes);
  FVoicePending.erase(0, voiceBytes);
  FVoiceEnds.erase(FVoiceEnds.begin(), FVoiceEnds.begin() + std::ptrdiff_t(lines));
  for (std::size_t& e : FVoiceEnds) e -= voiceBytes;
  return true;
}

void CTakeWriter::Sync() {
  if (FWav) {
    // The frames first: the header never counts frames a power cut loses.
    ::fdatasync(FSoundFd);
    sf_command(FSound, SFC_UPDATE_HEADER_NOW, nullptr, 0);
  } else if (!FFlac->Sync()) {
    SetFault("cannot write the take: " + SystemError(FFlac->Error()));
    return;
  }
  if (!WriteLines(FramesOnDisk())) return;
  ::fdatasync(FTableFd);
  ::fdatasync(FVoiceFd);
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
  if (FFlac) {
    if (!FFlac->Close() && !FFaulted.load(std::memory_order_relaxed))
      SetFault("cannot write the take: " + SystemError(FFlac->Error()));
  }
  if (FTableFd >= 0 && FVoiceFd >= 0) WriteLines(FramesOnDisk());
  FKept = FSoundFd >= 0 && FTableFd >= 0 && FVoiceFd >= 0 && FramesOnDisk() > 0;
  if (FSoundFd >= 0 && !FKept) {
    // Nothing was recorded: no file to find later that holds nothing.
    if (!FVanished && FolderStillThere()) {
      ::unlink(FSoundPath.c_str());
      ::unlink(FTablePath.c_str());
      ::unlink(FVoicePath.c_str());
    }
    FVanished = false;
  }
  if (FSoundFd >= 0 && FKept && !FVanished && !FolderStillThere()) FVanished = true;
  if (FVanished && FSoundFd >= 0) {
    // The open files still hold the take: write them again where they were.
    std::error_code ec;
    std::filesystem::create_directories(FFolder, ec);
    const bool saved = CopyTo(FSoundFd, FSoundPath) && CopyTo(FTableFd, FTablePath) &&
                       CopyTo(FVoiceFd, FVoicePath);
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
  FFlac.reset();
  if (FTableFd >= 0) {
    ::fdatasync(FTableFd);
    ::close(FTableFd);
    FTableFd = -1;
  }
  if (FVoiceFd >= 0) {
    ::fdatasync(FVoiceFd);
    ::close(FVoiceFd);
    FVoiceFd = -1;
  }
}

}  // namespace quenvis
