#pragma once
// chart.png: the vowel chart of a whole recording, painted offscreen by the
// chart window's painter, with the reference vowels of the voice and a dot
// for every voiced block, coloured from early to late.
#include <QImage>
#include <cstdint>
#include <utility>
#include <vector>

#include "analysis/FormantTracker.h"

namespace quenvis {

class CChartImage {
 public:
  explicit CChartImage(EVoice Voice) : FVoice(Voice) {}

  // Reserves room for this many blocks, so that adding them allocates nothing.
  void Reserve(std::int64_t Blocks);
  // Takes a block's estimate; voiced blocks with F1 and F2 become dots.
  void Add(const TFormants& Formants);
  std::size_t Dots() const noexcept { return FDots.size(); }

  // The chart at Width x Height pixels; a null image when it cannot be
  // painted (text needs a QGuiApplication, which the caller provides).
  QImage Paint(std::int32_t Width, std::int32_t Height) const;

 private:
  EVoice FVoice;
  std::vector<std::pair<float, float>> FDots;  // F1, F2 in Hz, oldest first
};

}  // namespace quenvis
