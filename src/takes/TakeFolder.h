#pragma once
// The takes in a folder and the files each keeps beside its sound: listing
// them, their notes, renaming a take as a whole and moving it to the trash.
// A take is a FLAC or WAV file with a table beside it, or one named as
// Record names them; the folder may hold other music, which is left alone.
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

namespace quenvis {

struct TTakeEntry {
  QString Stem;       // the name without any of the take's suffixes
  QString SoundPath;  // the sound file
  QDateTime Date;     // when it was recorded (its name), else last written
};

class CTakeFolder {
 public:
  // The files of a take, all named Stem + one of these.
  static const QStringList& Suffixes();
  // Moves one file to the trash; false with Error set when it cannot.
  using TTrashFunction = std::function<bool(const QString& Path, QString& InTrash, QString& Error)>;

  explicit CTakeFolder(QString Folder);

  const QString& Path() const noexcept { return FFolder; }
  void SetPath(QString Folder) { FFolder = std::move(Folder); }
  // The takes, newest first; an empty string or why the folder cannot be read.
  QString List(std::vector<TTakeEntry>& Takes) const;
  // The take's files that exist, sound first.
  QStringList FilesOf(const QString& Stem) const;
  // Empty, or why Stem cannot name a take ("" or with a slash, say).
  static QString CheckStem(const QString& Stem);

  // Renames every file of the take, or none: an empty string, or why not
  // (a file of that name already there, say), with the take as it was.
  QString Rename(const QString& Stem, const QString& NewStem) const;
  // Moves every file of the take to the trash, or none. When the desktop
  // has no trash for the folder the take stays, and the message says so.
  QString Trash(const QString& Stem) const;
  void SetTrashFunction(TTrashFunction Trash) { FTrash = std::move(Trash); }

  // The note kept beside the take, as UTF-8 text (empty when none).
  QString Note(const QString& Stem) const;
  // Writes it whole or not at all; an empty note removes the file.
  QString SetNote(const QString& Stem, const QString& Text) const;

  // Seconds of sound the header announces: negative with Problem set when
  // the file cannot be read as sound; Problem also says when the file ends
  // before its header does. Reads the header and the last frame only.
  static double Length(const QString& SoundPath, QString& Problem);
  // "quenvis-2026-12-08_14-05-09" gives its time; invalid otherwise.
  static QDateTime DateOfStem(const QString& Stem);

 private:
  QString FilePath(const QString& Stem, const QString& Suffix) const;

  QString FFolder;
  TTrashFunction FTrash;
};

}  // namespace quenvis
