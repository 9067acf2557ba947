#include "frame/examples.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace orvalle {

QString ExamplesFolder() {
  const QDir here(QCoreApplication::applicationDirPath());
  for (const QString &candidate : {here.filePath(QStringLiteral("examples")),
                                   here.filePath(QStringLiteral("../share/orvalle/examples"))}) {
    if (QFileInfo(candidate).isDir())
      return QFileInfo(candidate).canonicalFilePath();
  }
  return QString();
}

} // namespace orvalle
