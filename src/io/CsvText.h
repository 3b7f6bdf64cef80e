#pragma once
// CSV as spreadsheets and R write it: fields separated by commas, quoted
// when they hold a comma, a quote or a line break, "" for a quote inside.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace quenvis {

// Appends Field, quoted when it needs to be.
void AppendCsvField(std::string& Line, std::string_view Field);

// Reads records one at a time from a file; a quoted field may span lines.
class CCsvReader {
 public:
  explicit CCsvReader(std::FILE* File) : FFile(File) {}
  // The next record's fields; false at the end (or on a read error, see
  // Failed). Line() is the line the record starts on, from 1.
  bool Next(std::vector<std::string>& Fields);
  int Line() const noexcept { return FRecordLine; }
  bool Failed() const noexcept { return FFailed; }
  // A record whose quote was never closed ends the file.
  bool Unterminated() const noexcept { return FUnterminated; }

 private:
  std::FILE* FFile;
  int FLine = 0, FRecordLine = 0;
  bool FFailed = false, FUnterminated = false, FFirst = true;
};

}  // namespace quenvis
