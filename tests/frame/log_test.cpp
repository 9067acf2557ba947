// The log window: the text of every kind of line, each request keeping its
// own text, the beep and bring-forward of error entries, the fit engine's
// synchronous hook, the plug-in's link, and the close that is always refused.
#include <QDateTime>
#include <QFile>
#include <QLibraryInfo>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "engine/logchannel.h"
#include "frame/localetext.h"
#include "frame/log.h"
#include "frame/mainform.h"
#include "frametestkit.h"
#include "plotter/tfit.h"

using namespace orvalle;
using namespace orvalle::testkit;

namespace {

struct Rig {
  SettingsFolder settings;
  DialogScope dialogs;
  BeepCounter beeps;
  std::unique_ptr<TMainForm> frame;
  TLog *log = nullptr;

  explicit Rig(const QByteArray &plugin = "/nonexistent/libcustomfit.so") {
    qputenv("ORVALLE_CUSTOMFIT", plugin);
    frame = std::make_unique<TMainForm>();
    frame->setPlotterFactory(&NewPlotter);
    log = frame->CreateLog();
    frame->show();
    settle();
  }
  QMdiSubWindow *logWindow() const { return qobject_cast<QMdiSubWindow *>(log->parentWidget()); }
  QStringList lines() const { return log->lines(); }
};

} // namespace

class LogTest : public QObject {
  Q_OBJECT

private slots:
  void startLineComesFirst();
  void startLineIsTheOnlyLineWithThePlugin();
  void aPluginThatCannotBeUsedIsToldOnce_data();
  void aPluginThatCannotBeUsedIsToldOnce();
  void everyKindMakesItsLine_data();
  void everyKindMakesItsLine();
  void twoErrorsFromOneCommandKeepTheirTexts();
  void errorsBeepAndBringTheLogForward();
  void normalEntriesStayQuiet();
  void engineMessagesArriveAtOnce();
  void pluginMessagesAreFetchedFromThePlugin();
  void theLogCannotBeClosed();
  void tickingALineChangesNothing();
};

void LogTest::startLineComesFirst() {
  Rig rig;
  const QStringList lines = rig.lines();
  QVERIFY(!lines.isEmpty());
  const QDateTime now = QDateTime::currentDateTime();
  QVERIFY2(lines[0].startsWith(ShortDateText(now.date()) + QLatin1Char(' ')), qPrintable(lines[0]));
  QVERIFY(lines[0].endsWith(QStringLiteral(" - Orvalle Program has started ")));
  // The missing plug-in is told after it, in a normal line.
  QCOMPARE(lines.size(), 2);
  QVERIFY(lines[1].contains(QStringLiteral("No plug-in fit model: ")));
  QVERIFY(lines[1].contains(QStringLiteral("/nonexistent/libcustomfit.so was not found")));
  QCOMPARE(rig.beeps.count, 0);
  QCOMPARE(rig.log->windowTitle(), QStringLiteral("Log"));
}

void LogTest::startLineIsTheOnlyLineWithThePlugin() {
  const QString plugin = QStringLiteral(ORVALLE_PLUGIN_DIR "/libcustomfit.so");
  if (!QFileInfo::exists(plugin))
    QSKIP("the sample plug-in is not built");
  Rig rig(plugin.toLocal8Bit());
  QVERIFY(rig.frame->plugin());
  QCOMPARE(rig.lines().size(), 1);
}

void LogTest::aPluginThatCannotBeUsedIsToldOnce_data() {
  QTest::addColumn<QString>("kind");
  QTest::addColumn<QString>("says");
  QTest::newRow("not a library") << "garbage"
                                 << "libcustomfit.so";
  QTest::newRow("relative path") << "relative"
                                 << "is not absolute";
  QTest::newRow("missing functions") << "poly4-renamed"
                                     << "";
  // Built from tests/plugins/hostile.c. A library that crashes while it is
  // loaded or asked for its name is tried in a child process first: the
  // program goes on without it.
  QTest::newRow("crashes when asked for its name")
      << "hostile:crashname"
      << " while it was loaded and asked for its model's name";
  QTest::newRow("crashes when it is loaded")
      << "hostile:crashload"
      << " while it was loaded and asked for its model's name";
  QTest::newRow("crashes when given the log link")
      << "hostile:crashlog"
      << " while it was loaded and asked for its model's name";
  QTest::newRow("asks for 7 estimates") << "hostile:badestimates"
                                        << "asks for 7 estimates (customestimates); a model takes "
                                           "0 to 5";
  QTest::newRow("asks for degree -3") << "hostile:baddegree"
                                      << "asks for a polynomial of degree -3";
  QTest::newRow("a name of two lines") << "hostile:badname"
                                       << "model name holds a line break";
}

void LogTest::aPluginThatCannotBeUsedIsToldOnce() {
  QFETCH(QString, kind);
  QFETCH(QString, says);
  QTemporaryDir dir;
  QString path = dir.filePath(QStringLiteral("libcustomfit.so"));
  if (kind == QLatin1String("garbage")) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("this is not a shared library\n");
  } else if (kind.startsWith(QLatin1String("hostile:"))) {
    path = QStringLiteral(ORVALLE_TEST_PLUGIN_DIR "/libtestplugin_") + kind.mid(8) +
           QStringLiteral(".so");
    QVERIFY(QFileInfo::exists(path));
  } else if (kind == QLatin1String("relative")) {
    path = QStringLiteral("libcustomfit.so");
  } else {
    // A real shared library that is no plug-in: the Qt core library.
    path = QLibraryInfo::path(QLibraryInfo::LibrariesPath) + QStringLiteral("/libQt6Core.so.6");
    if (!QFileInfo::exists(path))
      QSKIP("no library at hand");
  }
  Rig rig(path.toLocal8Bit());
  QVERIFY(!rig.frame->plugin());
  const QStringList lines = rig.lines();
  QCOMPARE(lines.size(), 2);
  QVERIFY(lines[0].endsWith(QStringLiteral(" - Orvalle Program has started ")));
  QVERIFY2(lines[1].contains(QStringLiteral(" - No plug-in fit model: ")), qPrintable(lines[1]));
  QVERIFY2(lines[1].contains(says), qPrintable(lines[1]));
  if (says.contains(QStringLiteral("while it was loaded")))
    QVERIFY2(lines[1].contains(path), qPrintable(lines[1])); // the library is named
  QCOMPARE(rig.beeps.count, 0);
}

void LogTest::everyKindMakesItsLine_data() {
  QTest::addColumn<int>("kind");
  QTest::addColumn<QString>("text");
  QTest::addColumn<QString>("after"); // what follows the time
  QTest::addColumn<bool>("dated");
  const auto row = [](const char *name, int kind, const char *text, const char *after, bool dated) {
    QTest::newRow(name) << kind << QString::fromUtf8(text) << QString::fromUtf8(after) << dated;
  };
  row("0", 0, "Conversion done", " - Conversion done", false);
  row("unlisted", 57, "odd code", " - odd code", false);
  row("1", 1, "ignored", " - Orvalle Program has started ", true);
  row("99", 99, "ignored", " - Closing Application ", true);
  row("100", 100, "a.txt", " A ScratchPad has been opened -a.txt", false);
  row("102", 102, "ignored", " Y error points can not contain ZERO or MINIUS values", false);
  row("199", 199, "a.txt", " A ScratchPad has been cloesd -a.txt", false);
  row("200", 200, "P1", " A Plotter has been opened -P1", false);
  row("299", 299, "P1", " A Plotter has closed -P1", false);
}

void LogTest::everyKindMakesItsLine() {
  QFETCH(int, kind);
  QFETCH(QString, text);
  QFETCH(QString, after);
  QFETCH(bool, dated);
  const QDateTime now(QDate(2026, 3, 7), QTime(14, 5, 9));
  const QString time = LongTimeText(now.time());
  const QString want =
      (dated ? ShortDateText(now.date()) + QLatin1Char(' ') : QString()) + time + after;
  QCOMPARE(TLog::LineText(kind, text, now), want);
  // And through the frame, into the window.
  Rig rig;
  const int before = rig.lines().size();
  rig.frame->LogEvent(kind, false, text);
  QCOMPARE(rig.lines().size(), before); // posted: not yet
  settle();
  QCOMPARE(rig.lines().size(), before + 1);
  QVERIFY2(rig.lines().last().endsWith(after), qPrintable(rig.lines().last()));
  // The time is the user's long time: it has seconds and no zone name.
  QVERIFY(!time.contains(QStringLiteral("UTC")));
  QVERIFY(time.contains(QStringLiteral("05")) && time.contains(QStringLiteral("09")));
}

void LogTest::twoErrorsFromOneCommandKeepTheirTexts() {
  Rig rig;
  const int before = rig.lines().size();
  rig.frame->LogEvent(0, true, QStringLiteral("first error"));
  rig.frame->LogEvent(0, true, QStringLiteral("second error"));
  rig.frame->LogEvent(200, false, QStringLiteral("pendulum.txt"));
  settle();
  const QStringList lines = rig.lines().mid(before);
  QCOMPARE(lines.size(), 3);
  QVERIFY(lines[0].endsWith(QStringLiteral(" - first error")));
  QVERIFY(lines[1].endsWith(QStringLiteral(" - second error")));
  QVERIFY(lines[2].endsWith(QStringLiteral(" A Plotter has been opened -pendulum.txt")));
}

void LogTest::errorsBeepAndBringTheLogForward() {
  Rig rig;
  auto *other = new FakeChild(*rig.frame, FakeChild::Kind::Pad);
  QMdiSubWindow *otherWindow = rig.frame->addChild(other);
  rig.logWindow()->showMinimized();
  QVERIFY(rig.logWindow()->isMinimized());
  rig.frame->mdiArea()->setActiveSubWindow(otherWindow);
  QCOMPARE(rig.frame->activeChild(), other);

  rig.frame->LogEvent(0, true, QStringLiteral("Conversion failed"));
  // At once: the beep and the restore.
  QCOMPARE(rig.beeps.count, 1);
  QVERIFY(!rig.logWindow()->isMinimized());
  settle();
  // When the line arrives, the log comes to the front.
  QCOMPARE(rig.frame->activeChild(), rig.log);
  QVERIFY(rig.lines().last().endsWith(QStringLiteral(" - Conversion failed")));
}

void LogTest::normalEntriesStayQuiet() {
  Rig rig;
  auto *other = new FakeChild(*rig.frame, FakeChild::Kind::Pad);
  rig.frame->addChild(other);
  rig.frame->LogEvent(0, false, QStringLiteral("Tagged data converted"));
  settle();
  QCOMPARE(rig.beeps.count, 0);
  QCOMPARE(rig.frame->activeChild(), other);
  QVERIFY(rig.lines().last().endsWith(QStringLiteral(" - Tagged data converted")));
}

void LogTest::engineMessagesArriveAtOnce() {
  Rig rig;
  auto *other = new FakeChild(*rig.frame, FakeChild::Kind::Plotter);
  rig.frame->addChild(other);
  const int before = rig.lines().size();
  logmessage("Fit failed to converge try improving estimates");
  // Sent: the line is there before any event processing.
  QCOMPARE(rig.lines().size(), before + 1);
  QVERIFY(rig.lines().last().endsWith(
      QStringLiteral(" - Fit failed to converge try improving estimates")));
  QCOMPARE(rig.frame->activeChild(), rig.log); // lParam 1 brings it forward
  QVERIFY(pendingmessage().empty());           // taken
  // A request without a message logs the time and the dash only.
  SendCommand(rig.log, UM_LOGLINE, kEngineLogKind, 0);
  QVERIFY(rig.lines().last().endsWith(QStringLiteral(" - ")));
  // A log destroyed unhooks itself: messages wait for the next log.
  rig.frame.reset();
  logmessage("kept for later");
  QCOMPARE(pendingmessage(), std::string("kept for later"));
}

void LogTest::pluginMessagesAreFetchedFromThePlugin() {
  const QString plugin = QStringLiteral(ORVALLE_PLUGIN_DIR "/libcustomfit.so");
  if (!QFileInfo::exists(plugin))
    QSKIP("the sample plug-in is not built");
  Rig rig(plugin.toLocal8Bit());
  const PluginLibrary *lib = rig.frame->plugin();
  QVERIFY(lib && lib->messageis);
  auto *other = new FakeChild(*rig.frame, FakeChild::Kind::Plotter);
  rig.frame->addChild(other);
  // A fit the plug-in cannot do: it logs why through the link it was given.
  const double x[] = {1.0}, y[] = {2.0}, e[] = {0.1}, w[] = {100.0};
  const orvalle_points points{x, y, e, w, 1};
  orvalle_params params{};
  const int before = rig.lines().size();
  QVERIFY(lib->customfit_fit(&params, &points, 1) != 0);
  const QString said = QString::fromStdString(lib->message());
  QVERIFY(!said.isEmpty());
  QCOMPARE(rig.lines().size(), before + 1); // sent at once
  QVERIFY(rig.lines().last().endsWith(QStringLiteral(" - ") + said));
  QCOMPARE(rig.frame->activeChild(), rig.log);
  // A log destroyed unhooks itself from the plug-in.
  const PluginLibrary kept = *lib; // QLibrary leaves the library loaded
  rig.frame.reset();
  QVERIFY(kept.customfit_fit(&params, &points, 1) != 0);
}

void LogTest::theLogCannotBeClosed() {
  Rig rig;
  QVERIFY(!rig.logWindow()->close());
  QVERIFY(!rig.log->close());
  SendCommand(rig.log, UM_CLOSEREQUEST);
  settle();
  QVERIFY(rig.frame->log());
  QVERIFY(rig.logWindow()->isVisible());
  // No close or minimize command in its title bar.
  const Qt::WindowFlags flags = rig.logWindow()->windowFlags();
  QVERIFY(!(flags & Qt::WindowCloseButtonHint));
  QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
  QVERIFY(!(flags & Qt::WindowSystemMenuHint));
  QVERIFY(flags & Qt::WindowMaximizeButtonHint);
}

void LogTest::tickingALineChangesNothing() {
  Rig rig;
  QListWidgetItem *item = rig.log->Book()->item(0);
  QVERIFY(item->flags() & Qt::ItemIsUserCheckable);
  const QStringList before = rig.lines();
  item->setCheckState(Qt::Checked);
  settle();
  QCOMPARE(rig.lines(), before);
  QCOMPARE(rig.beeps.count, 0);
}

QTEST_MAIN(LogTest)
#include "log_test.moc"
