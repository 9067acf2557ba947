// Files that reach the frame from outside: names on the command line and
// files dropped from the file manager. Each opens as File Open opens it.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

#include "engine/project.h"
#include "frame/mainform.h"

namespace orvalle {

QString WhyNotAFile(const QString &file) {
  const QString name = QDir::toNativeSeparators(QFileInfo(file).absoluteFilePath());
  const QByteArray path = QFile::encodeName(name);
  struct stat link {};
  if (file.isEmpty())
    return QStringLiteral("No file name was given");
  if (::lstat(path.constData(), &link) != 0 && errno == ENOENT)
    return QStringLiteral("%1 does not exist").arg(name);
  if (::lstat(path.constData(), &link) != 0)
    return QStringLiteral("%1 cannot be opened: %2")
        .arg(name, QString::fromLocal8Bit(std::strerror(errno)));
  struct stat target {};
  if (::stat(path.constData(), &target) != 0) {
    const int err = errno;
    if (err == ELOOP)
      return QStringLiteral("%1 is a loop of symbolic links that leads to no file").arg(name);
    if (S_ISLNK(link.st_mode) && err == ENOENT)
      return QStringLiteral("%1 is a symbolic link to %2, which does not exist")
          .arg(name, QFileInfo(name).symLinkTarget());
    return QStringLiteral("%1 cannot be opened: %2")
        .arg(name, QString::fromLocal8Bit(std::strerror(err)));
  }
  const mode_t m = target.st_mode;
  if (S_ISDIR(m))
    return QStringLiteral("%1 is a folder, not a file").arg(name);
  if (S_ISFIFO(m))
    return QStringLiteral("%1 is a named pipe (FIFO), not a file: it is not read, as reading "
                          "it could wait for ever")
        .arg(name);
  if (S_ISCHR(m) || S_ISBLK(m))
    return QStringLiteral("%1 is a device, not a file").arg(name);
  if (S_ISSOCK(m))
    return QStringLiteral("%1 is a socket, not a file").arg(name);
  if (S_ISREG(m))
    return {};
  return QStringLiteral("%1 is not a regular file").arg(name);
}

namespace {

// The local files among dropped URLs; other schemes are not ours to read.
QStringList localFiles(const QMimeData *mime) {
  QStringList files;
  if (!mime || !mime->hasUrls())
    return files;
  for (const QUrl &url : mime->urls())
    if (url.isLocalFile())
      files << url.toLocalFile();
  return files;
}

} // namespace

void TMainForm::OpenFiles(const QStringList &files) {
  for (const QString &file : files) {
    // Only a regular file is looked into: a pipe could keep the read
    // waiting, and OpenFile explains what the others are.
    if (WhyNotAFile(file).isEmpty() &&
        project::fileisproject(QFile::encodeName(file).toStdString()))
      OpenProject(file);
    else
      OpenFile(file);
  }
}

void TMainForm::dragEnterEvent(QDragEnterEvent *e) {
  if (!localFiles(e->mimeData()).isEmpty())
    e->acceptProposedAction();
  else
    QMainWindow::dragEnterEvent(e);
}

void TMainForm::dropEvent(QDropEvent *e) {
  const QStringList files = localFiles(e->mimeData());
  if (files.isEmpty()) {
    QMainWindow::dropEvent(e);
    return;
  }
  e->acceptProposedAction();
  OpenFiles(files);
}

} // namespace orvalle
