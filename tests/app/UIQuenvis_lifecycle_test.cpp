// The main window's life: start-up state, Start and Stop, presentation of the
// four surfaces, the caption's block rate, and a nested block at the point
// where pending events run.
#include <QComboBox>
#include <QImage>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <algorithm>

#include "analysis/UFFT_iterative_tabs.h"
#include "app/UIQuenvis.h"
#include "capture/UWaveRecorder.h"
#include "support/FakeWaveInService.h"

using quenvis::CBM32;
using quenvis::TFakeWaveInService;
using quenvis::TForm1;

namespace {

// Devices 0 and 2 record the program's format, device 1 does not.
std::vector<TFakeWaveInService::TDevice> ThreeDevices() {
  return {{"Line in", quenvis::WAVE_FORMAT_4S16, 0x0A00},
          {"Phone", 0x0001, 0x0100},
          {"USB mic", quenvis::WAVE_FORMAT_4S16, 0x0510}};
}

bool AllPixels(const CBM32& Surface, std::uint32_t Colour) {
  const std::uint32_t* bits = Surface.Info->Bits;
  return std::all_of(bits, bits + Surface.Info->Width * Surface.Info->Height,
                     [Colour](std::uint32_t p) { return p == Colour; });
}

// Runs pending events until the recorder's state settles.
void Settle() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

// Start pressed, the open notification handled: blocks can flow.
void StartCapture(TForm1& Form) {
  QTest::mouseClick(Form.Bt_start, Qt::LeftButton);
  Settle();
}

// One block through the recorder and the renderer.
void Block(TFakeWaveInService& Service) {
  QCOMPARE(Service.FillBlocks(1), std::uint32_t(quenvis::BlockBytes));
  Settle();
}

QString Caption(const QString& Rate) { return "Quenvis par ZR " + Rate + " img/s"; }

QString LastLine(const TForm1& Form) { return Form.Memo1->toPlainText().split('\n').last(); }

}  // namespace

class UIQuenvisLifecycleTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

  void startUpState() {
    TFakeWaveInService service(ThreeDevices());
    TForm1 form(&service);
    QCOMPARE(form.windowTitle(), Caption("?"));
    for (CBM32* surface : form.Surfaces->All()) QVERIFY(AllPixels(*surface, 0xFF000000));
    QCOMPARE(form.window->currentText(), QString("hamming"));
    QCOMPARE(form.FFT->Window, &quenvis::TabHamming);
    const QStringList lines = form.Memo1->toPlainText().split('\n');
    const QStringList expected = {"Duree_Tampon = 0.05 sec 21.53(1/t)",
                                  "Images par seconde < 21.53 (contrainte tampon)",
                                  "Liste des pilotes : ", "0 - Line in v10.0", "2 - USB mic v5.16"};
    QCOMPARE(lines, expected);
    // The recorder's current device is the last one that qualifies.
    QCOMPARE(form.CB_Pilotes->count(), 2);
    QVERIFY(form.CB_Pilotes->isEnabled());
    QCOMPARE(form.CB_Pilotes->currentIndex(), form.Recorder->GetDevice());
    QCOMPARE(form.CB_Pilotes->currentText(), QString("2 - USB mic v5.16"));
    QCOMPARE(form.Rate.FFrameCount, 0);
  }

  void noDeviceStillStarts() {
    TFakeWaveInService service;
    TForm1 form(&service);
    QCOMPARE(form.CB_Pilotes->count(), 0);
    QCOMPARE(form.CB_Pilotes->currentIndex(), -1);
    QVERIFY(!form.CB_Pilotes->isEnabled());
    QCOMPARE(form.Memo1->toPlainText().split('\n').size(), 3);
    StartCapture(form);
    QVERIFY(!form.Recorder->IsRecording());
    QCOMPARE(service.CallCount(TFakeWaveInService::ECall::Open), 0);
    QCOMPARE(form.windowTitle(), Caption("?"));
    QCOMPARE(LastLine(form), QString("Start: no device"));
  }

  void startThatCannotCaptureSaysWhy() {
    const struct {
      quenvis::MMRESULT Open;
      const char* Line;
    } rows[] = {{quenvis::MMSYSERR_NODRIVER, "Start: the sound server is not running"},
                {quenvis::MMSYSERR_BADDEVICEID, "Start: the device could not be opened"},
                {quenvis::MMSYSERR_ERROR, "Start: the device could not be opened"}};
    for (const auto& row : rows) {
      TFakeWaveInService service(ThreeDevices());
      TForm1 form(&service);
      service.FailWith[size_t(TFakeWaveInService::ECall::Open)] = row.Open;
      const int lines = form.Memo1->toPlainText().split('\n').size();
      StartCapture(form);
      QCOMPARE(LastLine(form), QString(row.Line));
      QCOMPARE(form.Memo1->toPlainText().split('\n').size(), lines + 1);
      // Start while capturing refuses quietly.
      service.FailWith.fill(0);
      StartCapture(form);
      StartCapture(form);
      QVERIFY(form.Recorder->IsRecording());
      QCOMPARE(form.Memo1->toPlainText().split('\n').size(), lines + 1);
    }
  }

  void captureEndingByItselfStopsTheWindow() {
    using quenvis::EWaveInEnd;
    const struct {
      EWaveInEnd Why;
      const char* Line;
    } rows[] = {{EWaveInEnd::ServerGone, "Capture stopped: the sound server went away"},
                {EWaveInEnd::DeviceRemoved, "Capture stopped: the device was removed"},
                {EWaveInEnd::ServerEnded, "Capture stopped: the sound server ended the stream"},
                {EWaveInEnd::NoSound, "Capture stopped: no sound for 1.5 s"}};
    for (const auto& row : rows) {
      TFakeWaveInService service(ThreeDevices());
      TForm1 form(&service);
      StartCapture(form);
      for (int i = 0; i < 81; ++i) Block(service);
      QVERIFY(form.windowTitle() != Caption("?"));
      const std::int32_t counted = form.Rate.FFrameCount;
      service.Fill(100);  // part of a block, handed back by the failure
      service.Vanish(row.Why);
      Settle();
      QVERIFY(!form.Recorder->IsBusy());
      QCOMPARE(form.windowTitle(), Caption("?"));
      QCOMPARE(LastLine(form), QString(row.Line));
      QCOMPARE(form.Rate.FFrameCount, counted);
    }
    // Stop says nothing more than "?".
    TFakeWaveInService service(ThreeDevices());
    TForm1 form(&service);
    const QString text = form.Memo1->toPlainText();
    StartCapture(form);
    QTest::mouseClick(form.Bt_stop, Qt::LeftButton);
    Settle();
    QCOMPARE(form.Memo1->toPlainText(), text);
  }

  void devicesThatChangeAreListedAgainKeepingTheChoice() {
    TFakeWaveInService service(ThreeDevices());
    TForm1 form(&service);
    form.Memo1->appendPlainText("a line of the user's");
    form.CB_Pilotes->setCurrentIndex(0);  // "0 - Line in"
    StartCapture(form);
    // A device plugged in during capture is listed once capture ends.
    service.Devices.push_back({"Headset", quenvis::WAVE_FORMAT_4S16, 0x0102});
    service.DevicesChanged();
    QCOMPARE(form.CB_Pilotes->count(), 2);
    QTest::mouseClick(form.Bt_stop, Qt::LeftButton);
    Settle();
    const QStringList expected = {"0 - Line in v10.0", "2 - USB mic v5.16", "3 - Headset v1.2"};
    QCOMPARE(form.CB_Pilotes->count(), 3);
    for (int i = 0; i < 3; ++i) QCOMPARE(form.CB_Pilotes->itemText(i), expected[i]);
    QCOMPARE(form.Memo1->toPlainText().split('\n').mid(3),
             expected + QStringList{"a line of the user's"});
    QCOMPARE(form.CB_Pilotes->currentIndex(), 0);
    // The chosen device goes while idle: the others keep their numbers, the
    // list falls back to one of them, and the chosen one is chosen again
    // when it returns.
    const auto away = [&](bool Away) {
      service.Devices[0].CapsResult = Away ? quenvis::MMSYSERR_NODRIVER : quenvis::MMSYSERR_NOERROR;
      service.DevicesChanged();
    };
    away(true);
    QCOMPARE(form.CB_Pilotes->itemText(0), QString("2 - USB mic v5.16"));
    QCOMPARE(form.Memo1->toPlainText().split('\n').mid(3),
             (QStringList{"2 - USB mic v5.16", "3 - Headset v1.2", "a line of the user's"}));
    QCOMPARE(form.CB_Pilotes->currentText(), QString("3 - Headset v1.2"));
    away(false);
    QCOMPARE(form.CB_Pilotes->currentText(), QString("0 - Line in v10.0"));
    // Picked by the user meanwhile, even the entry the list fell back to, a
    // device stays chosen; Start opens the entry picked.
    away(true);
    QTest::keyClick(form.CB_Pilotes, Qt::Key_Up);
    QTest::keyClick(form.CB_Pilotes, Qt::Key_Down);
    away(false);
    QCOMPARE(form.CB_Pilotes->currentText(), QString("3 - Headset v1.2"));
    StartCapture(form);
    QCOMPARE(service.OpenedDevice, 3);
  }

  void startOpensTheSelectedEntry() {
    TFakeWaveInService service(ThreeDevices());
    TForm1 form(&service);
    form.CB_Pilotes->setCurrentIndex(0);
    StartCapture(form);
    QVERIFY(form.Recorder->IsRecording());
    QCOMPARE(service.OpenedDevice, 0);
  }

  void startWithNoEntryKeepsTheRecordersDevice() {
    TFakeWaveInService service(ThreeDevices());
    TForm1 form(&service);
    form.CB_Pilotes->setCurrentIndex(-1);
    StartCapture(form);
    QVERIFY(form.Recorder->IsRecording());
    QCOMPARE(service.OpenedDevice, 2);
  }

  void startTwiceKeepsCapturingAndRestartsTheMeasurement() {
    TFakeWaveInService service(ThreeDevices());
    TForm1 form(&service);
    StartCapture(form);
    Block(service);
    Block(service);
    QCOMPARE(form.Rate.FFrameCount, 2);
    QVERIFY(std::any_of(form.FFT->Samples.begin(), form.FFT->Samples.end(),
                        [](double s) { return s != 0.0; }));
    form.Rate.FRateText = "21.53";
    form.Rate.FRateLast = 0.0;
    StartCapture(form);
    QCOMPARE(service.CallCount(TFakeWaveInService::ECall::Open), 1);
    QVERIFY(form.Recorder->IsRecording());
    QCOMPARE(form.Rate.FRateText, std::string("?"));
    QVERIFY(form.Rate.FRateLast > 0.0);
    QCOMPARE(form.Rate.FRateLast, form.Rate.FRateNow);
    QCOMPARE(form.FFT->Phase, 0);
    QVERIFY(std::all_of(form.FFT->Samples.begin(), form.FFT->Samples.end(),
                        [](double s) { return s == 0.0; }));
    QCOMPARE(form.Rate.FFrameCount, 0);  // the first rate counts only blocks since Start
    Block(service);
    QCOMPARE(form.Rate.FFrameCount, 1);
  }

  void stopThenStartCountsAfresh() {
    TFakeWaveInService service(ThreeDevices());
    TForm1 form(&service);
    StartCapture(form);
    for (int i = 0; i < 5; ++i) Block(service);
    form.Rate.FRateText = "21.53";
    QTest::mouseClick(form.Bt_stop, Qt::LeftButton);
    QCOMPARE(form.windowTitle(), Caption("?"));
    Settle();
    QVERIFY(!form.Recorder->IsRecording());
    // The two buffers held at Stop are drawn once more but not counted.
    QCOMPARE(form.Rate.FFrameCount, 5);
    StartCapture(form);
    QVERIFY(form.Recorder->IsRecording());
    QCOMPARE(form.Rate.FFrameCount, 0);
  }

  void captionEvery81Blocks() {
    TFakeWaveInService service(ThreeDevices());
    TForm1 form(&service);
    StartCapture(form);
    for (int i = 0; i < 80; ++i) Block(service);
    QCOMPARE(form.Rate.FFrameCount, 80);
    QCOMPARE(form.windowTitle(), Caption("?"));
    QTest::qWait(20);  // the clock must move for a rate to be measured
    Block(service);
    QCOMPARE(form.Rate.FFrameCount, 0);
    const QRegularExpression rate("^Quenvis par ZR \\d+\\.\\d\\d img/s$");
    QVERIFY2(rate.match(form.windowTitle()).hasMatch(), qPrintable(form.windowTitle()));
    QCOMPARE(form.windowTitle(), Caption(QString::fromStdString(form.Rate.FRateText)));
  }

  void surfacesArePaintedAtTheirPlaces() {
    TFakeWaveInService service(ThreeDevices());
    TForm1 form(&service);
    struct {
      CBM32* Surface;
      QPoint Place;
      std::uint32_t Colour;
    } rows[] = {{&form.Surfaces->SpectrumBmp, {0, 0}, 0xFF102030},
                {&form.Surfaces->PlotBmp1, {241, 257}, 0xFF405060},
                {&form.Surfaces->PlotBmp2, {498, 257}, 0xFF708090},
                {&form.Surfaces->PlotBmp3, {755, 257}, 0xFFA0B0C0}};
    for (const auto& row : rows) {
      row.Surface->Fill(row.Colour);
      // One marked pixel, written straight into the buffer.
      row.Surface->Info->Bits[7 * row.Surface->Info->Width + 5] = 0xFFFFFFFF;
    }
    // On a high-density screen (QT_SCALE_FACTOR) the places scale with the
    // window, but each surface pixel stays one device pixel.
    const QImage shot = form.grab().toImage();
    const int ratio = qRound(form.devicePixelRatioF());
    QCOMPARE(shot.size(), QSize(1024, 768) * ratio);
    const QRgb background = form.palette().color(QPalette::Window).rgb();
    for (const auto& row : rows) {
      const int w = row.Surface->Info->Width, h = row.Surface->Info->Height;
      const QPoint corner = row.Place * ratio;
      QCOMPARE(shot.pixel(corner), QRgb(row.Colour));
      QCOMPARE(shot.pixel(corner + QPoint(w - 1, h - 1)), QRgb(row.Colour));
      QCOMPARE(shot.pixel(corner + QPoint(5, 7)), QRgb(0xFFFFFFFF));
      QCOMPARE(shot.pixel(corner + QPoint(5, h)), background);
    }
    // The one-pixel gaps beside the plots show the background.
    for (const int left : {497, 754, 1011})
      QCOMPARE(shot.pixel(QPoint(left, 300) * ratio), background);
  }

  void repaintAfterStopShowsTheFadedState() {
    TFakeWaveInService service(ThreeDevices());
    TForm1 form(&service);
    StartCapture(form);
    Block(service);
    QTest::mouseClick(form.Bt_stop, Qt::LeftButton);
    Settle();
    QVERIFY(!form.Recorder->IsRecording());
    const QImage shot = form.grab().toImage();
    const CBM32& spectrum = form.Surfaces->SpectrumBmp;
    // The trace was drawn and then faded: somewhere green, but not at full strength.
    bool drawn = false;
    for (int y = 0; y < spectrum.Info->Height; ++y)
      for (int x = 0; x < spectrum.Info->Width; ++x) {
        const std::uint32_t pixel = spectrum.Info->Bits[y * spectrum.Info->Width + x];
        QCOMPARE(shot.pixel(x, y), QRgb(pixel));
        drawn = drawn || (pixel & 0x00FF00) != 0;
        QVERIFY((pixel & 0x00FF00) != 0x00FF00);
      }
    QVERIFY(drawn);
  }

  void bufferSmallerThanABlockIsNotAnalysed() {
    TFakeWaveInService service(ThreeDevices());
    TForm1 form(&service);
    form.Recorder->SetBufferFrames(quenvis::BlockFrames / 2);
    StartCapture(form);
    QCOMPARE(service.FillBlocks(1), std::uint32_t(quenvis::BlockBytes / 2));
    Settle();
    // Reading a whole block from it would run past the buffer.
    QCOMPARE(form.Rate.FFrameCount, 0);
    QVERIFY(form.Recorder->IsRecording());
  }

  void nestedBlockAtTheRateUpdate() {
    TFakeWaveInService service(ThreeDevices());
    TForm1 form(&service);
    int depth = 0, maxDepth = 0;
    form.Recorder->OnData = [&](void* Data, std::int32_t Bytes, std::int32_t Frames,
                                std::int32_t& Done) {
      maxDepth = std::max(maxDepth, ++depth);
      form.RecorderData(Data, Bytes, Frames, Done);
      --depth;
    };
    StartCapture(form);
    for (int i = 0; i < 80; ++i) Block(service);
    QCOMPARE(maxDepth, 1);
    // Both buffers come back at once: the second one's notification is
    // handled inside the first one's rate update.
    QCOMPARE(service.FillBlocks(2), std::uint32_t(2 * quenvis::BlockBytes));
    Settle();
    QCOMPARE(maxDepth, 2);
    QCOMPARE(form.Rate.FFrameCount, 1);
    QVERIFY(form.Recorder->IsRecording());
    QCOMPARE(service.QueuedBuffers(), 2);
    Block(service);
    QCOMPARE(form.Rate.FFrameCount, 2);
  }
};

QTEST_MAIN(UIQuenvisLifecycleTest)
#include "UIQuenvis_lifecycle_test.moc"
