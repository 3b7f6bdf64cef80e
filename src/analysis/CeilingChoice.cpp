#include "analysis/CeilingChoice.h"

#include <algorithm>
#include <cmath>

namespace quenvis {

namespace {
constexpr double DeepF0 = 110, HighF0 = 330;  // Hz, where the ceiling stops moving
constexpr double Smoothing = 0.3;             // weight of the latest block
constexpr double Forget = 20;                   // unvoiced blocks that end a voice
}  // namespace

void CCeilingChoice::Reset() noexcept {
  FLogF0 = 0;
  FUnvoiced = 0;
}

double CCeilingChoice::Update(double F0, double Blocks) noexcept {
  if (F0 > 0) {
    const double l = std::log(F0);
    // The same smoothing per second at any hop.
    const double w = Blocks == 1.0 ? Smoothing : 1 - std::pow(1 - Smoothing, std::max(Blocks, 0.0));
    FLogF0 = FLogF0 == 0 ? l : FLogF0 + w * (l - FLogF0);
    FUnvoiced = 0;
  } else if ((FUnvoiced = std::min(FUnvoiced + Blocks, 1e6)) > Forget) {
    FLogF0 = 0;
  }
  return Ceiling();
}

double CCeilingChoice::Ceiling() const noexcept {
  if (FLogF0 == 0) return 0.5 * (Low + High);
  const double t = std::clamp((FLogF0 - std::log(DeepF0)) / std::log(HighF0 / DeepF0), 0.0, 1.0);
  return Low + t * (High - Low);
}

}  // namespace quenvis
