#include "render/ChartImage.h"

#include <QGuiApplication>
#include <QPainter>
#include <algorithm>

#include "analysis/Common.h"
#include "chart/VowelChartPainter.h"

namespace quenvis {

namespace {

// Early blocks pale yellow, late ones dark red, so the path through the
// recording reads as a fade; translucent, so that crowded places darken.
const QColor EarlyDot(255, 214, 90, 170);
const QColor LateDot(150, 0, 20, 200);

QColor Between(const QColor& a, const QColor& b, double t) {
  auto mix = [t](int x, int y) { return x + RoundToInt32((y - x) * t); };
  return QColor(mix(a.red(), b.red()), mix(a.green(), b.green()), mix(a.blue(), b.blue()),
                mix(a.alpha(), b.alpha()));
}

}  // namespace

void CChartImage::Reserve(std::int64_t Blocks) {
  if (Blocks > 0) FDots.reserve(static_cast<std::size_t>(Blocks));
}

void CChartImage::Add(const TFormants& f) {
  if (f.Voiced && f.F[0] > 0 && f.F[1] > 0)
    FDots.emplace_back(static_cast<float>(f.F[0]), static_cast<float>(f.F[1]));
}

QImage CChartImage::Paint(std::int32_t Width, std::int32_t Height) const {
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()) || Width <= 0 || Height <= 0)
    return {};
  QImage image(Width, Height, QImage::Format_RGB32);
  if (image.isNull()) return {};
  CVowelChartPainter chart;
  chart.SetVoice(FVoice);
  const QSizeF size(Width, Height);
  const CChartScale scale = chart.ScaleFor(size);
  const double radius = std::clamp(std::min(Width, Height) / 200.0, 2.0, 12.0);
  QPainter painter(&image);
  chart.PaintBackground(painter, size);
  const double last = std::max<double>(1, static_cast<double>(FDots.size()) - 1);
  for (std::size_t i = 0; i < FDots.size(); ++i)
    CVowelChartPainter::PaintDot(painter, scale, FDots[i].first, FDots[i].second,
                                 Between(EarlyDot, LateDot, static_cast<double>(i) / last), radius);
  return painter.end() ? image : QImage();
}

}  // namespace quenvis
