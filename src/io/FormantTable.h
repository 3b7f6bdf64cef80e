#pragma once
// Reads back a formants.csv, as quenvis-render and takes write it, for
// showing one take beside another: the time and F1, F2 of every voiced row.
// Rows that do not parse are skipped and counted, never fatal.
#include <cstddef>
#include <string>
#include <vector>

namespace quenvis {

struct TFormantPoint {
  double Time = 0;  // s
  double F1 = 0, F2 = 0;  // Hz
};

struct TFormantTable {
  std::vector<TFormantPoint> Points;  // voiced rows with F1 and F2, in file order
  std::size_t Rows = 0;               // data rows read, good or bad
  std::size_t Skipped = 0;            // rows that did not parse
  int FirstSkippedLine = 0;           // the first of them, from 1; 0 when none
  bool Truncated = false;             // stopped at MaxFormantRows
};

// Four hours of 10 ms analyses and then some.
inline constexpr std::size_t MaxFormantRows = 2'000'000;
// A formants.csv of MaxFormantRows rows is far smaller than this.
inline constexpr long long MaxFormantTableBytes = 256LL * 1024 * 1024;

// Returns an empty string and fills Table, or one line saying why the file
// cannot be read as a formants table (Table is then empty).
std::string ReadFormantTable(const std::string& Path, TFormantTable& Table);

}  // namespace quenvis
