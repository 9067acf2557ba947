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

void writeresiduals(const textsink &out, const bfit &fit, const std::string &file) {
  std::string s = "# file: " + oneline(file) + "\n# fit: " + oneline(fit.name) +
                  "\n# x\ty\terror\tfitted\tdeviation\tnormalised_deviation\n";
  const dataset *d = fit.data;
  const int n = d && d->x && d->y && d->yerr ? std::min({d->x->n, d->y->n, d->yerr->n}) : 0;
  // The lines go out in chunks, so that a million points need no more
  // memory than a few thousand.
  constexpr std::size_t kChunk = 1 << 16;
  s.reserve(kChunk + 256);
  for (int i = 0; i < n; ++i) {
    // A fit with x errors measures each deviation in its effective error.
    const double x = (*d->x)[i], y = (*d->y)[i];
    const double e = fit.xweights ? fit.effectiveerror(i) : (*d->yerr)[i];
    const double fitted = fit.value(x);
    const double deviation = y - fitted;
    const double values[6] = {x, y, e, fitted, deviation, deviation / e};
    for (int k = 0; k < 6; ++k) {
      if (k)
        s += '\t';
      appendnumber(s, values[k]);
    }
    s += '\n';
    if (s.size() >= kChunk) {
      out(s);
      s.clear();
    }
  }
  out(s);
}

} // namespace orvalle::cli
