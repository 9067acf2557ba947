#include "engine/dataset.h"
#include "engine/fittexts.h"

#include <algorithm>
#include <cmath>

namespace orvalle {

dataset::dataset(bool withcolour) {
  if (withcolour)
    dcolour = 0;
  fits.add(nullptr); // current fit: none
}

dataset::~dataset() = default;

void dataset::attach(bfit *fit) { fits.add(fit); }

bfit *dataset::currentfit() const { return fits.head ? fits.head->obj : nullptr; }

namespace {

// w = 1 / e^2 as xpow(e, -2) gives it (0 for an error of 0), without the
// cost of pow: a million points spend more time in pow than in the fit.
// checked() is called only for a weight that is not finite, which it
// reports.
inline double weightof(double e) {
  if (e == 0.0)
    return 0.0;
  const double w = 1.0 / (e * e);
  return std::isfinite(w) ? w : checked(w, "makeweights");
}

} // namespace

void dataset::makeweights() {
  if (weightsonly())
    return;
  if (!yerr)
    throw engine_error(kNoErrors, "The dataset has no y errors");
  auto weights = std::make_unique<drow>(yerr->n);
  for (int i = 0; i < yerr->n; ++i)
    (*weights)[i] = weightof((*yerr)[i]);
  w = std::move(weights);
  weightsonly_ = false;
}

void dataset::errorsintoweights() {
  if (!yerr)
    throw engine_error(kNoErrors, "The dataset has no y errors");
  if (yerr.use_count() > 1)
    throw engine_error(kFailedFit, "The y errors are shared and cannot become the weights");
  auto weights = std::make_unique<drow>();
  weights->n = yerr->n;
  weights->data = std::move(yerr->data);
  yerr.reset();
  // A failure leaves the dataset without errors and weights rather than
  // with half of them.
  weightsonly_ = false;
  w.reset();
  for (double &v : weights->data)
    v = weightof(v);
  w = std::move(weights);
  weightsonly_ = true;
}

namespace {

// The rows a statistic reads must be there and hold at least one point.
const drow &points(const rowref &r) {
  if (!r || r->n < 1)
    throw engine_error(kRowLengths, "The dataset has no points");
  return *r;
}

// The error of point i, 0 where the dataset has none.
inline double errorat(const rowref &e, int i) { return e && i < e->n ? (*e)[i] : 0.0; }

double mean(const rowref &rr) {
  const drow &r = points(rr);
  double s = 0.0;
  for (int i = 0; i < r.n; ++i)
    s += r[i];
  return divide(s, r.n, "mean");
}

template <class Better> double extreme(const rowref &rr, Better better) {
  const drow &r = points(rr);
  double e = r[0];
  for (int i = 1; i < r.n; ++i)
    if (better(r[i], e))
      e = r[i];
  return e;
}

} // namespace

double dataset::meanx() const { return mean(x); }
double dataset::meany() const { return mean(y); }
double dataset::minx() const {
  return extreme(x, [](double a, double b) { return a < b; });
}
double dataset::maxx() const {
  return extreme(x, [](double a, double b) { return a > b; });
}
double dataset::miny() const {
  return extreme(y, [](double a, double b) { return a < b; });
}
double dataset::maxy() const {
  return extreme(y, [](double a, double b) { return a > b; });
}

// Points without an error (none supplied yet) reach just their y value.
double dataset::maxtop() const {
  const drow &yy = points(y);
  double top = yy[0] + errorat(yerr, 0);
  for (int i = 1; i < yy.n; ++i)
    if (yy[i] + errorat(yerr, i) > top)
      top = yy[i] + errorat(yerr, i);
  return top;
}

double dataset::minbottom() const {
  const drow &yy = points(y);
  double bottom = yy[0] - errorat(yerr, 0);
  for (int i = 1; i < yy.n; ++i)
    if (yy[i] - errorat(yerr, i) < bottom)
      bottom = yy[i] - errorat(yerr, i);
  return bottom;
}

double dataset::minleft() const {
  const drow &xx = points(x);
  double left = xx[0] - errorat(xerr, 0);
  for (int i = 1; i < xx.n; ++i)
    left = std::min(left, xx[i] - errorat(xerr, i));
  return left;
}

double dataset::maxright() const {
  const drow &xx = points(x);
  double right = xx[0] + errorat(xerr, 0);
  for (int i = 1; i < xx.n; ++i)
    right = std::max(right, xx[i] + errorat(xerr, i));
  return right;
}

void dataset::checklengths() const {
  if (!w || !x || !y || w->n != x->n || w->n != y->n)
    throw engine_error(kRowLengths, texts::kWeightsDiffer);
}

double dataset::sumw() const {
  checklengths();
  long double s = 0.0L;
  for (double v : w->data)
    s += v;
  return checked(static_cast<double>(s), "sumw");
}

double dataset::sumwy() const {
  checklengths();
  long double s = 0.0L;
  for (int i = 0; i < w->n; ++i)
    s += static_cast<long double>((*w)[i]) * (*y)[i];
  return checked(static_cast<double>(s), "sumwy");
}

double dataset::sumwx(int k) const {
  checklengths();
  long double s = 0.0L;
  for (int i = 0; i < w->n; ++i)
    s += static_cast<long double>((*w)[i]) * xpow((*x)[i], k);
  return checked(static_cast<double>(s), "sumwx");
}

double dataset::sumwyx(int k) const {
  checklengths();
  long double s = 0.0L;
  for (int i = 0; i < w->n; ++i)
    s += static_cast<long double>((*w)[i]) * (*y)[i] * xpow((*x)[i], k);
  return checked(static_cast<double>(s), "sumwyx");
}

double dataset::termwx(int i, int k) const {
  checklengths();
  if (i < 0 || i >= w->n)
    throw engine_error(kRowLengths, "termwx: no such point");
  return divide((*w)[i] * xpow((*x)[i], k), w->n, "termwx");
}

} // namespace orvalle
