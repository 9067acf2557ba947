// The frame's menus, tool bar and notification-area icon.
#include <QApplication>
#include <QCursor>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QToolBar>

#include "frame/log.h"
#include "frame/mainform.h"
#include "frame/toolicons.h"

namespace orvalle {

QAction *TMainForm::makeAction(QMenu *menu, const char *name, const QString &caption,
                               const QKeySequence &shortcut, const QString &hint,
                               void (TMainForm::*handler)()) {
  auto *a = new QAction(caption, this);
  a->setObjectName(QLatin1String(name));
  if (!shortcut.isEmpty())
    a->setShortcut(shortcut);
  a->setStatusTip(hint);
  if (handler)
    connect(a, &QAction::triggered, this, handler);
  if (menu)
    menu->addAction(a);
  return a;
}

QAction *TMainForm::makeButton(const char *name, const QString &hint, const QString &iconName,
                               void (TMainForm::*handler)()) {
  // A hint is "short|long": the short part is the tool tip, the long part
  // goes to the status line.
  const int bar = hint.indexOf(QLatin1Char('|'));
  auto *a = new QAction(ToolIcon(iconName), hint.left(bar), this);
  a->setObjectName(QLatin1String(name));
  a->setToolTip(hint.left(bar));
  a->setStatusTip(bar >= 0 ? hint.mid(bar + 1) : hint);
  connect(a, &QAction::triggered, this, handler);
  ToolBar1_->addAction(a);
  return a;
}

void TMainForm::BuildMenus() {
  QMenuBar *bar = menuBar();
  bar->setObjectName(QStringLiteral("MainMenu"));
  const QKeySequence none;

  QMenu *file = bar->addMenu(QStringLiteral("&File"));
  file->setObjectName(QStringLiteral("FileMenu"));
  makeAction(file, "FileNewItem", QStringLiteral("&New"), QKeySequence(QStringLiteral("Ctrl+N")),
             QStringLiteral("Create a new file"), &TMainForm::FileNew);
  makeAction(file, "FileOpenItem", QStringLiteral("&Open..."),
             QKeySequence(QStringLiteral("Ctrl+O")), QStringLiteral("Open an existing file"),
             &TMainForm::FileOpen);
  makeAction(file, "FileImportItem", QStringLiteral("&Import Table..."),
             QKeySequence(QStringLiteral("Ctrl+Shift+O")),
             QStringLiteral("Read a CSV or TSV table (spreadsheet, data logger, phyphox) into a "
                            "new scratch pad"),
             &TMainForm::FileImport);
  commands_[Cmd::FileSaveItem] = makeAction(
      file, "FileSaveItem", QStringLiteral("&Save"), QKeySequence(QStringLiteral("Ctrl+S")),
      QStringLiteral("Save current file"), &TMainForm::FileSave);
  commands_[Cmd::FileSaveAsItem] =
      makeAction(file, "FileSaveAsItem", QStringLiteral("Save &As..."),
                 QKeySequence(QStringLiteral("Ctrl+Alt+S")),
                 QStringLiteral("Save current file under a new name"), &TMainForm::FileSaveAs);
  commands_[Cmd::FileClose] =
      makeAction(file, "FileClose", QStringLiteral("&Close"),
                 QKeySequence(QStringLiteral("Ctrl+K")), QString(), &TMainForm::FileCloseClick);
  file->addSeparator();
  commands_[Cmd::FileExport] =
      makeAction(file, "FileExport", QStringLiteral("&Export"),
                 QKeySequence(QStringLiteral("Ctrl+E")), QString(), &TMainForm::FileExportClick);
  file->addSeparator();
  commands_[Cmd::FilePrintItem] = makeAction(
      file, "FilePrintItem", QStringLiteral("&Print"), QKeySequence(QStringLiteral("Ctrl+P")),
      QStringLiteral("Print current file"), &TMainForm::FilePrint);
  makeAction(file, "FilePrintSetupItem", QStringLiteral("P&rint Setup..."),
             QKeySequence(QStringLiteral("Ctrl+Alt+P")), QStringLiteral("Change printer setup"),
             &TMainForm::FilePrintSetup);
  file->addSeparator();
  makeAction(file, "Options1", QStringLiteral("P&references"),
             QKeySequence(QStringLiteral("Ctrl+R")), QString(), &TMainForm::Options1Click);
  file->addSeparator();
  BuildRecentFilesMenu(file);
  makeAction(file, "FileExitItem", QStringLiteral("E&xit"),
             QKeySequence(QStringLiteral("Ctrl+Alt+X")), QStringLiteral("Exit this application"),
             &TMainForm::FileExit);

  BuildProjectItems(file);

  QMenu *edit = bar->addMenu(QStringLiteral("&Edit"));
  edit->setObjectName(QStringLiteral("EditMenu"));
  commands_[Cmd::EditUndoItem] = makeAction(
      edit, "EditUndoItem", QStringLiteral("&Undo"), QKeySequence(QStringLiteral("Ctrl+Z")),
      QStringLiteral("Undo the last action"), &TMainForm::EditUndo);
  edit->addSeparator();
  commands_[Cmd::EditCutItem] = makeAction(
      edit, "EditCutItem", QStringLiteral("Cu&t"), QKeySequence(QStringLiteral("Ctrl+X")),
      QStringLiteral("Delete selected item"), &TMainForm::EditCut);
  commands_[Cmd::EditCopyItem] = makeAction(
      edit, "EditCopyItem", QStringLiteral("&Copy"), QKeySequence(QStringLiteral("Ctrl+C")),
      QStringLiteral("Copy selected item to clipboard"), &TMainForm::EditCopy);
  commands_[Cmd::EditPasteItem] = makeAction(
      edit, "EditPasteItem", QStringLiteral("&Paste"), QKeySequence(QStringLiteral("Ctrl+V")),
      QStringLiteral("Paste contents of clipboard"), &TMainForm::EditPaste);
  commands_[Cmd::TBSelectAll] =
      makeAction(edit, "TBSelectAll", QStringLiteral("Select &All"),
                 QKeySequence(QStringLiteral("Ctrl+A")), QString(), &TMainForm::TBSelectAllClick);
  edit->addSeparator();
  QAction *wrap = makeAction(edit, "TBWordWrap", QStringLiteral("&WordWrap"),
                             QKeySequence(QStringLiteral("Ctrl+Alt+W")), QString(),
                             &TMainForm::TBWordWrapClick);
  wrap->setCheckable(true); // the scratch pad sets the mark
  commands_[Cmd::TBWordWrap] = wrap;

  QMenu *actions = bar->addMenu(QStringLiteral("&Actions"));
  actions->setObjectName(QStringLiteral("Actions"));
  commands_[Cmd::CTxtFile] =
      makeAction(actions, "CTxtFile", QStringLiteral("Convert Text File"),
                 QKeySequence(QStringLiteral("F5")), QString(), &TMainForm::CTxtFileClick);
  actions->addSeparator();
  commands_[Cmd::Replot] =
      makeAction(actions, "Replot", QStringLiteral("Replot Data"),
                 QKeySequence(QStringLiteral("F6")), QString(), &TMainForm::ReplotClick);

  MenuChart_ = bar->addMenu(QStringLiteral("&Chart"));
  MenuChart_->setObjectName(QStringLiteral("MenuChart"));
  MenuChart_->menuAction()->setObjectName(QStringLiteral("MenuChart"));
  commands_[Cmd::MenuChart] = MenuChart_->menuAction();
  chartItems_.push_back(makeAction(MenuChart_, "Labels1", QStringLiteral("&Labels"),
                                   QKeySequence(QStringLiteral("Ctrl+L")), QString(),
                                   &TMainForm::Labels1Click));
  chartItems_.push_back(makeAction(MenuChart_, "Xaxis1", QStringLiteral("A&xies"),
                                   QKeySequence(QStringLiteral("Ctrl+I")), QString(),
                                   &TMainForm::Xaxis1Click));
  MenuChart_->addSeparator();
  chartItems_.push_back(makeAction(MenuChart_, "Export1", QStringLiteral("&Export"), none,
                                   QString(), &TMainForm::Export1Click));
  MenuChart_->addSeparator();
  QMenu *copyTo = MenuChart_->addMenu(QStringLiteral("Copy to ClipBoard"));
  copyTo->setObjectName(QStringLiteral("CopytoClipBoard1"));
  QMenu *mainCopy = copyTo->addMenu(QStringLiteral("&Main Chart"));
  mainCopy->setObjectName(QStringLiteral("MainCopyto"));
  chartItems_.push_back(makeAction(mainCopy, "ChartMCAsBitmap", QStringLiteral("As &Bitmap"),
                                   QKeySequence(QStringLiteral("F2")), QString(),
                                   &TMainForm::ChartMCAsBitmapClick));
  chartItems_.push_back(makeAction(mainCopy, "ChartMCAsWMF", QStringLiteral("As Metafile (&WMF)"),
                                   QKeySequence(QStringLiteral("F3")), QString(),
                                   &TMainForm::ChartMCAsWMFClick));
  chartItems_.push_back(makeAction(mainCopy, "ChartMCAsEMF", QStringLiteral("As Metafile (&EMF)"),
                                   QKeySequence(QStringLiteral("F4")), QString(),
                                   &TMainForm::ChartMCAsEMFClick));
  QMenu *resCopy = copyTo->addMenu(QStringLiteral("&Deviations Chart"));
  resCopy->setObjectName(QStringLiteral("ResCopyChart1"));
  chartItems_.push_back(makeAction(resCopy, "ChartRAsBitmap", QStringLiteral("As &Bitmap"),
                                   QKeySequence(QStringLiteral("Shift+F2")), QString(),
                                   &TMainForm::ChartRAsBitmapClick));
  chartItems_.push_back(makeAction(resCopy, "ChartRAsWMF", QStringLiteral("As Metafile (&WMF)"),
                                   QKeySequence(QStringLiteral("Shift+F3")), QString(),
                                   &TMainForm::ChartRAsWMFClick));
  chartItems_.push_back(makeAction(resCopy, "ChartRAsEMF", QStringLiteral("As Metafile (&EMF)"),
                                   QKeySequence(QStringLiteral("Shift+F4")), QString(),
                                   &TMainForm::ChartRAsEMFClick));
  MenuChart_->addSeparator();
  chartItems_.push_back(makeAction(MenuChart_, "Information1", QStringLiteral("&Information"),
                                   QKeySequence(QStringLiteral("Ctrl+C")), QString(),
                                   &TMainForm::Information1Click));
  QMenu *wtp = MenuChart_->addMenu(QStringLiteral("What to &Print"));
  wtp->setObjectName(QStringLiteral("Print1"));
  struct Mark {
    Cmd cmd;
    const char *name;
    const char *caption;
    const char *key;
    void (TMainForm::*handler)();
  };
  for (const Mark &m : {Mark{Cmd::WTPMainChart, "WTPMainChart", "Main Chart", "Shift+F6",
                             &TMainForm::WTPMainChartClick},
                        Mark{Cmd::WTPResiduals, "WTPResiduals", "Deviations", "Shift+F7",
                             &TMainForm::WTPResidualsClick},
                        Mark{Cmd::WTPInformation, "WTPInformation", "Information", "Shift+F8",
                             &TMainForm::WTPInformationClick}}) {
    QAction *a = makeAction(wtp, m.name, QLatin1String(m.caption),
                            QKeySequence(QLatin1String(m.key)), QString(), nullptr);
    a->setCheckable(true);
    a->setChecked(true);
    // The mark flips as the item is chosen; the handler then tells which.
    connect(a, &QAction::triggered, this, m.handler);
    commands_[m.cmd] = a;
    // The marks' shortcuts belong to the frame itself, so they work while
    // the "&Chart" menu around them is disabled.
    addAction(a);
  }
  // The whole "&Chart" menu goes on and off at once, shortcuts included (the
  // "What to &Print" marks stay available).
  connect(MenuChart_->menuAction(), &QAction::enabledChanged, this, [this](bool on) {
    for (QAction *a : chartItems_)
      a->setEnabled(on);
  });

  WindowMenu_ = bar->addMenu(QStringLiteral("&Window"));
  WindowMenu_->setObjectName(QStringLiteral("WindowMenu"));
  makeAction(WindowMenu_, "WindowTileItem", QStringLiteral("&Tile"),
             QKeySequence(QStringLiteral("Ctrl+T")), QStringLiteral("Tile all windows"),
             &TMainForm::WindowTile);
  makeAction(WindowMenu_, "WindowCascadeItem", QStringLiteral("&Cascade"),
             QKeySequence(QStringLiteral("Ctrl+W")), QStringLiteral("Cascade all windows"),
             &TMainForm::WindowCascade);
  makeAction(WindowMenu_, "WindowArrangeItem", QStringLiteral("&Arrange All"),
             QKeySequence(QStringLiteral("Ctrl+Y")), QStringLiteral("Arrange minimized windows"),
             &TMainForm::WindowArrange);
  connect(WindowMenu_, &QMenu::aboutToShow, this, &TMainForm::RebuildWindowList);

  QMenu *help = bar->addMenu(QStringLiteral("&Help"));
  help->setObjectName(QStringLiteral("HelpMenu"));
  makeAction(help, "HelpContentsItem", QStringLiteral("&Contents"),
             QKeySequence(QStringLiteral("F1")), QStringLiteral("Display the help contents screen"),
             &TMainForm::HelpContents);
  makeAction(help, "HelpSearchItem", QStringLiteral("&Search for Help On..."), none,
             QStringLiteral("Search help file for a topic"), &TMainForm::HelpSearch);
  makeAction(help, "HelpHowToUseItem", QStringLiteral("&How to Use Help"), none,
             QStringLiteral("Help on using the help system"), &TMainForm::HelpHowToUse);
  makeAction(help, "TeachingPages1", QStringLiteral("&Teaching Pages"),
             QKeySequence(QStringLiteral("F8")), QString(), &TMainForm::TeachingPages1Click);
  help->addSeparator();
  makeAction(help, "HelpAboutItem", QStringLiteral("&About..."),
             QKeySequence(QStringLiteral("F10")), QStringLiteral("Show program information"),
             &TMainForm::HelpAbout);
}

void TMainForm::BuildToolBar() {
  ToolBar1_ = addToolBar(QStringLiteral("ToolBar1"));
  ToolBar1_->setObjectName(QStringLiteral("ToolBar1"));
  ToolBar1_->setMovable(false);
  ToolBar1_->setIconSize(QSize(24, 24));
  makeButton("TBarNew", QStringLiteral("New | New Data File "), QStringLiteral("new"),
             &TMainForm::FileNew);
  makeButton("TBarOpen", QStringLiteral("Open | Open Data File"), QStringLiteral("open"),
             &TMainForm::FileOpen);
  commands_[Cmd::TBSave] = makeButton("TBSave", QStringLiteral("Save| Save File"),
                                      QStringLiteral("save"), &TMainForm::FileSave);
  ToolBar1_->addSeparator();
  commands_[Cmd::TBarCut] = makeButton("TBarCut", QStringLiteral("Cut|Cut To Clipboard "),
                                       QStringLiteral("cut"), &TMainForm::EditCut);
  commands_[Cmd::TBarCopy] = makeButton("TBarCopy", QStringLiteral("Copy| Copy To Clipboad"),
                                        QStringLiteral("copy"), &TMainForm::EditCopy);
  commands_[Cmd::TBPaste] = makeButton("TBPaste", QStringLiteral("Paste|Paste From Clipboard"),
                                       QStringLiteral("paste"), &TMainForm::EditPaste);
  ToolBar1_->addSeparator();
  QAction *process = makeButton("TBProcess", QStringLiteral("Convert |Convert Data To Chart"),
                                QStringLiteral("process"), &TMainForm::TBProcessClick);
  process->setText(QStringLiteral("Process"));
  commands_[Cmd::TBProcess] = process;
  commands_[Cmd::TBReplot] = makeButton("TBReplot", QStringLiteral("Replot|Refresh Plot"),
                                        QStringLiteral("replot"), &TMainForm::TBReplotClick);
  commands_[Cmd::TBExport] = makeButton("TBExport", QStringLiteral("Export|Export Chart"),
                                        QStringLiteral("export"), &TMainForm::Export1Click);
  commands_[Cmd::TBAxis] = makeButton("TBAxis", QStringLiteral("Axis|Edit Axis"),
                                      QStringLiteral("axis"), &TMainForm::Xaxis1Click);
  commands_[Cmd::TBTitles] = makeButton("TBTitles", QStringLiteral("Titles| Edit Titles"),
                                        QStringLiteral("titles"), &TMainForm::Labels1Click);
  ToolBar1_->addSeparator();
  commands_[Cmd::TBPrint] = makeButton("TBPrint", QStringLiteral("Print | Print"),
                                       QStringLiteral("print"), &TMainForm::FilePrint);
  ToolBar1_->addSeparator();
  makeButton("TBHelp", QStringLiteral("Help |Help "), QStringLiteral("help"),
             &TMainForm::HelpContents);
  makeButton("TBAbout", QStringLiteral("About|Show AboutBox"), QStringLiteral("about"),
             &TMainForm::HelpAbout);
  ToolBar1_->addSeparator();
  makeButton("ToolButton9", QStringLiteral("Exit| Exit Program"), QStringLiteral("exit"),
             &TMainForm::FileExit);
}

void TMainForm::BuildTray() {
  TaryPopup_ = new QMenu(this);
  TaryPopup_->setObjectName(QStringLiteral("TaryPopup"));
  CopytoClipBoard2_ = TaryPopup_->addMenu(QStringLiteral("Copy to ClipBoard"));
  CopytoClipBoard2_->setObjectName(QStringLiteral("CopytoClipBoard2"));
  CopytoClipBoard2_->menuAction()->setObjectName(QStringLiteral("CopytoClipBoard2"));
  commands_[Cmd::CopytoClipBoard2] = CopytoClipBoard2_->menuAction();
  const QKeySequence none;
  QMenu *mainChart = CopytoClipBoard2_->addMenu(QStringLiteral("&Main Chart"));
  mainChart->setObjectName(QStringLiteral("MainChart2"));
  makeAction(mainChart, "AsBitmap1", QStringLiteral("As &Bitmap"), none, QString(),
             &TMainForm::ChartMCAsBitmapClick);
  makeAction(mainChart, "AsMetafileWMF1", QStringLiteral("As Metafile (&WMF)"), none, QString(),
             &TMainForm::ChartMCAsWMFClick);
  makeAction(mainChart, "AsMetafileEMF1", QStringLiteral("As Metafile (&EMF)"), none, QString(),
             &TMainForm::ChartMCAsEMFClick);
  QMenu *resChart = CopytoClipBoard2_->addMenu(QStringLiteral("&Residuals Chart"));
  resChart->setObjectName(QStringLiteral("ResidualsChart1"));
  makeAction(resChart, "AsBitmap2", QStringLiteral("As &Bitmap"), none, QString(),
             &TMainForm::ChartRAsBitmapClick);
  makeAction(resChart, "AsMetafileWMF2", QStringLiteral("As Metafile (&WMF)"), none, QString(),
             &TMainForm::ChartRAsWMFClick);
  makeAction(resChart, "AsMetafileEMF2", QStringLiteral("As Metafile (&EMF)"), none, QString(),
             &TMainForm::ChartRAsEMFClick);
  makeAction(CopytoClipBoard2_, "Information3", QStringLiteral("Information"), none, QString(),
             &TMainForm::EditCopy);
  TaryPopup_->addSeparator();
  makeAction(TaryPopup_, "TrayRestore", QStringLiteral("Restore"), none, QString(),
             &TMainForm::TrayRestoreClick);
  makeAction(TaryPopup_, "TrayMinimize", QStringLiteral("Minimize"), none, QString(),
             &TMainForm::TrayMinimizeClick);
  makeAction(TaryPopup_, "TrayMaximize", QStringLiteral("Maximize"), none, QString(),
             &TMainForm::TrayMaximizeClick);
  makeAction(TaryPopup_, "TrayExit", QStringLiteral("&Exit"), none, QString(),
             &TMainForm::TrayExitClick);

  TrayIcon_ = new QSystemTrayIcon(ProgramIcon(), this);
  TrayIcon_->setObjectName(QStringLiteral("TrayIcon"));
  TrayIcon_->setToolTip(QStringLiteral("Orvalle"));
  TrayIcon_->setContextMenu(TaryPopup_);
  connect(TrayIcon_, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason why) {
            switch (why) {
            case QSystemTrayIcon::DoubleClick:
              TaryPopup_->hide();
              RestoreFromTray();
              break;
            case QSystemTrayIcon::Trigger:
            case QSystemTrayIcon::MiddleClick:
              if (QWidget *w = QApplication::activeWindow())
                w->raise();
              TaryPopup_->popup(QCursor::pos());
              break;
            default:
              break;
            }
          });
}

void TMainForm::RebuildWindowList() {
  for (QAction *a : windowListActions_)
    delete a; // owned by the frame; deleting removes it from the menu
  windowListActions_.clear();
  const QList<QMdiSubWindow *> subs = MdiArea_->subWindowList(QMdiArea::CreationOrder);
  if (subs.isEmpty())
    return;
  windowListActions_.push_back(WindowMenu_->addSeparator());
  QMdiSubWindow *current = MdiArea_->currentSubWindow();
  int n = 0;
  for (QMdiSubWindow *sub : subs) {
    ++n;
    const QString title = sub->windowTitle();
    QAction *a = WindowMenu_->addAction(n < 10 ? QStringLiteral("&%1 %2").arg(n).arg(title)
                                               : QStringLiteral("%1 %2").arg(n).arg(title));
    a->setCheckable(true);
    a->setChecked(sub == current);
    QPointer<QMdiSubWindow> target(sub);
    connect(a, &QAction::triggered, this, [this, target] {
      if (target) {
        if (target->isMinimized())
          target->showNormal();
        MdiArea_->setActiveSubWindow(target);
      }
    });
    windowListActions_.push_back(a);
  }
}

} // namespace orvalle
