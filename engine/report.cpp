#include "engine/report.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "engine/chisquaretail.h"
#include "engine/fits.h"
#include "engine/formulafit.h"

namespace orvalle {

namespace {

constexpr const char *kPlusMinus = "\u00b1";
constexpr const char *kTimes = "\u00d7";

// printf's %.*e of v: its digits without the point and its exponent.
struct scientific {
  std::string digits;
  int exponent = 0;
  bool negative = false;
};

scientific toscientific(double v, int significant) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*e", std::max(0, significant - 1), v);
  scientific s;
  const char *p = buf;
  if (*p == '-') {
    s.negative = true;
    ++p;
  }
  for (; *p && *p != 'e'; ++p)
    if (*p != '.')
      s.digits += *p;
  if (*p == 'e')
    s.exponent = std::atoi(p + 1);
  return s;
}

// v rounded to the decimal place `place` (10^place), written in units of
// 10^unit (unit >= place) with unit - place decimals. The digits come from
// printf's correctly rounded %e, so that no binary scaling creeps in.
std::string fixedtext(double v, int place, int unit) {
  scientific s; // digits whose first stands at 10^s.exponent
  const int magnitude =
      v == 0.0 ? place - 1 : static_cast<int>(std::floor(std::log10(std::fabs(v))));
  const int significant = magnitude - place + 1;
  if (significant <= 0) {
    // Below the place: 0, or one unit of it from half a unit on.
    s.digits = std::fabs(v) >= 0.5 * std::pow(10.0, place) ? "1" : "0";
    s.exponent = place;
    s.negative = v < 0;
  } else {
    // A carry into the next decade (9.9996 -> 1.000e+01) moves the first
    // digit up one place; the places below the digits are zeros.
    s = toscientific(v, significant);
  }
  auto digitat = [&](int k) {
    const int index = s.exponent - k;
    return index >= 0 && index < static_cast<int>(s.digits.size())
               ? s.digits[static_cast<std::size_t>(index)]
               : '0';
  };
  std::string integer;
  for (int k = std::max(s.exponent, unit); k >= unit; --k)
    integer += digitat(k);
  const auto first = integer.find_first_not_of('0');
  integer = first == std::string::npos ? "0" : integer.substr(first);
  std::string fraction;
  for (int k = unit - 1; k >= place; --k)
    fraction += digitat(k);
  std::string text = fraction.empty() ? integer : integer + "." + fraction;
  const bool zero = text.find_first_not_of("0.") == std::string::npos;
  return (s.negative && !zero ? "-" : "") + text;
}

std::string nonfinite(double v) {
  if (std::isnan(v))
    return "nan";
  return v > 0 ? "inf" : "-inf";
}

// The shortest text that reads back as v, always with '.'.
std::string shortest(double v) { return std::isfinite(v) ? shortesttext(v) : nonfinite(v); }

std::string general(double v, int digits) {
  if (!std::isfinite(v))
    return nonfinite(v);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.*g", digits, v);
  return buf;
}

std::string powertext(int exponent) {
  return std::string(kTimes) + "10^" + std::to_string(exponent);
}

} // namespace

std::string roundedpair::plusminus() const {
  const std::string core = value + " " + kPlusMinus + " " + uncertainty;
  return exponent == 0 ? core : "(" + core + ")" + powertext(exponent);
}

std::string roundedpair::concise() const {
  const std::string core = exact ? value : value + "(" + digits + ")";
  return exponent == 0 ? core : core + powertext(exponent);
}

std::string roundedpair::siunitx() const {
  std::string core = exact ? value : value + "(" + digits + ")";
  if (exponent != 0)
    core += "e" + std::to_string(exponent);
  return "\\num{" + core + "}";
}

roundedpair roundtouncertainty(double value, double sigma) {
  roundedpair r;
  if (!std::isfinite(value) || !std::isfinite(sigma) || sigma < 0) {
    r.value = general(value, 6);
    r.uncertainty = general(sigma, 2);
    r.digits = r.uncertainty;
    r.exact = !std::isfinite(value);
    return r;
  }
  if (sigma == 0.0) {
    r.exact = true;
    r.uncertainty = "0";
    r.digits = "0";
    const double a = std::fabs(value);
    if (a != 0.0 && (a >= 1e4 || a < 1e-3)) {
      r.exponent = static_cast<int>(std::floor(std::log10(a)));
      const int place = r.exponent - 5;
      r.value = fixedtext(value, place, r.exponent);
      if (r.value.rfind("10.", 0) == 0 || r.value.rfind("-10.", 0) == 0) {
        ++r.exponent;
        r.value = fixedtext(value, place + 1, r.exponent);
      }
    } else {
      r.value = general(value, 6);
    }
    return r;
  }
  // The uncertainty to two significant digits; its second digit's place.
  const scientific s = toscientific(sigma, 2);
  const int place = s.exponent - 1;
  const double big = std::max(std::fabs(value), sigma);
  int exponent = 0;
  if (big >= 1e4 || big < 1e-3 || place > 0)
    exponent = static_cast<int>(std::floor(std::log10(big)));
  // The value's rounding may carry it into the next decade (9.96 -> 10.0
  // with a shared power): the power follows.
  std::string v = fixedtext(value, place, exponent);
  if (exponent != 0) {
    const std::string magnitude = v[0] == '-' ? v.substr(1) : v;
    if (magnitude.rfind("10", 0) == 0 && magnitude.size() >= 2 &&
        (magnitude.size() == 2 || magnitude[2] == '.')) {
      ++exponent;
      v = fixedtext(value, place, exponent);
    }
  }
  r.exponent = exponent;
  r.value = v;
  r.uncertainty = fixedtext(std::stod(s.digits.substr(0, 1) + "." + s.digits.substr(1) + "e" +
                                      std::to_string(s.exponent)),
                            place, exponent);
  r.digits = s.digits;
  // "1.0" as two digits in units of the last place: 10.
  if (r.digits.size() > 1 && r.digits[0] == '0')
    r.digits = r.digits.substr(1);
  return r;
}

std::vector<std::string> parameternames(const bfit &fit) {
  const int np = static_cast<int>(fit.order) + 1;
  if (dynamic_cast<const lineronlym *>(&fit))
    return {"m"};
  if (const auto *typed = dynamic_cast<const formulafit *>(&fit))
    return typed->model().parameters();
  const bool lower = dynamic_cast<const polynom *>(&fit) != nullptr;
  std::vector<std::string> names;
  for (int i = 0; i < np && i < bfit::kMaxParams; ++i)
    names.emplace_back(1, static_cast<char>((lower ? 'a' : 'A') + i));
  return names;
}

namespace {

struct goodness {
  double chisq;
  int dof;
  double reduced;
  double pvalue;
};

goodness goodnessof(const bfit &fit) {
  goodness g{fit.chisq(), fit.dof(), std::nan(""), std::nan("")};
  if (g.dof > 0) {
    g.reduced = g.chisq / g.dof;
    g.pvalue = chisquaretail(g.chisq, g.dof);
  }
  return g;
}

std::string latexname(const std::string &name) {
  std::string s;
  for (char c : name) {
    if (c == '_' || c == '&' || c == '%' || c == '$' || c == '#' || c == '{' || c == '}')
      s += '\\';
    s += c;
  }
  return s;
}

std::string markdowncell(const std::string &text) {
  std::string s;
  for (char c : text) {
    if (c == '|')
      s += '\\';
    s += c == '\n' || c == '\r' ? ' ' : c;
  }
  return s;
}

std::string textresults(const bfit &fit, const std::vector<std::string> &names, const goodness &g) {
  std::string s = fit.name + "\n";
  for (std::size_t i = 0; i < names.size(); ++i) {
    const roundedpair r = roundtouncertainty(fit.par[i], fit.err[i]);
    s += names[i] + " = " + r.plusminus() + "   [" + r.concise() + "]\n";
  }
  s += "chi-square = " + general(g.chisq, 6) + "\n";
  s += "degrees of freedom = " + std::to_string(g.dof) + "\n";
  s += "reduced chi-square = " + general(g.reduced, 4) + "\n";
  s += "p-value = " + general(g.pvalue, 3) + "\n";
  return s;
}

std::string markdownresults(const bfit &fit, const std::vector<std::string> &names,
                            const goodness &g) {
  std::string s =
      "**" + markdowncell(fit.name) + "**\n\n| Parameter | Value | Concise |\n|---|---|---|\n";
  for (std::size_t i = 0; i < names.size(); ++i) {
    const roundedpair r = roundtouncertainty(fit.par[i], fit.err[i]);
    s += "| " + markdowncell(names[i]) + " | " + r.plusminus() + " | " + r.concise() + " |\n";
  }
  s += "| chi-square | " + general(g.chisq, 6) + " | |\n";
  s += "| degrees of freedom | " + std::to_string(g.dof) + " | |\n";
  s += "| reduced chi-square | " + general(g.reduced, 4) + " | |\n";
  s += "| p-value | " + general(g.pvalue, 3) + " | |\n";
  return s;
}

std::string latexnumber(double v, int digits) {
  if (!std::isfinite(v))
    return "\\text{" + nonfinite(v) + "}";
  return "\\num{" + general(v, digits) + "}";
}

std::string latexresults(const bfit &fit, const std::vector<std::string> &names,
                         const goodness &g) {
  std::string s = "% " + fit.name + "\n\\begin{tabular}{ll}\n";
  for (std::size_t i = 0; i < names.size(); ++i) {
    const roundedpair r = roundtouncertainty(fit.par[i], fit.err[i]);
    s += "$" + latexname(names[i]) + "$ & " + r.siunitx() + " \\\\\n";
  }
  s += "$\\chi^2$ & " + latexnumber(g.chisq, 6) + " \\\\\n";
  s += "degrees of freedom & \\num{" + std::to_string(g.dof) + "} \\\\\n";
  s += "$\\chi^2/\\nu$ & " + latexnumber(g.reduced, 4) + " \\\\\n";
  s += "$p$ & " + latexnumber(g.pvalue, 3) + " \\\\\n";
  s += "\\end{tabular}\n";
  return s;
}

} // namespace

std::string resultstext(const bfit &fit, reportformat format) {
  const std::vector<std::string> names = parameternames(fit);
  const goodness g = goodnessof(fit);
  switch (format) {
  case reportformat::markdown:
    return markdownresults(fit, names, g);
  case reportformat::latex:
    return latexresults(fit, names, g);
  case reportformat::text:
    break;
  }
  return textresults(fit, names, g);
}

stringlist fitdetails(const bfit &fit) {
  stringlist lines;
  const goodness g = goodnessof(fit);
  lines.push_back("chi-square = " + general(g.chisq, 15));
  lines.push_back("degrees of freedom = " + std::to_string(g.dof));
  lines.push_back("reduced chi-square = " + general(g.reduced, 6));
  lines.push_back("p-value = " + general(g.pvalue, 4));
  const std::vector<std::string> names = parameternames(fit);
  const int n = fit.cov.rows;
  if (n == 0 || n != static_cast<int>(names.size())) {
    lines.push_back("The model gives no covariance.");
    return lines;
  }
  auto row = [&](const std::string &head, auto cell) {
    std::string s = head;
    for (int c = 0; c < n; ++c)
      s += "\t" + cell(c);
    return s;
  };
  lines.push_back("covariance");
  lines.push_back(row("", [&](int c) { return names[static_cast<std::size_t>(c)]; }));
  for (int r = 0; r < n; ++r)
    lines.push_back(
        row(names[static_cast<std::size_t>(r)], [&](int c) { return general(fit.cov(r, c), 6); }));
  lines.push_back("correlation");
  lines.push_back(row("", [&](int c) { return names[static_cast<std::size_t>(c)]; }));
  const matr rho = correlationof(fit.cov);
  for (int r = 0; r < n; ++r)
    lines.push_back(
        row(names[static_cast<std::size_t>(r)], [&](int c) { return general(rho(r, c), 4); }));
  return lines;
}

matr correlationof(const matr &cov) {
  matr k(cov.rows, cov.cols);
  for (int r = 0; r < cov.rows; ++r)
    for (int c = 0; c < cov.cols; ++c) {
      const double vr = cov(r, r), vc = cov(c, c);
      k(r, c) = vr > 0.0 && vc > 0.0 ? cov(r, c) / std::sqrt(vr * vc) : std::nan("");
    }
  return k;
}

namespace {

// The gradient of the model at x by central differences, each parameter
// stepped by a small part of its uncertainty (the scale on which the band
// is measured), so that parameters of any size are stepped alike.
void numericgradient(const bfit &fit, double x, int np, double *g) {
  auto &p = const_cast<bfit &>(fit).par; // restored before returning
  for (int k = 0; k < np; ++k) {
    const double saved = p[k];
    double h = 1e-4 * fit.err[k];
    if (!(h > 0) || !std::isfinite(h))
      h = 1e-7 * std::max(std::fabs(saved), 1e-300);
    p[k] = saved + h;
    const double up = fit.value(x);
    p[k] = saved - h;
    const double down = fit.value(x);
    p[k] = saved;
    g[k] = (up - down) / (2 * h);
  }
}

double quadratic(const matr &C, const double *g, int np) {
  long double sum = 0.0L;
  for (int r = 0; r < np; ++r)
    for (int c = 0; c < np; ++c)
      sum += static_cast<long double>(g[r]) * C(r, c) * g[c];
  return sum > 0 ? std::sqrt(static_cast<double>(sum)) : 0.0;
}

} // namespace

double curvesigma(const bfit &fit, double x) {
  const int np = static_cast<int>(fit.order) + 1;
  if (np > bfit::kMaxParams || fit.cov.rows != np)
    return std::nan("");
  double g[bfit::kMaxParams] = {};
  if (dynamic_cast<const lineronlym *>(&fit)) {
    g[0] = x;
    return quadratic(fit.cov, g, np);
  }
  if (const auto *poly = dynamic_cast<const polynom *>(&fit)) {
    // In powers of x - centre with the centred covariance, which keeps its
    // digits far from x = 0.
    if (poly->centredcov.rows == np) {
      const double d = x - poly->centre();
      double power = 1.0;
      for (int k = np - 1; k >= 0; --k) {
        g[k] = power;
        power *= d;
      }
      return quadratic(poly->centredcov, g, np);
    }
    double power = 1.0;
    for (int k = np - 1; k >= 0; --k) {
      g[k] = power;
      power *= x;
    }
    return quadratic(fit.cov, g, np);
  }
  if (const auto *typed = dynamic_cast<const formulafit *>(&fit)) {
    // The formula's own exact derivatives.
    typed->model().derivatives(x, std::span<const double>(fit.par, static_cast<std::size_t>(np)),
                               std::span<double>(g, static_cast<std::size_t>(np)));
    return quadratic(fit.cov, g, np);
  }
  numericgradient(fit, x, np, g);
  return quadratic(fit.cov, g, np);
}

double bandfactor(bandlevel level) {
  switch (level) {
  case bandlevel::onesigma:
    return 1.0;
  case bandlevel::ninetyfive:
    return 1.959963984540054; // the two-sided 95 % point of the normal distribution
  case bandlevel::none:
    break;
  }
  return 0.0;
}

std::string bandleveltext(bandlevel level) {
  switch (level) {
  case bandlevel::onesigma:
    return "1 sigma (68.3 %)";
  case bandlevel::ninetyfive:
    return "95 %";
  case bandlevel::none:
    break;
  }
  return "none";
}

std::vector<bandpoint> confidenceband(const bfit &fit, bandlevel level, double low, double high,
                                      int count, bool logx) {
  std::vector<bandpoint> band;
  if (count < 2 || level == bandlevel::none || !(high > low) || (logx && !(low > 0)))
    return band;
  const double k = bandfactor(level);
  band.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    const double t = static_cast<double>(i) / (count - 1);
    const double x = i == count - 1 ? high
                     : logx         ? low * std::pow(high / low, t)
                                    : low + (high - low) * t;
    const double y = fit.value(x);
    const double s = k * curvesigma(fit, x);
    band.push_back({x, y, y - s, y + s});
  }
  return band;
}

void residualrows(const bfit &fit, std::string head,
                  const std::function<void(std::string_view)> &out) {
  std::string s = std::move(head);
  const dataset *d = fit.data;
  const int n = d && d->x && d->y && d->yerr ? std::min({d->x->n, d->y->n, d->yerr->n}) : 0;
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
      s += shortest(values[k]);
    }
    s += '\n';
    if (s.size() >= kChunk) {
      out(s);
      s.clear();
    }
  }
  out(s);
}

std::string residualtable(const bfit &fit) {
  std::string table;
  residualrows(fit, "# x\ty\terror\tfitted\tdeviation\tnormalised_deviation\n",
               [&table](std::string_view text) { table.append(text); });
  return table;
}

} // namespace orvalle
