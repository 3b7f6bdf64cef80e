#pragma once
// Spectral slope measures read from the harmonics (dB): H1-H2, H1-A1 and
// H1-A3, where Hn is the level of the nth harmonic and An that of the
// strongest harmonic near Fn; and H1*-H2*, the same with the boost that F1
// and F2 give each harmonic taken off (Iseli and Alwan's correction: the
// gain of each formant's resonator at the harmonic, from its frequency and
// bandwidth, relative to its gain at 0 Hz).
#include "analysis/FormantTracker.h"
#include "analysis/HarmonicPeaks.h"

namespace quenvis {

struct THarmonicLevels {
  double H1H2, H1A1, H1A3, H1H2Corrected;  // dB; NaN when unknown
};

class CHarmonicLevels {
 public:
  // Spectrum: of the same moment as Formants. Only a voiced F0 gives levels;
  // A1, A3 and the correction also need the formants they name.
  static THarmonicLevels Measure(const CHarmonicSpectrum& Spectrum,
                                 const TFormants& Formants) noexcept;
  // The gain (dB) at Hz of a resonator at Freq with bandwidth Band, re 0 Hz.
  static double ResonatorGain(double Hz, double Freq, double Band) noexcept;
};

}  // namespace quenvis
