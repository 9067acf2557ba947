// Saves pictures of plotters for a look at them: one from a tagged file with
// three datasets (with a straight-line fit on the second), one from a
// three-column file with large numbers. Run under xvfb-run; the pictures go
// to the folder given (default /tmp).
#include <QApplication>
#include <QDir>
#include <QTabWidget>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "engine/fits.h"
#include "frame/messages.h"
#include "plotter/controls.h"
#include "plotter/tfit.h"
#include "plotter/tools/shotkit.h"
#include "tests/plotter/fakeframe.h"

using namespace orvalle;

namespace {

void save(TFit &fit, const QString &path, int page = 3) {
  fit.resize(900, 700);
  fit.show();
  fit.showPage(page);
  fit.UpdateFrameCommands();
  fit.RedrawCharts();
  fit.UpdateFrameCommands(); // lines the deviations chart up after the layout
  fit.RedrawCharts();
  QApplication::processEvents();
  fit.grab().save(path);
  qInfo("saved %s", qPrintable(path));
}

} // namespace

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp");
  test::FakeFrame frame;

  std::vector<std::string> tagged;
  for (int k = 0; k < 12; ++k) {
    const double x = 0.5 + k;
    tagged.push_back(std::to_string(x) + " " + std::to_string(1.0 + 0.8 * x + 0.3 * std::sin(k)) +
                     " 0.4 a");
    tagged.push_back(std::to_string(x) + " " + std::to_string(4.0 + 0.5 * x + 0.4 * std::cos(k)) +
                     " 0.6 b");
    tagged.push_back(std::to_string(x) + " " +
                     std::to_string(9.0 - 0.3 * x + 0.2 * std::sin(2 * k)) + " 0.3 c");
  }
  auto a = shot::plotter(frame, tagged, "/home/student/lab/pendulum.txt");
  dataset *second = a->Datasets.at(1)->obj;
  auto line = std::make_unique<polynom>(1);
  line->data = second;
  second->attach(line.get());
  line->fitplot(a->mainCanvas(), a->devCanvas(), 1000, true);
  line->curve->setseriescolour(0x0000ff);
  a->Fits.add(std::move(line));
  save(*a, QDir(dir).filePath(QStringLiteral("plotter_tagged.png")));

  std::vector<std::string> columns;
  for (int k = 0; k <= 10; ++k)
    columns.push_back(std::to_string(1000 + k) + " " +
                      std::to_string(2.5e6 + 1.8e5 * k + 4e4 * std::sin(k)) + " " +
                      std::to_string(5e4 + 5e3 * k));
  auto b = shot::plotter(frame, columns, "/home/student/lab/counts.dat");
  save(*b, QDir(dir).filePath(QStringLiteral("plotter_threecolumn.png")));

  // The pages of columns and datasets.
  std::vector<std::string> four;
  for (int k = 0; k < 30; ++k)
    four.push_back(std::to_string(k) + " " + std::to_string(k * k) + " 0.5 " +
                   std::to_string(k % 4));
  auto c = shot::plotter(frame, four, "/home/student/lab/four.txt");
  save(*c, QDir(dir).filePath(QStringLiteral("plotter_columns.png")), 0);
  save(*a, QDir(dir).filePath(QStringLiteral("plotter_datasets.png")), 1);
  a->TrType->setItemIndex(1);
  save(*a, QDir(dir).filePath(QStringLiteral("plotter_fits.png")), 2);
  return 0;
}
