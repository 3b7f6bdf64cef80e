#include "capture/QtWaveInService.h"

#include "support/FakeWaveInService.h"
#include "support/Pump.h"

#include <QCoreApplication>
#include <QtGlobal>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quenvis {
namespace {

TEST(CopyDeviceName, CutsOnlyBetweenCharacters) {
  struct Row {
    QByteArray Name;
    int Kept;  // bytes of Name that make it into the field
  };
  const QByteArray a28(28, 'a'), a29(29, 'a'), a30(30, 'a'), a31(31, 'a'), a32(32, 'a');
  const Row rows[] = {
      {"Mic", 3},
      {"", 0},
      {a32, 32},                   // fills the field, no terminator
      {a32 + "b", 32},             // one too many
      {a30 + "\xC3\xA9", 32},      // two-byte character ends exactly at the edge
      {a31 + "\xC3\xA9", 31},      // two-byte character across the edge
      {a30 + "\xE2\x82\xAC", 30},  // three-byte character across the edge
      {a29 + "\xE2\x82\xAC", 32},
      {a29 + "\xF0\x9F\x8E\xA4", 29},  // four-byte character across the edge
      {a28 + "\xF0\x9F\x8E\xA4x", 32},
  };
  for (const Row& row : rows) {
    char field[MAXPNAMELEN];
    std::memset(field, 'Z', sizeof field);
    CopyDeviceName(row.Name, field);
    EXPECT_EQ(QByteArray(field, row.Kept), row.Name.left(row.Kept)) << row.Name.toStdString();
    for (int i = row.Kept; i < MAXPNAMELEN; ++i)
      EXPECT_EQ(field[i], 0) << row.Name.toStdString() << " at " << i;
    // What is kept decodes without a replacement character.
    EXPECT_FALSE(QString::fromUtf8(field, row.Kept).contains(QChar::ReplacementCharacter));
  }
}

TEST(QtWaveInService, DriverVersionIsTheQtRuntimeMajorMinor) {
  const uint32_t v = TQtWaveInService::DriverVersion();
  EXPECT_EQ(QString("%1.%2.").arg(v >> 8).arg(v & 0xFF),
            QString(qVersion()).section('.', 0, 1) + ".");
  EXPECT_EQ(v >> 8, uint32_t(QT_VERSION_MAJOR));
}

// A notification target that writes down what it receives.
class TTarget : public QObject {
 public:
  std::vector<std::string> Got;
  std::vector<TMyWaveHdr*> Headers;
  std::function<void()> DuringData;

 protected:
  bool event(QEvent* E) override {
    if (E->type() != TWaveInEvent::EventType()) return QObject::event(E);
    const auto& m = static_cast<const TWaveInEvent&>(*E);
    if (m.Msg == MM_WIM_OPEN) Got.push_back("open");
    if (m.Msg == MM_WIM_CLOSE) Got.push_back("close");
    if (m.Msg == MM_WIM_DATA) {
      Got.push_back("data " + std::to_string(m.Header->lpData[0]) + ":" +
                    std::to_string(m.Header->dwBytesRecorded));
      Headers.push_back(m.Header);
      if (DuringData) DuringData();
    }
    return true;
  }
};

using test::Pump;

TWaveFormatEx Pcm16(uint16_t Channels = 2) {
  TWaveFormatEx f;
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = Channels;
  f.nSamplesPerSec = 44100;
  f.wBitsPerSample = 16;
  f.nBlockAlign = uint16_t(Channels * 2);
  f.nAvgBytesPerSec = f.nSamplesPerSec * f.nBlockAlign;
  return f;
}

// An open stream with three buffers of 8 bytes, whose first byte names them.
struct StreamTest : ::testing::Test {
  TFakeWaveInService Fake{{{"Dev", WAVE_FORMAT_4S16, 0x100}}};
  TTarget Target;
  HWAVEIN H = 0;
  char Data[3][8] = {};
  TMyWaveHdr Hdr[3];

  void SetUp() override {
    ASSERT_EQ(Fake.waveInOpen(H, 0, Pcm16(), &Target), MMSYSERR_NOERROR);
    for (int i = 0; i < 3; ++i) {
      Data[i][0] = char('A' + i);
      Hdr[i].lpData = Data[i];
      Hdr[i].dwBufferLength = 8;
      ASSERT_EQ(Fake.waveInPrepareHeader(H, Hdr[i]), MMSYSERR_NOERROR);
    }
  }
  void QueueAll() {
    for (auto& h : Hdr) ASSERT_EQ(Fake.waveInAddBuffer(H, h), MMSYSERR_NOERROR);
  }
};

TEST_F(StreamTest, RefusesWhatTheModelForbids) {
  struct Row {
    const char* What;
    std::function<MMRESULT()> Call;
    MMRESULT Expected;
  };
  TMyWaveHdr unprepared;
  unprepared.lpData = Data[0];
  unprepared.dwBufferLength = 8;
  TMyWaveHdr empty;
  HWAVEIN other = 0;
  TWaveFormatEx mono8 = Pcm16(1);
  mono8.wBitsPerSample = 8;
  const std::vector<Row> rows = {
      {"second open", [&] { return Fake.waveInOpen(other, 0, Pcm16(), &Target); },
       MMSYSERR_ALLOCATED},
      {"add unprepared", [&] { return Fake.waveInAddBuffer(H, unprepared); }, WAVERR_UNPREPARED},
      {"prepare without data", [&] { return Fake.waveInPrepareHeader(H, empty); },
       MMSYSERR_INVALPARAM},
      {"add twice",
       [&] {
         Fake.waveInAddBuffer(H, Hdr[0]);
         return Fake.waveInAddBuffer(H, Hdr[0]);
       },
       WAVERR_STILLPLAYING},
      {"unprepare queued", [&] { return Fake.waveInUnprepareHeader(H, Hdr[0]); },
       WAVERR_STILLPLAYING},
      {"prepare queued", [&] { return Fake.waveInPrepareHeader(H, Hdr[0]); }, WAVERR_STILLPLAYING},
      {"start, bad handle", [&] { return Fake.waveInStart(H + 1); }, MMSYSERR_INVALHANDLE},
      {"add, bad handle", [&] { return Fake.waveInAddBuffer(H + 1, Hdr[1]); },
       MMSYSERR_INVALHANDLE},
      {"stop, no handle", [&] { return Fake.waveInStop(0); }, MMSYSERR_INVALHANDLE},
      {"reset, bad handle", [&] { return Fake.waveInReset(H + 1); }, MMSYSERR_INVALHANDLE},
      {"close, bad handle", [&] { return Fake.waveInClose(H + 1); }, MMSYSERR_INVALHANDLE},
  };
  for (const Row& row : rows) EXPECT_EQ(row.Call(), row.Expected) << row.What;

  Fake.waveInClose(H);
  TFakeWaveInService fresh({{"Dev", WAVE_FORMAT_4S16, 0x100}});
  EXPECT_EQ(fresh.waveInOpen(other, 0, mono8, &Target), WAVERR_BADFORMAT);
  EXPECT_EQ(fresh.waveInOpen(other, 1, Pcm16(), &Target), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(fresh.waveInOpen(other, 0, Pcm16(), nullptr), MMSYSERR_INVALPARAM);
  EXPECT_FALSE(fresh.IsOpen());
  EXPECT_EQ(fresh.PendingNotifications(), 0);
}

TEST_F(StreamTest, EveryBufferComesBackOnceBetweenOpenAndClose) {
  QueueAll();
  ASSERT_EQ(Fake.waveInStart(H), MMSYSERR_NOERROR);
  Fake.Fill(8 + 3);  // A full, B partly
  ASSERT_EQ(Fake.waveInStop(H), MMSYSERR_NOERROR);
  EXPECT_EQ(Fake.QueuedBuffers(), 1);  // stop returns only the buffer being filled
  ASSERT_EQ(Fake.waveInReset(H), MMSYSERR_NOERROR);
  ASSERT_EQ(Fake.waveInClose(H), MMSYSERR_NOERROR);
  EXPECT_FALSE(Fake.IsOpen());
  EXPECT_EQ(Fake.waveInStart(H), MMSYSERR_INVALHANDLE);  // the handle died with the close
  Pump(Fake);
  // Bytes carry the running counter: A got 0..7, B got 8..10.
  EXPECT_EQ(Target.Got,
            std::vector<std::string>({"open", "data 0:8", "data 8:3", "data 67:0", "close"}));
  for (auto& h : Hdr) {
    EXPECT_EQ(h.dwFlags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
    EXPECT_EQ(Fake.waveInUnprepareHeader(H, h), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(h.dwFlags & WHDR_PREPARED, 0u);
  }
}

TEST_F(StreamTest, CloseAndFailureGiveBackWhatIsStillQueued) {
  for (bool fail : {false, true}) {
    SCOPED_TRACE(fail ? "failure" : "close");
    if (!Fake.IsOpen()) {
      ASSERT_EQ(Fake.waveInOpen(H, 0, Pcm16(), &Target), MMSYSERR_NOERROR);
      for (auto& h : Hdr) Fake.waveInPrepareHeader(H, h);
    }
    Target.Got.clear();
    QueueAll();
    Fake.waveInStart(H);
    Fake.Fill(5);
    if (fail)
      Fake.Vanish();
    else
      Fake.waveInClose(H);
    EXPECT_FALSE(Fake.IsOpen());
    Pump(Fake);
    EXPECT_EQ(Target.Got.size(), 5u);
    EXPECT_EQ(Target.Got[Target.Got.size() - 4].substr(0, 4), "data");
    EXPECT_EQ(Target.Got[Target.Got.size() - 4].back(), '5');
    EXPECT_EQ(Target.Got.back(), "close");
  }
}

TEST_F(StreamTest, SoundWithoutAQueuedBufferIsDroppedAndCounted) {
  Fake.waveInAddBuffer(H, Hdr[0]);
  Fake.waveInStart(H);
  EXPECT_EQ(Fake.Fill(20), 8u);
  EXPECT_EQ(Fake.DroppedBytes(), 12);
  EXPECT_EQ(std::string(Data[1], 8), std::string("B\0\0\0\0\0\0\0", 8));
  EXPECT_EQ(std::string(Data[2], 8), std::string("C\0\0\0\0\0\0\0", 8));
  Fake.waveInClose(H);
  Pump(Fake);
}

TEST_F(StreamTest, OneNotificationPerPassSoNestedEventProcessingSeesTheNext) {
  QueueAll();
  Fake.waveInStart(H);
  Fake.Fill(24);
  Fake.waveInClose(H);
  bool nested = false;
  Target.DuringData = [&] {
    if (nested) return;
    nested = true;
    Target.Got.push_back("in");
    for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();
    Target.Got.push_back("out");
  };
  Pump(Fake);
  EXPECT_EQ(Target.Got, std::vector<std::string>(
                            {"open", "data 0:8", "in", "data 8:8", "data 16:8", "close", "out"}));
}

TEST_F(StreamTest, NotificationsForADestroyedTargetAreDropped) {
  auto target = std::make_unique<TTarget>();
  TFakeWaveInService fake({{"Dev", WAVE_FORMAT_4S16, 0x100}});
  HWAVEIN h = 0;
  ASSERT_EQ(fake.waveInOpen(h, 0, Pcm16(), target.get()), MMSYSERR_NOERROR);
  fake.waveInPrepareHeader(h, Hdr[0]);
  fake.waveInAddBuffer(h, Hdr[0]);
  fake.waveInClose(h);
  target.reset();
  Pump(fake);  // must not touch the dead target
  Fake.waveInClose(H);
  Pump(Fake);
}

}  // namespace
}  // namespace quenvis
