#include "render/ChartImage.h"

#include <QGuiApplication>
#include <QPainter>
#include <algorithm>
#include <array>

#include "analysis/Common.h"
#include "chartdraw/VowelChartPainter.h"

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

bool CChartImage::Add(const TFormants& f) {
  if (!(f.Voiced && f.F[0] > 0 && f.F[1] > 0) || !FOk) return FOk;
  const std::array<float, 2> dot = {static_cast<float>(f.F[0]), static_cast<float>(f.F[1])};
  FOk = std::fwrite(dot.data(), sizeof(float), 2, FSpool) == 2;
  if (FOk) ++FDots;
  return FOk;
}

QImage CChartImage::Paint(std::int32_t Width, std::int32_t Height,
                          const std::atomic<bool>* Stop) const {
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()) || Width <= 0 || Height <= 0 ||
      !FOk || std::fflush(FSpool) != 0 || std::fseek(FSpool, 0, SEEK_SET) != 0)
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
  CVowelChartPainter::PrepareDots(painter);
  const double last = std::max<double>(1, static_cast<double>(FDots) - 1);
  std::array<float, 2 * 4096> dots{};
  for (std::int64_t i = 0; i < FDots;) {
    if (Stop && Stop->load(std::memory_order_relaxed)) return {};
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::int64_t>(FDots - i, dots.size() / 2));
    if (std::fread(dots.data(), 2 * sizeof(float), want, FSpool) != want) return {};
    for (std::size_t k = 0; k < want; ++k, ++i)
      CVowelChartPainter::PaintDot(painter, scale, dots[2 * k], dots[2 * k + 1],
                                   Between(EarlyDot, LateDot, static_cast<double>(i) / last),
                                   radius);
  }
  return painter.end() ? image : QImage();
}

}  // namespace quenvis
