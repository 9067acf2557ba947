// The frame's command routing: the menus and buttons as the program's users
// see them, the command messages they post or send, the 200 ms enabling
// protocol, the close protocol and the broadcast messages.
// Covers frame/mainform.cpp, frame/mainform_build.cpp, frame/mdichild.cpp,
// frame/commandstate.h, frame/teachform.cpp and frame/toolicons.cpp.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QSignalSpy>
#include <QStatusTipEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QToolBar>

#include <memory>
#include <vector>

#include <sys/stat.h>

#include "frame/log.h"
#include "frame/mainform.h"
#include "frame/teachform.h"
#include "frametestkit.h"
#include "plotter/tfit.h"

using namespace orvalle;
using namespace orvalle::testkit;

namespace {

// One timer period (200 ms) and a margin for a busy test machine.
constexpr int kPeriod = 400;

// A frame on fresh settings, shown. Its 200 ms timer runs; tick() runs one
// tick at once and lets the answers arrive.
struct Rig {
  SettingsFolder settings;
  DialogScope dialogs;
  BeepCounter beeps;
  std::unique_ptr<TMainForm> frame;

  explicit Rig(bool withLog = false) {
    qputenv("ORVALLE_CUSTOMFIT", "/nonexistent/libcustomfit.so");
    frame = std::make_unique<TMainForm>();
    frame->setPlotterFactory(&NewPlotter);
    if (withLog)
      frame->CreateLog();
    frame->show();
  }
  FakeChild *add(FakeChild::Kind kind) {
    auto *child = new FakeChild(*frame, kind);
    frame->addChild(child);
    return child;
  }
  QAction *a(const char *name) const {
    QAction *act = frame->action(QLatin1String(name));
    if (!act)
      qFatal("no action %s", name);
    return act;
  }
  bool on(const char *name) const { return a(name)->isEnabled(); }
  void tick() {
    frame->TimerTick();
    settle();
  }
};

// Receives the links that go to the desktop's browser.
class UrlCatcher : public QObject {
  Q_OBJECT
public:
  QList<QUrl> urls;
public slots:
  void open(const QUrl &url) { urls << url; }
};

std::vector<FakeChild::Got> commandsOnly(const FakeChild &c) {
  std::vector<FakeChild::Got> out;
  for (const auto &g : c.got)
    if (g.message != UM_UPDATEMENUS)
      out.push_back(g);
  return out;
}

} // namespace

class CommandsTest : public QObject {
  Q_OBJECT

private slots:
  void menusHaveTheirCaptionsShortcutsAndHints_data();
  void menusHaveTheirCaptionsShortcutsAndHints();
  void separatorsStandWhereTheMenusPutThem();
  void toolBarButtonsInOrderWithTheirHints();
  void toolBarButtonsEachShowTheirOwnPicture();
  void eachCommandReachesTheActiveChild_data();
  void eachCommandReachesTheActiveChild();
  void postedCommandsRunAfterTheHandler();
  void fileCloseIsSentAtOnce();
  void withoutAChildCommandsAreDroppedAndStatusTextsStillShow();
  void copyTextsAndPrintMarksInTheStatusLine();
  void hintsGoToTheStatusLine();
  void commandTextOutlivesTheMenuThatRanIt();
  void timerWithoutChildDisablesTheDocumentCommands();
  void padStatesItsCommands();
  void switchingPlotterToPadWithinOneTimerPeriod();
  void logAndTeachingPagesDisableEverything();
  void chartMenuTakesItsShortcutsWithIt();
  void updateAllGoesToEveryChildInOrder();
  void refusingChildKeepsTheFrameOpenUntilItGoes();
  void frameEndsWithinATimerPeriodOfTheLastChild();
  void fileOpenLoadsAPadOrLogsFileNotFound();
  void fileNewUsesThePadFactory();
  void anExceptionEndsOnlyItsCommand();
  void teachingPagesOpenAWindowEachTime();
  void printSetupAndArrangeIcons();
  void windowMenuListsTheChildren();
};

void CommandsTest::menusHaveTheirCaptionsShortcutsAndHints_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QString>("caption");
  QTest::addColumn<QString>("shortcut");
  QTest::addColumn<QString>("hint");
  const auto row = [](const char *n, const char *c, const char *s, const char *h) {
    QTest::newRow(n) << QString::fromLatin1(n) << QString::fromLatin1(c) << QString::fromLatin1(s)
                     << QString::fromLatin1(h);
  };
  row("FileNewItem", "&New", "Ctrl+N", "Create a new file");
  row("FileOpenItem", "&Open...", "Ctrl+O", "Open an existing file");
  row("FileSaveItem", "&Save", "Ctrl+S", "Save current file");
  row("FileSaveAsItem", "Save &As...", "Ctrl+Alt+S", "Save current file under a new name");
  row("FileClose", "&Close", "Ctrl+K", "");
  row("FileExport", "&Export", "Ctrl+E", "");
  row("FilePrintItem", "&Print", "Ctrl+P", "Print current file");
  row("FilePrintSetupItem", "P&rint Setup...", "Ctrl+Alt+P", "Change printer setup");
  row("Options1", "P&references", "Ctrl+R", "");
  row("FileExitItem", "E&xit", "Ctrl+Alt+X", "Exit this application");
  row("EditUndoItem", "&Undo", "Ctrl+Z", "Undo the last action");
  row("EditCutItem", "Cu&t", "Ctrl+X", "Delete selected item");
  row("EditCopyItem", "&Copy", "Ctrl+C", "Copy selected item to clipboard");
  row("EditPasteItem", "&Paste", "Ctrl+V", "Paste contents of clipboard");
  row("TBSelectAll", "Select &All", "Ctrl+A", "");
  row("TBWordWrap", "&WordWrap", "Ctrl+Alt+W", "");
  row("CTxtFile", "Convert Text File", "F5", "");
  row("Replot", "Replot Data", "F6", "");
  row("Labels1", "&Labels", "Ctrl+L", "");
  row("Xaxis1", "A&xies", "Ctrl+I", "");
  row("Export1", "&Export", "", "");
  row("ChartMCAsBitmap", "As &Bitmap", "F2", "");
  row("ChartMCAsWMF", "As Metafile (&WMF)", "F3", "");
  row("ChartMCAsEMF", "As Metafile (&EMF)", "F4", "");
  row("ChartRAsBitmap", "As &Bitmap", "Shift+F2", "");
  row("ChartRAsWMF", "As Metafile (&WMF)", "Shift+F3", "");
  row("ChartRAsEMF", "As Metafile (&EMF)", "Shift+F4", "");
  row("Information1", "&Information", "Ctrl+C", "");
  row("WTPMainChart", "Main Chart", "Shift+F6", "");
  row("WTPResiduals", "Deviations", "Shift+F7", "");
  row("WTPInformation", "Information", "Shift+F8", "");
  row("WindowTileItem", "&Tile", "Ctrl+T", "Tile all windows");
  row("WindowCascadeItem", "&Cascade", "Ctrl+W", "Cascade all windows");
  row("WindowArrangeItem", "&Arrange All", "Ctrl+Y", "Arrange minimized windows");
  row("HelpContentsItem", "&Contents", "F1", "Display the help contents screen");
  row("HelpSearchItem", "&Search for Help On...", "", "Search help file for a topic");
  row("HelpHowToUseItem", "&How to Use Help", "", "Help on using the help system");
  row("TeachingPages1", "&Teaching Pages", "F8", "");
  row("HelpAboutItem", "&About...", "F10", "Show program information");
  row("Information3", "Information", "", "");
  row("TrayRestore", "Restore", "", "");
  row("TrayMinimize", "Minimize", "", "");
  row("TrayMaximize", "Maximize", "", "");
  row("TrayExit", "&Exit", "", "");
}

void CommandsTest::menusHaveTheirCaptionsShortcutsAndHints() {
  QFETCH(QString, name);
  QFETCH(QString, caption);
  QFETCH(QString, shortcut);
  QFETCH(QString, hint);
  Rig rig;
  QAction *a = rig.frame->action(name);
  QVERIFY(a);
  QCOMPARE(a->text(), caption);
  QCOMPARE(a->shortcut(), QKeySequence(shortcut));
  QCOMPARE(a->statusTip(), hint);
}

void CommandsTest::separatorsStandWhereTheMenusPutThem() {
  Rig rig;
  // The menu bar's titles, and each menu's items with "-" for a separator.
  QStringList titles;
  for (QAction *a : rig.frame->menuBar()->actions())
    titles << a->text();
  QCOMPARE(titles, (QStringList{"&File", "&Edit", "&Actions", "&Chart", "&Window", "&Help"}));
  // Commands added beside the menus' own items (the project files, whose
  // places frame/project_test checks) are left out here: the menus' own
  // items keep their order and separators around them.
  const QStringList additions = {QStringLiteral("FileOpenProjectItem"),
                                 QStringLiteral("FileSaveProjectItem")};
  const auto layout = [&](int index) {
    QStringList out;
    for (QAction *a : rig.frame->menuBar()->actions().at(index)->menu()->actions())
      if (!additions.contains(a->objectName()))
        out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
  };
  // Import Table (tables of other programs) stands beside Open, Recent Files
  // before Exit; every other item and separator keeps its place.
  QCOMPARE(layout(0), (QStringList{"&New", "&Open...", "&Import Table...", "&Save", "Save &As...",
                                   "&Close", "-", "&Export", "-", "&Print", "P&rint Setup...", "-",
                                   "P&references", "-", "Recent &Files", "-", "E&xit"}));
  QCOMPARE(layout(1),
           (QStringList{"&Undo", "-", "Cu&t", "&Copy", "&Paste", "Select &All", "-", "&WordWrap"}));
  QCOMPARE(layout(2), (QStringList{"Convert Text File", "-", "Replot Data"}));
  QCOMPARE(layout(3), (QStringList{"&Labels", "A&xies", "-", "&Export", "-", "Copy to ClipBoard",
                                   "-", "&Information", "What to &Print"}));
  QCOMPARE(layout(5), (QStringList{"&Contents", "&Search for Help On...", "&How to Use Help",
                                   "&Teaching Pages", "-", "&About..."}));
  // The copy sub-menus of the Chart menu and of the icon's menu.
  QMenu *copy = rig.frame->findChild<QMenu *>(QStringLiteral("CopytoClipBoard1"));
  QVERIFY(copy);
  QCOMPARE(copy->actions().at(0)->text(), QStringLiteral("&Main Chart"));
  QCOMPARE(copy->actions().at(1)->text(), QStringLiteral("&Deviations Chart"));
  QStringList tray;
  for (QAction *a : rig.frame->trayPopup()->actions())
    tray << (a->isSeparator() ? QStringLiteral("-") : a->text());
  QCOMPARE(tray,
           (QStringList{"Copy to ClipBoard", "-", "Restore", "Minimize", "Maximize", "&Exit"}));
  QMenu *copy2 = rig.frame->findChild<QMenu *>(QStringLiteral("CopytoClipBoard2"));
  QStringList copy2Items;
  for (QAction *a : copy2->actions())
    copy2Items << a->text();
  QCOMPARE(copy2Items, (QStringList{"&Main Chart", "&Residuals Chart", "Information"}));
  // The print marks start ticked.
  for (const char *n : {"WTPMainChart", "WTPResiduals", "WTPInformation"})
    QVERIFY(rig.a(n)->isChecked());
}

void CommandsTest::toolBarButtonsInOrderWithTheirHints() {
  Rig rig;
  auto *bar = rig.frame->findChild<QToolBar *>(QStringLiteral("ToolBar1"));
  QVERIFY(bar);
  QStringList got;
  for (QAction *a : bar->actions())
    got << (a->isSeparator() ? QStringLiteral("-")
                             : a->objectName() + QLatin1Char('=') + a->toolTip() +
                                   QLatin1Char('|') + a->statusTip());
  const QStringList want{"TBarNew=New | New Data File ",
                         "TBarOpen=Open | Open Data File",
                         "TBSave=Save| Save File",
                         "-",
                         "TBarCut=Cut|Cut To Clipboard ",
                         "TBarCopy=Copy| Copy To Clipboad",
                         "TBPaste=Paste|Paste From Clipboard",
                         "-",
                         "TBProcess=Convert |Convert Data To Chart",
                         "TBReplot=Replot|Refresh Plot",
                         "TBExport=Export|Export Chart",
                         "TBAxis=Axis|Edit Axis",
                         "TBTitles=Titles| Edit Titles",
                         "-",
                         "TBPrint=Print | Print",
                         "-",
                         "TBHelp=Help |Help ",
                         "TBAbout=About|Show AboutBox",
                         "-",
                         "ToolButton9=Exit| Exit Program"};
  QCOMPARE(got, want);
  QCOMPARE(rig.a("TBProcess")->text(), QStringLiteral("Process"));
  for (QAction *a : bar->actions())
    QVERIFY(a->isSeparator() || a->shortcut().isEmpty());
}

void CommandsTest::toolBarButtonsEachShowTheirOwnPicture() {
  // The pictures are drawn in code: every button has one with ink on it,
  // none is another's, and the frame has the program's own.
  Rig rig;
  auto *bar = rig.frame->findChild<QToolBar *>(QStringLiteral("ToolBar1"));
  QVERIFY(bar);
  std::vector<QImage> seen;
  for (QAction *a : bar->actions()) {
    if (a->isSeparator())
      continue;
    const QImage picture = a->icon().pixmap(bar->iconSize()).toImage();
    int inked = 0;
    for (int y = 0; y < picture.height(); ++y)
      for (int x = 0; x < picture.width(); ++x)
        inked += qAlpha(picture.pixel(x, y)) > 0 ? 1 : 0;
    QVERIFY2(inked > 20, qPrintable(a->objectName()));
    for (const QImage &other : seen)
      QVERIFY2(picture != other, qPrintable(a->objectName()));
    seen.push_back(picture);
  }
  QCOMPARE(seen.size(), std::size_t(15));
  QVERIFY(!rig.frame->windowIcon().isNull());
}

void CommandsTest::eachCommandReachesTheActiveChild_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<int>("message");
  QTest::addColumn<long long>("wparam");
  QTest::addColumn<long long>("lparam");
  const auto row = [](const char *n, int m, long long w, long long l) {
    QTest::newRow(n) << QString::fromLatin1(n) << m << w << l;
  };
  row("FileSaveItem", UM_SAVE, 0, 0);
  row("TBSave", UM_SAVE, 0, 0);
  row("FileSaveAsItem", UM_SAVEAS, 0, 0);
  row("CTxtFile", UM_PROCESS, 0, 0);
  row("TBProcess", UM_PROCESS, 0, 0);
  row("Labels1", UM_PROCESS, 1, 0);
  row("TBTitles", UM_PROCESS, 1, 0);
  row("Xaxis1", UM_PROCESS, 2, 0);
  row("TBAxis", UM_PROCESS, 2, 0);
  row("EditCutItem", UM_CUT, 0, 0);
  row("TBarCut", UM_CUT, 0, 0);
  row("EditCopyItem", UM_COPY, 0, 0);
  row("TBarCopy", UM_COPY, 0, 0);
  row("Information3", UM_COPY, 0, 0);
  row("EditPasteItem", UM_PASTE, 0, 0);
  row("TBPaste", UM_PASTE, 0, 0);
  row("EditUndoItem", UM_UNDO, 0, 0);
  row("TBSelectAll", UM_SELECTALL, 0, 0);
  row("TBWordWrap", UM_WORDWRAP, 0, 0);
  row("FileExport", UM_EXPORT, 0, 0);
  row("Export1", UM_EXPORT, 0, 0);
  row("TBExport", UM_EXPORT, 0, 0);
  row("FilePrintItem", UM_OUTPUT, 0, 0);
  row("TBPrint", UM_OUTPUT, 0, 0);
  row("ChartMCAsBitmap", UM_OUTPUT, 11, 11);
  row("ChartMCAsWMF", UM_OUTPUT, 12, 12);
  row("ChartMCAsEMF", UM_OUTPUT, 13, 13);
  row("ChartRAsBitmap", UM_OUTPUT, 21, 21);
  row("ChartRAsWMF", UM_OUTPUT, 22, 22);
  row("ChartRAsEMF", UM_OUTPUT, 23, 23);
  row("AsBitmap1", UM_OUTPUT, 11, 11);
  row("AsMetafileWMF1", UM_OUTPUT, 12, 12);
  row("AsMetafileEMF1", UM_OUTPUT, 13, 13);
  row("AsBitmap2", UM_OUTPUT, 21, 21);
  row("AsMetafileWMF2", UM_OUTPUT, 22, 22);
  row("AsMetafileEMF2", UM_OUTPUT, 23, 23);
  row("Information1", UM_OUTPUT, 30, 30);
  row("Replot", UM_OUTPUT, 102, 102);
  row("TBReplot", UM_OUTPUT, 102, 102);
  row("FileClose", UM_CLOSEREQUEST, 0, 0);
}

void CommandsTest::eachCommandReachesTheActiveChild() {
  QFETCH(QString, name);
  QFETCH(int, message);
  QFETCH(long long, wparam);
  QFETCH(long long, lparam);
  Rig rig;
  FakeChild *other = rig.add(FakeChild::Kind::Pad);
  FakeChild *active = rig.add(FakeChild::Kind::Plotter);
  active->acceptsClose = false;
  QAction *a = rig.frame->action(name);
  QVERIFY(a);
  a->setEnabled(true);
  a->trigger();
  settle();
  const auto got = commandsOnly(*active);
  QCOMPARE(got.size(), std::size_t(1));
  QCOMPARE(got[0].message, message);
  QCOMPARE(got[0].wparam, wparam);
  QCOMPARE(got[0].lparam, lparam);
  QVERIFY(commandsOnly(*other).empty());
}

void CommandsTest::postedCommandsRunAfterTheHandler() {
  Rig rig;
  FakeChild *child = rig.add(FakeChild::Kind::Pad);
  rig.a("FileSaveItem")->setEnabled(true);
  rig.a("EditCopyItem")->setEnabled(true);
  rig.a("FileSaveItem")->trigger();
  rig.a("EditCopyItem")->trigger();
  QVERIFY(commandsOnly(*child).empty()); // posted, not yet run
  settle();
  const auto got = commandsOnly(*child);
  QCOMPARE(got.size(), std::size_t(2));
  QCOMPARE(got[0].message, int(UM_SAVE)); // in posting order
  QCOMPARE(got[1].message, int(UM_COPY));
}

void CommandsTest::fileCloseIsSentAtOnce() {
  Rig rig;
  FakeChild *child = rig.add(FakeChild::Kind::Pad);
  child->acceptsClose = false;
  rig.a("FileClose")->setEnabled(true);
  rig.a("FileClose")->trigger();
  const auto got = commandsOnly(*child);
  QCOMPARE(got.size(), std::size_t(1)); // before any event processing
  QCOMPARE(got[0].message, int(UM_CLOSEREQUEST));
}

void CommandsTest::withoutAChildCommandsAreDroppedAndStatusTextsStillShow() {
  Rig rig;
  QVERIFY(!rig.frame->activeChild());
  for (QAction *a : rig.frame->findChildren<QAction *>()) {
    const QString n = a->objectName();
    // Everything that posts to a child; windows and dialogs are left out.
    if (n.startsWith(QLatin1String("Edit")) || n.startsWith(QLatin1String("Chart")) ||
        n.startsWith(QLatin1String("TB")) || n.startsWith(QLatin1String("As")) ||
        n == QLatin1String("FileSaveItem") || n == QLatin1String("FileClose") ||
        n == QLatin1String("FileExport") || n == QLatin1String("CTxtFile") ||
        n == QLatin1String("Replot") || n == QLatin1String("Information1")) {
      if (n == QLatin1String("TBHelp") || n == QLatin1String("TBAbout"))
        continue;
      a->setEnabled(true);
      a->trigger();
    }
  }
  settle();
  rig.a("EditCopyItem")->setEnabled(true);
  rig.a("EditCopyItem")->trigger();
  QCOMPARE(rig.frame->statusText(), QStringLiteral("Copied to the Clipboard"));
  QVERIFY(rig.frame->isVisible());
}

void CommandsTest::copyTextsAndPrintMarksInTheStatusLine() {
  Rig rig;
  rig.add(FakeChild::Kind::Plotter);
  struct Row {
    const char *action;
    const char *text;
  };
  const Row rows[] = {
      {"EditCutItem", "Cut to the Clipboard"},
      {"EditPasteItem", "Pasted to the Clipboard"},
      {"EditCopyItem", "Copied to the Clipboard"},
      {"ChartMCAsBitmap", "The main chart has been copied to the clipboard as a bitmap."},
      {"ChartMCAsWMF", "The main chart has been copied to the clipboard as a windows metafile."},
      {"AsMetafileEMF1", "The main chart has been copied to the clipboard as a enhanced metafile."},
      {"ChartRAsBitmap",
       "The deviations in the ordinates chart has been copied to the clipboard as a bitmap."},
      {"AsMetafileWMF2", "The deviations in the ordinates chart has been copied to the clipboard "
                         "as a windows metafile."},
      {"ChartRAsEMF", "The deviations in the ordinates chart has been copied to the clipboard "
                      "as a enhanced metafile."},
      {"WTPMainChart", "The Main Chart WILL NOT Be Printed On A Print Request"},
      {"WTPMainChart", "The Main Chart WILL Be Printed On A Print Request"},
      {"WTPResiduals",
       "The Deviations in the Ordinates Chart WILL NOT Be Printed On A Print Request"},
      {"WTPInformation", "Information on the fits WILL NOT Be Printed On A Print Request"},
      {"WTPInformation", "Information on the fits WILL Be Printed On A Print Request"},
  };
  for (const Row &r : rows) {
    rig.a(r.action)->setEnabled(true);
    rig.a(r.action)->trigger();
    QCOMPARE(rig.frame->statusText(), QString::fromLatin1(r.text));
  }
  QVERIFY(rig.a("WTPMainChart")->isChecked());
  QVERIFY(!rig.a("WTPResiduals")->isChecked());
  QVERIFY(rig.a("WTPInformation")->isChecked());
  // The Information item of the Chart menu sets no text.
  rig.frame->setStatusText(QStringLiteral("before"));
  rig.a("Information1")->setEnabled(true);
  rig.a("Information1")->trigger();
  QCOMPARE(rig.frame->statusText(), QStringLiteral("before"));
}

void CommandsTest::hintsGoToTheStatusLine() {
  Rig rig;
  // What a hovered control or menu item sends: its long hint.
  for (const char *n : {"TBarCopy", "FileOpenItem"}) {
    QStatusTipEvent tip(rig.a(n)->statusTip());
    QCoreApplication::sendEvent(rig.frame.get(), &tip);
    QCOMPARE(rig.frame->statusText(), rig.a(n)->statusTip());
  }
  QCOMPARE(rig.frame->statusText(), QStringLiteral("Open an existing file"));
  rig.a("EditCutItem")->setEnabled(true);
  rig.a("EditCutItem")->trigger();
  QCOMPARE(rig.frame->statusText(), QStringLiteral("Cut to the Clipboard"));
}

void CommandsTest::commandTextOutlivesTheMenuThatRanIt() {
  Rig rig;
  rig.frame->activateWindow();
  QMenu *edit = rig.frame->findChild<QMenu *>(QStringLiteral("EditMenu"));
  rig.frame->menuBar()->setActiveAction(edit->menuAction());
  QTRY_VERIFY(edit->isVisible());
  QAction *copy = rig.a("EditCopyItem");
  copy->setEnabled(true);
  const QPoint at = edit->actionGeometry(copy).center();
  QTest::mouseMove(edit, at);
  // Resting on the item shows its hint.
  QTRY_COMPARE(rig.frame->statusText(), QStringLiteral("Copy selected item to clipboard"));
  QTest::mouseClick(edit, Qt::LeftButton, {}, at);
  QTRY_VERIFY(!edit->isVisible());
  settle();
  QCOMPARE(rig.frame->statusText(), QStringLiteral("Copied to the Clipboard"));
}

void CommandsTest::timerWithoutChildDisablesTheDocumentCommands() {
  Rig rig;
  for (QAction *a : rig.frame->findChildren<QAction *>())
    a->setEnabled(true);
  rig.tick();
  for (const char *n :
       {"FileSaveItem", "FileSaveAsItem", "TBSave", "EditUndoItem", "EditCutItem", "EditCopyItem",
        "TBarCut", "TBarCopy", "EditPasteItem", "TBPaste", "TBWordWrap", "TBSelectAll", "CTxtFile",
        "Replot", "TBProcess", "TBReplot", "TBExport", "TBAxis", "TBTitles"})
    QVERIFY2(!rig.on(n), n);
  // Left as they were.
  for (const char *n :
       {"FileClose", "FileExport", "FilePrintItem", "TBPrint", "MenuChart", "CopytoClipBoard2"})
    QVERIFY2(rig.on(n), n);
  // Always on.
  for (const char *n : {"FileNewItem", "FileOpenItem", "FilePrintSetupItem", "Options1",
                        "FileExitItem", "WindowTileItem", "HelpAboutItem", "WTPMainChart"})
    QVERIFY2(rig.on(n), n);
}

void CommandsTest::padStatesItsCommands() {
  Rig rig;
  FakeChild *pad = rig.add(FakeChild::Kind::Pad);
  QApplication::clipboard()->clear();
  rig.tick();
  QVERIFY(rig.on("FileSaveItem") && rig.on("TBSave") && rig.on("FileClose"));
  QVERIFY(rig.on("EditUndoItem") && rig.on("TBPaste"));
  QVERIFY(!rig.on("EditCutItem") && !rig.on("EditCopyItem") && !rig.on("TBarCopy"));
  QVERIFY(!rig.on("EditPasteItem")); // nothing to paste
  QVERIFY(!rig.on("MenuChart") && !rig.on("TBExport") && !rig.on("FileExport"));
  pad->selection = true;
  QApplication::clipboard()->setText(QStringLiteral("1 2 3"));
  rig.tick();
  QVERIFY(rig.on("EditCutItem") && rig.on("EditCopyItem") && rig.on("TBarCut") &&
          rig.on("TBarCopy"));
  QVERIFY(rig.on("EditPasteItem"));
}

void CommandsTest::switchingPlotterToPadWithinOneTimerPeriod() {
  Rig rig(true);
  FakeChild *pad = rig.add(FakeChild::Kind::Pad);
  QMdiSubWindow *padWindow = rig.frame->mdiArea()->currentSubWindow();
  FakeChild *plotter = rig.add(FakeChild::Kind::Plotter);
  Q_UNUSED(plotter);
  QTRY_VERIFY_WITH_TIMEOUT(rig.on("MenuChart") && rig.on("TBPrint"), kPeriod);
  rig.frame->mdiArea()->setActiveSubWindow(padWindow);
  // The real 200 ms timer does the work.
  QTRY_VERIFY_WITH_TIMEOUT(!rig.on("MenuChart") && !rig.on("TBExport") && !rig.on("TBAxis") &&
                               !rig.on("TBTitles"),
                           kPeriod);
  QVERIFY(rig.on("TBPrint") && rig.on("FilePrintItem"));  // as the plotter left them
  QVERIFY(!rig.on("Labels1") && !rig.on("Information1")); // the whole menu is off
  QVERIFY(!pad->received(UM_UPDATEMENUS).empty());

  // From the log to a pad, print stays off.
  auto *logWindow = qobject_cast<QMdiSubWindow *>(rig.frame->log()->parentWidget());
  rig.frame->mdiArea()->setActiveSubWindow(logWindow);
  QTRY_VERIFY_WITH_TIMEOUT(!rig.on("TBPrint"), kPeriod);
  rig.frame->mdiArea()->setActiveSubWindow(padWindow);
  QTRY_VERIFY_WITH_TIMEOUT(rig.on("TBSave"), kPeriod);
  QVERIFY(!rig.on("TBPrint") && !rig.on("FilePrintItem"));
}

void CommandsTest::logAndTeachingPagesDisableEverything() {
  const char *off[] = {
      "FileSaveItem",  "FileSaveAsItem", "TBSave",        "FileClose",   "FileExport",
      "FilePrintItem", "TBPrint",        "EditUndoItem",  "EditCutItem", "EditCopyItem",
      "TBarCut",       "TBarCopy",       "EditPasteItem", "TBPaste",     "TBSelectAll",
      "TBWordWrap",    "CTxtFile",       "TBProcess",     "Replot",      "TBReplot",
      "TBExport",      "TBAxis",         "TBTitles",      "MenuChart",   "CopytoClipBoard2"};
  for (int which = 0; which < 2; ++which) {
    Rig rig(which == 0);
    if (which == 1)
      rig.frame->TeachingPages1Click();
    for (QAction *a : rig.frame->findChildren<QAction *>())
      a->setEnabled(true);
    rig.tick();
    for (const char *n : off)
      QVERIFY2(!rig.on(n), n);
    QVERIFY(rig.on("FileNewItem") && rig.on("WTPInformation"));
  }
}

void CommandsTest::chartMenuTakesItsShortcutsWithIt() {
  Rig rig;
  rig.add(FakeChild::Kind::Pad);
  rig.tick();
  // With a pad active Ctrl+C belongs to Edit Copy alone.
  QVERIFY(!rig.on("Information1"));
  QVERIFY(rig.on("WTPMainChart"));
  rig.add(FakeChild::Kind::Plotter);
  rig.tick();
  QVERIFY(rig.on("Information1") && !rig.on("EditCopyItem"));
}

void CommandsTest::updateAllGoesToEveryChildInOrder() {
  Rig rig(true);
  FakeChild *a = rig.add(FakeChild::Kind::Plotter);
  FakeChild *b = rig.add(FakeChild::Kind::Pad);
  std::vector<const FakeChild *> order;
  a->sequence = b->sequence = &order;
  SendCommand(rig.frame.get(), UM_UPDATEALL, 7, 7);
  for (FakeChild *c : {a, b}) {
    const auto got = c->received(UM_UPDATEALL);
    QCOMPARE(got.size(), std::size_t(1)); // sent: already there
    QCOMPARE(got[0].wparam, 7LL);
    QCOMPARE(got[0].lparam, 7LL);
  }
  QCOMPARE(order, (std::vector<const FakeChild *>{a, b})); // first child first
  // Disable-all from a teaching-pages window, posted to the frame.
  for (QAction *act : rig.frame->findChildren<QAction *>())
    act->setEnabled(true);
  PostCommand(rig.frame.get(), UM_DISABLEALL);
  QVERIFY(rig.on("TBSave"));
  settle();
  QVERIFY(!rig.on("TBSave") && !rig.on("MenuChart") && !rig.on("FileClose"));
}

void CommandsTest::refusingChildKeepsTheFrameOpenUntilItGoes() {
  Rig rig(true);
  QSignalSpy closed(rig.frame.get(), &TMainForm::frameClosed);
  FakeChild *keeps = rig.add(FakeChild::Kind::Pad);
  keeps->acceptsClose = false;
  FakeChild *goes = rig.add(FakeChild::Kind::Plotter);
  QPointer<FakeChild> goesAlive(goes);
  QVERIFY(!rig.frame->close());
  QVERIFY(rig.frame->closing());
  QCOMPARE(keeps->received(UM_CLOSEREQUEST).size(), std::size_t(1));
  QCOMPARE(goes->received(UM_CLOSEREQUEST).size(), std::size_t(1));
  QTRY_VERIFY(!goesAlive);
  QTest::qWait(450); // two ticks: the kept pad holds the frame open
  QVERIFY(rig.frame->isVisible());
  QCOMPARE(closed.count(), 0);
  QVERIFY(rig.frame->log()); // the log refused

  // The user closes the pad later: the program ends by itself.
  keeps->acceptsClose = true;
  rig.frame->mdiArea()->setActiveSubWindow(qobject_cast<QMdiSubWindow *>(keeps->parentWidget()));
  rig.frame->FileCloseClick();
  QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, kPeriod);
  QVERIFY(!rig.frame->isVisible());
}

void CommandsTest::frameEndsWithinATimerPeriodOfTheLastChild() {
  Rig rig(true);
  QSignalSpy closed(rig.frame.get(), &TMainForm::frameClosed);
  rig.add(FakeChild::Kind::Pad);
  rig.add(FakeChild::Kind::Pad);
  rig.add(FakeChild::Kind::Plotter);
  rig.frame->TeachingPages1Click();
  QElapsedTimer t;
  t.start();
  rig.frame->FileExit();
  QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, kPeriod);
  QVERIFY(t.elapsed() < kPeriod);
  QCOMPARE(rig.frame->childWindows().size(), std::size_t(1)); // the log stays to the end
}

void CommandsTest::fileOpenLoadsAPadOrLogsFileNotFound() {
  Rig rig(true);
  struct Made {
    QString file;
    QString text;
  };
  std::vector<Made> made;
  rig.frame->setPadFactory([&made](FrameApi &f, const QString &file, const QString &text) {
    made.push_back({file, text});
    auto *pad = new FakeChild(f, FakeChild::Kind::Pad);
    pad->setWindowTitle(file);
    return pad;
  });
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("pendulum.txt"));
  {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("x y dy\n1 2.5 0.1\nL\xc3\xa4nge\n");
  }
  // Cancel: nothing.
  rig.dialogs.fake.openAnswer.clear();
  rig.frame->FileOpen();
  QVERIFY(made.empty());
  // A file: a pad with its name and text, the active child.
  rig.dialogs.fake.openAnswer = path;
  rig.frame->FileOpen();
  QCOMPARE(made.size(), std::size_t(1));
  QCOMPARE(made[0].file, path);
  QCOMPARE(made[0].text, QString::fromUtf8("x y dy\n1 2.5 0.1\nL\xc3\xa4nge\n"));
  QCOMPARE(rig.frame->mdiArea()->currentSubWindow()->windowTitle(), path);
  // A file gone between the choice and the load: the log says so.
  settle();
  const int before = rig.frame->log()->lines().size();
  const int beeps = rig.beeps.count;
  rig.dialogs.fake.openAnswer = dir.filePath(QStringLiteral("vanished.txt"));
  rig.frame->FileOpen();
  settle();
  QCOMPARE(made.size(), std::size_t(1));
  // What happened to the name, then the frame's message.
  QCOMPARE(rig.frame->log()->lines().size(), before + 2);
  QVERIFY(rig.frame->log()->lines()[before].endsWith(QStringLiteral(" - ") +
                                                     dir.filePath(QStringLiteral("vanished.txt")) +
                                                     QStringLiteral(" does not exist")));
  QVERIFY(rig.frame->log()->lines().last().endsWith(QStringLiteral(" - File Not Found!")));
  QCOMPARE(rig.beeps.count, beeps + 1);
  // The batch command's reader: a byte-order mark is not part of the text.
  const QString marked = dir.filePath(QStringLiteral("marked.txt"));
  {
    QFile f(marked);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("\xef\xbb\xbf"
            "1 2 0.1 a\n");
  }
  rig.dialogs.fake.openAnswer = marked;
  rig.frame->FileOpen();
  QCOMPARE(made.size(), std::size_t(2));
  QCOMPARE(made[1].text, QStringLiteral("1 2 0.1 a\n"));
  // A FIFO is not opened (that would wait for a writer for ever).
  const QString fifo = dir.filePath(QStringLiteral("pipe.txt"));
  QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  rig.dialogs.fake.openAnswer = fifo;
  rig.frame->FileOpen();
  settle();
  QCOMPARE(made.size(), std::size_t(2));
  QCOMPARE(rig.beeps.count, beeps + 2);
}

void CommandsTest::fileNewUsesThePadFactory() {
  Rig rig;
  rig.frame->FileNew(); // no factory yet: nothing
  QVERIFY(rig.frame->childWindows().empty());
  int calls = 0;
  rig.frame->setPadFactory([&calls](FrameApi &f, const QString &file, const QString &text) {
    ++calls;
    if (!file.isEmpty() || !text.isEmpty())
      qFatal("a new pad has no file and no text");
    return new FakeChild(f, FakeChild::Kind::Pad);
  });
  rig.a("FileNewItem")->trigger();
  rig.a("TBarNew")->trigger();
  QCOMPARE(calls, 2);
  QCOMPARE(rig.frame->childWindows().size(), std::size_t(2));
  QCOMPARE(rig.frame->activeChild(), rig.frame->childWindows().back());
}

void CommandsTest::anExceptionEndsOnlyItsCommand() {
  Rig rig;
  FakeChild *child = rig.add(FakeChild::Kind::Pad);
  child->throwOn = true;
  rig.a("FileSaveItem")->setEnabled(true);
  rig.a("FileSaveItem")->trigger();
  rig.a("EditCopyItem")->setEnabled(true);
  rig.a("EditCopyItem")->trigger();
  settle();
  QCOMPARE(rig.dialogs.fake.messages.size(), std::size_t(1));
  QCOMPARE(rig.dialogs.fake.messages[0].text, QStringLiteral("the save failed on purpose"));
  // The next command still arrived.
  QCOMPARE(child->received(UM_COPY).size(), std::size_t(1));
}

void CommandsTest::teachingPagesOpenAWindowEachTime() {
  QTemporaryDir lessons;
  QDir(lessons.path()).mkpath(QStringLiteral("lessonbase"));
  {
    QFile page(lessons.filePath(QStringLiteral("lessonbase/index.htm")));
    QVERIFY(page.open(QIODevice::WriteOnly));
    page.write("<html><body><h1>Week 3: the pendulum</h1><a href=\"week4.htm\">next</a> "
               "<a href=\"https://example.org/lab\">web</a></body></html>");
    QFile next(lessons.filePath(QStringLiteral("lessonbase/week4.htm")));
    QVERIFY(next.open(QIODevice::WriteOnly));
    next.write("<html><body><h1>Week 4: springs</h1></body></html>");
  }
  qputenv("ORVALLE_LESSONBASE", lessons.path().toLocal8Bit());
  Rig rig;
  qunsetenv("ORVALLE_LESSONBASE");
  QVERIFY(rig.frame->lessonPagesFound());
  rig.a("TeachingPages1")->trigger();
  rig.a("TeachingPages1")->trigger();
  const auto teach = rig.frame->findChildren<TTeachForm *>();
  QCOMPARE(teach.size(), qsizetype(2));
  QCOMPARE(teach[0]->windowTitle(), QStringLiteral("Teaching Pages"));
  QVERIFY(teach[0]->WebBrowser()->toPlainText().contains(QStringLiteral("Week 3: the pendulum")));
  // A local link opens here, a web link in the desktop's browser.
  UrlCatcher browser;
  QDesktopServices::setUrlHandler(QStringLiteral("https"), &browser, "open");
  emit teach[0]->WebBrowser()->anchorClicked(QUrl(QStringLiteral("https://example.org/lab")));
  QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
  QCOMPARE(browser.urls, QList<QUrl>{QUrl(QStringLiteral("https://example.org/lab"))});
  QVERIFY(teach[0]->WebBrowser()->toPlainText().contains(QStringLiteral("Week 3")));
  emit teach[0]->WebBrowser()->anchorClicked(QUrl(QStringLiteral("week4.htm")));
  QVERIFY(teach[0]->WebBrowser()->toPlainText().contains(QStringLiteral("Week 4: springs")));
  // While it is active the document commands go off.
  for (QAction *a : rig.frame->findChildren<QAction *>())
    a->setEnabled(true);
  rig.tick();
  QVERIFY(!rig.on("TBSave") && !rig.on("MenuChart") && !rig.on("FileClose"));
  // Its close request closes it.
  QPointer<TTeachForm> first(teach[0]);
  SendCommand(first, UM_CLOSEREQUEST);
  QTRY_VERIFY(!first);

  // A folder without its index page: the window says which page is missing.
  QFile::remove(lessons.filePath(QStringLiteral("lessonbase/index.htm")));
  rig.frame->TeachingPages1Click();
  const auto third = rig.frame->findChildren<TTeachForm *>().last();
  QVERIFY(third->WebBrowser()->toPlainText().contains(QStringLiteral("was not found")));

  // Without the folder the window says where it looked.
  qputenv("ORVALLE_LESSONBASE", (lessons.path() + QStringLiteral("/missing")).toLocal8Bit());
  Rig bare;
  qunsetenv("ORVALLE_LESSONBASE");
  QVERIFY(!bare.frame->lessonPagesFound());
  bare.frame->TeachingPages1Click();
  auto *shown = bare.frame->findChild<TTeachForm *>();
  QVERIFY(shown->WebBrowser()->toPlainText().contains(QStringLiteral("lessonbase/index.htm")));

  // With the service's address set, its page opens in the desktop's browser.
  qputenv("ORVALLE_LESSONURL", "https://lab.example.edu/lessons/");
  UrlCatcher service;
  QDesktopServices::setUrlHandler(QStringLiteral("https"), &service, "open");
  bare.frame->TeachingPages1Click();
  QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
  qunsetenv("ORVALLE_LESSONURL");
  QCOMPARE(service.urls, QList<QUrl>{QUrl(QStringLiteral("https://lab.example.edu/lessons/"))});
  QCOMPARE(bare.frame->findChildren<TTeachForm *>().size(), qsizetype(1));
}

void CommandsTest::printSetupAndArrangeIcons() {
  Rig rig;
  rig.a("FilePrintSetupItem")->trigger();
  QCOMPARE(rig.dialogs.fake.pageSetups, 1);
  QVERIFY(rig.frame->printer());
  FakeChild *a = rig.add(FakeChild::Kind::Pad);
  FakeChild *b = rig.add(FakeChild::Kind::Pad);
  for (FakeChild *c : {a, b})
    qobject_cast<QMdiSubWindow *>(c->parentWidget())->showMinimized();
  rig.a("WindowArrangeItem")->trigger();
  const QRect area = rig.frame->mdiArea()->viewport()->rect();
  const QRect ga = a->parentWidget()->geometry();
  const QRect gb = b->parentWidget()->geometry();
  QCOMPARE(ga.bottom(), area.bottom());
  QCOMPARE(gb.bottom(), area.bottom());
  QCOMPARE(ga.left(), 0);
  QCOMPARE(gb.left(), ga.right() + 1);
}

void CommandsTest::windowMenuListsTheChildren() {
  Rig rig(true);
  FakeChild *pad = rig.add(FakeChild::Kind::Pad);
  rig.add(FakeChild::Kind::Plotter);
  QMenu *window = rig.frame->findChild<QMenu *>(QStringLiteral("WindowMenu"));
  const auto items = [window] {
    QStringList out;
    for (QAction *a : window->actions())
      out << (a->isSeparator() ? QStringLiteral("-")
                               : a->text() + (a->isChecked() ? QStringLiteral("*") : QString()));
    return out;
  };
  emit window->aboutToShow();
  QCOMPARE(items(), (QStringList{"&Tile", "&Cascade", "&Arrange All", "-", "&1 Log", "&2 ScatchPad",
                                 "&3 Plotter*"}));
  // Choosing an entry brings that window forward; the list follows closes.
  window->actions().at(5)->trigger();
  QCOMPARE(rig.frame->activeChild(), pad);
  QPointer<FakeChild> gone(pad);
  pad->closeChild();
  QTRY_VERIFY(!gone);
  emit window->aboutToShow();
  QCOMPARE(items(),
           (QStringList{"&Tile", "&Cascade", "&Arrange All", "-", "&1 Log", "&2 Plotter*"}));
}

QTEST_MAIN(CommandsTest)
#include "commands_test.moc"
