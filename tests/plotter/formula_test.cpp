// The "Formula" trend type driven as a user drives it: the formula box and
// its estimate boxes, the name that follows the formula, a formula that
// cannot be read, a fit with its details and information text, and fits
// that fail.
// Covers plotter/tfit_formula.cpp and plotter/formulapanel.cpp.
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <cmath>
#include <string>
#include <vector>

#include "engine/formulafit.h"
#include "engine/logchannel.h"
#include "plotter/charts.h"
#include "plotter/controls.h"
#include "plotter/formulapanel.h"
#include "tests/plotter/plotterfixture.h"

using namespace orvalle;
using namespace orvalle::test;

namespace {

std::string num(double v) { return generaltext(v, 15); }

// Dataset a: a charging curve 2.5 (1 - exp(-x/1.5)) with a little scatter,
// errors 0.02, tagged so that the dataset has a name.
std::vector<std::string> chargingLines() {
  std::vector<std::string> lines;
  for (int i = 0; i < 12; ++i) {
    const double x = 0.4 * i;
    const double y = 2.5 * (1 - std::exp(-x / 1.5)) + 0.015 * std::sin(7.3 * i);
    lines.push_back(num(x) + " " + num(y) + " 0.02 a");
  }
  return lines;
}

void clickFormulaType(TFit &fit) {
  const int index = fit.TrType->count() - 1;
  QCOMPARE(fit.TrType->itemText(index), QStringLiteral("Formula"));
  QRadioButton *button = nullptr;
  for (QRadioButton *b : fit.TrType->findChildren<QRadioButton *>())
    if (b->text() == QStringLiteral("Formula"))
      button = b;
  QVERIFY(button);
  QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(5, button->height() / 2));
  QCOMPARE(fit.TrType->itemIndex(), index);
}

void typeFormula(TFit &fit, const QString &text) {
  fit.FormulaBox->FormulaEdit->clear();
  QTest::keyClicks(fit.FormulaBox->FormulaEdit, text);
}

void pressFit(TFit &fit) { QTest::mouseClick(fit.AddTr, Qt::LeftButton); }

// The estimate boxes shown, as "label=text".
QStringList shownEstimates(const TFit &fit) {
  QStringList l;
  for (int k = 0; k < 9; ++k)
    if (!fit.FormulaBox->estimateBox(k)->isHidden())
      l << fit.FormulaBox->estimateLabel(k)->text() + "=" + fit.FormulaBox->estimateBox(k)->text();
  return l;
}

} // namespace

class FormulaTest : public QObject {
  Q_OBJECT
private slots:
  void boxesFollowTheFormula();
  void formulaThatCannotBeReadFitsNothing();
  void fitAndPlotAFormula();
  void badEstimateOrSingularFitAddsNothing();
};

void FormulaTest::boxesFollowTheFormula() {
  FakeFrame frame;
  auto fit = makePlotter(frame, chargingLines());
  QVERIFY(fit);
  fit->show();
  fit->showPage(2);
  QVERIFY(fit->FormulaBox->isHidden());
  clickFormulaType(*fit);
  QVERIFY(!fit->FormulaBox->isHidden());
  QVERIFY(fit->Estimates->isHidden()); // the five boxes of the other types
  QCOMPARE(fit->FormulaBox->FormulaNote->text(),
           QStringLiteral("Type a formula in x, e.g. A*(1-exp(-x/B))"));
  QCOMPARE(shownEstimates(*fit), QStringList());

  typeFormula(*fit, QStringLiteral("A*(1-exp(-x/B))"));
  QCOMPARE(fit->FormulaBox->FormulaNote->text(), QStringLiteral("Parameters: A, B"));
  QCOMPARE(shownEstimates(*fit), (QStringList{"Estimate A=1", "Estimate B=1"}));
  // The automatic name follows the formula as it is typed.
  QCOMPARE(fit->TrName->currentText(), QStringLiteral("Dataset a -- y=A*(1-exp(-x/B))"));

  // A start typed for A stays when the formula grows a parameter before it.
  QTest::keyClicks(fit->FormulaBox->estimateBox(0), QStringLiteral("5"));
  typeFormula(*fit, QStringLiteral("C + A*(1-exp(-x/B))"));
  QCOMPARE(shownEstimates(*fit), (QStringList{"Estimate C=1", "Estimate A=15", "Estimate B=1"}));

  // Another type hides the formula's box; the formula stays for later.
  QRadioButton *linear = nullptr;
  for (QRadioButton *b : fit->TrType->findChildren<QRadioButton *>())
    if (b->text() == QStringLiteral("Linear (y=ax+b)"))
      linear = b;
  QVERIFY(linear);
  QTest::mouseClick(linear, Qt::LeftButton, {}, QPoint(5, linear->height() / 2));
  QVERIFY(fit->FormulaBox->isHidden());
  QCOMPARE(fit->TrName->currentText(), QStringLiteral("Dataset a -- Linear (y=ax+b)"));
  typeFormula(*fit, QStringLiteral("A*x"));
  QCOMPARE(fit->TrName->currentText(), QStringLiteral("Dataset a -- Linear (y=ax+b)"));
}

void FormulaTest::formulaThatCannotBeReadFitsNothing() {
  FakeFrame frame;
  auto fit = makePlotter(frame, chargingLines());
  QVERIFY(fit);
  fit->show();
  fit->showPage(2);
  clickFormulaType(*fit);
  typeFormula(*fit, QStringLiteral("A*expp(-x/B)"));
  QCOMPARE(fit->FormulaBox->FormulaNote->text(),
           QStringLiteral("Unknown name 'expp' at position 3"));
  QCOMPARE(shownEstimates(*fit), QStringList());
  frame.log.clear();
  pressFit(*fit);
  QCOMPARE(errors(frame), QStringList{QStringLiteral("Unknown name 'expp' at position 3")});
  QCOMPARE(fit->Fits.count, 0u);
  QCOMPARE(fit->CBoxDetails->count(), 0);
  QCOMPARE(fit->currentPage(), 2);
}

void FormulaTest::fitAndPlotAFormula() {
  FakeFrame frame;
  EngineLog engine(frame);
  auto fit = makePlotter(frame, chargingLines(), "/data/charge.txt");
  QVERIFY(fit);
  fit->show();
  fit->showPage(2);
  clickFormulaType(*fit);
  typeFormula(*fit, QStringLiteral("A*(1-exp(-x/B))"));
  fit->FormulaBox->estimateBox(0)->setText(QStringLiteral("2"));
  fit->FormulaBox->estimateBox(1)->setText(QStringLiteral("1"));
  frame.log.clear();
  pressFit(*fit);
  QCOMPARE(errors(frame), QStringList());
  QCOMPARE(fit->Fits.count, 1u);
  auto *f = dynamic_cast<formulafit *>(fit->Fits.at(0)->obj);
  QVERIFY(f);
  QCOMPARE(QString::fromStdString(f->name), QStringLiteral("Dataset a -- y=A*(1-exp(-x/B))"));
  QCOMPARE(fit->CBoxDetails->itemText(0), QStringLiteral("Dataset a -- y=A*(1-exp(-x/B))"));
  // The scatter is small: the values are near the curve's own.
  QVERIFY(std::fabs(f->par[0] - 2.5) < 0.05);
  QVERIFY(std::fabs(f->par[1] - 1.5) < 0.05);
  QVERIFY(f->curve);
  QVERIFY(f->devpoints);
  QCOMPARE(fit->currentPage(), 3);

  // The details: the description by the parameters' own names.
  const auto [a, ea] = shownpair(f->par[0], f->err[0], 2);
  const auto [b, eb] = shownpair(f->par[1], f->err[1], 2);
  QStringList lines = fit->ChartListBox->toPlainText().split('\n');
  QCOMPARE(lines.first(), QStringLiteral("Fit of the form y=A*(1-exp(-x/B)) with"));
  QCOMPARE(lines.mid(lines.size() - 2),
           (QStringList{QString::fromStdString("A = " + a + " +/- " + ea),
                        QString::fromStdString("B = " + b + " +/- " + eb)}));
  QCOMPARE(fit->Txtnpoints->text(), QStringLiteral("10"));
  QCOMPARE(fit->Txtchisq->text(), QString::fromStdString(generaltext(f->chisq(), 15)));

  // The log line and the information text, as for any fit.
  QVERIFY(frame.log.back().text.startsWith(QStringLiteral("Trendline fitted for the ")));
  QStringList info;
  fit->WriteInformation(info);
  QCOMPARE(info.first(), QStringLiteral("Dataset a -- y=A*(1-exp(-x/B))"));
  QVERIFY(info.contains(QStringLiteral("Fit of the form y=A*(1-exp(-x/B)) with")));
}

void FormulaTest::badEstimateOrSingularFitAddsNothing() {
  FakeFrame frame;
  EngineLog engine(frame);
  auto fit = makePlotter(frame, chargingLines());
  QVERIFY(fit);
  fit->show();
  fit->showPage(2);
  clickFormulaType(*fit);

  typeFormula(*fit, QStringLiteral("A*(1-exp(-x/B))"));
  fit->FormulaBox->estimateBox(1)->setText(QStringLiteral("one"));
  frame.log.clear();
  pressFit(*fit);
  QCOMPARE(errors(frame), QStringList{QStringLiteral("Unable To Convert Estimates To Numbers")});
  QCOMPARE(fit->Fits.count, 0u);

  typeFormula(*fit, QStringLiteral("A*x + B*x"));
  frame.log.clear();
  pressFit(*fit);
  QCOMPARE(errors(frame), (QStringList{"The data do not determine the parameter B: other "
                                       "parameters change the curve in the same way",
                                       "Critical Failure Occurred In Fitted The Chosen Line"}));
  QCOMPARE(fit->Fits.count, 0u);
  QCOMPARE(fit->CBoxDetails->count(), 0);
  QCOMPARE(fit->MChart->graphCount(), 1); // the dataset's points alone
}

QTEST_MAIN(FormulaTest)
#include "formula_test.moc"
