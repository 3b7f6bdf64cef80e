#include "capture/PulseWaveInService.h"

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <pulse/pulseaudio.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace quenvis {

namespace {

// What the loop's thread has seen, for the UI thread to act on.
enum : uint32_t {
  FlagContext = 1,  // the context's state changed
  FlagStream = 2,   // the stream's state changed
  FlagData = 4,     // the stream has sound to read
  FlagSources = 8,  // a source appeared, went or changed
  FlagListed = 16,  // a source listing has ended
};

struct TSource {
  QByteArray Name;
  QByteArray Description;
  bool Monitor = false;
  bool operator==(const TSource&) const = default;
};

uint32_t VersionWord(const char* Text) {
  unsigned major = 0, minor = 0;
  if (Text == nullptr || std::sscanf(Text, "%u.%u", &major, &minor) < 1) return 0;
  return std::min(major, 255u) << 8 | std::min(minor, 255u);
}

}  // namespace

struct TPulseWaveInService::TImpl {
  pa_threaded_mainloop* Loop = nullptr;
  pa_context* Context = nullptr;
  pa_stream* Stream = nullptr;

  std::atomic<uint32_t> Flags{0};
  // Readable bytes worth waking the UI thread for: what completes the buffer
  // being filled. The server may send sound in pieces of a few milliseconds;
  // this keeps the UI thread to one wake-up per block. Under the loop's lock.
  size_t Wanted = 0;
  size_t MaxLength = 0;
  int WakeFd = -1;
  QSocketNotifier* WakeNotifier = nullptr;
  QTimer ReconnectTimer;
  QTimer Watchdog;
  QElapsedTimer SinceData;
  bool GotData = false;  // since open

  // Under the loop's lock: filled by a listing on the loop's thread.
  std::vector<TSource> Incoming;
  uint32_t IncomingVersion = 0;
  bool Listing = false;   // a listing is running
  bool Relist = false;    // sources changed during it
  uint32_t Listings = 0;  // listings started, the running one included

  // UI thread only.
  bool Connected = false;
  bool Listed = false;  // a list has come since construction
  // The first list after the server came back is told even when it is the
  // same: its devices can be opened again.
  bool Returned = false;
  QByteArray StreamSource;  // the source the stream records
  // The stream failed while the server stayed: whether its source went too
  // is known from the first listing started from then on.
  bool Judging = false;
  uint32_t JudgeFrom = 0;
  std::vector<QByteArray> Names;  // device number -> source name
  std::vector<TSource> Present;   // as last listed, inputs first
  uint32_t Version = 0;
  size_t PeekOffset = 0;  // bytes of the peeked fragment already copied

  void Raise(uint32_t Flag) {
    Flags.fetch_or(Flag);
    const uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(WakeFd, &one, sizeof one);
  }

  struct TLock {
    pa_threaded_mainloop* L;
    explicit TLock(pa_threaded_mainloop* L) : L(L) { pa_threaded_mainloop_lock(L); }
    ~TLock() { pa_threaded_mainloop_unlock(L); }
  };

  // Loop thread, lock held.
  void StartListing() {
    Listing = true;
    ++Listings;
    Incoming.clear();
    if (pa_operation* o = pa_context_get_server_info(Context, ServerInfo, this))
      pa_operation_unref(o);
    if (pa_operation* o = pa_context_get_source_info_list(Context, SourceInfo, this))
      pa_operation_unref(o);
    else
      Listing = false;
  }

  // Forgets the server connection; the loop's lock must be held.
  void DropContext() {
    if (Context == nullptr) return;
    pa_context_set_state_callback(Context, nullptr, nullptr);
    pa_context_set_subscribe_callback(Context, nullptr, nullptr);
    pa_context_disconnect(Context);
    pa_context_unref(Context);
    Context = nullptr;
  }

  static void ContextState(pa_context*, void* Self) {
    static_cast<TImpl*>(Self)->Raise(FlagContext);
  }
  static void StreamState(pa_stream*, void* Self) { static_cast<TImpl*>(Self)->Raise(FlagStream); }
  // A stream let go of while the server was still creating it would be
  // completed there with nobody to end it, keeping the source busy: it is
  // ended as soon as it is ready. The context holds it until it has ended.
  static void Retired(pa_stream* S, void*) {
    if (pa_stream_get_state(S) == PA_STREAM_READY) pa_stream_disconnect(S);
  }
  static void StreamRead(pa_stream*, size_t Readable, void* Self) {
    auto* impl = static_cast<TImpl*>(Self);
    if (Readable >= impl->Wanted) impl->Raise(FlagData);
  }
  static void Subscribed(pa_context*, pa_subscription_event_type_t, uint32_t, void* Self) {
    static_cast<TImpl*>(Self)->Raise(FlagSources);
  }
  static void ServerInfo(pa_context*, const pa_server_info* Info, void* Self) {
    if (Info) static_cast<TImpl*>(Self)->IncomingVersion = VersionWord(Info->server_version);
  }
  static void SourceInfo(pa_context*, const pa_source_info* Info, int Eol, void* Self) {
    auto* impl = static_cast<TImpl*>(Self);
    if (Eol == 0 && Info != nullptr) {
      impl->Incoming.push_back(TSource{
          QByteArray(Info->name), QByteArray(Info->description ? Info->description : Info->name),
          Info->monitor_of_sink != PA_INVALID_INDEX});
      return;
    }
    impl->Listing = false;
    impl->Raise(FlagListed);
  }
};

TPulseWaveInService::TPulseWaveInService(QObject* Parent)
    : TWaveInStreamService(Parent), FImpl(std::make_unique<TImpl>()) {
  TImpl& m = *FImpl;
  m.WakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  m.WakeNotifier = new QSocketNotifier(m.WakeFd, QSocketNotifier::Read, this);
  connect(m.WakeNotifier, &QSocketNotifier::activated, this, &TPulseWaveInService::Serve);
  m.ReconnectTimer.setInterval(ReconnectPeriodMs);
  connect(&m.ReconnectTimer, &QTimer::timeout, this, &TPulseWaveInService::Reconnect);
  m.Watchdog.setInterval(WatchdogPeriodMs);
  connect(&m.Watchdog, &QTimer::timeout, this, &TPulseWaveInService::Watch);

  m.Loop = pa_threaded_mainloop_new();
  pa_threaded_mainloop_start(m.Loop);
  Connect();
  // The owner lists the devices right after construction: give a running
  // server a moment to answer.
  QElapsedTimer waited;
  waited.start();
  while (!m.Listed && waited.elapsed() < ConnectWaitMs) {
    Serve();
    if (m.ReconnectTimer.isActive()) break;  // no server
    QThread::msleep(1);
  }
}

TPulseWaveInService::~TPulseWaveInService() {
  TImpl& m = *FImpl;
  m.ReconnectTimer.stop();
  m.Watchdog.stop();
  ReleaseStream();
  {
    TImpl::TLock lock(m.Loop);
    m.DropContext();
  }
  pa_threaded_mainloop_stop(m.Loop);
  pa_threaded_mainloop_free(m.Loop);
  delete m.WakeNotifier;
  ::close(m.WakeFd);
}

bool TPulseWaveInService::IsConnected() const { return FImpl->Connected; }

void TPulseWaveInService::Connect() {
  TImpl& m = *FImpl;
  TImpl::TLock lock(m.Loop);
  m.DropContext();
  m.Listing = false;
  m.Relist = false;
  m.Context = pa_context_new(pa_threaded_mainloop_get_api(m.Loop), "Quenvis");
  if (m.Context == nullptr) return;
  pa_context_set_state_callback(m.Context, TImpl::ContextState, &m);
  pa_context_set_subscribe_callback(m.Context, TImpl::Subscribed, &m);
  // A failure shows as the failed state, which the next Serve sees.
  if (pa_context_connect(m.Context, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0) m.Raise(FlagContext);
}

void TPulseWaveInService::Reconnect() {
  TImpl& m = *FImpl;
  bool retry;
  {
    TImpl::TLock lock(m.Loop);
    retry = m.Context == nullptr || !PA_CONTEXT_IS_GOOD(pa_context_get_state(m.Context));
  }
  if (retry) Connect();
}

void TPulseWaveInService::Serve() {
  TImpl& m = *FImpl;
  uint64_t count;
  while (::read(m.WakeFd, &count, sizeof count) == sizeof count) {
  }
  const uint32_t flags = m.Flags.exchange(0);

  bool streamFailed = false;
  bool dead = false;
  bool listed = false;
  uint32_t listing = 0;
  std::vector<TSource> list;
  uint32_t version = 0;
  {
    TImpl::TLock lock(m.Loop);
    const pa_context_state_t state =
        m.Context ? pa_context_get_state(m.Context) : PA_CONTEXT_FAILED;
    if (state == PA_CONTEXT_READY && !m.Connected) {
      m.Connected = true;
      if (pa_operation* o =
              pa_context_subscribe(m.Context, PA_SUBSCRIPTION_MASK_SOURCE, nullptr, nullptr))
        pa_operation_unref(o);
      m.StartListing();
    } else if (!PA_CONTEXT_IS_GOOD(state)) {
      if (m.Connected && m.Listed) m.Returned = true;
      m.Connected = false;
      dead = true;
    }
    if (m.Connected && (flags & FlagSources)) {
      if (m.Listing)
        m.Relist = true;
      else
        m.StartListing();
    }
    if (m.Stream) streamFailed = !PA_STREAM_IS_GOOD(pa_stream_get_state(m.Stream));
    if (streamFailed && m.Connected && !m.Judging) {
      // The server ends a stream when its source goes, but also when asked
      // to: a listing asked for now tells which.
      m.Judging = true;
      if (m.Listing) {
        m.Relist = true;
        m.JudgeFrom = m.Listings + 1;
      } else {
        m.StartListing();
        m.JudgeFrom = m.Listings;
      }
    }
    if ((flags & FlagListed) && !m.Listing) {
      listed = true;
      listing = m.Listings;
      list.swap(m.Incoming);
      version = m.IncomingVersion;
      if (m.Relist && m.Connected) {
        m.Relist = false;
        m.StartListing();
      }
    }
  }

  if (m.Connected)
    m.ReconnectTimer.stop();
  else if (dead && !m.ReconnectTimer.isActive())
    m.ReconnectTimer.start();

  if (m.Stream && !m.Connected)
    Fail(EWaveInEnd::ServerGone);
  else if (!streamFailed && (flags & FlagData))
    ReadStream();

  if (listed) {
    std::stable_partition(list.begin(), list.end(), [](const TSource& s) { return !s.Monitor; });
    for (const TSource& s : list)
      if (std::find(m.Names.begin(), m.Names.end(), s.Name) == m.Names.end())
        m.Names.push_back(s.Name);
    const bool changed = list != m.Present || version != m.Version || m.Returned;
    m.Present = std::move(list);
    m.Version = version;
    m.Listed = true;
    m.Returned = false;
    if (m.Stream && m.Judging && listing >= m.JudgeFrom) {
      const bool stillThere =
          std::any_of(m.Present.begin(), m.Present.end(),
                      [&](const TSource& s) { return s.Name == m.StreamSource; });
      Fail(stillThere ? EWaveInEnd::ServerEnded : EWaveInEnd::DeviceRemoved);
    }
    if (changed && OnDevicesChanged) OnDevicesChanged();
  }
}

uint32_t TPulseWaveInService::waveInGetNumDevs() { return uint32_t(FImpl->Names.size()); }

MMRESULT TPulseWaveInService::waveInGetDevCaps(uint32_t DeviceId, TWaveInCaps& Caps) {
  const TImpl& m = *FImpl;
  if (DeviceId >= m.Names.size()) return MMSYSERR_BADDEVICEID;
  const auto it = std::find_if(m.Present.begin(), m.Present.end(),
                               [&](const TSource& s) { return s.Name == m.Names[DeviceId]; });
  if (it == m.Present.end()) return MMSYSERR_NODRIVER;
  Caps = TWaveInCaps{};
  Caps.vDriverVersion = m.Version;
  CopyDeviceName(it->Description, Caps.szPname);
  // The server converts to any format the stream asks for.
  Caps.dwFormats = WAVE_FORMAT_4S16;
  Caps.wChannels = 2;
  Caps.Monitor = it->Monitor;
  return MMSYSERR_NOERROR;
}

MMRESULT TPulseWaveInService::DoOpen(uint32_t DeviceId, const TWaveFormatEx& Format) {
  TImpl& m = *FImpl;
  if (!m.Connected) return MMSYSERR_NODRIVER;
  if (DeviceId >= m.Names.size()) return MMSYSERR_BADDEVICEID;
  const QByteArray& name = m.Names[DeviceId];
  if (std::none_of(m.Present.begin(), m.Present.end(),
                   [&](const TSource& s) { return s.Name == name; }))
    return MMSYSERR_BADDEVICEID;
  const pa_sample_spec spec{PA_SAMPLE_S16LE, Format.nSamplesPerSec, uint8_t(Format.nChannels)};
  if (!pa_sample_spec_valid(&spec) || Format.nChannels > PA_CHANNELS_MAX) return WAVERR_BADFORMAT;

  const uint32_t fragment = FragmentFrames * Format.nBlockAlign;
  pa_buffer_attr attr;
  attr.maxlength = 16 * fragment;  // beyond this the server drops the oldest sound
  attr.fragsize = fragment;
  attr.tlength = attr.prebuf = attr.minreq = uint32_t(-1);

  TImpl::TLock lock(m.Loop);
  pa_stream* s = pa_stream_new(m.Context, "Quenvis capture", &spec, nullptr);
  if (s == nullptr) return MMSYSERR_NODRIVER;
  pa_stream_set_state_callback(s, TImpl::StreamState, &m);
  pa_stream_set_read_callback(s, TImpl::StreamRead, &m);
  // Not moved to another source when this one goes: that ends the capture.
  const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
  if (pa_stream_connect_record(s, name.constData(), &attr, flags) < 0) {
    pa_stream_set_state_callback(s, nullptr, nullptr);
    pa_stream_set_read_callback(s, nullptr, nullptr);
    pa_stream_unref(s);
    return MMSYSERR_ERROR;
  }
  m.Stream = s;
  m.StreamSource = name;
  m.Judging = false;
  m.PeekOffset = 0;
  m.Wanted = 0;
  m.MaxLength = attr.maxlength;
  m.GotData = false;
  m.Watchdog.start();
  return MMSYSERR_NOERROR;
}

MMRESULT TPulseWaveInService::DoStart() {
  TImpl& m = *FImpl;
  {
    TImpl::TLock lock(m.Loop);
    if (m.Stream == nullptr || !PA_STREAM_IS_GOOD(pa_stream_get_state(m.Stream)))
      return MMSYSERR_ERROR;
  }
  m.SinceData.start();
  return MMSYSERR_NOERROR;
}

void TPulseWaveInService::DoStop() {}

void TPulseWaveInService::DoClose() {
  FImpl->Watchdog.stop();
  ReleaseStream();
}

void TPulseWaveInService::ReleaseStream() {
  TImpl& m = *FImpl;
  TImpl::TLock lock(m.Loop);
  m.Judging = false;
  if (m.Stream == nullptr) return;
  pa_stream_set_read_callback(m.Stream, nullptr, nullptr);
  pa_stream_set_state_callback(m.Stream, TImpl::Retired, nullptr);
  TImpl::Retired(m.Stream, nullptr);
  pa_stream_unref(m.Stream);
  m.Stream = nullptr;
  m.PeekOffset = 0;
}

void TPulseWaveInService::BufferAdded() {
  if (IsStarted()) ReadStream();
}

void TPulseWaveInService::ReadStream() {
  TImpl& m = *FImpl;
  bool got = false;
  {
    TImpl::TLock lock(m.Loop);
    while (m.Stream != nullptr && pa_stream_get_state(m.Stream) == PA_STREAM_READY) {
      const void* data = nullptr;
      size_t n = 0;
      if (pa_stream_peek(m.Stream, &data, &n) < 0 || n == 0) break;
      if (!IsStarted()) {
        // Sound from before waveInStart is not wanted.
        pa_stream_drop(m.Stream);
        m.PeekOffset = 0;
        continue;
      }
      uint32_t room = 0;
      char* p = FillPointer(room);
      if (p == nullptr) break;  // the sound waits in the stream for a buffer
      const auto take = uint32_t(std::min<size_t>(room, n - m.PeekOffset));
      if (data != nullptr)
        std::memcpy(p, static_cast<const char*>(data) + m.PeekOffset, take);
      else
        std::memset(p, 0, take);  // a hole in the stream reads as silence
      m.PeekOffset += take;
      if (m.PeekOffset == n) {
        pa_stream_drop(m.Stream);
        m.PeekOffset = 0;
      }
      got = true;
      Filled(take);
    }
    uint32_t room = 0;
    if (!IsStarted())
      m.Wanted = 0;
    else if (FillPointer(room) != nullptr)
      m.Wanted = std::min<size_t>(m.PeekOffset + room, m.MaxLength / 2);
    else
      m.Wanted = SIZE_MAX;  // BufferAdded reads on
  }
  if (got) {
    m.SinceData.start();
    m.GotData = true;
  }
}

void TPulseWaveInService::Watch() {
  const TImpl& m = *FImpl;
  if (m.Stream == nullptr || !IsStarted() || !m.SinceData.isValid()) return;
  if (m.SinceData.elapsed() > (m.GotData ? SilenceTimeoutMs : StartupTimeoutMs))
    Fail(EWaveInEnd::NoSound);
}

}  // namespace quenvis
