// The road a student takes with a large data file, timed in the real
// program: the frame's File Open (the open dialog answered through the
// dialog seam) until the scratch pad is shown and idle, the pad's Convert
// Text File until the plotter is shown and idle, then redraws of that
// plotter. Prints each step's wall and CPU time and the memory.
//
//   orvalle-road [--import] [--shots DIR] FILE [REDRAWS]
//
// With --import the first step is the frame's Import Table (a CSV or TSV
// table) rather than File Open. With --shots the frame is saved as
// pictures in DIR along the way (pad.png, grid.png, datasets.png,
// chart.png), to compare what the user sees.
//
// bench/road makes the files, runs this under Xvfb and takes medians.
#include <QAbstractEventDispatcher>
#include <QAction>
#include <QElapsedTimer>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <sys/resource.h>

#include "frame/application.h"
#include "frame/dialogs.h"
#include "frame/mainform.h"
#include "frame/pad/jotpad.h"
#include "plotter/charts.h"
#include "plotter/tfit.h"

using namespace orvalle;

namespace {

// Answers the open dialog with the file to load; nothing else is asked.
class OpenAnswer : public Dialogs {
public:
  explicit OpenAnswer(QString file) : file_(std::move(file)) {}
  QString openFile(QWidget *, const QString &, const QString &, const QString &) override {
    return file_;
  }
  QString saveFile(QWidget *, const QString &, const QString &, const QString &,
                   QString *) override {
    return QString();
  }
  Answer question(QWidget *, const QString &, const QString &, bool) override {
    return Answer::Yes;
  }
  void message(QWidget *, const QString &title, const QString &text) override {
    std::fprintf(stderr, "message: %s: %s\n", qPrintable(title), qPrintable(text));
  }
  bool print(QWidget *, QPrinter *) override { return false; }
  bool pageSetup(QWidget *, QPrinter *) override { return false; }
  bool font(QWidget *, QFont &) override { return false; }
  bool exec(QWidget *) override { return false; }

private:
  QString file_;
};

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
  int paints = 0;
  bool eventFilter(QObject *, QEvent *e) override {
    if (e->type() == QEvent::Paint)
      ++paints;
    return false;
  }
};

double cpuMs() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
         (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

long peakMiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss / 1024;
}

// Resident memory now (VmRSS), in MiB.
long rssMiB() {
  std::FILE *f = std::fopen("/proc/self/status", "r");
  if (!f)
    return -1;
  char line[256];
  long kib = -1;
  while (std::fgets(line, sizeof line, f))
    if (std::strncmp(line, "VmRSS:", 6) == 0)
      kib = std::atol(line + 6);
  std::fclose(f);
  return kib / 1024;
}

// Runs the event loop until pred() holds (or the time limit passes), then
// until the events that were pending are done: the window is shown and idle.
template <class Pred> bool runUntil(Pred pred, int limitMs = 600000) {
  QElapsedTimer t;
  t.start();
  while (!pred()) {
    if (t.elapsed() > limitMs)
      return false;
    // Waits for the next event; the frame's 200 ms timer wakes it at least.
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
  // Idle: a zero timer runs once everything queued before it has run.
  bool idle = false;
  QTimer::singleShot(0, [&] { idle = true; });
  while (!idle)
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
  return true;
}

struct Step {
  QElapsedTimer wall;
  double cpu0 = 0;
  void start() {
    cpu0 = cpuMs();
    wall.start();
  }
  void report(const char *name) const {
    std::printf("%-8s wall %9.1f ms  cpu %9.1f ms  rss %6ld MiB  peak %6ld MiB\n", name,
                wall.nsecsElapsed() / 1e6, cpuMs() - cpu0, rssMiB(), peakMiB());
    std::fflush(stdout);
  }
};

} // namespace

int main(int argc, char **argv) {
  const bool import = argc > 1 && std::strcmp(argv[1], "--import") == 0;
  if (import) {
    --argc;
    ++argv;
  }
  QString shots;
  if (argc > 2 && std::strcmp(argv[1], "--shots") == 0) {
    shots = QString::fromLocal8Bit(argv[2]);
    argc -= 2;
    argv += 2;
  }
  if (argc < 2) {
    std::fprintf(stderr, "usage: orvalle-road [--import] [--shots DIR] FILE [REDRAWS]\n");
    return 2;
  }
  const int redraws = argc > 2 ? std::atoi(argv[2]) : 7;
  qputenv("ORVALLE_CUSTOMFIT", "/nonexistent/libcustomfit.so");
  OrvalleApplication app(argc, argv);
  OpenAnswer dialogs(QString::fromLocal8Bit(argv[1]));
  Dialogs::install(&dialogs);

  TMainForm frame;
  frame.setPlotterFactory(&NewPlotter);
  if (frame.startFailed())
    return 1;
  frame.setPadFactory(&NewScratchPad);
  frame.setFilePadFactory(&OpenScratchPad);
  frame.setTablePadFactory(&ImportScratchPad);
  frame.CreateLog();
  frame.show();
  runUntil([&] { return frame.isVisible(); });
  std::printf("start    rss %ld MiB  peak %ld MiB\n", rssMiB(), peakMiB());

  // 1. File Open until the pad is shown and idle.
  PaintCounter padPaints;
  Step step;
  step.start();
  frame.action(import ? QStringLiteral("FileImportItem") : QStringLiteral("FileOpenItem"))
      ->trigger();
  TJotPad *pad = nullptr;
  const bool padShown = runUntil([&] {
    if (!pad) {
      const auto pads = frame.findChildren<TJotPad *>();
      pad = pads.isEmpty() ? nullptr : pads.front();
      if (pad)
        pad->Memo->viewport()->installEventFilter(&padPaints);
    }
    return pad && pad->isVisible() && padPaints.paints > 0;
  });
  if (!padShown) {
    std::fprintf(stderr, "the pad did not show\n");
    return 1;
  }
  step.report("open");
  auto shot = [&](const char *name) {
    if (!shots.isEmpty())
      frame.grab().save(shots + QLatin1Char('/') + QLatin1String(name));
  };
  shot("pad.png");

  // 2. Convert Text File until the plotter is shown and idle (a
  // three-column file opens it on the fits page).
  PaintCounter plotPaints;
  step.start();
  frame.action(QStringLiteral("CTxtFile"))->setEnabled(true);
  frame.action(QStringLiteral("CTxtFile"))->trigger();
  TFit *plot = nullptr;
  const bool plotShown = runUntil([&] {
    if (!plot) {
      const auto plots = frame.findChildren<TFit *>();
      plot = plots.isEmpty() ? nullptr : plots.front();
      if (plot)
        plot->PageControl->installEventFilter(&plotPaints);
    }
    return plot && plot->isVisible() && plotPaints.paints > 0;
  });
  if (!plotShown) {
    std::fprintf(stderr, "the plotter did not show\n");
    return 1;
  }
  step.report("convert");
  if (!shots.isEmpty()) {
    plot->showPage(0);
    runUntil([] { return true; });
    shot("grid.png");
    plot->showPage(1);
    runUntil([] { return true; });
    shot("datasets.png");
  }

  // The user turns to "View Chart"; the frame's next command-state round
  // (run here at once rather than after up to 200 ms) fills and draws it.
  PaintCounter chartPaints;
  plot->MChart->installEventFilter(&chartPaints);
  step.start();
  plot->showPage(3);
  plot->UpdateFrameCommands();
  runUntil([&] { return chartPaints.paints > 0; });
  step.report("chart");
  shot("chart.png");

  // 3. Redraws of the plotter: "Replot Data" (both charts filled and drawn
  // again), and a repaint of the main chart as a zoom or a resize asks.
  std::vector<double> replot, repaint, replotCpu, repaintCpu;
  for (int i = 0; i < redraws; ++i) {
    Step s;
    s.start();
    plot->RedrawCharts();
    plot->MChart->repaint();
    plot->DevChart->repaint();
    replot.push_back(s.wall.nsecsElapsed() / 1e6);
    replotCpu.push_back(cpuMs() - s.cpu0);
    s.start();
    plot->MChart->replot(QCustomPlot::rpImmediateRefresh);
    repaint.push_back(s.wall.nsecsElapsed() / 1e6);
    repaintCpu.push_back(cpuMs() - s.cpu0);
  }
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
  };
  std::printf("redraw   wall %9.1f ms  cpu %9.1f ms  (median of %d)\n", median(replot),
              median(replotCpu), redraws);
  std::printf("replot   wall %9.1f ms  cpu %9.1f ms  (median of %d)\n", median(repaint),
              median(repaintCpu), redraws);
  std::printf("end      rss %ld MiB  peak %ld MiB\n", rssMiB(), peakMiB());
  std::fflush(stdout);
  Dialogs::install(nullptr);
  // Leave without the close questions.
  std::_Exit(0);
}
