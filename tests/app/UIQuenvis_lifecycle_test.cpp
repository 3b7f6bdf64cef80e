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
#include "support/FakeWaveInService.h"
#include "capture/UWaveRecorder.h"

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
  const std::uint32_t* Bits = Surface.Info->Bits;
  return std::all_of(Bits, Bits + Surface.Info->Width * Surface.Info->Height,
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
    TFakeWaveInService Service(ThreeDevices());
    TForm1 Form(&Service);
    QCOMPARE(Form.windowTitle(), Caption("?"));
    for (CBM32* Surface : Form.Surfaces->All())
      QVERIFY(AllPixels(*Surface, 0xFF000000));
    QCOMPARE(Form.window->currentText(), QString("hamming"));
    QCOMPARE(Form.FFT->Window, &quenvis::TabHamming);
    const QStringList Lines = Form.Memo1->toPlainText().split('\n');
    const QStringList Expected = {"Duree_Tampon = 0.05 sec 21.53(1/t)",
                                  "Images par seconde < 21.53 (contrainte tampon)",
                                  "Liste des pilotes : ", "0 - Line in v10.0",
                                  "2 - USB mic v5.16"};
    QCOMPARE(Lines, Expected);
    // The recorder's current device is the last one that qualifies.
    QCOMPARE(Form.CB_Pilotes->count(), 2);
    QVERIFY(Form.CB_Pilotes->isEnabled());
    QCOMPARE(Form.CB_Pilotes->currentIndex(), Form.Recorder->GetDevice());
    QCOMPARE(Form.CB_Pilotes->currentText(), QString("2 - USB mic v5.16"));
    QCOMPARE(Form.Rate.FFrameCount, 0);
  }

  void noDeviceStillStarts() {
    TFakeWaveInService Service;
    TForm1 Form(&Service);
    QCOMPARE(Form.CB_Pilotes->count(), 0);
    QCOMPARE(Form.CB_Pilotes->currentIndex(), -1);
    QVERIFY(!Form.CB_Pilotes->isEnabled());
    QCOMPARE(Form.Memo1->toPlainText().split('\n').size(), 3);
    StartCapture(Form);
    QVERIFY(!Form.Recorder->IsRecording());
    QCOMPARE(Service.CallCount(TFakeWaveInService::ECall::Open), 0);
    QCOMPARE(Form.windowTitle(), Caption("?"));
    QCOMPARE(LastLine(Form), QString("Start: no device"));
  }

  void startThatCannotCaptureSaysWhy() {
    const struct {
      quenvis::MMRESULT Open;
      const char* Line;
    } Rows[] = {{quenvis::MMSYSERR_NODRIVER, "Start: the sound server is not running"},
                {quenvis::MMSYSERR_BADDEVICEID, "Start: the device could not be opened"},
                {quenvis::MMSYSERR_ERROR, "Start: the device could not be opened"}};
    for (const auto& Row : Rows) {
      TFakeWaveInService Service(ThreeDevices());
      TForm1 Form(&Service);
      Service.FailWith[size_t(TFakeWaveInService::ECall::Open)] = Row.Open;
      const int Lines = Form.Memo1->toPlainText().split('\n').size();
      StartCapture(Form);
      QCOMPARE(LastLine(Form), QString(Row.Line));
      QCOMPARE(Form.Memo1->toPlainText().split('\n').size(), Lines + 1);
      // Start while capturing refuses quietly.
      Service.FailWith.fill(0);
      StartCapture(Form);
      StartCapture(Form);
      QVERIFY(Form.Recorder->IsRecording());
      QCOMPARE(Form.Memo1->toPlainText().split('\n').size(), Lines + 1);
    }
  }

  void captureEndingByItselfStopsTheWindow() {
    using quenvis::EWaveInEnd;
    const struct {
      EWaveInEnd Why;
      const char* Line;
    } Rows[] = {{EWaveInEnd::ServerGone, "Capture stopped: the sound server went away"},
                {EWaveInEnd::DeviceRemoved, "Capture stopped: the device was removed"},
                {EWaveInEnd::NoSound, "Capture stopped: no sound for 1.5 s"}};
    for (const auto& Row : Rows) {
      TFakeWaveInService Service(ThreeDevices());
      TForm1 Form(&Service);
      StartCapture(Form);
      for (int i = 0; i < 81; ++i) Block(Service);
      QVERIFY(Form.windowTitle() != Caption("?"));
      const std::int32_t Counted = Form.Rate.FFrameCount;
      Service.Fill(100);  // part of a block, handed back by the failure
      Service.Vanish(Row.Why);
      Settle();
      QVERIFY(!Form.Recorder->IsBusy());
      QCOMPARE(Form.windowTitle(), Caption("?"));
      QCOMPARE(LastLine(Form), QString(Row.Line));
      QCOMPARE(Form.Rate.FFrameCount, Counted);
    }
    // Stop says nothing more than "?".
    TFakeWaveInService Service(ThreeDevices());
    TForm1 Form(&Service);
    const QString Text = Form.Memo1->toPlainText();
    StartCapture(Form);
    QTest::mouseClick(Form.Bt_stop, Qt::LeftButton);
    Settle();
    QCOMPARE(Form.Memo1->toPlainText(), Text);
  }

  void devicesThatChangeAreListedAgainKeepingTheChoice() {
    TFakeWaveInService Service(ThreeDevices());
    TForm1 Form(&Service);
    Form.Memo1->appendPlainText("a line of the user's");
    Form.CB_Pilotes->setCurrentIndex(0);  // "0 - Line in"
    StartCapture(Form);
    // A device plugged in during capture is listed once capture ends.
    Service.Devices.push_back({"Headset", quenvis::WAVE_FORMAT_4S16, 0x0102});
    Service.DevicesChanged();
    QCOMPARE(Form.CB_Pilotes->count(), 2);
    QTest::mouseClick(Form.Bt_stop, Qt::LeftButton);
    Settle();
    const QStringList Expected = {"0 - Line in v10.0", "2 - USB mic v5.16", "3 - Headset v1.2"};
    QCOMPARE(Form.CB_Pilotes->count(), 3);
    for (int i = 0; i < 3; ++i) QCOMPARE(Form.CB_Pilotes->itemText(i), Expected[i]);
    QCOMPARE(Form.Memo1->toPlainText().split('\n').mid(3), Expected + QStringList{"a line of the user's"});
    QCOMPARE(Form.CB_Pilotes->currentIndex(), 0);
    // The first device goes while idle: the others keep their numbers, and
    // Start opens the entry picked.
    Service.Devices[0].CapsResult = quenvis::MMSYSERR_NODRIVER;
    Service.DevicesChanged();
    QCOMPARE(Form.CB_Pilotes->itemText(0), QString("2 - USB mic v5.16"));
    QCOMPARE(Form.Memo1->toPlainText().split('\n').mid(3), (QStringList{"2 - USB mic v5.16", "3 - Headset v1.2", "a line of the user's"}));
    Form.CB_Pilotes->setCurrentIndex(1);
    Service.Devices[0].CapsResult = quenvis::MMSYSERR_NOERROR;
    Service.DevicesChanged();
    QCOMPARE(Form.CB_Pilotes->currentText(), QString("3 - Headset v1.2"));
    StartCapture(Form);
    QCOMPARE(Service.OpenedDevice, 3);
  }

  void startOpensTheSelectedEntry() {
    TFakeWaveInService Service(ThreeDevices());
    TForm1 Form(&Service);
    Form.CB_Pilotes->setCurrentIndex(0);
    StartCapture(Form);
    QVERIFY(Form.Recorder->IsRecording());
    QCOMPARE(Service.OpenedDevice, 0);
  }

  void startWithNoEntryKeepsTheRecordersDevice() {
    TFakeWaveInService Service(ThreeDevices());
    TForm1 Form(&Service);
    Form.CB_Pilotes->setCurrentIndex(-1);
    StartCapture(Form);
    QVERIFY(Form.Recorder->IsRecording());
    QCOMPARE(Service.OpenedDevice, 2);
  }

  void startTwiceKeepsCapturingAndRestartsTheMeasurement() {
    TFakeWaveInService Service(ThreeDevices());
    TForm1 Form(&Service);
    StartCapture(Form);
    Block(Service);
    Block(Service);
    QCOMPARE(Form.Rate.FFrameCount, 2);
    QVERIFY(std::any_of(Form.FFT->Samples.begin(), Form.FFT->Samples.end(),
                        [](double s) { return s != 0.0; }));
    Form.Rate.FRateText = "21.53";
    Form.Rate.FRateLast = 0.0;
    StartCapture(Form);
    QCOMPARE(Service.CallCount(TFakeWaveInService::ECall::Open), 1);
    QVERIFY(Form.Recorder->IsRecording());
    QCOMPARE(Form.Rate.FRateText, std::string("?"));
    QVERIFY(Form.Rate.FRateLast > 0.0);
    QCOMPARE(Form.Rate.FRateLast, Form.Rate.FRateNow);
    QCOMPARE(Form.FFT->Phase, 0);
    QVERIFY(std::all_of(Form.FFT->Samples.begin(), Form.FFT->Samples.end(),
                        [](double s) { return s == 0.0; }));
    QCOMPARE(Form.Rate.FFrameCount, 0);  // the first rate counts only blocks since Start
    Block(Service);
    QCOMPARE(Form.Rate.FFrameCount, 1);
  }

  void stopThenStartCountsAfresh() {
    TFakeWaveInService Service(ThreeDevices());
    TForm1 Form(&Service);
    StartCapture(Form);
    for (int i = 0; i < 5; ++i) Block(Service);
    Form.Rate.FRateText = "21.53";
    QTest::mouseClick(Form.Bt_stop, Qt::LeftButton);
    QCOMPARE(Form.windowTitle(), Caption("?"));
    Settle();
    QVERIFY(!Form.Recorder->IsRecording());
    // The two buffers held at Stop are drawn once more but not counted.
    QCOMPARE(Form.Rate.FFrameCount, 5);
    StartCapture(Form);
    QVERIFY(Form.Recorder->IsRecording());
    QCOMPARE(Form.Rate.FFrameCount, 0);
  }

  void captionEvery81Blocks() {
    TFakeWaveInService Service(ThreeDevices());
    TForm1 Form(&Service);
    StartCapture(Form);
    for (int i = 0; i < 80; ++i) Block(Service);
    QCOMPARE(Form.Rate.FFrameCount, 80);
    QCOMPARE(Form.windowTitle(), Caption("?"));
    QTest::qWait(20);  // the clock must move for a rate to be measured
    Block(Service);
    QCOMPARE(Form.Rate.FFrameCount, 0);
    const QRegularExpression Rate("^Quenvis par ZR \\d+\\.\\d\\d img/s$");
    QVERIFY2(Rate.match(Form.windowTitle()).hasMatch(), qPrintable(Form.windowTitle()));
    QCOMPARE(Form.windowTitle(), Caption(QString::fromStdString(Form.Rate.FRateText)));
  }

  void surfacesArePaintedAtTheirPlaces() {
    TFakeWaveInService Service(ThreeDevices());
    TForm1 Form(&Service);
    struct {
      CBM32* Surface;
      QPoint Place;
      std::uint32_t Colour;
    } Rows[] = {{&Form.Surfaces->SpectrumBmp, {0, 0}, 0xFF102030},
                {&Form.Surfaces->PlotBmp1, {241, 257}, 0xFF405060},
                {&Form.Surfaces->PlotBmp2, {498, 257}, 0xFF708090},
                {&Form.Surfaces->PlotBmp3, {755, 257}, 0xFFA0B0C0}};
    for (const auto& Row : Rows) {
      Row.Surface->Fill(Row.Colour);
      // One marked pixel, written straight into the buffer.
      Row.Surface->Info->Bits[7 * Row.Surface->Info->Width + 5] = 0xFFFFFFFF;
    }
    // On a high-density screen (QT_SCALE_FACTOR) the places scale with the
    // window, but each surface pixel stays one device pixel.
    const QImage Shot = Form.grab().toImage();
    const int Ratio = qRound(Form.devicePixelRatioF());
    QCOMPARE(Shot.size(), QSize(1024, 768) * Ratio);
    const QRgb Background = Form.palette().color(QPalette::Window).rgb();
    for (const auto& Row : Rows) {
      const int W = Row.Surface->Info->Width, H = Row.Surface->Info->Height;
      const QPoint Corner = Row.Place * Ratio;
      QCOMPARE(Shot.pixel(Corner), QRgb(Row.Colour));
      QCOMPARE(Shot.pixel(Corner + QPoint(W - 1, H - 1)), QRgb(Row.Colour));
      QCOMPARE(Shot.pixel(Corner + QPoint(5, 7)), QRgb(0xFFFFFFFF));
      QCOMPARE(Shot.pixel(Corner + QPoint(5, H)), Background);
    }
    // The one-pixel gaps beside the plots show the background.
    for (const int Left : {497, 754, 1011})
      QCOMPARE(Shot.pixel(QPoint(Left, 300) * Ratio), Background);
  }

  void repaintAfterStopShowsTheFadedState() {
    TFakeWaveInService Service(ThreeDevices());
    TForm1 Form(&Service);
    StartCapture(Form);
    Block(Service);
    QTest::mouseClick(Form.Bt_stop, Qt::LeftButton);
    Settle();
    QVERIFY(!Form.Recorder->IsRecording());
    const QImage Shot = Form.grab().toImage();
    const CBM32& Spectrum = Form.Surfaces->SpectrumBmp;
    // The trace was drawn and then faded: somewhere green, but not at full strength.
    bool Drawn = false;
    for (int y = 0; y < Spectrum.Info->Height; ++y)
      for (int x = 0; x < Spectrum.Info->Width; ++x) {
        const std::uint32_t Pixel = Spectrum.Info->Bits[y * Spectrum.Info->Width + x];
        QCOMPARE(Shot.pixel(x, y), QRgb(Pixel));
        Drawn = Drawn || (Pixel & 0x00FF00) != 0;
        QVERIFY((Pixel & 0x00FF00) != 0x00FF00);
      }
    QVERIFY(Drawn);
  }

  void bufferSmallerThanABlockIsNotAnalysed() {
    TFakeWaveInService Service(ThreeDevices());
    TForm1 Form(&Service);
    Form.Recorder->SetBufferFrames(quenvis::BlockFrames / 2);
    StartCapture(Form);
    QCOMPARE(Service.FillBlocks(1), std::uint32_t(quenvis::BlockBytes / 2));
    Settle();
    // Reading a whole block from it would run past the buffer.
    QCOMPARE(Form.Rate.FFrameCount, 0);
    QVERIFY(Form.Recorder->IsRecording());
  }

  void nestedBlockAtTheRateUpdate() {
    TFakeWaveInService Service(ThreeDevices());
    TForm1 Form(&Service);
    int Depth = 0, MaxDepth = 0;
    Form.Recorder->OnData = [&](void* Data, std::int32_t Bytes, std::int32_t Frames,
                                std::int32_t& Done) {
      MaxDepth = std::max(MaxDepth, ++Depth);
      Form.RecorderData(Data, Bytes, Frames, Done);
      --Depth;
    };
    StartCapture(Form);
    for (int i = 0; i < 80; ++i) Block(Service);
    QCOMPARE(MaxDepth, 1);
    // Both buffers come back at once: the second one's notification is
    // handled inside the first one's rate update.
    QCOMPARE(Service.FillBlocks(2), std::uint32_t(2 * quenvis::BlockBytes));
    Settle();
    QCOMPARE(MaxDepth, 2);
    QCOMPARE(Form.Rate.FFrameCount, 1);
    QVERIFY(Form.Recorder->IsRecording());
    QCOMPARE(Service.QueuedBuffers(), 2);
    Block(Service);
    QCOMPARE(Form.Rate.FFrameCount, 2);
  }
};

QTEST_MAIN(UIQuenvisLifecycleTest)
#include "UIQuenvis_lifecycle_test.moc"
