// Project files in the frame: "Save Project..." keeps the active plotter's
// work in a file, "Open Project..." (and a project named on the command
// line or dropped) makes a plotter of it again.
#include <QFile>
#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <memory>

#include "engine/project.h"
#include "frame/application.h"
#include "frame/chartchild.h"
#include "frame/dialogs.h"
#include "frame/mainform.h"

namespace orvalle {

namespace {

const char *const kProjectFilter = "Orvalle Project (*.orvp);;All Files (*)";

} // namespace

void TMainForm::BuildProjectItems(QMenu *file) {
  // After "Save As...", before "Close"; the menu's own items stay as they are.
  QAction *before = action(QStringLiteral("FileClose"));
  QAction *open = makeAction(nullptr, "FileOpenProjectItem", QStringLiteral("Open Pro&ject..."),
                             QKeySequence(QStringLiteral("Ctrl+Alt+O")),
                             QStringLiteral("Open a saved plotter with its datasets and fits"),
                             &TMainForm::FileOpenProject);
  QAction *save = makeAction(nullptr, "FileSaveProjectItem", QStringLiteral("Save Pro&ject..."),
                             QKeySequence(QStringLiteral("Ctrl+Shift+S")),
                             QStringLiteral("Save the plotter's data, datasets, fits and chart "
                                            "settings as a project file"),
                             &TMainForm::FileSaveProject);
  file->insertAction(before, open);
  file->insertAction(before, save);
  // Saving needs a plotter in front.
  save->setEnabled(false);
  connect(MdiArea_, &QMdiArea::subWindowActivated, save,
          [save](QMdiSubWindow *sub) { save->setEnabled(sub && chartChild(sub->widget())); });
}

void TMainForm::FileSaveProject() {
  try {
    ChartChild *plot = chartChild(activeChild());
    if (!plot) {
      setStatusText(QStringLiteral("Save Project keeps the work of a plotter: bring a plotter "
                                   "to the front first"));
      return;
    }
    QString suggestion = plot->projectFile();
    if (suggestion.isEmpty()) {
      const QFileInfo source(plot->sourceFile());
      suggestion = plot->sourceFile().isEmpty()
                       ? QStringLiteral("project.orvp")
                       : source.absolutePath() + QLatin1Char('/') + source.completeBaseName() +
                             QStringLiteral(".orvp");
    }
    const QString file = Dialogs::get().saveFile(this, QStringLiteral("Save Project"), suggestion,
                                                 QLatin1String(kProjectFilter), nullptr);
    if (file.isEmpty())
      return;
    try {
      plot->SaveProject(file);
    } catch (const std::exception &e) {
      LogEvent(kLogPlain, true,
               QStringLiteral("The project could not be saved to %1: %2")
                   .arg(file, QString::fromStdString(e.what())));
      return;
    }
    LogEvent(kLogPlain, false, QStringLiteral("Project saved to ") + file);
    setStatusText(QStringLiteral("Project saved to ") + file);
  } catch (...) {
    ReportCurrentException();
  }
}

void TMainForm::FileOpenProject() {
  try {
    const QString file = Dialogs::get().openFile(this, QStringLiteral("Open Project"), openDir(),
                                                 QLatin1String(kProjectFilter));
    if (!file.isEmpty())
      OpenProject(file);
  } catch (...) {
    ReportCurrentException();
  }
}

std::unique_ptr<MdiChild> TMainForm::makePlotter() {
  return plotterFactory_ ? plotterFactory_(*this) : nullptr;
}

QWidget *TMainForm::OpenProject(const QString &file) {
  const auto refuse = [&](const QString &why) -> QWidget * {
    LogEvent(kLogPlain, true, QStringLiteral("The project %1 cannot be opened: %2").arg(file, why));
    return nullptr;
  };
  const QString whyNot = WhyNotAFile(file);
  if (!whyNot.isEmpty())
    return refuse(whyNot);
  try {
    const project::model m = project::readfile(QFile::encodeName(file).toStdString());
    // Made whole before the frame shows it: a plotter that fails on the
    // way is discarded.
    std::unique_ptr<MdiChild> made = makePlotter();
    ChartChild *plot = chartChild(made.get());
    if (!plot)
      return refuse(QStringLiteral("the program makes no plotters"));
    plot->OpenProjectModel(m);
    plot->setProjectFile(file);
    QWidget *shown = made.get();
    addChild(made.release()); // the frame owns its children
    plot->setUnsaved(false);
    plot->TrackBarChange();
    LogEvent(kLogPlain, false, QStringLiteral("Project opened from ") + file);
    return shown;
  } catch (const std::exception &e) {
    return refuse(QString::fromStdString(e.what()));
  } catch (...) {
    return refuse(QStringLiteral("an unexpected failure"));
  }
}

} // namespace orvalle
