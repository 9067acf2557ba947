// Small datasets for the fit tests.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "engine/dataset.h"

namespace orvalle::testing {

inline rowref makerow(const std::vector<double> &values) {
  auto r = std::make_shared<drow>(static_cast<int>(values.size()));
  r->data = values;
  return r;
}

// A dataset with a colour slot, its points and errors, and its weights.
inline std::unique_ptr<dataset> makedata(const std::vector<double> &x, const std::vector<double> &y,
                                         const std::vector<double> &e) {
  auto d = std::make_unique<dataset>(true);
  d->x = makerow(x);
  d->y = makerow(y);
  d->yerr = makerow(e);
  d->pointcount = d->filledcount = static_cast<int>(x.size());
  d->makeweights();
  return d;
}

// Points of f at the given x values, each with error e.
inline std::unique_ptr<dataset> sampled(const std::vector<double> &x,
                                        const std::function<double(double)> &f, double e) {
  std::vector<double> y, errs;
  for (double v : x) {
    y.push_back(f(v));
    errs.push_back(e);
  }
  return makedata(x, y, errs);
}

inline std::vector<double> range(double from, double step, int count) {
  std::vector<double> v;
  for (int i = 0; i < count; ++i)
    v.push_back(from + step * i);
  return v;
}

} // namespace orvalle::testing
