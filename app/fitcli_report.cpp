// The covariance, correlation, reduced chi-square, p-value and scaled
// uncertainties of orvalle-fit's fits, as text and as JSON.
#include <algorithm>
#include <cmath>

#include "app/fitcli_output.h"
#include "app/fitcli_report.h"
#include "engine/chisquaretail.h"
#include "engine/information.h"
#include "engine/report.h"

namespace orvalle::cli {

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

int parametercount(const bfit &fit) { return static_cast<int>(fit.order) + 1; }

// The fit's covariance when it has one of its own parameter count.
bool hascovariance(const bfit &fit) {
  const int np = parametercount(fit);
  return fit.cov.rows == np && fit.cov.cols == np;
}

// The covariance as the fit keeps it, made symmetric: the solvers leave
// the two triangles apart by rounding.
matr symmetriccov(const bfit &fit) {
  matr m = fit.cov;
  for (int r = 0; r < m.rows; ++r)
    for (int c = r + 1; c < m.cols; ++c)
      m(r, c) = m(c, r) = 0.5 * (m(r, c) + m(c, r));
  return m;
}

// A matrix as lines: a header line of labels, then one line per row, the
// row's label first; every number right-aligned in one width.
void matrixlines(stringlist &lines, const matr &m, const std::vector<std::string> &labels) {
  std::vector<std::vector<std::string>> cells(static_cast<std::size_t>(m.rows));
  std::size_t width = 0, labelwidth = 0;
  for (const auto &l : labels)
    labelwidth = std::max(labelwidth, l.size());
  for (int r = 0; r < m.rows; ++r)
    for (int c = 0; c < m.cols; ++c) {
      cells[static_cast<std::size_t>(r)].push_back(generaltext(m(r, c), 8, '.'));
      width = std::max(width, cells[static_cast<std::size_t>(r)].back().size());
    }
  for (const auto &l : labels)
    width = std::max(width, l.size());
  auto pad = [](const std::string &s, std::size_t w) {
    return std::string(w > s.size() ? w - s.size() : 0, ' ') + s;
  };
  std::string head(labelwidth, ' ');
  for (int c = 0; c < m.cols; ++c)
    head += "  " + pad(labels[static_cast<std::size_t>(c)], width);
  lines.push_back(head);
  for (int r = 0; r < m.rows; ++r) {
    std::string line = labels[static_cast<std::size_t>(r)];
    line += std::string(labelwidth - line.size(), ' ');
    for (const auto &cell : cells[static_cast<std::size_t>(r)])
      line += "  " + pad(cell, width);
    lines.push_back(line);
  }
}

std::string jsonmatrix(const matr &m) {
  std::string s = "[";
  for (int r = 0; r < m.rows; ++r) {
    s += r ? ", [" : "[";
    for (int c = 0; c < m.cols; ++c)
      s += (c ? ", " : "") + jsonnumber(m(r, c));
    s += "]";
  }
  return s + "]";
}

} // namespace

double reducedchisq(double chisq, int dof) {
  return dof > 0 ? chisq / static_cast<double>(dof) : kNaN;
}

double scaleuncertainties(const std::vector<bfit *> &fits, int parameters) {
  double chisq = 0.0;
  int points = 0;
  for (const bfit *f : fits) {
    chisq += f->chisq();
    points += f->dof() + parametercount(*f);
  }
  const double reduced = reducedchisq(chisq, points - parameters);
  if (!std::isfinite(reduced))
    return kNaN;
  const double factor = std::sqrt(reduced);
  for (bfit *f : fits) {
    const int np = parametercount(*f);
    for (int i = 0; i < np && i < bfit::kMaxParams; ++i)
      f->err[i] *= factor;
    for (int r = 0; r < f->cov.rows; ++r)
      for (int c = 0; c < f->cov.cols; ++c)
        f->cov(r, c) *= reduced;
  }
  return factor;
}

stringlist noteslines(const bfit &fit, const fitnotes &notes, bool covariance) {
  stringlist lines;
  if (notes.scaleasked) {
    if (std::isfinite(notes.scale))
      lines.push_back("Uncertainties multiplied by sqrt(ChiSqu/DoF) = " +
                      generaltext(notes.scale, 8, '.'));
    else
      lines.push_back("Uncertainties not scaled: no degrees of freedom");
  }
  if (covariance) {
    if (!hascovariance(fit)) {
      lines.push_back("Covariance: not known for this model");
    } else {
      const auto labels = parameterlabels(fit);
      lines.push_back(notes.scaleasked && std::isfinite(notes.scale) ? "Covariance (scaled):"
                                                                     : "Covariance:");
      const matr cov = symmetriccov(fit);
      matrixlines(lines, cov, labels);
      lines.push_back("Correlation:");
      matrixlines(lines, correlationof(cov), labels);
    }
  }
  return lines;
}

std::string detailreport(const std::vector<const bfit *> &fits, const fitnotes &notes,
                         bool covariance) {
  std::string out;
  for (const bfit *f : fits) {
    if (!f)
      continue;
    stringlist lines;
    appendinformation(lines, *f, '.');
    // The block ends with its one-blank line; the notes go before it.
    const stringlist extra = noteslines(*f, notes, covariance);
    lines.insert(lines.end() - 1, extra.begin(), extra.end());
    for (const auto &line : lines)
      out += line + '\n';
  }
  return out;
}

std::string jsonfit(const bfit &fit, const std::string &model, const fitnotes &notes) {
  std::string s(1, '{');
  std::vector<std::string> replaced;
  s += jsonfitkeys(fit, model, &replaced);
  bool badfile = false;
  s += ",\n   \"file\": " + jsonstring(notes.file, &badfile);
  if (badfile)
    replaced.emplace_back("file");
  const double chisq = fit.chisq();
  const int dof = fit.dof();
  s += ", \"reduced_chisq\": " + jsonnumber(reducedchisq(chisq, dof));
  s += ", \"p_value\": " + jsonnumber(chisquaretail(chisq, dof));
  const bool scaled = notes.scaleasked && std::isfinite(notes.scale);
  s += ", \"scaled\": " + std::string(scaled ? "true" : "false");
  // The factor under the CSV's name too.
  const std::string scale = scaled ? jsonnumber(notes.scale) : std::string("null");
  s += ", \"scale\": " + scale + ", \"uncertainty_scale\": " + scale;
  if (hascovariance(fit)) {
    const matr cov = symmetriccov(fit);
    s += ",\n   \"covariance\": " + jsonmatrix(cov);
    s += ",\n   \"correlation\": " + jsonmatrix(correlationof(cov));
  } else {
    s += ",\n   \"covariance\": null, \"correlation\": null";
  }
  return s + jsonreplaced(replaced) + "}";
}

} // namespace orvalle::cli
