// The fitting front end of the plotter: the "Add Fits/TrendLines " page
// (trend type, estimates, dataset, name, single and multi fits) and the fit
// details on "View Chart" (chi-square, degrees of freedom, limits, delete).
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <algorithm>
#include <array>
#include <cmath>
#include <memory>

#include "datatext/conversion.h"
#include "engine/bfit.h"
#include "engine/fittexts.h"
#include "engine/formula.h"
#include "engine/information.h"
#include "engine/multfit.h"
#include "engine/trendtypes.h"
#include "frame/frameapi.h"
#include "plotter/charts.h"
#include "plotter/controls.h"
#include "plotter/errpointseries.h"
#include "plotter/formulapanel.h"
#include "plotter/tfit.h"

namespace orvalle {

namespace {

constexpr int kChartPage = 3;
constexpr int kFitPoints = 1000;

const char *const kBadEstimates = "Unable To Convert Estimates To Numbers";

QString qs(const std::string &s) { return QString::fromStdString(s); }

// The decimal separator of shown numbers: the user's locale's, when it is a
// single plain character.
char shownSeparator() {
  const QString point = QLocale().decimalPoint();
  if (point.size() == 1 && point.at(0).unicode() < 128)
    return point.at(0).toLatin1();
  return '.';
}

QString joinLines(const stringlist &lines) {
  QStringList out;
  out.reserve(static_cast<qsizetype>(lines.size()));
  for (const std::string &l : lines)
    out << qs(l);
  return out.join(QLatin1Char('\n'));
}

// The line of chi-square limits shown as the hint of the details values.
// A fit with no degrees of freedom left has no limits.
QString limitsLine(const bfit &fit, char separator) {
  static constexpr const char *kLabels[4] = {
      "Chi-Squared Limits 5% : ", ", 20% : ", ", 80% : ", ", 95% : "};
  const chilimitset limits = bfit::chilimits(fit.dof());
  QString line;
  for (int i = 0; i < 4; ++i) {
    line += QLatin1String(kLabels[i]);
    const double l = limits[static_cast<std::size_t>(i)];
    line += fit.hasverdict() && std::isfinite(l) ? qs(generaltext(l, 4, separator))
                                                 : QStringLiteral("n/a");
  }
  return line;
}

bfit *fitAt(const ownedlist<bfit> &fits, int i) {
  if (i < 0 || i >= static_cast<int>(fits.count))
    return nullptr;
  return fits.at(static_cast<unsigned>(i))->obj;
}

// Takes the newest attachment off the dataset when it is `fit`, so that
// the dataset's current fit is the one it had before.
void detach(dataset &d, const bfit *fit) {
  if (d.fits.head && d.fits.head->obj == fit)
    d.fits.takeat(d.fits.count - 1);
}

} // namespace

// ---------------------------------------------------------------------------
// Trend type, estimates, dataset and name.

void TFit::ShowEstimates(int n) {
  if (n == 0) {
    Estimates->setVisible(false);
    Estimates->setEnabled(false);
    return;
  }
  Estimates->setVisible(true);
  Estimates->setEnabled(true);
  QLineEdit *const boxes[] = {EstA, EstB, EstC, EstD, EstE};
  QLabel *const labels[] = {estlA, estlB, estlC, estlD, estlE};
  for (int i = 0; i < 5; ++i) {
    const bool on = n >= i + 1;
    boxes[i]->setVisible(on);
    boxes[i]->setEnabled(on);
    labels[i]->setVisible(on);
  }
}

void TFit::CheckPointCount() {
  const int chosen = TrDataset->currentIndex();
  if (chosen < 0)
    return;
  const int index = TrType->itemIndex();
  if (index < 0 || index >= static_cast<int>(TrendTypes.size()))
    return;
  const dataset *d = datasetAt(chosen);
  if (!d)
    return;
  const trendtype type = TrendTypes[static_cast<std::size_t>(index)];
  AddTr->setEnabled(true);
  const int points = d->x ? d->x->n : 0;
  if (points < fewestpoints(type, frame().plugin())) {
    frame().LogEvent(kLogPlain, true, qs(fewestpointsmessage(type, frame().plugin())));
    AddTr->setEnabled(false);
  }
}

void TFit::TrTypeClick() {
  if (TrDataset->currentIndex() < 0)
    return;
  const int index = TrType->itemIndex();
  if (index < 0 || index >= static_cast<int>(TrendTypes.size()))
    return;
  const trendtype type = TrendTypes[static_cast<std::size_t>(index)];
  ShowEstimates(estimatecount(type, frame().plugin()));
  FormulaBox->setVisible(type == trendtype::formula);
  if (!FitNamedByUser)
    WriteAutomaticName();
  UpdateMultiFitButton();
  CheckPointCount();
}

void TFit::WriteAutomaticName() {
  const int index = TrType->itemIndex();
  if (index < 0 || index >= static_cast<int>(TrendTypes.size()))
    return;
  // Written by the program: the edit's modified flag stays clear, so
  // TrDatasetoldChange does not take it for the user's name.
  TrName->setEditText(
      qs(autofitname(TrDataset->currentText().toStdString(), trendItemText(index))));
}

void TFit::TrDatasetChange() {
  AddTr->setEnabled(TrDataset->currentIndex() >= 0);
  // The program's own name follows the dataset at once, so a fit never
  // carries another dataset's name; a name the user typed stays.
  if (!FitNamedByUser && TrDataset->currentIndex() >= 0)
    WriteAutomaticName();
  FitNamedByUser = false;
  CheckPointCount();
}

void TFit::TrDatasetoldChange() {
  if (!TrName->currentText().isEmpty())
    FitNamedByUser = true;
}

void TFit::UpdateMultiFitButton() { GoPlotBtn->setEnabled(MulList->count() >= 2); }

// ---------------------------------------------------------------------------
// One fit.

void TFit::AddTrClick() {
  const int index = TrType->itemIndex();
  if (index < 0 || index >= static_cast<int>(TrendTypes.size()))
    return;
  try {
    addFitOfType(TrendTypes[static_cast<std::size_t>(index)]);
  } catch (...) {
    // addFitOfType has already taken back whatever the failed fit had added.
    frame().LogEvent(kLogPlain, true, QLatin1String(texts::kCriticalFailure));
  }
}

std::unique_ptr<bfit> TFit::makeFitWithEstimates(trendtype type) {
  // A formula that cannot be read says what is wrong and where, and
  // nothing is fitted.
  std::unique_ptr<bfit> fit;
  try {
    fit = makeChosenFit(type);
  } catch (const formula_error &e) {
    frame().LogEvent(kLogPlain, true, QString::fromStdString(e.what()));
    return nullptr;
  }

  // The five estimates, shown or not, then the formula's own.
  QLineEdit *const boxes[] = {EstA, EstB, EstC, EstD, EstE};
  for (int i = 0; i < 5; ++i) {
    double v = 0.0;
    if (!parsenumber(boxes[i]->text().toStdString(), v)) {
      frame().LogEvent(kLogPlain, true, QLatin1String(kBadEstimates));
      return nullptr;
    }
    fit->par[i] = v;
  }
  if (!takeFormulaEstimates(type, *fit)) {
    frame().LogEvent(kLogPlain, true, QLatin1String(kBadEstimates));
    return nullptr;
  }
  return fit;
}

void TFit::addFitOfType(trendtype type) {
  std::unique_ptr<bfit> fit = makeFitWithEstimates(type);
  if (!fit)
    return;

  // Name and dataset (the first when none is chosen).
  fit->name = TrName->currentText().toStdString();
  const int chosen = TrDataset->currentIndex() >= 0 ? TrDataset->currentIndex() : 0;
  dataset *target = datasetAt(chosen);
  if (!target)
    throw engine_error(kFailedFit, "There is no dataset to fit");

  // Its description for the project file: the type, the formula or model,
  // and the values it starts from.
  project::fitrecord source;
  source.type = type;
  if (type == trendtype::formula)
    source.model = FormulaBox->formulaText().toStdString();
  else if (type == trendtype::custom && frame().plugin())
    source.model = frame().plugin()->name();
  source.dataset = chosen;
  std::copy(std::begin(fit->par), std::end(fit->par), source.start.begin());
  placeFit(std::move(fit), target, frame().invmatr(), std::move(source));
}

void TFit::placeFit(std::unique_ptr<bfit> fit, dataset *target, bool gauss,
                    project::fitrecord source) {
  source.name = fit->name;
  source.gauss = gauss;
  fit->data = target;
  target->attach(fit.get());

  // From here on, a failure takes the fit back out of everything it has
  // reached before the fit is destroyed.
  bfit *const added = fit.get();
  auto undo = qScopeGuard([this, target, added, previousDetail = CBoxDetails->currentIndex(),
                           previousPage = currentPage()] {
    takeBackFit(*target, added, previousDetail, previousPage);
  });

  // Fit, with the solver chosen now, in the colour the dataset's series
  // has now.
  fit->fitplot(*MChart, *DevChart, kFitPoints, gauss);
  if (TErrPointSeries *s = errorSeries(target->series.get())) {
    const colour c = fromQColor(s->SeriesColour);
    if (fit->curve)
      fit->curve->setseriescolour(c);
    if (fit->devpoints)
      fit->devpoints->setseriescolour(c);
  }

  // Listed, and chosen in the details.
  FitSources[added] = std::move(source);
  Fits.add(std::move(fit));
  CBoxDetails->addItem(qs(added->name));
  FitNamedByUser = false;
  ShowLegendAsChosen();
  CBoxDetails->setCurrentIndex(CBoxDetails->count() - 1);
  CBoxDetailsChange();
  showPage(kChartPage);
  RedrawCharts();

  frame().LogEvent(kLogPlain, false,
                   QStringLiteral("Trendline fitted for the ") + windowTitle() +
                       QStringLiteral(" with a ") + qs(added->verdictword()) +
                       QStringLiteral(" fit"));
  undo.dismiss();
  setUnsaved(true);
}

void TFit::takeBackFit(dataset &target, const bfit *fit, int previousDetail,
                       int previousPage) noexcept {
  try {
    detach(target, fit);
    FitSources.erase(fit);
    const int at = Fits.indexof(fit);
    if (at < 0)
      return; // never listed: the caller's pointer still owns it
    RemoveBand(fit);
    Fits.removeat(static_cast<unsigned>(at)); // its series leave the charts
    CBoxDetails->removeItem(at);
    CBoxDetails->setCurrentIndex(previousDetail < CBoxDetails->count() ? previousDetail : -1);
    if (CBoxDetails->currentIndex() >= 0) {
      CBoxDetailsChange();
    } else {
      ChartListBox->clear();
      Txtchisq->clear();
      Txtnpoints->clear();
    }
    showPage(previousPage);
    RedrawCharts();
  } catch (...) {
    // The redraw of what was there before failed too; the caller reports
    // the failure that started this.
  }
}

// ---------------------------------------------------------------------------
// Straight lines through every dataset that share one parameter.

std::string TFit::multiFitName(multikind kind) const {
  // A name the user typed is kept; the program's own proposal says what
  // the lines share rather than naming one dataset.
  if (FitNamedByUser)
    return TrName->currentText().toStdString();
  const int index = TrType->itemIndex();
  return multifitname(kind, trendItemText(index), [this](const std::string &name) {
    const std::string prefix = name + "-";
    bool taken = false;
    Fits.each([&](bfit *f) { taken = taken || f->name.rfind(prefix, 0) == 0; });
    return taken;
  });
}

void TFit::GoPlotBtnClick() {
  const trendrow *row = trendrowat(TrendTypes, TrType->itemIndex());
  const int shared = MFitType->itemIndex();
  if (!row || !row->multi || (shared != 0 && shared != 1))
    return;
  const auto kind = shared == 0 ? multikind::sameintercept : multikind::samegradient;
  try {
    runMultiFit(kind, multiFitName(kind), frame().invmatr());
  } catch (...) {
    frame().LogEvent(kLogPlain, true, QLatin1String(texts::kCriticalFailure));
  }
}

void TFit::runMultiFit(multikind kind, const std::string &name, bool gauss) {
  const int firstLine = static_cast<int>(Fits.count);
  // Adding to an empty list would select the first line; the chosen fit
  // stays as it was.
  const int selected = CBoxDetails->currentIndex();
  const int group = static_cast<int>(MultiSources.size());
  try {
    std::unique_ptr<multfit> multi = makemultifit(kind);
    multi->name = name;
    const int count = static_cast<int>(MultiSelection->datasets.count);
    multi->makelines(count);
    std::vector<std::string> names;
    MultiSelection->datasets.each([&](dataset *d) {
      multi->datasets.add(d);
      names.push_back(d->name);
    });
    for (int i = 0; i < count; ++i) {
      bfit *line = multi->line(i);
      dataset *d = MultiSelection->datasets.at(static_cast<unsigned>(i))->obj;
      if (!line || !d)
        throw engine_error(kFailedFit, texts::kMultiNeedsLines);
      line->data = d;
      line->name = multilinename(multi->name, d->name);
      line->sharing = multisharingtext(kind, names, static_cast<std::size_t>(i));
      project::fitrecord source;
      source.type = trendtype::linear;
      source.name = line->name;
      source.dataset = Datasets.indexof(d);
      std::copy(std::begin(line->par), std::end(line->par), source.start.begin());
      source.gauss = gauss;
      source.multifit = group;
      source.line = i;
      FitSources[line] = std::move(source);
    }
    for (std::unique_ptr<bfit> &line : multi->takelines()) {
      const QString lineName = qs(line->name);
      Fits.add(std::move(line));
      CBoxDetails->addItem(lineName);
    }

    CBoxDetails->setCurrentIndex(selected);

    multi->fit(*MChart, *DevChart, gauss);
    MultiSources.push_back({kind, name, gauss});

    FitNamedByUser = false;
    ShowLegendAsChosen();
    showPage(kChartPage);
    RedrawCharts();
    frame().LogEvent(kLogPlain, false, qs(multifitlogline(kind, windowTitle().toStdString())));
    setUnsaved(true);
    // The multi fit goes here; its lines stay in Fits.
  } catch (...) {
    // Lines of a failed joint fit have their starting parameters and no
    // series: they must not stay listed as if they were fits.
    try {
      while (static_cast<int>(Fits.count) > firstLine) {
        const int last = static_cast<int>(Fits.count) - 1;
        FitSources.erase(fitAt(Fits, last));
        RemoveBand(fitAt(Fits, last));
        Fits.removeat(static_cast<unsigned>(last));
        if (last < CBoxDetails->count())
          CBoxDetails->removeItem(last);
      }
      CBoxDetails->setCurrentIndex(selected < CBoxDetails->count() ? selected : -1);
      MChart->replot(QCustomPlot::rpQueuedReplot);
      DevChart->replot(QCustomPlot::rpQueuedReplot);
    } catch (...) {
    }
    throw;
  }
}

// ---------------------------------------------------------------------------
// Details of the chosen fit, and deleting it.

void TFit::CBoxDetailsChange() {
  if (CBoxDetails->currentIndex() < 0 || Fits.count == 0)
    return;
  const bfit *fit = fitAt(Fits, CBoxDetails->currentIndex());
  if (!fit)
    return;
  const char separator = shownSeparator();
  Txtchisq->setText(qs(generaltext(fit->chisq(), 15, separator)));
  stringlist lines;
  fit->describe(lines, true);
  ChartListBox->setPlainText(joinLines(lines));
  Txtnpoints->setText(QString::number(fit->dof()));

  // The limits: tool tip on the values and the chi-square symbol, and the
  // same text in the frame's status line.
  const QString limits = limitsLine(*fit, separator);
  for (QWidget *w : {static_cast<QWidget *>(Txtnpoints), static_cast<QWidget *>(Txtchisq),
                     static_cast<QWidget *>(Label3), static_cast<QWidget *>(Label2),
                     static_cast<QWidget *>(Label10)}) {
    w->setToolTip(limits);
    w->setStatusTip(limits);
  }
}

void TFit::DeletetrClick() {
  const int index = CBoxDetails->currentIndex();
  if (index < 0)
    return;
  if (bfit *fit = fitAt(Fits, index)) {
    // The dataset has no current fit any more, whichever fit it was.
    if (fit->data)
      fit->data->attach(nullptr);
    RemoveBand(fit);
    FitSources.erase(fit);
    Fits.removeat(static_cast<unsigned>(index)); // its series leave the charts
    setUnsaved(true);
  }
  ShowLegendAsChosen();
  CBoxDetails->removeItem(index);
  ChartListBox->clear();
  CBoxDetails->setCurrentIndex(-1);
  Txtchisq->clear();
  Txtnpoints->clear();
  for (QWidget *w : {static_cast<QWidget *>(Txtnpoints), static_cast<QWidget *>(Txtchisq),
                     static_cast<QWidget *>(Label3), static_cast<QWidget *>(Label2),
                     static_cast<QWidget *>(Label10)}) {
    w->setToolTip(QString());
    w->setStatusTip(QString());
  }
  MChart->replot(QCustomPlot::rpQueuedReplot);
  DevChart->replot(QCustomPlot::rpQueuedReplot);
}

// ---------------------------------------------------------------------------
// The information text.

void TFit::WriteInformation(QStringList &lines) const {
  std::vector<const bfit *> fits;
  fits.reserve(Fits.count);
  Fits.each([&](const bfit *f) { fits.push_back(f); });
  stringlist text;
  writeinformation(text, fits, shownSeparator());
  lines.clear();
  for (const std::string &l : text)
    lines << qs(l);
}

void TFit::WriteInformation(QPlainTextEdit *box) const {
  QStringList lines;
  WriteInformation(lines);
  box->setPlainText(lines.join(QLatin1Char('\n')));
}

} // namespace orvalle
