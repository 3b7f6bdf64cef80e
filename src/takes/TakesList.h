#pragma once
// The takes list: every take in the takes folder with its date, length and
// note, newest first, to open, rename, move to the trash or show in the
// file manager. Lengths are read from the headers a few at a time after the
// list shows, so a folder of thousands opens at once; a take that cannot be
// read is listed, marked, with the reason in its hint.
#include <QDialog>
#include <QString>
#include <functional>
#include <vector>

#include "takes/TakeFolder.h"

class QLabel;
class QPushButton;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace quenvis {

class TTakesList : public QDialog {
  Q_OBJECT

 public:
  enum EColumn { ColumnTake, ColumnDate, ColumnLength, ColumnNote };
  // Lengths are read for this long per turn of the event loop (a long FLAC
  // takes a millisecond or two: its last frame is sought).
  static constexpr int MsPerTurn = 10;

  explicit TTakesList(QWidget* Parent = nullptr);

  void SetFolder(const QString& Folder);
  const CTakeFolder& Files() const noexcept { return FFolder; }
  CTakeFolder& Files() noexcept { return FFolder; }
  // Reads the folder again, keeping the take chosen.
  void Refresh();
  // Empty, or why a take cannot be renamed or deleted now (being recorded
  // or played, say).
  std::function<QString(const QString& SoundPath)> Busy;

  QTreeWidget* Table() const noexcept { return FTable; }
  int Count() const noexcept { return static_cast<int>(FTakes.size()); }
  const TTakeEntry& Take(int Row) const { return FTakes.at(static_cast<std::size_t>(Row)); }
  int RowOf(const QString& Stem) const;
  // Whether every take's length has been read.
  bool LengthsRead() const noexcept { return FNextLength >= FTakes.size(); }
  // The folder line: its path and count, or why it cannot be listed.
  QString FolderText() const;

  // What the buttons do, without asking; each returns an empty string or
  // why nothing was changed.
  QString RenameTake(int Row, const QString& NewStem);
  QString DeleteTake(int Row);
  QString SetNote(int Row, const QString& Text);

 protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override;

 signals:
  void openRequested(const QString& SoundPath);
  void takeRenamed(const QString& OldSoundPath, const QString& NewSoundPath);
  void takeRemoved(const QString& SoundPath);

 private:
  int CurrentRow() const;
  void ReadSomeLengths();
  void UpdateButtons();
  void AskToRename();
  void AskToDelete();
  void Reveal();
  void NoteEdited(QTreeWidgetItem* Item, int Column);
  void Problem(const QString& Message);

  CTakeFolder FFolder;
  std::vector<TTakeEntry> FTakes;
  std::size_t FNextLength = 0;
  bool FFilling = false;  // items being made: not an edit of a note
  QLabel* FFolderLine;
  QTreeWidget* FTable;
  QPushButton* FOpen;
  QPushButton* FRename;
  QPushButton* FDelete;
  QPushButton* FReveal;
  QTimer* FLengths;
};

}  // namespace quenvis
