#include "chart/VowelChart.h"

#include <QActionGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QToolButton>
#include <QFile>
#include <QFileDialog>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QSplitter>
#include <QVBoxLayout>
#include <cmath>

#include "analysis/Common.h"
#include "chart/ChartFile.h"
#include "chart/ChartHelp.h"
#include "chart/ChartTools.h"
#include "chart/MarkerControl.h"
#include "chart/SonogramView.h"
#include "chartdraw/ChartSaver.h"
#include "takes/TakeRecorder.h"
#include "takes/TakesList.h"
#include "takes/Timeline.h"
#include "chart/VoicePanel.h"

namespace quenvis {

TVowelChart::TVowelChart(QWidget* Parent) : QWidget(Parent, Qt::Window) {
  setObjectName(QStringLiteral("VowelChart"));
  setWindowTitle(QStringLiteral("Quenvis vowel chart"));
  setMinimumSize(360, 300);
  resize(800, 600 + ToolbarHeight + 480);

  // The toolbar takes no keyboard focus, so Space and C always reach the chart.
  FVoiceList = new QComboBox(this);
  FVoiceList->setObjectName(QStringLiteral("voiceList"));
  FVoiceList->addItem(QStringLiteral("auto"));
  for (const EVoice v : Voices) FVoiceList->addItem(QString::fromLatin1(VoiceName(v)));
  FLoad = new QPushButton(QStringLiteral("Load references..."), this);
  FBuiltIn = new QPushButton(QStringLiteral("Built-in references"), this);
  FStatus = new QLabel(this);
  FVoiceList->setToolTip(QStringLiteral(
      "Whose reference vowels to show; a voice also fixes the estimator's range (auto finds it)"));
  FLoad->setToolTip(QStringLiteral("Load your own reference vowels from a CSV file"));
  FBuiltIn->setToolTip(QStringLiteral("Go back to the built-in reference vowels"));
  for (QWidget* w : {static_cast<QWidget*>(FVoiceList), static_cast<QWidget*>(FLoad),
                     static_cast<QWidget*>(FBuiltIn)})
    w->setFocusPolicy(Qt::NoFocus);
  // Two groups: the references and the takes, side by side, or the takes
  // on a second row when the window is too narrow for both. The status line
  // takes what is left and never widens the window.
  FRefsBox = new QWidget(this);
  auto* refs = new QHBoxLayout(FRefsBox);
  refs->setContentsMargins(0, 0, 0, 0);
  refs->addWidget(new QLabel(QStringLiteral("Voice:"), FRefsBox));
  refs->addWidget(FVoiceList);
  refs->addWidget(FLoad);
  refs->addWidget(FBuiltIn);
  FStatus->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  FTakesBox = new QWidget(this);
  auto* bar = new QHBoxLayout(FTakesBox);
  bar->setContentsMargins(0, 0, 0, 0);
  FToolbar = new QGridLayout;
  FToolbar->setContentsMargins(6, 3, 6, 3);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->addLayout(FToolbar);
  // The plane above, the voice measures and the spectrogram below; the user
  // sets the shares.
  FPlane = new TVowelPlane(this);
  FVoicePanel = new TVoicePanel(this);
  FVoiceMeasures = std::make_unique<CVoiceMeasures>();
  FSpectrogram = new TSpectrogramView(this);
  FSplitter = new QSplitter(Qt::Vertical, this);
  FSplitter->setChildrenCollapsible(false);
  FSplitter->addWidget(FPlane);
  FSplitter->addWidget(FVoicePanel);
  FSplitter->addWidget(FSpectrogram);
  FSplitter->setStretchFactor(0, 5);
  FSplitter->setStretchFactor(1, 2);
  FSplitter->setStretchFactor(2, 2);
  FSplitter->setSizes({600, 240, 240});
  column->addWidget(FSplitter, 1);
  setFocusPolicy(Qt::StrongFocus);

  // Takes: Record (R) with its red mark and time, Open... (Ctrl+O), where and
  // how takes are written; the timeline of a recording at the bottom.
  FTakes = new TTakeRecorder(this);
  FRecordMark = new QLabel(this);
  FRecordMark->setStyleSheet(QStringLiteral("color: rgb(220, 30, 30); font-weight: bold"));
  FRecord = new QPushButton(QStringLiteral("Record"), this);
  FRecord->setCheckable(true);
  FRecord->setToolTip(QStringLiteral("Record a take (R)"));
  FOpen = new QPushButton(QStringLiteral("Open..."), this);
  FOpen->setToolTip(QStringLiteral("Play a recording (Ctrl+O)"));
  FTakeSettings = new QToolButton(this);
  FTakeSettings->setText(QStringLiteral("Takes"));
  FTakeSettings->setPopupMode(QToolButton::InstantPopup);
  FTakeSettings->setToolTip(
      QStringLiteral("The takes list (Ctrl+T), the takes' format and folder"));
  BuildTakeSettings();
  auto* help = new QToolButton(this);
  help->setText(QStringLiteral("?"));
  help->setObjectName(QStringLiteral("help"));
  help->setToolTip(QStringLiteral("Keys and mouse (F1)"));
  for (QWidget* w : {static_cast<QWidget*>(FRecord), static_cast<QWidget*>(FOpen),
                     static_cast<QWidget*>(FTakeSettings), static_cast<QWidget*>(help)})
    w->setFocusPolicy(Qt::NoFocus);
  bar->addWidget(FRecordMark);
  bar->addWidget(FRecord);
  bar->addWidget(FOpen);
  bar->addWidget(FTakeSettings);
  // A long message may not fit beside the buttons: the whole of it shows on hover.
  FTools = new TChartTools(this, FPlane, [this](const QString& Text) {
    FStatus->setText(Text);
    FStatus->setToolTip(Text);
  });
  bar->addWidget(FTools->CompareButton());
  bar->addWidget(FTools->TargetsButton());
  bar->addWidget(help);
  connect(help, &QToolButton::clicked, this, &TVowelChart::ShowHelp);
  PlaceToolbar();
  setMinimumWidth(std::max(minimumWidth(), std::max(FRefsBox->minimumSizeHint().width(),
                                                    FTakesBox->minimumSizeHint().width()) +
                                               12));
  FTimeline = new TTimeline(this);
  FTimeline->hide();
  column->addWidget(FTimeline);
  FMarkerControl = new TMarkerControl(*this, *FTakes, *FTimeline, *FSpectrogram);
  FMarkerControl->Tell = [this](const QString& Message) { FStatus->setText(Message); };
  setAcceptDrops(true);
  connect(FRecord, &QPushButton::clicked, this, [this] { ToggleRecording(); });
  connect(FOpen, &QPushButton::clicked, this, &TVowelChart::AskForRecording);
  connect(FTakes, &TTakeRecorder::stateChanged, this, &TVowelChart::UpdateRecordMark);
  connect(FTakes, &TTakeRecorder::problem, this, &TVowelChart::TakeProblem);
  connect(FTakes, &TTakeRecorder::saved, this,
          [this](const QString& Path) {
            FStatus->setText(QStringLiteral("Saved ") + Path);
            if (FTakesList) FTakesList->Refresh();
          });
  connect(FTakes, &TTakeRecorder::nothingKept, this,
          [this](const QString& Message) { FStatus->setText(Message); });

  connect(FVoiceList, &QComboBox::activated, this,
          [this](int Index) {
            if (Index <= 0)
              SetAutomaticVoice();
            else
              SetVoice(Voices[std::clamp(Index - 1, 0, 2)]);
          });
  connect(FLoad, &QPushButton::clicked, this, &TVowelChart::AskForReferences);
  connect(FBuiltIn, &QPushButton::clicked, this, &TVowelChart::UseBuiltInReferences);
  const auto shortcut = [this](const QKeySequence& Keys, auto Action) {
    connect(new QShortcut(Keys, this), &QShortcut::activated, this, Action);
  };
  // While a recording plays, Space pauses the playing instead.
  shortcut(QKeySequence(Qt::Key_Space), [this] {
    if (!FTimeline->isHidden())
      emit playPauseRequested();
    else
      SetPaused(!FPaused);
  });
  shortcut(QKeySequence(Qt::Key_R), [this] { ToggleRecording(); });
  shortcut(QKeySequence::Open, [this] { AskForRecording(); });
  shortcut(QKeySequence(Qt::Key_Left), [this] {
    if (!FTimeline->isHidden()) FTimeline->Step(-TTimeline::StepSeconds);
  });
  shortcut(QKeySequence(Qt::Key_Right), [this] {
    if (!FTimeline->isHidden()) FTimeline->Step(TTimeline::StepSeconds);
  });
  shortcut(QKeySequence(Qt::Key_L), [this] {
    if (!FTimeline->isHidden()) FTimeline->ToggleLoop();
  });
  shortcut(QKeySequence(Qt::Key_C), [this] { ClearTrail(); });
  shortcut(QKeySequence(Qt::Key_M), [this] { FMarkerControl->AddMarker(); });
  shortcut(QKeySequence(Qt::SHIFT | Qt::Key_M), [this] { FMarkerControl->NameSelection(); });
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_T), [this] { ShowTakesList(); });
  shortcut(QKeySequence(Qt::Key_F1), [this] { ShowHelp(); });
  shortcut(QKeySequence::Save, [this] { SaveWithDialog(); });
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_W), [this] { close(); });

  // What the user chose last time; a reference file that no longer loads
  // leaves the built-in set.
  QSettings settings;  // the application's own, named by the program
  restoreGeometry(settings.value(QStringLiteral("chart/geometry")).toByteArray());
  FSplitter->restoreState(settings.value(QStringLiteral("chart/splitter")).toByteArray());
  FSpectrogram->SetTopHz(
      settings.value(QStringLiteral("chart/spectrogramTopHz"), CLiveSpectrogram::DefaultTopHz)
          .toDouble());
  connect(FSpectrogram, &TSpectrogramView::TopHzChanged, this, [this] { Remember(); });
  FFormantVoice =
      ParseVoice(settings.value(QStringLiteral("chart/voice")).toString().toStdString());
  FPlane->Painter().SetVoice(FFormantVoice.value_or(DefaultVoice));
  FVoiceList->setCurrentIndex(FFormantVoice ? 1 + static_cast<int>(*FFormantVoice) : 0);
  const QString path = settings.value(QStringLiteral("chart/references")).toString();
  if (!path.isEmpty()) LoadReferences(path);
}

// The main window deletes the chart without closing it when the program ends:
// what the user set since (the splitter, say) is kept here.
TVowelChart::~TVowelChart() { Remember(); }

void TVowelChart::AddBlock(const TChartBlock& Block) {
  const TFormants& f = Block.Formants;
  // The measures look back over seconds: they take every block, paused or
  // not, whole as the formant estimator does, and start afresh where the
  // stream jumps (a recording sought).
  if (Block.Time >= 0 && std::abs(Block.Time - FNextTime) > 0.5 * BlockFrames / SampleRate) {
    FVoiceMeasures->Reset();
    // Half a second inside a target means half a second of the take.
    if (FPlane->Targets().Holding())
      FPlane->EditTargets([](CTargetVowels& T) { T.ResetHolds(); });
  }
  TVoice voice;
  if (Block.Samples) {
    if (Block.Decimated)
      FVoiceMeasures->Feed(Block.Samples, BlockFrames, Block.Rate2, Block.Rate4);
    else
      FVoiceMeasures->Feed(Block.Samples, BlockFrames);
    voice = FVoiceMeasures->Analyse(f);
    if (!FPaused) FVoicePanel->Add(voice, f.Voiced ? f.F0 : 0.0);
  }
  FMarkerControl->Block(Block.Time >= 0 ? Block.Time : FNextTime);
  if (FTakes->Recording()) {
    if (Block.Frames > 0) FTakes->Add(Block.Samples, Block.Frames, f, voice);
    UpdateRecordMark();
  }
  AddEstimate({f.Voiced && f.F[0] > 0 && f.F[1] > 0, f.F0, f.F[0], f.F[1], f.Clipped});
  const double time = Block.Time >= 0 ? Block.Time : FNextTime;
  FNextTime = time + double(BlockFrames) / SampleRate;
  if (FPaused || !Block.Power) return;
  if (Block.PowerScale > 0) FSpectrogram->SetPowerScale(Block.PowerScale, Block.PowerOffset);
  FSpectrogram->AddBlock(time, Block.Power, f);
}

void TVowelChart::AddEstimate(const TVowelEstimate& Estimate) {
  if (FPaused) return;
  FPlane->AddEstimate(Estimate);
}

const CVowelChartPainter& TVowelChart::Painter() const noexcept { return FPlane->Painter(); }

QString TVowelChart::Readout() const {
  const TVowelEstimate& e = FPlane->Shown();
  return ReadoutText(e.Voiced, e.F0, e.F1, e.F2, e.Clipped);
}

void TVowelChart::SetPaused(bool Paused) {
  FPaused = Paused;
  FStatus->setText(Paused ? QStringLiteral("Paused (Space resumes)") : QString());
}

void TVowelChart::ClearTrail() { FPlane->ClearTrail(); }

bool TVowelChart::LatestPoint(double& F1, double& F2) const { return FPlane->LatestPoint(F1, F2); }

void TVowelChart::SetVoice(EVoice Voice) {
  FFormantVoice = Voice;
  FPlane->Painter().SetVoice(Voice);
  FVoiceList->setCurrentIndex(1 + static_cast<int>(Voice));
  FPlane->Rebuild();
  Remember();
}

void TVowelChart::SetAutomaticVoice() {
  FFormantVoice.reset();
  FPlane->Painter().SetVoice(DefaultVoice);
  FVoiceList->setCurrentIndex(0);
  FPlane->Rebuild();
  Remember();
}

QString TVowelChart::LoadReferences(const QString& Path) {
  std::vector<TReferenceVowel> set;
  QByteArray data;
  QString error = ReadChartFile(Path, MaxReferenceBytes, data);
  if (error.isEmpty()) {
    error = QString::fromStdString(ParseReferenceCsv(
        std::string_view(data.constData(), static_cast<std::size_t>(data.size())), set));
  }
  if (!error.isEmpty()) {
    error = QFileInfo(Path).fileName() + QStringLiteral(": ") + error;
    FStatus->setText(error);
    return error;
  }
  FPlane->Painter().SetReferences(std::move(set));
  FReferencePath = Path;
  FStatus->setText(QFileInfo(Path).fileName());
  FPlane->Rebuild();
  Remember();
  return {};
}

void TVowelChart::UseBuiltInReferences() {
  FPlane->Painter().SetReferences({});
  FReferencePath.clear();
  FStatus->clear();
  FPlane->Rebuild();
  Remember();
}

void TVowelChart::AskForReferences() {
  const QString path =
      QFileDialog::getOpenFileName(this, QStringLiteral("Load reference vowels"), FReferencePath,
                                   QStringLiteral("Reference vowels (*.csv);;All files (*)"));
  if (path.isEmpty()) return;
  const QString error = LoadReferences(path);
  if (!error.isEmpty())
    QMessageBox::warning(
        this, QStringLiteral("Reference vowels"),
        error + QStringLiteral("\n\nExpected lines of label,f1_hz,f2_hz[,voice]."));
}

QImage TVowelChart::Render() const {
  // A window not shown yet has not laid out its halves.
  if (!isVisible()) layout()->activate();
  return FPlane->Render();
}

bool TVowelChart::SaveImage(const QString& Path) const {
  if (!isVisible()) layout()->activate();
  const QString caption = Caption();
  return CChartSaver::Save(Path, QSizeF(FPlane->size()), FPlane->devicePixelRatioF(),
                           caption, [&](QPainter& P) { FPlane->PaintAll(P, caption); })
      .isEmpty();
}

QString TVowelChart::Caption() const {
  if (FPlayingName.isEmpty())
    return QStringLiteral("Live, ") +
           QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
  // The time of the block shown last.
  const double t = std::max(0.0, FNextTime - double(BlockFrames) / SampleRate);
  const std::int32_t tenths = RoundToInt32(t * 10);
  return FPlayingName + QStringLiteral(" at %1:%2.%3")
                            .arg(tenths / 600)
                            .arg(tenths / 10 % 60, 2, 10, QLatin1Char('0'))
                            .arg(tenths % 10);
}

QString TVowelChart::SaveFolder() const {
  return QSettings().value(QStringLiteral("chart/saveFolder"), FTakes->Folder()).toString();
}

bool TVowelChart::SaveChart(const QString& Path) {
  if (!SaveImage(Path)) return false;
  QSettings().setValue(QStringLiteral("chart/saveFolder"), QFileInfo(Path).absolutePath());
  FStatus->setText(QStringLiteral("Chart saved to ") + Path);
  return true;
}

void TVowelChart::SaveWithDialog() {
  const QString suggested =
      SaveFolder() + QStringLiteral("/quenvis-chart-") +
      QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")) +
      QStringLiteral(".png");
  const QString png = QStringLiteral("PNG images (*.png)"), svg = QStringLiteral("SVG drawings (*.svg)");
  QString filter = png;
  QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save the chart"), suggested,
                                              png + QStringLiteral(";;") + svg, &filter);
  if (path.isEmpty()) return;
  // A name without its extension gets the chosen kind's.
  if (QFileInfo(path).suffix().isEmpty())
    path += filter == svg ? QStringLiteral(".svg") : QStringLiteral(".png");
  if (!SaveChart(path))
    QMessageBox::warning(this, QStringLiteral("Save the chart"),
                         QStringLiteral("Could not write ") + path);
}

void TVowelChart::PlaceToolbar() {
  const bool narrow = width() < FRefsBox->minimumSizeHint().width() +
                                    FTakesBox->minimumSizeHint().width() + 60;
  if (FToolbar->count() > 0 && narrow == FNarrowToolbar) return;
  FNarrowToolbar = narrow;
  for (QWidget* w : {FRefsBox, static_cast<QWidget*>(FStatus), FTakesBox}) FToolbar->removeWidget(w);
  FToolbar->addWidget(FRefsBox, 0, 0);
  FToolbar->addWidget(FStatus, 0, 1);
  FToolbar->addWidget(FTakesBox, narrow ? 1 : 0, narrow ? 0 : 2, Qt::AlignLeft);
  FToolbar->setColumnStretch(1, 1);
}

void TVowelChart::resizeEvent(QResizeEvent* Event) {
  PlaceToolbar();
  QWidget::resizeEvent(Event);
}

void TVowelChart::closeEvent(QCloseEvent* Event) {
  // The chart hands the blocks over: a take ends with it.
  FTakes->Stop();
  Remember();
  QWidget::closeEvent(Event);
}

void TVowelChart::Remember() const {
  QSettings settings;  // the application's own, named by the program
  settings.setValue(QStringLiteral("chart/geometry"), saveGeometry());
  settings.setValue(QStringLiteral("chart/voice"),
                    FFormantVoice ? QString::fromLatin1(VoiceName(*FFormantVoice))
                                  : QStringLiteral("auto"));
  settings.setValue(QStringLiteral("chart/references"), FReferencePath);
  settings.setValue(QStringLiteral("chart/splitter"), FSplitter->saveState());
  settings.setValue(QStringLiteral("chart/spectrogramTopHz"), FSpectrogram->TopHz());
}

}  // namespace quenvis

namespace quenvis {

void TVowelChart::ShowTimeline(bool Shown) {
  FPlaying = Shown;
  FTimeline->setVisible(Shown);
}

QString TVowelChart::Status() const { return FStatus->text(); }

void TVowelChart::SetPlayingName(const QString& Name, bool EndsEarly) {
  const QString title = QStringLiteral("Quenvis vowel chart");
  FPlayingName = Name;
  if (Name.isEmpty()) {
    setWindowTitle(title);
    return;
  }
  setWindowTitle(Name + (EndsEarly ? QStringLiteral(" (cut short)") : QString()) +
                 QStringLiteral(" - ") + title);
  if (EndsEarly)
    FStatus->setText(Name + QStringLiteral(": the file ends early; it plays what it holds"));
}

void TVowelChart::ToggleRecording() {
  if (FTakes->Recording()) {
    // "Saved" comes once the files are closed and hold sound.
    FTakes->Stop();
    FStatus->setText(QStringLiteral("Saving ") + FTakes->LastPath());
    return;
  }
  if (PrepareTake) {
    const QString why = PrepareTake();
    if (!why.isEmpty()) {
      TakeProblem(QStringLiteral("Cannot record: ") + why);
      UpdateRecordMark();
      return;
    }
  }
  const QString error = FTakes->Start();
  if (!error.isEmpty()) {
    TakeProblem(QStringLiteral("Cannot record: ") + error);
  } else {
    // The take's measures start afresh, as quenvis-render's do on its file.
    FVoiceMeasures->Reset();
    FStatus->setText(FPlaying ? QStringLiteral("Recording the sound being played")
                              : QStringLiteral("Recording"));
  }
  UpdateRecordMark();
}

void TVowelChart::CaptureEnded(const QString& Why) {
  if (!FTakes->Recording()) return;
  FTakes->Stop(Why.isEmpty() ? QString() : QStringLiteral("capture stopped: ") + Why);
}

void TVowelChart::UpdateRecordMark() {
  const bool on = FTakes->Recording();
  FRecord->setChecked(on);
  const int second = on ? int(FTakes->Elapsed()) : -1;
  if (second == FShownSecond) return;
  FShownSecond = second;
  FRecordMark->setText(on ? QStringLiteral("\u25CF %1:%2")
                                .arg(second / 60)
                                .arg(second % 60, 2, 10, QLatin1Char('0'))
                          : QString());
}

void TVowelChart::TakeProblem(const QString& Message) {
  FTakeMessage = Message;
  FStatus->setText(Message.section(u'\n', 0, 0));
  // Not modal: capture goes on while the message is read.
  auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Takes"), Message,
                              QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

void TVowelChart::AskForRecording() {
  const QString path = QFileDialog::getOpenFileName(
      this, QStringLiteral("Play a recording"), FTakes->Folder(),
      QStringLiteral("Recordings (*.flac *.wav *.ogg *.mp3 *.aiff *.aif *.au *.w64 *.rf64);;"
                     "All files (*)"));
  if (!path.isEmpty()) emit openRequested(path);
}

void TVowelChart::BuildTakeSettings() {
  auto* menu = new QMenu(FTakeSettings);
  connect(menu->addAction(QStringLiteral("Takes list...\tCtrl+T")), &QAction::triggered, this,
          [this] { ShowTakesList(); });
  menu->addSeparator();
  auto* formats = new QActionGroup(menu);
  for (const ETakeFormat f : {ETakeFormat::Flac, ETakeFormat::Wav}) {
    QAction* a = menu->addAction(f == ETakeFormat::Flac ? QStringLiteral("Record FLAC")
                                                        : QStringLiteral("Record WAV"));
    a->setCheckable(true);
    a->setChecked(FTakes->Format() == f);
    formats->addAction(a);
    connect(a, &QAction::triggered, this, [this, f] { FTakes->SetFormat(f); });
  }
  menu->addSeparator();
  connect(menu->addAction(QStringLiteral("Folder for takes...")), &QAction::triggered, this,
          [this] {
            const QString folder = QFileDialog::getExistingDirectory(
                this, QStringLiteral("Folder for takes"), FTakes->Folder());
            if (!folder.isEmpty()) FTakes->SetFolder(folder);
          });
  FTakeSettings->setMenu(menu);
}

void TVowelChart::dragEnterEvent(QDragEnterEvent* Event) {
  if (Event->mimeData()->hasUrls()) Event->acceptProposedAction();
}

void TVowelChart::dropEvent(QDropEvent* Event) {
  const QList<QUrl> urls = Event->mimeData()->urls();
  if (urls.isEmpty() || !urls.first().isLocalFile()) return;
  Event->acceptProposedAction();
  // A table is no recording: it is a take to compare with.
  const QString path = urls.first().toLocalFile();
  if (path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive)) {
    const QString error = FTools->CompareWith(path);
    if (!error.isEmpty()) QMessageBox::warning(this, QStringLiteral("Compare"), error);
    return;
  }
  emit openRequested(path);
}

TTakesList& TVowelChart::ShowTakesList() {
  if (!FTakesList) {
    FTakesList = new TTakesList(this);
    FTakesList->setWindowFlag(Qt::Window);
    // The files of a take being written or played stay where they are.
    FTakesList->Busy = [this](const QString& Path) {
      const QString path = QFileInfo(Path).absoluteFilePath();
      if (FTakes->Recording() && QFileInfo(FTakes->LastPath()).absoluteFilePath() == path)
        return QStringLiteral("it is being recorded");
      if (FMarkerControl->PlayingPath() == path)
        return QStringLiteral("it is playing (Start in the main window goes back to capture)");
      return QString();
    };
    // Played while it is written, a take would record itself.
    connect(FTakesList, &TTakesList::openRequested, this, [this](const QString& Path) {
      if (FTakes->Recording() &&
          QFileInfo(FTakes->LastPath()).absoluteFilePath() == QFileInfo(Path).absoluteFilePath()) {
        FStatus->setText(QStringLiteral("That take is being recorded: end it first (R)"));
        return;
      }
      emit openRequested(Path);
    });
    connect(FTakesList, &TTakesList::takeRenamed, FMarkerControl, &TMarkerControl::TakeRenamed);
    connect(FTakesList, &TTakesList::takeRemoved, FMarkerControl, &TMarkerControl::TakeRemoved);
  }
  FTakesList->SetFolder(QDir(FTakes->Folder()).absolutePath());
  FTakesList->show();
  FTakesList->raise();
  return *FTakesList;
}

void TVowelChart::ShowHelp() {
  if (!FHelp) {
    FHelp = new TChartHelp(this);
    FHelp->setWindowFlag(Qt::Window);
  }
  FHelp->show();
  FHelp->raise();
}

}  // namespace quenvis
