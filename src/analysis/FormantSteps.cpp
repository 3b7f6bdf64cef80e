#include "analysis/FormantSteps.h"

#include <cmath>

namespace quenvis {

CFormantSteps::CFormantSteps(CFormantTracker& Tracker, int StepMs) noexcept
    : FTracker(Tracker),
      FHop(4 * static_cast<int>(std::nearbyint(StepMs * CFormantTracker::SampleRate / 4000.0))) {
  if (FHop < 4) FHop = 4;
}

double CFormantSteps::CentreSeconds() const noexcept {
  return static_cast<double>(FConsumed - CFormantTracker::CentreLag) /
         CFormantTracker::SampleRate;
}

}  // namespace quenvis
