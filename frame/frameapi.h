// What a child window sees of the frame: the commands it enables, the log,
// the status line, the settings the children read, the shared printer and
// the plug-in library. TMainForm implements it; tests may use a fake.
#pragma once

#include <QAction>
#include <QString>

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

class FrameApi {
public:
  virtual ~FrameApi() = default;

  // The action (or, for MenuChart and CopytoClipBoard2, the menu's action).
  virtual QAction *command(Cmd c) = 0;
  void enable(Cmd c, bool on);
  virtual void SetEditItems(bool undoAllowed, bool selectionPresent) = 0;
  virtual void LogEvent(int kind, bool error, const QString &text) = 0;
  virtual void setStatusText(const QString &text) = 0;

  // Adds a child window to the frame; it becomes the active child.
  virtual QMdiSubWindow *addChild(QWidget *child) = 0;

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
