#pragma once
// Reading the small CSV files the chart window loads (reference vowels,
// targets) without ever waiting on a pipe or a device chosen by mistake.
#include <QByteArray>
#include <QString>

namespace quenvis {

// Reads at most MaxBytes + 1 bytes of Path into Data (one more than allowed,
// so the parser can say the file is too large). Returns an empty string or
// the reason it could not be read.
QString ReadChartFile(const QString& Path, qint64 MaxBytes, QByteArray& Data);

}  // namespace quenvis
