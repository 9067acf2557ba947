// Times a large column-layout text from file to a shown plotter, and the
// redraw of its charts; prints the peak memory. bench/plotter_bench.sh makes
// the text and runs this under xvfb-run (or offscreen).
//
//   plotter_load FILE [REDRAWS]
#include <QApplication>
#include <QElapsedTimer>
#include <QTabWidget>
#include <cstdio>
#include <sys/resource.h>

#include "datatext/conversion.h"
#include "frame/messages.h"
#include "plotter/charts.h"
#include "plotter/errpointseries.h"
#include "plotter/tfit.h"
#include "tests/plotter/fakeframe.h"

using namespace orvalle;

namespace {

long peakKiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

} // namespace

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: plotter_load FILE [REDRAWS]\n");
    return 2;
  }
  const int redraws = argc > 2 ? std::atoi(argv[2]) : 5;
  std::printf("start: peak %ld MiB\n", peakKiB() / 1024);
  test::FakeFrame frame;

  QElapsedTimer total;
  total.start();
  QElapsedTimer step;
  step.start();
  textlines lines = readtextfile(argv[1]);
  std::printf("read        %8.1f ms (%zu lines)\n", step.nsecsElapsed() / 1e6, lines.size());
  step.restart();
  ConversionOutcome out = ConvertToChart(lines, argv[1]);
  if (!out.ok()) {
    std::fprintf(stderr, "conversion failed: %s\n", out.error.c_str());
    return 1;
  }
  lines = textlines();
  std::printf("convert     %8.1f ms\n", step.nsecsElapsed() / 1e6);
  step.restart();

  auto fit = std::make_unique<TFit>(frame);
  fit->setFileName(QString::fromLocal8Bit(argv[1]));
  fit->setChartTitle(QStringLiteral("large"));
  fit->resize(900, 700);
  fit->takeGrid(std::move(out.result->grid));
  out.result.reset();
  SendCommand(fit.get(), UM_DATAREADY, 0, 0);
  fit->TrackBarChange();
  std::printf("set up      %8.1f ms (%u datasets)\n", step.nsecsElapsed() / 1e6,
              fit->Datasets.count);
  step.restart();
  fit->show();
  fit->showPage(3);
  fit->UpdateFrameCommands();
  QApplication::processEvents();
  fit->repaint();
  std::printf("show        %8.1f ms\n", step.nsecsElapsed() / 1e6);
  std::printf("convert and show: %.1f ms, peak %ld MiB\n", total.nsecsElapsed() / 1e6,
              peakKiB() / 1024);

  double worst = 0;
  for (int i = 0; i < redraws; ++i) {
    step.restart();
    fit->RedrawCharts();
    fit->MChart->repaint();
    fit->DevChart->repaint();
    QApplication::processEvents();
    const double ms = step.nsecsElapsed() / 1e6;
    worst = std::max(worst, ms);
  }
  const dataset *d = fit->Datasets.count ? fit->Datasets.at(0)->obj : nullptr;
  const TErrPointSeries *s = d ? TFit::errorSeries(d->series.get()) : nullptr;
  std::printf("redraw worst of %d: %.1f ms (%d bars drawn)\n", redraws, worst,
              s ? s->lastDrawnBars() : 0);
  std::printf("end: peak %ld MiB\n", peakKiB() / 1024);
  return 0;
}
