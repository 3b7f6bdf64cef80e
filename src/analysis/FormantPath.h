#pragma once
// The formants of a whole recording, chosen looking both ways as phonetic
// trackers do offline: within each voiced stretch, among the resonances
// every analysis found (the harmonics' and the waveform fit's), the path
// whose tracks move least. An analysis that lost F2, or took F3 for it, gets
// it back from its neighbours. Rows come out, in order, once their stretch
// has ended; the live view keeps the causal estimates.
#include <array>
#include <cstdint>
#include <vector>

#include "analysis/FormantTracker.h"

namespace quenvis {

class CFormantPath {
 public:
  // StepMs: the time between analyses, which sets how far a track may move.
  explicit CFormantPath(int StepMs);

  // Queues one analysis; Emit(row, centre, formants) gets the rows whose
  // stretch has ended.
  template <typename TEmit>
  void Add(std::int64_t Row, double Centre, const TFormants& Formants,
           const TFormantCandidates& Candidates, TEmit&& Emit) {
    FRows.push_back({Row, Centre, Formants, Candidates});
    if (!Formants.Voiced || FRows.size() >= MaxStretch) Flush(Emit);
  }
  // Emits the rows still queued.
  template <typename TEmit>
  void Finish(TEmit&& Emit) {
    Flush(Emit);
  }

  // Rows held at most before a stretch is decided in pieces (30 s at 10 ms).
  static constexpr std::size_t MaxStretch = 3000;

 private:
  struct TRow {
    std::int64_t Row;
    double Centre;
    TFormants Formants;
    TFormantCandidates Candidates;
  };
  struct TChoice {
    std::array<double, 3> F{}, B{};
    double Cost = 0;      // of the analysis on its own
    std::uint8_t Source;  // EChoice
  };

  template <typename TEmit>
  void Flush(TEmit& Emit) {
    Resolve();
    for (const TRow& r : FRows) Emit(r.Row, r.Centre, static_cast<const TFormants&>(r.Formants));
    FRows.clear();
  }
  // Rewrites the formants of the queued voiced rows along the steadiest path.
  void Resolve();
  void Stretch(std::size_t Begin, std::size_t End);
  void Choices(const TRow& Row, std::vector<TChoice>& Out) const;
  // The cost of the formants' moving from A to B over Steps analyses.
  double Move(const std::array<double, 3>& A, const std::array<double, 3>& B,
              int Steps) const noexcept;

  double FScale;  // the step's share of 10 ms, for the tracks' spread
  std::vector<TRow> FRows;
  // Per analysis of a stretch: its choices, the path's cost to each and
  // the choice before it.
  std::vector<std::vector<TChoice>> FChoices;
  std::vector<std::vector<double>> FCost;
  std::vector<std::vector<int>> FFrom;
  // The formants last known on the way to each choice, and the steps since
  // (-1: none yet in this stretch): a gap does not part the tracks.
  struct TKnown {
    std::array<double, 3> F{};
    int Steps = -1;
  };
  std::vector<std::vector<TKnown>> FKnown;
};

}  // namespace quenvis
