// The plotter's project files: what it holds, written as a project, and a
// new plotter made again from one, every fit fitted anew.
#include <QComboBox>
#include <QFont>
#include <QMdiSubWindow>
#include <QSaveFile>
#include <QScopeGuard>
#include <QSlider>
#include <algorithm>
#include <cmath>

#include "engine/bfit.h"
#include "engine/fittexts.h"
#include "engine/formula.h"
#include "engine/multfit.h"
#include "frame/frameapi.h"
#include "plotter/charts.h"
#include "plotter/controls.h"
#include "plotter/errpointseries.h"
#include "plotter/tfit.h"

namespace orvalle {

namespace {

project::rgb rgbOf(const QColor &c) { return {c.red(), c.green(), c.blue()}; }
project::rgb rgbOf(colour c) { return {(c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF}; }
QColor qcolourOf(const project::rgb &c) { return QColor(c.r, c.g, c.b); }

std::vector<double> valuesOf(const rowref &r) {
  return r ? std::vector<double>(r->data.begin(), r->data.begin() + r->n) : std::vector<double>();
}

// "fits[2] "Dataset a -- Linear (y=ax+b)"": the place of a failure.
std::string placeOf(const char *list, std::size_t i, const std::string &name) {
  return std::string(list) + "[" + std::to_string(i) + "] \"" + name + "\"";
}

} // namespace

void TFit::setUnsaved(bool on) {
  Unsaved = on;
  // The mark is the frame window's caption only; the plotter's own caption,
  // which its log lines name, stays as it is.
  if (auto *sub = qobject_cast<QMdiSubWindow *>(parentWidget()))
    sub->setWindowTitle(on ? windowTitle() + QStringLiteral(" *") : windowTitle());
}

namespace {

std::vector<std::vector<double>> gridColumns(const numericgrid &grid) {
  std::vector<std::vector<double>> columns;
  for (int c = 0; c < grid.colcount(); ++c) {
    std::vector<double> column;
    column.reserve(static_cast<std::size_t>(std::max(0, grid.rowcount() - 1)));
    for (int r = 1; r < grid.rowcount(); ++r)
      column.push_back(grid.value(c, r));
    columns.push_back(std::move(column));
  }
  return columns;
}

// The fits in their order, each with its dataset and colour now, and the
// multi fits they belong to, numbered in the order they appear.
void fitRecords(const TFit &plot, project::model &m) {
  std::map<int, int> groups; // index in MultiSources -> in the file
  for (unsigned i = 0; i < plot.Fits.count; ++i) {
    const bfit *fit = plot.Fits.at(i)->obj;
    const auto found = plot.FitSources.find(fit);
    if (found == plot.FitSources.end())
      continue; // not made by this plotter's commands: nothing describes it
    project::fitrecord f = found->second;
    f.dataset = plot.Datasets.indexof(fit->data);
    if (const auto *h = dynamic_cast<const graphhandle *>(fit->curve.get()); h && h->graph())
      f.colour = rgbOf(h->graph()->pen().color());
    if (f.multifit >= 0) {
      const auto [g, added] = groups.try_emplace(f.multifit, static_cast<int>(m.multifits.size()));
      if (added)
        m.multifits.push_back(plot.MultiSources.at(static_cast<std::size_t>(f.multifit)));
      f.multifit = g->second;
    }
    m.fits.push_back(std::move(f));
  }
}

project::datasetrecord datasetRecord(const TFit &plot, unsigned i) {
  const dataset &d = *plot.Datasets.at(i)->obj;
  project::datasetrecord r =
      i < plot.DatasetSources.size() ? plot.DatasetSources[i] : project::datasetrecord{};
  r.name = d.name;
  if (plot.TaggedLayout) {
    r.tag = d.tag ? std::string(1, d.tag) : std::string();
    r.x = valuesOf(d.x);
    r.y = valuesOf(d.y);
    r.yerr = valuesOf(d.yerr);
    if (d.hasxerrors())
      r.xerr = valuesOf(d.xerr);
  }
  if (d.dcolour)
    r.colour = rgbOf(*d.dcolour);
  if (const TErrPointSeries *s = TFit::errorSeries(d.series.get()))
    r.seriescolour = rgbOf(s->SeriesColour);
  const bfit *current = d.currentfit();
  r.currentfit = current ? plot.Fits.indexof(current) : -1;
  return r;
}

} // namespace

project::model TFit::ProjectModel() const {
  project::model m;
  m.file = FileName.toStdString();
  m.caption = windowTitle().toStdString();
  m.tagged = TaggedLayout;
  if (!TaggedLayout)
    m.columns = gridColumns(StringGridModel->grid());
  // Fits first, so that a dataset can name its current one.
  fitRecords(*this, m);
  for (unsigned i = 0; i < Datasets.count; ++i)
    m.datasets.push_back(datasetRecord(*this, i));

  project::chartrecord &c = m.chart;
  c.title = MChart->titleText().toStdString();
  c.xtitle = XAxisTitle.toStdString();
  c.ytitle = YAxisTitle.toStdString();
  c.xlow = XLow, c.xhigh = XHigh, c.ylow = YLow, c.yhigh = YHigh;
  c.logx = LogX, c.logy = LogY, c.legend = ShowLegend;
  c.xgrid = MChart->xAxis->grid()->visible();
  c.ygrid = MChart->yAxis->grid()->visible();
  c.band = Band;
  c.titlefont = MChart->title()->font().toString().toStdString();
  c.axistitlefont = MChart->xAxis->labelFont().toString().toStdString();
  c.titlefontsize = TitleFontSize;
  c.labelfontsize = LabelFontSize;
  c.trackbar = TrackBar->value();
  return m;
}

void TFit::SaveProject(const QString &fileName) {
  const std::string text = project::write(ProjectModel());
  // Written beside the old file and put in its place only when complete.
  QSaveFile file(fileName);
  if (!file.open(QIODevice::WriteOnly))
    throw project::project_error(file.errorString().toStdString());
  if (file.write(text.data(), static_cast<qint64>(text.size())) !=
          static_cast<qint64>(text.size()) ||
      !file.commit())
    throw project::project_error(file.errorString().toStdString());
  ProjectFile = fileName;
  setUnsaved(false);
}

namespace {

// The datasets of a tagged project, made as the conversion makes them.
std::vector<std::unique_ptr<dataset>> taggedDatasets(const project::model &m) {
  std::vector<rowref> none;
  std::vector<std::unique_ptr<dataset>> sets;
  for (std::size_t i = 0; i < m.datasets.size(); ++i) {
    const project::datasetrows rows = project::rowsof(m, i, none);
    auto d = std::make_unique<dataset>(true);
    d->name = m.datasets[i].name;
    d->tag = m.datasets[i].tag.empty() ? 0 : m.datasets[i].tag[0];
    d->x = rows.x, d->y = rows.y, d->yerr = rows.yerr, d->xerr = rows.xerr;
    d->pointcount = d->filledcount = d->x->n;
    sets.push_back(std::move(d));
  }
  return sets;
}

// The grid of a column project; NaN leaves a cell empty.
numericgrid projectGrid(const project::model &m) {
  numericgrid grid;
  const int rows = m.columns.empty() ? 1 : static_cast<int>(m.columns.front().size()) + 1;
  grid.grow(std::max<int>(1, static_cast<int>(m.columns.size())), std::max(2, rows));
  for (std::size_t c = 0; c < m.columns.size(); ++c)
    for (std::size_t r = 0; r < m.columns[c].size(); ++r)
      if (std::isfinite(m.columns[c][r]))
        grid.set(static_cast<int>(c), static_cast<int>(r) + 1, m.columns[c][r]);
  return grid;
}

// Colours as they were: each dataset's points, each fit's curve, and which
// fit a dataset's recolouring follows.
void restoreColours(TFit &plot, const project::model &m) {
  for (std::size_t i = 0; i < m.datasets.size(); ++i) {
    dataset *d = plot.Datasets.at(static_cast<unsigned>(i))->obj;
    const project::datasetrecord &r = m.datasets[i];
    d->dcolour = fromQColor(qcolourOf(r.colour));
    if (TErrPointSeries *s = TFit::errorSeries(d->series.get()))
      s->SetSeriesColour(qcolourOf(r.seriescolour));
    const bool listed = r.currentfit >= 0 && r.currentfit < static_cast<int>(plot.Fits.count);
    bfit *current = listed ? plot.Fits.at(static_cast<unsigned>(r.currentfit))->obj : nullptr;
    if (d->currentfit() != current)
      d->attach(current);
  }
  for (std::size_t i = 0; i < m.fits.size() && i < plot.Fits.count; ++i) {
    bfit *fit = plot.Fits.at(static_cast<unsigned>(i))->obj;
    const colour c = fromQColor(qcolourOf(m.fits[i].colour));
    if (fit->curve)
      fit->curve->setseriescolour(c);
    if (fit->devpoints)
      fit->devpoints->setseriescolour(c);
  }
}

} // namespace

void TFit::OpenProjectModel(const project::model &m) {
  setChartTitle(QString::fromStdString(m.chart.title));
  setFileName(QString::fromStdString(m.file));
  setCaption(QString::fromStdString(m.caption));

  if (m.tagged) {
    takeDatasets(taggedDatasets(m));
    SetUpData(true);
  } else {
    takeGrid(projectGrid(m));
    try {
      SetUpData(false);
    } catch (const std::exception &) {
      // A grid with an empty cell stops its set-up where the data text
      // did; the columns read before it are the ones the datasets use.
    }
    // A three-column file has made its first dataset already.
    for (std::size_t i = Datasets.count; i < m.datasets.size(); ++i) {
      const std::string where = placeOf("datasets", i, m.datasets[i].name);
      try {
        addDatasetFrom(m.datasets[i]);
      } catch (const std::exception &e) {
        throw project::project_error(where + ": " + e.what());
      }
      if (Datasets.count != i + 1)
        throw project::project_error(where + ": the dataset could not be made");
    }
  }
  if (Datasets.count != m.datasets.size())
    throw project::project_error("the project holds " + std::to_string(m.datasets.size()) +
                                 " datasets, and " + std::to_string(Datasets.count) +
                                 " were made from its numbers");
  {
    Replaying = true;
    const auto drawn = qScopeGuard([this] { Replaying = false; });
    replayFits(m);
  }
  restoreColours(*this, m);
  applyChart(m.chart);
  setUnsaved(false);
}

void TFit::replayFits(const project::model &m) {
  std::size_t i = 0;
  while (i < m.fits.size()) {
    const project::fitrecord &f = m.fits[i];
    const std::string where = placeOf("fits", i, f.name);
    if (f.multifit < 0) {
      std::unique_ptr<bfit> fit;
      try {
        fit = project::makefitof(f, frame().plugin());
      } catch (const std::exception &e) {
        throw project::project_error(where + ": " + e.what());
      }
      fit->name = f.name;
      const auto before = Fits.count;
      try {
        placeFit(std::move(fit), datasetAt(f.dataset), f.gauss, f);
      } catch (const std::exception &e) {
        throw project::project_error(where + texts::kFailedAgain + " (" + e.what() + ")");
      }
      if (Fits.count != before + 1)
        throw project::project_error(where + texts::kFailedAgain);
      ++i;
      continue;
    }
    // A multi fit: all its lines are fitted together, and the lines the
    // user had deleted go again.
    const project::multirecord &r = m.multifits.at(static_cast<std::size_t>(f.multifit));
    const auto first = Fits.count;
    try {
      runMultiFit(r.kind, r.name, r.gauss);
    } catch (const std::exception &e) {
      throw project::project_error(where + ": the multi fit failed again (" + e.what() + ")");
    }
    std::vector<bool> kept(Fits.count - first, false);
    std::size_t j = i;
    for (; j < m.fits.size() && m.fits[j].multifit == f.multifit; ++j)
      kept.at(static_cast<std::size_t>(m.fits[j].line)) = true;
    for (std::size_t line = kept.size(); line-- > 0;) {
      if (kept[line])
        continue;
      const unsigned at = static_cast<unsigned>(first + line);
      bfit *gone = Fits.at(at)->obj;
      FitSources.erase(gone);
      RemoveBand(gone);
      Fits.removeat(at);
      CBoxDetails->removeItem(static_cast<int>(at));
    }
    i = j;
  }
  CBoxDetails->setCurrentIndex(CBoxDetails->count() - 1);
  CBoxDetailsChange();
}

void TFit::applyChart(const project::chartrecord &c) {
  XAxisTitle = QString::fromStdString(c.xtitle);
  YAxisTitle = QString::fromStdString(c.ytitle);
  MChart->setTitleText(QString::fromStdString(c.title));
  QFont font;
  if (!c.titlefont.empty() && font.fromString(QString::fromStdString(c.titlefont))) {
    MChart->title()->setFont(font);
    font.setPointSize(std::max(1, font.pointSize() - 2));
    DevChart->title()->setFont(font);
  }
  if (!c.axistitlefont.empty() && font.fromString(QString::fromStdString(c.axistitlefont)))
    for (QCPAxis *a : {MChart->xAxis, MChart->yAxis, DevChart->xAxis, DevChart->yAxis})
      a->setLabelFont(font);
  if (c.titlefontsize > 0)
    TitleFontSize = c.titlefontsize;
  if (c.labelfontsize > 0)
    LabelFontSize = c.labelfontsize;
  MChart->xAxis->grid()->setVisible(c.xgrid);
  DevChart->xAxis->grid()->setVisible(c.xgrid);
  MChart->yAxis->grid()->setVisible(c.ygrid);
  DevChart->yAxis->grid()->setVisible(c.ygrid);
  ShowLegend = c.legend;
  Band = c.band;
  showPage(3);
  // A logarithmic axis the data cannot have is refused and logged; its
  // limits then stay those of the linear axis.
  const bool logx = SetLogAxis(true, c.logx);
  const bool logy = SetLogAxis(false, c.logy);
  if (logx && (!c.logx || c.xlow > 0))
    XLow = c.xlow, XHigh = c.xhigh;
  if (logy && (!c.logy || c.ylow > 0))
    YLow = c.ylow, YHigh = c.yhigh;
  if (Datasets.count > 0) {
    TrackBar->setMaximum(static_cast<int>(Datasets.count) - 1);
    TrackBar->setValue(std::clamp(c.trackbar, 0, static_cast<int>(Datasets.count) - 1));
    TrackBarChange();
  }
  RedrawCharts();
  RestoreChartFonts();
}

} // namespace orvalle
