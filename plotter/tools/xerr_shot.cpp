// Saves pictures of a plotter with x errors as a user makes them: a
// four-column file (Pearson's data with York's weights), the dataset made
// on "Custom Add Dataset" with Col C as the y errors and Col D as the x
// errors, and a straight line fitted by York's method. Run under
// xvfb-run; the pictures go to the folder given (default /tmp).
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
  const std::vector<std::string> lines = {
      "0 5.9 1 0.0316",       "0.9 5.4 0.745 0.0316", "1.8 4.4 0.5 0.0447",  "2.6 4.6 0.354 0.0354",
      "3.3 3.5 0.224 0.0707", "4.4 3.7 0.224 0.112",  "5.2 2.8 0.120 0.129", "6.1 2.8 0.120 0.224",
      "6.5 2.4 0.1 0.745",    "7.4 1.5 0.0447 1"};
  auto fit = shot::plotter(frame, lines, "/home/student/lab/pearson.txt");
  fit->resize(900, 760);
  fit->show();
  QApplication::processEvents();
  fit->ErYdata->setCurrentIndex(2);
  fit->ErXdata->setCurrentIndex(4);
  fit->EditName->setEditText(QStringLiteral("Pearson-York"));
  shot::save(*fit, QDir(dir).filePath(QStringLiteral("xerr_add.png")));
  fit->AddBtnClick();

  fit->showPage(2);
  fit->TrDataset->setCurrentIndex(0);
  fit->TrDatasetChange();
  fit->TrType->setItemIndex(1);
  fit->TrTypeClick();
  fit->AddTrClick();
  for (const auto &l : frame.log)
    qInfo("log%s: %s", l.error ? " (error)" : "", qPrintable(l.text));
  fit->showPage(3);
  shot::save(*fit, QDir(dir).filePath(QStringLiteral("xerr_chart.png")));
  return 0;
}
