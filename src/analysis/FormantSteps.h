#pragma once
// Formant analyses at a fixed hop shorter than a block, as the offline
// renderer's formants.csv and the corpus table take them: an analysis every
// Hop() input frames, reported only once its whole span lies within the
// recording, with the time of its centre.
#include <cstdint>

#include "analysis/FormantTracker.h"

namespace quenvis {

class CFormantSteps {
 public:
  // StepMs > 0; the hop is the multiple of 4 frames nearest to it, as the
  // estimator's decimation needs.
  CFormantSteps(CFormantTracker& Tracker, int StepMs) noexcept;

  int Hop() const noexcept { return FHop; }
  // The latest analysis, reported or not.
  const TFormants& Last() const noexcept { return FLast; }

  // Feeds a block of Frames frames (up to a block, interleaved stereo 16-bit)
  // and calls Row(row, centre in seconds, formants) for each analysis that
  // is reported, rows numbered from 0.
  template <typename TRow>
  void Feed(const unsigned char* Block, int Frames, TRow&& Row) {
    Feed(Block, Frames, [](const unsigned char*, int) {},
         [&](bool Reported, std::int64_t R, double Centre, const TFormants& F) {
           if (Reported) Row(R, Centre, F);
         });
  }
  // The same, for analyses that ride along (the voice measures): Chunk(data,
  // frames) gets each piece the tracker is fed, and Analysed(reported, row,
  // centre, formants) every analysis, reported or not (row then -1).
  template <typename TChunk, typename TAnalysed>
  void Feed(const unsigned char* Block, int Frames, TChunk&& Chunk, TAnalysed&& Analysed) {
    const int fed = (Frames + 3) / 4 * 4;
    for (int at = 0; at < fed;) {
      const int n = fed - at < FHop - FSince ? fed - at : FHop - FSince;
      FTracker.Feed(Block + static_cast<std::size_t>(at) * 4, n);
      Chunk(Block + static_cast<std::size_t>(at) * 4, n);
      at += n;
      FConsumed += n;
      FSince += n;
      if (FSince < FHop) continue;
      FSince = 0;
      FLast = FTracker.Analyse();
      const bool reported = FConsumed >= CFormantTracker::SpanFrames;
      Analysed(reported, reported ? FRow++ : std::int64_t{-1}, CentreSeconds(),
               static_cast<const TFormants&>(FLast));
    }
  }

 private:
  double CentreSeconds() const noexcept;

  CFormantTracker& FTracker;
  int FHop, FSince = 0;
  std::int64_t FConsumed = 0, FRow = 0;
  TFormants FLast;
};

}  // namespace quenvis
