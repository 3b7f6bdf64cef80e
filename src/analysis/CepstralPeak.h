#pragma once
// Smoothed cepstral peak prominence (CPPS, dB) with Praat's standard
// settings: power cepstra every 2 ms of the pre-emphasised (from 50 Hz)
// sound, each frame less its mean over 0.1 s and then under a Gaussian
// window of effective length 0.05 s (three periods of 60 Hz); five of them
// (0.01 s) averaged, then 0.001 s of quefrency; the peak between 1/330 and
// 1/60 s (a parabola through it) above a straight line fitted robustly to
// 0.001-0.05 s. The sound is the analyser's 11 025 Hz one; the cepstrum is
// taken of its spectrum up to 5 000 Hz only, as Praat's of the sound
// resampled to 10 000 Hz: the band moves the prominence by up to 4 dB
// either way.
#include <array>
#include <cstddef>

namespace quenvis {

class CCepstralPeak {
 public:
  static constexpr double Rate = 11025;
  static constexpr int Size = 1104;           // transform length: the window, about 10 Hz bins
  static constexpr double MaxFrequency = 5000;
  static constexpr int Bands = static_cast<int>(MaxFrequency * Size / Rate);  // 500
  static constexpr int CepSize = 2 * Bands;   // the cepstrum's transform
  static constexpr double QuefrencyRate = CepSize * Rate / Size;  // 9 986 Hz: 0.1 ms steps
  static constexpr int Window = 1102;        // samples: twice the effective length
  static constexpr int Frames = 5;            // averaged over time
  static constexpr double FrameStep = 0.002;  // s
  static constexpr int MeanEdge = 9;          // samples either side of the window for its mean
  static constexpr int Span =
      Window + 2 * MeanEdge + static_cast<int>((Frames - 1) * FrameStep * Rate) + 2;
  static constexpr double MinPitch = 60, MaxPitch = 330;      // peak search, Hz
  static constexpr double TrendFrom = 0.001, TrendTo = 0.05;  // s
  static constexpr double QuefrencySmoothing = 0.001;         // s

  CCepstralPeak();  // plans the transforms; std::bad_alloc when FFTW cannot
  ~CCepstralPeak();
  CCepstralPeak(const CCepstralPeak&) = delete;
  CCepstralPeak& operator=(const CCepstralPeak&) = delete;

  // X: the latest Span samples at Rate, oldest first. The prominence in dB
  // of the frames centred from about 0.059 to 0.051 s before the end; NaN
  // for silence.
  double Measure(const double* X) noexcept;

 private:
  static constexpr int Smooth = 11;  // taps: 0.001 s, the outer two weighed half
  static constexpr int Top = static_cast<int>(TrendTo * QuefrencyRate) + Smooth / 2 + 1;
  double* FIn;
  void* FSpec;     // fftw_complex[Size / 2 + 1]
  void* FLogSpec;  // fftw_complex[Bands + 1]
  double* FCep;
  void* FForward;   // fftw_plan
  void* FBackward;  // fftw_plan
  std::array<double, Window> FWindow{};
  std::array<double, Window + 2 * MeanEdge> FMeanWeights{};
  std::array<double, Span> FEmph{};
  std::array<double, Top + 1> FSum{}, FSmooth{};
  std::array<double, Top> FSlopes{};
};

}  // namespace quenvis
