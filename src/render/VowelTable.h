#pragma once
// The corpus table: one row per vowel token with its formants at fixed
// points of the interval, and the per-speaker Lobanov z-scores that can only
// be computed once every token of the speaker is known (when the parts are
// merged).
#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "analysis/FormantTracker.h"
#include "render/Manifest.h"

namespace quenvis {

// The points of each interval measured, in percent of its duration.
inline constexpr std::array<int, 5> MeasurePercents = {20, 35, 50, 65, 80};
// The point the speakers' normalisation is computed from.
inline constexpr std::size_t LobanovPoint = 2;
// An analysis counts for a point when its centre lies this close to it.
inline constexpr double MeasureReachS = 0.005;

// Medians at one point; 0 where unknown.
struct TPointMeasure {
  double F0 = 0;
  std::array<double, 3> F{}, B{};
  double Confidence = 0;  // mean of the analyses' confidence
  int Analyses = 0;       // within reach
};

struct TVowelToken {
  std::string Word, Phone;
  double Start = 0, End = 0;
  std::array<TPointMeasure, MeasurePercents.size()> Points{};
};

// Takes the analyses of a recording in time order and gives each point of
// each token the medians of the analyses within MeasureReachS of it; only
// the last few analyses are held, however long the recording.
class CTokenMeasurer {
 public:
  explicit CTokenMeasurer(std::vector<TVowelToken>& Tokens);
  void Add(double Centre, const TFormants& Formants);
  // Completes the points no analysis came after.
  void Finish();

 private:
  struct TPoint {
    double Time;
    std::size_t Token, Index;
  };
  struct TAnalysis {
    double Centre;
    TFormants Formants;
  };
  void Complete(const TPoint& Point);

  std::vector<TVowelToken>& FTokens;
  std::vector<TPoint> FPoints;  // by time
  std::size_t FNext = 0;        // the first point not completed
  std::vector<TAnalysis> FRecent;
  // The values of one point, kept to spare an allocation per point.
  std::vector<double> FValues;
};

// The table's header line (with its newline).
std::string VowelTableHeader(const std::vector<std::string>& CarriedNames);
// A token's row up to the Lobanov columns (no newline).
std::string VowelTableRow(const TManifestEntry& Entry, const TVowelToken& Token);

// A recording's part: what the merge needs of its tokens, or its problem.
// Written to Path through a temporary name in the same folder, so that a
// part is complete or absent. Returns 0 or an errno value.
int WritePart(const std::string& Path, const std::string& Key, const TManifestEntry& Entry,
              const std::vector<TVowelToken>& Tokens, const std::string& Problem);

// Whether the part at Path is entry Key's and whole (a machine that crashed
// may leave a part cut short).
bool PartComplete(const std::string& Path, const std::string& Key);

// The entries and header a merge needs, as a run of any shard leaves them.
int WriteCorpusIndex(const std::string& PartsDir, const TManifest& Manifest);

// Joins the parts in PartsDir into Table and Problems (written atomically),
// in the order of the entries. Missing gets the recordings of entries with
// no part; when any is missing nothing is written. Returns an empty string,
// or one line naming what failed.
std::string MergeVowelTable(const std::string& PartsDir, const std::string& Table,
                            const std::string& Problems, std::vector<std::string>& Missing);

// Where entry Key's part lies in PartsDir.
std::string PartPath(const std::string& PartsDir, const std::string& Key);

}  // namespace quenvis
