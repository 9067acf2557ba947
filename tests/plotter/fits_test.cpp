// Fits in the plotter, driven as a user drives them: the trend-type list
// with samples and plug-in, the point-count check, the estimate boxes and
// their conversion, automatic and typed names, "Fit && Plot" for every
// type, failures that add nothing, multi fits, the details panel, deleting
// a fit, and the information text of all fits.
// Covers plotter/tfit_fitting.cpp, and of plotter/controls.cpp the radio
// groups and the name boxes.
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTest>
#include <cmath>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/customfit.h"
#include "engine/fits.h"
#include "engine/logchannel.h"
#include "plotter/charts.h"
#include "plotter/controls.h"
#include "plotter/errpointseries.h"
#include "plotter/formulapanel.h"
#include "tests/plotter/plotterfixture.h"

using namespace orvalle;
using namespace orvalle::test;

namespace {

// ---------------------------------------------------------------- plug-in
// A fake plug-in library: the model y = A x + B of its own, or, when
// gPolyDegree is not 0, a polynomial of that degree the program fits.

int gEstimates = 0;
int gPolyDegree = 0;
const char *gName = "Straight plug-in y=A*x+B";

extern "C" {
const char *fakeName() { return gName; }
int fakeEstimates() { return gEstimates; }
int fakeIsPoly() { return gPolyDegree; }
const char *fakeMessage() { return ""; }
void fakeLogHandle(void *, orvalle_post_fn) {}
double fakeValue(const orvalle_params *p, double x) { return p->par[0] * x + p->par[1]; }
int fakeFit(orvalle_params *p, const orvalle_points *pts, int) {
  double s = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (int i = 0; i < pts->n; ++i) {
    const double w = pts->w[i], x = pts->x[i], y = pts->y[i];
    s += w, sx += w * x, sy += w * y, sxx += w * x * x, sxy += w * x * y;
  }
  const double det = s * sxx - sx * sx;
  if (det == 0)
    return 1;
  p->par[0] = (s * sxy - sx * sy) / det;
  p->par[1] = (sxx * sy - sx * sxy) / det;
  p->err[0] = std::sqrt(s / det);
  p->err[1] = std::sqrt(sxx / det);
  return 0;
}
void fakeDescribe(const orvalle_params *, const orvalle_verdict *, int, orvalle_line_fn line,
                  void *ctx) {
  line(ctx, "Plug-in straight line");
}
void fakeFormula(const orvalle_params *, int index, orvalle_line_fn line, void *ctx) {
  line(ctx, ("y" + std::to_string(index) + "(x) = x").c_str());
}
}

PluginLibrary fakePlugin() {
  PluginLibrary p;
  p.customfitname = fakeName;
  p.customestimates = fakeEstimates;
  p.customispoly = fakeIsPoly;
  p.messageis = fakeMessage;
  p.setloghangle = fakeLogHandle;
  p.customfit_value = fakeValue;
  p.customfit_fit = fakeFit;
  p.customfit_describe = fakeDescribe;
  p.customfit_formula = fakeFormula;
  return p;
}

// The fake plug-in, bound to a frame by pluginLibrary.
const PluginLibrary kFakePlugin = fakePlugin();

// ------------------------------------------------------------------ data

using Lines = std::vector<std::string>;

std::string num(double v) { return generaltext(v, 15); }

// A three-column file (one dataset with the empty name) of f at the xs.
Lines columnFile(const std::vector<double> &xs, const std::function<double(double)> &f,
                 double err) {
  Lines lines;
  for (double x : xs)
    lines.push_back(num(x) + " " + num(f(x)) + " " + num(err));
  return lines;
}

std::vector<double> range(double from, double step, int n) {
  std::vector<double> xs;
  for (int i = 0; i < n; ++i)
    xs.push_back(from + step * i);
  return xs;
}

// Scattered data about the straight line 2x + 1: a fit with a verdict.
Lines scatteredLine(char tag = 0) {
  const double noise[] = {0.05, -0.08, 0.02, 0.11, -0.06, -0.03, 0.09, -0.1};
  Lines lines;
  for (int i = 0; i < 8; ++i) {
    std::string l = num(i + 1) + " " + num(2.0 * (i + 1) + 1 + noise[i]) + " 0.1";
    if (tag)
      l += std::string(" ") + tag;
    lines.push_back(l);
  }
  return lines;
}

// Two tagged datasets, "Dataset a" (the line 2x + 1) and "Dataset b" (the
// line 2x + 3), at x = 0, 1, 2 with errors 1.
Lines twoLines() { return {"0 1 1 a", "1 3 1 a", "2 5 1 a", "0 3 1 b", "1 5 1 b", "2 7 1 b"}; }

// ---------------------------------------------------------------- driving

QRadioButton *typeButton(TFit &fit, int index) {
  const auto buttons = fit.TrType->findChildren<QRadioButton *>();
  for (QRadioButton *b : buttons)
    if (b->text() == fit.TrType->itemText(index))
      return b;
  return nullptr;
}

void clickType(TFit &fit, int index) {
  QRadioButton *b = typeButton(fit, index);
  QVERIFY2(b, qPrintable(QStringLiteral("no trend type %1").arg(index)));
  QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(5, b->height() / 2));
  QCOMPARE(fit.TrType->itemIndex(), index);
}

void chooseDataset(TFit &fit, int index) {
  fit.TrDataset->setCurrentIndex(index);
  emit fit.TrDataset->activated(index);
}

void chooseDetail(TFit &fit, int index) {
  fit.CBoxDetails->setCurrentIndex(index);
  emit fit.CBoxDetails->activated(index);
}

void typeName(TFit &fit, const QString &name) {
  fit.TrName->lineEdit()->clear();
  QTest::keyClicks(fit.TrName->lineEdit(), name);
}

void setEstimates(TFit &fit, const QStringList &values) {
  QLineEdit *boxes[] = {fit.EstA, fit.EstB, fit.EstC, fit.EstD, fit.EstE};
  for (int i = 0; i < values.size() && i < 5; ++i)
    boxes[i]->setText(values[i]);
}

void pressFit(TFit &fit) { QTest::mouseClick(fit.AddTr, Qt::LeftButton); }

// The "Multi Fit" group is laid out only when shown, so its button is
// pressed without a position.
void pressMultiFit(TFit &fit) { fit.GoPlotBtn->click(); }

QStringList items(const RadioGroup *g) {
  QStringList l;
  for (int i = 0; i < g->count(); ++i)
    l << g->itemText(i);
  return l;
}

QStringList combo(const QComboBox *b) {
  QStringList l;
  for (int i = 0; i < b->count(); ++i)
    l << b->itemText(i);
  return l;
}

QStringList toQ(const stringlist &lines) {
  QStringList l;
  for (const std::string &s : lines)
    l << QString::fromStdString(s);
  return l;
}

bfit *fitAt(TFit &fit, int i) { return fit.Fits.at(static_cast<unsigned>(i))->obj; }
dataset *datasetOf(TFit &fit, int i) { return fit.Datasets.at(static_cast<unsigned>(i))->obj; }

const QStringList kFour = {"Linear (y=mx)", "Linear (y=ax+b)", "Quadratic (y=ax^2+bx+c)",
                           "Cubic (y=ax^3+bx^2+cx+d)"};
const QStringList kSamples = {"Power y=A*(x^2)^(B/2)", "Resonance y=A/((B-x)^2+C)",
                              "Periodic y=A*cos(B*x)", "Periodic y=A*exp(B*x)*cos(Cx+D)"};

} // namespace

class FitsTest : public QObject {
  Q_OBJECT
private slots:
  void init();
  void cleanup();

  void trendTypeItems_data();
  void trendTypeItems();
  void quadraticOnThreePointsDisablesFit();
  void estimateBoxesPerType_data();
  void estimateBoxesPerType();
  void badEstimateInHiddenBoxFailsEveryFit();
  void automaticAndTypedNames();
  void automaticNameFollowsTheChosenDataset();
  void namesShowWholeAtTheDefaultSize();
  void fitAndPlotEveryType_data();
  void fitAndPlotEveryType();
  void solverSettingReadAtEachFit();
  void nonConvergingCosineAddsNothing();
  void nonFiniteChiSquareIsAFailedFit();
  void hostilePluginFitsFailWithTheirReason_data();
  void hostilePluginFitsFailWithTheirReason();
  void failureAfterListingTakesTheFitBack();
  void multiFit_data();
  void multiFit();
  void multiFitButtonNeedsTwoDatasets();
  void noDatasetChosenFitsTheFirst();
  void failedMultiFitLeavesNoLines();
  void firstHandMadeDatasetTakesEveryType_data();
  void firstHandMadeDatasetTakesEveryType();
  void typeChosenWithoutAClickTakesEffect();
  void multiFitNamesSayWhatIsShared();
  void detailsOfTheChosenFit();
  void noDegreesOfFreedomShowsNoLimits();
  void deleteFit();
  void writeInformationForTwoFits();
  void writeInformationSeparatorAndExponent();
};

void FitsTest::init() {
  gEstimates = 0;
  gPolyDegree = 0;
}

void FitsTest::cleanup() { QLocale::setDefault(QLocale::c()); }

// ------------------------------------------------------------ trend types

void FitsTest::trendTypeItems_data() {
  QTest::addColumn<bool>("samples");
  QTest::addColumn<bool>("plugin");
  QTest::addColumn<QStringList>("expected");

  const QString plug = QString::fromLatin1(gName);
  // The typed formula is always offered, after every other item.
  const QStringList formula = {QStringLiteral("Formula")};
  QTest::newRow("plain") << false << false << kFour + formula;
  QTest::newRow("samples") << true << false << kFour + kSamples + formula;
  QTest::newRow("plug-in at 4") << false << true << kFour + QStringList{plug} + formula;
  QTest::newRow("samples, plug-in at 8")
      << true << true << kFour + kSamples + QStringList{plug} + formula;
}

void FitsTest::trendTypeItems() {
  QFETCH(bool, samples);
  QFETCH(bool, plugin);
  QFETCH(QStringList, expected);

  FakeFrame frame;

  frame.gauss = true;
  frame.sampleFits = samples;
  frame.pluginLibrary = plugin ? &kFakePlugin : nullptr;

  // Two points: enough for the line through the origin only.
  auto two = makePlotter(frame, {"1 2 0.1", "2 4.1 0.1"});
  QVERIFY(two);
  QCOMPARE(items(two->TrType), expected);
  QCOMPARE(static_cast<int>(two->TrendTypes.size()), expected.size());

  // The last item before the formula needs 3 points wherever it stands:
  // the plug-in at 4 or 8 as well as the plain cubic (5) and the damped
  // cosine (5).
  QCOMPARE(two->TrendTypes.back(), trendtype::formula);
  const int last = expected.size() - 2;
  const int needs = plugin ? 3 : 5;
  frame.log.clear();
  clickType(*two, last);
  QCOMPARE(errors(frame), QStringList{QStringLiteral("You need at least %1 points in the dataset "
                                                     "to fit %2")
                                          .arg(needs)
                                          .arg(expected[last])});
  QVERIFY(!two->AddTr->isEnabled());

  auto three = makePlotter(frame, {"1 2 0.1", "2 4.1 0.1", "3 5.9 0.1"});
  QVERIFY(three);
  frame.log.clear();
  clickType(*three, last);
  QCOMPARE(errors(frame).isEmpty(), plugin);
  QCOMPARE(three->AddTr->isEnabled(), plugin);

  if (plugin) {
    // The plug-in's model fits like any other type.
    pressFit(*three);
    QCOMPARE(three->Fits.count, 1u);
    QVERIFY(dynamic_cast<customfit *>(fitAt(*three, 0)));
    QCOMPARE(three->ChartListBox->toPlainText(), QStringLiteral("Plug-in straight line"));
  } else {
    // Without a plug-in, the item before the formula is an ordinary cubic
    // or damped cosine.
    QCOMPARE(three->TrendTypes[static_cast<std::size_t>(last)],
             samples ? trendtype::periodicdecay : trendtype::cubic);
  }
}

void FitsTest::quadraticOnThreePointsDisablesFit() {
  FakeFrame frame;
  frame.gauss = true;
  auto fit = makePlotter(frame, {"1 3 0.5", "2 12 0.5", "3 27 0.5"});
  QVERIFY(fit);
  QVERIFY(fit->AddTr->isEnabled());
  frame.log.clear();

  clickType(*fit, 2);
  QCOMPARE(frame.log.size(), std::size_t(1));
  QCOMPARE(frame.log[0].kind, 0);
  QVERIFY(frame.log[0].error);
  QCOMPARE(
      frame.log[0].text,
      QStringLiteral("You need at least 4 points in the dataset to fit Quadratic (y=ax^2+bx+c)"));
  QVERIFY(!fit->AddTr->isEnabled());

  clickType(*fit, 1);
  QVERIFY(fit->AddTr->isEnabled());
  QCOMPARE(frame.log.size(), std::size_t(1));
}

void FitsTest::estimateBoxesPerType_data() {
  QTest::addColumn<int>("type");
  QTest::addColumn<int>("pluginEstimates");
  QTest::addColumn<int>("shown");

  QTest::newRow("line") << 1 << 0 << 0;
  QTest::newRow("cubic") << 3 << 0 << 0;
  QTest::newRow("power") << 4 << 0 << 0;
  QTest::newRow("resonance") << 5 << 0 << 0;
  QTest::newRow("cosine") << 6 << 0 << 2;
  QTest::newRow("damped cosine") << 7 << 0 << 4;
  QTest::newRow("plug-in, none") << 8 << 0 << 0;
  QTest::newRow("plug-in, three") << 8 << 3 << 3;
  QTest::newRow("plug-in, five") << 8 << 5 << 5;
}

void FitsTest::estimateBoxesPerType() {
  QFETCH(int, type);
  QFETCH(int, pluginEstimates);
  QFETCH(int, shown);

  gEstimates = pluginEstimates;
  FakeFrame frame;
  frame.gauss = true;
  frame.sampleFits = true;
  frame.pluginLibrary = &kFakePlugin;
  Lines lines = columnFile(
      range(1, 1, 6), [](double x) { return 2 * x; }, 0.1);
  auto fit = makePlotter(frame, lines);
  QVERIFY(fit);
  // Start from the widest set, so that hiding is seen as well.
  clickType(*fit, 7);
  clickType(*fit, type);

  QCOMPARE(!fit->Estimates->isHidden(), shown > 0);
  QCOMPARE(fit->Estimates->isEnabled(), shown > 0);
  QLineEdit *boxes[] = {fit->EstA, fit->EstB, fit->EstC, fit->EstD, fit->EstE};
  QLabel *labels[] = {fit->estlA, fit->estlB, fit->estlC, fit->estlD, fit->estlE};
  if (shown > 0) {
    for (int i = 0; i < 5; ++i) {
      QCOMPARE(!boxes[i]->isHidden(), i < shown);
      QCOMPARE(boxes[i]->isEnabled(), i < shown);
      QCOMPARE(!labels[i]->isHidden(), i < shown);
    }
  }
}

void FitsTest::badEstimateInHiddenBoxFailsEveryFit() {
  FakeFrame frame;
  frame.gauss = true;
  frame.sampleFits = true;
  auto fit = makePlotter(frame, scatteredLine());
  QVERIFY(fit);
  dataset *d = datasetOf(*fit, 0);
  fit->EstE->setText(QStringLiteral("1,5")); // not a number; box E is never shown here

  for (int type : {0, 1, 3, 4, 6}) {
    clickType(*fit, type);
    QVERIFY(!fit->EstE->isVisibleTo(fit.get()));
    frame.log.clear();
    pressFit(*fit);
    QCOMPARE(errors(frame), QStringList{"Unable To Convert Estimates To Numbers"});
    QCOMPARE(fit->Fits.count, 0u);
    QCOMPARE(fit->CBoxDetails->count(), 0);
    QCOMPARE(d->currentfit(), nullptr);
  }
  QCOMPARE(fit->MChart->graphCount(), 1); // the dataset's points only

  fit->EstE->setText(QStringLiteral("1.5"));
  clickType(*fit, 1);
  frame.log.clear();
  pressFit(*fit);
  QVERIFY(errors(frame).isEmpty());
  QCOMPARE(fit->Fits.count, 1u);
  QCOMPARE(fitAt(*fit, 0)->par[4], 1.5); // every estimate reaches the fit, shown or not
}

// ------------------------------------------------------------------ names

void FitsTest::automaticAndTypedNames() {
  FakeFrame frame;
  frame.gauss = true;
  // A three-column file: its dataset has the empty name.
  auto single = makePlotter(frame, scatteredLine());
  QVERIFY(single);
  QCOMPARE(single->TrName->currentText(), QStringLiteral("Linear (y=mx)"));
  QVERIFY(!single->FitNamedByUser);

  Lines lines = scatteredLine('a');
  for (const std::string &l : scatteredLine('b'))
    lines.push_back(l);
  auto fit = makePlotter(frame, lines);
  QVERIFY(fit);
  QCOMPARE(fit->TrName->currentText(), QStringLiteral("Dataset a -- Linear (y=mx)"));
  clickType(*fit, 2);
  QCOMPARE(fit->TrName->currentText(), QStringLiteral("Dataset a -- Quadratic (y=ax^2+bx+c)"));
  QVERIFY(!fit->FitNamedByUser); // the program's own text is no name of the user's

  // A typed name survives clicks on other types.
  typeName(*fit, QStringLiteral("my line"));
  QVERIFY(fit->FitNamedByUser);
  clickType(*fit, 1);
  clickType(*fit, 3);
  QCOMPARE(fit->TrName->currentText(), QStringLiteral("my line"));

  // Another dataset does not rename until a type is clicked; then the
  // automatic name follows the new dataset.
  chooseDataset(*fit, 1);
  QVERIFY(!fit->FitNamedByUser);
  QCOMPARE(fit->TrName->currentText(), QStringLiteral("my line"));
  clickType(*fit, 1);
  QCOMPARE(fit->TrName->currentText(), QStringLiteral("Dataset b -- Linear (y=ax+b)"));

  // The typed name is the fit's; the next click names automatically again.
  typeName(*fit, QStringLiteral("typed"));
  pressFit(*fit);
  QCOMPARE(fit->Fits.count, 1u);
  QCOMPARE(QString::fromStdString(fitAt(*fit, 0)->name), QStringLiteral("typed"));
  QCOMPARE(combo(fit->CBoxDetails), QStringList{"typed"});
  QVERIFY(!fit->FitNamedByUser);
  clickType(*fit, 0);
  QCOMPARE(fit->TrName->currentText(), QStringLiteral("Dataset b -- Linear (y=mx)"));

  // Emptying the name is not naming the fit.
  fit->TrName->lineEdit()->selectAll();
  QTest::keyClick(fit->TrName->lineEdit(), Qt::Key_Delete);
  QVERIFY(!fit->FitNamedByUser);
}

// A fit made after choosing another dataset carries that dataset's name,
// also in the names of a later multi fit's lines.
void FitsTest::automaticNameFollowsTheChosenDataset() {
  FakeFrame frame;
  frame.gauss = true;
  Lines lines = twoLines();
  for (const char *l : {"0 2 1 c", "1 4 1 c", "2 6 1 c"})
    lines.push_back(l);
  auto fit = makePlotter(frame, lines);
  QVERIFY(fit);
  clickType(*fit, 1);
  pressFit(*fit);
  QCOMPARE(combo(fit->CBoxDetails), QStringList{"Dataset a -- Linear (y=ax+b)"});

  // The user picks Dataset b in the list with the keyboard.
  fit->TrDataset->setFocus();
  QTest::keyClick(fit->TrDataset, Qt::Key_Down);
  QCOMPARE(fit->TrDataset->currentText(), QStringLiteral("Dataset b"));
  QCOMPARE(fit->TrName->currentText(), QStringLiteral("Dataset b -- Linear (y=ax+b)"));
  pressFit(*fit);
  QCOMPARE(QString::fromStdString(fitAt(*fit, 1)->name),
           QStringLiteral("Dataset b -- Linear (y=ax+b)"));
  QCOMPARE(fitAt(*fit, 1)->data, datasetOf(*fit, 1));

  // Dataset c likewise.
  QTest::keyClick(fit->TrDataset, Qt::Key_Down);
  QCOMPARE(fit->TrName->currentText(), QStringLiteral("Dataset c -- Linear (y=ax+b)"));

  // A name the user typed stays when the dataset changes.
  typeName(*fit, QStringLiteral("my line"));
  QTest::keyClick(fit->TrDataset, Qt::Key_Up);
  QCOMPARE(fit->TrDataset->currentText(), QStringLiteral("Dataset b"));
  QCOMPARE(fit->TrName->currentText(), QStringLiteral("my line"));
}

// At the plotter's opening size the automatic name shows whole in TrName;
// the dataset and fit lists show whole names or carry them as tool tips.
void FitsTest::namesShowWholeAtTheDefaultSize() {
  FakeFrame frame;
  frame.gauss = true;
  auto fit = makePlotter(frame, twoLines());
  QVERIFY(fit);
  fit->show();
  QVERIFY(QTest::qWaitForWindowExposed(fit.get()));
  QCOMPARE(fit->size(), QSize(580, 580));
  fit->showPage(2);
  clickType(*fit, 2);
  const QString name = QStringLiteral("Dataset a -- Quadratic (y=ax^2+bx+c)");
  QCOMPARE(fit->TrName->currentText(), name);
  QCoreApplication::processEvents();
  QLineEdit *edit = fit->TrName->lineEdit();
  QVERIFY2(edit->width() >= edit->fontMetrics().horizontalAdvance(name) + 4,
           qPrintable(QStringLiteral("%1 pixels for %2")
                          .arg(edit->width())
                          .arg(edit->fontMetrics().horizontalAdvance(name))));
  QCOMPARE(fit->TrName->toolTip(), name);
  clickType(*fit, 1); // three points: a straight line
  pressFit(*fit);
  const QString line = QStringLiteral("Dataset a -- Linear (y=ax+b)");
  QCOMPARE(fit->CBoxDetails->currentText(), line);
  QCOMPARE(fit->CBoxDetails->toolTip(), line);
  QCOMPARE(fit->TrDataset->toolTip(), QStringLiteral("Dataset a"));
}

// --------------------------------------------------------- fit and plot

void FitsTest::fitAndPlotEveryType_data() {
  QTest::addColumn<int>("type");
  QTest::addColumn<int>("poly"); // plug-in polynomial degree
  QTest::addColumn<Lines>("lines");
  QTest::addColumn<QStringList>("estimates");
  QTest::addColumn<QList<double>>("expected");
  QTest::addColumn<double>("tolerance");

  const auto xs = range(1, 1, 6);
  QTest::newRow("line through origin") << 0 << 0
                                       << columnFile(
                                              xs, [](double x) { return 2.5 * x; }, 0.1)
                                       << QStringList{} << QList<double>{2.5} << 1e-9;
  QTest::newRow("straight line") << 1 << 0
                                 << columnFile(
                                        xs, [](double x) { return 2 * x + 1; }, 0.1)
                                 << QStringList{} << QList<double>{2, 1} << 1e-9;
  QTest::newRow("y = 3x^2 as quadratic") << 2 << 0
                                         << columnFile(
                                                xs, [](double x) { return 3 * x * x; }, 0.5)
                                         << QStringList{} << QList<double>{3, 0, 0} << 1e-8;
  QTest::newRow("cubic") << 3 << 0
                         << columnFile(
                                xs, [](double x) { return x * x * x - 2 * x + 4; }, 0.5)
                         << QStringList{} << QList<double>{1, 0, -2, 4} << 1e-7;
  QTest::newRow("y = 3x^2 as power") << 4 << 0
                                     << columnFile(
                                            {1, 2, 3, 4}, [](double x) { return 3 * x * x; }, 0.03)
                                     << QStringList{} << QList<double>{3, 2} << 1e-9;
  QTest::newRow("resonance") << 5 << 0
                             << columnFile(
                                    range(-2, 0.5, 9),
                                    [](double x) { return 2 / ((x - 1) * (x - 1) + 0.5); }, 0.01)
                             << QStringList{} << QList<double>{2, 1, 0.5} << 1e-9;
  QTest::newRow("cosine from close estimates")
      << 6 << 0
      << columnFile(
             range(0.1, 0.1, 10), [](double x) { return 2 * std::cos(3 * x); }, 0.01)
      << QStringList{"1.9", "3.05"} << QList<double>{2, 3} << 1e-7;
  QTest::newRow("damped cosine") << 7 << 0
                                 << columnFile(
                                        range(0.1, 0.1, 20),
                                        [](double x) {
                                          return 2 * std::exp(-0.5 * x) * std::cos(3 * x + 0.2);
                                        },
                                        0.01)
                                 << QStringList{"1.9", "-0.45", "3.05", "0.15"}
                                 << QList<double>{2, -0.5, 3, 0.2} << 1e-6;
  QTest::newRow("plug-in model") << 8 << 0
                                 << columnFile(
                                        xs, [](double x) { return 4 * x - 3; }, 0.2)
                                 << QStringList{} << QList<double>{4, -3} << 1e-9;
  QTest::newRow("plug-in polynomial") << 8 << 2
                                      << columnFile(
                                             xs, [](double x) { return 3 * x * x; }, 0.5)
                                      << QStringList{} << QList<double>{3, 0, 0} << 1e-8;
}

void FitsTest::fitAndPlotEveryType() {
  QFETCH(int, type);
  QFETCH(int, poly);
  QFETCH(Lines, lines);
  QFETCH(QStringList, estimates);
  QFETCH(QList<double>, expected);
  QFETCH(double, tolerance);

  gPolyDegree = poly;
  FakeFrame frame;
  frame.gauss = true;
  frame.sampleFits = true;
  frame.pluginLibrary = &kFakePlugin;
  EngineLog engine(frame);
  auto fit = makePlotter(frame, lines, "/lab/run7.txt");
  QVERIFY(fit);
  fit->showPage(2);
  clickType(*fit, type);
  setEstimates(*fit, estimates);
  QVERIFY(fit->AddTr->isEnabled());
  frame.log.clear();
  pressFit(*fit);
  QVERIFY2(errors(frame).isEmpty(), qPrintable(errors(frame).join('\n')));

  QCOMPARE(fit->Fits.count, 1u);
  bfit &f = *fitAt(*fit, 0);
  if (poly)
    QCOMPARE(f.order, std::uint16_t(poly));
  for (int k = 0; k < expected.size(); ++k)
    QVERIFY2(std::abs(f.par[k] - expected[k]) <= tolerance * std::max(1.0, std::abs(expected[k])),
             qPrintable(QStringLiteral("par[%1] = %2, expected %3")
                            .arg(k)
                            .arg(f.par[k], 0, 'g', 17)
                            .arg(expected[k])));

  // Listed, chosen and described; the dataset's current fit.
  const QString name = fit->TrType->itemText(type);
  QCOMPARE(QString::fromStdString(f.name), name);
  QCOMPARE(combo(fit->CBoxDetails), QStringList{name});
  QCOMPARE(fit->CBoxDetails->currentIndex(), 0);
  QCOMPARE(fit->Txtchisq->text(), QString::fromStdString(generaltext(f.chisq(), 15)));
  QCOMPARE(fit->Txtnpoints->text(), QString::number(f.dof()));
  stringlist described;
  f.describe(described, true);
  QCOMPARE(fit->ChartListBox->toPlainText(), toQ(described).join('\n'));
  QCOMPARE(datasetOf(*fit, 0)->currentfit(), &f);
  QVERIFY(!fit->MChart->legend->visible());
  QVERIFY(!fit->FitNamedByUser);

  // Drawn on "View Chart": the curve across the axis range, the deviations
  // one per point, both in the dataset's series colour.
  QCOMPARE(fit->currentPage(), 3);
  QVERIFY(f.curve && f.devpoints);
  QVERIFY(f.curve->count() >= 199 && f.curve->count() <= 201);
  auto *curve = dynamic_cast<lineseries *>(f.curve.get());
  QVERIFY(curve && curve->graph());
  const QCPRange xr = fit->MChart->xAxis->range();
  const auto first = curve->graph()->data()->constBegin();
  const auto last = curve->graph()->data()->constEnd() - 1;
  QCOMPARE(first->key, xr.lower);
  QVERIFY(last->key < xr.upper && last->key > xr.upper - 0.01 * xr.size());
  TErrPointSeries *dev = TFit::errorSeries(f.devpoints.get());
  QVERIFY(dev);
  QCOMPARE(dev->count(), datasetOf(*fit, 0)->x->n);
  const QColor own = TFit::errorSeries(datasetOf(*fit, 0)->series.get())->SeriesColour;
  QCOMPARE(curve->graph()->pen().color(), own);
  QCOMPARE(dev->SeriesColour, own);

  // The log line names the window and the verdict.
  QCOMPARE(frame.log.back().text, QStringLiteral("Trendline fitted for the ") + fit->windowTitle() +
                                      QStringLiteral(" with a ") +
                                      QString::fromStdString(f.verdictword()) +
                                      QStringLiteral(" fit"));
  QVERIFY(!frame.log.back().error);
  QVERIFY(fit->windowTitle().contains(QStringLiteral("run7")));
}

void FitsTest::solverSettingReadAtEachFit() {
  FakeFrame frame;
  frame.gauss = true;
  auto fit = makePlotter(frame, scatteredLine());
  QVERIFY(fit);
  clickType(*fit, 1);
  frame.invmatrReads = 0;
  frame.gauss = false;
  pressFit(*fit);
  QCOMPARE(frame.invmatrReads, 1);
  frame.gauss = true;
  pressFit(*fit);
  QCOMPARE(frame.invmatrReads, 2);
  // Cramer's rule and Gaussian elimination agree on the same line.
  QCOMPARE(fit->Fits.count, 2u);
  QVERIFY(std::abs(fitAt(*fit, 0)->par[0] - fitAt(*fit, 1)->par[0]) < 1e-12);
  // A straight line with scattered points gets its verdict word.
  QVERIFY(frame.log.back().text.endsWith(QStringLiteral(" with a good fit")));
}

void FitsTest::nonConvergingCosineAddsNothing() {
  FakeFrame frame;
  frame.gauss = true;
  frame.sampleFits = true;
  EngineLog engine(frame);
  auto fit = makePlotter(
      frame, columnFile(
                 range(0.1, 0.1, 10), [](double x) { return 2 * std::cos(3 * x); }, 0.01));
  QVERIFY(fit);
  // A straight line first: the dataset's current fit to keep.
  clickType(*fit, 1);
  pressFit(*fit);
  QCOMPARE(fit->Fits.count, 1u);
  bfit *before = fitAt(*fit, 0);
  const int graphs = fit->MChart->graphCount();
  const int devGraphs = fit->DevChart->graphCount();
  const QString details = fit->ChartListBox->toPlainText();

  fit->showPage(2);
  clickType(*fit, 6);
  setEstimates(*fit, {"1", "2"});
  frame.log.clear();
  pressFit(*fit);

  QCOMPARE(frame.log.size(), std::size_t(2));
  QCOMPARE(frame.log[0].kind, kEngineLogKind);
  QCOMPARE(frame.log[0].text, QStringLiteral("Fit failed to converge try improving estimates"));
  QCOMPARE(frame.log[1].kind, 0);
  QVERIFY(frame.log[1].error);
  QCOMPARE(frame.log[1].text,
           QStringLiteral("Critical Failure Occurred In Fitted The Chosen Line"));

  QCOMPARE(fit->Fits.count, 1u);
  QCOMPARE(combo(fit->CBoxDetails).size(), 1);
  QCOMPARE(datasetOf(*fit, 0)->currentfit(), before);
  QCOMPARE(fit->MChart->graphCount(), graphs);
  QCOMPARE(fit->DevChart->graphCount(), devGraphs);
  QCOMPARE(fit->ChartListBox->toPlainText(), details);
  QCOMPARE(fit->currentPage(), 2);
}

void FitsTest::nonFiniteChiSquareIsAFailedFit() {
  // Residuals of 1e200 with errors 1: the chi-square overflows. The fit is
  // a failed fit with the engine's reason, not a "suspiciously large" one.
  FakeFrame frame;
  frame.gauss = true;
  EngineLog engine(frame);
  auto fit = makePlotter(frame, {"0 1e200 1", "1 -1e200 1", "2 1e200 1", "3 -1e200 1"});
  QVERIFY(fit);
  clickType(*fit, 1);
  frame.log.clear();
  pressFit(*fit);
  QCOMPARE(frame.log.size(), std::size_t(2));
  QCOMPARE(frame.log[0].kind, kEngineLogKind);
  QCOMPARE(frame.log[0].text,
           QStringLiteral("The fit gave a chi-square that is not a finite number"));
  QVERIFY(frame.log[1].error);
  QCOMPARE(frame.log[1].text,
           QStringLiteral("Critical Failure Occurred In Fitted The Chosen Line"));
  QCOMPARE(fit->Fits.count, 0u);
  QCOMPARE(datasetOf(*fit, 0)->currentfit(), nullptr);
}

void FitsTest::hostilePluginFitsFailWithTheirReason_data() {
  QTest::addColumn<QString>("kind");
  QTest::addColumn<QString>("reason");
  const QString who = QStringLiteral("The plug-in model \"Hostile straight line y=A+B*x\"");
  QTest::newRow("NaN parameter") << "nanfit"
                                 << who + " gave parameter [1] = nan, which is not a finite number";
  QTest::newRow("infinite uncertainty")
      << "inferr" << who + " gave uncertainty [0] = inf, which is not a finite number";
  QTest::newRow("a third parameter it never fits")
      << "threeestimates" << who + " gave parameter [2] = nan, which is not a finite number";
  QTest::newRow("NaN value") << "nanvalue"
                             << who + " gives nan at x = 3, which is not a finite number";
  QTest::newRow("fails saying nothing")
      << "failsilent" << who + " could not fit the dataset (its fit returned 5)";
}

void FitsTest::hostilePluginFitsFailWithTheirReason() {
  // Plug-in libraries built from tests/plugins/hostile.c, bound as the
  // program binds one: the reason, naming the model, comes before the
  // plotter's own message, and nothing is added.
  QFETCH(QString, kind);
  QFETCH(QString, reason);
  std::string why;
  const auto lib =
      loadpluginfile(ORVALLE_TEST_PLUGIN_DIR "/libtestplugin_" + kind.toStdString() + ".so", &why);
  QVERIFY2(lib, why.c_str());
  FakeFrame frame;
  frame.gauss = true;
  frame.pluginLibrary = &*lib;
  EngineLog engine(frame);
  auto fit = makePlotter(frame, {"0 1 0.1", "1 3 0.1", "2 5 0.1", "3 7 0.1", "4 9 0.1"});
  QVERIFY(fit);
  clickType(*fit, 4);
  QCOMPARE(fit->TrType->itemText(4), QStringLiteral("Hostile straight line y=A+B*x"));
  QVERIFY(fit->AddTr->isEnabled());
  frame.log.clear();
  pressFit(*fit);
  QCOMPARE(frame.log.size(), std::size_t(2));
  QCOMPARE(frame.log[0].kind, kEngineLogKind);
  QCOMPARE(frame.log[0].text, reason);
  QVERIFY(frame.log[1].error);
  QCOMPARE(frame.log[1].text,
           QStringLiteral("Critical Failure Occurred In Fitted The Chosen Line"));
  QCOMPARE(fit->Fits.count, 0u);
  QCOMPARE(datasetOf(*fit, 0)->currentfit(), nullptr);
}

void FitsTest::failureAfterListingTakesTheFitBack() {
  // The fit succeeds and is listed, shown and redrawn, then its log line
  // fails: it is taken back out of the list, the details, the charts and
  // the dataset, and the details and page shown before come back.
  FakeFrame frame;
  frame.gauss = true;
  auto fit = makePlotter(frame, columnFile(
                                    range(1, 1, 10), [](double x) { return 2 * x + 1; }, 0.5));
  QVERIFY(fit);
  clickType(*fit, 1);
  pressFit(*fit); // a straight line to keep
  QCOMPARE(fit->Fits.count, 1u);
  bfit *before = fitAt(*fit, 0);
  const int graphs = fit->MChart->graphCount();
  const int devGraphs = fit->DevChart->graphCount();
  const QString details = fit->ChartListBox->toPlainText();
  const QString chisq = fit->Txtchisq->text();

  fit->showPage(2);
  clickType(*fit, 2);
  frame.onLog = [](const LogLine &line) {
    if (line.text.startsWith(QStringLiteral("Trendline fitted")))
      throw std::runtime_error("the log request failed");
  };
  frame.log.clear();
  pressFit(*fit);
  frame.onLog = nullptr;

  QCOMPARE(errors(frame), QStringList{"Critical Failure Occurred In Fitted The Chosen Line"});
  QCOMPARE(fit->Fits.count, 1u);
  QCOMPARE(fitAt(*fit, 0), before);
  QCOMPARE(combo(fit->CBoxDetails).size(), 1);
  QCOMPARE(fit->CBoxDetails->currentIndex(), 0);
  QCOMPARE(fit->ChartListBox->toPlainText(), details);
  QCOMPARE(fit->Txtchisq->text(), chisq);
  QCOMPARE(datasetOf(*fit, 0)->currentfit(), before);
  QCOMPARE(fit->MChart->graphCount(), graphs);
  QCOMPARE(fit->DevChart->graphCount(), devGraphs);
  QCOMPARE(fit->currentPage(), 2);
}

// ------------------------------------------------------------- multi fit

void FitsTest::multiFit_data() {
  QTest::addColumn<int>("with");
  QTest::addColumn<QString>("shared");

  QTest::newRow("same intercept") << 0 << QStringLiteral("Intercept (b)");
  QTest::newRow("same gradient") << 1 << QStringLiteral("Gradient (a)");
}

void FitsTest::multiFit() {
  QFETCH(int, with);
  QFETCH(QString, shared);

  FakeFrame frame;

  frame.gauss = true;
  auto fit = makePlotter(frame, twoLines(), "/lab/pair.txt");
  QVERIFY(fit);
  QCOMPARE(combo(fit->TrDataset), (QStringList{"Dataset a", "Dataset b"}));
  clickType(*fit, 1);
  fit->UpdateFrameCommands();
  QVERIFY(!fit->Multfit->isHidden());
  QVERIFY(fit->GoPlotBtn->isEnabled());
  if (with == 1) {
    auto buttons = fit->MFitType->findChildren<QRadioButton *>();
    QTest::mouseClick(buttons.at(1), Qt::LeftButton, {}, QPoint(5, buttons.at(1)->height() / 2));
  }
  QCOMPARE(fit->MFitType->itemIndex(), with);
  typeName(*fit, QStringLiteral("N"));
  frame.log.clear();
  frame.invmatrReads = 0;
  pressMultiFit(*fit);

  QVERIFY2(errors(frame).isEmpty(), qPrintable(errors(frame).join('\n')));
  QCOMPARE(frame.invmatrReads, 1);
  QCOMPARE(fit->Fits.count, 2u);
  QCOMPARE(combo(fit->CBoxDetails), (QStringList{"N-Dataset a", "N-Dataset b"}));
  QCOMPARE(frame.log.size(), std::size_t(1));
  QCOMPARE(frame.log[0].text, QStringLiteral("Multiple linear fits that share the same ") + shared +
                                  QStringLiteral(" for data displayed in the ") +
                                  fit->windowTitle() + QStringLiteral(" have been calculated"));
  QVERIFY(frame.log[0].text.endsWith(QStringLiteral(" have been calculated")));
  QCOMPARE(fit->currentPage(), 3);
  QVERIFY(!fit->FitNamedByUser);

  // Each line fits its own dataset; the shared parameter is the same in both.
  bfit &a = *fitAt(*fit, 0);
  bfit &b = *fitAt(*fit, 1);
  QCOMPARE(a.data, datasetOf(*fit, 0));
  QCOMPARE(b.data, datasetOf(*fit, 1));
  const int common = with == 0 ? 1 : 0;
  QCOMPARE(a.par[common], b.par[common]);
  QCOMPARE(a.err[common], b.err[common]);
  if (with == 1) {
    // y = 2x + 1 and y = 2x + 3 share their gradient exactly.
    QVERIFY(std::abs(a.par[0] - 2) < 1e-12 && std::abs(a.par[1] - 1) < 1e-12);
    QVERIFY(std::abs(b.par[1] - 3) < 1e-12);
  }
  QVERIFY(a.curve && a.curve->count() > 0 && b.devpoints && b.devpoints->count() == 3);
  // The lines are not attached to their datasets.
  QCOMPARE(datasetOf(*fit, 0)->currentfit(), nullptr);
  QCOMPARE(datasetOf(*fit, 1)->currentfit(), nullptr);

  // Each line is an ordinary fit for the details panel.
  chooseDetail(*fit, 1);
  QCOMPARE(fit->Txtnpoints->text(), QStringLiteral("1"));
  QCOMPARE(fit->Txtchisq->text(), QString::fromStdString(generaltext(b.chisq(), 15)));
}

void FitsTest::multiFitButtonNeedsTwoDatasets() {
  FakeFrame frame;
  frame.gauss = true;
  // Datasets made from columns never reach the multi-fit list.
  Lines four;
  for (int k = 1; k <= 5; ++k)
    four.push_back(std::to_string(k) + " " + std::to_string(2 * k) + " 0.5 " +
                   std::to_string(3 * k));
  auto fit = makePlotter(frame, four);
  QVERIFY(fit);
  fit->UpdateFrameCommands();
  QVERIFY(fit->AddBtn->isEnabled());
  fit->Ydata->setCurrentIndex(1);
  QTest::mouseClick(fit->AddBtn, Qt::LeftButton);
  fit->Ydata->setCurrentIndex(3);
  QTest::mouseClick(fit->AddBtn, Qt::LeftButton);
  QCOMPARE(fit->Datasets.count, 2u);
  QCOMPARE(fit->MulList->count(), 0);
  clickType(*fit, 1);
  fit->UpdateFrameCommands();
  QVERIFY(!fit->GoPlotBtn->isEnabled());

  // One tagged dataset: one name, still disabled.
  auto one = makePlotter(frame, scatteredLine('a'));
  QVERIFY(one);
  clickType(*one, 1);
  QCOMPARE(one->MulList->count(), 1);
  QVERIFY(!one->GoPlotBtn->isEnabled());
}

void FitsTest::noDatasetChosenFitsTheFirst() {
  FakeFrame frame;
  frame.gauss = true;
  Lines four;
  for (int k = 1; k <= 5; ++k)
    four.push_back(std::to_string(k) + " " + std::to_string(2 * k) + " 0.5 " +
                   std::to_string(3 * k + 1));
  auto fit = makePlotter(frame, four);
  QVERIFY(fit);
  fit->UpdateFrameCommands();
  fit->Ydata->setCurrentIndex(3);
  QTest::mouseClick(fit->AddBtn, Qt::LeftButton);
  fit->Ydata->setCurrentIndex(1);
  QTest::mouseClick(fit->AddBtn, Qt::LeftButton);
  QCOMPARE(fit->Datasets.count, 2u);
  // The first dataset made is chosen for the fit page as it is added; the
  // second Add leaves that choice alone.
  QCOMPARE(fit->TrDataset->currentIndex(), 0);

  // A type click names the fit after that dataset and checks its points.
  frame.log.clear();
  clickType(*fit, 1);
  QCOMPARE(fit->TrName->currentText(), QStringLiteral("DataSet A -- Linear (y=ax+b)"));
  QVERIFY(frame.log.empty());

  QVERIFY(fit->AddTr->isEnabled());
  pressFit(*fit);
  QCOMPARE(fit->Fits.count, 1u);
  bfit &f = *fitAt(*fit, 0);
  QCOMPARE(f.data, datasetOf(*fit, 0));
  QCOMPARE(datasetOf(*fit, 0)->currentfit(), &f);
  QVERIFY(std::abs(f.par[0] - 3) < 1e-9 && std::abs(f.par[1] - 1) < 1e-9); // y = 3x + 1
}

void FitsTest::failedMultiFitLeavesNoLines() {
  FakeFrame frame;
  frame.gauss = true;
  // Dataset b has every x at 0: lines with one shared intercept cannot
  // tell its gradient, and the joint system is singular.
  auto fit = makePlotter(frame, {"1 3 1 a", "2 5 1 a", "3 7 1 a", "0 3 1 b", "0 5 1 b", "0 4 1 b"});
  QVERIFY(fit);
  clickType(*fit, 1);
  fit->UpdateFrameCommands();
  QVERIFY(fit->GoPlotBtn->isEnabled());
  pressFit(*fit); // one good single fit first
  QCOMPARE(fit->Fits.count, 1u);
  const int graphs = fit->MChart->graphCount();
  fit->showPage(2);
  typeName(*fit, QStringLiteral("N"));
  frame.log.clear();
  pressMultiFit(*fit);

  QCOMPARE(errors(frame), QStringList{"Critical Failure Occurred In Fitted The Chosen Line"});
  QCOMPARE(fit->Fits.count, 1u);
  QCOMPARE(combo(fit->CBoxDetails).size(), 1);
  QCOMPARE(fit->CBoxDetails->currentIndex(), 0);
  QCOMPARE(fit->MChart->graphCount(), graphs);
}

// A four-column file: x, y = 3x + 1 with a little scatter, y errors and x
// errors, made into one dataset on "Custom Add Dataset" with every error
// column picked, as a student with stopwatch x errors does.
std::unique_ptr<TFit> handMadeWithXErrors(FakeFrame &frame) {
  Lines four;
  for (int k = 1; k <= 8; ++k)
    four.push_back(std::to_string(k) + " " + generaltext(3.0 * k + 1 + 0.05 * std::sin(k), 15) +
                   " 0.2 0.05");
  auto fit = makePlotter(frame, four);
  if (!fit)
    return nullptr;
  fit->UpdateFrameCommands();
  fit->Xdata->setCurrentIndex(0);
  fit->Ydata->setCurrentIndex(1);
  fit->ErYdata->setCurrentIndex(2);
  fit->ErXdata->setCurrentIndex(4); // "None", then columns A to D
  QTest::mouseClick(fit->AddBtn, Qt::LeftButton);
  return fit;
}

void FitsTest::firstHandMadeDatasetTakesEveryType_data() {
  QTest::addColumn<int>("type");
  QTest::addColumn<int>("pluginEstimates");
  QTest::addColumn<int>("shown");

  // With samples and the plug-in: 0-3 lines and polynomials, 4-7 samples,
  // 8 the plug-in, 9 the formula.
  QTest::newRow("cosine") << 6 << 0 << 2;
  QTest::newRow("damped cosine") << 7 << 0 << 4;
  QTest::newRow("plug-in, three estimates") << 8 << 3 << 3;
}

void FitsTest::firstHandMadeDatasetTakesEveryType() {
  QFETCH(int, type);
  QFETCH(int, pluginEstimates);
  QFETCH(int, shown);

  gEstimates = pluginEstimates;
  FakeFrame frame;
  frame.gauss = true;
  frame.sampleFits = true;
  frame.pluginLibrary = &kFakePlugin;
  auto fit = handMadeWithXErrors(frame);
  QVERIFY(fit);
  QCOMPARE(fit->Datasets.count, 1u);
  QVERIFY(datasetOf(*fit, 0)->hasxerrors());
  QCOMPARE(fit->TrDataset->currentIndex(), 0);
  QCOMPARE(fit->TrDataset->currentText(), QStringLiteral("DataSet A"));

  fit->showPage(2);
  frame.log.clear();
  clickType(*fit, type);
  QVERIFY2(errors(frame).isEmpty(), qPrintable(errors(frame).join('\n')));
  QVERIFY(!fit->Estimates->isHidden());
  QLineEdit *boxes[] = {fit->EstA, fit->EstB, fit->EstC, fit->EstD, fit->EstE};
  for (int i = 0; i < 5; ++i)
    QCOMPARE(!boxes[i]->isHidden(), i < shown);
  QVERIFY(fit->AddTr->isEnabled());
  QCOMPARE(fit->TrName->currentText(), "DataSet A -- " + fit->TrType->itemText(type));

  // The typed formula on the same first dataset: its "y =" box and its
  // estimate boxes appear, and the fit takes the x errors.
  const int formula = fit->TrType->count() - 1;
  clickType(*fit, formula);
  QVERIFY(!fit->FormulaBox->isHidden());
  fit->FormulaBox->FormulaEdit->clear();
  QTest::keyClicks(fit->FormulaBox->FormulaEdit, QStringLiteral("a*x+b"));
  QVERIFY(!fit->FormulaBox->estimateBox(0)->isHidden());
  QVERIFY(!fit->FormulaBox->estimateBox(1)->isHidden());
  frame.log.clear();
  pressFit(*fit);
  QVERIFY2(errors(frame).isEmpty(), qPrintable(errors(frame).join('\n')));
  QCOMPARE(fit->Fits.count, 1u);
  const bfit &f = *fitAt(*fit, 0);
  QCOMPARE(f.data, datasetOf(*fit, 0));
  QVERIFY(!f.xerrmethod.empty());
  // y = 3x + 1 with scatter of at most 0.05.
  QVERIFY(std::abs(f.par[0] - 3) < 0.05 && std::abs(f.par[1] - 1) < 0.3);
}

void FitsTest::typeChosenWithoutAClickTakesEffect() {
  FakeFrame frame;
  frame.gauss = true;
  frame.sampleFits = true;
  // Three points: too few for the cubic.
  auto fit = makePlotter(frame, {"1 2 0.1 a", "2 4.1 0.1 a", "3 5.9 0.1 a"});
  QVERIFY(fit);

  // Ticked as the keyboard or an accessibility "Toggle" action ticks it:
  // no click reaches the button.
  frame.log.clear();
  typeButton(*fit, 3)->setChecked(true);
  QCOMPARE(fit->TrType->itemIndex(), 3);
  QCOMPARE(errors(frame), QStringList{QStringLiteral("You need at least 5 points in the dataset "
                                                     "to fit Cubic (y=ax^3+bx^2+cx+d)")});
  QVERIFY(!fit->AddTr->isEnabled());
  QCOMPARE(fit->TrName->currentText(), QStringLiteral("Dataset a -- Cubic (y=ax^3+bx^2+cx+d)"));

  // The cosine's estimate boxes follow a toggle too.
  typeButton(*fit, 6)->setChecked(true);
  QVERIFY(!fit->Estimates->isHidden());
  QVERIFY(!fit->EstB->isHidden() && fit->EstC->isHidden());

  // The straight line, then a fit: its name and its description agree.
  typeButton(*fit, 1)->setChecked(true);
  QVERIFY(fit->AddTr->isEnabled());
  pressFit(*fit);
  QCOMPARE(fit->Fits.count, 1u);
  QCOMPARE(combo(fit->CBoxDetails), QStringList{"Dataset a -- Linear (y=ax+b)"});
  stringlist lines;
  fitAt(*fit, 0)->describe(lines, true);
  QCOMPARE(QString::fromStdString(lines.at(0)), QStringLiteral("Fit of the form y=ax+b with "));

  // A mouse click is still reported once, not once for the toggle and
  // once for the click.
  frame.log.clear();
  clickType(*fit, 3);
  QCOMPARE(errors(frame).size(), 1);
}

void FitsTest::multiFitNamesSayWhatIsShared() {
  FakeFrame frame;
  frame.gauss = true;
  Lines lines = twoLines();
  lines.push_back("3 9.5 1 c");
  lines.push_back("4 11 1 c");
  lines.push_back("5 13.5 1 c");
  auto fit = makePlotter(frame, lines);
  QVERIFY(fit);
  clickType(*fit, 1);
  fit->UpdateFrameCommands();

  // The list is what the fit takes: nothing in it can be picked.
  QCOMPARE(fit->MulList->selectionMode(), QAbstractItemView::NoSelection);
  QCOMPARE(fit->MulList->count(), 3);

  // Two multi fits of each kind, names proposed by the program.
  auto buttons = fit->MFitType->findChildren<QRadioButton *>();
  for (int with : {1, 1, 0, 0}) {
    buttons.at(with)->setChecked(true);
    fit->showPage(2);
    pressMultiFit(*fit);
  }
  QCOMPARE(fit->Fits.count, 12u);
  const QStringList kinds = {"Same gradient -- ", "Same gradient 2 -- ", "Same intercept -- ",
                             "Same intercept 2 -- "};
  QStringList expected;
  for (const QString &k : kinds)
    for (const char *d : {"Dataset a", "Dataset b", "Dataset c"})
      expected << k + "Linear (y=ax+b)-" + d;
  QCOMPARE(combo(fit->CBoxDetails), expected);

  // Each line says what it shares, and with whom.
  stringlist text;
  fitAt(*fit, 1)->describe(text, true);
  QCOMPARE(QString::fromStdString(text.at(1)),
           QStringLiteral("The gradient a is shared with Dataset a and Dataset c"));
  fitAt(*fit, 6)->describe(text, true);
  QCOMPARE(QString::fromStdString(text.at(1)),
           QStringLiteral("The intercept b is shared with Dataset b and Dataset c"));

  // A name the user types is the name, as before.
  typeName(*fit, QStringLiteral("N"));
  pressMultiFit(*fit);
  QCOMPARE(fit->CBoxDetails->itemText(12), QStringLiteral("N-Dataset a"));
}

// ---------------------------------------------------------------- details

void FitsTest::detailsOfTheChosenFit() {
  FakeFrame frame;
  frame.gauss = true;
  frame.sampleFits = true;
  Lines lines = scatteredLine('a');
  for (const std::string &l : columnFile(
           range(1, 1, 8), [](double x) { return 3 * x * x; }, 0.5))
    lines.push_back(l + " b");
  auto fit = makePlotter(frame, lines);
  QVERIFY(fit);
  clickType(*fit, 1);
  pressFit(*fit);
  fit->showPage(2);
  chooseDataset(*fit, 1);
  clickType(*fit, 4);
  pressFit(*fit);
  QCOMPARE(fit->Fits.count, 2u);
  QCOMPARE(fit->CBoxDetails->currentIndex(), 1);

  for (int i : {0, 1}) {
    chooseDetail(*fit, i);
    const bfit &f = *fitAt(*fit, i);
    QCOMPARE(fit->Txtchisq->text(), QString::fromStdString(generaltext(f.chisq(), 15)));
    QCOMPARE(fit->Txtnpoints->text(), QString::number(f.dof()));
    stringlist described;
    f.describe(described, true);
    QCOMPARE(fit->ChartListBox->toPlainText(), toQ(described).join('\n'));

    const chilimitset l = bfit::chilimits(f.dof());
    auto g = [](float v) { return QString::fromStdString(generaltext(v, 4)); };
    const QString limits = QStringLiteral("Chi-Squared Limits 5% : ") + g(l[0]) +
                           QStringLiteral(", 20% : ") + g(l[1]) + QStringLiteral(", 80% : ") +
                           g(l[2]) + QStringLiteral(", 95% : ") + g(l[3]);
    for (QWidget *w :
         {static_cast<QWidget *>(fit->Txtchisq), static_cast<QWidget *>(fit->Txtnpoints),
          static_cast<QWidget *>(fit->Label10), static_cast<QWidget *>(fit->Label2),
          static_cast<QWidget *>(fit->Label3)}) {
      QCOMPARE(w->toolTip(), limits);
      QCOMPARE(w->statusTip(), limits);
    }
  }
  // Six degrees of freedom: the limits of the chi-square table.
  QCOMPARE(fit->Txtnpoints->text(), QStringLiteral("6"));
  QVERIFY(fit->Txtchisq->toolTip().startsWith(QStringLiteral("Chi-Squared Limits 5% : 1.635, ")));
}

void FitsTest::noDegreesOfFreedomShowsNoLimits() {
  // A plug-in polynomial of degree 2 through three points has nothing left
  // over: like the built-in types it needs two points more than its degree.
  {
    gPolyDegree = 2;
    FakeFrame frame;
    frame.gauss = true;
    frame.pluginLibrary = &kFakePlugin;
    auto fit = makePlotter(frame, {"1 3 0.5", "2 12 0.5", "3 27 0.5"});
    QVERIFY(fit);
    frame.log.clear();
    clickType(*fit, 4);
    QVERIFY(!fit->AddTr->isEnabled());
    QCOMPARE(errors(frame),
             QStringList{QStringLiteral("You need at least 4 points in the dataset to fit ") +
                         QString::fromUtf8(gName)});
    gPolyDegree = 0;
  }
  // A line of a multi fit on a two-point dataset: no degrees of freedom,
  // no limits, no verdict.
  FakeFrame frame;
  frame.gauss = true;
  auto fit = makePlotter(frame, {"0 1 1 a", "1 3 1 a", "0 3 1 b", "1 5 1 b"}, "/lab/pair.txt");
  QVERIFY(fit);
  clickType(*fit, 1);
  fit->UpdateFrameCommands();
  QVERIFY(fit->GoPlotBtn->isEnabled());
  frame.log.clear();
  pressMultiFit(*fit);
  QVERIFY(errors(frame).isEmpty());
  QCOMPARE(fit->Fits.count, 2u);
  chooseDetail(*fit, 0);
  QCOMPARE(fit->Txtnpoints->text(), QStringLiteral("0"));
  QCOMPARE(fit->Txtchisq->toolTip(),
           QStringLiteral("Chi-Squared Limits 5% : n/a, 20% : n/a, 80% : n/a, 95% : n/a"));
  QCOMPARE(fitAt(*fit, 0)->verdictword(), std::string());
  QVERIFY(!fit->ChartListBox->toPlainText().contains(QStringLiteral("suspicious")));
}

void FitsTest::deleteFit() {
  FakeFrame frame;
  frame.gauss = true;
  auto fit = makePlotter(frame, scatteredLine());
  QVERIFY(fit);
  dataset *d = datasetOf(*fit, 0);

  // Nothing chosen: nothing happens.
  QTest::mouseClick(fit->Deletetr, Qt::LeftButton);
  QCOMPARE(fit->Fits.count, 0u);

  clickType(*fit, 0);
  pressFit(*fit);
  clickType(*fit, 1);
  pressFit(*fit);
  QCOMPARE(fit->Fits.count, 2u);
  const int graphs = fit->MChart->graphCount();
  const int devGraphs = fit->DevChart->graphCount();
  bfit *first = fitAt(*fit, 0);
  auto *firstCurve = dynamic_cast<lineseries *>(first->curve.get());
  QVERIFY(firstCurve);
  const QColor firstColour = firstCurve->graph()->pen().color();

  // The second fit is chosen after its "Fit && Plot"; delete it.
  QCOMPARE(fit->CBoxDetails->currentIndex(), 1);
  QTest::mouseClick(fit->Deletetr, Qt::LeftButton);
  QCOMPARE(fit->Fits.count, 1u);
  QCOMPARE(fitAt(*fit, 0), first);
  QCOMPARE(combo(fit->CBoxDetails), QStringList{"Linear (y=mx)"});
  QCOMPARE(fit->CBoxDetails->currentIndex(), -1);
  QCOMPARE(fit->CBoxDetails->currentText(), QString());
  QCOMPARE(fit->Txtchisq->text(), QString());
  QCOMPARE(fit->Txtnpoints->text(), QString());
  QCOMPARE(fit->ChartListBox->toPlainText(), QString());
  QCOMPARE(fit->MChart->graphCount(), graphs - 1);
  QCOMPARE(fit->DevChart->graphCount(), devGraphs - 1);
  QCOMPARE(d->currentfit(), nullptr);

  // Recolouring the dataset reaches no fit any more.
  fit->TrackBar->setValue(0);
  fit->ColorBoxM->setSelected(QColor(255, 0, 0));
  emit fit->ColorBoxM->colourChosen();
  QCOMPARE(TFit::errorSeries(d->series.get())->SeriesColour, QColor(255, 0, 0));
  QCOMPARE(firstCurve->graph()->pen().color(), firstColour);

  // Deleting the last one empties the list.
  chooseDetail(*fit, 0);
  QVERIFY(!fit->Txtchisq->text().isEmpty());
  QTest::mouseClick(fit->Deletetr, Qt::LeftButton);
  QCOMPARE(fit->Fits.count, 0u);
  QCOMPARE(fit->CBoxDetails->count(), 0);
  QStringList info;
  fit->WriteInformation(info);
  QVERIFY(info.isEmpty());
}

// ------------------------------------------------------ information text

void FitsTest::writeInformationForTwoFits() {
  FakeFrame frame;
  frame.gauss = true;
  frame.sampleFits = true;
  auto fit = makePlotter(
      frame, columnFile(
                 range(0.1, 0.1, 10), [](double x) { return 2 * std::cos(3 * x); }, 0.01));
  QVERIFY(fit);
  clickType(*fit, 0);
  pressFit(*fit);
  clickType(*fit, 6);
  setEstimates(*fit, {"1.9", "3.05"});
  typeName(*fit, QStringLiteral("cosine"));
  pressFit(*fit);
  QCOMPARE(fit->Fits.count, 2u);

  QStringList expected;
  for (int i : {0, 1}) {
    const bfit &f = *fitAt(*fit, i);
    expected << QString::fromStdString(f.name)
             << QStringLiteral("ChiSqu =") + QString::fromStdString(generaltext(f.chisq(), 15))
             << QStringLiteral("Degrees of Freedom =%1").arg(f.dof());
    stringlist own;
    f.describe(own, true);
    expected << toQ(own) << QStringLiteral(" ");
  }
  QStringList info;
  fit->WriteInformation(info);
  QCOMPARE(info, expected);
  QCOMPARE(info.at(0), QStringLiteral("Linear (y=mx)"));
  QCOMPARE(info.at(2), QStringLiteral("Degrees of Freedom =9"));
  const int second = info.indexOf(QStringLiteral("cosine"));
  QVERIFY(second > 3);
  QCOMPARE(info.at(second - 1), QStringLiteral(" "));
  QCOMPARE(info.at(second + 2), QStringLiteral("Degrees of Freedom =8"));
  QCOMPARE(info.at(second + 3), QStringLiteral("Fit of the form y=A*cos(B*x) with "));
  QCOMPARE(info.last(), QStringLiteral(" "));

  // The hidden box gets the same text, and the list is emptied first.
  fit->temo->setPlainText(QStringLiteral("old text"));
  fit->WriteInformation(fit->temo);
  QCOMPARE(fit->temo->toPlainText(), expected.join('\n'));

  // A deleted fit's block is gone.
  chooseDetail(*fit, 0);
  QTest::mouseClick(fit->Deletetr, Qt::LeftButton);
  fit->WriteInformation(info);
  QCOMPARE(info, expected.mid(second));
}

void FitsTest::writeInformationSeparatorAndExponent() {
  FakeFrame frame;
  frame.gauss = true;
  // Nearly exact points: a chi-square far below 0.0001.
  auto fit = makePlotter(frame, {"1 3 0.1", "2 5.0001 0.1", "3 7 0.1", "4 9 0.1"});
  QVERIFY(fit);
  clickType(*fit, 1);
  pressFit(*fit);
  QStringList info;
  fit->WriteInformation(info);
  const QString line = info.at(1);
  QVERIFY2(
      QRegularExpression(QStringLiteral("^ChiSqu =[1-9](\\.\\d+)?E-\\d+$")).match(line).hasMatch(),
      qPrintable(line));
  QCOMPARE(line, QStringLiteral("ChiSqu =") +
                     QString::fromStdString(generaltext(fitAt(*fit, 0)->chisq(), 15)));

  // Shown text takes the locale's decimal separator.
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  fit->WriteInformation(info);
  QCOMPARE(info.at(1), QString(line).replace(QLatin1Char('.'), QLatin1Char(',')));
  QVERIFY(info.at(1).contains(QLatin1Char(',')));
  chooseDetail(*fit, 0);
  QVERIFY(fit->Txtchisq->text().contains(QLatin1Char(',')));
}

QTEST_MAIN(FitsTest)
#include "fits_test.moc"
