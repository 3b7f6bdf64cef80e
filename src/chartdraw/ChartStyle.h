#pragma once
// The paper, ink and lettering that every picture of the chart shares, so
// the window, its overlays and quenvis-render's chart.png look alike.
#include <QColor>
#include <QFont>

namespace quenvis {

inline const QColor ChartPaper(252, 252, 248);
inline const QColor ChartInk(60, 60, 60);

// DejaVu Sans at a pixel size (at least 8), as Debian installs it with Qt.
QFont ChartFont(double PixelSize, bool Bold = false);

}  // namespace quenvis
