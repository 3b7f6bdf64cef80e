#include "chartdraw/ChartStyle.h"

#include <algorithm>

#include "analysis/Common.h"

namespace quenvis {

QFont ChartFont(double PixelSize, bool Bold) {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(std::max(8, RoundToInt32(PixelSize)));
  font.setBold(Bold);
  return font;
}

}  // namespace quenvis
