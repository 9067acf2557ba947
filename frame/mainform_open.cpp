// Files that reach the frame from outside: names on the command line and
// files dropped from the file manager. Each opens as File Open opens it.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include "frame/mainform.h"

namespace orvalle {

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
  for (const QString &file : files)
    OpenFile(file);
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
