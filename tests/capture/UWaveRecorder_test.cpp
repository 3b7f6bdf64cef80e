#include "capture/UWaveRecorder.h"

#include "support/AllocationCounter.h"
#include "support/FakeWaveInService.h"
#include "support/Pump.h"

#include <QCoreApplication>
#include <QWidget>

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>
#include <vector>

namespace quenvis {
namespace {

using ECall = TFakeWaveInService::ECall;

const QByteArray Name32 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";

std::vector<TFakeWaveInService::TDevice> ThreeDevices() {
  return {{"Alpha", WAVE_FORMAT_4S16, 0x0A00},
          {"Beta", 0x400, 0x0510},  // no 44.1 kHz stereo 16-bit
          {Name32, WAVE_FORMAT_4S16 | 0x400, 0x050A}};
}

using test::Pump;

std::vector<ECall> CallsOf(const TFakeWaveInService& Fake) {
  std::vector<ECall> calls;
  for (const auto& c : Fake.Log) calls.push_back(c.Call);
  return calls;
}

// A recorder attached to an owner over a fake service, with a trace of its events.
struct RecorderTest : ::testing::Test {
  TFakeWaveInService Fake{ThreeDevices()};
  QWidget Owner;  // after Fake: the recorder goes first
  TWaveRecorder* Rec = nullptr;
  std::vector<std::string> Trace;
  std::vector<void*> DataSeen;

  void SetUp() override {
    Rec = new TWaveRecorder(&Owner, Fake);
    Rec->OnOpen = [this](TWaveRecorder* Sender) {
      Trace.push_back(std::string("open rec=") + (Sender->IsRecording() ? "1" : "0"));
    };
    Rec->OnClose = [this](TWaveRecorder* Sender) {
      Trace.push_back(std::string("close rec=") + (Sender->IsRecording() ? "1" : "0"));
    };
    Rec->OnData = [this](void* Data, int32_t Bytes, int32_t Frames, int32_t&) {
      DataSeen.push_back(Data);
      Trace.push_back("data " + std::to_string(Bytes) + "/" + std::to_string(Frames));
    };
  }

  void StartCapturing() {
    ASSERT_TRUE(Rec->Start());
    Pump(Fake);
    ASSERT_TRUE(Rec->IsRecording());
    Trace.clear();
    Fake.ClearLog();
  }

  void StopAndDrain() {
    Rec->Stop();
    Pump(Fake);
    ASSERT_FALSE(Rec->IsBusy());
  }
};

TEST_F(RecorderTest, ListsOnlyQualifyingDevicesEachWithItsOwnNumber) {
  EXPECT_EQ(Rec->DeviceCount(), 2);
  ASSERT_EQ(Rec->Devices().size(), 2);
  EXPECT_EQ(Rec->Devices()[0], "0 - Alpha v10.0");
  // A name filling all 32 bytes without a terminator is taken whole.
  EXPECT_EQ(Rec->Devices()[1], "2 - " + QString::fromLatin1(Name32) + " v5.10");
  EXPECT_EQ(Rec->DevicesText(), Rec->Devices()[0] + "\r\n" + Rec->Devices()[1] + "\r\n");
  EXPECT_EQ(Rec->GetDevice(), 1);
  EXPECT_EQ(Rec->DeviceNumber(), 2);

  // Without SetDevice the last qualifying device opens.
  ASSERT_TRUE(Rec->Start());
  EXPECT_EQ(Fake.OpenedDevice, 2);
  StopAndDrain();

  // The entry picked is the device that opens, though device 1 was skipped.
  Rec->SetDevice(0);
  ASSERT_TRUE(Rec->Start());
  EXPECT_EQ(Fake.OpenedDevice, 0);
  StopAndDrain();
}

TEST(RecorderDescription, VersionAndNumberAreWrittenInDecimal) {
  struct Row {
    uint32_t Version;
    const char* Expected;
  };
  const Row rows[] = {{0x0A01, "3 - Mic v10.1"}, {0x0A00, "3 - Mic v10.0"},
                      {0x0510, "3 - Mic v5.16"}, {0x050A, "3 - Mic v5.10"},
                      {0x0000, "3 - Mic v0.0"},  {0x12FF, "3 - Mic v18.255"}};
  for (const Row& row : rows) {
    // Devices 0..2 fail their capability query and are skipped.
    TFakeWaveInService fake({{"A", WAVE_FORMAT_4S16, 0, MMSYSERR_NODRIVER},
                             {"B", WAVE_FORMAT_4S16, 0, MMSYSERR_BADDEVICEID},
                             {"C", WAVE_FORMAT_4S16, 0, MMSYSERR_ERROR},
                             {"Mic", WAVE_FORMAT_4S16, row.Version}});
    TWaveRecorder rec(nullptr, fake);
    ASSERT_EQ(rec.DeviceCount(), 1);
    EXPECT_EQ(rec.Devices()[0], row.Expected);
    EXPECT_EQ(rec.GetDevice(), 0);
    EXPECT_EQ(rec.DeviceNumber(), 3);
  }
}

// By default the last input opens; monitors only when there is nothing else.
TEST(RecorderDefaultDevice, IsTheLastInputBeforeAnyMonitor) {
  const struct {
    std::vector<bool> Monitors;
    int Expected;
  } rows[] = {
      {{false, false, true, true}, 1}, {{true, false, true}, 1}, {{true, true}, 1}, {{false}, 0}};
  for (const auto& row : rows) {
    std::vector<TFakeWaveInService::TDevice> devices;
    for (const bool monitor : row.Monitors)
      devices.push_back({"D", WAVE_FORMAT_4S16, 0x0100, MMSYSERR_NOERROR, monitor});
    TFakeWaveInService fake(devices);
    TWaveRecorder rec(nullptr, fake);
    EXPECT_EQ(rec.GetDevice(), row.Expected);
  }
}

TEST(RecorderDescription, NameStopsAtItsFirstZeroByte) {
  TFakeWaveInService fake({{QByteArray("Line\0junk", 9), WAVE_FORMAT_4S16, 0x0102}});
  TWaveRecorder rec(nullptr, fake);
  ASSERT_EQ(rec.DeviceCount(), 1);
  EXPECT_EQ(rec.Devices()[0], "0 - Line v1.2");
}

TEST(RecorderWithoutDevices, IsNeverReadyAndCallsNothing) {
  TFakeWaveInService fake({{"Mono", 0x100, 0x0100}});
  QWidget owner;
  auto* rec = new TWaveRecorder(&owner, fake);
  EXPECT_EQ(rec->DeviceCount(), 0);
  EXPECT_EQ(rec->GetDevice(), -1);
  EXPECT_EQ(rec->DeviceNumber(), -1);
  EXPECT_TRUE(rec->DevicesText().isEmpty());
  EXPECT_FALSE(rec->IsReady());
  fake.ClearLog();
  EXPECT_FALSE(rec->Start());
  rec->Stop();
  rec->SetDevice(0);
  EXPECT_EQ(rec->GetDevice(), -1);
  EXPECT_TRUE(fake.Log.empty());
}

TEST(RecorderWithoutParent, IsNotReadyUntilAttached) {
  TFakeWaveInService fake(ThreeDevices());
  TWaveRecorder rec(nullptr, fake);
  EXPECT_FALSE(rec.IsReady());
  fake.ClearLog();
  EXPECT_FALSE(rec.Start());
  rec.Stop();
  EXPECT_TRUE(fake.Log.empty());

  QWidget owner;
  rec.setParent(&owner);
  EXPECT_TRUE(rec.IsReady());
  EXPECT_FALSE(rec.isVisible());
  EXPECT_EQ(rec.size(), QSize(0, 0));
  rec.setParent(nullptr);  // the stack object must not be deleted by owner
}

TEST_F(RecorderTest, SetDeviceTakesOnlyPositionsInTheListAndOnlyWhenIdle) {
  struct Row {
    int32_t Position;
    int32_t Expected;
  };
  const Row rows[] = {{-1, 1}, {2, 1}, {INT_MIN, 1}, {INT_MAX, 1}, {0, 0}, {1, 1}};
  for (const Row& row : rows) {
    Rec->SetDevice(row.Position);
    EXPECT_EQ(Rec->GetDevice(), row.Expected) << "SetDevice(" << row.Position << ")";
  }

  ASSERT_TRUE(Rec->Start());
  Rec->SetDevice(0);  // opening
  EXPECT_EQ(Rec->GetDevice(), 1);
  Pump(Fake);
  Rec->SetDevice(0);  // capturing
  EXPECT_EQ(Rec->GetDevice(), 1);
  Rec->Stop();
  Rec->SetDevice(0);  // closing
  EXPECT_EQ(Rec->GetDevice(), 1);
  Pump(Fake);
  Rec->SetDevice(0);
  EXPECT_EQ(Rec->GetDevice(), 0);
}

TEST_F(RecorderTest, BufferFramesSetInIdleChangeTheDurationAtOnceAndTheBuffersAtTheNextStart) {
  EXPECT_EQ(Rec->BufferDuration(), 0.023219954648526078);
  EXPECT_EQ(Rec->BufferBytes(), 4096);
  Rec->SetBufferFrames(2048);
  EXPECT_EQ(Rec->BufferDuration(), 0.046439909297052155);
  EXPECT_EQ(Rec->BufferBytes(), 8192);

  StartCapturing();
  Rec->SetBufferFrames(512);
  EXPECT_EQ(Rec->BufferBytes(), 8192);
  Fake.FillBlocks(1);
  Pump(Fake);
  EXPECT_EQ(Trace, std::vector<std::string>({"data 8192/2048"}));
  StopAndDrain();

  Rec->SetBufferFrames(512);
  EXPECT_EQ(Rec->BufferBytes(), 2048);
  StartCapturing();
  Fake.FillBlocks(1);
  Pump(Fake);
  EXPECT_EQ(Trace, std::vector<std::string>({"data 2048/512"}));
  StopAndDrain();
}

TEST_F(RecorderTest, BufferFramesThatWouldOverflowOrBeEmptyAreIgnored) {
  Rec->SetBufferFrames(2048);
  for (int32_t frames : {0, -1, INT_MIN, INT_MAX / 4 + 1, INT_MAX}) {
    Rec->SetBufferFrames(frames);
    EXPECT_EQ(Rec->BufferBytes(), 8192) << frames;
  }
  Rec->SetBufferFrames(INT_MAX / 4);
  EXPECT_EQ(Rec->BufferBytes(), INT_MAX / 4 * 4);
}

TEST_F(RecorderTest, GoesThroughOpeningCapturingClosingAndBackToIdle) {
  Rec->SetBufferFrames(2048);
  ASSERT_TRUE(Rec->Start());
  // Opening: busy, not yet recording; the calls in their order.
  EXPECT_FALSE(Rec->IsRecording());
  EXPECT_TRUE(Rec->IsBusy());
  EXPECT_EQ(CallsOf(Fake),
            (std::vector<ECall>{ECall::GetNumDevs, ECall::GetDevCaps, ECall::GetDevCaps,
                                ECall::GetDevCaps, ECall::Open, ECall::Prepare, ECall::AddBuffer,
                                ECall::Prepare, ECall::AddBuffer, ECall::Start}));
  // A second Start before the open notification must not touch queued buffers.
  Fake.ClearLog();
  EXPECT_FALSE(Rec->Start());
  Rec->SetBufferFrames(16);
  EXPECT_TRUE(Fake.Log.empty());
  EXPECT_EQ(Rec->BufferBytes(), 8192);

  Pump(Fake);
  EXPECT_EQ(Trace, std::vector<std::string>({"open rec=1"}));
  EXPECT_TRUE(Rec->IsRecording());
  EXPECT_FALSE(Rec->IsStopping());

  // Capturing: each block is handed over and queued again, the two buffers in turn.
  Trace.clear();
  for (int i = 0; i < 3; ++i) {
    Fake.FillBlocks(1);
    Pump(Fake);
  }
  EXPECT_EQ(Trace, std::vector<std::string>(3, "data 8192/2048"));
  ASSERT_EQ(DataSeen.size(), 3u);
  EXPECT_NE(DataSeen[0], DataSeen[1]);
  EXPECT_EQ(DataSeen[0], DataSeen[2]);
  EXPECT_EQ(Fake.CallCount(ECall::AddBuffer), 3);
  EXPECT_EQ(Fake.QueuedBuffers(), 2);

  Fake.ClearLog();
  EXPECT_FALSE(Rec->Start());
  EXPECT_TRUE(Fake.Log.empty());

  // Closing: stop, reset and close at once; buffers come back later.
  Trace.clear();
  Fake.Fill(4095);
  Rec->Stop();
  EXPECT_TRUE(Rec->IsRecording());
  EXPECT_TRUE(Rec->IsStopping());
  EXPECT_EQ(CallsOf(Fake), (std::vector<ECall>{ECall::Stop, ECall::Reset, ECall::Close}));
  EXPECT_TRUE(Trace.empty());
  Fake.ClearLog();
  Pump(Fake);
  // Each held buffer once, the partial one first, then the close with
  // Recording still true; nothing is queued again.
  EXPECT_EQ(Trace, std::vector<std::string>({"data 4095/1023", "data 0/0", "close rec=1"}));
  EXPECT_EQ(CallsOf(Fake), (std::vector<ECall>{ECall::Unprepare, ECall::Unprepare}));
  EXPECT_FALSE(Rec->IsRecording());
  EXPECT_FALSE(Rec->IsBusy());

  // Idle: Stop does nothing, Start works again.
  Fake.ClearLog();
  Rec->Stop();
  EXPECT_TRUE(Fake.Log.empty());
  EXPECT_TRUE(Rec->Start());
  StopAndDrain();
}

TEST_F(RecorderTest, SecondStopBeforeTheCloseRepeatsTheRequestsAndChangesNothingElse) {
  StartCapturing();
  Rec->Stop();
  Rec->Stop();
  EXPECT_EQ(CallsOf(Fake), (std::vector<ECall>{ECall::Stop, ECall::Reset, ECall::Close, ECall::Stop,
                                               ECall::Reset, ECall::Close}));
  for (size_t i = 3; i < Fake.Log.size(); ++i) EXPECT_EQ(Fake.Log[i].Result, MMSYSERR_INVALHANDLE);
  Pump(Fake);
  EXPECT_EQ(Trace, std::vector<std::string>({"data 0/0", "data 0/0", "close rec=1"}));
  EXPECT_FALSE(Rec->IsBusy());
}

TEST_F(RecorderTest, StopBeforeTheOpenNotificationStillClosesTheDevice) {
  ASSERT_TRUE(Rec->Start());
  Rec->Stop();
  EXPECT_FALSE(Fake.IsOpen());
  Pump(Fake);
  EXPECT_EQ(Trace, std::vector<std::string>({"open rec=1", "data 0/0", "data 0/0", "close rec=1"}));
  EXPECT_FALSE(Rec->IsBusy());
  EXPECT_FALSE(Rec->IsRecording());
}

TEST_F(RecorderTest, BuffersStartZeroedAndCarryTheDeviceBytesUncopied) {
  Rec->SetBufferFrames(64);
  std::vector<std::vector<unsigned char>> blocks;
  Rec->OnData = [&](void* Data, int32_t, int32_t, int32_t&) {
    auto* p = static_cast<unsigned char*>(Data);
    blocks.emplace_back(p, p + Rec->BufferBytes());
  };
  StartCapturing();
  Fake.Fill(256 + 10);
  Rec->Stop();
  Pump(Fake);
  ASSERT_EQ(blocks.size(), 2u);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(blocks[0][size_t(i)], i) << i;
  for (int i = 0; i < 10; ++i) EXPECT_EQ(blocks[1][size_t(i)], i) << i;
  for (size_t i = 10; i < 256; ++i) EXPECT_EQ(blocks[1][i], 0) << i;
}

TEST_F(RecorderTest, UnassignedEventsStillLetTheBuffersCirculate) {
  Rec->OnData = nullptr;
  Rec->OnOpen = nullptr;
  Rec->OnClose = nullptr;
  StartCapturing();
  for (int block = 1; block <= 4; ++block) {
    Fake.FillBlocks(1);
    Pump(Fake);
    EXPECT_EQ(Fake.CallCount(ECall::AddBuffer), block);
    EXPECT_EQ(Fake.QueuedBuffers(), 2);
  }
  EXPECT_EQ(Fake.DroppedBytes(), 0);
  StopAndDrain();
  EXPECT_FALSE(Rec->IsRecording());
}

TEST_F(RecorderTest, AFailingStepOfStartLeavesTheRecorderAsItShould) {
  struct Row {
    ECall Failing;
    std::vector<ECall> Calls;  // what Start calls
    bool Busy;                 // the device stayed open
  };
  const std::vector<Row> rows = {
      {ECall::Open, {ECall::Open}, false},
      {ECall::Prepare, {ECall::Open, ECall::Prepare}, true},
      {ECall::AddBuffer, {ECall::Open, ECall::Prepare, ECall::AddBuffer}, true},
      {ECall::Start,
       {ECall::Open, ECall::Prepare, ECall::AddBuffer, ECall::Prepare, ECall::AddBuffer,
        ECall::Start},
       true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(int(row.Failing));
    Trace.clear();
    Fake.ClearLog();
    Fake.FailWith[size_t(row.Failing)] = MMSYSERR_ERROR;
    EXPECT_FALSE(Rec->Start());
    Fake.FailWith[size_t(row.Failing)] = MMSYSERR_NOERROR;
    EXPECT_EQ(CallsOf(Fake), row.Calls);
    EXPECT_EQ(Rec->IsBusy(), row.Busy);
    Pump(Fake);
    if (!row.Busy) {
      EXPECT_TRUE(Trace.empty());
      continue;
    }
    // The open notification still comes; Stop brings the recorder back.
    EXPECT_TRUE(Rec->IsRecording());
    EXPECT_FALSE(Rec->Start());
    StopAndDrain();
    EXPECT_EQ(Trace.front(), "open rec=1");
    EXPECT_EQ(Trace.back(), "close rec=1");
  }
  EXPECT_TRUE(Rec->Start());
  StopAndDrain();
}

TEST_F(RecorderTest, AVanishingDeviceBringsTheRecorderBackToIdleAndStartWorksAgain) {
  StartCapturing();
  Fake.Fill(100);
  Fake.Vanish();
  Pump(Fake);
  EXPECT_EQ(Trace, std::vector<std::string>({"data 100/25", "data 0/0", "close rec=1"}));
  // The recorder tried to queue them again, on a handle that is gone.
  ASSERT_EQ(Fake.CallCount(ECall::AddBuffer), 2);
  for (const auto& c : Fake.Log)
    if (c.Call == ECall::AddBuffer) {
      EXPECT_EQ(c.Result, MMSYSERR_INVALHANDLE);
    }
  EXPECT_FALSE(Rec->IsBusy());
  EXPECT_FALSE(Rec->IsRecording());

  Trace.clear();
  StartCapturing();
  Fake.FillBlocks(1);
  Pump(Fake);
  EXPECT_EQ(Trace, std::vector<std::string>({"data 4096/1024"}));
  StopAndDrain();
}

TEST_F(RecorderTest, StopInsideTheDataHandlerKeepsThatBufferOut) {
  struct Row {
    const char* Name;
    bool RunPendingEvents;  // as the frame renderer does now and then
    std::vector<std::string> Expected;
  };
  const std::vector<Row> rows = {
      {"direct", false, {"data 4096 in", "data 4096 out", "data 0/0", "close rec=1"}},
      {"nested", true, {"data 4096 in", "data 0/0", "close rec=1", "data 4096 out"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    StartCapturing();
    bool first = true;
    bool startInside = true;
    Rec->OnData = [&](void*, int32_t Bytes, int32_t Frames, int32_t&) {
      if (!first) {
        Trace.push_back("data " + std::to_string(Bytes) + "/" + std::to_string(Frames));
        return;
      }
      first = false;
      Trace.push_back("data " + std::to_string(Bytes) + " in");
      Rec->Stop();
      if (row.RunPendingEvents) {
        for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();
        // The capture has ended, but this buffer is still in hand.
        startInside = Rec->Start();
      }
      Trace.push_back("data " + std::to_string(Bytes) + " out");
    };
    Fake.FillBlocks(1);
    Pump(Fake);
    EXPECT_EQ(Trace, row.Expected);
    EXPECT_EQ(Fake.CallCount(ECall::AddBuffer), 0);
    if (row.RunPendingEvents) {
      EXPECT_FALSE(startInside);
    }
    EXPECT_FALSE(Rec->IsBusy());
    Trace.clear();
  }
}

TEST_F(RecorderTest, CapturingAllocatesNothingPerBlock) {
  Rec->SetBufferFrames(2048);
  int64_t sum = 0;
  Rec->OnData = [&](void* Data, int32_t Bytes, int32_t, int32_t& Done) {
    sum += static_cast<unsigned char*>(Data)[0] + Bytes;
    Done = Bytes / 4;
  };
  Fake.Logging = false;
  StartCapturing();
  for (int i = 0; i < 20; ++i) {  // let Qt's own queues reach their size
    Fake.FillBlocks(1);
    Pump(Fake);
  }
  const int64_t before = test::AllocationCount();
  for (int i = 0; i < 2000; ++i) {
    Fake.FillBlocks(1);
    Pump(Fake);
  }
  const int64_t allocations = test::AllocationCount() - before;
  EXPECT_EQ(allocations, 0);
  EXPECT_EQ(Fake.CallCount(ECall::AddBuffer), 2020);
  EXPECT_GT(sum, 0);
  StopAndDrain();
}

TEST(RecorderLifetime, DestroyedAfterStopRaisesNoFurtherEvents) {
  TFakeWaveInService fake(ThreeDevices());
  QWidget owner;
  auto* rec = new TWaveRecorder(&owner, fake);
  int events = 0;
  rec->OnData = [&](void*, int32_t, int32_t, int32_t&) { ++events; };
  rec->OnClose = [&](TWaveRecorder*) { ++events; };
  ASSERT_TRUE(rec->Start());
  Pump(fake);
  events = 0;
  fake.FillBlocks(1);
  rec->Stop();
  delete rec;
  Pump(fake);
  EXPECT_EQ(events, 0);
}

TEST(RecorderLifetime, DestroyedWhileCapturingClosesTheDeviceFirst) {
  TFakeWaveInService fake(ThreeDevices());
  QWidget owner;
  auto* rec = new TWaveRecorder(&owner, fake);
  ASSERT_TRUE(rec->Start());
  Pump(fake);
  fake.Fill(1000);
  delete rec;  // without Stop
  EXPECT_FALSE(fake.IsOpen());
  EXPECT_EQ(fake.QueuedBuffers(), 0);
  EXPECT_EQ(fake.Fill(8192), 0u);  // nothing writes into the freed buffers
  Pump(fake);
}

}  // namespace
}  // namespace quenvis
