#include "analysis/Avqi.h"

#include <fftw3.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <numbers>

#include "analysis/CepstralPeak.h"
#include "analysis/FormantSteps.h"
#include "analysis/FormantTracker.h"
#include "analysis/Halfband.h"
#include "analysis/HarmonicPeaks.h"
#include "analysis/JitterShimmer.h"
#include "analysis/PeriodMarks.h"
#include "analysis/VoiceMeasures.h"

namespace quenvis {

namespace {

std::size_t Samples(double Seconds) {
  return static_cast<std::size_t>(std::max(0.0, std::nearbyint(Seconds * CAvqi::Rate)));
}

// One transform of a whole recording, zero-padded to a power of two (as a
// long-term spectrum is taken); the buffers are FFTW's own.
class CWholeSpectrum {
 public:
  explicit CWholeSpectrum(std::size_t Length) {
    FSize = 2;
    while (FSize < Length) FSize *= 2;
    const std::lock_guard<std::mutex> hold(FftwPlannerLock());
    FReal = fftw_alloc_real(FSize);
    FSpec = fftw_alloc_complex(FSize / 2 + 1);
    const int n = static_cast<int>(FSize);
    if (FReal && FSpec) {
      FForward = fftw_plan_dft_r2c_1d(n, FReal, FSpec, FFTW_ESTIMATE);
      FBackward = fftw_plan_dft_c2r_1d(n, FSpec, FReal, FFTW_ESTIMATE);
    }
    if (!FForward || !FBackward) {
      Free();
      throw std::bad_alloc();
    }
  }
  ~CWholeSpectrum() {
    const std::lock_guard<std::mutex> hold(FftwPlannerLock());
    Free();
  }
  CWholeSpectrum(const CWholeSpectrum&) = delete;
  CWholeSpectrum& operator=(const CWholeSpectrum&) = delete;

  std::size_t Size() const noexcept { return FSize; }
  std::size_t Bins() const noexcept { return FSize / 2 + 1; }
  double BinHz() const noexcept { return CAvqi::Rate / static_cast<double>(FSize); }
  fftw_complex* Spectrum() noexcept { return FSpec; }

  void Forward(const std::vector<double>& X) {
    std::copy(X.begin(), X.end(), FReal);
    std::fill(FReal + X.size(), FReal + FSize, 0.0);
    fftw_execute(FForward);
  }
  // Back into X (its length kept), scaled.
  void Backward(std::vector<double>& X) {
    fftw_execute(FBackward);
    const double scale = 1.0 / static_cast<double>(FSize);
    for (std::size_t i = 0; i < X.size(); ++i) X[i] = FReal[i] * scale;
  }

 private:
  void Free() noexcept {
    if (FForward) fftw_destroy_plan(FForward);
    if (FBackward) fftw_destroy_plan(FBackward);
    fftw_free(FSpec);
    fftw_free(FReal);
    FForward = FBackward = nullptr;
    FSpec = nullptr;
    FReal = nullptr;
  }
  std::size_t FSize = 0;
  double* FReal = nullptr;
  fftw_complex* FSpec = nullptr;
  fftw_plan FForward = nullptr, FBackward = nullptr;
};

// Power-weighted mean level (dB) of Level over the bands whose centres lie
// in [From, To] Hz; band i (from 0) is centred on i + 0.5 Hz.
double BandLevel(const std::vector<double>& Level, double From, double To) {
  double sum = 0;
  int n = 0;
  for (std::size_t i = 0; i < Level.size(); ++i) {
    const double centre = static_cast<double>(i) + 0.5;
    if (centre < From || centre > To) continue;
    sum += std::pow(10.0, Level[i] / 10);
    ++n;
  }
  return n > 0 && sum > 0 ? 10 * std::log10(sum / n) : NoMeasure;
}

// Pooled local shimmer over several stretches of marks: the voice report's
// rules within each, no pair across two.
struct TShimmerSums {
  double AmpSum = 0, AmpDiff = 0, DbDiff = 0;
  int Amps = 0, Pairs = 0;
  void Add(const CPeriodMarks& Marks) {
    double before = 0, ampBefore = 0;
    for (int k = 0; k + 1 < Marks.Count(); ++k) {
      const double p = Marks.Time(k) - Marks.Time(k + 1);
      const double a = Marks.Amplitude(k);
      if (p < CPeriodMarks::ShortestPeriod || p > CPeriodMarks::LongestPeriod) {
        before = 0;
        continue;
      }
      AmpSum += a;
      ++Amps;
      if (before > 0 &&
          std::max(p, before) <= CJitterShimmer::MaxPeriodFactor * std::min(p, before) &&
          ampBefore > 0 && a > 0 &&
          std::max(a, ampBefore) <= CJitterShimmer::MaxAmplitudeFactor * std::min(a, ampBefore)) {
        AmpDiff += std::abs(a - ampBefore);
        DbDiff += std::abs(20 * std::log10(a / ampBefore));
        ++Pairs;
      }
      before = p;
      ampBefore = a;
    }
  }
};

// CPPS as one figure of a whole sound: the mean of the prominences of every
// 2 ms frame, at the cepstrum's 11 025 Hz.
double MeanCpps(const std::vector<double>& X) {
  constexpr int tail = HalfbandTaps - 1;
  std::vector<double> in(tail / 2, 0.0);
  in.insert(in.end(), X.begin(), X.end());
  in.resize(in.size() + tail, 0.0);
  const int half = static_cast<int>((in.size() - tail) / 2);
  std::vector<double> rate2(static_cast<std::size_t>(half) + tail / 2 + tail, 0.0);
  HalfbandDecimate(in.data(), rate2.data() + tail / 2, half);
  const int quarter = half / 2;
  std::vector<double> rate4(static_cast<std::size_t>(quarter));
  HalfbandDecimate(rate2.data(), rate4.data(), quarter);
  auto cepstrum = std::make_unique<CCepstralPeak>();
  double sum = 0;
  int count = 0;
  for (int k = 0;; ++k) {
    const auto at = static_cast<std::size_t>(std::nearbyint(k * CCepstralPeak::FrameStep *
                                                            CCepstralPeak::Rate));
    if (at + CCepstralPeak::Span > rate4.size()) break;
    if (const double c = cepstrum->Measure(rate4.data() + at); Measured(c)) sum += c, ++count;
  }
  return count > 0 ? sum / count : NoMeasure;
}

}  // namespace

void CAvqi::HighPass(std::vector<double>& X) {
  if (X.empty()) return;
  CWholeSpectrum fft(X.size());
  fft.Forward(X);
  constexpr double edge = 0.1;  // Hz
  fftw_complex* spec = fft.Spectrum();
  for (std::size_t k = 0; k < fft.Bins(); ++k) {
    const double f = static_cast<double>(k) * fft.BinHz();
    if (f >= StopBelow + edge / 2) break;
    double gain = 0;
    if (f > StopBelow - edge / 2) {
      const double x = (f - (StopBelow - edge / 2)) / edge;
      gain = 0.5 - 0.5 * std::cos(std::numbers::pi * x);
    }
    spec[k][0] *= gain;
    spec[k][1] *= gain;
  }
  fft.Backward(X);
}

std::vector<TSpan> CAvqi::LoudSpans(const std::vector<double>& X) {
  // Intensity: mean square (the window's mean taken off) under a Hann
  // window of 3.2 periods of 50 Hz, every 3 ms.
  const std::size_t window = Samples(3.2 / 50), step = Samples(0.003);
  std::vector<TSpan> spans;
  if (X.size() < window) return spans;
  std::vector<double> w(window);
  double wSum = 0;
  for (std::size_t i = 0; i < window; ++i) {
    w[i] = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * (static_cast<double>(i) + 0.5) /
                                static_cast<double>(window));
    wSum += w[i];
  }
  std::vector<double> level;
  for (std::size_t at = 0; at + window <= X.size(); at += step) {
    double mean = 0;
    for (std::size_t i = 0; i < window; ++i) mean += w[i] * X[at + i];
    mean /= wSum;
    double power = 0;
    for (std::size_t i = 0; i < window; ++i) {
      const double d = X[at + i] - mean;
      power += w[i] * d * d;
    }
    level.push_back(10 * std::log10(power / wSum + 1e-30));
  }
  const double top = *std::max_element(level.begin(), level.end());
  if (!(top > -250)) return spans;  // digital silence
  // Frame f speaks for the samples nearest its centre.
  const auto boundary = [&](std::size_t F) {
    return F == 0 ? std::size_t{0}
                  : std::min(X.size(), F * step - step / 2 + window / 2);
  };
  struct TRun {
    std::size_t From, To;
    bool Loud;
  };
  std::vector<TRun> runs;
  for (std::size_t f = 0; f < level.size(); ++f) {
    const bool loud = level[f] >= top - 25;
    if (runs.empty() || runs.back().Loud != loud)
      runs.push_back({boundary(f), 0, loud});
    runs.back().To = f + 1 == level.size() ? X.size() : boundary(f + 1);
  }
  // Short silences bridged first, then short sounds dropped.
  const std::size_t shortest = Samples(0.1);
  for (std::size_t i = 1; i + 1 < runs.size(); ++i)
    if (!runs[i].Loud && runs[i].To - runs[i].From < shortest) runs[i].Loud = true;
  for (const TRun& r : runs) {
    if (!r.Loud) continue;
    if (!spans.empty() && spans.back().To == r.From)
      spans.back().To = r.To;
    else
      spans.push_back({r.From, r.To});
  }
  std::erase_if(spans, [&](const TSpan& S) { return S.To - S.From < shortest; });
  return spans;
}

std::vector<double> CAvqi::VoicedSpeech(const std::vector<double>& Speech) {
  std::vector<double> loud;
  for (const TSpan& s : LoudSpans(Speech))
    loud.insert(loud.end(), Speech.begin() + static_cast<std::ptrdiff_t>(s.From),
                Speech.begin() + static_cast<std::ptrdiff_t>(s.To));
  std::vector<double> voiced;
  if (loud.empty()) return voiced;
  double global = 0;
  for (const double x : loud) global += x * x;
  global /= static_cast<double>(loud.size());
  const std::size_t piece = Samples(PieceSeconds);
  // As the published procedure steps: a piece while its end stays a piece
  // short of the end.
  for (std::size_t at = 0; at + 2 * piece < loud.size(); at += piece) {
    const double* x = loud.data() + at;
    double power = 0;
    int crossings = 0;
    for (std::size_t i = 0; i < piece; ++i) {
      power += x[i] * x[i];
      if (i > 0 && (x[i - 1] < 0) != (x[i] < 0)) ++crossings;
    }
    power /= static_cast<double>(piece);
    if (power > PowerShare * global && crossings / PieceSeconds < MaxCrossings)
      voiced.insert(voiced.end(), x, x + piece);
  }
  return voiced;
}

std::vector<double> CAvqi::VowelPart(const std::vector<double>& Vowel) {
  const std::vector<TSpan> spans = LoudSpans(Vowel);
  if (spans.empty()) return {};
  // Silence before and after the vowel is no part of it.
  const std::size_t to = spans.back().To;
  const std::size_t from = std::max(spans.front().From, to - std::min(to, Samples(VowelSeconds)));
  return {Vowel.begin() + static_cast<std::ptrdiff_t>(from),
          Vowel.begin() + static_cast<std::ptrdiff_t>(to)};
}

void CAvqi::LtasSlopes(const std::vector<double>& X, double& Slope, double& Tilt) {
  Slope = Tilt = NoMeasure;
  if (X.size() < 2) return;
  CWholeSpectrum fft(X.size());
  fft.Forward(X);
  // The power of each 1 Hz band up to 10 kHz, the mean of the bins in it.
  const std::size_t bands = 10000;
  std::vector<double> sum(bands, 0.0);
  std::vector<int> count(bands, 0);
  const fftw_complex* spec = fft.Spectrum();
  for (std::size_t k = 0; k < fft.Bins(); ++k) {
    const double f = static_cast<double>(k) * fft.BinHz();
    if (f >= static_cast<double>(bands)) break;
    const auto band = static_cast<std::size_t>(f);
    sum[band] += spec[k][0] * spec[k][0] + spec[k][1] * spec[k][1];
    ++count[band];
  }
  std::vector<double> level(bands);
  for (std::size_t i = 0; i < bands; ++i)
    level[i] = 10 * std::log10((count[i] > 0 ? sum[i] / count[i] : 0.0) + 1e-30);
  Slope = BandLevel(level, 1000, 10000) - BandLevel(level, 0, 1000);
  // The trend: least squares of level on frequency over 1 Hz-10 kHz.
  double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (std::size_t i = 0; i < bands; ++i) {
    const double f = static_cast<double>(i) + 0.5;
    if (f < 1) continue;
    n += 1;
    sx += f;
    sy += level[i];
    sxx += f * f;
    sxy += f * level[i];
  }
  const double b = (n * sxy - sx * sy) / (n * sxx - sx * sx);
  const double a = (sy - b * sx) / n;
  std::vector<double> line(bands);
  for (std::size_t i = 0; i < bands; ++i) line[i] = a + b * (static_cast<double>(i) + 0.5);
  Tilt = BandLevel(line, 1000, 10000) - BandLevel(line, 0, 1000);
}

double CAvqi::Score(const TAvqi& M) noexcept {
  return (4.152 - 0.177 * M.Cpps - 0.006 * M.Hnr - 0.037 * M.ShimmerPct + 0.941 * M.ShimmerDb +
          0.01 * M.Slope + 0.093 * M.Tilt) *
         2.8902;
}

EAvqiFailure CAvqi::MeasureSound(const std::vector<double>& X, TAvqi& Out) {
  // The estimator's pitch and voicing every 10 ms, and the voice measures
  // riding along, fed as a capture would be.
  auto tracker = std::make_unique<CFormantTracker>();
  auto voice = std::make_unique<CVoiceMeasures>();
  CFormantSteps steps(*tracker, 10);
  struct TAnalysis {
    double Centre, F0;
    bool Voiced;
  };
  std::vector<TAnalysis> analyses;
  double cppsSum = 0, hnrSum = 0;
  int cppsCount = 0, hnrCount = 0;
  std::array<unsigned char, 4 * CFormantTracker::BlockFrames> block{};
  // The last analysis reaches back a whole span: feed silence past the end
  // so that the end of the sound is analysed too.
  const std::size_t total = X.size() + CFormantTracker::CentreLag;
  for (std::size_t at = 0; at < total; at += CFormantTracker::BlockFrames) {
    const int frames = static_cast<int>(
        std::min<std::size_t>(CFormantTracker::BlockFrames, total - at));
    if (frames < CFormantTracker::BlockFrames) block.fill(0);
    for (int i = 0; i < frames; ++i) {
      const std::size_t n = at + static_cast<std::size_t>(i);
      const double v = n < X.size() ? std::clamp(std::nearbyint(X[n] * 32768), -32768.0, 32767.0)
                                    : 0.0;
      const auto s = static_cast<std::uint16_t>(static_cast<std::int16_t>(v));
      for (int c = 0; c < 2; ++c) {
        block[static_cast<std::size_t>(4 * i + 2 * c)] = static_cast<unsigned char>(s & 0xff);
        block[static_cast<std::size_t>(4 * i + 2 * c + 1)] = static_cast<unsigned char>(s >> 8);
      }
    }
    steps.Feed(
        block.data(), frames,
        [&](const unsigned char* Data, int N) { voice->Feed(Data, N, tracker.get()); },
        [&](bool Reported, std::int64_t, double Centre, const TFormants& F) {
          const TVoice v = voice->Analyse(F);
          if (!Reported || Centre * Rate >= static_cast<double>(X.size())) return;
          if (Measured(v.Cpps)) cppsSum += v.Cpps, ++cppsCount;
          if (Measured(v.Hnr)) hnrSum += v.Hnr, ++hnrCount;
          analyses.push_back({Centre, F.F0, v.Voiced});
        });
  }
  if (hnrCount == 0 || cppsCount == 0) return EAvqiFailure::NoVoice;
  Out.Hnr = hnrSum / hnrCount;
  Out.Cpps = MeanCpps(X);
  if (!Measured(Out.Cpps)) Out.Cpps = cppsSum / cppsCount;

  // Period marks over each voiced stretch, walked back from its end; a
  // stretch longer than the marks can hold is taken in pieces.
  auto marks = std::make_unique<CPeriodMarks>();
  TShimmerSums shimmer;
  std::vector<double> pitches;
  constexpr double hop = 0.01, longest = 2.0;
  for (std::size_t i = 0; i < analyses.size();) {
    if (!analyses[i].Voiced) {
      ++i;
      continue;
    }
    std::size_t j = i;
    while (j + 1 < analyses.size() && analyses[j + 1].Voiced &&
           analyses[j + 1].Centre - analyses[i].Centre < longest)
      ++j;
    const double seconds = analyses[j].Centre - analyses[i].Centre + hop;
    const std::size_t end = std::min(X.size(), Samples(analyses[j].Centre + hop / 2));
    if (seconds >= 0.05 && end > 0) {
      // The walk starts from the stretch's end, where the voice may be
      // leaving: the stretch's median pitch sizes its first period.
      pitches.clear();
      for (std::size_t k = i; k <= j; ++k) pitches.push_back(analyses[k].F0);
      std::nth_element(pitches.begin(), pitches.begin() + pitches.size() / 2, pitches.end());
      marks->Find(X.data(), static_cast<int>(end), Rate, pitches[pitches.size() / 2], seconds);
      shimmer.Add(*marks);
    }
    i = j + 1;
  }
  if (shimmer.Pairs < CJitterShimmer::MinPeriods || !(shimmer.AmpSum > 0))
    return EAvqiFailure::NoPeriods;
  Out.ShimmerPct = 100 * (shimmer.AmpDiff / shimmer.Pairs) / (shimmer.AmpSum / shimmer.Amps);
  Out.ShimmerDb = shimmer.DbDiff / shimmer.Pairs;
  LtasSlopes(X, Out.Slope, Out.Tilt);
  Out.Avqi = Score(Out);
  return EAvqiFailure::None;
}

EAvqiFailure CAvqi::Measure(std::vector<double> Vowel, std::vector<double> Speech, TAvqi& Out) {
  Out = TAvqi{};
  HighPass(Vowel);
  HighPass(Speech);
  std::vector<double> vowel = VowelPart(Vowel);
  if (static_cast<double>(vowel.size()) < MinSeconds * Rate) return EAvqiFailure::VowelTooShort;
  std::vector<double> sound = VoicedSpeech(Speech);
  if (static_cast<double>(sound.size()) < MinSeconds * Rate) return EAvqiFailure::SpeechTooShort;
  Out.SpeechSeconds = static_cast<double>(sound.size()) / Rate;
  Out.VowelSeconds = static_cast<double>(vowel.size()) / Rate;
  sound.insert(sound.end(), vowel.begin(), vowel.end());
  TAvqi measured = Out;
  const EAvqiFailure failure = MeasureSound(sound, measured);
  if (failure == EAvqiFailure::None) Out = measured;
  return failure;
}

}  // namespace quenvis
