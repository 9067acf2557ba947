// Files that reach the frame from outside: names on the command line, files
// dropped from the file manager and File's list of recent files. Each opens
// as File Open opens it.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QUrl>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

#include <QMdiSubWindow>

#include <new>
#include <system_error>

#include "datatext/tableimport.h"
#include "engine/project.h"
#include "frame/dialogs.h"
#include "frame/frametexts.h"
#include "frame/mainform.h"
#include "frame/recentfiles.h"
#include "frame/settingsstore.h"

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
  return frametexts::notRegularFile(name);
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
    const bool regular = WhyNotAFile(file).isEmpty();
    if (regular && project::fileisproject(QFile::encodeName(file).toStdString()))
      OpenProject(file);
    else if (regular && tablePadFactory_ && tablefile(QFile::encodeName(file).toStdString()))
      ImportTable(file);
    else
      OpenFile(file);
  }
}

void TMainForm::FileImport() {
  const QString file =
      Dialogs::get().openFile(this, QStringLiteral("Import Table"), openDir_,
                              QStringLiteral("Tables (*.csv *.tsv *.txt *.dat);;All Files (*)"));
  if (file.isEmpty())
    return;
  ImportTable(file);
}

void TMainForm::ImportTable(const QString &file) {
  if (RefuseNotAFile(file))
    return;
  const QFileInfo info(file);
  if (!tablePadFactory_)
    return;
  const QString path = info.absoluteFilePath();
  // Nothing of a refused table is kept: the pad goes with the exception.
  QString why;
  try {
    MdiChild *pad = tablePadFactory_(*this, path);
    if (pad && !qobject_cast<QMdiSubWindow *>(pad->parentWidget()))
      addChild(pad);
    return;
  } catch (const tableerror &e) {
    why = QString::fromStdString(e.what());
  } catch (const std::bad_alloc &) {
    why = QStringLiteral("not enough memory");
  } catch (const std::system_error &e) {
    why = QString::fromLocal8Bit(e.code().message());
  } catch (const std::exception &e) {
    why = QString::fromLocal8Bit(e.what());
  }
  LogEvent(kLogPlain, true, QStringLiteral("Cannot import %1: %2").arg(path, why));
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

void TMainForm::StoreRecentFiles(const QStringList &files) {
  QString why;
  if (!WriteRecentFiles(files, &why))
    LogEvent(kLogPlain, false,
             QStringLiteral("The list of recent files cannot be written to %1: %2")
                 .arg(SettingsKey::fileName(), why));
}

void TMainForm::NoteRecentFile(const QString &file) {
  StoreRecentFiles(WithRecentFile(ReadRecentFiles(), file));
}

void TMainForm::BuildRecentFilesMenu(QMenu *file) {
  RecentFilesMenu_ = file->addMenu(QStringLiteral("Recent &Files"));
  RecentFilesMenu_->setObjectName(QStringLiteral("RecentFilesMenu"));
  RecentFilesMenu_->menuAction()->setStatusTip(QStringLiteral("Open a file opened lately"));
  // Filled now (so the keyboard finds it) and again each time it opens, so
  // that it shows files that vanished meanwhile as such.
  connect(RecentFilesMenu_, &QMenu::aboutToShow, this, &TMainForm::FillRecentFilesMenu);
  FillRecentFilesMenu();
  file->addSeparator();
}

void TMainForm::FillRecentFilesMenu() {
  RecentFilesMenu_->clear();
  const QStringList files = ReadRecentFiles();
  for (int i = 0; i < files.size(); ++i) {
    const QString &path = files.at(i);
    QString caption = QDir::toNativeSeparators(path);
    caption.replace(QLatin1Char('&'), QStringLiteral("&&"));
    QAction *a = RecentFilesMenu_->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(caption));
    a->setObjectName(QStringLiteral("RecentFile%1").arg(i + 1));
    a->setData(path);
    // A file that is gone (or is no longer a file) stays in the list,
    // shown disabled: it may be on a drive that is not mounted now.
    const bool there = QFileInfo(path).isFile();
    a->setEnabled(there);
    a->setStatusTip(there ? QStringLiteral("Open %1").arg(QDir::toNativeSeparators(path))
                          : WhyNotAFile(path));
    connect(a, &QAction::triggered, this, [this, path] { OpenFile(path); });
  }
  if (files.isEmpty())
    RecentFilesMenu_->addAction(QStringLiteral("No Recent Files"))->setEnabled(false);
  RecentFilesMenu_->addSeparator();
  QAction *clear = RecentFilesMenu_->addAction(QStringLiteral("&Clear List"));
  clear->setObjectName(QStringLiteral("RecentFilesClear"));
  clear->setEnabled(!files.isEmpty());
  connect(clear, &QAction::triggered, this, [this] { StoreRecentFiles(QStringList()); });
}

} // namespace orvalle
