#include "takes/Comparison.h"

#include <sys/stat.h>

#include <algorithm>
#include <iterator>
#include <cctype>
#include <map>

#include "io/TextGrid.h"

namespace quenvis {

namespace {

bool EndsWith(const std::string& s, std::string_view End) {
  return s.size() >= End.size() && std::equal(End.rbegin(), End.rend(), s.rbegin(),
                                              [](char a, char b) {
                                                return std::tolower(static_cast<unsigned char>(a)) ==
                                                       std::tolower(static_cast<unsigned char>(b));
                                              });
}

std::string FileName(const std::string& Path) {
  const std::size_t slash = Path.rfind('/');
  return slash == std::string::npos ? Path : Path.substr(slash + 1);
}

bool Exists(const std::string& Path, bool& Regular) {
  struct stat info {};
  if (::stat(Path.c_str(), &info) != 0) return false;
  Regular = S_ISREG(info.st_mode);
  return true;
}

}  // namespace

TTakeFiles TakeFilesFor(const std::string& Path) {
  std::string stem;
  TTakeFiles files;
  if (EndsWith(Path, ".formants.csv")) {
    stem = Path.substr(0, Path.size() - 13);
    files.Table = Path;
  } else if (EndsWith(Path, ".csv")) {
    stem = Path.substr(0, Path.size() - 4);
    files.Table = Path;
  } else {
    const std::size_t dot = Path.rfind('.');
    const std::size_t slash = Path.rfind('/');
    stem = dot != std::string::npos && (slash == std::string::npos || dot > slash)
               ? Path.substr(0, dot)
               : Path;
    files.Table = stem + ".formants.csv";
  }
  files.TextGrid = stem + ".TextGrid";
  files.Name = FileName(stem);
  return files;
}

std::string CComparison::Load(const std::string& Path) {
  const TTakeFiles files = TakeFilesFor(Path);
  TFormantTable table;
  std::string error = ReadFormantTable(files.Table, table);
  if (!error.empty()) return FileName(files.Table) + ": " + error;

  std::vector<TMark> marks;
  std::string marksProblem;
  bool regular = false;
  if (Exists(files.TextGrid, regular)) {
    TTextGrid grid;
    // A pipe of that name would hold the window up waiting for a writer.
    error = regular ? ReadTextGrid(files.TextGrid, grid) : files.TextGrid + ": not a regular file";
    if (!error.empty()) {
      marksProblem = error;
    } else if (const TTier* tier = grid.IntervalTier(SelectionsTier)) {
      for (const TInterval& i : tier->Items)
        if (i.Text.find_first_not_of(" \t") != std::string::npos && i.End > i.Start)
          marks.push_back({i.Start, i.End, i.Text});
    }
  }

  FName = files.Name;
  FTablePath = files.Table;
  FRows = std::move(table.Points);
  FSkipped = table.Skipped;
  FFirstSkippedLine = table.FirstSkippedLine;
  FTruncated = table.Truncated;
  FMarks = std::move(marks);
  FMarksProblem = std::move(marksProblem);
  FPoints.clear();
  FPoints.reserve(FRows.size());
  for (const TFormantPoint& p : FRows) FPoints.push_back({p.F1, p.F2});
  FClusters.clear();
  return {};
}

void CComparison::Clear() { *this = CComparison(); }

void CComparison::Cluster(const std::vector<TReferenceVowel>& References) {
  FClusters.clear();
  if (FMarks.empty()) {
    FClusters = ClusterByNearest(FPoints, References);
    return;
  }
  // One cloud per label, in the order the labels first appear.
  std::vector<std::string> order;
  std::map<std::string, std::vector<TVowelPoint>> groups;
  for (const TMark& m : FMarks)
    if (groups.try_emplace(m.Label).second) order.push_back(m.Label);
  // An interval tier's stretches follow one another without overlapping:
  // the one that may hold a row is the last to start at or before it.
  std::vector<TMark> marks = FMarks;
  std::stable_sort(marks.begin(), marks.end(),
                   [](const TMark& a, const TMark& b) { return a.Start < b.Start; });
  for (const TFormantPoint& p : FRows) {
    const auto after = std::upper_bound(marks.begin(), marks.end(), p.Time,
                                        [](double t, const TMark& m) { return t < m.Start; });
    if (after != marks.begin() && p.Time < std::prev(after)->End)
      groups[std::prev(after)->Label].push_back({p.F1, p.F2});
  }
  for (const std::string& label : order) {
    TCloudEllipse e;
    if (!FitCloudEllipse(groups[label], e)) continue;
    e.Label = label;
    FClusters.push_back(std::move(e));
  }
}

std::string CComparison::Summary() const {
  if (Empty()) return {};
  std::string s = FName + ": " + std::to_string(FPoints.size()) + " voiced rows";
  if (FSkipped > 0)
    s += ", " + std::to_string(FSkipped) + (FSkipped == 1 ? " bad line" : " bad lines") +
         " skipped (line " + std::to_string(FFirstSkippedLine) + (FSkipped > 1 ? " first)" : ")");
  if (FTruncated) s += ", only the first " + std::to_string(MaxFormantRows) + " rows";
  s += FMarks.empty() ? ", vowels by the nearest reference"
                      : ", vowels by " + std::to_string(FMarks.size()) + " marked stretches";
  if (!FMarksProblem.empty()) s += " (TextGrid not used: " + FMarksProblem + ")";
  return s;
}

}  // namespace quenvis
