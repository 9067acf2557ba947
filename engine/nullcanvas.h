// A chart canvas that draws nothing: the series it makes only count their
// points. Fits run without a window (the batch command, tests) use it.
#pragma once

#include <memory>
#include <string>

#include "engine/chartseries.h"

namespace orvalle {

class nullseries : public chartseries {
public:
  void clear() override { points_ = 0; }
  int count() const override { return points_; }
  void addpoint(double, double) override { ++points_; }
  int adderrorpoint(double, double, double, colour) override { return points_++; }
  void setseriescolour(colour) override {}
  void setvisible(bool) override {}

private:
  int points_ = 0;
};

class nullcanvas : public chartcanvas {
public:
  std::unique_ptr<chartseries> makeline(colour) override { return std::make_unique<nullseries>(); }
  std::unique_ptr<chartseries> makeerrorpoints(colour, const std::string &) override {
    return std::make_unique<nullseries>();
  }
};

} // namespace orvalle
