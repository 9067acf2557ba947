// A chart canvas for tests that records the series the engine makes on it
// and what is done to them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/chartseries.h"

namespace orvalle::testing {

struct recordedpoint {
  double x, y, error;
  colour pointcolour;
};

// What happened to one series; outlives the series itself.
struct seriesrecord {
  enum class kind { line, errorpoints } type = kind::line;
  colour seriescolour = 0;
  std::string title;
  bool visible = true;
  bool destroyed = false;
  std::vector<recordedpoint> points;
};

class recordingseries : public chartseries {
public:
  explicit recordingseries(std::shared_ptr<seriesrecord> r) : rec(std::move(r)) {}
  ~recordingseries() override { rec->destroyed = true; }
  void clear() override { rec->points.clear(); }
  int count() const override { return static_cast<int>(rec->points.size()); }
  void addpoint(double x, double y) override { rec->points.push_back({x, y, -1, 0}); }
  int adderrorpoint(double x, double y, double error, colour c) override {
    rec->points.push_back({x, y, error, c});
    return count() - 1;
  }
  void setseriescolour(colour c) override { rec->seriescolour = c; }
  void setvisible(bool v) override { rec->visible = v; }

  std::shared_ptr<seriesrecord> rec;
};

class recordingcanvas : public chartcanvas {
public:
  std::unique_ptr<chartseries> makeline(colour c) override {
    return make(seriesrecord::kind::line, c, "");
  }
  std::unique_ptr<chartseries> makeerrorpoints(colour c, const std::string &title) override {
    return make(seriesrecord::kind::errorpoints, c, title);
  }

  // Every series made on this canvas, oldest first.
  std::vector<std::shared_ptr<seriesrecord>> made;

private:
  std::unique_ptr<chartseries> make(seriesrecord::kind k, colour c, const std::string &title) {
    auto r = std::make_shared<seriesrecord>();
    r->type = k;
    r->seriescolour = c;
    r->title = title;
    made.push_back(r);
    return std::make_unique<recordingseries>(r);
  }
};

} // namespace orvalle::testing
