#include "engine/multfit.h"

#include <cmath>

namespace orvalle {

multfit::~multfit() = default;

bfit *multfit::line(int j) const {
  if (j < 0 || static_cast<unsigned>(j) >= lines.count)
    return nullptr;
  item<bfit> *it = lines.at(static_cast<unsigned>(j));
  return it ? it->obj : nullptr;
}

std::vector<std::unique_ptr<bfit>> multfit::takelines() { return std::move(made_); }

void Mlinear::makelines(int count) {
  for (int j = 0; j < count; ++j) {
    made_.push_back(std::make_unique<polynom>(1));
    lines.add(made_.back().get());
  }
}

namespace {

// Which parameter the lines share.
enum class shared { gradient, intercept };

// The joint fit of straight lines y = a x + b through every dataset, with a
// (gradient) or b (intercept) common to all. q[0] is the common parameter,
// q[j+1] dataset j's own.
void jointfit(multfit &m, shared what, chartcanvas &mainchart, chartcanvas &devchart,
              bool useGauss) {
  const int K = static_cast<int>(m.datasets.count);
  if (K == 0 || m.lines.count != m.datasets.count)
    throw engine_error(kFailedFit, "A multi fit needs one line per dataset");
  std::vector<dataset *> sets;
  std::vector<bfit *> lines;
  for (int j = 0; j < K; ++j) {
    sets.push_back(m.datasets.at(static_cast<unsigned>(j))->obj);
    lines.push_back(m.line(j));
    if (!sets.back() || !lines.back())
      throw engine_error(kFailedFit, "A multi fit needs one line per dataset");
  }
  for (dataset *d : sets)
    d->makeweights();

  const bool samem = what == shared::gradient;
  matr M(K + 1, K + 1);
  vec v(K + 1);
  for (int j = 0; j < K; ++j) {
    const dataset &d = *sets[static_cast<std::size_t>(j)];
    M(0, 0) += samem ? d.sumwx(2) : d.sumw();
    v[0] += samem ? d.sumwyx(1) : d.sumwy();
    M(0, j + 1) = M(j + 1, 0) = d.sumwx(1);
    M(j + 1, j + 1) = samem ? d.sumw() : d.sumwx(2);
    v[j + 1] = samem ? d.sumwy() : d.sumwyx(1);
  }
  checked(M(0, 0), "multfit");
  checked(v[0], "multfit");
  m.normal = M;
  m.rhs = v;

  // inv u equals gauss(M, u) or tmul(cofinverse(M), u), by the choice.
  vec q;
  matr inv(K + 1, K + 1);
  if (useGauss) {
    q = gauss(M, v);
    for (int k = 0; k <= K; ++k) {
      vec unit(K + 1);
      unit[k] = 1.0;
      const vec col = gauss(M, unit);
      for (int r = 0; r <= K; ++r)
        inv(r, k) = col[r];
    }
  } else {
    const matr B = M.cofinverse();
    q = tmul(B, v);
    for (int r = 0; r <= K; ++r)
      for (int k = 0; k <= K; ++k)
        inv(r, k) = B(k, r);
  }

  // Every point's error carried to the common parameter and to its own
  // dataset's parameter: u has only the entries 0 and j+1.
  std::vector<long double> e(static_cast<std::size_t>(K + 1), 0.0L);
  for (int j = 0; j < K; ++j) {
    const dataset &d = *sets[static_cast<std::size_t>(j)];
    const drow &X = *d.x;
    const drow &W = *d.w;
    const drow &S = *d.yerr;
    for (int l = 0; l < W.n; ++l) {
      const double w = W[l];
      if (w == 0.0)
        continue;
      const double u0 = samem ? w * X[l] : w;
      const double uj = samem ? w : w * X[l];
      const double g0 = inv(0, 0) * u0 + inv(0, j + 1) * uj;
      const double gj = inv(j + 1, 0) * u0 + inv(j + 1, j + 1) * uj;
      const long double s2 = static_cast<long double>(S[l]) * S[l];
      e[0] += g0 * g0 * s2;
      e[static_cast<std::size_t>(j + 1)] += gj * gj * s2;
    }
  }
  std::vector<double> sd(static_cast<std::size_t>(K + 1));
  for (int k = 0; k <= K; ++k)
    sd[static_cast<std::size_t>(k)] = checkedsqrt(
        checked(static_cast<double>(e[static_cast<std::size_t>(k)]), "multfit"), "multfit");

  const int own = samem ? 1 : 0; // the line's parameter index of its own value
  for (int j = 0; j < K; ++j) {
    bfit &line = *lines[static_cast<std::size_t>(j)];
    line.par[1 - own] = q[0];
    line.err[1 - own] = sd[0];
    line.par[own] = q[j + 1];
    line.err[own] = sd[static_cast<std::size_t>(j + 1)];
  }
  for (bfit *line : lines)
    line->makeseries(mainchart, devchart);
}

} // namespace

void Mlinearsamem::fit(chartcanvas &mainchart, chartcanvas &devchart, bool gauss) {
  jointfit(*this, shared::gradient, mainchart, devchart, gauss);
}

void Mlinearsamec::fit(chartcanvas &mainchart, chartcanvas &devchart, bool gauss) {
  jointfit(*this, shared::intercept, mainchart, devchart, gauss);
}

} // namespace orvalle
