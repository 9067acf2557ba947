// A chart of the plotter's on its own, for the tests of the series drawn on
// it: made, its series reached, rendered to a picture.
#pragma once

#include <QImage>
#include <memory>

#include "plotter/charts.h"
#include "plotter/errpointseries.h"

namespace orvalle::test {

// A 400 x 300 chart with the given axis ranges (both 0 to 10 by default).
inline std::unique_ptr<Chart> makeChart(double xlo = 0, double xhi = 10, double ylo = 0,
                                        double yhi = 10) {
  auto chart = std::make_unique<Chart>(false);
  chart->resize(400, 300);
  chart->xAxis->setRange(xlo, xhi);
  chart->yAxis->setRange(ylo, yhi);
  return chart;
}

// The error-point series behind a series the chart made.
inline TErrPointSeries *seriesOf(const std::unique_ptr<chartseries> &s) {
  return static_cast<errorseries *>(s.get())->series();
}

// The chart drawn afresh, as a picture.
inline QImage render(Chart &chart) {
  chart.replot();
  return chart.toPixmap(chart.width(), chart.height()).toImage();
}

} // namespace orvalle::test
