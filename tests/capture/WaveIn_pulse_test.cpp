// Capture through both services from a private PulseAudio server, started by
// scripts/pulse-private.sh run, which names it in QUENVIS_PULSE_DIR and
// itself in QUENVIS_PULSE_SCRIPT. The tone goes into the server's null sink
// and comes back through the remap source "Quenvis test input".
#include "capture/PulseWaveInService.h"
#include "capture/QtWaveInService.h"
#include "capture/UWaveRecorder.h"
#include "support/RunEvents.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <QWidget>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <numbers>
#include <vector>

namespace quenvis {
namespace {

const QString InputName = QStringLiteral("Quenvis test input");

QString Env(const char* Name) { return qEnvironmentVariable(Name); }

void Script(const QStringList& Args) {
  const QString script = Env("QUENVIS_PULSE_SCRIPT");
  ASSERT_FALSE(script.isEmpty()) << "run through scripts/pulse-private.sh run";
  QProcess p;
  p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  p.start(script, Args);
  ASSERT_TRUE(p.waitForFinished(30000));
  ASSERT_EQ(p.exitCode(), 0) << Args.join(' ').toStdString();
}

void PlayTone() { Script({"tone", Env("QUENVIS_PULSE_DIR"), "1000", "600"}); }

using test::RunFor;
using test::RunUntil;

// Power of one bin of an N-point DFT of a Hann-windowed signal.
double BinPower(const std::vector<double>& X, int Bin) {
  const size_t n = X.size();
  double re = 0, im = 0;
  for (size_t i = 0; i < n; ++i) {
    const double w = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * double(i) / double(n));
    const double a = 2 * std::numbers::pi * double(Bin) * double(i) / double(n);
    re += w * X[i] * std::cos(a);
    im -= w * X[i] * std::sin(a);
  }
  return re * re + im * im;
}

// A recorder on a real service, attached and set up like the program's.
template <class TService>
struct TCapture {
  TService Service;
  QWidget Owner;
  TWaveRecorder* Rec = new TWaveRecorder(&Owner, Service);
  int FullBlocks = 0;
  std::vector<qint64> BlockTimes;
  static constexpr size_t Kept = 6;
  std::vector<int16_t> Recent;  // the last Kept full blocks, oldest first
  QElapsedTimer Clock;

  TCapture() {
    Rec->SetBufferFrames(2048);
    BlockTimes.reserve(4096);
    Recent.assign(Kept * 4096, 0);
    Clock.start();
    Rec->OnData = [this](void* Data, int32_t Bytes, int32_t Frames, int32_t& Done) {
      Done = Frames;
      if (Bytes != Rec->BufferBytes()) return;
      ++FullBlocks;
      BlockTimes.push_back(Clock.elapsed());
      std::memmove(Recent.data(), Recent.data() + 4096, (Kept - 1) * 4096 * sizeof(int16_t));
      std::memcpy(Recent.data() + (Kept - 1) * 4096, Data, size_t(Bytes));
    };
  }
  ~TCapture() { Rec->Stop(); }

  int Select() {
    for (int i = 0; i < Rec->DeviceCount(); ++i)
      if (Rec->Devices()[i].contains(InputName)) {
        Rec->SetDevice(i);
        return i;
      }
    return -1;
  }
  bool StartAndWaitForBlocks(int Blocks, int TimeoutMs) {
    if (Select() < 0 || !Rec->Start()) return false;
    return RunUntil([&] { return FullBlocks >= Blocks || !Rec->IsBusy(); }, TimeoutMs) &&
           FullBlocks >= Blocks;
  }
  bool StopAndWaitForIdle() {
    Rec->Stop();
    return RunUntil([&] { return !Rec->IsBusy(); }, 3000);
  }
};

using Capture = TCapture<TQtWaveInService>;

TEST(QtWaveInPulse, TheTestInputIsListedWithTheQtVersionAndOpens) {
  ASSERT_FALSE(Env("QUENVIS_PULSE_DIR").isEmpty()) << "run through scripts/pulse-private.sh run";
  Capture c;
  const int pos = c.Select();
  ASSERT_GE(pos, 0) << c.Rec->DevicesText().toStdString();
  const uint32_t v = TQtWaveInService::DriverVersion();
  EXPECT_TRUE(c.Rec->Devices()[pos].endsWith(
      QStringLiteral(" - %1 v%2.%3").arg(InputName).arg(v >> 8).arg(v & 0xFF)))
      << c.Rec->Devices()[pos].toStdString();
  ASSERT_TRUE(c.Rec->Start());
  EXPECT_TRUE(RunUntil([&] { return c.Rec->IsRecording(); }, 2000));
  EXPECT_TRUE(c.StopAndWaitForIdle());
  EXPECT_FALSE(c.Rec->IsRecording());
}

template <class TService>
class WaveInPulse : public ::testing::Test {};
using Services = ::testing::Types<TQtWaveInService, TPulseWaveInService>;
TYPED_TEST_SUITE(WaveInPulse, Services);

TYPED_TEST(WaveInPulse, BlocksComeAtTheRealRateAndCarryTheTone) {
  PlayTone();
  TCapture<TypeParam> c;
  ASSERT_TRUE(c.StartAndWaitForBlocks(1, 5000));
  const int first = c.FullBlocks;
  const qint64 t0 = c.Clock.elapsed();
  RunFor(2000);
  const int blocks = c.FullBlocks - first;
  const double expected = 2.0 * 44100 / 2048;  // 43.07
  EXPECT_GE(blocks, 0.95 * expected);
  ASSERT_GE(c.BlockTimes.size(), 3u);
  const auto& t = c.BlockTimes;
  const size_t from = size_t(first);  // the first block after t0
  ASSERT_GE(t.size(), from + 2);
  const double rate = double(t.size() - 1 - from) * 1000.0 / double(t.back() - t[from]);
  EXPECT_NEAR(rate, 21.5, 1.0) << blocks << " blocks in 2 s after " << t0 << " ms";
  EXPECT_EQ(c.Rec->BufferBytes(), 8192);
  EXPECT_EQ(c.Service.DroppedBytes(), 0);

  // Two successive blocks make the 4096 samples of one analysis, mixed to
  // mono. A test tone may stumble on a busy machine, so one pair of the last
  // five may miss.
  int hits = 0;
  for (size_t pair = 0; pair + 1 < c.Kept; ++pair) {
    std::vector<double> mono(4096);
    const int16_t* s = c.Recent.data() + pair * 4096;
    for (size_t i = 0; i < 4096; ++i) mono[i] = (double(s[2 * i]) + double(s[2 * i + 1])) / 2;
    int best = 0;
    double bestPower = -1;
    for (int bin = 80; bin <= 106; ++bin) {
      const double p = BinPower(mono, bin);
      if (p > bestPower) {
        bestPower = p;
        best = bin;
      }
    }
    if (best == 93 && bestPower > 1000 * BinPower(mono, 80)) ++hits;
  }
  EXPECT_GE(hits, int(c.Kept) - 2);
  EXPECT_TRUE(c.StopAndWaitForIdle());
}

TEST(QtWaveInPulse, ADyingServerEndsTheCaptureAndARestartedOneCapturesAgain) {
  PlayTone();
  Capture old;
  int closes = 0;
  old.Rec->OnClose = [&](TWaveRecorder*) { ++closes; };
  ASSERT_TRUE(old.StartAndWaitForBlocks(2, 5000));

  Script({"kill", Env("QUENVIS_PULSE_DIR")});
  QElapsedTimer sinceKill;
  sinceKill.start();
  ASSERT_TRUE(RunUntil([&] { return !old.Rec->IsBusy(); }, 5000));
  EXPECT_LE(sinceKill.elapsed(), 2000);
  EXPECT_EQ(closes, 1);
  EXPECT_FALSE(old.Rec->IsRecording());
  // With the server gone, Start fails or ends by itself; nothing hangs.
  if (old.Rec->Start()) {
    EXPECT_TRUE(RunUntil([&] { return !old.Rec->IsBusy(); }, 5000));
  }

  Script({"start", Env("QUENVIS_PULSE_DIR")});
  PlayTone();
  // Qt reconnects to the server a few seconds after it is back.
  bool captured = false;
  QElapsedTimer sinceRestart;
  sinceRestart.start();
  while (!captured && sinceRestart.elapsed() < 40000) {
    Capture fresh;
    captured = fresh.StartAndWaitForBlocks(3, 3000);
    EXPECT_TRUE(fresh.StopAndWaitForIdle());
    if (!captured) RunFor(500);
  }
  EXPECT_TRUE(captured) << "no capture " << sinceRestart.elapsed() << " ms after the restart";

  // The recorder from before the crash works again too.
  old.FullBlocks = 0;
  EXPECT_TRUE(old.StartAndWaitForBlocks(3, 5000));
  EXPECT_TRUE(old.StopAndWaitForIdle());
}

}  // namespace
}  // namespace quenvis
