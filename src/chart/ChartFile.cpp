#include "chart/ChartFile.h"

#include <QFile>
#include <QFileInfo>

namespace quenvis {

QString ReadChartFile(const QString& Path, qint64 MaxBytes, QByteArray& Data) {
  // A pipe would hold the window up waiting for a writer.
  if (QFileInfo(Path).exists() && !QFileInfo(Path).isFile())
    return QStringLiteral("not a regular file");
  QFile file(Path);
  if (!file.open(QIODevice::ReadOnly)) return file.errorString();
  Data = file.read(MaxBytes + 1);
  return {};
}

}  // namespace quenvis
