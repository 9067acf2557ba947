// Writes what a plotter exports and prints, for a look at them: the JPEG
// and bitmap export, a gnuplot script, a print of both charts and the
// information to a PDF file, a print with a long information text, and a
// picture of the titles and axes window. Run under xvfb-run; the files go to
// the folder given (default /tmp).
#include <QApplication>
#include <QDir>
#include <QPrinter>
#include <QTabWidget>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "engine/fits.h"
#include "frame/dialogs.h"
#include "frame/messages.h"
#include "plotter/chartlabs.h"
#include "plotter/export.h"
#include "plotter/tfit.h"
#include "plotter/tools/shotkit.h"
#include "tests/plotter/fakeframe.h"

using namespace orvalle;

namespace {

class ShotFrame : public test::FakeFrame {
public:
  ShotFrame() : pdf(QPrinter::HighResolution) {
    pdf.setOutputFormat(QPrinter::PdfFormat);
    for (Cmd c : {Cmd::WTPMainChart, Cmd::WTPResiduals, Cmd::WTPInformation}) {
      command(c)->setCheckable(true);
      command(c)->setChecked(true);
    }
  }
  QPrinter *printer() override { return &pdf; }
  QPrinter pdf;
};

class ShotDialogs : public test::FakeDialogs {
public:
  bool print(QWidget *, QPrinter *) override { return true; }
};

void addLine(TFit &p, int index, const std::string &name) {
  dataset *d = p.Datasets.at(static_cast<unsigned>(index))->obj;
  auto line = std::make_unique<polynom>(1);
  line->data = d;
  line->name = name;
  d->attach(line.get());
  line->fitplot(p.mainCanvas(), p.devCanvas(), 1000, true);
  p.Fits.add(std::move(line));
}

} // namespace

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  const QDir dir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp"));
  ShotFrame frame;
  ShotDialogs dialogs;

  std::vector<std::string> tagged;
  for (int k = 0; k < 12; ++k) {
    const double x = 0.5 + k;
    tagged.push_back(std::to_string(x) + " " + std::to_string(1.0 + 0.8 * x + 0.3 * std::sin(k)) +
                     " 0.4 a");
    tagged.push_back(std::to_string(x) + " " + std::to_string(4.0 + 0.5 * x + 0.4 * std::cos(k)) +
                     " 0.6 b");
  }
  auto p = shot::plotter(frame, tagged, "/home/student/lab/pendulum.txt");
  p->resize(900, 700);
  p->show();
  p->showPage(3);
  QApplication::processEvents();
  addLine(*p, 0, "Line through a");
  addLine(*p, 1, "Line through b");
  p->UpdateFrameCommands();
  p->RedrawCharts();
  QApplication::processEvents();

  p->ExportPicture(exportkind::jpeg, dir.filePath(QStringLiteral("export.jpeg")));
  p->ExportPicture(exportkind::bitmap, dir.filePath(QStringLiteral("export.bmp")));
  p->ExportGnuplot(dir.filePath(QStringLiteral("export.gnu")));
  frame.pdf.setOutputFileName(dir.filePath(QStringLiteral("print.pdf")));
  p->PrintCharts();

  for (int k = 0; k < 40; ++k)
    addLine(*p, k % 2, "Extra line " + std::to_string(k + 1));
  p->RestoreChartFonts();
  p->UpdateFrameCommands();
  frame.pdf.setOutputFileName(dir.filePath(QStringLiteral("print_long.pdf")));
  p->PrintCharts();

  p->LabelsClick(2);
  QApplication::processEvents();
  if (auto *w = qobject_cast<TChartlabs *>(p->TitlesWindow.data())) {
    w->grab().save(dir.filePath(QStringLiteral("chartlabs_axis.png")));
    w->Labels->setCurrentIndex(0);
    QApplication::processEvents();
    w->grab().save(dir.filePath(QStringLiteral("chartlabs_titles.png")));
  }
  for (const auto &l : frame.log)
    qInfo("%s%s", l.error ? "error: " : "", qPrintable(l.text));
  return 0;
}
