#include "capture/SoundOutput.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QIODevice>
#include <QMediaDevices>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#if defined(QUENVIS_HAVE_PULSE)
#include <pulse/pulseaudio.h>
#endif

namespace quenvis {

namespace {

constexpr std::uint32_t FrameBytes = 4;
constexpr std::uint32_t BlockBytesOut = 2048 * FrameBytes;
// The latency asked of the stream: about 190 ms, of which the server leaves
// the client a queue of 100 ms or more. Playing starts with a block queued.
constexpr std::uint32_t QueueBytes = 4 * BlockBytesOut;
constexpr std::uint32_t StartBytes = BlockBytesOut;  // about 46 ms

// Qt Multimedia's sink, pushed to. A change of rate makes a new sink.
class CQtSoundOutput final : public CSoundOutput {
 public:
  bool Open(std::uint32_t Rate) override {
    Close();
    QAudioFormat format;
    format.setSampleRate(int(Rate));
    format.setChannelCount(2);
    format.setSampleFormat(QAudioFormat::Int16);
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull() || !device.isFormatSupported(format)) return false;
    FSink = std::make_unique<QAudioSink>(device, format);
    FSink->setBufferSize(int(QueueBytes));
    FDevice = FSink->start();
    FRate = Rate;
    return FDevice != nullptr;
  }
  void Write(const void* Frames, std::uint32_t Bytes) override {
    if (!FDevice) return;
    const auto room = std::min<qint64>(FSink->bytesFree(), Bytes);
    if (room > 0) FDevice->write(static_cast<const char*>(Frames), room - room % FrameBytes);
  }
  std::uint32_t Room() override {
    return FSink ? std::uint32_t(std::max<qint64>(0, FSink->bytesFree())) : 0;
  }
  double Latency() override {
    if (!FSink || FRate == 0) return -1;
    const qint64 queued = std::max<qint64>(0, FSink->bufferSize() - FSink->bytesFree());
    return double(queued) / (double(FRate) * FrameBytes);
  }
  void SetRate(std::uint32_t Rate) override {
    if (FSink && Rate != FRate) Open(Rate);
  }
  void Flush() override {
    if (FSink) Open(FRate);
  }
  void Close() override {
    if (FSink) FSink->stop();
    FDevice = nullptr;
    FSink.reset();
  }
  ~CQtSoundOutput() override { Close(); }

 private:
  std::unique_ptr<QAudioSink> FSink;
  QIODevice* FDevice = nullptr;
  std::uint32_t FRate = 0;
};

#if defined(QUENVIS_HAVE_PULSE)
// Sound held for the server beside its queue (about 560 ms): the loop's
// thread, which sleeps until the server asks, hands it over, so a window or
// a machine busy for longer than the server's queue leaves no gap (a queue
// of 190 ms written by the window's thread ran dry 19 times in 10 minutes
// with builds running). The server's own queue stays short, so what is heard
// keeps close to the picture.
constexpr std::uint32_t HeldBytes = 12 * BlockBytesOut;

// A playback stream on the sound server, on a threaded loop of its own. The
// calls never wait for the server: what cannot be held at once is dropped.
class CPulseSoundOutput final : public CSoundOutput {
 public:
  ~CPulseSoundOutput() override {
    if (!FLoop) return;
    {
      TLock lock(FLoop);
      DropStream();
      if (FContext) {
        pa_context_set_state_callback(FContext, nullptr, nullptr);
        pa_context_disconnect(FContext);
        pa_context_unref(FContext);
      }
    }
    pa_threaded_mainloop_stop(FLoop);
    pa_threaded_mainloop_free(FLoop);
  }

  bool Open(std::uint32_t Rate) override {
    if (!FLoop) {
      FLoop = pa_threaded_mainloop_new();
      if (!FLoop || pa_threaded_mainloop_start(FLoop) < 0) return false;
    }
    TLock lock(FLoop);
    FWanted = true;
    if (FStream && pa_stream_get_state(FStream) == PA_STREAM_READY && FRate == Rate) {
      // The stream kept after the last playing serves again, as the server
      // keeps the output at its latency meanwhile.
      if (pa_operation* o = pa_stream_flush(FStream, nullptr, nullptr)) pa_operation_unref(o);
      FHeldSize = 0;
      FPlaying = false;
      return true;
    }
    FRate = Rate;
    DropStream();
    if (FContext && !PA_CONTEXT_IS_GOOD(pa_context_get_state(FContext))) {
      pa_context_set_state_callback(FContext, nullptr, nullptr);
      pa_context_unref(FContext);
      FContext = nullptr;
    }
    if (!FContext) {
      FContext = pa_context_new(pa_threaded_mainloop_get_api(FLoop), "Quenvis playback");
      if (!FContext) return false;
      pa_context_set_state_callback(FContext, ContextState, this);
      if (pa_context_connect(FContext, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0) return false;
    } else if (pa_context_get_state(FContext) == PA_CONTEXT_READY) {
      MakeStream();
    }
    return true;
  }

  void Write(const void* Frames, std::uint32_t Bytes) override {
    if (!FLoop) return;
    TLock lock(FLoop);
    if (!FStream || pa_stream_get_state(FStream) != PA_STREAM_READY) return;
    // Whole frames, as far as they fit; the ring wraps at most once.
    std::uint32_t n = std::min(Bytes, HeldBytes - FHeldSize);
    n -= n % FrameBytes;
    const auto* from = static_cast<const char*>(Frames);
    std::uint32_t at = (FHeldStart + FHeldSize) % HeldBytes;
    const std::uint32_t first = std::min(n, HeldBytes - at);
    std::memcpy(FHeld.data() + at, from, first);
    std::memcpy(FHeld.data(), from + first, n - first);
    FHeldSize += n;
    Hand();
  }

  std::uint32_t Room() override {
    if (!FLoop) return 0;
    TLock lock(FLoop);
    if (!FStream || pa_stream_get_state(FStream) != PA_STREAM_READY) return 0;
    Hand();
    if (!FPlaying) {
      // Until the server plays (a sink waking up), only its queue takes
      // sound, so that the picture waits for it rather than running ahead.
      const size_t room = pa_stream_writable_size(FStream);
      return FHeldSize > 0 || room == size_t(-1) ? 0 : std::uint32_t(std::min<size_t>(room, QueueBytes));
    }
    return HeldBytes - FHeldSize;
  }

  std::int64_t Underruns() const override { return FUnderruns.load(std::memory_order_relaxed); }

  double Latency() override {
    if (!FLoop) return -1;
    TLock lock(FLoop);
    if (!FStream || pa_stream_get_state(FStream) != PA_STREAM_READY) return -1;
    pa_usec_t usec = 0;
    int negative = 0;
    if (pa_stream_get_latency(FStream, &usec, &negative) < 0) return -1;  // no timing yet
    const double held = double(FHeldSize) / (double(FRate) * FrameBytes);
    return held + (negative ? 0.0 : double(usec) / 1e6);
  }

  void SetRate(std::uint32_t Rate) override {
    if (!FLoop) return;
    TLock lock(FLoop);
    FRate = Rate;
    if (FStream && pa_stream_get_state(FStream) == PA_STREAM_READY)
      if (pa_operation* o = pa_stream_update_sample_rate(FStream, Rate, nullptr, nullptr))
        pa_operation_unref(o);
  }

  void Flush() override {
    if (!FLoop) return;
    TLock lock(FLoop);
    FHeldSize = 0;
    FPlaying = false;
    if (FStream && pa_stream_get_state(FStream) == PA_STREAM_READY)
      if (pa_operation* o = pa_stream_flush(FStream, nullptr, nullptr)) pa_operation_unref(o);
  }

  void Close() override {
    if (!FLoop) return;
    TLock lock(FLoop);
    FWanted = false;
    DropStream();
  }

 private:
  struct TLock {
    pa_threaded_mainloop* L;
    explicit TLock(pa_threaded_mainloop* L) : L(L) { pa_threaded_mainloop_lock(L); }
    ~TLock() { pa_threaded_mainloop_unlock(L); }
  };

  // Under the loop's lock: gives the server what its queue has room for.
  void Hand() {
    if (!FStream || pa_stream_get_state(FStream) != PA_STREAM_READY) return;
    while (FHeldSize >= FrameBytes) {
      const size_t room = pa_stream_writable_size(FStream);
      if (room == size_t(-1) || room < FrameBytes) return;
      std::uint32_t n = std::min({std::uint32_t(std::min<size_t>(room, HeldBytes)), FHeldSize,
                                  HeldBytes - FHeldStart});
      n -= n % FrameBytes;
      if (n == 0) return;
      if (pa_stream_write(FStream, FHeld.data() + FHeldStart, n, nullptr, 0, PA_SEEK_RELATIVE) < 0)
        return;
      FHeldStart = (FHeldStart + n) % HeldBytes;
      FHeldSize -= n;
    }
  }

  // Under the loop's lock.
  static void ContextState(pa_context* Context, void* Self) {
    auto* out = static_cast<CPulseSoundOutput*>(Self);
    if (pa_context_get_state(Context) != PA_CONTEXT_READY) return;
    // Which server answers decides the stream's buffer.
    if (pa_operation* o = pa_context_get_server_info(Context, ServerInfo, Self))
      pa_operation_unref(o);
    else if (out->FWanted && !out->FStream)
      out->MakeStream();
  }

  static void ServerInfo(pa_context*, const pa_server_info* Info, void* Self) {
    auto* out = static_cast<CPulseSoundOutput*>(Self);
    out->FPipeWire = Info && Info->server_name && std::strstr(Info->server_name, "PipeWire");
    if (out->FWanted && !out->FStream) out->MakeStream();
  }

  void MakeStream() {
    const pa_sample_spec spec{PA_SAMPLE_S16LE, FRate, 2};
    FStream = pa_stream_new(FContext, "Quenvis playback", &spec, nullptr);
    if (!FStream) return;
    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.tlength = QueueBytes;
    attr.prebuf = StartBytes;
    attr.minreq = uint32_t(-1);
    attr.fragsize = uint32_t(-1);
    // pipewire-pulse meets an adjusted latency with a queue too short for a
    // late timer (19 gaps in 4 s under load): there the whole queue is asked
    // of the server instead. PulseAudio keeps the adjusted one, which its
    // null sink starts on more evenly.
    // The timing updates give the latency that puts the timeline on what is
    // heard rather than on what was analysed.
    const auto flags = pa_stream_flags_t((FPipeWire ? 0 : PA_STREAM_ADJUST_LATENCY) |
                                         PA_STREAM_VARIABLE_RATE | PA_STREAM_INTERPOLATE_TIMING |
                                         PA_STREAM_AUTO_TIMING_UPDATE);
    pa_stream_set_underflow_callback(
        FStream,
        [](pa_stream*, void* Self) {
          auto* out = static_cast<CPulseSoundOutput*>(Self);
          out->FUnderruns.fetch_add(1, std::memory_order_relaxed);
          out->FPlaying = false;
        },
        this);
    pa_stream_set_write_callback(
        FStream, [](pa_stream*, size_t, void* Self) { static_cast<CPulseSoundOutput*>(Self)->Hand(); },
        this);
    // Started after the first block, and again after a flush or a dry queue.
    pa_stream_set_started_callback(
        FStream, [](pa_stream*, void* Self) { static_cast<CPulseSoundOutput*>(Self)->FPlaying = true; },
        this);
    if (pa_stream_connect_playback(FStream, nullptr, &attr, flags, nullptr, nullptr) < 0)
      DropStream();
  }

  void DropStream() {
    FHeldSize = 0;
    FPlaying = false;
    if (!FStream) return;
    pa_stream_set_underflow_callback(FStream, nullptr, nullptr);
    pa_stream_set_write_callback(FStream, nullptr, nullptr);
    pa_stream_set_started_callback(FStream, nullptr, nullptr);
    pa_stream_disconnect(FStream);
    pa_stream_unref(FStream);
    FStream = nullptr;
  }

  pa_threaded_mainloop* FLoop = nullptr;
  pa_context* FContext = nullptr;
  pa_stream* FStream = nullptr;
  std::uint32_t FRate = 44100;
  bool FWanted = false;
  bool FPipeWire = false;  // the server is pipewire-pulse
  std::atomic<std::int64_t> FUnderruns{0};
  // The sound held for the server: a ring, under the loop's lock.
  std::vector<char> FHeld = std::vector<char>(HeldBytes);
  std::uint32_t FHeldStart = 0, FHeldSize = 0;
  bool FPlaying = false;  // the server plays the stream (under the loop's lock)
};
#endif

}  // namespace

std::unique_ptr<CSoundOutput> MakeSoundOutput() {
#if defined(QUENVIS_HAVE_PULSE)
  if (qEnvironmentVariable("QUENVIS_AUDIO") != QStringLiteral("qt"))
    return std::make_unique<CPulseSoundOutput>();
#endif
  return std::make_unique<CQtSoundOutput>();
}

}  // namespace quenvis
