#pragma once
// Target vowels placed on the chart: where a student should land. Each has
// a ring the size of a reference vowel's ellipse, which turns solid once
// the voice has stayed inside it for half a second. Kept in the reference
// vowels' CSV format. Plain C++.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "chartdraw/ReferenceVowels.h"

namespace quenvis {

class CTargetVowels {
 public:
  // How long the voice must stay inside a ring for it to turn solid.
  static constexpr double HoldSeconds = 0.5;
  // Unvoiced time (a breath, a dropped block) that does not break a hold.
  static constexpr double GapSeconds = 0.1;
  static constexpr std::size_t MaxTargets = MaxReferenceRows;

  const std::vector<TReferenceVowel>& All() const noexcept { return FTargets; }
  bool Empty() const noexcept { return FTargets.empty(); }
  // Only the targets without a voice or of this voice are shown and held.
  void SetVoice(EVoice Voice);
  bool Applies(std::size_t Index) const noexcept;

  // False when there are MaxTargets already or the pair is not a plausible
  // formant pair. A target without a label is named T1, T2, ...
  bool Add(TReferenceVowel Target);
  void Remove(std::size_t Index);
  void Clear();
  // The shown target whose ring holds the pair (the nearest of several), or
  // none.
  std::optional<std::size_t> At(double F1, double F2) const noexcept;
  // The shown target nearest the pair, with its distance in Bark.
  std::optional<std::size_t> Nearest(double F1, double F2, double& Bark) const noexcept;

  // One block of Seconds: voiced at (F1, F2) or not. Returns whether any
  // ring turned solid or hollow.
  bool Update(bool Voiced, double F1, double F2, double Seconds) noexcept;
  bool Solid(std::size_t Index) const noexcept;
  // Every ring hollow again (a seek, a cleared trail).
  bool ResetHolds() noexcept;
  // Whether any ring is filling or full.
  bool Holding() const noexcept;

  // "label,f1_hz,f2_hz[,voice]" with a header line, as reference files are.
  std::string ToCsv() const;
  // Returns an empty string and replaces the targets, or one line saying
  // what is wrong (the targets are then left as they were).
  std::string FromCsv(std::string_view Text);

 private:
  struct THold {
    double Inside = 0;  // seconds inside the ring so far
    double Gap = 0;     // unvoiced seconds since the voice was last inside
  };
  std::vector<TReferenceVowel> FTargets;
  std::vector<THold> FHolds;
  EVoice FVoice = DefaultVoice;
  int FNextNumber = 1;
};

}  // namespace quenvis
