// Chart drawing: the axis ranges from the datasets (Replot), the rescaling
// that keeps axis labels short, and the filling of both charts.
#include <QTabWidget>
#include <cmath>
#include <tuple>
#include <utility>

#include "engine/bfit.h"
#include "frame/frameapi.h"
#include "plotter/charts.h"
#include "plotter/controls.h"
#include "plotter/errpointseries.h"
#include "plotter/tfit.h"

namespace orvalle {

namespace {

constexpr int kChartPage = 3;

// v * 10^m with an exact power of ten: a negative m divides by 10^-m, so
// that, for instance, 1200 * 10^-2 gives 12 and not 11.999...
double times10(double v, int m) { return m >= 0 ? v * std::pow(10.0, m) : v / std::pow(10.0, -m); }

// One axis of the rescaling: returns the note for the axis title.
struct axisscale {
  double scale = 1.0;
  double offset = 0.0;
  QString suffix;
};

axisscale rescaleaxis(double low, double high, bool xrule, const QString &letter) {
  axisscale a;
  bool note = false;
  const double d = high - low;
  int k = d != 0 ? static_cast<int>(std::floor(slog10(d))) : 0;
  if (k * k > 16) {
    a.scale = std::pow(10.0, k);
    note = a.scale != 1.0;
  }
  if (xrule && k == 0)
    k = 1;
  // Equal limits (allowed by the titles window) have no spread to compare
  // the low limit with: no offset then, rather than a logarithm of zero.
  if (low != 0 && d != 0 && slog10(low) - slog10(d) > 0.7) {
    const int e = k > 0 ? -1 : 1;
    if (xrule) {
      const int s = ((k + e) % 2 == 0) ? 1 : -1;
      a.offset = times10(std::floor(times10(low, s - k)), k + e);
    } else {
      a.offset = times10(std::floor(times10(low, e - k)), k - e);
    }
    if (a.offset != 0)
      note = true;
  }
  if (note) {
    a.suffix = QStringLiteral(" { ");
    if (a.offset != 0)
      a.suffix += QString::fromStdString(generaltext(a.offset, 15, ShownSeparator())) +
                  QStringLiteral(" + ");
    a.suffix += letter;
    if (a.scale != 1.0)
      a.suffix += QStringLiteral(" * ") +
                  QString::fromStdString(generaltext(a.scale, 15, ShownSeparator()));
    a.suffix += QStringLiteral(" }");
  }
  return a;
}

// Data values to the numbers the rescaled axes show.
struct axismap {
  double xoffset, xscale, yoffset, yscale;
  double u(double x) const { return (x - xoffset) / xscale; }
  double v(double y) const { return (y - yoffset) / yscale; }
};

// The fit's curve on a logarithmic x axis: 200 steps of equal ratio, so
// that every decade is drawn as finely; on a logarithmic y axis a value at
// or below zero breaks the line.
void drawlogcurve(bfit &fit, double low, double high, const axismap &m, bool logy) {
  const double ratio = std::pow(high / low, 0.005);
  if (!(low > 0) || !(ratio > 1) || !std::isfinite(ratio))
    return;
  for (int k = 0; k <= 200; ++k) {
    const double x = k == 200 ? high : low * std::pow(ratio, k);
    const double y = fit.value(x);
    fit.curve->addpoint(m.u(x), logy && !(y > 0) ? std::nan("") : m.v(y));
  }
}

// The fit's curve from low to high in steps of a two-hundredth of the
// range.
void drawcurve(bfit &fit, double low, double high, const axismap &m, bool logx, bool logy) {
  fit.curve->clear();
  if (logx) {
    drawlogcurve(fit, low, high, m, logy);
    return;
  }
  const double h = low != 0 ? (high / low - 1) * low * 0.005 : 0.005 * high;
  // The loop relies on x growing by h: when h no longer moves x (a range
  // far below the precision of its limits) or is not positive, it stops.
  if (!(h > 0 && std::isfinite(h)))
    return;
  int guard = 0;
  for (double x = low; x < high && guard < 100000; ++guard) {
    const double y = fit.value(x);
    fit.curve->addpoint(m.u(x), logy && !(y > 0) ? std::nan("") : m.v(y));
    const double next = x + h;
    if (!(next > x))
      break;
    x = next;
  }
}

// The fit's deviations: each point's distance from the curve with its
// error, in the colour of the dataset's series. A fit with x errors shows
// each point's effective error.
void drawdeviations(bfit &fit, const axismap &m) {
  const dataset &d = *fit.data;
  if (!d.x || !d.y || !d.yerr)
    return;
  fit.devpoints->clear();
  if (TErrPointSeries *own = TFit::errorSeries(d.series.get()))
    fit.devpoints->setseriescolour(fromQColor(own->SeriesColour));
  const colour pointcolour = d.dcolour.value_or(0);
  if (TErrPointSeries *dev = TFit::errorSeries(fit.devpoints.get()))
    dev->reserve(static_cast<std::size_t>(d.x->n));
  for (int i = 0; i < d.x->n; ++i) {
    const double xi = (*d.x)[i];
    const double e = fit.xweights ? fit.effectiveerror(i) : (*d.yerr)[i];
    fit.devpoints->adderrorpoint(m.u(xi), ((*d.y)[i] - fit.value(xi)) / m.yscale, e / m.yscale,
                                 pointcolour);
  }
}

// The whole decades around [low, high] (both above zero): 10^floor and
// 10^ceil of their logarithms, at least one decade apart.
std::pair<double, double> decades(double low, double high) {
  const double a = std::floor(std::log10(low));
  double b = std::ceil(std::log10(high));
  if (b <= a)
    b = a + 1;
  return {std::pow(10.0, a), std::pow(10.0, b)};
}

// The smallest value and the largest value plus its error over every
// dataset's x (or y) values, for a logarithmic axis.
std::pair<double, double> logrange(const ownedlist<dataset> &sets, bool xaxis) {
  double low = HUGE_VAL, high = -HUGE_VAL;
  sets.each([&](const dataset *d) {
    const drow *v = xaxis ? d->x.get() : d->y.get();
    const drow *e = xaxis ? d->xerr.get() : d->yerr.get();
    if (!v)
      return;
    for (int i = 0; i < v->n; ++i) {
      low = std::min(low, (*v)[i]);
      high = std::max(high, (*v)[i] + (e && i < e->n ? (*e)[i] : 0.0));
    }
  });
  return {low, high};
}

} // namespace

QString TFit::LogAxisRefusal(bool xaxis) const {
  const auto [low, high] = logrange(Datasets, xaxis);
  if (Datasets.count == 0 || !(low > 0) || !std::isfinite(high))
    return xaxis ? QStringLiteral("A logarithmic x axis needs every x value above zero: the x "
                                  "axis stays linear")
                 : QStringLiteral("A logarithmic y axis needs every y value above zero: the y "
                                  "axis stays linear");
  return QString();
}

bool TFit::SetLogAxis(bool xaxis, bool on) {
  bool &flag = xaxis ? LogX : LogY;
  if (flag == on)
    return true;
  if (on) {
    const QString why = LogAxisRefusal(xaxis);
    if (!why.isEmpty()) {
      frame().LogEvent(kLogPlain, true, why);
      return false;
    }
  }
  flag = on;
  // Limits that a logarithmic axis cannot show are chosen anew from the
  // data, in whole decades; a linear axis gets its usual limits back.
  const double low = xaxis ? XLow : YLow;
  if (!on || !(low > 0)) {
    Replot();
  } else {
    RedrawCharts();
  }
  return true;
}

void TFit::Replot() {
  if (Datasets.count == 0)
    return;
  double xmin = 0, xmax = 0, ymin = 0, ymax = 0;
  bool first = true;
  Datasets.each([&](dataset *d) {
    if (!d->x || d->x->n == 0 || !d->y || !d->yerr)
      return;
    const double lx = d->minleft(), hx = d->maxright(), ly = d->minbottom(), hy = d->maxtop();
    if (first) {
      xmin = lx, xmax = hx, ymin = ly, ymax = hy;
      first = false;
    } else {
      xmin = std::min(xmin, lx), xmax = std::max(xmax, hx);
      ymin = std::min(ymin, ly), ymax = std::max(ymax, hy);
    }
  });
  if (first)
    return;
  const double dx = xmax - xmin;
  const double dy = ymax - ymin;
  // A range of zero (all x equal) or a non-finite one is an arithmetic
  // fault: the limits keep their values and nothing is redrawn.
  if (!(dx > 0) || !(dy > 0) || !std::isfinite(dx) || !std::isfinite(dy))
    return;
  const int kx = -static_cast<int>(std::floor(std::log10(dx)));
  const int ky = -static_cast<int>(std::floor(std::log10(dy)));
  auto low = [](double v, int k) { return times10(std::floor(times10(v, k + 1)), -(k + 1)); };
  auto high = [](double v, int k) { return times10(std::ceil(times10(v, k + 1)), -(k + 1)); };
  const double xl = low(xmin - 0.05 * dx, kx), xh = high(xmax + 0.05 * dx, kx);
  const double yl = low(ymin - 0.05 * dy, ky), yh = high(ymax + 0.05 * dy, ky);
  if (!std::isfinite(xl) || !std::isfinite(xh) || !std::isfinite(yl) || !std::isfinite(yh))
    return;
  XLow = xl, XHigh = xh, YLow = yl, YHigh = yh;
  if (LogX && LogAxisRefusal(true).isEmpty())
    std::tie(XLow, XHigh) =
        decades(logrange(Datasets, true).first, logrange(Datasets, true).second);
  if (LogY && LogAxisRefusal(false).isEmpty())
    std::tie(YLow, YHigh) =
        decades(logrange(Datasets, false).first, logrange(Datasets, false).second);
  RedrawCharts();
}

void TFit::RedrawCharts() {
  if (PageControl->currentIndex() != kChartPage || Replaying)
    return;

  // Rescale both axes; a logarithmic axis shows its values as they are.
  const axisscale ax = LogX ? axisscale{} : rescaleaxis(XLow, XHigh, true, QStringLiteral("X"));
  const axisscale ay = LogY ? axisscale{} : rescaleaxis(YLow, YHigh, false, QStringLiteral("Y"));
  MChart->setLogarithmic(MChart->xAxis, LogX);
  MChart->setLogarithmic(MChart->yAxis, LogY);
  DevChart->setLogarithmic(DevChart->xAxis, LogX);
  XScale = ax.scale, XOffset = ax.offset, XAxisSuffix = ax.suffix;
  YScale = ay.scale, YOffset = ay.offset, YAxisSuffix = ay.suffix;
  const axismap shown{XOffset, XScale, YOffset, YScale};

  // The zero line across the x range.
  ZeroLine->clear();
  ZeroLine->setseriescolour(0x000000);
  ZeroLine->addpoint(shown.u(XLow), 0.0);
  ZeroLine->addpoint(shown.u(XHigh), 0.0);

  // Every fit's curve across the axis range, and its deviations.
  Fits.each([&](bfit *fit) {
    if (!fit || !fit->data)
      return;
    if (fit->curve)
      drawcurve(*fit, XLow, XHigh, shown, LogX, LogY);
    if (fit->devpoints)
      drawdeviations(*fit, shown);
  });

  // Every dataset's points, blue on its series' colour.
  Datasets.each([&](dataset *d) {
    if (d->x && d->y && d->yerr)
      fillSeries(*d, QColor(0, 0, 255), true);
  });

  // Axis titles with their notes; both axes of the main chart fixed.
  MChart->xAxis->setLabel(XAxisTitle + XAxisSuffix);
  MChart->yAxis->setLabel(YAxisTitle + YAxisSuffix);
  MChart->yAxis->setRange(shown.v(YLow), shown.v(YHigh));
  MChart->xAxis->setRange(shown.u(XLow), shown.u(XHigh));

  DrawBands();
  ShowLegendAsChosen();

  // The deviations chart's value axis is automatic; its bottom axis follows
  // the main chart's.
  DevChart->yAxis->rescale(true);
  DevChart->xAxis->setRange(MChart->xAxis->range());
  MChart->replot();
  DevChart->replot();
}

void TFit::RemoveBand(const bfit *fit) {
  for (auto it = Bands.begin(); it != Bands.end();) {
    if (it->fit == fit) {
      for (QCPGraph *g : {it->upper.data(), it->lower.data()})
        if (g)
          MChart->removeGraph(g);
      it = Bands.erase(it);
    } else {
      ++it;
    }
  }
}

void TFit::DrawBand(bfit &fit) {
  const auto *curve = dynamic_cast<const graphhandle *>(fit.curve.get());
  if (!curve || !curve->graph())
    return;
  // A fit without a covariance (the plug-in's own model) has no band.
  const auto band = confidenceband(fit, Band, XLow, XHigh, 201, LogX);
  if (band.empty() || std::isnan(band.front().lower))
    return;
  auto *lower = new QCPGraph(MChart->xAxis, MChart->yAxis); // owned by the chart
  auto *upper = new QCPGraph(MChart->xAxis, MChart->yAxis);
  for (QCPGraph *g : {lower, upper}) {
    g->setLayer(QStringLiteral("band"));
    g->setPen(Qt::NoPen);
    g->setSelectable(QCP::stNone);
    g->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssNone));
  }
  QColor colour = curve->graph()->pen().color();
  colour.setAlpha(60);
  upper->setBrush(colour);
  upper->setChannelFillGraph(lower);
  // A log y axis shows no edge at or below zero: the band breaks there.
  const axismap shown{XOffset, XScale, YOffset, YScale};
  auto shownY = [&](double y) { return LogY && !(y > 0) ? std::nan("") : shown.v(y); };
  for (const bandpoint &p : band) {
    lower->addData(shown.u(p.x), shownY(p.lower));
    upper->addData(shown.u(p.x), shownY(p.upper));
  }
  Bands.push_back({&fit, upper, lower});
}

void TFit::DrawBands() {
  for (const BandGraphs &b : Bands)
    for (QCPGraph *g : {b.upper.data(), b.lower.data()})
      if (g)
        MChart->removeGraph(g);
  Bands.clear();
  if (Band == bandlevel::none)
    return;
  // Bands lie on a layer of their own under the points and curves.
  if (!MChart->layer(QStringLiteral("band")))
    MChart->addLayer(QStringLiteral("band"), MChart->layer(QStringLiteral("main")),
                     QCustomPlot::limBelow);
  Fits.each([&](bfit *fit) {
    if (fit)
      DrawBand(*fit);
  });
}

bool TFit::ShowLegendAsChosen() {
  std::vector<Chart::LegendEntry> entries;
  if (ShowLegend) {
    const QFont font = MChart->legend->font();
    Datasets.each([&](dataset *d) {
      if (TErrPointSeries *s = errorSeries(d->series.get())) {
        // The one dataset of a three-column file has no name.
        const QString name =
            d->name.empty() ? QStringLiteral("Data") : QString::fromStdString(d->name);
        entries.push_back({s, Chart::legendText(name, font)});
      }
    });
    Fits.each([&](bfit *f) {
      // A line of a failed multi fit has no curve and is not named.
      const auto *h = dynamic_cast<const graphhandle *>(f ? f->curve.get() : nullptr);
      if (h && h->graph())
        entries.push_back({h->graph(), Chart::legendText(QString::fromStdString(f->name), font)});
    });
  }
  bool changed = MChart->placeLegend(entries);
  if (DevChart->legend->visible()) {
    DevChart->legend->setVisible(false);
    changed = true;
  }
  changed = DevChart->reserveRight(MChart->legendColumnWidth()) || changed;
  return changed;
}

} // namespace orvalle
