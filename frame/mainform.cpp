#include "frame/mainform.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMimeData>
#include <QPrinter>
#include <QProgressBar>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QStringDecoder>
#include <QSystemTrayIcon>
#include <QUrl>
#include <algorithm>

#include <new>
#include <system_error>

#include "datatext/conversion.h"
#include "frame/aboutbox.h"
#include "frame/application.h"
#include "frame/commandstate.h"
#include "frame/dialogs.h"
#include "frame/helpwindow.h"
#include "frame/log.h"
#include "frame/preferences.h"
#include "frame/settingsstore.h"
#include "frame/teachform.h"
#include "frame/toolicons.h"

namespace orvalle {

TMainForm::TMainForm(QWidget *parent) : QMainWindow(parent) {
  // The form and its components.
  setObjectName(QStringLiteral("MainForm"));
  setWindowTitle(QStringLiteral("Orvalle"));
  setWindowIcon(ProgramIcon());
  MdiArea_ = new QMdiArea(this);
  MdiArea_->setObjectName(QStringLiteral("MdiArea"));
  MdiArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  MdiArea_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setCentralWidget(MdiArea_);
  setAcceptDrops(true); // files dropped from the file manager open as pads
  BuildMenus();
  BuildToolBar();
  BuildTray();
  statusBar()->setObjectName(QStringLiteral("StatusLine"));
  statusBar()->setSizeGripEnabled(true);
  move(14, 108);
  resize(944, 741);
  // The hint handler is event(): every status tip (the long part of a
  // hint) lands in the status line.

  // 3 to 6: settings, user name, timer, open folder and teaching pages.
  bool damaged = false;
  try {
    ReadSettings();
    FinishStart();
  } catch (...) {
    damaged = true;
  }
  if (damaged) {
    if (!SettingsErrorPath())
      return;
    // The damaged key stays: the program runs as on a first run.
    UseFirstRunValues();
    FinishStart();
  }
  constructing_ = false;
  // 7, 8.
  closing_ = false;
  setTrayIconShown(trayicon_);
  BindPlugin();
  menuTimer_.start();
}

void TMainForm::FinishStart() {
  userName_ = PlatformUserName();
  menuTimer_.setObjectName(QStringLiteral("menuTimer"));
  menuTimer_.setInterval(200);
  connect(&menuTimer_, &QTimer::timeout, this, &TMainForm::TimerTick, Qt::UniqueConnection);
  SetInitDir(initdirbool_);
  lessonFolder_ = qEnvironmentVariable("ORVALLE_LESSONBASE");
  if (lessonFolder_.isEmpty())
    lessonFolder_ = QStringLiteral("/srv/lessonbase");
  lessonFound_ = QFileInfo(lessonFolder_).isDir();
}

TMainForm::~TMainForm() {
  menuTimer_.stop();
  // The children go before the frame's own members they may still call.
  for (QMdiSubWindow *sub : MdiArea_->subWindowList())
    delete sub;
}

QString TMainForm::lessonPage() const {
  return QDir(lessonFolder_).filePath(QStringLiteral("lessonbase/index.htm"));
}

// ---- FrameApi ----

QAction *TMainForm::command(Cmd c) {
  const auto it = commands_.find(c);
  return it == commands_.end() ? nullptr : it->second;
}

void TMainForm::SetEditItems(bool undoAllowed, bool selectionPresent) {
  enable(Cmd::EditUndoItem, undoAllowed);
  for (Cmd c : {Cmd::EditCutItem, Cmd::EditCopyItem, Cmd::TBarCut, Cmd::TBarCopy})
    enable(c, selectionPresent);
  bool clipboardText = false;
  if (const QMimeData *data = QApplication::clipboard()->mimeData())
    clipboardText = data->hasText();
  enable(Cmd::EditPasteItem, undoAllowed && clipboardText);
  enable(Cmd::TBPaste, undoAllowed);
}

void TMainForm::LogEvent(int kind, bool error, const QString &text) {
  if (log_)
    QCoreApplication::postEvent(log_, new LogLineEvent(kind, error, text));
  else
    earlyLines_.push_back({kind, error, text});
  if (error) {
    Beep();
    if (log_)
      if (auto *sub = qobject_cast<QMdiSubWindow *>(log_->parentWidget());
          sub && sub->isMinimized())
        sub->showNormal();
  }
}

void TMainForm::setStatusText(const QString &text) { statusBar()->showMessage(text); }

QStatusBar *TMainForm::statusLine() const { return statusBar(); }

void TMainForm::showProgress(const QString &text, int percent) {
  if (!progress_) {
    progress_ = new QProgressBar(statusBar()); // the status line owns it
    progress_->setObjectName(QStringLiteral("Progress"));
    progress_->setRange(0, 100);
    progress_->setMaximumWidth(200);
    progress_->setAccessibleName(QStringLiteral("Progress"));
    statusBar()->addPermanentWidget(progress_);
  }
  progress_->setValue(percent);
  progress_->show();
  if (statusBar()->currentMessage() != text)
    statusBar()->showMessage(text);
}

void TMainForm::endProgress() {
  if (progress_)
    progress_->hide();
  statusBar()->clearMessage();
}

QString TMainForm::statusText() const { return statusBar()->currentMessage(); }

QMdiSubWindow *TMainForm::addChild(QWidget *child) {
  if (!child)
    return nullptr;
  // The size the child asked for is its content's; the sub-window adds its
  // frame and title bar around it (without this it opens at a size of its
  // own and cuts the content).
  const bool sized = child->testAttribute(Qt::WA_Resized);
  const QSize wanted = child->size().expandedTo(child->minimumSize());
  QMdiSubWindow *sub = MdiArea_->addSubWindow(child);
  sub->setAttribute(Qt::WA_DeleteOnClose);
  child->show();
  sub->show();
  if (sized) {
    const QMargins frame = sub->contentsMargins();
    QSize size = wanted + QSize(frame.left() + frame.right(), frame.top() + frame.bottom());
    // As much of it as the area shows; a child may not go below its minimum.
    size = size.boundedTo(MdiArea_->viewport()->size()).expandedTo(sub->minimumSizeHint());
    sub->resize(size);
    KeepInsideArea(sub);
  }
  MdiArea_->setActiveSubWindow(sub);
  return sub;
}

QPrinter *TMainForm::printer() {
  if (!printer_)
    printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
  return printer_.get();
}

// ---- Start-up steps after the frame ----

TLog *TMainForm::CreateLog() {
  if (log_)
    return log_;
  // Lines logged before the log existed follow its start line.
  std::vector<PendingLine> before = std::exchange(earlyLines_, {});
  auto *log = new TLog(*this); // asks for the start line, which waits in earlyLines_
  QMdiSubWindow *sub =
      MdiArea_->addSubWindow(log, Qt::SubWindow | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                      Qt::WindowMaximizeButtonHint);
  sub->setObjectName(QStringLiteral("LogWindow"));
  sub->resize(620, 260);
  log_ = log;
  log->show();
  sub->show();
  MdiArea_->setActiveSubWindow(sub);
  std::vector<PendingLine> lines = std::exchange(earlyLines_, {});
  lines.insert(lines.end(), before.begin(), before.end());
  for (const PendingLine &l : lines)
    QCoreApplication::postEvent(log_, new LogLineEvent(l.kind, l.error, l.text));
  return log_;
}

TAboutBox *TMainForm::CreateAboutBox() {
  if (!aboutBox_)
    aboutBox_ = new TAboutBox(timesrun_, lastrun_, userName_, this);
  return aboutBox_;
}

// ---- Children ----

QWidget *TMainForm::activeChild() const {
  QMdiSubWindow *sub = MdiArea_->currentSubWindow();
  if (!sub || sub->isHidden())
    return nullptr;
  return sub->widget();
}

std::vector<QWidget *> TMainForm::childWindows() const {
  std::vector<QWidget *> out;
  for (QMdiSubWindow *sub : MdiArea_->subWindowList(QMdiArea::CreationOrder))
    if (!sub->isHidden() && sub->widget())
      out.push_back(sub->widget());
  return out;
}

QAction *TMainForm::action(const QString &name) const { return findChild<QAction *>(name); }

void TMainForm::Post(int message, long long wparam, long long lparam) {
  if (QWidget *child = activeChild())
    PostCommand(child, message, wparam, lparam);
}

void TMainForm::OpenPad(const QString &fileName, const QString &text) {
  if (!padFactory_)
    return;
  MdiChild *pad = padFactory_(*this, fileName, text);
  if (pad && !qobject_cast<QMdiSubWindow *>(pad->parentWidget()))
    addChild(pad);
}

// ---- File ----

void TMainForm::FileNew() { OpenPad(QString(), QString()); }

void TMainForm::FileOpen() {
  const QString file = Dialogs::get().openFile(this, QStringLiteral("Open"), openDir_,
                                               QStringLiteral("Text File (*.txt);;All Files (*)"));
  if (file.isEmpty())
    return;
  OpenFile(file);
}

bool TMainForm::RefuseNotAFile(const QString &file) {
  if (QFileInfo(file).isFile())
    return false;
  // What the name is and why it was not opened, then the frame's own
  // message (the error entry, with its beep).
  const QString why = WhyNotAFile(file);
  if (!why.isEmpty())
    LogEvent(kLogPlain, false, why);
  LogEvent(kLogPlain, true, QStringLiteral("File Not Found!"));
  return true;
}

void TMainForm::OpenFile(const QString &file) {
  if (RefuseNotAFile(file))
    return;
  const QFileInfo info(file);
  // The batch command's reader: UTF-8 or Latin-1, without a byte-order
  // mark, regular files of a sensible size only.
  QString text;
  try {
    if (filePadFactory_) {
      MdiChild *pad = filePadFactory_(*this, info.absoluteFilePath());
      if (pad && !qobject_cast<QMdiSubWindow *>(pad->parentWidget()))
        addChild(pad);
      if (pad)
        NoteRecentFile(info.absoluteFilePath());
      return;
    }
    text = QString::fromStdString(
        readdatatext(QFile::encodeName(info.absoluteFilePath()).toStdString()));
  } catch (const std::bad_alloc &) {
    LogEvent(kLogPlain, true,
             QStringLiteral("Not enough memory to read %1").arg(info.absoluteFilePath()));
    return;
  } catch (const std::system_error &e) {
    LogEvent(kLogPlain, true,
             QStringLiteral("Cannot read %1: %2")
                 .arg(info.absoluteFilePath(), QString::fromLocal8Bit(e.code().message())));
    return;
  } catch (const std::exception &e) {
    LogEvent(kLogPlain, true,
             QStringLiteral("Cannot read %1").arg(QString::fromLocal8Bit(e.what())));
    return;
  }
  OpenPad(info.absoluteFilePath(), text);
  NoteRecentFile(info.absoluteFilePath());
}

void TMainForm::FileSave() { Post(UM_SAVE); }
void TMainForm::FileSaveAs() { Post(UM_SAVEAS); }

void TMainForm::FileCloseClick() {
  if (QWidget *child = activeChild())
    SendCommand(child, UM_CLOSEREQUEST);
}

void TMainForm::FileExportClick() { Post(UM_EXPORT); }
void TMainForm::FilePrint() { Post(UM_OUTPUT, kOutputPrint, kOutputPrint); }

void TMainForm::FilePrintSetup() { Dialogs::get().pageSetup(this, printer()); }

void TMainForm::Options1Click() {
  TPreferences preferences(*this, this);
  Dialogs::get().exec(&preferences);
}

void TMainForm::FileExit() { close(); }

// ---- Edit ----

void TMainForm::EditUndo() { Post(UM_UNDO); }

void TMainForm::EditCut() {
  Post(UM_CUT);
  setStatusText(QStringLiteral("Cut to the Clipboard"));
}

void TMainForm::EditCopy() {
  Post(UM_COPY);
  setStatusText(QStringLiteral("Copied to the Clipboard"));
}

void TMainForm::EditPaste() {
  Post(UM_PASTE);
  setStatusText(QStringLiteral("Pasted to the Clipboard"));
}

void TMainForm::TBSelectAllClick() { Post(UM_SELECTALL); }
void TMainForm::TBWordWrapClick() { Post(UM_WORDWRAP); }

// ---- Actions and Chart ----

void TMainForm::CTxtFileClick() { Post(UM_PROCESS, 0, 0); }
void TMainForm::TBProcessClick() { Post(UM_PROCESS, 0, 0); }
void TMainForm::ReplotClick() { Post(UM_OUTPUT, kOutputReplot, kOutputReplot); }
void TMainForm::TBReplotClick() { Post(UM_OUTPUT, kOutputReplot, kOutputReplot); }
void TMainForm::Labels1Click() { Post(UM_PROCESS, 1, 0); }
void TMainForm::Xaxis1Click() { Post(UM_PROCESS, 2, 0); }
void TMainForm::Export1Click() { Post(UM_EXPORT); }

void TMainForm::ChartMCAsBitmapClick() {
  Post(UM_OUTPUT, kOutputMainBitmap, kOutputMainBitmap);
  setStatusText(QStringLiteral("The main chart has been copied to the clipboard as a bitmap."));
}

void TMainForm::ChartMCAsWMFClick() {
  Post(UM_OUTPUT, kOutputMainVector, kOutputMainVector);
  setStatusText(
      QStringLiteral("The main chart has been copied to the clipboard as a windows metafile."));
}

void TMainForm::ChartMCAsEMFClick() {
  Post(UM_OUTPUT, kOutputMainVectorEnhanced, kOutputMainVectorEnhanced);
  setStatusText(
      QStringLiteral("The main chart has been copied to the clipboard as a enhanced metafile."));
}

void TMainForm::ChartRAsBitmapClick() {
  Post(UM_OUTPUT, kOutputDevBitmap, kOutputDevBitmap);
  setStatusText(QStringLiteral(
      "The deviations in the ordinates chart has been copied to the clipboard as a bitmap."));
}

void TMainForm::ChartRAsWMFClick() {
  Post(UM_OUTPUT, kOutputDevVector, kOutputDevVector);
  setStatusText(QStringLiteral("The deviations in the ordinates chart has been copied to the "
                               "clipboard as a windows metafile."));
}

void TMainForm::ChartRAsEMFClick() {
  Post(UM_OUTPUT, kOutputDevVectorEnhanced, kOutputDevVectorEnhanced);
  setStatusText(QStringLiteral("The deviations in the ordinates chart has been copied to the "
                               "clipboard as a enhanced metafile."));
}

void TMainForm::Information1Click() { Post(UM_OUTPUT, kOutputInformation, kOutputInformation); }

// The mark has already flipped when these run.
void TMainForm::WTPMainChartClick() {
  setStatusText(command(Cmd::WTPMainChart)->isChecked()
                    ? QStringLiteral("The Main Chart WILL Be Printed On A Print Request")
                    : QStringLiteral("The Main Chart WILL NOT Be Printed On A Print Request"));
}

void TMainForm::WTPResidualsClick() {
  setStatusText(
      command(Cmd::WTPResiduals)->isChecked()
          ? QStringLiteral("The Deviations in the Ordinates Chart WILL Be Printed On A Print "
                           "Request")
          : QStringLiteral("The Deviations in the Ordinates Chart WILL NOT Be Printed On A Print "
                           "Request"));
}

void TMainForm::WTPInformationClick() {
  setStatusText(
      command(Cmd::WTPInformation)->isChecked()
          ? QStringLiteral("Information on the fits WILL Be Printed On A Print Request")
          : QStringLiteral("Information on the fits WILL NOT Be Printed On A Print Request"));
}

// ---- Window ----

void TMainForm::KeepInsideArea(QMdiSubWindow *sub) {
  // A child that reaches past the area brings up the area's scroll bars: it
  // is moved back inside (over part of its neighbours) and, where it can,
  // made to fit.
  if (!sub->isVisible() || sub->isMinimized() || sub->isMaximized())
    return;
  const QRect area = MdiArea_->viewport()->rect();
  QRect g = sub->geometry();
  g.setSize(g.size().boundedTo(area.size()).expandedTo(sub->minimumSizeHint()));
  if (g.right() > area.right())
    g.moveRight(area.right());
  if (g.bottom() > area.bottom())
    g.moveBottom(area.bottom());
  g.moveLeft(std::max(g.left(), area.left()));
  g.moveTop(std::max(g.top(), area.top()));
  if (g != sub->geometry())
    sub->setGeometry(g);
}

void TMainForm::WindowTile() {
  MdiArea_->tileSubWindows();
  // A plotter cannot shrink below its minimum size to fit a small tile.
  for (QMdiSubWindow *sub : MdiArea_->subWindowList())
    KeepInsideArea(sub);
}
void TMainForm::WindowCascade() { MdiArea_->cascadeSubWindows(); }

void TMainForm::WindowArrange() {
  // Minimized children line up along the bottom, left to right, row above row.
  const QRect area = MdiArea_->viewport()->rect();
  int x = 0;
  int bottom = area.bottom() + 1;
  for (QMdiSubWindow *sub : MdiArea_->subWindowList(QMdiArea::CreationOrder)) {
    if (sub->isHidden() || !sub->isMinimized())
      continue;
    const QSize s = sub->size();
    if (x > 0 && x + s.width() > area.width()) {
      x = 0;
      bottom -= s.height();
    }
    sub->move(x, bottom - s.height());
    x += s.width();
  }
}

// ---- Help ----

THelpWindow *TMainForm::helpWindow() {
  if (!help_)
    help_ = new THelpWindow(this);
  return help_;
}

void TMainForm::HelpContents() { helpWindow()->ShowContents(); }
void TMainForm::HelpSearch() { helpWindow()->ShowSearch(QString()); }
void TMainForm::HelpHowToUse() { helpWindow()->ShowHowToUse(); }

void TMainForm::TeachingPages1Click() {
  // Without the local pages, the teaching service's web page (its address
  // in ORVALLE_LESSONURL) opens in the desktop's browser.
  if (!lessonFound_) {
    const QUrl service(qEnvironmentVariable("ORVALLE_LESSONURL"), QUrl::StrictMode);
    if (service.isValid() && !service.scheme().isEmpty() && QDesktopServices::openUrl(service))
      return;
  }
  auto *teach = new TTeachForm(*this, this);
  addChild(teach);
  if (lessonFound_)
    teach->Navigate(QUrl::fromLocalFile(lessonPage()));
  else
    teach->ShowMissing(lessonFolder_);
}

void TMainForm::HelpAbout() { Dialogs::get().exec(CreateAboutBox()); }

// ---- Notification-area icon ----

void TMainForm::setTrayIconShown(bool on) {
  trayShown_ = on;
  TrayIcon_->setVisible(on && QSystemTrayIcon::isSystemTrayAvailable());
}

void TMainForm::RestoreFromTray() {
  showNormal();
  raise();
  activateWindow();
}

void TMainForm::TrayRestoreClick() { RestoreFromTray(); }
void TMainForm::TrayMinimizeClick() { showMinimized(); }
void TMainForm::TrayMaximizeClick() {
  showMaximized();
  raise();
}
void TMainForm::TrayExitClick() { close(); }

void TMainForm::changeEvent(QEvent *e) {
  QMainWindow::changeEvent(e);
  if (e->type() == QEvent::WindowStateChange && isMinimized() && TrayIcon_->isVisible()) {
    // With the icon in the tray the minimized program keeps no taskbar
    // button: the icon is its only trace.
    QTimer::singleShot(0, this, [this] {
      if (isMinimized() && TrayIcon_->isVisible())
        hide();
    });
  }
}

// ---- Timer and protocols ----

void TMainForm::TimerTick() {
  if (closing_ && childWindows().size() <= 1) {
    close();
    return;
  }
  if (QWidget *child = activeChild()) {
    PostCommand(child, UM_UPDATEMENUS);
    return;
  }
  for (Cmd c : {Cmd::FileSaveItem, Cmd::FileSaveAsItem, Cmd::TBSave})
    enable(c, false);
  SetEditItems(false, false);
  for (Cmd c : {Cmd::TBWordWrap, Cmd::TBSelectAll, Cmd::CTxtFile, Cmd::Replot, Cmd::TBProcess,
                Cmd::TBReplot, Cmd::TBExport, Cmd::TBAxis, Cmd::TBTitles})
    enable(c, false);
}

void TMainForm::UpdateEveryOne(long long code) {
  for (QWidget *child : childWindows()) {
    QPointer<QWidget> alive(child);
    if (alive)
      SendCommand(child, UM_UPDATEALL, code, code);
  }
}

void TMainForm::DisableChildCommands() { DisableDocumentCommands(*this); }

bool TMainForm::event(QEvent *e) {
  if (e->type() == QEvent::StatusTip) {
    setStatusText(static_cast<QStatusTipEvent *>(e)->tip());
    return true;
  }
  if (auto *c = IsCommand(e) ? dynamic_cast<CommandEvent *>(e) : nullptr) {
    switch (c->message()) {
    case UM_UPDATEALL:
      UpdateEveryOne(c->wParam);
      return true;
    case UM_DISABLEALL:
      DisableChildCommands();
      return true;
    default:
      return false;
    }
  }
  return QMainWindow::event(e);
}

void TMainForm::closeEvent(QCloseEvent *e) {
  closing_ = true;
  std::vector<QPointer<QWidget>> all;
  for (QWidget *child : childWindows())
    all.emplace_back(child);
  for (const QPointer<QWidget> &child : all)
    if (child)
      SendCommand(child, UM_CLOSEREQUEST);
  if (childWindows().size() > 1) {
    // Someone kept a window open; the timer closes the frame once only the
    // log is left.
    e->ignore();
    return;
  }
  e->accept();
  menuTimer_.stop();
  TrayIcon_->hide();
  emit frameClosed();
}

} // namespace orvalle
