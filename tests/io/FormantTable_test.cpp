// formants.csv read back: good rows kept, damaged ones skipped and counted.
#include "io/FormantTable.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

using namespace quenvis;

class FormantTableTest : public test::TTempFolderTest {};

constexpr const char* Header =
    "block,time_s,f0_hz,f1_hz,f2_hz,f3_hz,b1_hz,b2_hz,b3_hz,voiced,confidence\n";

TEST_F(FormantTableTest, VoicedRowsWithBothFormantsBecomePoints) {
  const std::string path = Write("t.formants.csv", std::string(Header) +
                                                       "0,0.046,,,,,,,,0,0\n"
                                                       "1,0.093,220.0,310.5,2790.0,3300.0,60,90,150,1,0.8\n"
                                                       "2,0.139,220.0,,2790.0,,,,,1,0.3\n"
                                                       "3,0.186,220.0,320.0,2750.0,,,,,1,0.7\n"
                                                       "4,0.232,,500.0,1500.0,,,,,0,0\n"
                                                       "\n");
  TFormantTable table;
  ASSERT_EQ(ReadFormantTable(path, table), "");
  ASSERT_EQ(table.Points.size(), 2u);
  EXPECT_DOUBLE_EQ(table.Points[0].Time, 0.093);
  EXPECT_DOUBLE_EQ(table.Points[0].F1, 310.5);
  EXPECT_DOUBLE_EQ(table.Points[0].F2, 2790.0);
  EXPECT_DOUBLE_EQ(table.Points[1].F1, 320.0);
  EXPECT_EQ(table.Rows, 5u);
  EXPECT_EQ(table.Skipped, 0u);
  EXPECT_EQ(table.FirstSkippedLine, 0);
}

TEST_F(FormantTableTest, DamagedLinesAreSkippedAndCounted) {
  // Each is one line after the header and one good row.
  const struct {
    const char* Name;
    const char* Line;
  } cases[] = {
      {"too few fields", "2,0.139,220,310,2790\n"},
      {"too many fields", "2,0.139,220,310,2790,,,,,1,0.5,9\n"},
      {"text for a number", "2,0.139,220,abc,2790,,,,,1,0.5\n"},
      {"number and text", "2,0.139,220,310x,2790,,,,,1,0.5\n"},
      {"not finite", "2,0.139,220,inf,2790,,,,,1,0.5\n"},
      {"not a number", "2,0.139,220,nan,2790,,,,,1,0.5\n"},
      {"negative formant", "2,0.139,220,-310,2790,,,,,1,0.5\n"},
      {"absurd formant", "2,0.139,220,310,1e300,,,,,1,0.5\n"},
      {"no time", "2,,220,310,2790,,,,,1,0.5\n"},
      {"negative time", "2,-1,220,310,2790,,,,,1,0.5\n"},
      {"voiced neither 0 nor 1", "2,0.139,220,310,2790,,,,,yes,0.5\n"},
      {"binary", "\x01\x02\xff\xfe,\x80\n"},
  };
  for (const auto& c : cases) {
    const std::string path =
        Write("bad.csv", std::string(Header) + "1,0.093,220,310,2790,,,,,1,0.8\n" + c.Line +
                             "3,0.186,220,320,2750,,,,,1,0.7\n");
    TFormantTable table;
    ASSERT_EQ(ReadFormantTable(path, table), "") << c.Name;
    EXPECT_EQ(table.Points.size(), 2u) << c.Name;
    EXPECT_EQ(table.Skipped, 1u) << c.Name;
    EXPECT_EQ(table.FirstSkippedLine, 3) << c.Name;
    EXPECT_EQ(table.Rows, 3u) << c.Name;
  }
}

TEST_F(FormantTableTest, ColumnsAreFoundByNameAndVoicedIsOptional) {
  // Another program's table: other columns, another order, CRLF, a BOM.
  const std::string path = Write("other.csv",
                                 "\xEF\xBB\xBF" "f2_hz,speaker,f1_hz,time_s\r\n"
                                 "1500,ann,500,0.5\r\n"
                                 ",ann,500,0.6\r\n"
                                 "1600,\"b, c\",520,0.7\r\n");
  TFormantTable table;
  ASSERT_EQ(ReadFormantTable(path, table), "");
  ASSERT_EQ(table.Points.size(), 2u);
  EXPECT_DOUBLE_EQ(table.Points[1].F1, 520);
  EXPECT_DOUBLE_EQ(table.Points[1].F2, 1600);
  EXPECT_DOUBLE_EQ(table.Points[1].Time, 0.7);
  EXPECT_EQ(table.Skipped, 0u);
}

TEST_F(FormantTableTest, FilesThatAreNoTableSaySo) {
  const struct {
    const char* Name;
    std::string Text;
    const char* Error;
  } cases[] = {
      {"empty", "", "empty"},
      {"no header", "1,0.093,220,310,2790,,,,,1,0.8\n", "not a formants table"},
      {"voice table", "block,time_s,cpps_db,hnr_db\n1,0.1,10,20\n", "not a formants table"},
      {"flac", std::string("fLaC\0\0\0\x22", 8) + std::string(100, '\xAA'), "not a formants table"},
  };
  for (const auto& c : cases) {
    TFormantTable table;
    table.Skipped = 99;
    const std::string error = ReadFormantTable(Write("x.csv", c.Text), table);
    EXPECT_NE(error.find(c.Error), std::string::npos) << c.Name << ": " << error;
    EXPECT_TRUE(table.Points.empty());
    EXPECT_EQ(table.Skipped, 0u);
  }
  TFormantTable table;
  EXPECT_NE(ReadFormantTable((FDir / "missing.csv").string(), table).find("No such file"),
            std::string::npos);
  EXPECT_NE(ReadFormantTable(FDir.string(), table).find("folder"), std::string::npos);
  // A pipe nobody writes to would never open: refused at once.
  const std::string fifo = (FDir / "pipe.csv").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_NE(ReadFormantTable(fifo, table).find("not a regular file"), std::string::npos);
  EXPECT_NE(ReadFormantTable("/dev/zero", table).find("not a regular file"), std::string::npos);
}

}  // namespace
