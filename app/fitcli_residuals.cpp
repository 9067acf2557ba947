// orvalle-fit --residuals: every point of a fit with its deviation.
#include <algorithm>
#include <charconv>
#include <cmath>

#include "app/fitcli_report.h"

namespace orvalle::cli {

namespace {

// The shortest text that reads back as v, always with '.'.
void appendnumber(std::string &s, double v) {
  if (std::isnan(v)) {
    s += "nan";
    return;
  }
  if (std::isinf(v)) {
    s += v > 0 ? "inf" : "-inf";
    return;
  }
  char buf[40];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  s.append(buf, r.ptr);
}

// A name on a comment line: line breaks would end the comment.
std::string oneline(std::string text) {
  for (char &c : text)
    if (c == '\n' || c == '\r')
      c = ' ';
  return text;
}

} // namespace

std::string residualblock(const bfit &fit, const std::string &file) {
  std::string s = "# file: " + oneline(file) + "\n# fit: " + oneline(fit.name) +
                  "\n# x\ty\terror\tfitted\tdeviation\tnormalised_deviation\n";
  const dataset *d = fit.data;
  if (!d || !d->x || !d->y || !d->yerr)
    return s;
  const drow &X = *d->x;
  const drow &Y = *d->y;
  const drow &E = *d->yerr;
  const int n = std::min({X.n, Y.n, E.n});
  s.reserve(s.size() + static_cast<std::size_t>(n) * 96);
  for (int i = 0; i < n; ++i) {
    const double fitted = fit.value(X[i]);
    const double deviation = Y[i] - fitted;
    const double values[6] = {X[i], Y[i], E[i], fitted, deviation, deviation / E[i]};
    for (int k = 0; k < 6; ++k) {
      if (k)
        s += '\t';
      appendnumber(s, values[k]);
    }
    s += '\n';
  }
  return s;
}

} // namespace orvalle::cli
