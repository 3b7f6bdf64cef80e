#include "capture/FileWaveInService.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "io/RecordingReader.h"

namespace quenvis {

namespace {

constexpr double BlockSeconds = double(BlockFrames) / SampleRate;
// Behind by more than this, the pace starts again from where it is rather
// than hurrying to catch up.
constexpr std::int64_t MostBehind = 4;
// How long the output stream outlives the playing.
constexpr int KeepOutputMs = 3000;

}  // namespace

struct TFileWaveInService::TChunk {
  std::array<TSampleBlock, ChunkBlocks> Blocks;
};

TFileWaveInService::TFileWaveInService(std::unique_ptr<CSoundOutput> Output, QObject* Parent)
    : TWaveInStreamService(Parent),
      FOutput(Output ? std::move(Output) : std::make_unique<CSilentOutput>()) {
  FTimer.setSingleShot(true);
  FTimer.setTimerType(Qt::PreciseTimer);
  connect(&FTimer, &QTimer::timeout, this, &TFileWaveInService::Pump);
  FCloseOutput.setSingleShot(true);
  connect(&FCloseOutput, &QTimer::timeout, this, [this] { FOutput->Close(); });
}

TFileWaveInService::~TFileWaveInService() {
  StopDecoding();
  FOutput->Close();
}

void TFileWaveInService::SetOutput(std::unique_ptr<CSoundOutput> Output) {
  if (IsOpen()) return;
  FCloseOutput.stop();
  FOutput->Close();
  FOutput = Output ? std::move(Output) : std::make_unique<CSilentOutput>();
}

void TFileWaveInService::StopDecoding() {
  {
    std::lock_guard lock(FChunksLock);
    FStopDecoding.store(true);
  }
  FDecodeWake.notify_all();
  if (FDecoder.joinable()) FDecoder.join();
  FStopDecoding.store(false);
}

std::string TFileWaveInService::Load(const std::string& Path) {
  if (IsOpen()) return Path + ": cannot open while playing";
  auto reader = std::make_unique<CRecordingReader>();
  if (std::string e = reader->Open(Path); !e.empty()) return e;
  StopDecoding();
  {
    std::lock_guard lock(FChunksLock);
    FChunks.clear();
    FDecodeError.clear();
    FEndsEarly = false;
    FFirst = 0;
    FSeekTo = -1;
  }
  FDecoded.store(0);
  FTotal.store(-1);
  FComplete.store(false);
  FExpected = reader->ExpectedBlocks();
  FPath = Path;
  FLoaded = true;
  FNext = 0;
  FPlayBlock.store(0);
  FPaused = false;
  FLoop = false;
  FDecoder = std::thread([this, r = std::move(reader)]() mutable { Decode(*r); });
  return {};
}

void TFileWaveInService::Decode(CRecordingReader& Reader) {
  std::int64_t b = 0;
  bool ended = false;
  std::unique_ptr<TChunk> spare;
  for (;;) {
    if (!spare) spare = std::make_unique<TChunk>();
    TChunk* chunk = nullptr;
    std::int64_t seekTo = -1;
    {
      std::unique_lock lock(FChunksLock);
      // Decodes ahead of the playing as far as AheadChunks, and lets go of
      // what lies more than BehindChunks behind it: memory stays bounded
      // whatever the length.
      FDecodeWake.wait(lock, [&] {
        return FStopDecoding.load() || FSeekTo >= 0 ||
               (!ended && b / ChunkBlocks <= FPlayBlock.load() / ChunkBlocks + AheadChunks);
      });
      if (FStopDecoding.load()) return;
      const std::int64_t keepFrom =
          std::max<std::int64_t>(0, FPlayBlock.load() / ChunkBlocks - BehindChunks);
      for (std::int64_t c = FFirst / ChunkBlocks; c < keepFrom && c < std::int64_t(FChunks.size());
           ++c)
        FChunks[std::size_t(c)].reset();
      FFirst = std::max(FFirst, std::min(keepFrom * ChunkBlocks, FDecoded.load()));
      if (FSeekTo >= 0) {
        // Somewhere not decoded: decoding starts again at its chunk.
        seekTo = FSeekTo / ChunkBlocks * ChunkBlocks;
        FSeekTo = -1;
        for (auto& c : FChunks) c.reset();
        FFirst = seekTo;
        FDecoded.store(seekTo, std::memory_order_release);
      } else {
        const auto c = std::size_t(b / ChunkBlocks);
        if (FChunks.size() <= c) FChunks.resize(c + 1);
        if (!FChunks[c]) FChunks[c] = std::move(spare);
        chunk = FChunks[c].get();
      }
    }
    if (seekTo >= 0) {
      b = seekTo;
      ended = !Reader.Seek(seekTo * BlockFrames);
      continue;
    }
    if (Reader.Next(chunk->Blocks[std::size_t(b % ChunkBlocks)]) == 0) {
      std::lock_guard lock(FChunksLock);
      FDecodeError = Reader.Error();
      FEndsEarly = Reader.EndedEarly();
      FTotal.store(b, std::memory_order_release);
      FComplete.store(true, std::memory_order_release);
      ended = true;
      continue;
    }
    FDecoded.store(++b, std::memory_order_release);
  }
}

bool TFileWaveInService::Available(std::int64_t Block) const {
  std::lock_guard lock(FChunksLock);
  return Block >= FFirst && Block < FDecoded.load(std::memory_order_acquire);
}

void TFileWaveInService::NeedBlock(std::int64_t Block) {
  {
    std::lock_guard lock(FChunksLock);
    if (Block >= FFirst && Block < FDecoded.load(std::memory_order_acquire)) return;
    // Blocks the decoder is about to reach are waited for.
    const std::int64_t next = FDecoded.load(std::memory_order_acquire);
    if (!(Block >= next && Block < next + ChunkBlocks && Block >= FFirst)) FSeekTo = Block;
  }
  FDecodeWake.notify_all();
}

void TFileWaveInService::SetPlayBlock(std::int64_t Block) {
  const std::int64_t before = FPlayBlock.exchange(Block);
  if (before / ChunkBlocks != Block / ChunkBlocks) FDecodeWake.notify_all();
}

bool TFileWaveInService::CopyBlock(std::int64_t Block, void* To) const {
  // Under the lock: a seek elsewhere may let go of the piece meanwhile.
  std::lock_guard lock(FChunksLock);
  if (Block < FFirst || Block >= FDecoded.load(std::memory_order_acquire)) return false;
  const TChunk* c = FChunks[std::size_t(Block / ChunkBlocks)].get();
  if (!c) return false;
  std::memcpy(To, c->Blocks[std::size_t(Block % ChunkBlocks)].data(), std::size_t(BlockBytes));
  return true;
}

bool TFileWaveInService::EndsEarly() const {
  std::lock_guard lock(FChunksLock);
  return FEndsEarly;
}

std::string TFileWaveInService::DecodeError() const {
  std::lock_guard lock(FChunksLock);
  return FDecodeError;
}

MMRESULT TFileWaveInService::waveInGetDevCaps(uint32_t DeviceId, TWaveInCaps& Caps) {
  if (!FLoaded || DeviceId != 0) return MMSYSERR_BADDEVICEID;
  Caps = TWaveInCaps{};
  CopyDeviceName(QFileInfo(QString::fromStdString(FPath)).fileName().toUtf8(), Caps.szPname);
  Caps.dwFormats = WAVE_FORMAT_4S16;
  Caps.wChannels = 2;
  return MMSYSERR_NOERROR;
}

std::int64_t TFileWaveInService::Blocks() const noexcept {
  return Complete() ? FTotal.load(std::memory_order_acquire)
                    : FDecoded.load(std::memory_order_acquire);
}

double TFileWaveInService::Length() const noexcept {
  const std::int64_t blocks = Complete() ? Blocks() : std::max(FExpected, Blocks());
  return double(blocks) * BlockSeconds;
}

double TFileWaveInService::Position() const noexcept { return double(FNext) * BlockSeconds; }

double TFileWaveInService::HeardPosition() {
  const double shown = Position();
  if (!IsStarted() || FPaused || !FSounding) return shown;
  const double latency = FOutput->Latency();
  if (latency < 0) return shown;
  // Written ahead of the picture, heard after the queue: in the file's time
  // the queue lasts its seconds times the speed.
  const double heard = double(FAudioNext) * BlockSeconds - latency * FSpeed;
  return std::clamp(heard, 0.0, Length());
}

double TFileWaveInService::TimeOf(const void* Buffer) const noexcept {
  // The latest first: a buffer may have been handed out twice in a row.
  for (const int i : {FHandedAt ^ 1, FHandedAt})
    if (FHanded[std::size_t(i)].Buffer == Buffer)
      return double(FHanded[std::size_t(i)].Block) * BlockSeconds;
  return -1;
}

std::int64_t TFileWaveInService::LoopEnd() const noexcept {
  if (FLoop && FLoopTo > FLoopFrom) return FLoopTo;
  return Complete() ? Blocks() : std::numeric_limits<std::int64_t>::max();
}

void TFileWaveInService::Rebase() {
  FBaseBlock = FNext;
  FClock.start();
}

void TFileWaveInService::Seek(double Seconds) {
  const std::int64_t last = std::max<std::int64_t>(0, (Complete() ? Blocks() : FExpected) - 1);
  const double block = std::floor(std::clamp(Seconds, 0.0, 1e9) / BlockSeconds);
  FNext = std::clamp<std::int64_t>(std::int64_t(block), 0, last);
  SetPlayBlock(FNext);
  NeedBlock(FNext);
  FlushSound();
  Rebase();
  if (OnPosition) OnPosition();
  if (IsStarted() && !FPaused) {
    Schedule();
  } else if (IsStarted()) {
    // Paused, the picture still shows the new place: one block, not heard.
    FPaused = false;
    const bool sounding = FSounding;
    FSounding = false;
    Deliver();
    FSounding = sounding;
    FPaused = true;
    if (OnPosition) OnPosition();  // still paused
  }
}

void TFileWaveInService::SetPaused(bool Paused) {
  if (!Paused && FPaused && Complete() && FNext >= LoopEnd())
    FNext = FLoop && FLoopTo > FLoopFrom ? FLoopFrom : 0;  // at the end: from the start again
  FPaused = Paused;
  FCountUnderruns = false;
  if (Paused) {
    FTimer.stop();
    FlushSound();
  } else {
    Rebase();
    if (IsStarted()) Schedule();
  }
  if (OnPosition) OnPosition();
}

void TFileWaveInService::SetSpeed(double Speed) {
  FSpeed = std::clamp(Speed, 0.1, 1.0);
  const double rate = std::nearbyint(SampleRate * FSpeed);
  FOutput->SetRate(static_cast<std::uint32_t>(rate));
  Rebase();
  if (IsStarted() && !FPaused) Schedule();
}

void TFileWaveInService::SetLoop(bool On, double From, double To) {
  FLoop = On;
  From = std::clamp(From, 0.0, 1e9);
  To = std::clamp(To, 0.0, 1e9);
  FLoopFrom = std::int64_t(std::floor(From / BlockSeconds));
  FLoopTo = To > From ? std::int64_t(std::ceil(To / BlockSeconds)) : 0;
  if (FLoop && FLoopTo > FLoopFrom && (FNext < FLoopFrom || FNext >= FLoopTo)) Seek(From);
}

void TFileWaveInService::SetPacing(bool On) {
  FPacing = On;
  if (!On) FTimer.stop();
}

int TFileWaveInService::Step(int Blocks) {
  int n = 0;
  while (n < Blocks && Deliver()) ++n;
  return n;
}

MMRESULT TFileWaveInService::DoOpen(uint32_t DeviceId, const TWaveFormatEx& Format) {
  if (!FLoaded) return MMSYSERR_NODRIVER;
  if (DeviceId != 0) return MMSYSERR_BADDEVICEID;
  if (Format.nChannels != 2 || Format.nSamplesPerSec != uint32_t(SampleRate))
    return WAVERR_BADFORMAT;
  FHanded = {};
  return MMSYSERR_NOERROR;
}

MMRESULT TFileWaveInService::DoStart() {
  FCloseOutput.stop();
  const double rate = std::nearbyint(SampleRate * FSpeed);
  FSounding = FOutput->Open(static_cast<std::uint32_t>(rate));
  FAudioNext = FNext;
  FCountUnderruns = false;
  Rebase();
  // The stream counts as started only after this returns.
  if (FPacing) FTimer.start(0);
  return MMSYSERR_NOERROR;
}

void TFileWaveInService::DoStop() {
  FTimer.stop();
  // The stream goes a little later: while it is there the sound server keeps
  // its output running at a short latency, and a capture started now from
  // that output's monitor (or a device clocked with it) delivers at once
  // instead of after the server's longest sleep (up to 2 s).
  FCloseOutput.start(KeepOutputMs);
  FSounding = false;
}

void TFileWaveInService::DoClose() { DoStop(); }

void TFileWaveInService::BufferAdded() {
  if (IsStarted() && FPacing && !FPaused && !FTimer.isActive()) Pump();
}

bool TFileWaveInService::Deliver() {
  if (!IsStarted() || FPaused) return false;
  if (FNext >= LoopEnd()) {
    if (FLoop && FLoopTo > FLoopFrom) {
      FNext = FLoopFrom;
      FlushSound();
      Rebase();
    } else {
      // The end of the take: wait there.
      FPaused = true;
      if (OnPosition) OnPosition();
      return false;
    }
  }
  SetPlayBlock(FNext);
  if (!Available(FNext)) {  // not decoded yet
    NeedBlock(FNext);
    return false;
  }
  uint32_t room = 0;
  char* to = FillPointer(room);
  if (to == nullptr || room < uint32_t(BlockBytes)) return false;
  if (!CopyBlock(FNext, to)) return false;
  FHanded[std::size_t(FHandedAt)] = {to, FNext};
  FHandedAt ^= 1;
  ++FNext;
  if (FSounding) {
    // A stream that ran dry while blocks came one after another: a dropout.
    const std::int64_t underruns = FOutput->Underruns();
    if (FCountUnderruns) FDropouts += underruns - FSeenUnderruns;
    FSeenUnderruns = underruns;
    FCountUnderruns = true;
    FeedSound();
  }
  Filled(uint32_t(BlockBytes));
  if (OnPosition) OnPosition();
  return true;
}

void TFileWaveInService::FlushSound() {
  FOutput->Flush();
  FAudioNext = FNext;
  FCountUnderruns = false;
}

void TFileWaveInService::FeedSound() {
  // The sound of the blocks being shown was written before: what a late
  // timer delays is the picture, not what is heard.
  if (FAudioNext < FNext - 1) FAudioNext = FNext - 1;
  const std::int64_t until = std::min(LoopEnd(), FNext + LeadBlocks);
  while (FAudioNext < until && FOutput->Room() >= std::uint32_t(BlockBytes)) {
    if (!CopyBlock(FAudioNext, FSoundBlock.data())) break;
    FOutput->Write(FSoundBlock.data(), uint32_t(BlockBytes));
    ++FAudioNext;
  }
}

void TFileWaveInService::Pump() {
  if (!IsStarted() || FPaused || !FPacing) return;
  const double due = double(FBaseBlock) + double(FClock.elapsed()) * 1e-3 * FSpeed / BlockSeconds;
  if (due - double(FNext) > double(MostBehind)) Rebase();
  while (double(FNext) <=
         double(FBaseBlock) + double(FClock.elapsed()) * 1e-3 * FSpeed / BlockSeconds) {
    if (!SoundWritten()) {
      // The output takes no more yet (a sink waking up): the picture waits
      // for the sound rather than the sound being skipped.
      FWaitingForSound = true;
      FTimer.start(5);
      return;
    }
    if (FWaitingForSound) {
      FWaitingForSound = false;
      Rebase();
    }
    if (!Deliver()) break;
  }
  Schedule();
}

bool TFileWaveInService::SoundWritten() {
  if (!FSounding || FNext >= LoopEnd() || !Available(FNext)) return true;
  if (FAudioNext < FNext) FAudioNext = FNext;
  if (FAudioNext == FNext) FeedSound();
  return FAudioNext > FNext;
}

void TFileWaveInService::Schedule() {
  if (!IsStarted() || FPaused || !FPacing) return;
  uint32_t room = 0;
  // Without a queued buffer, BufferAdded goes on; undecoded sound is waited for.
  if (FillPointer(room) == nullptr) return;
  double wait = 10;
  if (Available(FNext))
    wait = (double(FNext - FBaseBlock) * BlockSeconds / FSpeed) * 1e3 - double(FClock.elapsed());
  FTimer.start(int(std::clamp(std::ceil(wait), 0.0, 1000.0)));
}

}  // namespace quenvis
