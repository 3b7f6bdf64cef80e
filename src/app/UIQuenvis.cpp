#include "app/UIQuenvis.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QFrame>
#include <QImage>
#include <QKeySequence>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QShortcut>
#include <QTime>
#include <cmath>
#include <cstring>

#include "analysis/FormantTracker.h"
#include "analysis/UFFT_iterative_tabs.h"
#include "app/Playback.h"
#include "app/SpinEdit.h"
#include "chart/VowelChart.h"
#include "capture/UWaveRecorder.h"

namespace quenvis {

namespace {

// Splits an ASCII fixed-point text into sign, integer digits and decimals.
struct TNumberParts {
  bool Negative;
  QString Digits;
  QString Decimals;
};

TNumberParts SplitFixed(double Value, int Decimals) {
  QString text = QString::number(Value, 'f', Decimals);  // C locale: ASCII, '-'
  TNumberParts parts{false, {}, {}};
  if (text.startsWith(u'-')) {
    parts.Negative = true;
    text.remove(0, 1);
  }
  const qsizetype point = text.indexOf(u'.');
  parts.Digits = point < 0 ? text : text.left(point);
  if (point >= 0) parts.Decimals = text.mid(point + 1);
  return parts;
}

QString Signed(const TNumberParts& Parts, const QString& Body) {
  return Parts.Negative ? QStringLiteral("-") + Body : Body;
}

QFrame* MakePanel(QWidget* Parent, const char* Name) {
  auto* panel = new QFrame(Parent);
  panel->setObjectName(QString::fromLatin1(Name));
  panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  panel->setLineWidth(1);
  return panel;
}

TSpinEdit* MakeSpin(QWidget* Parent, const char* Name, const char* Hint,
                    const TSpinLimits& Limits) {
  auto* spin = new TSpinEdit(Parent);
  spin->setObjectName(QString::fromLatin1(Name));
  spin->setToolTip(QString::fromLatin1(Hint));
  spin->setRange(Limits.Lower, Limits.Upper);
  spin->setValue(Limits.Initial);
  return spin;
}

template <typename TControl>
TControl* Named(TControl* Control, const char* Name) {
  Control->setObjectName(QString::fromLatin1(Name));
  return Control;
}

// Labels size themselves to their text from the place the layout gives them.
void SetLabelText(QLabel* Label, const QString& Text) {
  Label->setText(Text);
  Label->adjustSize();
}

}  // namespace

QString FormatFixed(double Value, int Decimals, const QLocale& Locale) {
  TNumberParts parts = SplitFixed(Value, Decimals);
  // A value that rounds to zero prints as "0.000", never "-0.000".
  if (parts.Negative &&
      !(parts.Digits + parts.Decimals).contains(QRegularExpression(QStringLiteral("[1-9]"))))
    parts.Negative = false;
  if (parts.Decimals.isEmpty()) return Signed(parts, parts.Digits);
  return Signed(parts, parts.Digits + Locale.decimalPoint() + parts.Decimals);
}

QString FormatGrouped(double Value, const QLocale& Locale) {
  const TNumberParts parts = SplitFixed(Value, 0);
  QString body;
  const qsizetype count = parts.Digits.size();
  for (qsizetype i = 0; i < count; ++i) {
    if (i > 0 && (count - i) % 3 == 0) body += Locale.groupSeparator();
    body += parts.Digits[i];
  }
  return Signed(parts, body);
}

// What the frame renderer needs of the window.
class TForm1::THost final : public IFrameHost {
 public:
  explicit THost(TForm1& Form) : Form(Form) {}
  void Present() override { Form.repaint(Form.FImageRegion); }
  void UpdateCaption() override { Form.UpdateCaption(); }
  void ProcessMessages() override { QCoreApplication::processEvents(); }
  double TimeOfDay() override { return TForm1::TimeOfDay(); }
  std::string FormatRate(double BlocksPerSecond) override {
    return FormatFixed(BlocksPerSecond, 2, QLocale()).toStdString();
  }

 private:
  TForm1& Form;
};

TForm1::TForm1(CWaveInService* Service, QWidget* Parent)
    : QWidget(Parent, Qt::Tool), FService(Service) {
  BuildLayout();
  // A tool window has no close shortcut of its own.
  auto* quit = new QShortcut(QKeySequence::Quit, this);
  connect(quit, &QShortcut::activated, this, &QWidget::close);
  FormCreate(this);
}

TForm1::~TForm1() { FormDestroy(this); }

double TForm1::TimeOfDay() { return QTime::currentTime().msecsSinceStartOfDay() / 86400000.0; }

void TForm1::BuildLayout() {
  setObjectName(QStringLiteral("Form1"));
  move(351, 256);
  setFixedSize(1024, 768);
  QPalette colours = palette();
  colours.setColor(QPalette::Window, colours.color(QPalette::Button));
  setPalette(colours);
  setAutoFillBackground(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(8);
  setFont(font);

  // Declared order, each at its place in the layout tree.
  tool = MakePanel(this, "tool");
  tool->setGeometry(0, 320, 230, 441);
  CB_Pilotes = Named(new QComboBox(tool), "CB_Pilotes");
  CB_Pilotes->setGeometry(8, 8, 209, 21);
  CB_Pilotes->setEnabled(false);  // until devices are found
  command = MakePanel(this, "command");
  command->setGeometry(0, 272, 230, 41);
  Bt_start = Named(new QPushButton(QStringLiteral("Start"), command), "Bt_start");
  Bt_start->setGeometry(8, 8, 49, 25);
  Bt_stop = Named(new QPushButton(QStringLiteral("Stop"), command), "Bt_stop");
  Bt_stop->setGeometry(64, 8, 41, 25);
  PowerRange = MakeSpin(tool, "PowerRange", "Power Range", PowerRangeLimits);
  PowerRange->setGeometry(8, 32, 89, 22);
  LPowerRange = Named(new QLabel(tool), "LPowerRange");
  LPowerRange->setGeometry(104, 48, 68, 13);
  Remanance = MakeSpin(tool, "Remanance", "Remanance", RemananceLimits);
  Remanance->setGeometry(8, 144, 89, 22);
  FreqPlage = MakeSpin(tool, "FreqPlage", "Freq. Plage", FreqPlageLimits);
  FreqPlage->setGeometry(8, 168, 89, 22);
  LFreqPlage = Named(new QLabel(tool), "LFreqPlage");
  LFreqPlage->setGeometry(104, 176, 54, 13);
  Seuil = MakeSpin(tool, "Seuil", "Noise Threshold (1/100) ", SeuilLimits);
  Seuil->setGeometry(8, 80, 89, 22);
  EC2Z1LF1 = MakeSpin(tool, "EC2Z1LF1", "Couple 2 z1 f1 ", Zone1LoLimits);
  EC2Z1LF1->setGeometry(8, 216, 89, 22);
  EC2Z1LF2 = MakeSpin(tool, "EC2Z1LF2", "Couple 2 z1 f2 ", Zone1HiLimits);
  EC2Z1LF2->setGeometry(104, 216, 89, 22);
  EC2Z2LF1 = MakeSpin(tool, "EC2Z2LF1", "Couple 2 z2 f1 ", Zone2LoLimits);
  EC2Z2LF1->setGeometry(8, 248, 89, 22);
  EC2Z2LF2 = MakeSpin(tool, "EC2Z2LF2", "Couple 2 z2 f2 ", Zone2HiLimits);
  EC2Z2LF2->setGeometry(104, 248, 89, 22);
  Memo1 = Named(new QPlainTextEdit(tool), "Memo1");
  Memo1->setGeometry(8, 344, 217, 89);
  Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo1->setTabChangesFocus(true);
  PowerOffset = MakeSpin(tool, "PowerOffset", "Power Offset", PowerOffsetLimits);
  PowerOffset->setGeometry(8, 56, 89, 22);
  window = Named(new QComboBox(tool), "window");
  window->setGeometry(9, 112, 208, 21);
  window->setToolTip(QStringLiteral("Windowing"));

  Bt_chart = Named(new QPushButton(QStringLiteral("Chart"), command), "Bt_chart");
  Bt_chart->setGeometry(112, 8, 49, 25);
  setAcceptDrops(true);  // a recording dropped here plays

  // Keyboard order: the tool panel's controls, then the command panel's.
  QWidget* const tabOrder[] = {CB_Pilotes,  PowerRange, Remanance, FreqPlage, Seuil,
                               EC2Z1LF1,    EC2Z1LF2,   EC2Z2LF1,  EC2Z2LF2,  Memo1,
                               PowerOffset, window,     Bt_start,  Bt_stop,   Bt_chart};
  for (std::size_t i = 1; i < std::size(tabOrder); ++i) setTabOrder(tabOrder[i - 1], tabOrder[i]);

  // The initial values are in place, so from here on every edit reaches its handler.
  connect(PowerRange, &TSpinEdit::changed, this, &TForm1::PowerRangeChange);
  connect(Remanance, &TSpinEdit::changed, this, &TForm1::CB_RemananceChange);
  connect(FreqPlage, &TSpinEdit::changed, this, &TForm1::FreqPlageChange);
  connect(Seuil, &TSpinEdit::changed, this, &TForm1::SeuilChange);
  connect(EC2Z1LF1, &TSpinEdit::changed, this, &TForm1::EC2Z1LF1Change);
  connect(EC2Z1LF2, &TSpinEdit::changed, this, &TForm1::EC2Z1LF2Change);
  connect(EC2Z2LF1, &TSpinEdit::changed, this, &TForm1::EC2Z2LF1Change);
  connect(EC2Z2LF2, &TSpinEdit::changed, this, &TForm1::EC2Z2LF2Change);
  connect(PowerOffset, &TSpinEdit::changed, this, &TForm1::PowerOffsetChange);
  // Only a choice by the user: selecting from the program must not reach the handler.
  connect(window, &QComboBox::activated, this, [this] { windowChange(window); });
  // A device picked by the user is the one chosen, also when it is the entry
  // the list fell back to while the chosen one was away.
  connect(CB_Pilotes, &QComboBox::activated, this, [this](int Index) {
    if (const QVariant device = CB_Pilotes->itemData(Index); device.isValid())
      FChosenDevice = device.toInt();
  });
  connect(Bt_start, &QPushButton::clicked, this, [this] { Bt_startClick(Bt_start); });
  connect(Bt_stop, &QPushButton::clicked, this, [this] { Bt_stopClick(Bt_stop); });
  connect(Bt_chart, &QPushButton::clicked, this, &TForm1::ShowChart);
  auto* chartKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_K), this);
  connect(chartKey, &QShortcut::activated, this, &TForm1::ShowChart);
}

void TForm1::FormCreate(QObject* /*Sender*/) {
  // Provisional scale: PowerOffsetChange runs first and divides by it.
  Settings.FScale = std::log10(255.0);
  Settings.FOffset = 0.0;
  Rate.FRateText = "?";
  FFT = std::make_unique<CFFT_iterative>();
  window->clear();
  for (const char* name : WindowNames) window->addItem(QString::fromLatin1(name));
  window->setCurrentIndex(0);
  // What windowChange would pick for entry 0; the handler itself is not run.
  FFT->Window = &TabHamming;
  Rate.FFrameCount = 0;

  Surfaces = std::make_unique<TSurfaces>();
  const auto all = Surfaces->All();
  FViews = std::make_unique<QImage[]>(all.size());
  for (std::size_t i = 0; i < all.size(); ++i) {
    // The surfaces are always opaque, so they can be shown as RGB32 without a copy.
    const TBM32Info& info = *all[i]->Info;
    FViews[i] = QImage(reinterpret_cast<const uchar*>(info.Bits), info.Width, info.Height,
                       info.Stride, QImage::Format_RGB32);
  }

  // Made once: presenting a block repaints just these rectangles.
  FImageRegion = QRegion(SpectrumLeft, SpectrumTop, SpectrumWidth, SpectrumHeight);
  for (const int left : PlotLeft) FImageRegion += QRect(left, PlotTop, PlotSize, PlotSize);

  Playback = std::make_unique<TPlayback>(*this, FService);
  Recorder = new TWaveRecorder(this, Playback->Service());
  Recorder->setParent(this);
  Recorder->SetBufferFrames(BlockFrames);
  FHost = std::make_unique<THost>(*this);
  FRenderer = std::make_unique<CFrameRenderer>(Settings, Rate, *FFT, *Surfaces, *FHost);
  Recorder->OnData = [this](void* Data, std::int32_t Bytes, std::int32_t Frames,
                            std::int32_t& Done) { RecorderData(Data, Bytes, Frames, Done); };
  Recorder->OnOpen = [this](TWaveRecorder* Sender) { RecorderOpen(Sender); };
  Recorder->OnClose = [this](TWaveRecorder* Sender) { RecorderClose(Sender); };
  Recorder->OnDevicesChange = [this](TWaveRecorder* Sender) { RecorderDevicesChange(Sender); };

  const QLocale locale;
  const double duration = Recorder->BufferDuration();
  Memo1->appendPlainText(QStringLiteral("Duree_Tampon = ") + FormatFixed(duration, 2, locale) +
                         QStringLiteral(" sec ") + FormatFixed(1 / duration, 2, locale) +
                         QStringLiteral("(1/t)"));
  Memo1->appendPlainText(QStringLiteral("Images par seconde < ") +
                         FormatFixed(1 / duration, 2, locale) +
                         QStringLiteral(" (contrainte tampon)"));
  Memo1->appendPlainText(QStringLiteral("Liste des pilotes : "));
  for (const QString& device : Recorder->Devices()) Memo1->appendPlainText(device);
  FDeviceLines = Recorder->DeviceCount();
  FillDeviceList();

  // PowerRangeChange must come before SeuilChange, which scales by FScale.
  PowerOffsetChange(this);
  PowerRangeChange(this);
  CB_RemananceChange(this);
  FreqPlageChange(this);
  SeuilChange(this);
  EC2Z1LF1Change(this);
  EC2Z1LF2Change(this);
  EC2Z2LF1Change(this);
  EC2Z2LF2Change(this);
  UpdateCaption();
}

void TForm1::ShowChart() {
  if (!Chart) {
    Chart = new TVowelChart();
    Playback->Attach(*Chart);
    Chart->PrepareTake = [this] { return PrepareTake(); };
  }
  if (!Formants) Formants = std::make_unique<CFormantTracker>(Chart->FormantVoice());
  Chart->show();
  Chart->raise();
  Chart->activateWindow();
}

void TForm1::FormDestroy(QObject* /*Sender*/) {
  delete Chart;
  Chart = nullptr;
  Formants.reset();
  if (Recorder) {
    Recorder->Stop();
    delete Recorder;  // pending notifications go with it
    Recorder = nullptr;
  }
  Playback.reset();
  FRenderer.reset();
  FViews.reset();
  Surfaces.reset();
  FFT.reset();
}

void TForm1::paintEvent(QPaintEvent* Event) {
  // The window is opaque to Qt, so that presenting a block does not fill the
  // images' area with the background first; the rest is filled here.
  QRegion rest = Event->region();
  if (FViews) {
    const qreal ratio = devicePixelRatioF();
    for (std::size_t i = 0; i < std::size(FPlaces); ++i) {
      // What the image covers whole (one surface pixel to one device pixel).
      const QRectF r(FPlaces[i], QSizeF(FViews[i].size()) / ratio);
      const QPoint from(static_cast<int>(std::ceil(r.left())), static_cast<int>(std::ceil(r.top())));
      const QPoint to(static_cast<int>(std::floor(r.right())),
                      static_cast<int>(std::floor(r.bottom())));
      if (to.x() > from.x() && to.y() > from.y()) rest -= QRect(from, to - QPoint(1, 1));
    }
  }
  if (!rest.isEmpty()) {
    QPainter painter(this);
    for (const QRect& r : rest) painter.fillRect(r, palette().brush(backgroundRole()));
  }
  FormPaint(this);
}

QString TForm1::OpenRecording(const QString& Path) { return Playback->Open(Path); }

void TForm1::dragEnterEvent(QDragEnterEvent* Event) {
  if (Event->mimeData()->hasUrls()) Event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* Event) {
  const QList<QUrl> urls = Event->mimeData()->urls();
  if (urls.isEmpty() || !urls.first().isLocalFile()) return;
  Event->acceptProposedAction();
  const QString error = OpenRecording(urls.first().toLocalFile());
  if (!error.isEmpty()) QMessageBox::warning(this, QStringLiteral("Play a recording"), error);
}

void TForm1::FormPaint(QObject* /*Sender*/) {
  if (!FViews) return;
  QPainter painter(this);
  // One surface pixel to one device pixel, also on high-density screens.
  const qreal ratio = devicePixelRatioF();
  const auto& places = FPlaces;
  for (std::size_t i = 0; i < std::size(places); ++i) {
    const QImage& view = FViews[i];
    // A clip of one rectangle lets Qt copy the image rather than blend it.
    painter.setClipRect(QRectF(places[i], QSizeF(view.size()) / ratio).toAlignedRect());
    if (ratio == 1.0)
      painter.drawImage(places[i], view);
    else
      painter.drawImage(QRectF(places[i], QSizeF(view.size()) / ratio), view);
  }
}

void TForm1::UpdateCaption() {
  setWindowTitle(QStringLiteral("Quenvis par ZR ") + QString::fromStdString(Rate.FRateText) +
                 QStringLiteral(" img/s"));
}

void TForm1::RecorderData(void* Data, std::int32_t Bytes, std::int32_t Frames, std::int32_t& Done) {
  // The analysis reads a whole block; a smaller buffer cannot feed it.
  if (Recorder->BufferBytes() < BlockBytes) {
    Done = Frames;
    return;
  }
  // The chart, while shown, gets the same blocks with the spectrum drawn from
  // them; its estimator chooses its ceiling from the voice it hears unless
  // the chart's voice fixes it (remade only when that changes).
  TChartBlock toChart;
  if (Frames >= 0 && Frames < BlockFrames) {
    // What the buffer held before is no part of a short block: analysed as
    // silence, as quenvis-render pads a file's short last block.
    std::memset(static_cast<unsigned char*>(Data) + std::size_t(Frames) * 4, 0,
                std::size_t(BlockFrames - Frames) * 4);
  }
  if (Chart && Chart->isVisible() && Formants) {
    if (Formants->Voice() != Chart->FormantVoice())
      Formants = std::make_unique<CFormantTracker>(Chart->FormantVoice());
    toChart = {Data, Frames, FFT->Power.data(), Formants->Process(Data)};
    toChart.PowerScale = Settings.FScale;
    toChart.PowerOffset = Settings.FOffset;
    toChart.Time = Playback->BlockTime(Data);
    // Copied, not pointed at: the estimator may be replaced before the chart
    // takes the block (the renderer lets pending events run).
    const std::span<const double> rate2 = Formants->Rate2Signal(), rate4 = Formants->Rate4Signal();
    if (rate2.size() >= toChart.Rate2.size() && rate4.size() >= toChart.Rate4.size()) {
      std::copy(rate2.end() - std::ssize(toChart.Rate2), rate2.end(), toChart.Rate2.begin());
      std::copy(rate4.end() - std::ssize(toChart.Rate4), rate4.end(), toChart.Rate4.begin());
      toChart.Decimated = true;
    }
  }
  if (Recorder->IsStopping() || Bytes < Recorder->BufferBytes()) {
    // A block handed back as capture ends is shown, but it is no part of
    // the capture's pace, so the rate leaves it out.
    FRenderer->Draw(Data);
    FHost->Present();
    FRenderer->Fade();
    Done = Frames;
  } else {
    FRenderer->RecorderData(Data, Bytes, Frames, Done);
  }
  // The renderer may have let pending events run: the chart may be gone.
  if (toChart.Samples && Chart) Chart->AddBlock(toChart);
}

void TForm1::RecorderOpen(QObject* /*Sender*/) {}

void TForm1::RecorderClose(QObject* /*Sender*/) {
  if (FStartQueued) QMetaObject::invokeMethod(this, &TForm1::RunQueuedStart, Qt::QueuedConnection);
  // Capture that ends by itself leaves the window as Stop would, and says why.
  const EWaveInEnd end = Recorder->EndReason();
  const bool byItself = end != EWaveInEnd::Closed && !Recorder->IsStopping();
  const char* why = end == EWaveInEnd::ServerGone      ? "the sound server went away"
                    : end == EWaveInEnd::DeviceRemoved ? "the device was removed"
                    : end == EWaveInEnd::ServerEnded   ? "the sound server ended the stream"
                                                       : "no sound for 1.5 s";
  // A take ends with the capture.
  if (Chart) Chart->CaptureEnded(byItself ? QString::fromLatin1(why) : QString());
  Playback->RecorderClosed();
  if (!byItself) return;
  Rate.FRateText = "?";
  UpdateCaption();
  AddLine(QStringLiteral("Capture stopped: ") + QString::fromLatin1(why));
  if ((end == EWaveInEnd::ServerGone || end == EWaveInEnd::DeviceRemoved) && !Playback->Active()) {
    FResumeDevice = Recorder->DeviceNumber();
    FResumeSince.start();
  }
}

void TForm1::RecorderDevicesChange(QObject* /*Sender*/) {
  // The device lines of Memo1 follow the list; lines added below them stay.
  QStringList lines = Memo1->toPlainText().split(u'\n');
  const qsizetype first = 3;  // under "Liste des pilotes : "
  if (lines.size() >= first + FDeviceLines) {
    lines.remove(first, FDeviceLines);
    for (qsizetype i = 0; i < Recorder->DeviceCount(); ++i)
      lines.insert(first + i, Recorder->Devices()[i]);
    Memo1->setPlainText(lines.join(u'\n'));
    FDeviceLines = Recorder->DeviceCount();
    ShowNewestLine();
  }
  FillDeviceList();
  ResumeIfBack();
}

void TForm1::FillDeviceList() {
  // Each entry carries its device number, by which the choice is kept.
  const QVariant selected = CB_Pilotes->currentData();
  if (selected.isValid() && selected.toInt() != FShownDevice) FChosenDevice = selected.toInt();
  CB_Pilotes->clear();
  for (int32_t i = 0; i < Recorder->DeviceCount(); ++i)
    CB_Pilotes->addItem(Recorder->Devices()[i], Recorder->DeviceNumberAt(i));
  CB_Pilotes->setEnabled(Recorder->DeviceCount() > 0);
  int index = FChosenDevice >= 0 ? CB_Pilotes->findData(FChosenDevice) : -1;
  if (index < 0 && selected.isValid()) index = CB_Pilotes->findData(selected);
  if (index < 0) {
    const int current = Recorder->GetDevice();
    index = current < CB_Pilotes->count() ? current : -1;
  }
  CB_Pilotes->setCurrentIndex(index);
  const QVariant shown = CB_Pilotes->currentData();
  FShownDevice = shown.isValid() ? shown.toInt() : -1;
  // Until the user picks one, the device chosen at start is the choice.
  if (FChosenDevice < 0) FChosenDevice = FShownDevice;
}

void TForm1::ResumeIfBack() {
  if (FResumeDevice < 0 || Recorder->IsBusy() || Playback->Active()) return;
  if (FResumeSince.elapsed() > ResumeWithinMs) {
    FResumeDevice = -1;
    return;
  }
  const int index = CB_Pilotes->findData(FResumeDevice);
  if (index < 0) return;
  CB_Pilotes->setCurrentIndex(index);
  FChosenDevice = FShownDevice = FResumeDevice;
  // When it cannot be opened yet, a later change of the devices tries again.
  if (!StartCapture()) return;
  FResumeDevice = -1;
  AddLine(QStringLiteral("Capture resumed"));
}

void TForm1::RunQueuedStart() {
  if (!FStartQueued) return;
  FStartQueued = false;
  Bt_startClick(Bt_start);
}

bool TForm1::StartCapture() {
  Recorder->SetDevice(CB_Pilotes->currentIndex());
  Rate.FRateNow = TimeOfDay();
  Rate.FRateLast = Rate.FRateNow;
  Rate.FRateText = "?";
  // The first rate after Start counts only blocks captured since.
  Rate.FFrameCount = 0;
  FFT->Reset();
  if (Formants) Formants->Reset();
  return Recorder->Start();
}

QString TForm1::PrepareTake() {
  // The take's first block is analysed as quenvis-render analyses a file's.
  if (Formants) Formants->Reset();
  // During playback the take is of the sound played.
  if (Playback->Active() || FStartQueued) return {};
  if (Recorder->IsBusy() && !Recorder->IsStopping()) return {};
  if (PressStart()) return {};
  return QStringLiteral("capture could not start: ") + QString::fromLatin1(StartFailure());
}

const char* TForm1::StartFailure() const {
  return Recorder->DeviceCount() == 0                         ? "no device"
         : Recorder->StartResult() == MMSYSERR_NODRIVER ? "the sound server is not running"
                                                        : "the device could not be opened";
}

void TForm1::Bt_startClick(QObject* /*Sender*/) { PressStart(); }

bool TForm1::PressStart() {
  FResumeDevice = -1;
  FStartQueued = false;
  // While a recording plays, Start goes back to capture.
  if (Playback->Leave()) return true;
  const QVariant selected = CB_Pilotes->currentData();
  if (selected.isValid()) FChosenDevice = selected.toInt();
  if (StartCapture()) return true;
  const MMRESULT result = Recorder->StartResult();
  if (result == MMSYSERR_ALLOCATED) {
    // Refused while Stop is still closing the device: it starts once closed.
    // Otherwise capture goes on.
    if (Recorder->IsStopping()) {
      FStartQueued = true;
      if (!Recorder->IsBusy())
        QMetaObject::invokeMethod(this, &TForm1::RunQueuedStart, Qt::QueuedConnection);
      return true;
    }
    return Recorder->IsRecording();
  }
  AddLine(QStringLiteral("Start: ") + QString::fromLatin1(StartFailure()));
  return false;
}

void TForm1::Bt_stopClick(QObject* /*Sender*/) {
  FResumeDevice = -1;
  FStartQueued = false;
  Rate.FRateText = "?";
  UpdateCaption();
  Recorder->Stop();
}

void TForm1::AddLine(const QString& Line) {
  Memo1->appendPlainText(Line);
  ShowNewestLine();
}

void TForm1::ShowNewestLine() {
  // The box has no scroll bar, but still scrolls.
  QScrollBar* bar = Memo1->verticalScrollBar();
  bar->setValue(bar->maximum());
}

void TForm1::UpdatePowerRangeLabel() {
  const QLocale locale;
  SetLabelText(LPowerRange, FormatFixed(Settings.FOffset, 3, locale) + QStringLiteral(" to ") +
                                FormatFixed(255 / Settings.FScale + Settings.FOffset, 3, locale) +
                                QStringLiteral(" dB"));
}

void TForm1::PowerOffsetChange(QObject* /*Sender*/) {
  if (const auto offset = OffsetFromPowerOffset(PowerOffset->value())) Settings.FOffset = *offset;
  UpdatePowerRangeLabel();
}

void TForm1::PowerRangeChange(QObject* /*Sender*/) {
  if (const auto scale = ScaleFromPowerRange(PowerRange->value())) Settings.FScale = *scale;
  UpdatePowerRangeLabel();
}

void TForm1::CB_RemananceChange(QObject* /*Sender*/) {
  if (const auto fade = FadeFromRemanance(Remanance->value())) Settings.FFade = *fade;
}

void TForm1::FreqPlageChange(QObject* /*Sender*/) {
  if (const auto shift = ShiftFromFreqPlage(FreqPlage->value())) Settings.FShift = *shift;
  // Within the limits this is FreqMaxTab[value]; outside, the range still in force.
  SetLabelText(LFreqPlage, QStringLiteral("0 to ") +
                               FormatGrouped(FreqMaxForShift(Settings.FShift), QLocale()) +
                               QStringLiteral(" Hz"));
}

void TForm1::SeuilChange(QObject* /*Sender*/) {
  if (const auto threshold = ThresholdFromSeuil(Seuil->value(), Settings.FScale))
    Settings.FThreshold = *threshold;
}

void TForm1::EC2Z1LF1Change(QObject* /*Sender*/) {
  if (const auto bin = BinFromHz(EC2Z1LF1->value(), Zone1LoLimits)) Settings.FZone1Lo = *bin;
}

void TForm1::EC2Z1LF2Change(QObject* /*Sender*/) {
  if (const auto bin = BinFromHz(EC2Z1LF2->value(), Zone1HiLimits)) Settings.FZone1Hi = *bin;
}

void TForm1::EC2Z2LF1Change(QObject* /*Sender*/) {
  if (const auto bin = BinFromHz(EC2Z2LF1->value(), Zone2LoLimits)) Settings.FZone2Lo = *bin;
}

void TForm1::EC2Z2LF2Change(QObject* /*Sender*/) {
  if (const auto bin = BinFromHz(EC2Z2LF2->value(), Zone2HiLimits)) Settings.FZone2Hi = *bin;
}

void TForm1::windowChange(QObject* /*Sender*/) {
  FFT->Window = &WindowTable(window->currentIndex());
}

}  // namespace quenvis
