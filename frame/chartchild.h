// The frame's view of a plotter: what the scratch pad and the project
// commands ask of one. The frame and the pad make plotters through a
// factory they are given (FrameApi::makePlotter), so that nothing under
// frame/ includes the plotter's own headers.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>

#include "datatext/conversion.h"
#include "engine/project.h"

namespace orvalle {

class FrameApi;
class MdiChild;

class ChartChild {
public:
  virtual ~ChartChild() = default;

  // The hand-over of a conversion (the scratch pad's Convert command):
  // the column names shown beside the column letters, then the result.
  virtual void setColumnTitles(const QStringList &titles) = 0;
  virtual void takeConversion(ConversionResult &r) = 0;
  virtual void TrackBarChange() = 0;

  // Projects: made again from a model, saved to a file (throws with the
  // reason), the file last saved or opened, the data file it came from.
  virtual void OpenProjectModel(const project::model &m) = 0;
  virtual void SaveProject(const QString &fileName) = 0;
  virtual void setUnsaved(bool on) = 0;
  virtual QString projectFile() const = 0;
  virtual void setProjectFile(const QString &file) = 0;
  virtual QString sourceFile() const = 0;
};

// A new plotter for a frame, not yet added to it.
using PlotterFactory = std::function<std::unique_ptr<MdiChild>(FrameApi &)>;

// The plotter a child window is, or null.
inline ChartChild *chartChild(QWidget *w) { return dynamic_cast<ChartChild *>(w); }

} // namespace orvalle
