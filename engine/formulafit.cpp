// The formula fit: Levenberg-Marquardt with MINPACK's diagonal scaling of
// the parameters (Eigen's port of lmder, the routine behind scipy's
// least_squares(method='lm')) on the weighted residuals sqrt(w) (f(x) - y).
// The residuals are scaled by a power of two to order one, and so is each
// parameter, so that data from 1e-30 to 1e30 and parameters 1e30 apart
// meet the same arithmetic. The Jacobian is exact: the formula's
// derivatives come from its expression tree by forward-mode automatic
// differentiation (typedformula::derivatives), so neither the steps nor
// the covariance depend on a difference step, however large a parameter
// is against the curve's width.
//
// Where the iteration ends, Gauss-Newton steps polish the point and a test
// decides whether it is a minimum: the Gauss-Newton step must promise to
// lower the chi-square by no more than a 1e-12 part of it (or rounding).
// A point that fails is the start of a new iteration from the best point
// seen; should that not reach a minimum either, the iteration starts again
// from the estimates with a shorter first step. A fit that reaches no
// minimum fails and says where it stopped.
#include "engine/formulafit.h"

#include <Eigen/Dense>
#include <unsupported/Eigen/NonLinearOptimization>

#include <cmath>
#include <limits>
#include <span>
#include <vector>

#include "engine/fittexts.h"
#include "engine/logchannel.h"

namespace orvalle {

namespace {

// Columns of the Jacobian, scaled to unit length, that the others make to
// within this are taken as dependent.
constexpr double kRankTolerance = 1e-9;
// A minimum: the Gauss-Newton step promises to lower the chi-square by no
// more than this part of it (the parameters are then within a millionth
// of a standard deviation, times the square root of the chi-square, of
// the minimum)...
constexpr double kPredictedTolerance = 1e-12;
// ... or by no more than rounding: this many units of rounding in each
// residual, over the sizes of the model and the data.
constexpr double kRoundingUnits = 64.0;
// Iterations from the best point so far, after the first, before the fit
// gives up.
constexpr int kRestarts = 4;
// Gauss-Newton steps that polish the end of an iteration.
constexpr int kPolishSteps = 6;

constexpr long double kLargest = std::numeric_limits<double>::max();

using vector = Eigen::VectorXd;
using matrix = Eigen::MatrixXd;

// The weighted residuals of the formula over the dataset, times a power of
// two that brings them to order one.
class residuals {
public:
  residuals(const typedformula &f, const dataset &d)
      : f_(f), x_(d.x->data.data(), static_cast<std::size_t>(d.w->n)),
        y_(d.y->data.data(), static_cast<std::size_t>(d.w->n)), m_(static_cast<int>(d.w->n)),
        sw_(static_cast<std::size_t>(m_)), buf_(static_cast<std::size_t>(m_)),
        dp_(static_cast<std::size_t>(f.count())) {
    for (int i = 0; i < m_; ++i)
      sw_[static_cast<std::size_t>(i)] = std::sqrt((*d.w)[i]);
  }

  int values() const { return m_; }
  int evaluations() const { return evaluations_; }
  // Whether a fault (NaN or an infinity where it cannot be stepped around)
  // ended the iteration.
  bool fault() const { return fault_; }
  // The factor of the residuals: the weighted residuals are r / scale().
  double scale() const { return scale_; }

  // Chooses the power of two that makes the residuals at p of order one;
  // false when they are not finite there.
  bool setscale(const vector &p) {
    vector r;
    if (!evaluate(p, r))
      return false;
    const double norm = r.stableNorm() / std::sqrt(static_cast<double>(m_));
    if (norm > 0.0 && std::isfinite(norm)) {
      int e = 0;
      (void)std::frexp(norm, &e);
      scale_ = std::ldexp(1.0, -e);
    }
    return true;
  }

  // r(p); false when a residual is not finite.
  bool evaluate(const vector &p, vector &r) {
    ++evaluations_;
    f_.values(x_, std::span<const double>(p.data(), static_cast<std::size_t>(p.size())), buf_);
    r.resize(m_);
    bool finite = true;
    for (int i = 0; i < m_; ++i) {
      const auto k = static_cast<std::size_t>(i);
      const double v = (buf_[k] - y_[k]) * sw_[k] * scale_;
      finite = finite && std::isfinite(v);
      r[i] = v;
    }
    return finite && std::isfinite(r.squaredNorm());
  }

  // The iteration's own variables are u = p / c, with c a power of two per
  // parameter that brings the columns of the Jacobian to order one where
  // the iteration starts: the QR factorisation inside Levenberg-Marquardt
  // decides rank from the sizes of its columns, and would take a parameter
  // whose column is 1e-16 of another's for one the data do not determine.
  void setcolumns(const vector &p) {
    columns_ = vector::Ones(p.size());
    matrix J;
    if (!jacobian(p, J))
      return;
    for (Eigen::Index k = 0; k < p.size(); ++k) {
      const double n = J.col(k).norm();
      if (n > 0.0 && std::isfinite(n)) {
        int e = 0;
        (void)std::frexp(n, &e);
        columns_[k] = std::ldexp(1.0, -e);
      }
    }
  }
  vector touser(const vector &p) const { return p.cwiseQuotient(columns_); }
  vector fromuser(const vector &u) const { return u.cwiseProduct(columns_); }

  // r(p) as evaluate() does, but with f in long double from the formula's
  // own tree: near the minimum f and y agree in many digits, and the
  // residuals then keep theirs.
  bool evaluatelong(const vector &p, vector &r) {
    ++evaluations_;
    const std::span<const double> ps(p.data(), static_cast<std::size_t>(p.size()));
    r.resize(m_);
    bool finite = true;
    for (int i = 0; i < m_; ++i) {
      const auto k = static_cast<std::size_t>(i);
      const long double f = f_.longvalue(x_[k], ps);
      const long double v = (f - y_[k]) * sw_[k] * scale_;
      // Beyond the range of double (which long double exceeds) counts as
      // infinite; the conversion itself would be undefined.
      const bool fits = std::fabs(f) <= kLargest && std::fabs(v) <= kLargest;
      finite = finite && fits;
      buf_[k] = fits ? static_cast<double>(f) : kLargest;
      r[i] = fits ? static_cast<double>(v) : kLargest;
    }
    return finite && std::isfinite(r.squaredNorm());
  }

  // Eigen's function call at u. The start must evaluate; a trial step that
  // leaves the formula's domain is answered with a huge residual, so that
  // the iteration rejects it and shortens its step. The best point seen is
  // kept.
  int operator()(const vector &u, vector &r) {
    const vector p = fromuser(u);
    if (evaluate(p, r)) {
      const double norm = r.squaredNorm();
      if (best_.size() == 0 || norm < bestnorm_) {
        best_ = p;
        bestnorm_ = norm;
      }
      return 0;
    }
    if (best_.size() == 0) {
      fault_ = true;
      return -1;
    }
    r.setConstant(1e150);
    return 0;
  }

  // Eigen's Jacobian at u, exact. Returns 0, or -1 on a fault.
  int df(const vector &u, matrix &J) {
    if (!jacobian(fromuser(u), J)) {
      fault_ = true;
      return -1;
    }
    J = J * columns_.asDiagonal();
    return 0;
  }

  // The exact Jacobian of r at p; false where it is not finite.
  bool jacobian(const vector &p, matrix &J) {
    const auto np = static_cast<std::size_t>(p.size());
    const std::span<const double> ps(p.data(), np);
    J.resize(m_, p.size());
    for (int i = 0; i < m_; ++i) {
      const auto k = static_cast<std::size_t>(i);
      (void)f_.derivatives(x_[k], ps, dp_);
      const double s = sw_[k] * scale_;
      for (std::size_t j = 0; j < np; ++j)
        J(i, static_cast<Eigen::Index>(j)) = s * dp_[j];
    }
    return J.allFinite();
  }

  // The norms of the scaled sqrt(w) f and sqrt(w) y: the sizes whose
  // rounding the residuals carry. f from the last evaluate().
  double roundingsize() const {
    double sum = 0.0;
    for (std::size_t i = 0; i < buf_.size(); ++i) {
      const double s = sw_[i] * scale_;
      sum += (buf_[i] * s) * (buf_[i] * s) + (y_[i] * s) * (y_[i] * s);
    }
    return std::sqrt(sum);
  }
  // The norm of the scaled sqrt(w) f from the last evaluate().
  double modelnorm() const {
    double sum = 0.0;
    for (std::size_t i = 0; i < buf_.size(); ++i) {
      const double v = buf_[i] * sw_[i] * scale_;
      sum += v * v;
    }
    return std::sqrt(sum);
  }

  const vector &best() const { return best_; }
  // Forgets the best point, for an iteration from another start.
  void forgetbest() { best_.resize(0); }
  // Takes p as the best point when its residuals r are lower.
  void offer(const vector &p, const vector &r) {
    const double norm = r.squaredNorm();
    if (best_.size() == 0 || norm < bestnorm_) {
      best_ = p;
      bestnorm_ = norm;
    }
  }

private:
  const typedformula &f_;
  std::span<const double> x_, y_;
  int m_;
  std::vector<double> sw_;
  std::vector<double> buf_;
  std::vector<double> dp_;
  double scale_ = 1.0;
  int evaluations_ = 0;
  bool fault_ = false;
  vector best_;
  double bestnorm_ = 0.0;
  vector columns_;
};

[[noreturn]] void fail(const std::string &message) {
  logmessage(message);
  throw engine_error(kFailedFit, message);
}

// The Gauss-Newton system at one point: the residuals, the exact Jacobian,
// its column norms and the pivoted QR of its columns scaled to unit length.
struct gaussnewton {
  vector r;
  matrix J;
  vector norms;
  Eigen::ColPivHouseholderQR<matrix> qr;
  double chisq = 0.0;
  // What the Gauss-Newton step promises to take off chisq.
  double predicted = 0.0;
  // Rounding's share of chisq, below which no reduction means anything.
  double rounding = 0.0;
  // The same for residuals from long double values, where the polish
  // stops.
  double longrounding = 0.0;
  // The norm of the scaled sqrt(w) f.
  double modelnorm = 0.0;

  // False where the residuals or the Jacobian are not finite.
  bool at(residuals &res, const vector &p) {
    if (!res.evaluatelong(p, r) || !res.jacobian(p, J))
      return false;
    chisq = r.squaredNorm();
    const double size =
        kRoundingUnits * std::numeric_limits<double>::epsilon() * res.roundingsize();
    rounding = size * size;
    const double longsize =
        kRoundingUnits * std::numeric_limits<long double>::epsilon() * res.roundingsize();
    longrounding = longsize * longsize;
    modelnorm = res.modelnorm();
    norms = J.colwise().norm();
    vector inverse = norms;
    for (Eigen::Index k = 0; k < inverse.size(); ++k)
      inverse[k] = norms[k] > 0.0 ? 1.0 / norms[k] : 1.0;
    qr.setThreshold(kRankTolerance);
    qr.compute(J * inverse.asDiagonal());
    const vector qtr = qr.householderQ().adjoint() * r;
    predicted = qtr.head(qr.rank()).squaredNorm();
    return true;
  }
  // The test also bounds the scaled gradient: the cosine between the
  // residuals and any column of J is at most sqrt(predicted / chisq), so
  // no parameter sees a slope of more than a millionth of that.
  bool minimum() const { return predicted <= kPredictedTolerance * chisq + rounding; }
  // The Gauss-Newton step in the parameters.
  vector step() const {
    vector s = qr.solve(-r);
    for (Eigen::Index k = 0; k < s.size(); ++k)
      s[k] = norms[k] > 0.0 ? s[k] / norms[k] : 0.0;
    return s;
  }
};

// Gauss-Newton steps from p, each kept when it does not raise the
// chi-square beyond rounding, while they promise anything. Ends with gn
// evaluated at p.
bool polish(residuals &res, vector &p, gaussnewton &gn) {
  if (!gn.at(res, p))
    return false;
  for (int k = 0; k < kPolishSteps && !(gn.predicted <= gn.longrounding); ++k) {
    const vector s = gn.step();
    const vector q = p + s;
    vector rq;
    if (!s.allFinite() || q == p || !res.evaluatelong(q, rq))
      break;
    if (!(rq.squaredNorm() <= gn.chisq * (1.0 + 4 * std::numeric_limits<double>::epsilon())))
      break;
    const double before = gn.chisq;
    p = q;
    if (!gn.at(res, p))
      return false;
    res.offer(p, gn.r);
    if (!(gn.chisq < before))
      break;
  }
  return true;
}

} // namespace

formulafit::formulafit(const std::string &text) : model_(text) {
  order = static_cast<std::uint16_t>(model_.count() - 1);
}

double formulafit::value(double x) const {
  return model_.value(x, std::span<const double>(par, static_cast<std::size_t>(count())));
}

double formulafit::slope(double x, double /*span*/) const {
  std::vector<double> dp(static_cast<std::size_t>(count()));
  double dx = 0.0;
  (void)model_.derivatives(x, std::span<const double>(par, static_cast<std::size_t>(count())), dp,
                           &dx);
  return dx;
}

std::string formulafit::fewestpointsmessage() const {
  return texts::kNeedAtLeast + std::to_string(fewestpoints()) + texts::kPointsToFit +
         "y=" + model_.text();
}

namespace {

// Runs Levenberg-Marquardt from p, then polishes; p becomes the best point
// seen. False on a fault.
bool descend(residuals &r, vector &p, gaussnewton &gn, int &iterations, double factor) {
  Eigen::LevenbergMarquardt<residuals> lm(r);
  lm.parameters.factor = factor;
  lm.parameters.ftol = 1e-14;
  lm.parameters.xtol = 1e-14;
  lm.parameters.gtol = 0.0;
  lm.parameters.maxfev = 200 * (static_cast<int>(p.size()) + 1);
  r.setcolumns(p);
  vector u = r.touser(p);
  (void)lm.minimize(u);
  iterations += static_cast<int>(lm.iter);
  if (r.fault() || r.best().size() != p.size())
    return false;
  p = r.best();
  return polish(r, p, gn);
}

// Levenberg-Marquardt from p, then again from the best point while the
// end is not a minimum and the chi-square still falls. Should that not
// reach a minimum, the same from the start with a first step bound a
// hundred and then ten thousand times smaller: a long first step may have
// crossed into a region where a parameter no longer changes the curve.
// p and gn become the best end, a minimum where one was reached; false
// when no iteration ended at a point where the formula and its
// derivatives have values.
bool minimise(residuals &r, vector &p, gaussnewton &gn, int &iterations) {
  bool ok = false;
  const vector start = p;
  for (const double factor : {100.0, 1.0, 0.01}) {
    gaussnewton here;
    vector q = start;
    r.forgetbest();
    bool done = descend(r, q, here, iterations, factor);
    for (int k = 0; done && k < kRestarts && !here.minimum(); ++k) {
      const double before = here.chisq;
      done = descend(r, q, here, iterations, factor);
      if (done && !(here.chisq < before))
        break;
    }
    if (r.fault())
      break;
    const bool better = !ok || (here.minimum() && !gn.minimum()) ||
                        (here.minimum() == gn.minimum() && here.chisq < gn.chisq);
    if (done && better) {
      ok = true;
      p = q;
      gn = here;
    }
    if (ok && gn.minimum())
      break;
  }
  return ok;
}

// Why the data do not determine a parameter at p, or empty. A parameter
// whose change over a small step is no more than the rounding of the
// formula's values does not change the curve at all. The rank test on the
// other columns, scaled to unit length so that parameters of very
// different sizes compare fairly: a column that the others make to within
// the tolerance is a parameter the data do not determine; named is the
// first parameter, in the formula's order, that adds nothing to those
// before it.
std::string whatisundetermined(const gaussnewton &gn, const vector &p,
                               const std::vector<std::string> &names) {
  const double noise = 1e3 * std::numeric_limits<double>::epsilon() * gn.modelnorm;
  const double small = 2.0 * std::cbrt(std::numeric_limits<double>::epsilon());
  const std::string head = "The data do not determine the parameter";
  int still = -1;
  matrix Jn(gn.J.rows(), 0);
  for (Eigen::Index k = 0; k < p.size(); ++k) {
    const double span = small * (p[k] != 0.0 ? std::fabs(p[k]) : 1.0);
    if (!(gn.norms[k] * span > noise)) {
      if (still < 0)
        still = static_cast<int>(k);
      continue;
    }
    Jn.conservativeResize(Eigen::NoChange, Jn.cols() + 1);
    Jn.col(Jn.cols() - 1) = gn.J.col(k) / gn.norms[k];
    Eigen::ColPivHouseholderQR<matrix> qr(Jn);
    qr.setThreshold(kRankTolerance);
    if (qr.rank() < Jn.cols())
      return head + " " + names[static_cast<std::size_t>(k)] +
             ": other parameters change the curve in the same way";
  }
  if (still >= 0) {
    const std::string &name = names[static_cast<std::size_t>(still)];
    return head + " " + name + ": at " + name + " = " + generaltext(p[still], 8) +
           " the curve does not change with it";
  }
  if (gn.qr.rank() < p.size())
    return head + "s: other parameters change the curve in the same way";
  return {};
}

// The message of a fit that stopped short of the minimum, in numbers of the
// fit itself.
std::string notminimum(const gaussnewton &gn, double scale) {
  const double s2 = 1.0 / (scale * scale);
  return std::string(texts::kNotConverged) + ": it stopped at chi-square " +
         generaltext(gn.chisq * s2, 8) + " where a further step would lower it by " +
         generaltext(gn.predicted * s2, 3);
}

} // namespace

void formulafit::fit(bool /*gauss*/) {
  iterations = 0;
  evaluations = 0;
  if (!data || !data->w || !data->x || !data->y || !data->yerr || data->x->n < data->w->n ||
      data->y->n < data->w->n)
    fail(texts::kNotConverged);
  const int np = count();
  if (data->w->n < fewestpoints())
    fail(fewestpointsmessage());

  residuals r(model_, *data);
  vector p(np);
  for (int k = 0; k < np; ++k)
    p[k] = par[k];
  if (!p.allFinite() || !r.setscale(p))
    fail(texts::kNotConverged);

  gaussnewton gn;
  const bool ok = minimise(r, p, gn, iterations);
  evaluations = r.evaluations();
  if (!ok || !p.allFinite())
    fail(texts::kNotConverged);

  // A parameter the data do not determine comes before the verdict on the
  // iteration: it is also the likely reason why the iteration found no
  // minimum.
  const std::string undetermined = whatisundetermined(gn, p, model_.parameters());
  if (!undetermined.empty())
    fail(undetermined);
  if (!gn.minimum())
    fail(notminimum(gn, r.scale()));

  // The covariance (J^T J)^-1 of the weighted residuals: from the y errors
  // alone, not scaled by the chi-square, with the exact Jacobian at the
  // minimum.
  const matrix R = gn.qr.matrixR().topLeftCorner(np, np).template triangularView<Eigen::Upper>();
  const matrix Rinv = R.triangularView<Eigen::Upper>().solve(matrix::Identity(np, np));
  const matrix covn =
      gn.qr.colsPermutation() * (Rinv * Rinv.transpose()) * gn.qr.colsPermutation().transpose();
  // The norms of the Jacobian of the weighted residuals themselves.
  const vector norms = gn.norms / r.scale();
  double errs[kMaxParams] = {};
  for (int k = 0; k < np; ++k) {
    const double e = std::sqrt(covn(k, k)) / norms[k];
    if (!std::isfinite(e) || !std::isfinite(p[k]))
      fail(texts::kNotConverged);
    errs[k] = e;
  }
  cov = matr(np, np);
  for (int k = 0; k < np; ++k) {
    par[k] = p[k];
    err[k] = errs[k];
    for (int c = 0; c < np; ++c)
      cov(k, c) = covn(k, c) / (norms[k] * norms[c]);
  }
}

void formulafit::describe(stringlist &lines, bool clear) const {
  describeform(lines, clear, "Fit of the form y=" + model_.text() + " with", model_.parameters(),
               2);
}

std::string formulafit::formula(int index) const {
  return formulahead(index) +
         model_.gnuplottext(std::span<const double>(par, static_cast<std::size_t>(count())));
}

} // namespace orvalle
