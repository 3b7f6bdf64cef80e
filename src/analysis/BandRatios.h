#pragma once
// The singer's formant and the tilt of the spectrum: the singing power ratio,
// the level of the strongest peak at 2-4 kHz against that of the strongest
// at 0-2 kHz, and the alpha ratio, the energy at 1-5 kHz against that at
// 50 Hz-1 kHz (both dB, usually negative: nearer 0 is more ring).
#include "analysis/HarmonicPeaks.h"

namespace quenvis {

struct TBandRatios {
  double SingingPowerRatio, AlphaRatio;  // dB; NaN for silence
};

class CBandRatios {
 public:
  static TBandRatios Measure(const CHarmonicSpectrum& Spectrum) noexcept;
};

}  // namespace quenvis
