// What the picture tools share: a plotter made from data text lines as the
// scratch pad's Convert makes it, and a picture of it taken once its charts
// have settled.
#pragma once

#include <QApplication>
#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "plotter/tfit.h"
#include "tests/plotter/plotterfixture.h"

namespace orvalle::shot {

// A plotter from the lines; a text that does not convert ends the tool.
inline std::unique_ptr<TFit> plotter(FrameApi &frame, const std::vector<std::string> &lines,
                                     const std::string &file) {
  auto fit = test::makePlotter(frame, lines, file);
  if (!fit)
    qFatal("conversion failed for %s", file.c_str());
  return fit;
}

// Saves the plotter as it is shown. The second redraw lines the deviations
// chart up with the main chart after the first has laid them out.
inline void save(TFit &fit, const QString &path) {
  for (int pass = 0; pass < 2; ++pass) {
    fit.UpdateFrameCommands();
    fit.RedrawCharts();
    QApplication::processEvents();
  }
  fit.grab().save(path);
  qInfo("saved %s (%dx%d)", qPrintable(path), fit.width(), fit.height());
}

} // namespace orvalle::shot
