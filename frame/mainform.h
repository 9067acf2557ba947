// The frame: the program's main window, a multiple-document frame whose
// menus and tool buttons become numbered command messages to the active
// child. Every 200 ms the active child is asked to state the commands.
#pragma once

#include <QLibrary>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "engine/customfit.h"
#include "frame/chartchild.h"
#include "frame/frameapi.h"
#include "frame/log.h"
#include "frame/mdichild.h"

class QMdiArea;
class QMenu;
class QProgressBar;
class QStatusBar;
class QSystemTrayIcon;
class QToolBar;

namespace orvalle {

class TAboutBox;
class THelpWindow;

// Why file is not a regular file that File Open can read: what the name is
// (a folder, a named pipe, a device, a symbolic link loop, missing) with
// its full path; empty when it is one.
QString WhyNotAFile(const QString &file);

class TMainForm : public QMainWindow, public FrameApi {
  Q_OBJECT
public:
  using PadFactory =
      std::function<MdiChild *(FrameApi &, const QString &fileName, const QString &text)>;

  // Builds the frame and reads (or creates) the settings. When the settings
  // are damaged the error has been shown and the key deleted by the time the
  // constructor returns, and startFailed() is true: the program must end.
  explicit TMainForm(QWidget *parent = nullptr);
  ~TMainForm() override;

  bool startFailed() const { return startFailed_; }
  void setPadFactory(PadFactory factory) { padFactory_ = std::move(factory); }
  // Makes a pad holding a file, read by the pad itself in parts (so the
  // whole text is never held twice), and adds it to the frame; throws as
  // readdatatext does. When set, OpenFile uses it rather than the pad
  // factory.
  using FilePadFactory = std::function<MdiChild *(FrameApi &, const QString &fileName)>;
  void setFilePadFactory(FilePadFactory factory) { filePadFactory_ = std::move(factory); }
  // Makes a pad holding a table imported from a file and adds it to the
  // frame; throws tableerror for a table it refuses, as readdatatext for a
  // file it cannot read. Import Table needs it.
  void setTablePadFactory(FilePadFactory factory) { tablePadFactory_ = std::move(factory); }
  // Makes the plotters of Convert and Open Project.
  void setPlotterFactory(PlotterFactory factory) { plotterFactory_ = std::move(factory); }
  std::unique_ptr<MdiChild> makePlotter() override;

  // Start-up steps after the frame: the log window, then the About box.
  TLog *CreateLog();
  TAboutBox *CreateAboutBox();
  TLog *log() const { return log_; }
  TAboutBox *aboutBox() const { return aboutBox_; }

  // FrameApi
  QAction *command(Cmd c) override;
  void SetEditItems(bool undoAllowed, bool selectionPresent) override;
  void LogEvent(int kind, bool error, const QString &text) override;
  void setStatusText(const QString &text) override;
  void showProgress(const QString &text, int percent) override;
  void endProgress() override;
  QMdiSubWindow *addChild(QWidget *child) override;
  bool invmatr() const override { return invmatr_; }
  bool samplefits() const override { return samplefits_; }
  QString openDir() const override { return openDir_; }
  QPrinter *printer() override;
  const PluginLibrary *plugin() const override { return plugin_ ? &*plugin_ : nullptr; }

  // The settings as read at start-up (Preferences changes some of them).
  bool initdirbool() const { return initdirbool_; }
  quint32 timesrun() const { return timesrun_; }
  double lastrun() const { return lastrun_; }
  float upchi() const { return upchi_; }
  float lowchi() const { return lowchi_; }
  bool isbasic() const { return isbasic_; }
  bool trayicon() const { return trayicon_; }
  QString userName() const { return userName_; }
  bool lessonPagesFound() const { return lessonFound_; }
  QString lessonPage() const;

  void SetInitDir(bool enabled);
  void SetInvMatr(bool value);
  void setSamplefits(bool on) { samplefits_ = on; }
  void setOpenDir(const QString &dir) { openDir_ = dir; }
  // Whether the notification-area icon is meant to be shown (it is shown
  // only where the desktop has a tray).
  bool trayIconShown() const { return trayShown_; }
  void setTrayIconShown(bool on);

  bool closing() const { return closing_; }
  QMdiArea *mdiArea() const { return MdiArea_; }
  // The active child's widget, or null.
  QWidget *activeChild() const;
  // The visible child windows' widgets, first created first.
  std::vector<QWidget *> childWindows() const;
  QAction *action(const QString &name) const;
  QMenu *trayPopup() const { return TaryPopup_; }
  QStatusBar *statusLine() const;
  QString statusText() const;

  // Opens a text file in a new scratch pad, as File Open does after its
  // dialog; a missing or unreadable file is logged and no pad opens.
  void OpenFile(const QString &file);
  // Logs what a name that is no regular file is, then "File Not Found!";
  // returns whether it refused the name.
  bool RefuseNotAFile(const QString &file);
  // Imports a table (CSV, TSV) into a new scratch pad, as Import Table
  // does after its dialog; a table that is refused, missing or unreadable
  // is logged and no pad opens.
  void ImportTable(const QString &file);
  // For each name in turn (the command line, dropped files): a project
  // file, known by its content, opens as a plotter; a table that the pad's
  // conversion cannot read as it is (judged by its content) goes to
  // ImportTable; anything else to OpenFile.
  void OpenFiles(const QStringList &files);
  // Opens a project file as a new plotter, every fit fitted again; a file
  // that cannot be read or made is logged, with nothing opened. Returns
  // the plotter, or null.
  QWidget *OpenProject(const QString &file);
  // Puts a file just opened first in File's list of recent files (and in
  // the settings key); a failed write is a line in the log.
  void NoteRecentFile(const QString &file);
  // File's "Recent Files" menu, filled afresh each time it opens.
  QMenu *recentFilesMenu() const { return RecentFilesMenu_; }

public slots:
  void FileNew();
  void FileOpen();
  void FileImport();
  void FileSave();
  void FileSaveAs();
  void FileCloseClick();
  void FileExportClick();
  void FilePrint();
  void FilePrintSetup();
  void Options1Click();
  void FileExit();
  // "Save Project..." and "Open Project..." (mainform_project.cpp).
  void FileSaveProject();
  void FileOpenProject();
  void EditUndo();
  void EditCut();
  void EditCopy();
  void EditPaste();
  void TBSelectAllClick();
  void TBWordWrapClick();
  void CTxtFileClick();
  void TBProcessClick();
  void ReplotClick();
  void TBReplotClick();
  void Labels1Click();
  void Xaxis1Click();
  void Export1Click();
  void ChartMCAsBitmapClick();
  void ChartMCAsWMFClick();
  void ChartMCAsEMFClick();
  void ChartRAsBitmapClick();
  void ChartRAsWMFClick();
  void ChartRAsEMFClick();
  void Information1Click();
  void WTPMainChartClick();
  void WTPResidualsClick();
  void WTPInformationClick();
  void WindowTile();
  void WindowCascade();
  void WindowArrange();
  void HelpContents();
  void HelpSearch();
  void HelpHowToUse();
  void TeachingPages1Click();
  void HelpAbout();
  void TrayRestoreClick();
  void TrayMinimizeClick();
  void TrayMaximizeClick();
  void TrayExitClick();

  void TimerTick();
  void UpdateEveryOne(long long code);
  void DisableChildCommands();

signals:
  // The close was accepted: the program ends.
  void frameClosed();

protected:
  bool event(QEvent *e) override;
  void closeEvent(QCloseEvent *e) override;
  void changeEvent(QEvent *e) override;
  void dragEnterEvent(QDragEnterEvent *e) override;
  void dropEvent(QDropEvent *e) override;

private:
  // Moves (and where it can, shrinks) a child back inside the MDI area.
  void KeepInsideArea(QMdiSubWindow *sub);
  // mainform_open.cpp: the recent files
  void BuildRecentFilesMenu(QMenu *file);
  void FillRecentFilesMenu();
  void StoreRecentFiles(const QStringList &files);
  // mainform_build.cpp
  void BuildMenus();
  // The project commands in the File menu, after "Save As...".
  void BuildProjectItems(QMenu *file);
  void BuildToolBar();
  void BuildTray();
  QAction *makeAction(QMenu *menu, const char *name, const QString &caption,
                      const QKeySequence &shortcut, const QString &hint,
                      void (TMainForm::*handler)());
  QAction *makeButton(const char *name, const QString &hint, const QString &iconName,
                      void (TMainForm::*handler)());
  void RebuildWindowList();

  // mainform_settings.cpp
  void ReadSettings();
  // Steps 4 to 6 of the construction, after the settings.
  void FinishStart();
  // The values of a first run, kept in the frame only.
  void UseFirstRunValues();
  void SettingsFailure(const QString &text);
  // A damaged key: deleted, and the program ends (false); or, when it
  // cannot be deleted, said so, and the program goes on (true).
  bool SettingsErrorPath();
  void SettingsNotWritten(const QString &why, bool firstRun);
  void BindPlugin();

  void Post(int message, long long wparam = 0, long long lparam = 0);
  void OpenPad(const QString &fileName, const QString &text);
  THelpWindow *helpWindow();
  void RestoreFromTray();

  QMdiArea *MdiArea_ = nullptr;
  QToolBar *ToolBar1_ = nullptr;
  QMenu *MenuChart_ = nullptr;
  QMenu *WindowMenu_ = nullptr;
  QMenu *RecentFilesMenu_ = nullptr;
  QMenu *TaryPopup_ = nullptr;
  QMenu *CopytoClipBoard2_ = nullptr;
  QSystemTrayIcon *TrayIcon_ = nullptr;
  std::map<Cmd, QAction *> commands_;
  std::vector<QAction *> chartItems_;
  std::vector<QAction *> windowListActions_;
  QTimer menuTimer_;
  std::unique_ptr<QPrinter> printer_;
  QProgressBar *progress_ = nullptr; // in the status line, made when first needed
  QPointer<THelpWindow> help_;
  QPointer<TLog> log_;
  TAboutBox *aboutBox_ = nullptr;
  PadFactory padFactory_;
  FilePadFactory filePadFactory_;
  FilePadFactory tablePadFactory_;
  PlotterFactory plotterFactory_;

  // Log requests made before the log exists; handed over when it is created.
  struct PendingLine {
    int kind;
    bool error;
    QString text;
  };
  std::vector<PendingLine> earlyLines_;

  QLibrary pluginFile_;
  std::optional<PluginLibrary> plugin_;

  bool closing_ = false;
  bool startFailed_ = false;
  bool constructing_ = true;
  bool trayShown_ = true;

  // Settings fields.
  bool initdirbool_ = false;
  bool invmatr_ = true;
  quint32 timesrun_ = 0;
  float upchi_ = 0;
  float lowchi_ = 0;
  double lastrun_ = 0;
  bool isbasic_ = false;
  bool samplefits_ = false;
  bool trayicon_ = false;
  QString userName_;
  QString openDir_;
  QString lessonFolder_;
  bool lessonFound_ = false;
};

} // namespace orvalle
