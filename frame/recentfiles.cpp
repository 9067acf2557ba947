#include "frame/recentfiles.h"

#include <QDir>
#include <QFileInfo>

#include "frame/settingsstore.h"

namespace orvalle {

namespace {

QString valueName(int i) { return QStringLiteral("recentfile%1").arg(i + 1); }

} // namespace

QStringList ReadRecentFiles() {
  QStringList list;
  const auto key = SettingsKey::open(false);
  if (!key)
    return list;
  for (int i = 0; i < kRecentFilesMax; ++i) {
    const std::optional<QString> file = key->readString(valueName(i));
    if (file && QDir::isAbsolutePath(*file) && !list.contains(*file))
      list << *file;
  }
  return list;
}

QStringList WithRecentFile(QStringList list, const QString &file) {
  const QString path = QDir::cleanPath(QFileInfo(file).absoluteFilePath());
  list.removeAll(path);
  list.prepend(path);
  while (list.size() > kRecentFilesMax)
    list.removeLast();
  return list;
}

bool WriteRecentFiles(const QStringList &list, QString *why) {
  const auto key = SettingsKey::open(false);
  if (!key)
    return true;
  // Every slot is written, an empty text after the list's end, so that an
  // entry removed from the list is gone from the key as well.
  for (int i = 0; i < kRecentFilesMax; ++i)
    key->writeString(valueName(i), i < list.size() ? list.at(i) : QString());
  if (key->flush())
    return true;
  if (why)
    *why = key->writeError();
  return false;
}

} // namespace orvalle
