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
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QVBoxLayout>

#include "chart/TakeRecorder.h"
#include "chart/Timeline.h"

namespace quenvis {

namespace {

const QColor DotColour(200, 40, 40);

}  // namespace

TVowelChart::TVowelChart(QWidget* Parent) : QWidget(Parent, Qt::Window) {
  setObjectName(QStringLiteral("VowelChart"));
  setWindowTitle(QStringLiteral("Quenvis vowel chart"));
  setMinimumSize(360, 300);
  resize(800, 600 + ToolbarHeight);

  // The toolbar takes no keyboard focus, so Space and C always reach the chart.
  FVoiceList = new QComboBox(this);
  for (const EVoice v : Voices) FVoiceList->addItem(QString::fromLatin1(VoiceName(v)));
  FLoad = new QPushButton(QStringLiteral("Load references..."), this);
  FBuiltIn = new QPushButton(QStringLiteral("Built-in references"), this);
  FStatus = new QLabel(this);
  for (QWidget* w : {static_cast<QWidget*>(FVoiceList), static_cast<QWidget*>(FLoad),
                     static_cast<QWidget*>(FBuiltIn)})
    w->setFocusPolicy(Qt::NoFocus);
  auto* bar = new QHBoxLayout;
  bar->setContentsMargins(6, 3, 6, 3);
  bar->addWidget(new QLabel(QStringLiteral("Voice:"), this));
  bar->addWidget(FVoiceList);
  bar->addWidget(FLoad);
  bar->addWidget(FBuiltIn);
  bar->addWidget(FStatus, 1);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->addLayout(bar);
  column->addStretch(1);
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
  BuildTakeSettings();
  for (QWidget* w : {static_cast<QWidget*>(FRecord), static_cast<QWidget*>(FOpen),
                     static_cast<QWidget*>(FTakeSettings)})
    w->setFocusPolicy(Qt::NoFocus);
  bar->addWidget(FRecordMark);
  bar->addWidget(FRecord);
  bar->addWidget(FOpen);
  bar->addWidget(FTakeSettings);
  FTimeline = new TTimeline(this);
  FTimeline->hide();
  column->addWidget(FTimeline);
  setAcceptDrops(true);
  connect(FRecord, &QPushButton::clicked, this, [this] { ToggleRecording(); });
  connect(FOpen, &QPushButton::clicked, this, &TVowelChart::AskForRecording);
  connect(FTakes, &TTakeRecorder::stateChanged, this, &TVowelChart::UpdateRecordMark);
  connect(FTakes, &TTakeRecorder::problem, this, &TVowelChart::TakeProblem);

  connect(FVoiceList, &QComboBox::activated, this,
          [this](int Index) { SetVoice(Voices[std::clamp(Index, 0, 2)]); });
  connect(FLoad, &QPushButton::clicked, this, &TVowelChart::AskForReferences);
  connect(FBuiltIn, &QPushButton::clicked, this, &TVowelChart::UseBuiltInReferences);
  const auto shortcut = [this](const QKeySequence& Keys, auto Action) {
    connect(new QShortcut(Keys, this), &QShortcut::activated, this, Action);
  };
  // While a recording plays, Space pauses the playing instead.
  shortcut(QKeySequence(Qt::Key_Space), [this] {
    if (FTimeline->isVisible())
      emit playPauseRequested();
    else
      SetPaused(!FPaused);
  });
  shortcut(QKeySequence(Qt::Key_R), [this] { ToggleRecording(); });
  shortcut(QKeySequence::Open, [this] { AskForRecording(); });
  shortcut(QKeySequence(Qt::Key_Left), [this] {
    if (FTimeline->isVisible()) FTimeline->Step(-TTimeline::StepSeconds);
  });
  shortcut(QKeySequence(Qt::Key_Right), [this] {
    if (FTimeline->isVisible()) FTimeline->Step(TTimeline::StepSeconds);
  });
  shortcut(QKeySequence(Qt::Key_L), [this] {
    if (FTimeline->isVisible()) FTimeline->ToggleLoop();
  });
  shortcut(QKeySequence(Qt::Key_C), [this] { ClearTrail(); });
  shortcut(QKeySequence::Save, [this] { SaveWithDialog(); });
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_W), [this] { close(); });

  // What the user chose last time; a reference file that no longer loads
  // leaves the built-in set.
  QSettings settings;  // the application's own, named by the program
  restoreGeometry(settings.value(QStringLiteral("chart/geometry")).toByteArray());
  const auto voice =
      ParseVoice(settings.value(QStringLiteral("chart/voice")).toString().toStdString());
  FPainter.SetVoice(voice.value_or(DefaultVoice));
  FVoiceList->setCurrentIndex(static_cast<int>(FPainter.Voice()));
  const QString path = settings.value(QStringLiteral("chart/references")).toString();
  if (!path.isEmpty()) LoadReferences(path);
}

TVowelChart::~TVowelChart() = default;

void TVowelChart::AddBlock(const TChartBlock& Block) {
  const TFormants& f = Block.Formants;
  if (FTakes->Recording()) {
    FTakes->Add(Block.Samples, Block.Frames, f);
    UpdateRecordMark();
  }
  AddEstimate({f.Voiced && f.F[0] > 0 && f.F[1] > 0, f.F0, f.F[0], f.F[1]});
}

void TVowelChart::AddEstimate(const TVowelEstimate& Estimate) {
  if (FPaused) return;
  FNewest = (FNewest + 1) % TrailBlocks;
  FTrail[static_cast<std::size_t>(FNewest)] = {Estimate.Voiced, Estimate.F1, Estimate.F2};
  FLatest = Estimate;
  update();
}

void TVowelChart::SetPaused(bool Paused) {
  FPaused = Paused;
  FStatus->setText(Paused ? QStringLiteral("Paused (Space resumes)") : QString());
}

void TVowelChart::ClearTrail() {
  FTrail.fill({});
  FNewest = -1;
  FLatest = {};
  update();
}

bool TVowelChart::LatestPoint(double& F1, double& F2) const {
  for (int age = 0; FNewest >= 0 && age < TrailBlocks; ++age) {
    const TTrailPoint& p =
        FTrail[static_cast<std::size_t>((FNewest - age + TrailBlocks) % TrailBlocks)];
    if (p.Voiced) {
      F1 = p.F1;
      F2 = p.F2;
      return true;
    }
  }
  return false;
}

void TVowelChart::SetVoice(EVoice Voice) {
  FPainter.SetVoice(Voice);
  FVoiceList->setCurrentIndex(static_cast<int>(Voice));
  Rebuild();
  Remember();
}

QString TVowelChart::LoadReferences(const QString& Path) {
  QFile file(Path);
  QString error;
  std::vector<TReferenceVowel> set;
  if (!file.open(QIODevice::ReadOnly)) {
    error = file.errorString();
  } else {
    const QByteArray data = file.read(MaxReferenceBytes + 1);
    error = QString::fromStdString(ParseReferenceCsv(
        std::string_view(data.constData(), static_cast<std::size_t>(data.size())), set));
  }
  if (!error.isEmpty()) {
    error = QFileInfo(Path).fileName() + QStringLiteral(": ") + error;
    FStatus->setText(error);
    return error;
  }
  FPainter.SetReferences(std::move(set));
  FReferencePath = Path;
  FStatus->setText(QFileInfo(Path).fileName());
  Rebuild();
  Remember();
  return {};
}

void TVowelChart::UseBuiltInReferences() {
  FPainter.SetReferences({});
  FReferencePath.clear();
  FStatus->clear();
  Rebuild();
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
  const qreal ratio = devicePixelRatioF();
  const QSizeF size(width(), height() - ToolbarHeight - TimelineHeight());
  QImage image((size * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(ratio);
  QPainter painter(&image);
  PaintChart(painter, size);
  return image;
}

bool TVowelChart::SaveImage(const QString& Path) const { return Render().save(Path, "PNG"); }

void TVowelChart::SaveWithDialog() {
  const QString suggested =
      QStringLiteral("quenvis-chart-") +
      QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")) +
      QStringLiteral(".png");
  const QString path = QFileDialog::getSaveFileName(
      this, QStringLiteral("Save the chart"), suggested, QStringLiteral("PNG images (*.png)"));
  if (path.isEmpty()) return;
  if (!SaveImage(path))
    QMessageBox::warning(this, QStringLiteral("Save the chart"),
                         QStringLiteral("Could not write ") + path);
}

void TVowelChart::PaintChart(QPainter& Painter, const QSizeF& Size) const {
  if (FBackground.isNull() || FBackground.deviceIndependentSize() != Size)
    FPainter.PaintBackground(Painter, Size);
  else
    Painter.drawImage(QPointF(0, 0), FBackground);
  const CChartScale scale = FPainter.ScaleFor(Size);
  // Oldest first, so the newest dot lies on top.
  for (int age = TrailBlocks - 1; FNewest >= 0 && age >= 0; --age) {
    const TTrailPoint& p =
        FTrail[static_cast<std::size_t>((FNewest - age + TrailBlocks) % TrailBlocks)];
    if (!p.Voiced) continue;
    QColor c = DotColour;
    c.setAlphaF(age == 0 ? 1.0 : 0.75 * (1.0 - double(age) / TrailBlocks));
    CVowelChartPainter::PaintDot(Painter, scale, p.F1, p.F2, c, age == 0 ? 8.0 : 5.0);
  }
  CVowelChartPainter::PaintReadout(Painter, Size, Readout());
}

void TVowelChart::paintEvent(QPaintEvent* /*Event*/) {
  QPainter painter(this);
  painter.translate(0, ToolbarHeight);
  PaintChart(painter, QSizeF(width(), height() - ToolbarHeight - TimelineHeight()));
}

void TVowelChart::Rebuild() {
  const qreal ratio = devicePixelRatioF();
  const QSizeF size(width(), std::max(1, height() - ToolbarHeight - TimelineHeight()));
  FBackground = QImage((size * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
  FBackground.setDevicePixelRatio(ratio);
  QPainter painter(&FBackground);
  FPainter.PaintBackground(painter, size);
  update();
}

void TVowelChart::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  Rebuild();
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
                    QString::fromLatin1(VoiceName(FPainter.Voice())));
  settings.setValue(QStringLiteral("chart/references"), FReferencePath);
}

}  // namespace quenvis

namespace quenvis {

int TVowelChart::TimelineHeight() const { return FTimeline->isVisible() ? FTimeline->height() : 0; }

void TVowelChart::ShowTimeline(bool Shown) {
  if (Shown == FTimeline->isVisible()) return;
  FTimeline->setVisible(Shown);
  Rebuild();
}

void TVowelChart::ToggleRecording() {
  if (FTakes->Recording()) {
    FTakes->Stop();
    FStatus->setText(QStringLiteral("Saved ") + FTakes->LastPath());
    return;
  }
  const QString error = FTakes->Start();
  if (!error.isEmpty()) TakeProblem(QStringLiteral("Cannot record: ") + error);
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
  emit openRequested(urls.first().toLocalFile());
}

}  // namespace quenvis
