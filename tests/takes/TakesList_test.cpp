// The takes list from the chart window, on the scripted capture service:
// what it shows, refreshing as takes are saved, notes, renaming and the
// trash, and opening a take.
#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <memory>

#include "app/Playback.h"
#include "app/UIQuenvis.h"
#include "capture/UWaveRecorder.h"
#include "chart/MarkerControl.h"
#include "chart/VowelChart.h"
#include "support/FakeWaveInService.h"
#include "support/QtTestMain.h"
#include "support/RunEvents.h"
#include "takes/TakeRecorder.h"
#include "takes/TakesList.h"

namespace quenvis {
namespace {

using test::RunUntil;

struct TSetup {
  QTemporaryDir Dir;
  QString Folder = Dir.path() + QStringLiteral("/takes");
  TFakeWaveInService Service{{{"Mic"}}};
  std::unique_ptr<TForm1> Form;
  TVowelChart* Chart = nullptr;
  int Blocks = 0;
  int Saved = 0;

  TSetup() {
    QSettings().setValue(QStringLiteral("takes/folder"), Folder);
    Form = std::make_unique<TForm1>(&Service);
    Form->Playback->File().SetOutput(nullptr);
    Form->ShowChart();
    Chart = Form->Chart;
    auto inner = Form->Recorder->OnData;
    Form->Recorder->OnData = [this, inner](void* Data, int32_t Bytes, int32_t Frames,
                                           int32_t& Done) {
      inner(Data, Bytes, Frames, Done);
      ++Blocks;
    };
    QObject::connect(&Chart->Takes(), &TTakeRecorder::saved, [this] { ++Saved; });
  }
  bool Capture(int Count) {
    for (int i = 0; i < Count; ++i) {
      const int before = Blocks;
      if (Service.FillBlocks(1) == 0 || !RunUntil([&] { return Blocks > before; }, 10000))
        return false;
    }
    return true;
  }
  // A take of Count blocks; its sound file.
  QString Record(int Count) {
    const int saved = Saved;
    Chart->ToggleRecording();
    const QString path = Chart->Takes().LastPath();
    EXPECT_TRUE(Capture(Count));
    Chart->ToggleRecording();
    EXPECT_TRUE(RunUntil([&] { return Saved > saved; }, 20000));
    return path;
  }
};

QString Stem(const QString& Path) { return QFileInfo(Path).completeBaseName(); }

TEST(TakesList, ListsRefreshesAndMarksWhatCannotBeRead) {
  TSetup s;
  TTakesList& list = s.Chart->ShowTakesList();
  EXPECT_TRUE(list.FolderText().contains(QStringLiteral("no such folder")))
      << list.FolderText().toStdString();
  EXPECT_EQ(list.Count(), 0);
  const QString first = s.Record(20);
  // Saved while the list is open: it shows at once.
  ASSERT_EQ(list.Count(), 1);
  // The take being written is not played (it would record itself).
  s.Chart->ToggleRecording();
  ASSERT_TRUE(s.Capture(2));
  list.Refresh();
  const int writing = list.RowOf(Stem(s.Chart->Takes().LastPath()));
  ASSERT_GE(writing, 0);
  emit list.openRequested(list.Take(writing).SoundPath);
  EXPECT_TRUE(s.Chart->Status().contains(QStringLiteral("being recorded")));
  EXPECT_TRUE(
      list.RenameTake(writing, QStringLiteral("x")).contains(QStringLiteral("being recorded")));
  EXPECT_FALSE(s.Form->Playback->Active());
  s.Chart->ToggleRecording();
  ASSERT_TRUE(RunUntil([&] { return s.Saved == 2; }, 20000));
  ASSERT_EQ(list.Count(), 2);
  // Out of the way again: the rest wants one take.
  for (const QString& f :
       list.Files().FilesOf(list.Take(list.RowOf(Stem(s.Chart->Takes().LastPath()))).Stem))
    ASSERT_TRUE(QFile::remove(f));
  list.Refresh();
  ASSERT_EQ(list.Count(), 1);
  EXPECT_TRUE(list.FolderText().endsWith(QStringLiteral(": 1 take")));
  // A take cut to its header, one cut in the middle, and one that is no
  // sound file at all.
  QFile::copy(first, s.Folder + QStringLiteral("/quenvis-2025-01-01_00-00-00.flac"));
  QFile::resize(s.Folder + QStringLiteral("/quenvis-2025-01-01_00-00-00.flac"), 30);
  QFile::copy(first, s.Folder + QStringLiteral("/quenvis-2025-01-03_00-00-00.flac"));
  QFile::resize(s.Folder + QStringLiteral("/quenvis-2025-01-03_00-00-00.flac"),
                QFileInfo(first).size() / 2);
  {
    QFile junk(s.Folder + QStringLiteral("/quenvis-2025-01-02_00-00-00.wav"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a sound");
  }
  list.Refresh();
  ASSERT_EQ(list.Count(), 4);
  ASSERT_TRUE(RunUntil([&] { return list.LengthsRead(); }, 10000));
  QTreeWidget* table = list.Table();
  EXPECT_EQ(list.Take(0).Stem, Stem(first));  // newest first
  EXPECT_EQ(table->topLevelItem(0)->text(TTakesList::ColumnLength), QStringLiteral("0:00.9"));
  EXPECT_EQ(table->topLevelItem(0)->foreground(TTakesList::ColumnTake), QBrush());
  EXPECT_EQ(list.Take(1).Stem, QStringLiteral("quenvis-2025-01-03_00-00-00"));
  EXPECT_EQ(table->topLevelItem(1)->text(TTakesList::ColumnLength),
            QStringLiteral("0:00.9 cut short"));
  EXPECT_NE(table->topLevelItem(1)->foreground(TTakesList::ColumnTake), QBrush());
  for (int row : {2, 3}) {
    EXPECT_EQ(table->topLevelItem(row)->text(TTakesList::ColumnLength),
              QStringLiteral("unreadable"))
        << row;
    EXPECT_FALSE(table->topLevelItem(row)->toolTip(TTakesList::ColumnLength).isEmpty()) << row;
  }

  // A note edited in the list is kept beside the take, in UTF-8.
  table->topLevelItem(0)->setText(TTakesList::ColumnNote, QStringLiteral("jaw tight – «aah»"));
  QFile note(s.Folder + u'/' + Stem(first) + QStringLiteral(".note.txt"));
  ASSERT_TRUE(note.open(QIODevice::ReadOnly));
  EXPECT_EQ(QString::fromUtf8(note.readAll()), QStringLiteral("jaw tight – «aah»"));

  // The folder goes: said, nothing listed, nothing crashes.
  ASSERT_TRUE(QDir(s.Folder).removeRecursively());
  list.Refresh();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_TRUE(list.FolderText().contains(QStringLiteral("no such folder")));
}

TEST(TakesList, RenamesAndTrashesWholeTakesButNotOneInUse) {
  TSetup s;
  const QString played = s.Record(5);
  QTest::qWait(1100);  // the next take gets a name of its own
  const QString other = s.Record(5);
  // Markers on the take about to be renamed.
  TFileWaveInService& file = s.Form->Playback->File();
  file.SetPacing(false);
  ASSERT_EQ(s.Form->OpenRecording(other), QString());
  ASSERT_TRUE(RunUntil([&] { return file.IsStarted(); }, 15000));
  ASSERT_TRUE(s.Chart->Markers().Markers().AddPoint(0.1, QStringLiteral("here")));
  ASSERT_EQ(s.Form->OpenRecording(played), QString());
  ASSERT_TRUE(RunUntil([&] { return s.Chart->Markers().PlayingPath() == played; }, 15000));

  TTakesList& list = s.Chart->ShowTakesList();
  ASSERT_EQ(list.Count(), 2);
  const int playedRow = list.RowOf(Stem(played)), otherRow = list.RowOf(Stem(other));
  EXPECT_TRUE(list.RenameTake(playedRow, QStringLiteral("x")).contains(QStringLiteral("playing")));
  EXPECT_TRUE(list.DeleteTake(playedRow).contains(QStringLiteral("playing")));
  EXPECT_TRUE(list.RenameTake(otherRow, Stem(played)).contains(QStringLiteral("already exists")));
  EXPECT_EQ(list.Count(), 2);

  ASSERT_EQ(list.RenameTake(otherRow, QStringLiteral("sirens")), QString());
  const QStringList files = list.Files().FilesOf(QStringLiteral("sirens"));
  EXPECT_EQ(files.size(), 4) << files.join(u' ').toStdString();  // sound, tables, markers
  EXPECT_TRUE(list.Files().FilesOf(Stem(other)).isEmpty());
  const int sirens = list.RowOf(QStringLiteral("sirens"));
  ASSERT_GE(sirens, 0);

  // No trash for the folder: the take stays and the message says so.
  list.Files().SetTrashFunction([](const QString&, QString&, QString& Error) {
    Error = QStringLiteral("no trash here");
    return false;
  });
  EXPECT_TRUE(list.DeleteTake(sirens).contains(QStringLiteral("Nothing was deleted")));
  EXPECT_EQ(list.Files().FilesOf(QStringLiteral("sirens")).size(), 4);
  QTemporaryDir trash;
  list.Files().SetTrashFunction([&](const QString& Path, QString& InTrash, QString&) {
    InTrash = trash.filePath(QFileInfo(Path).fileName());
    return QFile::rename(Path, InTrash);
  });
  ASSERT_EQ(list.DeleteTake(sirens), QString());
  EXPECT_TRUE(list.Files().FilesOf(QStringLiteral("sirens")).isEmpty());
  EXPECT_EQ(QDir(trash.path()).entryList(QDir::Files).size(), 4);
  EXPECT_EQ(list.Count(), 1);

  // Open plays the take, as Open... does.
  s.Form->Bt_startClick(nullptr);
  ASSERT_TRUE(RunUntil([&] { return !s.Form->Playback->Active(); }, 10000));
  list.Table()->setCurrentItem(list.Table()->topLevelItem(0));
  emit list.openRequested(list.Take(0).SoundPath);
  ASSERT_TRUE(RunUntil([&] { return s.Chart->Markers().PlayingPath() == played; }, 15000));
}

}  // namespace
}  // namespace quenvis

int main(int argc, char** argv) { return quenvis::test::RunWidgetTests(argc, argv); }
