#include "plotter/errpointseries.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace orvalle {

TErrPointSeries::TErrPointSeries(QCPAxis *keyAxis, QCPAxis *valueAxis, const QColor &colour,
                                 const QString & /*name*/)
    : QCPGraph(keyAxis, valueAxis), SeriesColour(colour), ErrorPen(colour) {
  setLineStyle(QCPGraph::lsNone);
  setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssSquare, colour, colour, 3));
  setPen(QPen(colour));
  setSelectable(QCP::stNone);
  setAdaptiveSampling(false);
}

TErrPointSeries::~TErrPointSeries() = default;

int TErrPointSeries::AddErrorPoint(double x, double y, double error, const QString & /*label*/,
                                   const QColor &colour) {
  if (error == -1.0)
    error = UseFixedError ? FixedErrorValue : y * ErrorPercent * 0.01;
  xs_.push_back(x);
  ys_.push_back(y);
  colours_.push_back(colour.rgb());
  ErrorValues.push_back(error);
  return count() - 1;
}

void TErrPointSeries::SetSeriesColour(const QColor &colour) {
  SeriesColour = colour;
  ErrorPen.setColor(colour);
  setPen(QPen(colour));
  QCPScatterStyle style = scatterStyle();
  style.setPen(QPen(colour));
  style.setBrush(colour);
  setScatterStyle(style);
}

void TErrPointSeries::clearPoints() {
  filledFrom = Source{};
  xs_.clear();
  ys_.clear();
  colours_.clear();
  ErrorValues.clear();
  XErrorValues.clear();
}

void TErrPointSeries::reserve(std::size_t n) {
  xs_.reserve(n);
  ys_.reserve(n);
  colours_.reserve(n);
  ErrorValues.reserve(n);
}

namespace {

struct span {
  double lo = std::numeric_limits<double>::infinity();
  double hi = -std::numeric_limits<double>::infinity();
  bool found() const { return lo <= hi; }
};

// The smallest and largest of the given values that fall in the sign domain
// (NaNs are passed over).
void take(span &s, double v, QCP::SignDomain d) {
  if (std::isnan(v))
    return;
  if ((d == QCP::sdPositive && v <= 0) || (d == QCP::sdNegative && v >= 0))
    return;
  s.lo = std::min(s.lo, v);
  s.hi = std::max(s.hi, v);
}

} // namespace

double TErrPointSeries::ExtentMinX() const {
  bool found = false;
  return getKeyRange(found).lower;
}
double TErrPointSeries::ExtentMaxX() const {
  bool found = false;
  return getKeyRange(found).upper;
}
double TErrPointSeries::ExtentMinY() const {
  bool found = false;
  return getValueRange(found).lower;
}
double TErrPointSeries::ExtentMaxY() const {
  bool found = false;
  return getValueRange(found).upper;
}

QCPRange TErrPointSeries::getKeyRange(bool &foundRange, QCP::SignDomain inSignDomain) const {
  span s;
  for (std::size_t i = 0; i < xs_.size(); ++i) {
    take(s, xs_[i], inSignDomain);
    if (i < XErrorValues.size() && XErrorValues[i] > 0) {
      take(s, xs_[i] - XErrorValues[i], inSignDomain);
      take(s, xs_[i] + XErrorValues[i], inSignDomain);
    }
  }
  foundRange = s.found();
  if (!foundRange)
    return QCPRange();
  const double margin = 0.02 * (s.hi - s.lo);
  return QCPRange(s.lo - margin, s.hi + margin);
}

QCPRange TErrPointSeries::getValueRange(bool &foundRange, QCP::SignDomain inSignDomain,
                                        const QCPRange & /*inKeyRange*/) const {
  span s;
  for (std::size_t i = 0; i < ys_.size(); ++i) {
    const double y = ys_[i];
    const double e = ErrorValues[i];
    take(s, y, inSignDomain);
    if (ErrorStyle >= esTop) {
      take(s, y - e, inSignDomain);
      take(s, y + e, inSignDomain);
    }
  }
  foundRange = s.found();
  if (!foundRange)
    return QCPRange();
  const double margin = 0.02 * (s.hi - s.lo);
  return QCPRange(s.lo - margin, s.hi + margin);
}

int TErrPointSeries::capWidth(bool vertical) const {
  if (ErrorWidthUnits == ewuPixels)
    return 10 * MarkerVertSize;
  const int s = vertical ? MarkerVertSize : MarkerHorizSize;
  return static_cast<int>(std::floor(ErrorWidth * s * 0.01));
}

void TErrPointSeries::draw(QCPPainter *painter) {
  lastDrawnBars_ = 0;
  QCPAxis *kx = keyAxis();
  QCPAxis *vy = valueAxis();
  if (!kx || !vy || xs_.empty())
    return;

  painter->setAntialiasing(false); // one-pixel bars and caps, as on the screen
  const QRect clip = clipRect().adjusted(-20, -20, 20, 20);
  const bool vertical = ErrorStyle >= esTop;
  const int half = capWidth(vertical) / 2;
  const bool bars = ErrorPenVisible && ErrorPen.style() != Qt::NoPen;
  const int mh = MarkerHorizSize;
  const int mv = MarkerVertSize;

  std::vector<QLine> lines;
  lines.reserve(std::min<std::size_t>(xs_.size() * 4, 1u << 16));
  std::vector<QRect> marks;
  QRgb markColour = colours_.front();

  auto flushLines = [&] {
    if (lines.empty())
      return;
    painter->setPen(ErrorPen);
    painter->setBrush(Qt::NoBrush);
    painter->drawLines(lines.data(), static_cast<int>(lines.size()));
    lines.clear();
  };
  auto flushMarks = [&] {
    if (marks.empty())
      return;
    painter->setPen(QPen(SeriesColour));
    painter->setBrush(QColor::fromRgb(markColour));
    painter->drawRects(marks.data(), static_cast<int>(marks.size()));
    marks.clear();
  };

  // The previous point's pixel position and bar: a point that would paint
  // the very same pixels in the same colour is passed over, so a million
  // points on a few hundred pixel columns cost a few hundred bars.
  int prevX = std::numeric_limits<int>::min(), prevY = 0, prevL = 0;
  QRgb prevColour = 0;

  // Linear axes map a value to a pixel by one multiply and add; other
  // scales ask the axis.
  const bool linear = kx->scaleType() == QCPAxis::stLinear && vy->scaleType() == QCPAxis::stLinear;
  const double kx0 = kx->range().lower, vy0 = vy->range().lower;
  const double kp0 = kx->coordToPixel(kx0), vp0 = vy->coordToPixel(vy0);
  const double kslope = kx->range().size() != 0
                            ? (kx->coordToPixel(kx->range().upper) - kp0) / kx->range().size()
                            : 0.0;
  const double vslope = vy->range().size() != 0
                            ? (vy->coordToPixel(vy->range().upper) - vp0) / vy->range().size()
                            : 0.0;
  auto xpixel = [&](double x) { return linear ? kp0 + (x - kx0) * kslope : kx->coordToPixel(x); };
  auto ypixel = [&](double y) { return linear ? vp0 + (y - vy0) * vslope : vy->coordToPixel(y); };
  // The nearest pixel, halves up, for |p| below 2^23 (the callers keep it
  // there): truncating a positive number is its floor, without a call of
  // floor() per point.
  auto near = [](double p) { return static_cast<int>(p + 8388608.5) - 8388608; };

  for (std::size_t i = 0; i < xs_.size(); ++i) {
    const double px = xpixel(xs_[i]);
    const double py = ypixel(ys_[i]);
    if (!std::isfinite(px) || !std::isfinite(py))
      continue;
    if (px < clip.left() - 1e6 || px > clip.right() + 1e6 || py < clip.top() - 1e6 ||
        py > clip.bottom() + 1e6)
      continue; // far outside: also keeps the int conversion below in range
    const int X = near(px);
    const int Y = near(py);
    const double e = ErrorValues[i];
    double end = vertical ? ypixel(ys_[i] + e) : xpixel(xs_[i] + e);
    end = std::clamp(end, -4e6, 4e6);
    int L = (vertical ? Y : X) - (std::isfinite(end) ? near(end) : (vertical ? Y : X));
    L = std::clamp(L, -100000, 100000);
    // The horizontal bar of an x error, its two ends in pixels.
    const double ex = i < XErrorValues.size() ? XErrorValues[i] : 0.0;
    int XL = X, XR = X;
    if (ex > 0) {
      XL = static_cast<int>(std::clamp(kx->coordToPixel(xs_[i] - ex), X - 1e5, X + 1e5));
      XR = static_cast<int>(std::clamp(kx->coordToPixel(xs_[i] + ex), X - 1e5, X + 1e5));
    }

    const int reach = std::max({std::abs(L), std::abs(X - XL), std::abs(XR - X)}) + half + mh + mv;
    if (X + reach < clip.left() || X - reach > clip.right() || Y + reach < clip.top() ||
        Y - reach > clip.bottom())
      continue;
    if (X == prevX && Y == prevY && L == prevL && XL == X && XR == X && colours_[i] == prevColour)
      continue;
    prevX = X;
    prevY = Y;
    prevL = L;
    prevColour = colours_[i];

    if (colours_[i] != markColour) {
      flushMarks();
      markColour = colours_[i];
    }
    marks.emplace_back(X - mh, Y - mv, 2 * mh, 2 * mv);

    if (!bars)
      continue;
    ++lastDrawnBars_;
    auto vbar = [&](int P) {
      lines.emplace_back(X, Y, X, P);
      lines.emplace_back(X - half, P, X + half, P);
    };
    auto hbar = [&](int P) {
      lines.emplace_back(X, Y, P, Y);
      lines.emplace_back(P, Y - half, P, Y + half);
    };
    switch (ErrorStyle) {
    case esLeft:
      hbar(X + L);
      break;
    case esRight:
      hbar(X - L);
      break;
    case esLeftRight:
      hbar(X + L);
      hbar(X - L);
      break;
    case esTop:
      vbar(Y - L);
      break;
    case esBottom:
      vbar(Y + L);
      break;
    default:
      vbar(Y - L);
      vbar(Y + L);
      break;
    }
    if (ex > 0) {
      hbar(XL);
      hbar(XR);
    }
    if (lines.size() >= (1u << 16)) {
      // Keep the bars above their markers: draw the markers gathered so far first.
      flushMarks();
      flushLines();
    }
  }
  flushMarks();
  flushLines();
}

void TErrPointSeries::drawLegendIcon(QCPPainter *painter, const QRectF &rect) const {
  const QPointF c = rect.center();
  painter->setPen(ErrorPen);
  const double h = rect.height() * 0.4;
  painter->drawLine(QLineF(c.x(), c.y() - h, c.x(), c.y() + h));
  painter->drawLine(QLineF(c.x() - 2, c.y() - h, c.x() + 2, c.y() - h));
  painter->drawLine(QLineF(c.x() - 2, c.y() + h, c.x() + 2, c.y() + h));
  painter->setPen(QPen(SeriesColour));
  painter->setBrush(SeriesColour);
  painter->drawRect(QRectF(c.x() - 1, c.y() - 1, 2, 2));
}

} // namespace orvalle
