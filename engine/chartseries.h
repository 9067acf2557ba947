// The engine's view of a chart series. The engine creates and owns series
// (a dataset's points, a fit's curve and deviations) without knowing the
// charting component: the plotter implements these interfaces on its charts,
// and tests use a recording implementation.
#pragma once

#include <memory>
#include <string>

namespace orvalle {

// Colours are packed 0xRRGGBB, components 0 to 255.
using colour = int;

class chartseries {
public:
  virtual ~chartseries() = default; // takes the series off its chart

  virtual void clear() = 0;
  virtual int count() const = 0;
  // A point of a line series.
  virtual void addpoint(double x, double y) = 0;
  // A point with a vertical error bar; error -1 means "not given".
  virtual int adderrorpoint(double x, double y, double error, colour pointcolour) = 0;
  virtual void setseriescolour(colour c) = 0;
  virtual void setvisible(bool visible) = 0;
};

// A chart that can make series on itself. The series it returns is owned by
// the caller; destroying it takes it off the chart.
class chartcanvas {
public:
  virtual ~chartcanvas() = default;
  // A fast line series (a fitted curve).
  virtual std::unique_ptr<chartseries> makeline(colour c) = 0;
  // An error-bar point series with the given colour and title.
  virtual std::unique_ptr<chartseries> makeerrorpoints(colour c, const std::string &title) = 0;
};

} // namespace orvalle
