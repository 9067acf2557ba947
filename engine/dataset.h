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
  // Makes the weights as makeweights does, in the storage of the y errors,
  // for a caller that needs the errors for nothing else (a batch fit that
  // reports only the fit): yerr is then empty and the weights stand for
  // it, and makeweights keeps them. Raises engine_error(kFailedFit), with
  // nothing changed, when another row shares the errors; a weight that
  // overflows raises as in makeweights and leaves neither errors nor
  // weights.
  void errorsintoweights();
  // Whether the weights were made by errorsintoweights and yerr is empty.
  bool weightsonly() const { return weightsonly_ && w && !yerr; }

  double meanx() const;
  double meany() const;
  double minx() const;
  double maxx() const;
  double miny() const;
  double maxy() const;
  double maxtop() const;
  double minbottom() const;
  // The smallest x[i] - xerr[i] and the largest x[i] + xerr[i]; minx and
  // maxx for a dataset without x errors.
  double minleft() const;
  double maxright() const;

  // Whether the dataset has x errors: a non-empty x-error row. Without
  // them every fit is the ordinary weighted least-squares fit in y.
  bool hasxerrors() const { return xerr && xerr->n > 0; }

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
  // The error of each abscissa; absent or empty when the data have none.
  rowref xerr;
  std::unique_ptr<drow> w;
  std::unique_ptr<chartseries> series;
  std::optional<colour> dcolour;
  list<bfit> fits;

private:
  void checklengths() const;
  bool weightsonly_ = false;
};

} // namespace orvalle
