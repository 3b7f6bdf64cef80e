// A take's markers and named selections, and the TextGrid they are kept in.
#include "takes/TakeMarkers.h"

#include <gtest/gtest.h>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <vector>

namespace quenvis {
namespace {

QByteArray Bytes(const QString& Path) {
  QFile f(Path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TTextGrid Read(const QString& Path) {
  TTextGrid g;
  EXPECT_EQ(ReadTextGrid(QFile::encodeName(Path).toStdString(), g), "");
  return g;
}

TEST(TakeMarkers, NewSelectionsCutBackTheOldOnesTheyOverlap) {
  struct TCase {
    const char* Name;
    double From, To;
    std::vector<TNamedSpan> Out;
  };
  // Over "a" 2-4 and "b" 6-8 in a take of 10 s.
  const std::vector<TCase> cases = {
      {"apart", 4.5, 5.5, {{2, 4, "a"}, {4.5, 5.5, "n"}, {6, 8, "b"}}},
      {"backwards", 5.5, 4.5, {{2, 4, "a"}, {4.5, 5.5, "n"}, {6, 8, "b"}}},
      {"end of one", 3, 5, {{2, 3, "a"}, {3, 5, "n"}, {6, 8, "b"}}},
      {"across both", 3, 7, {{2, 3, "a"}, {3, 7, "n"}, {7, 8, "b"}}},
      {"inside one", 2.5, 3.5, {{2, 2.5, "a"}, {2.5, 3.5, "n"}, {3.5, 4, "a"}, {6, 8, "b"}}},
      {"over one whole", 1, 5, {{1, 5, "n"}, {6, 8, "b"}}},
      {"past the end", 9, 30, {{2, 4, "a"}, {6, 8, "b"}, {9, 10, "n"}}},
      {"too short", 5, 5.005, {{2, 4, "a"}, {6, 8, "b"}}},
  };
  QTemporaryDir dir;
  for (const TCase& c : cases) {
    TTakeMarkers m;
    m.Open(dir.filePath(QString::fromLatin1(c.Name) + QStringLiteral(".wav")), 10);
    ASSERT_TRUE(m.AddSpan(2, 4, QStringLiteral("a")));
    ASSERT_TRUE(m.AddSpan(6, 8, QStringLiteral("b")));
    EXPECT_EQ(m.AddSpan(c.From, c.To, QStringLiteral("n")), std::string(c.Name) != "too short")
        << c.Name;
    ASSERT_EQ(m.Spans().size(), c.Out.size()) << c.Name;
    for (std::size_t i = 0; i < c.Out.size(); ++i) {
      EXPECT_EQ(m.Spans()[i].From, c.Out[i].From) << c.Name << " " << i;
      EXPECT_EQ(m.Spans()[i].To, c.Out[i].To) << c.Name << " " << i;
      EXPECT_EQ(m.Spans()[i].Name, c.Out[i].Name) << c.Name << " " << i;
    }
  }
}

TEST(TakeMarkers, KeptAsATextGridBesideTheTakeAndReadBack) {
  QTemporaryDir dir;
  const QString sound = dir.filePath(QStringLiteral("quenvis-2026-12-08_14-05-09.flac"));
  const QString grid = dir.filePath(QStringLiteral("quenvis-2026-12-08_14-05-09.TextGrid"));
  EXPECT_EQ(TTakeMarkers::PathFor(sound), grid);
  {
    TTakeMarkers m;
    ASSERT_EQ(m.Open(sound, 12.5), QString());
    // Nothing is written for a take without markers.
    EXPECT_TRUE(m.Save());
    EXPECT_FALSE(QFile::exists(grid));
    ASSERT_TRUE(m.AddPoint(3.25));
    EXPECT_TRUE(QFile::exists(grid));
    EXPECT_TRUE(m.RenamePoint(3.25, QStringLiteral("breath «here»")));
    ASSERT_TRUE(m.AddPoint(1.5, QStringLiteral("onset")));
    EXPECT_FALSE(m.AddPoint(1.5));  // one marker a time
    ASSERT_TRUE(m.AddPoint(99));    // past the end: at the end
    ASSERT_TRUE(m.AddSpan(4, 6.5, QStringLiteral("phrase 1")));
    EXPECT_FALSE(m.AddSpan(7, 8, QStringLiteral(" ")));  // a selection needs a name
    // Every change is on disk at once.
    const TTextGrid g = Read(grid);
    EXPECT_EQ(g.End, 12.5);
    ASSERT_EQ(g.Tiers.size(), 2u);
    EXPECT_TRUE(g.Tiers[0].Points);
    EXPECT_EQ(g.Tiers[0].Name, "markers");
    ASSERT_EQ(g.Tiers[0].Items.size(), 3u);
    EXPECT_EQ(g.Tiers[0].Items[0].Start, 1.5);
    EXPECT_EQ(g.Tiers[0].Items[1].Text, "breath «here»");
    EXPECT_EQ(g.Tiers[0].Items[2].Start, 12.5);
    const TTier* s = g.IntervalTier("selections");
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(s->Items.size(), 3u);
    EXPECT_EQ(s->Items[1].Start, 4);
    EXPECT_EQ(s->Items[1].Text, "phrase 1");
  }
  TTakeMarkers again;
  ASSERT_EQ(again.Open(sound, 12.5), QString());
  ASSERT_EQ(again.Points().size(), 3u);
  EXPECT_EQ(again.Points()[1].Name, QStringLiteral("breath «here»"));
  ASSERT_EQ(again.Spans().size(), 1u);
  EXPECT_EQ(again.Spans()[0].To, 6.5);
  EXPECT_TRUE(again.RemovePoint(12.5));
  EXPECT_TRUE(again.RemoveSpan(4));
  EXPECT_FALSE(again.RemoveSpan(4));
  const TTextGrid g = Read(grid);
  EXPECT_EQ(g.Tiers[0].Items.size(), 2u);
  EXPECT_EQ(g.IntervalTier("selections")->Items.size(), 1u);
}

TEST(TakeMarkers, OtherTiersAreKeptAndAnUnreadableGridIsNeverWrittenOver) {
  QTemporaryDir dir;
  const QString sound = dir.filePath(QStringLiteral("a.wav"));
  const QString grid = dir.filePath(QStringLiteral("a.TextGrid"));
  // A grid annotated in Praat: words, and our markers tier after it.
  TTextGrid praat;
  praat.End = 5;
  praat.Tiers.push_back({"words", false, {{0, 1, ""}, {1, 2, "hello"}, {2, 5, ""}}});
  praat.Tiers.push_back({"markers", true, {{0.5, 0.5, "x"}}});
  ASSERT_EQ(WriteTextGrid(QFile::encodeName(grid).toStdString(), praat), "");
  {
    TTakeMarkers m;
    ASSERT_EQ(m.Open(sound, 5), QString());
    ASSERT_EQ(m.Points().size(), 1u);
    ASSERT_TRUE(m.AddPoint(2));
    const TTextGrid g = Read(grid);
    ASSERT_EQ(g.Tiers.size(), 3u);
    const TTier* words = g.IntervalTier("words");
    ASSERT_NE(words, nullptr);
    ASSERT_EQ(words->Items.size(), 3u);
    EXPECT_EQ(words->Items[1].Text, "hello");
    EXPECT_EQ(g.Tiers[0].Items.size(), 2u);
  }
  // Damaged: shown as such, and left as it is.
  const QByteArray damaged = Bytes(grid).left(200);
  {
    QFile f(grid);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(damaged);
  }
  TTakeMarkers m;
  QSignalSpy problems(&m, &TTakeMarkers::problem);
  EXPECT_TRUE(m.Open(sound, 5).contains(QStringLiteral("left as it is")));
  EXPECT_FALSE(m.AddPoint(1) && m.Save());
  EXPECT_EQ(Bytes(grid), damaged);
  EXPECT_GE(problems.count(), 1);
  // A folder that went away: the markers stay in memory, and it is said.
  TTakeMarkers lost;
  QSignalSpy lostProblems(&lost, &TTakeMarkers::problem);
  ASSERT_EQ(lost.Open(dir.filePath(QStringLiteral("gone/b.wav")), 5), QString());
  EXPECT_TRUE(lost.AddPoint(1));
  EXPECT_EQ(lost.Points().size(), 1u);
  ASSERT_EQ(lostProblems.count(), 1);
  EXPECT_TRUE(lostProblems[0][0].toString().contains(QStringLiteral("No such file")));
}

}  // namespace
}  // namespace quenvis
