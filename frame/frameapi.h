// What a child window sees of the frame: the commands it enables, the log,
// the status line, the settings the children read, the shared printer and
// the plug-in library. TMainForm implements it; tests may use a fake.
#pragma once

#include <QAction>
#include <QString>
#include <memory>

#include "engine/logchannel.h"

class QMenu;
class QMdiSubWindow;
class QPrinter;
class QWidget;

namespace orvalle {

struct PluginLibrary;

// The frame commands whose state the active child sets (named as in the menus).
enum class Cmd {
  FileSaveItem,
  FileSaveAsItem,
  TBSave,
  FileClose,
  FileExport,
  FilePrintItem,
  TBPrint,
  EditUndoItem,
  EditCutItem,
  EditCopyItem,
  EditPasteItem,
  TBarCut,
  TBarCopy,
  TBPaste,
  TBSelectAll,
  TBWordWrap,
  CTxtFile,
  TBProcess,
  Replot,
  TBReplot,
  TBExport,
  TBAxis,
  TBTitles,
  MenuChart,
  CopytoClipBoard2,
  WTPMainChart,
  WTPResiduals,
  WTPInformation,
};

// The kind codes of LogEvent (the wParam of UM_LOGLINE): which line the log
// builds. Any code not listed is logged like kLogPlain.
enum LogKind : int {
  kLogPlain = 0,               // the time, " - " and the text: every ordinary entry
  kLogStarted = 1,             // the start line, logged once by the log itself
  kLogClosing = 99,            // no sender in the program
  kLogPadOpened = 100,         // no sender in the program
  kLogZeroYError = 102,        // a y error not above 0; the log writes the text
  kLogPadClosed = 199,         // no sender in the program
  kLogPlotterOpened = 200,     // no sender in the program
  kLogPlotterClosed = 299,     // no sender in the program
  kLogEngine = kEngineLogKind, // the fit engine's pending message
  kLogPlugin = kPluginLogKind, // the plug-in library's message
};

class MdiChild;

class FrameApi {
public:
  virtual ~FrameApi() = default;

  // The action (or, for MenuChart and CopytoClipBoard2, the menu's action).
  virtual QAction *command(Cmd c) = 0;
  void enable(Cmd c, bool on);
  virtual void SetEditItems(bool undoAllowed, bool selectionPresent) = 0;
  virtual void LogEvent(int kind, bool error, const QString &text) = 0;
  virtual void setStatusText(const QString &text) = 0;
  // Long work: a progress bar (percent from 0 to 100) with a text in the
  // status line, until endProgress(). See LongWork.
  virtual void showProgress(const QString &text, int percent) {
    (void)text;
    (void)percent;
  }
  virtual void endProgress() {}

  // Adds a child window to the frame; it becomes the active child.
  virtual QMdiSubWindow *addChild(QWidget *child) = 0;
  // A new plotter (a ChartChild, frame/chartchild.h), not yet added; made
  // by the factory the program gives the frame.
  virtual std::unique_ptr<MdiChild> makePlotter() = 0;

  // Settings, as read at start-up or changed by Preferences.
  virtual bool invmatr() const = 0;    // true: Gaussian elimination
  virtual bool samplefits() const = 0; // offer the sample trend types
  virtual QString openDir() const = 0; // initial folder of file dialogs

  // The printer shared by the print dialog of every child.
  virtual QPrinter *printer() = 0;
  // The bound plug-in library, or null when there is none.
  virtual const PluginLibrary *plugin() const = 0;
};

inline void FrameApi::enable(Cmd c, bool on) {
  if (QAction *a = command(c))
    a->setEnabled(on);
}

} // namespace orvalle
