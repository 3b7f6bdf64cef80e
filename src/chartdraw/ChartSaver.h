#pragma once
// Saves a chart as the window shows it: PNG at the screen's pixel density
// or SVG, chosen by the file's extension. The file appears whole or not at
// all, and an existing one is replaced only by a complete picture.
#include <QSizeF>
#include <QString>
#include <functional>

class QPainter;

namespace quenvis {

class CChartSaver {
 public:
  using TPaint = std::function<void(QPainter&)>;
  // Whether Path names an SVG file (by its extension); PNG otherwise.
  static bool IsSvg(const QString& Path);
  // Paints with Paint on a picture of Size device-independent pixels
  // (Ratio device pixels each, for PNG) and writes it. Returns an empty
  // string, or why the file could not be written.
  static QString Save(const QString& Path, const QSizeF& Size, qreal Ratio, const QString& Title,
                      const TPaint& Paint);
};

}  // namespace quenvis
