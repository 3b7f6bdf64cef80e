#include "chart/ChartTools.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeySequence>
#include <QMenu>
#include <QMessageBox>
#include <QSaveFile>
#include <QSettings>
#include <QShortcut>
#include <QToolButton>

#include "chart/ChartFile.h"
#include "chart/VowelPlane.h"

namespace quenvis {

namespace {

const QString TargetsKey = QStringLiteral("chart/targets");
const QString FolderKey = QStringLiteral("chart/compareFolder");

QToolButton* MenuButton(QWidget* Parent, const QString& Text, const QString& Tip) {
  auto* b = new QToolButton(Parent);
  b->setText(Text);
  b->setToolTip(Tip);
  b->setPopupMode(QToolButton::InstantPopup);
  b->setFocusPolicy(Qt::NoFocus);
  b->setMenu(new QMenu(b));
  return b;
}

}  // namespace

TChartTools::TChartTools(QWidget* Window, TVowelPlane* Plane,
                         std::function<void(const QString&)> Status)
    : QObject(Window), FWindow(Window), FPlane(Plane), FStatus(std::move(Status)) {
  FCompare = MenuButton(Window, QStringLiteral("Compare"),
                        QStringLiteral("Show another take's vowels behind the trail"));
  QMenu* compare = FCompare->menu();
  connect(compare->addAction(QStringLiteral("Compare with...")), &QAction::triggered, this,
          &TChartTools::AskForComparison);
  connect(compare->addAction(QStringLiteral("Clear comparison")), &QAction::triggered, this,
          &TChartTools::ClearComparison);

  FTargetsButton = MenuButton(
      Window, QStringLiteral("Targets"),
      QStringLiteral("Target vowels: Ctrl+click the chart to add one, right-click or Delete "
                     "to remove it"));
  QMenu* targets = FTargetsButton->menu();
  connect(targets->addAction(QStringLiteral("Targets from the comparison")), &QAction::triggered,
          this, [this] {
            if (TargetsFromComparison() == 0)
              FStatus(QStringLiteral("No vowels to take: compare with a take first"));
          });
  connect(targets->addAction(QStringLiteral("Load targets...")), &QAction::triggered, this,
          [this] { AskForTargets(false); });
  connect(targets->addAction(QStringLiteral("Save targets...")), &QAction::triggered, this,
          [this] { AskForTargets(true); });
  connect(targets->addAction(QStringLiteral("Clear targets")), &QAction::triggered, this,
          &TChartTools::ClearTargets);
  connect(new QShortcut(QKeySequence::Delete, Window), &QShortcut::activated, this,
          [this] { FPlane->RemoveTargetUnderPointer(); });
  connect(FPlane, &TVowelPlane::targetsEdited, this, &TChartTools::RememberTargets);

  // The targets of last time; a damaged setting leaves none.
  const QByteArray saved = QSettings().value(TargetsKey).toString().toUtf8();
  if (!saved.isEmpty())
    FPlane->EditTargets([&](CTargetVowels& T) {
      (void)T.FromCsv(std::string_view(saved.constData(), static_cast<std::size_t>(saved.size())));
    });
}

QString TChartTools::CompareWith(const QString& Path) {
  const QString error = FPlane->LoadComparison(Path);
  if (!error.isEmpty()) {
    FStatus(error);
    return error;
  }
  SetFolder(Path);
  FStatus(QString::fromStdString(FPlane->Comparison().Summary()));
  return {};
}

void TChartTools::ClearComparison() {
  FPlane->ClearComparison();
  FStatus(QString());
}

int TChartTools::TargetsFromComparison() {
  int added = 0;
  FPlane->EditTargets([&](CTargetVowels& T) {
    for (const TCloudEllipse& e : FPlane->Comparison().Clusters())
      added += T.Add({e.Label, e.F1Hz, e.F2Hz, std::nullopt});
  });
  if (added > 0) RememberTargets();
  return added;
}

void TChartTools::ClearTargets() {
  FPlane->EditTargets([](CTargetVowels& T) { T.Clear(); });
  RememberTargets();
}

QString TChartTools::LoadTargets(const QString& Path) {
  QByteArray data;
  QString error = ReadChartFile(Path, MaxReferenceBytes, data);
  if (error.isEmpty()) {
    CTargetVowels loaded;
    error = QString::fromStdString(
        loaded.FromCsv(std::string_view(data.constData(), static_cast<std::size_t>(data.size()))));
    if (error.isEmpty())
      FPlane->EditTargets([&](CTargetVowels& T) { T = std::move(loaded); });
  }
  if (!error.isEmpty()) {
    error = QFileInfo(Path).fileName() + QStringLiteral(": ") + error;
    FStatus(error);
    return error;
  }
  SetFolder(Path);
  RememberTargets();
  FStatus(QStringLiteral("Targets from ") + QFileInfo(Path).fileName());
  return {};
}

QString TChartTools::SaveTargets(const QString& Path) {
  const std::string csv = FPlane->Targets().ToCsv();
  QSaveFile file(Path);
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(csv.data(), static_cast<qint64>(csv.size())) != static_cast<qint64>(csv.size()) ||
      !file.commit()) {
    const QString error = QFileInfo(Path).fileName() + QStringLiteral(": ") + file.errorString();
    FStatus(error);
    return error;
  }
  SetFolder(Path);
  FStatus(QStringLiteral("Targets saved to ") + QFileInfo(Path).fileName());
  return {};
}

void TChartTools::AskForComparison() {
  const QString path = QFileDialog::getOpenFileName(
      FWindow, QStringLiteral("Compare with a take"), Folder(),
      QStringLiteral("Takes and formant tables (*.flac *.wav *.csv);;All files (*)"));
  if (path.isEmpty()) return;
  const QString error = CompareWith(path);
  if (!error.isEmpty()) QMessageBox::warning(FWindow, QStringLiteral("Compare"), error);
}

void TChartTools::AskForTargets(bool Save) {
  const QString filter = QStringLiteral("Target vowels (*.csv);;All files (*)");
  const QString path =
      Save ? QFileDialog::getSaveFileName(FWindow, QStringLiteral("Save the targets"),
                                          Folder() + QStringLiteral("/targets.csv"), filter)
           : QFileDialog::getOpenFileName(FWindow, QStringLiteral("Load targets"), Folder(),
                                          filter);
  if (path.isEmpty()) return;
  const QString error = Save ? SaveTargets(path) : LoadTargets(path);
  if (!error.isEmpty())
    QMessageBox::warning(
        FWindow, QStringLiteral("Targets"),
        Save ? error : error + QStringLiteral("\n\nExpected lines of label,f1_hz,f2_hz[,voice]."));
}

void TChartTools::RememberTargets() const {
  const std::string csv = FPlane->Targets().Empty() ? std::string() : FPlane->Targets().ToCsv();
  QSettings().setValue(TargetsKey, QString::fromStdString(csv));
}

QString TChartTools::Folder() const { return QSettings().value(FolderKey).toString(); }

void TChartTools::SetFolder(const QString& File) const {
  QSettings().setValue(FolderKey, QFileInfo(File).absolutePath());
}

}  // namespace quenvis
