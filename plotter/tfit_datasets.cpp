// The plotter's columns and datasets: set-up from a converted text, the
// "Custom Add Dataset" and "View Datasets" pages.
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMetaObject>
#include <QPushButton>
#include <QSlider>
#include <QTableView>
#include <cmath>
#include <stdexcept>

#include "datatext/conversion.h"
#include "engine/bfit.h"
#include "engine/fittexts.h"
#include "engine/multfit.h"
#include "frame/frameapi.h"
#include "frame/frametexts.h"
#include "plotter/charts.h"
#include "plotter/controls.h"
#include "plotter/errpointseries.h"
#include "plotter/tfit.h"

namespace orvalle {

namespace {

// The colours of the datasets of a tagged file, by position.
const QColor DatasetColours[10] = {
    QColor(0, 0, 0),       QColor(0, 0, 255),     QColor(128, 128, 0), QColor(128, 0, 128),
    QColor(255, 0, 0),     QColor(192, 192, 192), QColor(128, 0, 0),   QColor(255, 0, 255),
    QColor(166, 202, 240), QColor(0, 0, 128),
};

// Appends an item to a list without changing its selection or, for an
// editable list, its text.
void append(QComboBox *box, const QString &text) {
  const int index = box->currentIndex();
  const QString edit = box->currentText();
  box->addItem(text);
  box->setCurrentIndex(index);
  if (box->isEditable())
    box->setEditText(edit);
}

QString columnName(int c) { return QString::fromStdString(columnname(c)); }

} // namespace

QColor datasetColour(int i) { return DatasetColours[i >= 0 && i < 10 ? i : 0]; }

void TFit::takeGrid(numericgrid grid) { StringGridModel->setGrid(std::move(grid)); }

void TFit::takeDatasets(std::vector<std::unique_ptr<dataset>> sets) {
  for (auto &d : sets)
    Datasets.add(std::move(d));
}

void TFit::takeConversion(ConversionResult &r) {
  setChartTitle(QString::fromStdString(r.title));
  setFileName(QString::fromStdString(r.filename));
  setCaption(QString::fromStdString(r.caption));
  const bool tagged = r.layout == textlayout::tagged;
  if (tagged)
    takeDatasets(std::move(r.datasets));
  else
    takeGrid(std::move(r.grid));
  SendCommand(this, UM_DATAREADY, tagged ? 1 : 0, tagged ? 1 : 0);
}

dataset *TFit::datasetAt(int i) const {
  if (i < 0 || i >= static_cast<int>(Datasets.count))
    return nullptr;
  return Datasets.at(static_cast<unsigned>(i))->obj;
}

void TFit::fillSeries(dataset &d, const QColor &pointColour, bool scaled) {
  TErrPointSeries *s = errorSeries(d.series.get());
  if (!s)
    return;
  const int n = d.x ? d.x->n : 0;
  const QRgb colour = pointColour.rgb();
  TErrPointSeries::Source from;
  if (n > 0) {
    from = {d.x.get(), d.y.get(), d.yerr.get(), static_cast<std::size_t>(n), 0, 1, 0, 1, colour};
    if (scaled)
      from.xoffset = XOffset, from.xscale = XScale, from.yoffset = YOffset, from.yscale = YScale;
    // A dataset's numbers never change: the same rows with the same
    // scaling give the very points the series holds already.
    if (s->filledFrom == from && s->count() == n)
      return;
  }
  s->clearPoints();
  if (n == 0)
    return;
  // The series draws from the rows themselves, scaled as it goes.
  TErrPointSeries::Rows rows{d.x, d.y, d.yerr, static_cast<std::size_t>(n), 0, 1, 0, 1, colour};
  if (scaled)
    rows.xoffset = XOffset, rows.xscale = XScale, rows.yoffset = YOffset, rows.yscale = YScale;
  s->showRows(std::move(rows));
  if (d.hasxerrors()) {
    const drow &ex = *d.xerr;
    s->XErrorValues.resize(static_cast<std::size_t>(n), 0.0);
    for (int k = 0; k < n && k < ex.n; ++k)
      s->XErrorValues[static_cast<std::size_t>(k)] = scaled ? ex[k] / XScale : ex[k];
  }
  s->filledFrom = from;
}

void TFit::SetUpData(bool tagged) {
  Columns = std::make_unique<ownedlist<frow>>();

  TaggedLayout = tagged;
  if (tagged) {
    DatasetSources.assign(Datasets.count, project::datasetrecord{});
    int i = 0;
    for (item<dataset> *p = Datasets.oldest(); p; p = p->newer, ++i) {
      dataset &d = *p->obj;
      const QColor colour = DatasetColours[i < 10 ? i : 0];
      d.series = MChart->makeerrorpoints(fromQColor(colour), std::string());
      d.dcolour = fromQColor(colour);
      MultiSelection->datasets.add(&d);
      MulList->addItem(QString::fromStdString(d.name));
      fillSeries(d, colour, false);
      append(TrDataset, QString::fromStdString(d.name));
      append(EditName, QString::fromStdString(d.name));
      UpdateFrameCommands();
    }
    if (TrDataset->count() > 0) {
      TrDataset->setCurrentIndex(0);
      AddTr->setEnabled(true);
    }
    TrTypeClick();
    Replot();
    setUnsaved(true); // the datasets are this plotter's work until kept
    return;
  }

  const int ncols = StringGridModel->colCount();
  if (ncols == 1) {
    setPageAvailable(0, false);
  } else {
    for (int c = 0; c < ncols; ++c)
      makeColumn(c); // a cell that is not a number ends the set-up here
  }
  append(ErYdata, QStringLiteral("Percentage"));
  append(ErYdata, QStringLiteral("Absolute"));
  append(ErXdata, QStringLiteral("Percentage"));
  append(ErXdata, QStringLiteral("Absolute"));
  if (ncols >= 1)
    Xdata->setCurrentIndex(0);
  if (ncols >= 2)
    Ydata->setCurrentIndex(1);
  if (ncols >= 3)
    ErYdata->setCurrentIndex(2);
  EditName->setEditText(QStringLiteral("DataSet A"));

  if (ncols == 3) {
    // The fits page first: the charts are drawn when they are looked at,
    // not for the dataset made here behind that page.
    showPage(2);
    AddBtnClick();
    TrDataset->setCurrentIndex(0);
    setPageAvailable(0, false);
    TrTypeClick();
  } else if (PageControl->isTabVisible(0)) {
    showPage(0);
  }
  Replot();
}

void TFit::makeColumn(int c) {
  const numericgrid &grid = StringGridModel->grid();
  const int rows = grid.rowcount() - 1;
  auto column = std::make_unique<frow>();

  const QString name = columnName(c);
  StringGridModel->setHeader(c, name);
  // The header's title of the column, when the table had one, beside
  // its name.
  const QString offered =
      c < ColumnTitles.size() ? name + QStringLiteral(" \u2014 ") + ColumnTitles.at(c) : name;
  append(Xdata, offered);
  append(Ydata, offered);
  append(ErYdata, offered);
  append(ErXdata, offered);

  for (int r = 1; r <= rows; ++r) {
    if (!grid.has(c, r))
      throw std::runtime_error(
          QStringLiteral("The cell of column %1, row %2 of the data grid is empty: '' is not a "
                         "valid floating point value. The columns before it have been read.")
              .arg(name)
              .arg(r)
              .toStdString());
  }
  // The grid's numbers become the column's without a copy; the grid shows
  // them from there.
  column->values = StringGridModel->shareColumn(c);
  Columns->add(std::move(column));
}

void TFit::AddBtnClick() {
  if (!Columns)
    return;
  const int n = static_cast<int>(Columns->count);
  const int xi = Xdata->currentIndex();
  const int yi = Ydata->currentIndex();
  const int ei = ErYdata->currentIndex();
  const int xe = ErXdata->currentIndex() - 1; // -1: no x errors
  if (xi < 0 || yi < 0 || ei < 0 || !picksWereRead({xi, yi, ei, xe}) || xi >= n || yi >= n)
    return;
  const bool threeColumns = StringGridModel->colCount() == 3;

  // A dataset over the chosen columns (shared, not copied).
  auto d = std::make_unique<dataset>(true);
  d->name = threeColumns ? std::string() : EditName->currentText().toStdString();
  d->x = columnValues(xi);
  d->y = columnValues(yi);
  d->pointcount = d->filledcount = d->x->n;
  // The y errors: a column, or made from the fixed value; then the x
  // errors when chosen. A failure is logged and the dataset goes.
  d->yerr = ei < n ? columnValues(ei) : fixedYErrors(*d->y, d->x->n, ei == n);
  if (!d->yerr || !yErrorsAboveZero(*d->yerr, threeColumns))
    return;
  if (xe >= 0) {
    d->xerr = xErrors(*d->x, xe);
    if (!d->xerr)
      return;
  }
  // Axes without titles take those of the columns.
  if (XAxisTitle.trimmed().isEmpty() && xi < ColumnTitles.size())
    XAxisTitle = ColumnTitles.at(xi);
  if (YAxisTitle.trimmed().isEmpty() && yi < ColumnTitles.size())
    YAxisTitle = ColumnTitles.at(yi);
  // How it was made, for the project file.
  project::datasetrecord source;
  source.xcolumn = xi;
  source.ycolumn = yi;
  source.yerrors = ei < n ? project::errorsource{project::errorkind::column, ei, 0.0}
                          : project::errorsource{ei == n ? project::errorkind::percentage
                                                         : project::errorkind::absolute,
                                                 -1, FixedError};
  if (xe >= 0 && xe < n)
    source.xerrors = {project::errorkind::column, xe, 0.0};
  else if (xe >= n)
    source.xerrors = {xe == n ? project::errorkind::percentage : project::errorkind::absolute, -1,
                      XErrorValue()};
  addDataset(std::move(d), DataColorBox->selected(), source);
}

double TFit::XErrorValue() const {
  double value = 1.0;
  QString text = EditXErrFixed->text().trimmed();
  text.replace(QLatin1Char(','), QLatin1Char('.'));
  if (!text.isEmpty() && !parsenumber(text.toStdString(), value))
    throw std::runtime_error("'" + text.toStdString() + "' is not a valid floating point value");
  return value;
}

void TFit::addDatasetFrom(const project::datasetrecord &r) {
  const int n = static_cast<int>(Columns ? Columns->count : 0);
  const auto column = [&](int c) {
    if (c < 0 || c >= n)
      throw project::project_error("column " + std::to_string(c) +
                                   " was not read from the numbers (a cell in it is empty)");
    return columnValues(c);
  };
  auto errors = [&](const project::errorsource &e, const drow &basis) -> rowref {
    switch (e.kind) {
    case project::errorkind::column:
      return column(e.column);
    case project::errorkind::percentage:
      return project::percentagerow(basis, e.value);
    case project::errorkind::absolute:
      return project::absoluterow(basis.n, e.value);
    case project::errorkind::none:
      break;
    }
    return nullptr;
  };
  auto d = std::make_unique<dataset>(true);
  d->name = r.name;
  d->x = column(r.xcolumn);
  d->y = column(r.ycolumn);
  d->pointcount = d->filledcount = d->x->n;
  d->yerr = errors(r.yerrors, *d->y);
  d->xerr = errors(r.xerrors, *d->x);
  for (const rowref &e : {d->yerr, d->xerr})
    if (e)
      for (double v : e->data)
        if (!(v > 0))
          throw project::project_error("its errors are not all above zero");
  addDataset(std::move(d), QColor(r.colour.r, r.colour.g, r.colour.b), r);
}

rowref TFit::columnValues(int i) const {
  return Columns->at(static_cast<unsigned>(i))->obj->values;
}

bool TFit::picksWereRead(std::initializer_list<int> picks) {
  // A bad cell stops the set-up with the column it was in already listed:
  // such a column was never read, and picking it (as x, y or errors, where
  // its index would otherwise mean "Percentage") is refused.
  const int n = static_cast<int>(Columns->count);
  const int listed = Xdata->count();
  for (const int pick : picks) {
    if (pick >= n && pick < listed) {
      frame().LogEvent(kLogPlain, true,
                       Xdata->itemText(pick) +
                           QStringLiteral(" was not read from the data (a cell in it is not a "
                                          "number), so it cannot be used for a dataset"));
      return false;
    }
  }
  return true;
}

rowref TFit::fixedYErrors(const drow &y, int count, bool percentage) {
  auto errors = std::make_shared<drow>(count);
  for (int k = 0; k < errors->n; ++k) {
    const double e = percentage ? y[k] * FixedError * 0.01 : FixedError;
    if (!(e > 0)) {
      frame().LogEvent(kLogPlain, true, QString::fromLatin1(texts::kBadYErrors));
      return nullptr;
    }
    (*errors)[k] = e;
  }
  return errors;
}

bool TFit::yErrorsAboveZero(const drow &errors, bool threeColumns) {
  for (double e : errors.data) {
    if (!(e > 0)) {
      frame().LogEvent(kLogZeroYError, true, QString());
      if (threeColumns) {
        // The automatic first dataset failed: the plotter goes, without the
        // question, once the message being handled is finished.
        CloseWithoutPrompt = true;
        QMetaObject::invokeMethod(this, &TFit::closeChild, Qt::QueuedConnection);
      }
      return false;
    }
  }
  return true;
}

rowref TFit::xErrors(const drow &x, int xe) {
  const int n = static_cast<int>(Columns->count);
  rowref errors;
  if (xe < n) {
    errors = columnValues(xe);
  } else {
    const double value = XErrorValue();
    errors = xe == n ? project::percentagerow(x, value) : project::absoluterow(x.n, value);
  }
  for (double e : errors->data) {
    if (!(e > 0)) {
      frame().LogEvent(kLogPlain, true, QString::fromLatin1(texts::kBadXErrors));
      return nullptr;
    }
  }
  return errors;
}

void TFit::addDataset(std::unique_ptr<dataset> d, const QColor &colour,
                      project::datasetrecord source) {
  DatasetSources.push_back(std::move(source));
  // Its series on the main chart.
  d->series = MChart->makeerrorpoints(fromQColor(colour), std::string());
  d->dcolour = fromQColor(colour);
  fillSeries(*d, colour, false);

  // Listed, offered to the fit page and the next name suggested.
  const QString name = QString::fromStdString(d->name);
  Datasets.add(std::move(d));
  append(TrDataset, name);
  append(EditName, name);
  EditName->setEditText(QStringLiteral("DataSet ") + QChar(65 + static_cast<int>(Datasets.count)));

  // Automatic axes until Replot fixes them; a legend only if the user
  // has switched it on.
  MChart->rescaleAxes();
  if (TitlesWindow)
    LabelsClick(0);
  ShowLegendAsChosen();
  AddTr->setEnabled(true);
  // The fit page works on the first dataset until another is chosen, so
  // that every trend type (its estimate boxes, its point count) is ready.
  if (TrDataset->currentIndex() < 0) {
    TrDataset->setCurrentIndex(0);
    TrTypeClick();
  }

  // The track bar, the axis ranges and the log follow.
  TrackBarChange();
  Replot();
  frame().LogEvent(kLogPlain, false, frametexts::chartCreatedFrom() + FileName);
  setUnsaved(true);
}

namespace {

// What the fixed-error box keeps of a text: digits, the first '.', one
// exponent letter with no '.' after it, and a '-' only directly after the
// exponent letter.
QString fixedErrorChars(const QString &text) {
  QString clean;
  bool point = false;
  bool exponent = false;
  for (QChar ch : text) {
    const bool letter = ch == QLatin1Char('e') || ch == QLatin1Char('E');
    if (ch.isDigit() && ch.unicode() < 128) {
      clean += ch;
    } else if (ch == QLatin1Char('.') && !point && !exponent) {
      clean += ch;
      point = true;
    } else if (letter && !exponent) {
      clean += ch;
      exponent = true;
    } else if (ch == QLatin1Char('-') && !clean.isEmpty() &&
               (clean.back() == QLatin1Char('e') || clean.back() == QLatin1Char('E'))) {
      clean += ch;
    }
  }
  return clean;
}

// A kept text completed to a number: ".5" is 0.5, "e3" 1e3, "2e" 2 and
// "2e-" 2e-1.
QString completedNumber(QString copy) {
  copy.replace(QLatin1Char('E'), QLatin1Char('e'));
  if (copy.startsWith(QLatin1Char('.')))
    copy.prepend(QLatin1Char('0'));
  if (copy.startsWith(QLatin1Char('e')))
    copy.prepend(QLatin1Char('1'));
  if (copy.endsWith(QLatin1Char('e')))
    copy.chop(1);
  if (copy.endsWith(QLatin1Char('-')))
    copy.append(QLatin1Char('1'));
  return copy;
}

} // namespace

void TFit::EditErrFixedChange() {
  const QString text = EditErrFixed->text();
  if (text.isEmpty()) {
    FixedError = 1.0;
    return;
  }
  const QString clean = fixedErrorChars(text);
  if (clean != text) {
    // Setting the text runs this handler again on the clean text, which
    // then reads the value.
    EditErrFixed->setText(clean);
    return;
  }
  const QString copy = completedNumber(clean);
  if (copy.isEmpty()) {
    FixedError = 1.0;
    return;
  }
  double value = 0.0;
  if (!parsenumber(copy.toStdString(), value))
    throw std::runtime_error("'" + copy.toStdString() + "' is not a valid floating point value");
  FixedError = value;
}

void TFit::ShowDatasetTable() {
  if (Datasets.count == 0)
    return;
  TrackBar->setMaximum(static_cast<int>(Datasets.count) - 1);
  if (dataset *d = datasetAt(TrackBar->value()))
    StringGridMModel->show(*d);
}

void TFit::TrackBarChange() {
  ShowDatasetTable();
  if (Datasets.count == 0)
    return;
  if (ViewCBD->count() != static_cast<int>(Datasets.count)) {
    ViewCBD->clear();
    Datasets.each([this](dataset *d) { ViewCBD->addItem(QString::fromStdString(d->name)); });
  }
  const int pos = TrackBar->value();
  ViewCBD->setCurrentIndex(pos);
  if (dataset *d = datasetAt(pos))
    if (TErrPointSeries *s = errorSeries(d->series.get()))
      ColorBoxM->setSelected(s->SeriesColour);
}

void TFit::ViewCBDChange() {
  if (ViewCBD->currentIndex() >= 0)
    TrackBar->setValue(ViewCBD->currentIndex());
}

void TFit::ColorBoxMChange() {
  dataset *d = datasetAt(TrackBar->value());
  if (!d)
    return;
  const QColor colour = ColorBoxM->selected();
  if (TErrPointSeries *s = errorSeries(d->series.get()))
    s->SetSeriesColour(colour);
  if (bfit *fit = d->currentfit()) {
    if (fit->curve)
      fit->curve->setseriescolour(fromQColor(colour));
    if (fit->devpoints)
      fit->devpoints->setseriescolour(fromQColor(colour));
  }
  MChart->replot(QCustomPlot::rpQueuedReplot);
  DevChart->replot(QCustomPlot::rpQueuedReplot);
  setUnsaved(true);
}

} // namespace orvalle
