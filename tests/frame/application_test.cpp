// The program's one report of failures nothing handled: an exception raised
// by any event handler ends that handler only, is shown once through the
// dialog seam, and the event loop goes on.
#include <QTest>
#include <QTimer>

#include <stdexcept>

#include "frame/application.h"
#include "frametestkit.h"

using namespace orvalle;
using namespace orvalle::testkit;

namespace {

class Thrower : public QObject {
public:
  int handled = 0;
  bool event(QEvent *e) override {
    if (e->type() == QEvent::User) {
      ++handled;
      if (handled == 1)
        throw std::runtime_error("Could not read the grid cell");
      if (handled == 2)
        throw 42; // not a std::exception
      return true;
    }
    return QObject::event(e);
  }
};

} // namespace

class ApplicationTest : public QObject {
  Q_OBJECT

private slots:
  void failuresAreReportedAndTheLoopGoesOn();
  void beepGoesThroughTheHook();
};

void ApplicationTest::failuresAreReportedAndTheLoopGoesOn() {
  DialogScope dialogs;
  Thrower t;
  for (int i = 0; i < 3; ++i)
    QCoreApplication::postEvent(&t, new QEvent(QEvent::User));
  bool later = false;
  QTimer::singleShot(0, [&later] { later = true; });
  QTRY_VERIFY(later);
  QCOMPARE(t.handled, 3);
  QCOMPARE(dialogs.fake.messages.size(), std::size_t(2));
  QCOMPARE(dialogs.fake.messages[0].text, QStringLiteral("Could not read the grid cell"));
  QCOMPARE(dialogs.fake.messages[0].title, QStringLiteral("Orvalle"));
  QCOMPARE(dialogs.fake.messages[1].text, QStringLiteral("An unexpected error ended the command."));
}

void ApplicationTest::beepGoesThroughTheHook() {
  int beeps = 0;
  auto old = SetBeepHook([&beeps] { ++beeps; });
  Beep();
  Beep();
  SetBeepHook(old);
  QCOMPARE(beeps, 2);
}

int main(int argc, char **argv) {
  OrvalleApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Orvalle"));
  ApplicationTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "application_test.moc"
