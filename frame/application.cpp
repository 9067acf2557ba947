#include "frame/application.h"

#include <signal.h>

#include <exception>
#include <new>
#include <utility>

#include "frame/dialogs.h"

namespace orvalle {

namespace {
std::function<void()> &beepHook() {
  static std::function<void()> hook;
  return hook;
}
bool &reporting() {
  static bool busy = false;
  return busy;
}
} // namespace

OrvalleApplication::OrvalleApplication(int &argc, char **argv) : QApplication(argc, argv) {
  IgnoreFileSizeSignal();
}

void IgnoreFileSizeSignal() {
  // Beyond a file size limit (ulimit -f) the system would end the program
  // with SIGXFSZ in the middle of a save; ignored, the write fails with
  // EFBIG instead, which a save reports while the old file stays whole.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGXFSZ, &ignore, nullptr);
}

bool OrvalleApplication::notify(QObject *receiver, QEvent *event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ReportCurrentException();
    return false;
  }
}

void ReportFailure(const QString &what) noexcept {
  // A failure raised while the error box itself is up must not open a second
  // box on top of it (or recurse without end).
  if (reporting())
    return;
  reporting() = true;
  try {
    QString text = what.trimmed();
    if (text.isEmpty())
      text = QStringLiteral("An unexpected error ended the command.");
    QString title = QApplication::applicationName();
    if (title.isEmpty())
      title = QStringLiteral("Orvalle");
    Dialogs::get().message(QApplication::activeWindow(), title, text);
  } catch (...) {
  }
  reporting() = false;
}

void ReportCurrentException() noexcept {
  try {
    throw;
  } catch (const std::bad_alloc &) {
    ReportFailure(QStringLiteral("There was not enough memory to finish the command."));
  } catch (const std::exception &e) {
    ReportFailure(QString::fromLocal8Bit(e.what()));
  } catch (...) {
    ReportFailure(QStringLiteral("An unexpected error ended the command."));
  }
}

void Beep() {
  if (beepHook())
    beepHook()();
  else
    QApplication::beep();
}

std::function<void()> SetBeepHook(std::function<void()> hook) {
  return std::exchange(beepHook(), std::move(hook));
}

} // namespace orvalle
