// One named set of measured points: x, y, the error of y, the weights a fit
// makes from the errors, and the weighted sums of the normal equations.
//
// The x, y and error rows are shared: in the column layout they are the
// plotter's columns, so the dataset never releases them on its own. The
// weights row and the chart series are the dataset's own.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "engine/chartseries.h"
#include "engine/numeric.h"

namespace orvalle {

class bfit;
using drow = row<double>;
using rowref = std::shared_ptr<drow>;

class dataset {
public:
  explicit dataset(bool withcolour);
  dataset(const dataset &) = delete;
  dataset &operator=(const dataset &) = delete;
  ~dataset();

  void attach(bfit *fit);
  bfit *currentfit() const;
  void makeweights();

  double meanx() const;
  double meany() const;
  double minx() const;
  double maxx() const;
  double miny() const;
  double maxy() const;
  double maxtop() const;
  double minbottom() const;

  double sumw() const;
  double sumwy() const;
  double sumwx(int k) const;
  double sumwyx(int k) const;
  double termwx(int i, int k) const;

  // Number of points a fit uses: the length of the weights row.
  int npoints() const { return w ? w->n : 0; }

  std::string name;
  char tag = 0;
  int pointcount = 0;
  int filledcount = 0;
  rowref x;
  rowref y;
  rowref yerr;
  std::unique_ptr<drow> w;
  std::unique_ptr<chartseries> series;
  std::optional<colour> dcolour;
  list<bfit> fits;

private:
  void checklengths() const;
};

} // namespace orvalle
