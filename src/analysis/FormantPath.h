#pragma once
// The formants of a whole recording, chosen looking both ways as phonetic
// trackers do offline: within each voiced stretch, among the resonances
// every analysis found (the harmonics' and the waveform fit's), the path
// whose tracks move least. An analysis that lost F2, or took F3 for it, gets
// it back from its neighbours. The tracks may go on for EdgeRows into the
// unvoiced analyses either side whose waveform fit continues them (a vowel's
// edge where the pitch gave up): those rows get formants but stay unvoiced.
// Rows come out, in order, once their stretch has ended; the live view
// keeps the causal estimates.
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
    FUnvoiced = Formants.Voiced ? 0 : FUnvoiced + 1;
    // The last EdgeRows unvoiced rows wait: they may be the next stretch's edge.
    if (FUnvoiced > 2 * EdgeRows)
      Flush(Emit, EdgeRows);
    else if (FRows.size() >= MaxStretch)
      Flush(Emit, 0);
  }
  // Emits the rows still queued.
  template <typename TEmit>
  void Finish(TEmit&& Emit) {
    Flush(Emit, 0, true);
  }

  // Rows held at most before a stretch is decided in pieces (30 s at 10 ms).
  static constexpr std::size_t MaxStretch = 3000;
  // Unvoiced analyses at most a stretch's tracks reach into on either side.
  static constexpr std::size_t EdgeRows = 4;
  // A voiced stretch of at most BlipRows analyses with at least as many
  // unvoiced ones on either side (or the recording's end) is no voice: a
  // burst, a click or a buzz the pitch took for periods. Its rows keep the
  // formants the path gives them, as an edge's, but lose their voicing.
  static constexpr std::size_t BlipRows = 3;

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
  void Flush(TEmit& Emit, std::size_t Keep, bool AtEnd = false) {
    const std::size_t done = FRows.size() - std::min(Keep, FRows.size());
    Resolve(done, AtEnd);
    for (std::size_t i = 0; i < done; ++i) {
      const TRow& r = FRows[i];
      Emit(r.Row, r.Centre, static_cast<const TFormants&>(r.Formants));
      FQuietBefore = r.Formants.Voiced ? 0 : FQuietBefore + 1;
    }
    FRows.erase(FRows.begin(), FRows.begin() + static_cast<std::ptrdiff_t>(done));
  }
  // Rewrites the formants of the first Count queued rows' voiced stretches
  // and their edges along the steadiest path, and unvoices the blips
  // (AtEnd: the recording ends after the queued rows).
  void Resolve(std::size_t Count, bool AtEnd);
  // Whether the stretch of rows Begin..End is a blip.
  bool Blip(std::size_t Begin, std::size_t End, bool AtEnd) const noexcept;
  void Stretch(std::size_t Begin, std::size_t End);
  // Moves formant I (0: F1, 1: F2) of a decided stretch to where its fits agree.
  void Settle(std::size_t Begin, std::size_t End, std::size_t I);
  // Carries row From's formants on, one row at a time, over the Rows
  // unvoiced rows after it (Back: before it) while a waveform reading
  // continues them; returns the rows it gave formants.
  std::size_t Edge(std::size_t From, std::size_t Rows, bool Back);
  void Choices(const TRow& Row, std::vector<TChoice>& Out) const;
  // The cost of the formants' moving from A to B over Steps analyses.
  double Move(const std::array<double, 3>& A, const std::array<double, 3>& B,
              int Steps) const noexcept;

  double FScale;  // the step's share of 10 ms, for the tracks' spread
  std::vector<TRow> FRows;
  std::size_t FUnvoiced = 0;  // unvoiced rows last added in a row
  // Unvoiced rows last emitted in a row (from the recording's start: as
  // many as a blip needs).
  std::size_t FQuietBefore = BlipRows;
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
