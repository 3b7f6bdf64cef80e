#pragma once
// A take shown behind the live or playing trail: its voiced points and, per
// vowel, the mean and one-sigma ellipse of its points. The vowels are the
// stretches marked in a TextGrid beside the take (an interval tier
// "selections", grouped by label) or, without marks, the nearest reference
// vowel of the chart. Plain C++.
#include <cstddef>
#include <string>
#include <vector>

#include "chartdraw/ReferenceVowels.h"
#include "chartdraw/VowelCloud.h"
#include "io/FormantTable.h"

namespace quenvis {

// The TextGrid tier whose labelled intervals group a take's points.
inline constexpr const char* SelectionsTier = "selections";

class CComparison {
 public:
  // Path: a take's recording (its <stem>.formants.csv is read), the
  // formants.csv itself, or any table with time_s, f1_hz and f2_hz columns.
  // Returns an empty string, or one line naming the file and the reason;
  // the comparison is then left as it was.
  std::string Load(const std::string& Path);
  void Clear();
  bool Empty() const noexcept { return FTablePath.empty(); }

  // Groups the points again, for a chart's references (which matter only
  // when the take has no marks).
  void Cluster(const std::vector<TReferenceVowel>& References);

  const std::string& Name() const noexcept { return FName; }
  const std::string& TablePath() const noexcept { return FTablePath; }
  const std::vector<TVowelPoint>& Points() const noexcept { return FPoints; }
  const std::vector<TCloudEllipse>& Clusters() const noexcept { return FClusters; }
  bool ByMarks() const noexcept { return !FMarks.empty(); }
  std::size_t Skipped() const noexcept { return FSkipped; }
  // One line for the status bar: what was read, what was skipped and how
  // the vowels were found.
  std::string Summary() const;

 private:
  struct TMark {
    double Start, End;
    std::string Label;
  };
  std::string FName, FTablePath;
  std::vector<TFormantPoint> FRows;
  std::vector<TVowelPoint> FPoints;
  std::vector<TMark> FMarks;
  std::vector<TCloudEllipse> FClusters;
  std::size_t FSkipped = 0;
  int FFirstSkippedLine = 0;
  bool FTruncated = false;
  std::string FMarksProblem;  // a TextGrid beside the take that could not be used
};

// The table and the TextGrid that belong with Path, and the take's name.
struct TTakeFiles {
  std::string Table, TextGrid, Name;
};
TTakeFiles TakeFilesFor(const std::string& Path);

}  // namespace quenvis
