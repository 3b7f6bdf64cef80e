#include "takes/TakesList.h"

#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "takes/Timeline.h"

namespace quenvis {

namespace {

const QColor Marked(200, 40, 40);

}  // namespace

TTakesList::TTakesList(QWidget* Parent) : QDialog(Parent), FFolder(QString()) {
  setObjectName(QStringLiteral("TakesList"));
  setWindowTitle(QStringLiteral("Takes"));
  resize(640, 420);
  FFolderLine = new QLabel(this);
  FFolderLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
  FFolderLine->setWordWrap(true);
  FTable = new QTreeWidget(this);
  FTable->setRootIsDecorated(false);
  FTable->setUniformRowHeights(true);  // long lists scroll without measuring every row
  FTable->setHeaderLabels({QStringLiteral("Take"), QStringLiteral("Recorded"),
                           QStringLiteral("Length"), QStringLiteral("Note")});
  FTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
  FTable->header()->setStretchLastSection(true);
  FTable->setColumnWidth(ColumnTake, 230);
  FTable->setColumnWidth(ColumnDate, 130);
  FTable->setColumnWidth(ColumnLength, 70);
  FTable->setToolTip(QStringLiteral("Double-click a take to play it, its note to edit it"));
  FOpen = new QPushButton(QStringLiteral("Open"), this);
  FOpen->setToolTip(QStringLiteral("Play the take in the chart window (Enter)"));
  FRename = new QPushButton(QStringLiteral("Rename..."), this);
  FRename->setToolTip(QStringLiteral("Rename the take and every file beside it (F2)"));
  FDelete = new QPushButton(QStringLiteral("Move to trash"), this);
  FDelete->setToolTip(
      QStringLiteral("Move the take and every file beside it to the trash (Delete)"));
  FReveal = new QPushButton(QStringLiteral("Show folder"), this);
  FReveal->setToolTip(QStringLiteral("Open the takes folder in the file manager"));
  auto* refresh = new QPushButton(QStringLiteral("Refresh"), this);
  refresh->setToolTip(QStringLiteral("Read the folder again (F5)"));
  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {FOpen, FRename, FDelete, FReveal, refresh}) {
    b->setAutoDefault(false);
    buttons->addWidget(b);
  }
  buttons->addStretch(1);
  auto* column = new QVBoxLayout(this);
  column->addWidget(FFolderLine);
  column->addWidget(FTable, 1);
  column->addLayout(buttons);

  FLengths = new QTimer(this);
  FLengths->setInterval(0);
  connect(FLengths, &QTimer::timeout, this, &TTakesList::ReadSomeLengths);
  connect(FOpen, &QPushButton::clicked, this, [this] {
    if (const int row = CurrentRow(); row >= 0) emit openRequested(Take(row).SoundPath);
  });
  connect(FRename, &QPushButton::clicked, this, &TTakesList::AskToRename);
  connect(FDelete, &QPushButton::clicked, this, &TTakesList::AskToDelete);
  connect(FReveal, &QPushButton::clicked, this, &TTakesList::Reveal);
  connect(refresh, &QPushButton::clicked, this, &TTakesList::Refresh);
  connect(FTable, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* Item, int Column) {
    if (Column == ColumnNote)
      FTable->editItem(Item, ColumnNote);
    else
      FOpen->click();
  });
  connect(FTable, &QTreeWidget::itemChanged, this, &TTakesList::NoteEdited);
  // Enter on the list opens; in a note being edited it ends the editing.
  FTable->installEventFilter(this);
  connect(FTable, &QTreeWidget::currentItemChanged, this, &TTakesList::UpdateButtons);
  const auto shortcut = [this](const QKeySequence& Keys, auto Action) {
    auto* s = new QShortcut(Keys, this);
    s->setContext(Qt::WidgetWithChildrenShortcut);
    connect(s, &QShortcut::activated, this, Action);
  };
  shortcut(QKeySequence(Qt::Key_F2), [this] { AskToRename(); });
  shortcut(QKeySequence::Delete, [this] { AskToDelete(); });
  shortcut(QKeySequence::Refresh, [this] { Refresh(); });
  UpdateButtons();
}

bool TTakesList::eventFilter(QObject* Watched, QEvent* Event) {
  // A note being edited has the keys to itself: these reach the list only.
  if (Watched == FTable && Event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(Event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      FOpen->click();
      return true;
    }
  }
  return QDialog::eventFilter(Watched, Event);
}

void TTakesList::SetFolder(const QString& Folder) {
  FFolder.SetPath(Folder);
  Refresh();
}

int TTakesList::RowOf(const QString& Stem) const {
  for (std::size_t i = 0; i < FTakes.size(); ++i)
    if (FTakes[i].Stem == Stem) return static_cast<int>(i);
  return -1;
}

int TTakesList::CurrentRow() const {
  const QTreeWidgetItem* item = FTable->currentItem();
  return item ? FTable->indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(item)) : -1;
}

QString TTakesList::FolderText() const { return FFolderLine->text(); }

void TTakesList::Refresh() {
  const int current = CurrentRow();
  const QString chosen = current >= 0 ? Take(current).Stem : QString();
  FFilling = true;
  FTable->clear();
  const QString error = FFolder.List(FTakes);
  FFolderLine->setText(!error.isEmpty() ? error
                       : FTakes.empty() ? FFolder.Path() + QStringLiteral(": no takes yet")
                       : Count() == 1   ? FFolder.Path() + QStringLiteral(": 1 take")
                                      : FFolder.Path() + QStringLiteral(": %1 takes").arg(Count()));
  QList<QTreeWidgetItem*> items;
  items.reserve(Count());
  for (const TTakeEntry& take : FTakes) {
    auto* item = new QTreeWidgetItem;
    item->setText(ColumnTake, take.Stem);
    item->setToolTip(ColumnTake, take.SoundPath);
    item->setText(ColumnDate, take.Date.toString(QStringLiteral("yyyy-MM-dd HH:mm")));
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    items << item;
  }
  FTable->addTopLevelItems(items);
  FFilling = false;
  FNextLength = 0;
  const int row = RowOf(chosen);
  if (row >= 0) FTable->setCurrentItem(FTable->topLevelItem(row));
  UpdateButtons();
  if (!FTakes.empty()) FLengths->start();
}

void TTakesList::ReadSomeLengths() {
  FFilling = true;
  QElapsedTimer turn;
  turn.start();
  for (; FNextLength < FTakes.size() && turn.elapsed() < MsPerTurn; ++FNextLength) {
    const TTakeEntry& take = FTakes[FNextLength];
    QTreeWidgetItem* item = FTable->topLevelItem(static_cast<int>(FNextLength));
    if (!item) continue;
    QString problem;
    const double seconds = CTakeFolder::Length(take.SoundPath, problem);
    if (seconds < 0) {
      item->setText(ColumnLength, QStringLiteral("unreadable"));
      item->setToolTip(ColumnLength, problem);
      for (int c = ColumnTake; c <= ColumnLength; ++c) item->setForeground(c, Marked);
    } else {
      item->setText(ColumnLength, TimelineTime(seconds));
      if (!problem.isEmpty()) {
        item->setText(ColumnLength, TimelineTime(seconds) + QStringLiteral(" cut short"));
        item->setToolTip(ColumnLength, problem);
        for (int c = ColumnTake; c <= ColumnLength; ++c) item->setForeground(c, Marked);
      }
    }
    const QString note = FFolder.Note(take.Stem);
    item->setText(ColumnNote, note.section(u'\n', 0, 0));
    item->setToolTip(ColumnNote, note);
  }
  FFilling = false;
  if (FNextLength >= FTakes.size()) FLengths->stop();
}

void TTakesList::UpdateButtons() {
  const bool chosen = CurrentRow() >= 0;
  for (QPushButton* b : {FOpen, FRename, FDelete}) b->setEnabled(chosen);
}

QString TTakesList::RenameTake(int Row, const QString& NewStem) {
  if (Row < 0 || Row >= Count()) return QStringLiteral("no take chosen");
  const TTakeEntry take = Take(Row);
  if (Busy)
    if (const QString why = Busy(take.SoundPath); !why.isEmpty()) return why;
  const QString name = NewStem.trimmed();
  if (const QString why = FFolder.Rename(take.Stem, name); !why.isEmpty()) return why;
  if (name == take.Stem) return {};
  const QFileInfo sound(take.SoundPath);
  const QString renamed = sound.dir().filePath(name + u'.' + sound.suffix());
  Refresh();
  if (const int row = RowOf(name); row >= 0) FTable->setCurrentItem(FTable->topLevelItem(row));
  emit takeRenamed(take.SoundPath, renamed);
  return {};
}

QString TTakesList::DeleteTake(int Row) {
  if (Row < 0 || Row >= Count()) return QStringLiteral("no take chosen");
  const TTakeEntry take = Take(Row);
  if (Busy)
    if (const QString why = Busy(take.SoundPath); !why.isEmpty()) return why;
  if (const QString why = FFolder.Trash(take.Stem); !why.isEmpty()) return why;
  Refresh();
  emit takeRemoved(take.SoundPath);
  return {};
}

QString TTakesList::SetNote(int Row, const QString& Text) {
  if (Row < 0 || Row >= Count()) return QStringLiteral("no take chosen");
  const QString error = FFolder.SetNote(Take(Row).Stem, Text);
  if (QTreeWidgetItem* item = FTable->topLevelItem(Row)) {
    FFilling = true;
    const QString kept = FFolder.Note(Take(Row).Stem);
    item->setText(ColumnNote, kept.section(u'\n', 0, 0));
    item->setToolTip(ColumnNote, kept);
    FFilling = false;
  }
  return error;
}

void TTakesList::NoteEdited(QTreeWidgetItem* Item, int Column) {
  if (FFilling || Column != ColumnNote) return;
  const int row = FTable->indexOfTopLevelItem(Item);
  // Only the first line shows: an unchanged first line keeps the rest.
  const QString before = FFolder.Note(Take(row).Stem);
  if (Item->text(ColumnNote) == before.section(u'\n', 0, 0)) return;
  const QString rest = before.contains(u'\n') ? before.mid(before.indexOf(u'\n')) : QString();
  if (const QString error = SetNote(row, Item->text(ColumnNote) + rest); !error.isEmpty())
    Problem(QStringLiteral("The note was not saved: ") + error);
}

void TTakesList::AskToRename() {
  const int row = CurrentRow();
  if (row < 0) return;
  bool ok = false;
  const QString name = QInputDialog::getText(this, QStringLiteral("Rename the take"),
                                             QStringLiteral("New name (its files follow):"),
                                             QLineEdit::Normal, Take(row).Stem, &ok);
  if (!ok) return;
  if (const QString error = RenameTake(row, name); !error.isEmpty())
    Problem(QStringLiteral("The take was not renamed: ") + error);
}

void TTakesList::AskToDelete() {
  const int row = CurrentRow();
  if (row < 0) return;
  const QStringList files = FFolder.FilesOf(Take(row).Stem);
  if (QMessageBox::question(
          this, QStringLiteral("Move to trash"),
          QStringLiteral("Move %1 and the %2 file(s) of the take to the trash?\n\n")
                  .arg(Take(row).Stem)
                  .arg(files.size()) +
              files.join(u'\n')) != QMessageBox::Yes)
    return;
  if (const QString error = DeleteTake(row); !error.isEmpty())
    Problem(QStringLiteral("The take was not deleted: ") + error);
}

void TTakesList::Reveal() {
  if (!QDesktopServices::openUrl(QUrl::fromLocalFile(FFolder.Path())))
    Problem(QStringLiteral("No file manager could show ") + FFolder.Path());
}

void TTakesList::Problem(const QString& Message) {
  QMessageBox::warning(this, QStringLiteral("Takes"), Message);
}

}  // namespace quenvis
