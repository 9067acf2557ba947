// Columns and datasets of the plotter: set-up for both layouts, the fixed
// error box, generated errors and their rejections, shared columns, the
// dataset view and recolouring.
// Covers plotter/tfit_datasets.cpp, and of plotter/controls.cpp the colour
// box and the grids' table models.
#include <QAbstractItemModel>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <cmath>

#include "engine/fits.h"
#include "engine/multfit.h"
#include "plotter/charts.h"
#include "plotter/controls.h"
#include "plotter/errpointseries.h"
#include "tests/plotter/plotterfixture.h"

using namespace orvalle;
using namespace orvalle::test;

namespace {

QStringList items(QComboBox *box) {
  QStringList l;
  for (int i = 0; i < box->count(); ++i)
    l << box->itemText(i);
  return l;
}

dataset *at(TFit &fit, int i) { return fit.Datasets.at(static_cast<unsigned>(i))->obj; }

} // namespace

class DatasetsTest : public QObject {
  Q_OBJECT
private slots:
  void columnLayoutByColumnCount_data();
  void columnLayoutByColumnCount();
  void threeColumnFileMakesItsDataset();
  void columnsHoldTheGridNumbers();
  void taggedFileTwelveTagsColours();
  void nonNumberCellIsReportedAndSetUpStops();
  void unreadColumnIsRefused_data();
  void unreadColumnIsRefused();
  void numbersShownWithTheLocalesSeparator();
  void editErrFixedCleaning_data();
  void editErrFixedCleaning();
  void editErrFixedOutOfRangeKeepsValue();
  void generatedErrors_data();
  void generatedErrors();
  void zeroErrorColumnRejectsDataset();
  void zeroErrorInThreeColumnFileClosesWithoutQuestion();
  void twoDatasetsShareAColumn();
  void namesAdvanceAfterEachDataset();
  void viewChooserAndTrackBarStayInStep();
  void recolouringReachesCurrentFit();
  void xErrorChoices_data();
  void xErrorChoices();
  void xErrorValueNotANumberAddsNothing();
  void deviationsShowEffectiveErrors();
};

void DatasetsTest::columnLayoutByColumnCount_data() {
  QTest::addColumn<QStringList>("lines");
  QTest::addColumn<int>("columns");
  QTest::addColumn<int>("page");
  QTest::addColumn<bool>("customPageAvailable");
  QTest::addColumn<int>("x");
  QTest::addColumn<int>("y");
  QTest::addColumn<int>("e");
  QTest::addColumn<int>("datasets");

  // One column: written with a trailing blank, so the number fills its cell.
  QTest::newRow("one") << QStringList{"1 ", "2 ", "3 "} << 0 << 3 << false << -1 << -1 << -1 << 0;
  QTest::newRow("two") << QStringList{"1 2", "2 4", "3 6"} << 2 << 0 << true << 0 << 1 << -1 << 0;
  QTest::newRow("three") << QStringList{"1 2 0.1", "2 4 0.2", "3 6 0.3"} << 3 << 2 << false << 0
                         << 1 << 2 << 1;
  QTest::newRow("four") << QStringList{"1 2 0.1 7", "2 4 0.2 8", "3 6 0.3 9"} << 4 << 0 << true << 0
                        << 1 << 2 << 0;
}

void DatasetsTest::columnLayoutByColumnCount() {
  QFETCH(QStringList, lines);
  QFETCH(int, columns);
  QFETCH(int, page);
  QFETCH(bool, customPageAvailable);
  QFETCH(int, x);
  QFETCH(int, y);
  QFETCH(int, e);
  QFETCH(int, datasets);

  FakeFrame frame;
  std::vector<std::string> text;
  for (const QString &l : lines)
    text.push_back(l.toStdString());
  auto fit = makePlotter(frame, text);
  QVERIFY(fit);

  QVERIFY(fit->Columns);
  QCOMPARE(static_cast<int>(fit->Columns->count), columns);
  QStringList names;
  for (int c = 0; c < columns; ++c)
    names << QStringLiteral("Col ") + QChar('A' + c);
  QCOMPARE(items(fit->Xdata), names);
  QCOMPARE(items(fit->Ydata), names);
  QCOMPARE(items(fit->ErYdata), names + QStringList({"Percentage", "Absolute"}));
  QCOMPARE(fit->currentPage(), page);
  QCOMPARE(fit->PageControl->isTabVisible(0), customPageAvailable);
  QCOMPARE(fit->PageControl->isTabEnabled(0), customPageAvailable);
  QCOMPARE(fit->Xdata->currentIndex(), x);
  QCOMPARE(fit->Ydata->currentIndex(), y);
  QCOMPARE(fit->ErYdata->currentIndex(), e);
  QCOMPARE(static_cast<int>(fit->Datasets.count), datasets);
  if (columns > 1)
    QCOMPARE(fit->StringGridModel->cellText(1, 0), QStringLiteral("Col B"));

  // "Add " is enabled only with an error source chosen (and on a page in use).
  fit->UpdateFrameCommands();
  QCOMPARE(fit->AddBtn->isEnabled(), customPageAvailable && x >= 0 && y >= 0 && e >= 0);
  if (columns == 2) {
    fit->ErYdata->setCurrentIndex(3); // "Absolute"
    fit->UpdateFrameCommands();
    QVERIFY(fit->AddBtn->isEnabled());
    QVERIFY(fit->EditErrFixed->isEnabled());
  }
}

void DatasetsTest::threeColumnFileMakesItsDataset() {
  FakeFrame frame;
  auto fit = makePlotter(frame, {"1 2 0.1", "2 4 0.2", "3 6 0.3"});
  QCOMPARE(static_cast<int>(fit->Datasets.count), 1);
  dataset *d = at(*fit, 0);
  QCOMPARE(d->name, std::string());
  QCOMPARE((*d->x)[2], 3.0);
  QCOMPARE((*d->y)[2], 6.0);
  QCOMPARE((*d->yerr)[2], 0.3);
  QCOMPARE(fit->EditName->currentText(), QStringLiteral("DataSet B"));
  QCOMPARE(fit->currentPage(), 2);
  QCOMPARE(fit->TrDataset->currentIndex(), 0);
  QVERIFY(fit->AddTr->isEnabled());
  QVERIFY(d->series);
  QCOMPARE(TFit::errorSeries(d->series.get())->count(), 3);
  QCOMPARE(d->dcolour.value_or(-1), 0); // DataColorBox starts on black
  QCOMPARE(frame.log.size(), std::size_t(1));
  QCOMPARE(frame.log[0].text,
           QStringLiteral("Chart Successfully Created from file - /data/run3.txt"));
  QVERIFY(!frame.log[0].error);
}

void DatasetsTest::columnsHoldTheGridNumbers() {
  FakeFrame frame;
  auto fit = makePlotter(frame, {"# comment", "1.5 -2e3", "2.25 4.125", "3 1e-7"});
  QCOMPARE(static_cast<int>(fit->Columns->count), 2);
  const drow &a = *fit->Columns->at(0)->obj->values;
  const drow &b = *fit->Columns->at(1)->obj->values;
  QCOMPARE(a.n, 3);
  QCOMPARE(a[0], 1.5);
  QCOMPARE(a[2], 3.0);
  QCOMPARE(b[0], -2000.0);
  QCOMPARE(b[1], 4.125);
  QCOMPARE(b[2], 1e-7);
}

void DatasetsTest::taggedFileTwelveTagsColours() {
  FakeFrame frame;
  auto fit = makePlotter(frame, taggedLines(12));
  QCOMPARE(static_cast<int>(fit->Datasets.count), 12);
  const QColor expected[12] = {
      QColor(0, 0, 0),       QColor(0, 0, 255),     QColor(128, 128, 0), QColor(128, 0, 128),
      QColor(255, 0, 0),     QColor(192, 192, 192), QColor(128, 0, 0),   QColor(255, 0, 255),
      QColor(166, 202, 240), QColor(0, 0, 128),     QColor(0, 0, 0),     QColor(0, 0, 0),
  };
  for (int i = 0; i < 12; ++i) {
    dataset *d = at(*fit, i);
    QCOMPARE(d->dcolour.value_or(-1), fromQColor(expected[i]));
    TErrPointSeries *s = TFit::errorSeries(d->series.get());
    QVERIFY(s);
    QCOMPARE(s->SeriesColour.rgb(), expected[i].rgb());
    QCOMPARE(s->ErrorPen.color().rgb(), expected[i].rgb());
    QCOMPARE(s->count(), 3);
  }
  // Offered for the multi fit and the fit lists, in order; the page stays.
  QCOMPARE(static_cast<int>(fit->MultiSelection->datasets.count), 12);
  QCOMPARE(fit->MultiSelection->datasets.at(11)->obj, at(*fit, 11));
  QCOMPARE(fit->MulList->count(), 12);
  QCOMPARE(fit->MulList->item(0)->text(), QStringLiteral("Dataset a"));
  QCOMPARE(fit->TrDataset->count(), 12);
  QCOMPARE(fit->TrDataset->currentIndex(), 0);
  QCOMPARE(fit->EditName->count(), 12);
  QVERIFY(fit->AddTr->isEnabled());
  QVERIFY(!fit->AddBtn->isEnabled());
  QCOMPARE(fit->currentPage(), 3);
  QCOMPARE(fit->ViewCBD->count(), 12);
  // Every point drawn blue after the replot, on the dataset's own colour.
  QCOMPARE(TFit::errorSeries(at(*fit, 4)->series.get())->valueColour(0).rgb(),
           QColor(0, 0, 255).rgb());
  QVERIFY(frame.log.empty()); // the pad logs the tagged success itself
}

void DatasetsTest::nonNumberCellIsReportedAndSetUpStops() {
  FakeDialogs dialogs;
  FakeFrame frame;
  // The second line has two fields: Col C of row 2 stays empty.
  auto fit = makePlotter(frame, {"1 2 0.1", "2 4", "3 6 0.3"});
  QVERIFY(fit);
  QCOMPARE(dialogs.messages.size(), 1);
  QVERIFY2(dialogs.messages[0].contains("Col C") && dialogs.messages[0].contains("row 2"),
           qPrintable(dialogs.messages[0]));
  // What was done before the cell survives, nothing after it.
  QCOMPARE(static_cast<int>(fit->Columns->count), 2);
  QCOMPARE(items(fit->ErYdata), (QStringList{"Col A", "Col B", "Col C"}));
  QCOMPARE(fit->Xdata->currentIndex(), -1);
  QCOMPARE(fit->ErYdata->currentIndex(), -1);
  QCOMPARE(fit->EditName->currentText(), QString());
  QCOMPARE(static_cast<int>(fit->Datasets.count), 0);
  QCOMPARE(fit->currentPage(), 3);
  // The window goes on working.
  fit->UpdateFrameCommands();
  QVERIFY(!fit->AddBtn->isEnabled());
}

// After a bad cell stopped the set-up, the column it was in is listed but
// was never read: picking it anywhere is refused with a message naming it.
void DatasetsTest::unreadColumnIsRefused_data() {
  QTest::addColumn<int>("unreadAs"); // 0 x, 1 y, 2 errors
  QTest::newRow("as x") << 0;
  QTest::newRow("as y") << 1;
  QTest::newRow("as errors") << 2;
}

void DatasetsTest::unreadColumnIsRefused() {
  QFETCH(int, unreadAs);
  FakeDialogs dialogs;
  FakeFrame frame;
  auto fit = makePlotter(frame, {"1 2 0.1", "2 4", "3 6 0.3"});
  QVERIFY(fit);
  QCOMPARE(static_cast<int>(fit->Columns->count), 2);
  fit->show();
  fit->showPage(0);
  // The user picks with the keyboard: End is the last item, Col C.
  QComboBox *boxes[] = {fit->Xdata, fit->Ydata, fit->ErYdata};
  for (int b = 0; b < 3; ++b) {
    boxes[b]->setFocus();
    QTest::keyClick(boxes[b], b == unreadAs ? Qt::Key_End : Qt::Key_Home);
    if (b == 1 && unreadAs != 1)
      QTest::keyClick(boxes[b], Qt::Key_Down);
  }
  QCOMPARE(boxes[unreadAs]->currentText(), QStringLiteral("Col C"));
  fit->UpdateFrameCommands();
  QVERIFY(fit->AddBtn->isEnabled());
  QTest::mouseClick(fit->AddBtn, Qt::LeftButton);

  QCOMPARE(static_cast<int>(fit->Datasets.count), 0);
  QCOMPARE(frame.log.size(), std::size_t(1));
  QVERIFY(frame.log[0].error);
  QVERIFY2(frame.log[0].text.startsWith(QStringLiteral("Col C ")), qPrintable(frame.log[0].text));

  // A pick of columns that were read still makes the dataset.
  fit->ErYdata->setFocus();
  QTest::keyClick(fit->ErYdata, Qt::Key_Home);
  fit->Xdata->setFocus();
  QTest::keyClick(fit->Xdata, Qt::Key_Home);
  fit->Ydata->setFocus();
  QTest::keyClick(fit->Ydata, Qt::Key_Home);
  QTest::keyClick(fit->Ydata, Qt::Key_Down);
  QTest::mouseClick(fit->AddBtn, Qt::LeftButton);
  QCOMPARE(static_cast<int>(fit->Datasets.count), 1);
  QCOMPARE(at(*fit, 0)->yerr, fit->Columns->at(0)->obj->values);
}

// Under a comma locale both grids and the axis notes show commas, as the
// chi-square and the descriptions do.
void DatasetsTest::numbersShownWithTheLocalesSeparator() {
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  struct back {
    ~back() { QLocale::setDefault(QLocale::c()); }
  } toC;
  FakeFrame frame;
  auto fit = makePlotter(frame, {"1.5 2.25 0.1 7", "2.5 4 0.2 8", "3 6.125 0.3 9"});
  QVERIFY(fit);
  const QAbstractItemModel *grid = fit->StringGrid->model();
  QCOMPARE(grid->data(grid->index(0, 0)).toString(), QStringLiteral("1,5"));
  QCOMPARE(grid->data(grid->index(2, 1)).toString(), QStringLiteral("6,125"));
  fit->UpdateFrameCommands();
  QTest::mouseClick(fit->AddBtn, Qt::LeftButton);
  QCOMPARE(static_cast<int>(fit->Datasets.count), 1);
  const QAbstractItemModel *view = fit->StringGridM->model();
  QCOMPARE(view->data(view->index(0, 1)).toString(), QStringLiteral("2,25"));
  QCOMPARE(view->data(view->index(1, 2)).toString(), QStringLiteral("0,2"));
  // The numbers themselves are the file's.
  QCOMPARE((*at(*fit, 0)->y)[0], 2.25);

  fit->showPage(3);
  fit->XLow = fit->YLow = 1.2345;
  fit->XHigh = fit->YHigh = 1.2445;
  fit->RedrawCharts();
  QCOMPARE(fit->XAxisSuffix, QStringLiteral(" { 1,2 + X }"));
  QCOMPARE(fit->YAxisSuffix, QStringLiteral(" { 1,234 + Y }"));
}

void DatasetsTest::editErrFixedCleaning_data() {
  QTest::addColumn<QString>("typed");
  QTest::addColumn<QString>("text");
  QTest::addColumn<double>("value");
  QTest::newRow("minus first") << "-1"
                               << "1" << 1.0;
  QTest::newRow("second point") << "1.2.3"
                                << "1.23" << 1.23;
  QTest::newRow("point after e") << "1e5.2"
                                 << "1e52" << 1e52;
  QTest::newRow("second e") << "1E5e3"
                            << "1E53" << 1e53;
  QTest::newRow("letters") << "abc"
                           << "" << 1.0;
  QTest::newRow("negative exponent") << "2e-3"
                                     << "2e-3" << 0.002;
  QTest::newRow("exponent only") << "e5"
                                 << "e5" << 100000.0;
  QTest::newRow("lone point") << "."
                              << "." << 0.0;
  QTest::newRow("trailing e") << "5e"
                              << "5e" << 5.0;
  QTest::newRow("trailing minus") << "1e-"
                                  << "1e-" << 0.1;
  QTest::newRow("capital exponent") << "E3"
                                    << "E3" << 1000.0;
  QTest::newRow("empty") << ""
                         << "" << 1.0;
  QTest::newRow("minus after digit") << "1-5"
                                     << "15" << 15.0;
  QTest::newRow("double minus") << "1e--2"
                                << "1e-2" << 0.01;
  QTest::newRow("comma and blank") << "0,5 "
                                   << "05" << 5.0;
}

void DatasetsTest::editErrFixedCleaning() {
  QFETCH(QString, typed);
  QFETCH(QString, text);
  QFETCH(double, value);
  FakeFrame frame;
  TFit fit(frame);
  fit.EditErrFixed->setText(QStringLiteral("7")); // a value that differs from every row's
  QCOMPARE(fit.FixedError, 7.0);
  fit.EditErrFixed->setText(typed);
  QCOMPARE(fit.EditErrFixed->text(), text);
  QCOMPARE(fit.FixedError, value);
}

void DatasetsTest::editErrFixedOutOfRangeKeepsValue() {
  FakeDialogs dialogs;
  FakeFrame frame;
  TFit fit(frame);
  fit.EditErrFixed->setText(QStringLiteral("2.5"));
  fit.EditErrFixed->setText(QStringLiteral("1e999"));
  QCOMPARE(fit.FixedError, 2.5);
  QCOMPARE(dialogs.messages.size(), 1);
  QVERIFY(dialogs.messages[0].contains("1e999"));
}

void DatasetsTest::generatedErrors_data() {
  QTest::addColumn<int>("source"); // 2 percentage, 3 absolute (two columns)
  QTest::addColumn<QString>("value");
  QTest::addColumn<QStringList>("lines");
  QTest::addColumn<QList<double>>("errors"); // empty: rejected
  QTest::newRow("percentage") << 2 << "5" << QStringList{"1 2", "2 4"} << QList<double>{0.1, 0.2};
  QTest::newRow("percentage of zero y") << 2 << "5" << QStringList{"1 2", "2 0"} << QList<double>{};
  QTest::newRow("percentage of negative y")
      << 2 << "5" << QStringList{"1 -2", "2 4"} << QList<double>{};
  QTest::newRow("absolute") << 3 << "0.5" << QStringList{"1 2", "2 4"} << QList<double>{0.5, 0.5};
  QTest::newRow("absolute zero") << 3 << "0" << QStringList{"1 2", "2 4"} << QList<double>{};
}

void DatasetsTest::generatedErrors() {
  QFETCH(int, source);
  QFETCH(QString, value);
  QFETCH(QStringList, lines);
  QFETCH(QList<double>, errors);
  FakeFrame frame;
  std::vector<std::string> text;
  for (const QString &l : lines)
    text.push_back(l.toStdString());
  auto fit = makePlotter(frame, text);
  fit->ErYdata->setCurrentIndex(source);
  fit->EditErrFixed->setText(value);
  fit->EditName->setEditText(QStringLiteral("mine"));
  fit->AddBtnClick();
  if (errors.isEmpty()) {
    QCOMPARE(static_cast<int>(fit->Datasets.count), 0);
    QCOMPARE(frame.log.size(), std::size_t(1));
    QCOMPARE(frame.log[0].text,
             QStringLiteral("Y error points can not contain ZERO or MINIUS values"));
    QCOMPARE(frame.log[0].kind, 0);
    QVERIFY(frame.log[0].error);
    // The controls keep their choices and texts.
    QCOMPARE(fit->ErYdata->currentIndex(), source);
    QCOMPARE(fit->EditName->currentText(), QStringLiteral("mine"));
    return;
  }
  QCOMPARE(static_cast<int>(fit->Datasets.count), 1);
  dataset *d = at(*fit, 0);
  QCOMPARE(d->name, std::string("mine"));
  QCOMPARE(d->yerr->n, errors.size());
  for (int k = 0; k < errors.size(); ++k)
    QVERIFY(qFuzzyCompare((*d->yerr)[k], errors[k]));
  // The generated array is the dataset's own, not a column.
  QVERIFY(d->yerr != fit->Columns->at(1)->obj->values);
}

void DatasetsTest::zeroErrorColumnRejectsDataset() {
  FakeFrame frame;
  auto fit = makePlotter(frame, {"1 2 0.1 0", "2 4 0.2 1", "3 6 0.3 1"});
  fit->ErYdata->setCurrentIndex(3); // Col D, with a zero
  fit->AddBtnClick();
  QCOMPARE(static_cast<int>(fit->Datasets.count), 0);
  QCOMPARE(frame.log.size(), std::size_t(1));
  QCOMPARE(frame.log[0].kind, 102);
  QVERIFY(frame.log[0].error);
  QCOMPARE(frame.log[0].text, QString());
  QVERIFY(!fit->CloseWithoutPrompt);
  // Col C is fine.
  fit->ErYdata->setCurrentIndex(2);
  fit->AddBtnClick();
  QCOMPARE(static_cast<int>(fit->Datasets.count), 1);
}

void DatasetsTest::zeroErrorInThreeColumnFileClosesWithoutQuestion() {
  FakeDialogs dialogs;
  FakeFrame frame;
  QMdiArea area;
  auto owned = makePlotter(frame, {"1 2 0.1", "2 4 -1", "3 6 0.3"});
  QVERIFY(owned->CloseWithoutPrompt);
  QCOMPARE(frame.log.size(), std::size_t(1));
  QCOMPARE(frame.log[0].kind, 102);
  // SetUpData finished its steps on the window.
  QCOMPARE(owned->currentPage(), 2);
  QCOMPARE(static_cast<int>(owned->Datasets.count), 0);

  // In a sub-window that deletes on close, the queued close releases it.
  QPointer<TFit> fit = owned.release();
  QMdiSubWindow *sub = area.addSubWindow(fit.data());
  sub->setAttribute(Qt::WA_DeleteOnClose);
  QTRY_VERIFY(fit.isNull());
  QVERIFY(dialogs.questions.isEmpty());
}

void DatasetsTest::twoDatasetsShareAColumn() {
  FakeFrame frame;
  auto fit = makePlotter(frame, {"1 2 0.1 5", "2 4 0.2 6", "3 6 0.3 7"});
  fit->AddBtnClick(); // A, B, C
  fit->Ydata->setCurrentIndex(3);
  fit->AddBtnClick(); // A, D, C
  QCOMPARE(static_cast<int>(fit->Datasets.count), 2);
  dataset *a = at(*fit, 0);
  dataset *b = at(*fit, 1);
  QCOMPARE(a->x, b->x);
  QCOMPARE(a->x, fit->Columns->at(0)->obj->values);
  QCOMPARE(a->yerr, b->yerr);
  QCOMPARE((*b->y)[1], 6.0);
  // Releasing one dataset leaves the other's numbers, and the column, in place.
  fit->Datasets.removeat(0);
  QCOMPARE(b->x, fit->Columns->at(0)->obj->values);
  QCOMPARE((*b->x)[2], 3.0);
  QCOMPARE((*b->yerr)[1], 0.2);
}

void DatasetsTest::namesAdvanceAfterEachDataset() {
  FakeFrame frame;
  auto fit = makePlotter(frame, {"1 2 0.1 5", "2 4 0.2 6", "3 6 0.3 7"});
  QCOMPARE(fit->EditName->currentText(), QStringLiteral("DataSet A"));
  fit->EditName->setEditText(QStringLiteral("first"));
  fit->AddBtnClick();
  QCOMPARE(fit->EditName->currentText(), QStringLiteral("DataSet B"));
  fit->EditName->setEditText(QStringLiteral("second"));
  fit->AddBtnClick();
  QCOMPARE(fit->EditName->currentText(), QStringLiteral("DataSet C"));
  QCOMPARE(items(fit->TrDataset), (QStringList{"first", "second"}));
  QCOMPARE(items(fit->EditName), (QStringList{"first", "second"}));
  QCOMPARE(frame.log.size(), std::size_t(2));
}

void DatasetsTest::viewChooserAndTrackBarStayInStep() {
  FakeFrame frame;
  auto fit = makePlotter(frame, taggedLines(3));
  QCOMPARE(fit->TrackBar->maximum(), 2);
  QCOMPARE(fit->ViewCBD->currentIndex(), 0);
  QCOMPARE(fit->StringGridMModel->cellText(2, 0), QStringLiteral("erry"));
  QCOMPARE(fit->StringGridMModel->rowCountWithHeader(), 4);

  fit->ViewCBD->setCurrentIndex(2);
  fit->ViewCBDChange();
  QCOMPARE(fit->TrackBar->value(), 2);
  QCOMPARE(fit->StringGridMModel->cellText(1, 1), QStringLiteral("2")); // y of (1, 0+2)
  QCOMPARE(fit->ColorBoxM->selected().rgb(), QColor(128, 128, 0).rgb());

  fit->TrackBar->setValue(1);
  QCOMPARE(fit->ViewCBD->currentIndex(), 1);
  QCOMPARE(fit->ColorBoxM->selected().rgb(), QColor(0, 0, 255).rgb());
}

void DatasetsTest::recolouringReachesCurrentFit() {
  FakeFrame frame;
  auto fit = makePlotter(frame, taggedLines(2));
  dataset *d = at(*fit, 1);
  auto line = std::make_unique<polynom>(1);
  line->data = d;
  d->attach(line.get());
  line->fitplot(fit->mainCanvas(), fit->devCanvas(), 1000, true);
  bfit *f = line.get();
  fit->Fits.add(std::move(line));

  fit->TrackBar->setValue(1);
  fit->ColorBoxM->setSelected(QColor(255, 0, 0));
  fit->ColorBoxMChange();
  QCOMPARE(TFit::errorSeries(d->series.get())->SeriesColour.rgb(), QColor(255, 0, 0).rgb());
  QCOMPARE(TFit::errorSeries(f->devpoints.get())->SeriesColour.rgb(), QColor(255, 0, 0).rgb());
  auto *curve = static_cast<graphhandle *>(f->curve.get())->graph();
  QCOMPARE(curve->pen().color().rgb(), QColor(255, 0, 0).rgb());
  QCOMPARE(d->dcolour.value_or(-1), 0x0000ff); // the colour slot stays

  // Without a current fit only the dataset changes.
  d->attach(nullptr);
  fit->ColorBoxM->setSelected(QColor(0, 128, 0));
  fit->ColorBoxMChange();
  QCOMPARE(TFit::errorSeries(d->series.get())->SeriesColour.rgb(), QColor(0, 128, 0).rgb());
  QCOMPARE(curve->pen().color().rgb(), QColor(255, 0, 0).rgb());
}

QTEST_MAIN(DatasetsTest)
#include "datasets_test.moc"

void DatasetsTest::xErrorChoices_data() {
  QTest::addColumn<int>("source"); // index in "X ErrorBars"
  QTest::addColumn<QString>("value");
  QTest::addColumn<QList<double>>("errors"); // empty: refused
  // Columns A to D; "None" comes first, "Percentage" and "Absolute" last.
  QTest::newRow("none") << 0 << "1" << QList<double>{};
  QTest::newRow("column D") << 4 << "1" << QList<double>{0.5, 0.25, 0.125};
  QTest::newRow("percentage") << 5 << "10" << QList<double>{0.1, 0.2, 0.4};
  QTest::newRow("absolute") << 6 << "0.3" << QList<double>{0.3, 0.3, 0.3};
  QTest::newRow("zero absolute") << 6 << "0" << QList<double>{};
  QTest::newRow("negative percentage") << 5 << "-5" << QList<double>{};
  QTest::newRow("column with a zero") << 3 << "1" << QList<double>{};
}

void DatasetsTest::xErrorChoices() {
  QFETCH(int, source);
  QFETCH(QString, value);
  QFETCH(QList<double>, errors);
  FakeFrame frame;
  auto fit = makePlotter(frame, {"1 2 0.1 0.5", "2 4 0.2 0.25", "4 6 0 0.125"});
  QCOMPARE(items(fit->ErXdata),
           (QStringList{"None", "Col A", "Col B", "Col C", "Col D", "Percentage", "Absolute"}));
  QCOMPARE(fit->ErXdata->currentIndex(), 0);
  fit->ErYdata->setCurrentIndex(1); // Col B as the y errors
  fit->ErXdata->setCurrentIndex(source);
  fit->UpdateFrameCommands();
  QCOMPARE(fit->EditXErrFixed->isEnabled(), source >= 5);
  fit->EditXErrFixed->setText(value);
  fit->AddBtnClick();
  const bool refused = errors.isEmpty() && source != 0;
  if (refused) {
    QCOMPARE(static_cast<int>(fit->Datasets.count), 0);
    QCOMPARE(frame.log.size(), std::size_t(1));
    QCOMPARE(frame.log[0].text,
             QStringLiteral("X error points can not contain ZERO or NEGATIVE values"));
    QVERIFY(frame.log[0].error);
    QCOMPARE(fit->ErXdata->currentIndex(), source);
    return;
  }
  QCOMPARE(static_cast<int>(fit->Datasets.count), 1);
  dataset *d = at(*fit, 0);
  TErrPointSeries *s = TFit::errorSeries(d->series.get());
  QVERIFY(s);
  if (source == 0) {
    QVERIFY(!d->hasxerrors());
    QVERIFY(s->XErrorValues.empty());
    return;
  }
  QVERIFY(d->hasxerrors());
  QCOMPARE(d->xerr->n, errors.size());
  for (int k = 0; k < errors.size(); ++k) {
    QVERIFY(qFuzzyCompare((*d->xerr)[k], errors[k]));
    // The horizontal bars, in the series' (scaled) units.
    QVERIFY(qFuzzyCompare(s->XErrorValues[static_cast<std::size_t>(k)] * fit->XScale, errors[k]));
  }
  // The chart's x range takes in the bars.
  QVERIFY(fit->MChart->xAxis->range().lower <= (1 - errors[0] - fit->XOffset) / fit->XScale);
}

// An absolute x error typed as text that is not a number: "Add" reports it
// and adds nothing (no dataset, series, list entry or log line); the
// choices stay, and once the value is mended the same click adds the set.
void DatasetsTest::xErrorValueNotANumberAddsNothing() {
  FakeDialogs dialogs;
  FakeFrame frame;
  auto fit = makePlotter(frame, {"1 2 0.1 0.5", "2 4 0.2 0.25", "4 6 0.3 0.125"});
  QVERIFY(fit);
  fit->show();
  fit->showPage(0);
  const int graphs = fit->MChart->graphCount();
  fit->ErYdata->setCurrentIndex(2);
  fit->ErXdata->setCurrentIndex(6); // "Absolute"
  fit->UpdateFrameCommands();
  QVERIFY(fit->EditXErrFixed->isEnabled());
  fit->EditXErrFixed->clear();
  QTest::keyClicks(fit->EditXErrFixed, QStringLiteral("0.2x"));
  fit->EditName->setEditText(QStringLiteral("mine"));
  QTest::mouseClick(fit->AddBtn, Qt::LeftButton);

  QCOMPARE(dialogs.messages.size(), 1);
  QVERIFY2(dialogs.messages[0].contains(QStringLiteral("'0.2x' is not a valid floating point")),
           qPrintable(dialogs.messages[0]));
  QCOMPARE(static_cast<int>(fit->Datasets.count), 0);
  QCOMPARE(fit->MChart->graphCount(), graphs);
  QCOMPARE(fit->TrDataset->count(), 0);
  QVERIFY(frame.log.empty());
  QCOMPARE(fit->ErXdata->currentIndex(), 6);
  QCOMPARE(fit->EditName->currentText(), QStringLiteral("mine"));

  QTest::keyClick(fit->EditXErrFixed, Qt::Key_Backspace);
  QTest::mouseClick(fit->AddBtn, Qt::LeftButton);
  QCOMPARE(dialogs.messages.size(), 1);
  QCOMPARE(static_cast<int>(fit->Datasets.count), 1);
  dataset *d = at(*fit, 0);
  QCOMPARE(d->name, std::string("mine"));
  QVERIFY(d->hasxerrors());
  for (int k = 0; k < 3; ++k)
    QCOMPARE((*d->xerr)[k], 0.2);
  QCOMPARE(fit->TrDataset->count(), 1);
  QCOMPARE(frame.log.size(), std::size_t(1));
  QVERIFY(!frame.log[0].error);
}

// A York line through a dataset with x errors: the deviations chart's bars
// are sqrt(sy^2 + (a sx)^2), a the fitted slope, not the y errors.
void DatasetsTest::deviationsShowEffectiveErrors() {
  FakeFrame frame;
  auto fit = makePlotter(
      frame, {"1 2.1 0.1 0.3", "2 3.8 0.1 0.2", "3 6.3 0.2 0.4", "4 8.1 0.2 0.1", "5 9.8 0.1 0.5"});
  fit->ErYdata->setCurrentIndex(2);
  fit->ErXdata->setCurrentIndex(4);
  fit->AddBtnClick();
  QCOMPARE(static_cast<int>(fit->Datasets.count), 1);
  fit->showPage(2);
  fit->TrDataset->setCurrentIndex(0);
  fit->TrDatasetChange();
  fit->TrType->setItemIndex(1); // y=ax+b
  fit->TrTypeClick();
  fit->AddTrClick();
  QCOMPARE(static_cast<int>(fit->Fits.count), 1);
  bfit &f = *fit->Fits.at(0)->obj;
  QCOMPARE(f.xerrmethod, std::string("York"));
  TErrPointSeries *dev = TFit::errorSeries(f.devpoints.get());
  QVERIFY(dev);
  const double sy[] = {0.1, 0.1, 0.2, 0.2, 0.1};
  const double sx[] = {0.3, 0.2, 0.4, 0.1, 0.5};
  QCOMPARE(dev->count(), 5);
  for (int i = 0; i < 5; ++i) {
    const double eff = std::sqrt(sy[i] * sy[i] + f.par[0] * f.par[0] * sx[i] * sx[i]);
    QVERIFY(std::fabs(dev->ErrorValues[static_cast<std::size_t>(i)] * fit->YScale - eff) <
            1e-12 * eff);
    QVERIFY(eff > 1.3 * sy[i]);
  }
  QVERIFY(fit->ChartListBox->toPlainText().contains(QStringLiteral("x errors included (York)")));
}
