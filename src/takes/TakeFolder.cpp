#include "takes/TakeFolder.h"

#include <sndfile.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <algorithm>

namespace quenvis {

namespace {

// Longer names leave no room for the longest suffix within a file name's
// 255 bytes.
constexpr qsizetype MaxStemBytes = 200;
const QString TakePrefix = QStringLiteral("quenvis-");

// Takes a file back out of the trash, with the note the trash keeps on it.
bool Untrash(const QString& InTrash, const QString& Path) {
  if (!QFile::rename(InTrash, Path)) return false;
  const QFileInfo moved(InTrash);
  QFile::remove(moved.dir().absoluteFilePath(QStringLiteral("../info/") + moved.fileName() +
                                             QStringLiteral(".trashinfo")));
  return true;
}

// A trash's files folder: .../Trash/files, $topdir/.Trash-UID/files or
// $topdir/.Trash/UID/files, named by an absolute path.
bool InATrash(const QString& Path) {
  if (!QDir::isAbsolutePath(Path)) return false;
  const QDir files = QFileInfo(Path).dir();
  if (files.dirName() != QStringLiteral("files")) return false;
  QDir trash = files;
  if (!trash.cdUp() || !trash.exists(QStringLiteral("info"))) return false;
  const QString name = trash.dirName();
  QDir above = trash;
  return name == QStringLiteral("Trash") || name.startsWith(QStringLiteral(".Trash-")) ||
         (above.cdUp() && above.dirName() == QStringLiteral(".Trash"));
}

bool DefaultTrash(const QString& Path, QString& InTrash, QString& Error) {
  QFile file(Path);
  if (!file.moveToTrash()) {
    Error = file.errorString();
    return false;
  }
  InTrash = file.fileName();
  if (InATrash(InTrash)) return true;
  // Qt 6.4, failing to make the trash, still moves the file (into "files"
  // of the working folder) and says it worked: it comes back.
  Error = QStringLiteral("the desktop has no trash for this folder");
  if (!Untrash(InTrash, Path)) {
    Error += QStringLiteral("; the file was left in ") + QFileInfo(InTrash).absoluteFilePath();
    return false;
  }
  // And the folders it made there, when they hold nothing else (rmdir
  // removes only empty ones).
  const QString files = QFileInfo(InTrash).absolutePath();
  QDir above(QFileInfo(files).absolutePath());
  above.rmdir(QStringLiteral("info"));
  above.rmdir(QStringLiteral("files"));
  return false;
}

}  // namespace

const QStringList& CTakeFolder::Suffixes() {
  static const QStringList suffixes = {
      QStringLiteral(".flac"),      QStringLiteral(".wav"),      QStringLiteral(".formants.csv"),
      QStringLiteral(".voice.csv"), QStringLiteral(".note.txt"), QStringLiteral(".TextGrid")};
  return suffixes;
}

CTakeFolder::CTakeFolder(QString Folder) : FFolder(std::move(Folder)), FTrash(DefaultTrash) {}

QString CTakeFolder::FilePath(const QString& Stem, const QString& Suffix) const {
  return FFolder + u'/' + Stem + Suffix;
}

QDateTime CTakeFolder::DateOfStem(const QString& Stem) {
  // By hand: QDateTime's own parser would take most of listing a big folder.
  if (!Stem.startsWith(TakePrefix) || Stem.size() < TakePrefix.size() + 19) return {};
  const QStringView d = QStringView(Stem).mid(TakePrefix.size(), 19);
  int v[6] = {};
  const int at[6] = {0, 5, 8, 11, 14, 17}, len[6] = {4, 2, 2, 2, 2, 2};
  for (int i = 0; i < 6; ++i)
    for (int k = 0; k < len[i]; ++k) {
      const QChar c = d[at[i] + k];
      if (!c.isDigit()) return {};
      v[i] = v[i] * 10 + c.digitValue();
    }
  if (d[4] != u'-' || d[7] != u'-' || d[10] != u'_' || d[13] != u'-' || d[16] != u'-') return {};
  const QDate date(v[0], v[1], v[2]);
  const QTime time(v[3], v[4], v[5]);
  if (!date.isValid() || !time.isValid()) return {};
  return QDateTime(date, time);
}

QString CTakeFolder::List(std::vector<TTakeEntry>& Takes) const {
  Takes.clear();
  const QDir dir(FFolder);
  if (!dir.exists()) return FFolder + QStringLiteral(": no such folder (Record makes it)");
  if (!QFileInfo(FFolder).isReadable()) return FFolder + QStringLiteral(": cannot read it");
  // One pass over the names: a folder of thousands is listed in milliseconds.
  const QStringList names = dir.entryList(QDir::Files | QDir::Hidden, QDir::NoSort);
  const QSet<QString> present(names.begin(), names.end());
  for (const QString& name : names) {
    QString stem;
    for (const QString& ext : {QStringLiteral(".flac"), QStringLiteral(".wav")})
      if (name.endsWith(ext, Qt::CaseInsensitive)) stem = name.chopped(ext.size());
    if (stem.isEmpty()) continue;
    if (!stem.startsWith(TakePrefix) && !present.contains(stem + QStringLiteral(".formants.csv")) &&
        !present.contains(stem + QStringLiteral(".voice.csv")))
      continue;
    TTakeEntry take{stem, dir.filePath(name), DateOfStem(stem)};
    if (!take.Date.isValid()) take.Date = QFileInfo(take.SoundPath).lastModified();
    Takes.push_back(std::move(take));
  }
  // Compared as numbers: comparing local times converts them every time.
  std::vector<std::pair<qint64, std::size_t>> order(Takes.size());
  for (std::size_t i = 0; i < Takes.size(); ++i) order[i] = {Takes[i].Date.toMSecsSinceEpoch(), i};
  std::sort(order.begin(), order.end(), [&](const auto& a, const auto& b) {
    return a.first != b.first ? a.first > b.first : Takes[a.second].Stem < Takes[b.second].Stem;
  });
  std::vector<TTakeEntry> sorted;
  sorted.reserve(Takes.size());
  for (const auto& o : order) sorted.push_back(std::move(Takes[o.second]));
  Takes = std::move(sorted);
  return {};
}

QStringList CTakeFolder::FilesOf(const QString& Stem) const {
  QStringList files;
  if (!CheckStem(Stem).isEmpty()) return files;
  for (const QString& suffix : Suffixes()) {
    const QString path = FilePath(Stem, suffix);
    if (QFileInfo(path).isFile() || QFileInfo(path).isSymLink()) files << path;
  }
  return files;
}

QString CTakeFolder::CheckStem(const QString& Stem) {
  if (Stem.trimmed().isEmpty()) return QStringLiteral("a take needs a name");
  if (Stem.contains(u'/') || Stem.contains(QChar(0)))
    return QStringLiteral("a take's name cannot hold \"/\"");
  if (Stem.startsWith(u'.'))
    return QStringLiteral("a name starting with a dot would hide the take");
  if (Stem.toUtf8().size() > MaxStemBytes) return QStringLiteral("the name is too long");
  return {};
}

QString CTakeFolder::Rename(const QString& Stem, const QString& NewStem) const {
  if (const QString why = CheckStem(NewStem); !why.isEmpty()) return why;
  if (NewStem == Stem) return {};
  const QStringList files = FilesOf(Stem);
  if (files.isEmpty()) return Stem + QStringLiteral(": the take is no longer there");
  // Any file of the new name would join this take to another one.
  for (const QString& suffix : Suffixes())
    if (QFileInfo::exists(FilePath(NewStem, suffix)))
      return NewStem + suffix + QStringLiteral(" already exists; the take keeps its name");
  QStringList done;
  for (const QString& from : files) {
    const QString to = FilePath(NewStem, from.mid(FFolder.size() + 1 + Stem.size()));
    QFile file(from);
    if (file.rename(to)) {
      done << to;
      continue;
    }
    const QString why = QFileInfo(from).fileName() + QStringLiteral(": ") + file.errorString();
    QStringList stuck;
    for (auto it = done.crbegin(); it != done.crend(); ++it) {
      const QString back = FilePath(Stem, it->mid(FFolder.size() + 1 + NewStem.size()));
      if (!QFile::rename(*it, back)) stuck << QFileInfo(*it).fileName();
    }
    if (!stuck.isEmpty())
      return why + QStringLiteral("; these could not get their old name back: ") +
             stuck.join(QStringLiteral(", "));
    return why + QStringLiteral("; the take keeps its name");
  }
  return {};
}

QString CTakeFolder::Trash(const QString& Stem) const {
  const QStringList files = FilesOf(Stem);
  if (files.isEmpty()) return Stem + QStringLiteral(": the take is no longer there");
  std::vector<std::pair<QString, QString>> moved;  // path, where it is in the trash
  for (const QString& path : files) {
    QString inTrash, error;
    if (FTrash(path, inTrash, error)) {
      moved.emplace_back(path, inTrash);
      continue;
    }
    // Deleting for good is not what the user asked for: the take stays.
    QStringList stuck;
    for (auto it = moved.crbegin(); it != moved.crend(); ++it)
      if (!Untrash(it->second, it->first)) stuck << QFileInfo(it->first).fileName();
    QString message = QFileInfo(path).fileName() + QStringLiteral(" could not go to the trash (") +
                      error + QStringLiteral(")");
    if (!stuck.isEmpty())
      return message + QStringLiteral("; these are in the trash: ") +
             stuck.join(QStringLiteral(", "));
    return message + QStringLiteral(
                         ". Nothing was deleted; remove the files yourself if you mean "
                         "to delete them for good.");
  }
  return {};
}

QString CTakeFolder::Note(const QString& Stem) const {
  QFile file(FilePath(Stem, QStringLiteral(".note.txt")));
  if (!file.open(QIODevice::ReadOnly)) return {};
  // A note is a few lines; a huge file there is not read whole.
  return QString::fromUtf8(file.read(1 << 20));
}

QString CTakeFolder::SetNote(const QString& Stem, const QString& Text) const {
  if (const QString why = CheckStem(Stem); !why.isEmpty()) return why;
  const QString path = FilePath(Stem, QStringLiteral(".note.txt"));
  if (Text.isEmpty()) {
    QFile file(path);
    if (file.exists() && !file.remove()) return path + QStringLiteral(": ") + file.errorString();
    return {};
  }
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(Text.toUtf8()) < 0 || !file.commit())
    return path + QStringLiteral(": ") + file.errorString();
  return {};
}

double CTakeFolder::Length(const QString& SoundPath, QString& Problem) {
  SF_INFO info{};
  SNDFILE* f = sf_open(QFile::encodeName(SoundPath).constData(), SFM_READ, &info);
  if (!f) {
    Problem = QString::fromUtf8(sf_strerror(nullptr));
    return -1;
  }
  // The last frame the header promises, read where it should be: a seek
  // (FLAC's own, a few reads) rather than the whole file.
  short last[64];
  const bool whole = info.channels > 0 && info.channels <= 32 && info.frames > 0 &&
                     sf_seek(f, info.frames - 1, SEEK_SET) == info.frames - 1 &&
                     sf_readf_short(f, last, 1) == 1;
  sf_close(f);
  if (info.samplerate <= 0 || info.frames <= 0) {
    Problem = QStringLiteral("holds no sound");
    return -1;
  }
  if (!whole) Problem = QStringLiteral("cut short: the file ends before its header says");
  return double(info.frames) / info.samplerate;
}

}  // namespace quenvis
