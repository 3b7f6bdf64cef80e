#include "chartdraw/ChartSaver.h"

#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <QSvgGenerator>

namespace quenvis {

bool CChartSaver::IsSvg(const QString& Path) {
  return Path.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive);
}

QString CChartSaver::Save(const QString& Path, const QSizeF& Size, qreal Ratio,
                          const QString& Title, const TPaint& Paint) {
  if (!(Size.width() >= 1 && Size.height() >= 1)) return QStringLiteral("nothing to save");
  QSaveFile file(Path);
  if (!file.open(QIODevice::WriteOnly)) return file.errorString();
  if (IsSvg(Path)) {
    QSvgGenerator svg;
    svg.setOutputDevice(&file);
    svg.setSize(Size.toSize());
    svg.setViewBox(QRectF(QPointF(0, 0), Size));
    svg.setTitle(Title);
    svg.setDescription(QStringLiteral("Vowel chart saved by Quenvis"));
    QPainter painter;
    if (!painter.begin(&svg)) return QStringLiteral("could not start the SVG");
    Paint(painter);
    painter.end();
  } else {
    const qreal ratio = Ratio > 0 ? Ratio : 1.0;
    QImage image((Size * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::white);
    QPainter painter(&image);
    Paint(painter);
    painter.end();
    if (!image.save(&file, "PNG")) {
      file.cancelWriting();
      return file.error() != QFileDevice::NoError ? file.errorString()
                                                  : QStringLiteral("could not encode the PNG");
    }
  }
  // A full disk shows here, not earlier: the picture is buffered.
  if (!file.commit()) return file.errorString();
  return {};
}

}  // namespace quenvis
