// Orvalle: start-up in order — title and help file, frame (with its
// settings), log, About box — then the message loop until the frame closes.
// Data files named on the command line open in scratch pads once the frame
// stands.
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QLocale>
#include <QTimer>
#include <QWindow>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>

#include "engine/bfit.h"
#include "frame/application.h"
#include "frame/examples.h"
#include "frame/helpwindow.h"
#include "frame/mainform.h"
#include "frame/pad/jotpad.h"
#include "plotter/tfit.h"

namespace {

// ORVALLE_STARTUP_PROBE: print the time from main() to the frame on the
// screen, the wall-clock moment it was shown, where the program found its
// help book, examples and plug-in model, and the frame's child windows;
// then quit.
class StartupProbe : public QObject {
public:
  StartupProbe(QElapsedTimer &since, orvalle::TMainForm &frame) : since_(since), frame_(frame) {}
  bool eventFilter(QObject *watched, QEvent *e) override {
    auto *window = qobject_cast<QWindow *>(watched);
    if (!done_ && window && e->type() == QEvent::Expose && window->isExposed()) {
      done_ = true;
      QTimer::singleShot(0, [this] {
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        std::printf("frame-shown-ms %.3f\nframe-shown-epoch-ns %lld\n", since_.nsecsElapsed() / 1e6,
                    static_cast<long long>(
                        std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
        const orvalle::PluginLibrary *plugin = frame_.plugin();
        std::printf("help-book %s\nexamples %s\nplug-in %s\n", qPrintable(orvalle::HelpBookPath()),
                    qPrintable(orvalle::ExamplesFolder()), plugin ? plugin->name().c_str() : "");
        for (QWidget *child : frame_.childWindows())
          std::printf("window %s\n", qPrintable(child->windowTitle()));
        std::fflush(stdout);
        QCoreApplication::quit();
      });
    }
    return false;
  }

private:
  QElapsedTimer &since_;
  orvalle::TMainForm &frame_;
  bool done_ = false;
};

const char kUsage[] = "Usage: orvalle [OPTION]... [FILE]...\n"
                      "Fit model curves to laboratory data by weighted least squares.\n"
                      "\n"
                      "Each FILE (a plain-text data file) opens in a scratch pad.\n"
                      "\n"
                      "  -h, --help     show this help and exit\n"
                      "  -v, --version  show the version and exit\n"
                      "\n"
                      "Qt's own options (such as -platform) are accepted as well.\n";

// --help and --version answer on the terminal before any window (or even a
// display connection) exists. Returns -1 when neither was asked for.
int answerOnTerminal(int argc, char *argv[]) {
  for (int i = 1; i < argc; ++i) {
    const char *a = argv[i];
    if (std::strcmp(a, "--") == 0)
      break;
    if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(a, "--version") == 0 || std::strcmp(a, "-v") == 0) {
      std::printf("orvalle %s\n", ORVALLE_VERSION);
      return 0;
    }
  }
  return -1;
}

} // namespace

int main(int argc, char *argv[]) {
  QElapsedTimer since;
  since.start();
  if (const int rc = answerOnTerminal(argc, argv); rc >= 0)
    return rc;
  try {
    orvalle::OrvalleApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvalle"));
    QApplication::setApplicationVersion(QStringLiteral(ORVALLE_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.halvorn.orvalle"));
    // What is left after Qt took its own options: data files only.
    QCommandLineParser arguments;
    arguments.addPositionalArgument(QStringLiteral("file"), QStringLiteral("data file"));
    if (!arguments.parse(QCoreApplication::arguments())) {
      std::fprintf(stderr, "orvalle: %s\nTry 'orvalle --help'.\n",
                   qPrintable(arguments.errorText()));
      return 2;
    }
    orvalle::SetHelpFile(QStringLiteral("VTRL.hlp"));
    // Fit descriptions show numbers with the user's decimal separator;
    // files the program writes always use '.'.
    const QString point = QLocale::system().decimalPoint();
    if (point.size() == 1 && point[0].unicode() < 0x80)
      orvalle::setdecimalseparator(static_cast<char>(point[0].unicode()));

    orvalle::TMainForm frame;
    frame.setPlotterFactory(&orvalle::NewPlotter);
    if (frame.startFailed())
      return 1;
    frame.setPadFactory(&orvalle::NewScratchPad);
    frame.setFilePadFactory(&orvalle::OpenScratchPad);
    frame.setTablePadFactory(&orvalle::ImportScratchPad);
    QObject::connect(&frame, &orvalle::TMainForm::frameClosed, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    frame.CreateLog();
    frame.CreateAboutBox();

    StartupProbe probe(since, frame);
    const bool probing = qEnvironmentVariableIsSet("ORVALLE_STARTUP_PROBE");
    if (probing) {
      frame.winId(); // the native window exists before it is shown
      frame.windowHandle()->installEventFilter(&probe);
    }
    frame.show();
    frame.OpenFiles(arguments.positionalArguments());
    return app.exec();
  } catch (const std::exception &e) {
    std::fprintf(stderr, "Orvalle: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "Orvalle: start-up failed\n");
  }
  return 1;
}
