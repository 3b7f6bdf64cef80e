#pragma once
// chart.png: the vowel chart of a whole recording, painted offscreen by the
// chart window's painter, with the reference vowels of the voice and a dot
// for every voiced block, coloured from early to late.
#include <QImage>
#include <atomic>
#include <cstdint>
#include <cstdio>

#include "analysis/FormantTracker.h"

namespace quenvis {

class CChartImage {
 public:
  // The dots are kept in Spool (a file open for reading and writing, left
  // open), so that memory does not grow with the recording's length.
  CChartImage(EVoice Voice, std::FILE* Spool) : FVoice(Voice), FSpool(Spool) {}

  // Takes a block's estimate; voiced blocks with F1 and F2 become dots.
  // False once writing to the spool has failed (errno tells why).
  bool Add(const TFormants& Formants);
  std::int64_t Dots() const noexcept { return FDots; }

  // The chart at Width x Height pixels; a null image when it cannot be
  // painted (text needs a QGuiApplication, which the caller provides; the
  // spool cannot be read; Stop became true).
  QImage Paint(std::int32_t Width, std::int32_t Height,
               const std::atomic<bool>* Stop = nullptr) const;

 private:
  EVoice FVoice;
  std::FILE* FSpool;
  std::int64_t FDots = 0;
  bool FOk = true;
};

}  // namespace quenvis
