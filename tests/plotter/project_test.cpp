// A plotter saved as a project and opened again: every dataset and fit is
// made again, the parameters come back bit for bit, the information text
// and the exported picture are the same; a project that cannot be made
// again says which dataset or fit and why.
#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include <bit>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <sstream>

#include "engine/bfit.h"
#include "engine/customfit.h"
#include "engine/project.h"
#include "engine/projectfit.h"
#include "plotter/charts.h"
#include "plotter/controls.h"
#include "plotter/formulapanel.h"
#include "plotter/tfit.h"
#include "tests/plotter/fakeframe.h"
#include "tests/plotter/plotterfixture.h"

using namespace orvalle;
using namespace orvalle::test;

namespace {

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

int typeIndex(const TFit &fit, trendtype type) {
  for (std::size_t i = 0; i < fit.TrendTypes.size(); ++i)
    if (fit.TrendTypes[i] == type)
      return static_cast<int>(i);
  return -1;
}

// One "Fit && Plot" of the type on dataset d, as the page does it.
void fitType(TFit &fit, trendtype type, int d, const QStringList &estimates = {}) {
  fit.TrDataset->setCurrentIndex(d);
  fit.TrDatasetChange();
  fit.TrType->setItemIndex(typeIndex(fit, type));
  fit.TrTypeClick();
  QLineEdit *boxes[] = {fit.EstA, fit.EstB, fit.EstC, fit.EstD, fit.EstE};
  for (int i = 0; i < 5; ++i)
    boxes[i]->setText(i < estimates.size() ? estimates[i] : QStringLiteral("1"));
  fit.AddTrClick();
}

// 12 points per tag: a gentle curve with errors that vary.
std::vector<std::string> taggedText() {
  std::vector<std::string> lines;
  for (char tag : {'a', 'b', 'c'})
    for (int k = 1; k <= 12; ++k) {
      const double x = 0.37 * k;
      const double y = 1.3 + (tag - 'a' + 1) * 0.71 * x + 0.05 * std::sin(7.0 * k);
      std::ostringstream s;
      s.precision(17);
      s << x << ' ' << y << ' ' << 0.02 + 0.003 * k << ' ' << tag;
      lines.push_back(s.str());
    }
  return lines;
}

// x, y = 3 exp(x / 4.5) with wiggles, y error, x error.
std::vector<std::string> columnText() {
  std::vector<std::string> lines;
  for (int k = 1; k <= 14; ++k) {
    const double x = 0.5 * k;
    std::ostringstream s;
    s.precision(15);
    s << x << ' ' << 3.0 * std::exp(x / 4.5) * (1 + 0.01 * std::cos(5.0 * k)) << ' '
      << 0.04 + 0.01 * k << ' ' << 0.01 + 0.002 * k;
    lines.push_back(s.str());
  }
  return lines;
}

struct Shown {
  std::vector<std::array<std::uint64_t, 21>> fits; // par, err, chisq bits
  QStringList names;
  QStringList information;
  QImage picture;
};

Shown shown(TFit &fit, const QString &png) {
  Shown s;
  fit.Fits.each([&](bfit *f) {
    std::array<std::uint64_t, 21> b{};
    for (int i = 0; i < 10; ++i) {
      b[static_cast<std::size_t>(i)] = bits(f->par[i]);
      b[static_cast<std::size_t>(10 + i)] = bits(f->err[i]);
    }
    b[20] = bits(f->chisq());
    s.fits.push_back(b);
    s.names << QString::fromStdString(f->name);
  });
  fit.WriteInformation(s.information);
  fit.resize(900, 700);
  fit.showPage(3);
  fit.RedrawCharts();
  fit.ExportPicture(4, png);
  s.picture = QImage(png);
  return s;
}

void compareShown(const Shown &a, const Shown &b) {
  QCOMPARE(b.names, a.names);
  QCOMPARE(b.fits.size(), a.fits.size());
  for (std::size_t i = 0; i < a.fits.size(); ++i)
    QVERIFY2(
        a.fits[i] == b.fits[i],
        qPrintable(
            QStringLiteral("fit %1 (%2) differs").arg(i).arg(a.names.value(static_cast<int>(i)))));
  QCOMPARE(b.information, a.information);
  QVERIFY(!a.picture.isNull());
  QCOMPARE(b.picture.size(), a.picture.size());
  QVERIFY2(b.picture == a.picture, "the picture exported after opening differs");
}

// Saves `fit`, opens the file in a new plotter, and checks both show the
// same. Returns the reopened plotter.
std::unique_ptr<TFit> roundTrip(FakeFrame &frame, TFit &fit, const QTemporaryDir &dir,
                                const QString &name) {
  const QString file = dir.filePath(name + QStringLiteral(".orvp"));
  fit.SaveProject(file);
  const Shown before = shown(fit, dir.filePath(name + QStringLiteral("-before.png")));
  const project::model m = project::readfile(file.toStdString());
  auto again = std::make_unique<TFit>(frame);
  again->OpenProjectModel(m);
  const Shown after = shown(*again, dir.filePath(name + QStringLiteral("-after.png")));
  compareShown(before, after);
  // The batch command's refit, without a window, gives the same numbers.
  [&] {
    const project::refitted r = project::refit(m, frame.plugin());
    QCOMPARE(r.fits.size(), std::size_t(fit.Fits.count));
    for (std::size_t i = 0; i < r.fits.size(); ++i) {
      const bfit &a = *fit.Fits.at(static_cast<unsigned>(i))->obj;
      QCOMPARE(r.fits[i]->name, a.name);
      for (int k = 0; k < 10; ++k) {
        QCOMPARE(bits(r.fits[i]->par[k]), bits(a.par[k]));
        QCOMPARE(bits(r.fits[i]->err[k]), bits(a.err[k]));
      }
    }
  }();
  // Saved again, the project is the very same text.
  const QString second = dir.filePath(name + QStringLiteral("-again.orvp"));
  again->SaveProject(second);
  std::ifstream one(file.toStdString()), two(second.toStdString());
  std::stringstream a, b;
  a << one.rdbuf();
  b << two.rdbuf();
  if (a.str() != b.str())
    qWarning("%s", "the project saved after opening differs from the one opened");
  [&] { QCOMPARE(QString::fromStdString(b.str()), QString::fromStdString(a.str())); }();
  return again;
}

} // namespace

class ProjectTest : public QObject {
  Q_OBJECT
private slots:
  void taggedPlotterWithEveryTrendTypeAndMultiFits();
  void columnsWithXErrorsFormulaAndLogAxes();
  void aFitThatFailsAgainOpensNothing();
};

void ProjectTest::taggedPlotterWithEveryTrendTypeAndMultiFits() {
  QTemporaryDir dir;
  std::string why;
  const auto lib = loadpluginfile(ORVALLE_PLUGIN_DIR "/libcustomfit.so", &why);
  FakeFrame frame;
  frame.sampleFits = true;
  frame.gauss = true;
  if (lib)
    frame.pluginLibrary = &*lib;
  auto fit = makePlotter(frame, taggedText(), "/data/lab 4.txt");
  QVERIFY(fit);
  QCOMPARE(fit->Datasets.count, 3u);

  // Every trend type, on the datasets in turn, one with Cramer's rule.
  const std::vector<std::pair<trendtype, QStringList>> types = {
      {trendtype::linearorigin, {}},
      {trendtype::linear, {}},
      {trendtype::quadratic, {}},
      {trendtype::cubic, {}},
      {trendtype::power, {}},
      {trendtype::resonance, {}},
      {trendtype::periodic, {QStringLiteral("5"), QStringLiteral("0.1")}},
      {trendtype::periodicdecay,
       {QStringLiteral("5"), QStringLiteral("0.01"), QStringLiteral("0.1"), QStringLiteral("0")}},
  };
  int d = 0;
  for (const auto &[type, estimates] : types) {
    frame.gauss = d % 2 == 0;
    fitType(*fit, type, d++ % 3, estimates);
  }
  if (lib)
    fitType(*fit, trendtype::custom, 1, {QStringLiteral("2"), QStringLiteral("1")});
  fit->FormulaBox->setFormulaText(QStringLiteral("p + q*x + r*x^2"));
  fitType(*fit, trendtype::formula, 2);
  const unsigned singles = fit->Fits.count;
  qInfo("%u single fits, plug-in %s", singles, lib ? "loaded" : why.c_str());
  QVERIFY2(singles >= 7, qPrintable(QStringLiteral("only %1 single fits were made").arg(singles)));

  // A multi fit of each kind; one line of the second is deleted, and one
  // single fit before it.
  fit->TrType->setItemIndex(typeIndex(*fit, trendtype::linear));
  fit->TrTypeClick();
  fit->MFitType->setItemIndex(0);
  fit->GoPlotBtnClick();
  fit->MFitType->setItemIndex(1);
  fit->GoPlotBtnClick();
  QCOMPARE(fit->Fits.count, singles + 6);
  fit->CBoxDetails->setCurrentIndex(static_cast<int>(singles) + 4);
  fit->DeletetrClick();
  fit->CBoxDetails->setCurrentIndex(1);
  fit->DeletetrClick();

  // A recoloured dataset, titles, the legend, a band.
  fit->TrackBar->setValue(1);
  fit->ColorBoxM->setSelected(QColor(0, 128, 0));
  fit->ColorBoxMChange();
  fit->setChartTitle(QStringLiteral("Springs \"A\" and B"));
  fit->XAxisTitle = QStringLiteral("extension / m");
  fit->YAxisTitle = QStringLiteral("force / N");
  fit->ShowLegend = true;
  fit->Band = bandlevel::onesigma;
  fit->showPage(3);
  fit->RedrawCharts();
  QVERIFY(fit->unsaved());

  auto again = roundTrip(frame, *fit, dir, QStringLiteral("tagged"));
  QVERIFY(!again->unsaved());
  QCOMPARE(again->windowTitle(), fit->windowTitle());
  QCOMPARE(again->FileName, QStringLiteral("/data/lab 4.txt"));
  QCOMPARE(again->TrackBar->value(), 1);
  QCOMPARE(again->ColorBoxM->selected(), QColor(0, 128, 0));
  QCOMPARE(again->MulList->count(), 3);
  // The deleted line's dataset has no current fit, as before.
  for (unsigned i = 0; i < 3; ++i)
    QCOMPARE(again->Fits.indexof(again->Datasets.at(i)->obj->currentfit()),
             fit->Fits.indexof(fit->Datasets.at(i)->obj->currentfit()));
}

void ProjectTest::columnsWithXErrorsFormulaAndLogAxes() {
  QTemporaryDir dir;
  FakeFrame frame;
  auto fit = makePlotter(frame, columnText());
  QVERIFY(fit);
  // Column D as x errors with C as y errors; then percentage y errors
  // with absolute x errors.
  fit->EditName->setEditText(QStringLiteral("with \"x\" errors\nand a second line"));
  fit->ErYdata->setCurrentIndex(2);
  fit->ErXdata->setCurrentIndex(4);
  fit->AddBtnClick();
  fit->EditName->setEditText(QStringLiteral("percent"));
  fit->ErYdata->setCurrentIndex(4); // "Percentage"
  fit->EditErrFixed->setText(QStringLiteral("3.7"));
  fit->ErXdata->setCurrentIndex(6); // "Absolute"
  fit->EditXErrFixed->setText(QStringLiteral("0.0125"));
  fit->DataColorBox->setSelected(QColor(128, 0, 128));
  fit->AddBtnClick();
  QCOMPARE(fit->Datasets.count, 2u);
  QVERIFY(fit->Datasets.at(0)->obj->hasxerrors());

  fit->FormulaBox->setFormulaText(QStringLiteral("A*exp(x/B)"));
  fit->FormulaBox->estimateBox(0)->setText(QStringLiteral("2"));
  fit->FormulaBox->estimateBox(1)->setText(QStringLiteral("3"));
  fitType(*fit, trendtype::formula, 0);
  fitType(*fit, trendtype::quadratic, 1);
  fitType(*fit, trendtype::linear, 0);
  QCOMPARE(fit->Fits.count, 3u);
  QVERIFY(!fit->Fits.at(0)->obj->xerrmethod.empty());

  QVERIFY(fit->SetLogAxis(false, true));
  fit->XLow = 0.25; // a limit of the user's
  fit->RedrawCharts();
  auto again = roundTrip(frame, *fit, dir, QStringLiteral("columns"));
  QVERIFY(again->LogY);
  QVERIFY(!again->LogX);
  QCOMPARE(bits(again->XLow), bits(0.25));
  QCOMPARE(again->Fits.at(0)->obj->xerrmethod, fit->Fits.at(0)->obj->xerrmethod);
}

void ProjectTest::aFitThatFailsAgainOpensNothing() {
  // A hand-edited start that the damped cosine cannot converge from: the
  // message names the fit, and the caller gets no plotter.
  FakeFrame frame;
  frame.sampleFits = true;
  auto fit = makePlotter(frame, taggedText());
  QVERIFY(fit);
  fitType(*fit, trendtype::linear, 0);
  project::model m = fit->ProjectModel();
  QCOMPARE(m.fits.size(), std::size_t(1));
  m.fits[0].type = trendtype::formula;
  m.fits[0].model = "A*exp(x/B)";
  m.fits[0].start = {1, 0, 1, 1, 1, 1, 1, 1, 1, 1}; // B = 0: every value is infinite
  auto again = std::make_unique<TFit>(frame);
  try {
    again->OpenProjectModel(m);
    QFAIL("a fit that cannot be made again was opened");
  } catch (const project::project_error &e) {
    const QString what = QString::fromUtf8(e.what());
    QVERIFY2(what.startsWith(QStringLiteral("fits[0] \"Dataset a -- Linear (y=ax+b)\": the fit "
                                            "failed again")),
             qPrintable(what));
  }
}

QTEST_MAIN(ProjectTest)
#include "project_test.moc"
