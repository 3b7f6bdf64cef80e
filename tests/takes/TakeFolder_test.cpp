// The takes of a folder and the files beside each: what is listed, and
// renaming and trashing that change every file of a take or none.
#include "takes/TakeFolder.h"

#include <sndfile.h>

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <vector>

namespace quenvis {
namespace {

void Touch(const QString& Path, const QByteArray& Bytes = "x") {
  QFile f(Path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(Bytes);
}

void WriteWav(const QString& Path, int Frames, int Rate = 44100, int Format = SF_FORMAT_WAV) {
  SF_INFO info{};
  info.samplerate = Rate;
  info.channels = 2;
  info.format = Format | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(QFile::encodeName(Path).constData(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr);
  std::vector<short> frames(std::size_t(2 * Frames));
  for (std::size_t i = 0; i < frames.size(); ++i) frames[i] = short(i * 7919 % 20000 - 10000);
  sf_writef_short(f, frames.data(), Frames);
  sf_close(f);
}

QStringList Names(const QString& Folder) {
  return QDir(Folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

// A folder with two takes of four files each, a renamed take, a take whose
// name has a dot, and music that is not a take.
struct TFolder {
  QTemporaryDir Dir;
  QString Path = Dir.path();
  CTakeFolder Takes{Path};
  TFolder() {
    for (const char* stem : {"quenvis-2025-12-08_14-05-09", "quenvis-2025-12-09_10-00-00"})
      for (const char* suffix : {".flac", ".formants.csv", ".voice.csv", ".TextGrid"})
        Touch(Path + u'/' + QLatin1String(stem) + QLatin1String(suffix));
    Touch(Path + QStringLiteral("/scales.wav"));
    Touch(Path + QStringLiteral("/scales.formants.csv"));
    Touch(Path + QStringLiteral("/scales.note.txt"), "tight jaw");
    Touch(Path + QStringLiteral("/scales.b.wav"));
    Touch(Path + QStringLiteral("/scales.b.voice.csv"));
    Touch(Path + QStringLiteral("/song.flac"));
    Touch(Path + QStringLiteral("/song.mp3"));
  }
};

TEST(TakeFolder, ListsTakesNewestFirstAndLeavesOtherMusicOut) {
  TFolder f;
  std::vector<TTakeEntry> takes;
  ASSERT_EQ(f.Takes.List(takes), QString());
  QStringList stems;
  for (const TTakeEntry& t : takes) stems << t.Stem;
  // Takes named by Record are dated by their name; the others by the file,
  // written just now and so newer.
  ASSERT_EQ(stems.size(), 4) << stems.join(u' ').toStdString();
  EXPECT_EQ(stems.mid(2), (QStringList{QStringLiteral("quenvis-2025-12-09_10-00-00"),
                                       QStringLiteral("quenvis-2025-12-08_14-05-09")}));
  EXPECT_TRUE(stems.contains(QStringLiteral("scales")));
  EXPECT_TRUE(stems.contains(QStringLiteral("scales.b")));
  EXPECT_EQ(takes[3].Date, QDateTime(QDate(2025, 12, 8), QTime(14, 5, 9)));
  EXPECT_EQ(takes[3].SoundPath, f.Path + QStringLiteral("/quenvis-2025-12-08_14-05-09.flac"));

  // A take's files are its stem and a suffix, not another take's.
  EXPECT_EQ(f.Takes.FilesOf(QStringLiteral("scales")),
            (QStringList{f.Path + QStringLiteral("/scales.wav"),
                         f.Path + QStringLiteral("/scales.formants.csv"),
                         f.Path + QStringLiteral("/scales.note.txt")}));

  // A folder that is not there yet is no fault, and says so.
  CTakeFolder gone(f.Path + QStringLiteral("/gone"));
  EXPECT_TRUE(gone.List(takes).contains(QStringLiteral("no such folder")));
  EXPECT_TRUE(takes.empty());
}

TEST(TakeFolder, DatesComeFromTheNamesRecordGives) {
  const QDateTime when(QDate(2026, 12, 8), QTime(14, 5, 9));
  const std::vector<std::pair<const char*, QDateTime>> cases = {
      {"quenvis-2026-12-08_14-05-09", when},
      {"quenvis-2026-12-08_14-05-09-2", when},  // a second take in the same second
      {"quenvis-2026-12-08_14-05-09 sirens", when},
      {"quenvis-2026-13-08_14-05-09", {}},
      {"quenvis-2026-12-08_24-05-09", {}},
      {"quenvis-2026-12-08_14-05", {}},
      {"quenvis-2026-12-08 14-05-09", {}},
      {"quenvis-2026-1a-08_14-05-09", {}},
      {"lesson-2026-12-08_14-05-09", {}},
  };
  for (const auto& [stem, date] : cases)
    EXPECT_EQ(CTakeFolder::DateOfStem(QString::fromLatin1(stem)), date) << stem;
}

TEST(TakeFolder, ThousandsOfFilesAreListed) {
  QTemporaryDir dir;
  for (int i = 0; i < 3000; ++i) {
    const QString stem = QStringLiteral("quenvis-2026-01-01_00-%1-%2")
                             .arg(i / 60 % 60, 2, 10, QLatin1Char('0'))
                             .arg(i % 60, 2, 10, QLatin1Char('0'));
    Touch(dir.path() + u'/' + stem + QStringLiteral("-%1.flac").arg(i / 3600));
  }
  std::vector<TTakeEntry> takes;
  ASSERT_EQ(CTakeFolder(dir.path()).List(takes), QString());
  ASSERT_EQ(takes.size(), 3000u);
  for (std::size_t i = 1; i < takes.size(); ++i) EXPECT_GE(takes[i - 1].Date, takes[i].Date);
}

TEST(TakeFolder, RenameMovesEveryFileOrNone) {
  struct TCase {
    const char* Name;
    QString From, To;
    const char* Error;  // a part of it; empty when the rename goes through
  };
  const QString first = QStringLiteral("quenvis-2025-12-08_14-05-09");
  const std::vector<TCase> cases = {
      {"new name", first, QStringLiteral("lesson 3 – sirens é"), ""},
      {"same name", first, first, ""},
      {"clash with a take", first, QStringLiteral("quenvis-2025-12-09_10-00-00"), "already exists"},
      // scales has no TextGrid, but a file of the new name would join it.
      {"clash with a stray file", QStringLiteral("scales"), QStringLiteral("song"),
       "song.flac already exists"},
      {"empty", first, QStringLiteral("  "), "needs a name"},
      {"slash", first, QStringLiteral("a/b"), "cannot hold"},
      {"hidden", first, QStringLiteral(".a"), "dot"},
      {"too long", first, QString(201, u'x'), "too long"},
      {"gone", QStringLiteral("nothing"), QStringLiteral("b"), "no longer there"},
  };
  for (const TCase& c : cases) {
    TFolder f;
    const QStringList before = Names(f.Path);
    const QStringList files = f.Takes.FilesOf(c.From);
    const QString error = f.Takes.Rename(c.From, c.To);
    if (*c.Error == 0) {
      EXPECT_EQ(error, QString()) << c.Name;
      EXPECT_EQ(f.Takes.FilesOf(c.To).size(), files.size()) << c.Name;
      if (c.To != c.From) {
        EXPECT_TRUE(f.Takes.FilesOf(c.From).isEmpty()) << c.Name;
      }
      EXPECT_EQ(Names(f.Path).size(), before.size()) << c.Name;
    } else {
      EXPECT_TRUE(error.contains(QLatin1String(c.Error))) << c.Name << ": " << error.toStdString();
      EXPECT_EQ(Names(f.Path), before) << c.Name;
    }
  }
}

TEST(TakeFolder, TrashTakesEveryFileOrLeavesTheTakeAndSaysWhy) {
  // A trash of our own: a folder beside, failing at the file asked for.
  struct TCase {
    const char* Name;
    int FailAt;  // the file that cannot go, -1 for none
    const char* Error;
  };
  for (const TCase& c : {TCase{"all go", -1, ""}, TCase{"no trash here", 0, "Nothing was deleted"},
                         TCase{"the third refused", 2, "Nothing was deleted"}}) {
    TFolder f;
    QTemporaryDir trash;
    ASSERT_TRUE(QDir(trash.path()).mkpath(QStringLiteral("files")));
    ASSERT_TRUE(QDir(trash.path()).mkpath(QStringLiteral("info")));
    int calls = 0;
    f.Takes.SetTrashFunction([&](const QString& Path, QString& InTrash, QString& Error) {
      if (calls++ == c.FailAt) {
        Error = QStringLiteral("no trash for this volume");
        return false;
      }
      InTrash = trash.path() + QStringLiteral("/files/") + QFileInfo(Path).fileName();
      Touch(trash.path() + QStringLiteral("/info/") + QFileInfo(Path).fileName() +
            QStringLiteral(".trashinfo"));
      return QFile::rename(Path, InTrash);
    });
    const QString stem = QStringLiteral("quenvis-2025-12-08_14-05-09");
    const QStringList before = Names(f.Path);
    const QString error = f.Takes.Trash(stem);
    if (c.FailAt < 0) {
      EXPECT_EQ(error, QString()) << c.Name;
      EXPECT_TRUE(f.Takes.FilesOf(stem).isEmpty()) << c.Name;
      EXPECT_EQ(QDir(trash.path() + QStringLiteral("/files")).count() - 2, 4u) << c.Name;
    } else {
      EXPECT_TRUE(error.contains(QLatin1String(c.Error))) << c.Name << ": " << error.toStdString();
      EXPECT_TRUE(error.contains(QStringLiteral("no trash for this volume"))) << c.Name;
      EXPECT_EQ(Names(f.Path), before) << c.Name;
      // What went to the trash came back, with the trash's note on it gone.
      EXPECT_EQ(QDir(trash.path() + QStringLiteral("/files")).count() - 2, 0u) << c.Name;
      EXPECT_EQ(QDir(trash.path() + QStringLiteral("/info")).count() - 2, 0u) << c.Name;
    }
  }
}

// The desktop's own trash (QFile::moveToTrash), kept in a folder of the
// test's on the takes' file system. Where that trash cannot be made, Qt 6.4
// moves the file into "files" of the working folder and calls it done: the
// take must stay where it was.
TEST(TakeFolder, TheDesktopsTrashTakesTheWholeTakeOrNone) {
  for (const bool trashCanBeMade : {true, false}) {
    TFolder f;
    QTemporaryDir elsewhere;
    const QString share = f.Path + QStringLiteral("/share");
    if (trashCanBeMade) {
      ASSERT_TRUE(QDir().mkpath(share));
    }
    const QByteArray before = qgetenv("XDG_DATA_HOME");
    const QString cwd = QDir::currentPath();
    qputenv("XDG_DATA_HOME", QFile::encodeName(share));
    QDir::setCurrent(elsewhere.path());
    const QStringList names = Names(f.Path);
    const QString error = f.Takes.Trash(QStringLiteral("scales"));
    QDir::setCurrent(cwd);
    before.isNull() ? qunsetenv("XDG_DATA_HOME") : qputenv("XDG_DATA_HOME", before);
    const QDir trash(share + QStringLiteral("/Trash"));
    if (trashCanBeMade) {
      ASSERT_EQ(error, QString());
      EXPECT_TRUE(f.Takes.FilesOf(QStringLiteral("scales")).isEmpty());
      EXPECT_EQ(QDir(trash.filePath(QStringLiteral("files"))).entryList(QDir::Files, QDir::Name),
                (QStringList{QStringLiteral("scales.formants.csv"),
                             QStringLiteral("scales.note.txt"), QStringLiteral("scales.wav")}));
      EXPECT_EQ(QDir(trash.filePath(QStringLiteral("info"))).entryList(QDir::Files).size(), 3);
      // The take beside it, whose name begins the same, stays.
      EXPECT_EQ(f.Takes.FilesOf(QStringLiteral("scales.b")).size(), 2);
    } else {
      EXPECT_TRUE(error.contains(QStringLiteral("no trash"))) << error.toStdString();
      EXPECT_TRUE(error.contains(QStringLiteral("Nothing was deleted"))) << error.toStdString();
      EXPECT_EQ(Names(f.Path), names);
      // Nothing left where the file went for a moment.
      EXPECT_EQ(QDir(elsewhere.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                QStringList());
    }
  }
}

TEST(TakeFolder, NotesAndLengths) {
  TFolder f;
  EXPECT_EQ(f.Takes.Note(QStringLiteral("scales")), QStringLiteral("tight jaw"));
  const QString note = QStringLiteral("Soprano, «aah» on G5\nbreath at 0:12");
  ASSERT_EQ(f.Takes.SetNote(QStringLiteral("scales"), note), QString());
  EXPECT_EQ(f.Takes.Note(QStringLiteral("scales")), note);
  ASSERT_EQ(f.Takes.SetNote(QStringLiteral("scales"), QString()), QString());
  EXPECT_FALSE(QFile::exists(f.Path + QStringLiteral("/scales.note.txt")));
  EXPECT_FALSE(f.Takes.SetNote(QStringLiteral("../x"), QStringLiteral("n")).isEmpty());

  WriteWav(f.Path + QStringLiteral("/ok.wav"), 48000 * 3, 48000);
  WriteWav(f.Path + QStringLiteral("/empty.wav"), 0);
  QString problem;
  EXPECT_DOUBLE_EQ(CTakeFolder::Length(f.Path + QStringLiteral("/ok.wav"), problem), 3.0);
  EXPECT_EQ(problem, QString());
  // A FLAC cut short: the length its header gives, and a word about it.
  // (libsndfile gives a WAV the length it holds.)
  const QString flac = f.Path + QStringLiteral("/cut.flac");
  WriteWav(flac, 44100 * 2, 44100, SF_FORMAT_FLAC);
  EXPECT_DOUBLE_EQ(CTakeFolder::Length(flac, problem), 2.0);
  EXPECT_EQ(problem, QString());
  QFile::resize(flac, QFileInfo(flac).size() / 2);
  EXPECT_DOUBLE_EQ(CTakeFolder::Length(flac, problem), 2.0);
  EXPECT_TRUE(problem.startsWith(QStringLiteral("cut short"))) << problem.toStdString();
  for (const char* bad : {"/empty.wav", "/scales.wav", "/missing.wav"}) {
    problem.clear();
    EXPECT_LT(CTakeFolder::Length(f.Path + QLatin1String(bad), problem), 0) << bad;
    EXPECT_FALSE(problem.isEmpty()) << bad;
  }
}

}  // namespace
}  // namespace quenvis
