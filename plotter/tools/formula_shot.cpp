// Saves pictures of a plotter with a typed formula fitted as a user fits
// it: the fits page with the formula, its estimate boxes and a fault in a
// second formula, then "View Chart" with the fitted curve, deviations and
// details. Run under xvfb-run with a window manager; the pictures go to
// the folder given (default /tmp).
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "plotter/controls.h"
#include "plotter/formulapanel.h"
#include "plotter/tfit.h"
#include "plotter/tools/shotkit.h"
#include "tests/plotter/fakeframe.h"

using namespace orvalle;

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp");
  test::FakeFrame frame;

  // A charging capacitor: volts against seconds, errors of 1 V.
  std::vector<std::string> lines;
  for (int i = 0; i <= 20; ++i) {
    const double x = 100.0 * i;
    const double y = 205 * (1 - std::exp(-x / 480)) + 1.5 * std::sin(7.3 * i);
    lines.push_back(std::to_string(x) + " " + std::to_string(y) + " 1 a");
  }
  auto fit = shot::plotter(frame, lines, "/home/student/lab/charge.txt");
  fit->show();
  QApplication::processEvents();

  fit->showPage(2);
  fit->TrDataset->setCurrentIndex(0);
  fit->TrDatasetChange();
  fit->TrType->setItemIndex(fit->TrType->count() - 1);
  fit->TrTypeClick();
  fit->FormulaBox->FormulaEdit->setText(QStringLiteral("A*(1-exp(-x/B))"));
  fit->FormulaBox->estimateBox(0)->setText(QStringLiteral("200"));
  fit->FormulaBox->estimateBox(1)->setText(QStringLiteral("500"));
  shot::save(*fit, QDir(dir).filePath(QStringLiteral("formula_page.png")));

  fit->AddTrClick();
  for (const auto &l : frame.log)
    qInfo("log%s: %s", l.error ? " (error)" : "", qPrintable(l.text));
  shot::save(*fit, QDir(dir).filePath(QStringLiteral("formula_chart.png")));

  fit->showPage(2);
  fit->FormulaBox->FormulaEdit->setText(QStringLiteral("A*(1-expp(-x/B))"));
  shot::save(*fit, QDir(dir).filePath(QStringLiteral("formula_fault.png")));
  return 0;
}
