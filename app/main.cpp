// Orvalle: start-up in order — title and help file, frame (with its
// settings), log, About box — then the message loop until the frame closes.
#include <QElapsedTimer>
#include <QLocale>
#include <QTimer>
#include <QWindow>

#include <chrono>
#include <cstdio>
#include <exception>

#include "engine/bfit.h"
#include "frame/application.h"
#include "frame/helpwindow.h"
#include "frame/mainform.h"
#include "frame/pad/jotpad.h"

namespace {

// ORVALLE_STARTUP_PROBE: print the time from main() to the frame on the
// screen, and the wall-clock moment it was shown, then quit.
class StartupProbe : public QObject {
public:
  explicit StartupProbe(QElapsedTimer &since) : since_(since) {}
  bool eventFilter(QObject *watched, QEvent *e) override {
    auto *window = qobject_cast<QWindow *>(watched);
    if (!done_ && window && e->type() == QEvent::Expose && window->isExposed()) {
      done_ = true;
      QTimer::singleShot(0, [this] {
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        std::printf("frame-shown-ms %.3f\nframe-shown-epoch-ns %lld\n", since_.nsecsElapsed() / 1e6,
                    static_cast<long long>(
                        std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
        std::fflush(stdout);
        QCoreApplication::quit();
      });
    }
    return false;
  }

private:
  QElapsedTimer &since_;
  bool done_ = false;
};

} // namespace

int main(int argc, char *argv[]) {
  QElapsedTimer since;
  since.start();
  try {
    orvalle::OrvalleApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvalle"));
    orvalle::SetHelpFile(QStringLiteral("VTRL.hlp"));
    // Fit descriptions show numbers with the user's decimal separator;
    // files the program writes always use '.'.
    const QString point = QLocale::system().decimalPoint();
    if (point.size() == 1 && point[0].unicode() < 0x80)
      orvalle::setdecimalseparator(static_cast<char>(point[0].unicode()));

    orvalle::TMainForm frame;
    if (frame.startFailed())
      return 1;
    frame.setPadFactory(&orvalle::NewScratchPad);
    QObject::connect(&frame, &orvalle::TMainForm::frameClosed, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    frame.CreateLog();
    frame.CreateAboutBox();

    StartupProbe probe(since);
    const bool probing = qEnvironmentVariableIsSet("ORVALLE_STARTUP_PROBE");
    if (probing) {
      frame.winId(); // the native window exists before it is shown
      frame.windowHandle()->installEventFilter(&probe);
    }
    frame.show();
    return app.exec();
  } catch (const std::exception &e) {
    std::fprintf(stderr, "Orvalle: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "Orvalle: start-up failed\n");
  }
  return 1;
}
