// Saves a picture of a plotter with fits made as a user makes them: a
// tagged file with two datasets, a straight-line fit on the first and a
// cosine fit on the second, shown on "View Chart" with the deviations chart
// and the details of the chosen fit. Run under xvfb-run; the pictures go to
// the folder given (default /tmp).
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QTabWidget>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "frame/messages.h"
#include "plotter/controls.h"
#include "plotter/tfit.h"
#include "plotter/tools/shotkit.h"
#include "tests/plotter/fakeframe.h"

using namespace orvalle;

namespace {

class ShotFrame : public test::FakeFrame {
public:
  ShotFrame() { sampleFits = true; }
};

} // namespace

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp");
  ShotFrame frame;

  // Dataset a: a straight line with scatter; dataset b: a cosine.
  std::vector<std::string> lines;
  const double scatter[] = {0.3, -0.5, 0.1, 0.6, -0.4, -0.2, 0.5, -0.6, 0.2, -0.1, 0.4, -0.3};
  for (int k = 0; k < 12; ++k) {
    const double x = 0.5 * (k + 1);
    lines.push_back(std::to_string(x) + " " + std::to_string(1.0 + 0.8 * x + scatter[k] * 0.5) +
                    " 0.25 a");
  }
  for (int k = 0; k < 24; ++k) {
    const double x = 0.25 * (k + 1);
    lines.push_back(std::to_string(x) + " " +
                    std::to_string(3.0 * std::cos(1.1 * x) + 0.1 * scatter[k % 12]) + " 0.035 b");
  }
  auto fit = shot::plotter(frame, lines, "/home/student/lab/pendulum.txt");
  fit->resize(900, 760);
  fit->show();
  QApplication::processEvents();

  // Straight line on Dataset a.
  fit->showPage(2);
  fit->TrDataset->setCurrentIndex(0);
  fit->TrDatasetChange();
  fit->TrType->setItemIndex(1);
  fit->TrTypeClick();
  fit->AddTrClick();

  // Cosine on Dataset b from close estimates.
  fit->showPage(2);
  fit->TrDataset->setCurrentIndex(1);
  fit->TrDatasetChange();
  fit->TrType->setItemIndex(6);
  fit->TrTypeClick();
  fit->EstA->setText(QStringLiteral("2.8"));
  fit->EstB->setText(QStringLiteral("1.05"));
  fit->AddTrClick();

  for (const auto &l : frame.log)
    qInfo("log%s: %s", l.error ? " (error)" : "", qPrintable(l.text));
  shot::save(*fit, QDir(dir).filePath(QStringLiteral("plotter_fits_chart.png")));

  // The first fit chosen in the details.
  fit->CBoxDetails->setCurrentIndex(0);
  fit->CBoxDetailsChange();
  shot::save(*fit, QDir(dir).filePath(QStringLiteral("plotter_fits_details.png")));

  fit->showPage(2);
  shot::save(*fit, QDir(dir).filePath(QStringLiteral("plotter_fits_page.png")));
  return 0;
}
