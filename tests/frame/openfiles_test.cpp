// Files that reach the program from outside: names on the command line and
// files dropped on the frame open as scratch pads exactly as File Open
// opens them; --help and --version answer without a window (app/main.cpp).
// Covers frame/mainform_open.cpp.
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <memory>

#include <sys/stat.h>

#include "frame/log.h"
#include "frame/mainform.h"
#include "frame/pad/jotpad.h"
#include "frametestkit.h"
#include "plotter/tfit.h"

using namespace orvalle;
using namespace orvalle::testkit;

namespace {

const QString kProgram = QStringLiteral(ORVALLE_PLUGIN_DIR "/orvalle");

struct Rig {
  SettingsFolder settings;
  DialogScope dialogs;
  BeepCounter beeps;
  QTemporaryDir dir;
  std::unique_ptr<TMainForm> frame;

  Rig() {
    qputenv("ORVALLE_CUSTOMFIT", "/nonexistent/libcustomfit.so");
    frame = std::make_unique<TMainForm>();
    frame->setPlotterFactory(&NewPlotter);
    frame->setPadFactory(&NewScratchPad);
    frame->CreateLog();
    frame->show();
    settle();
  }
  QString write(const QString &name, const QByteArray &bytes) {
    QFile f(dir.filePath(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
      return {};
    return f.fileName();
  }
  std::vector<TJotPad *> pads() const {
    std::vector<TJotPad *> out;
    for (QWidget *child : frame->childWindows())
      if (auto *pad = qobject_cast<TJotPad *>(child))
        out.push_back(pad);
    return out;
  }
};

QProcessEnvironment withoutDisplay() {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.remove(QStringLiteral("DISPLAY"));
  env.remove(QStringLiteral("WAYLAND_DISPLAY"));
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
  return env;
}

} // namespace

class OpenFilesTest : public QObject {
  Q_OBJECT
private slots:
  void eachFileOpensAsAPadAndAMissingOneIsLogged();
  void filesReadInPartsOpenAsPadsAndWhatIsNoFileIsLogged();
  void droppedFilesOpenAsPads();
  void namesThatAreNoFileAreExplained_data();
  void namesThatAreNoFileAreExplained();
  void helpAndVersionNeedNoWindow_data();
  void helpAndVersionNeedNoWindow();
  void commandLineFilesOpenInTheProgram();
};

void OpenFilesTest::eachFileOpensAsAPadAndAMissingOneIsLogged() {
  Rig rig;
  const QString a = rig.write(QStringLiteral("a.txt"), "1 2 0.1\n2 4 0.1\n");
  const QString b = rig.write(QStringLiteral("b.txt"), "1 5 0.2 x\n");
  const QString missing = rig.dir.filePath(QStringLiteral("missing.txt"));
  const qsizetype before = rig.frame->log()->lines().size();
  const int beeps = rig.beeps.count;

  rig.frame->OpenFiles({a, missing, b});
  settle();

  const auto pads = rig.pads();
  QCOMPARE(pads.size(), std::size_t(2));
  // In the order named, each titled with its full name and holding its text,
  // unmodified: as File Open leaves a pad.
  QCOMPARE(pads[0]->windowTitle(), a);
  QCOMPARE(pads[0]->Memo->toPlainText(), QStringLiteral("1 2 0.1\n2 4 0.1\n"));
  QVERIFY(!pads[0]->modified());
  QCOMPARE(pads[1]->windowTitle(), b);
  QCOMPARE(pads[1]->Memo->toPlainText(), QStringLiteral("1 5 0.2 x\n"));
  // The missing file: what is wrong with the name, then the frame's own
  // message, as an error (one beep).
  const QStringList lines = rig.frame->log()->lines();
  QCOMPARE(lines.size(), before + 2);
  QVERIFY2(
      lines[before].endsWith(QStringLiteral(" - ") + missing + QStringLiteral(" does not exist")),
      qPrintable(lines[before]));
  QVERIFY(lines.last().endsWith(QStringLiteral(" - File Not Found!")));
  QCOMPARE(rig.beeps.count, beeps + 1);
}

void OpenFilesTest::filesReadInPartsOpenAsPadsAndWhatIsNoFileIsLogged() {
  // As the program opens files: each pad reads its own file.
  Rig rig;
  rig.frame->setFilePadFactory(&OpenScratchPad);
  const QString a = rig.write(QStringLiteral("a.txt"), "1 2 0.1\r\n2 4 0.1\r\n");
  const QString latin = rig.write(QStringLiteral("l.txt"), "# L\xe4nge\n1 2 0.1\n");
  const QString fifo = rig.dir.filePath(QStringLiteral("fifo"));
  QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  const qsizetype before = rig.frame->log()->lines().size();
  const int beeps = rig.beeps.count;

  rig.frame->OpenFiles({a, fifo, latin});
  settle();

  const auto pads = rig.pads();
  QCOMPARE(pads.size(), std::size_t(2));
  QCOMPARE(pads[0]->windowTitle(), a);
  QCOMPARE(pads[0]->Memo->toPlainText(), QStringLiteral("1 2 0.1\n2 4 0.1\n"));
  QVERIFY(!pads[0]->modified());
  QCOMPARE(pads[1]->Memo->toPlainText(), QString::fromUtf8("# L\u00e4nge\n1 2 0.1\n"));
  // The FIFO is no file to read (nor to wait on): what it is, then the
  // frame's message.
  const QStringList lines = rig.frame->log()->lines();
  QCOMPARE(lines.size(), before + 2);
  QVERIFY2(lines[before].contains(fifo + QStringLiteral(" is a named pipe (FIFO), not a file")),
           qPrintable(lines[before]));
  QVERIFY2(lines.last().endsWith(QStringLiteral(" - File Not Found!")), qPrintable(lines.last()));
  QCOMPARE(rig.beeps.count, beeps + 1);
}

void OpenFilesTest::droppedFilesOpenAsPads() {
  Rig rig;
  const QString a = rig.write(QStringLiteral("dropped.txt"), "3 4 0.5\n");
  QVERIFY(rig.frame->acceptDrops());

  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(a), QUrl(QStringLiteral("https://example.org/data.txt"))});
  const QPoint at = rig.frame->rect().center();
  QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(rig.frame.get(), &enter);
  QVERIFY(enter.isAccepted());
  QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(rig.frame.get(), &drop);
  QVERIFY(drop.isAccepted());
  settle();
  // The web address is not a file of ours: only the local file opens.
  const auto pads = rig.pads();
  QCOMPARE(pads.size(), std::size_t(1));
  QCOMPARE(pads[0]->windowTitle(), a);
  QCOMPARE(pads[0]->Memo->toPlainText(), QStringLiteral("3 4 0.5\n"));

  // Text without files is refused: nothing opens.
  QMimeData text;
  text.setText(QStringLiteral("1 2 3"));
  QDragEnterEvent refused(at, Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
  refused.setAccepted(false);
  QCoreApplication::sendEvent(rig.frame.get(), &refused);
  QVERIFY(!refused.isAccepted());
}

void OpenFilesTest::namesThatAreNoFileAreExplained_data() {
  QTest::addColumn<QString>("kind");
  QTest::addColumn<QString>("says"); // after the full name
  QTest::newRow("folder") << "folder"
                          << " is a folder, not a file";
  QTest::newRow("fifo") << "fifo"
                        << " is a named pipe (FIFO), not a file: it is not read, as reading it "
                           "could wait for ever";
  QTest::newRow("device") << "device"
                          << " is a device, not a file";
  QTest::newRow("symlink loop") << "loop"
                                << " is a loop of symbolic links that leads to no file";
  QTest::newRow("dangling symlink") << "dangling"
                                    << " is a symbolic link to %1, which does not exist";
  QTest::newRow("missing") << "missing"
                           << " does not exist";
}

void OpenFilesTest::namesThatAreNoFileAreExplained() {
  QFETCH(QString, kind);
  QFETCH(QString, says);
  Rig rig;
  rig.frame->setFilePadFactory(&OpenScratchPad);
  QString name = rig.dir.filePath(kind);
  const QByteArray encoded = QFile::encodeName(name);
  if (kind == QLatin1String("folder")) {
    QVERIFY(QDir(rig.dir.path()).mkdir(kind));
  } else if (kind == QLatin1String("fifo")) {
    QCOMPARE(::mkfifo(encoded.constData(), 0600), 0);
  } else if (kind == QLatin1String("device")) {
    name = QStringLiteral("/dev/null");
  } else if (kind == QLatin1String("loop")) {
    QVERIFY(QFile::link(rig.dir.filePath(QStringLiteral("other")), name));
    QVERIFY(QFile::link(name, rig.dir.filePath(QStringLiteral("other"))));
  } else if (kind == QLatin1String("dangling")) {
    const QString gone = rig.dir.filePath(QStringLiteral("gone.txt"));
    QVERIFY(QFile::link(gone, name));
    says = says.arg(gone);
  }
  const qsizetype before = rig.frame->log()->lines().size();
  const int beeps = rig.beeps.count;

  rig.frame->OpenFiles({name});
  settle();

  QVERIFY(rig.pads().empty());
  const QStringList lines = rig.frame->log()->lines();
  QCOMPARE(lines.size(), before + 2);
  QVERIFY2(lines[before].endsWith(QStringLiteral(" - ") + name + says), qPrintable(lines[before]));
  QVERIFY(lines.last().endsWith(QStringLiteral(" - File Not Found!")));
  QCOMPARE(rig.beeps.count, beeps + 1); // the one error entry
}

void OpenFilesTest::helpAndVersionNeedNoWindow_data() {
  QTest::addColumn<QString>("option");
  QTest::addColumn<QString>("answer");
  QTest::newRow("--help") << "--help"
                          << "Usage: orvalle [OPTION]... [FILE]...";
  QTest::newRow("-h") << "-h"
                      << "Usage: orvalle [OPTION]... [FILE]...";
  QTest::newRow("--version") << "--version"
                             << "orvalle " ORVALLE_VERSION;
}

void OpenFilesTest::helpAndVersionNeedNoWindow() {
  QFETCH(QString, option);
  QFETCH(QString, answer);
  // No display at all: a program that tried to open a window would fail.
  QProcess p;
  p.setProcessEnvironment(withoutDisplay());
  p.start(kProgram, {option});
  QVERIFY(p.waitForFinished(20000));
  QCOMPARE(p.exitStatus(), QProcess::NormalExit);
  QCOMPARE(p.exitCode(), 0);
  QVERIFY2(QString::fromUtf8(p.readAllStandardOutput()).startsWith(answer),
           qPrintable(QString::fromUtf8(p.readAllStandardError())));
}

void OpenFilesTest::commandLineFilesOpenInTheProgram() {
  QTemporaryDir dir;
  QTemporaryDir config;
  const QString a = dir.filePath(QStringLiteral("one.txt"));
  QFile f(a);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write("1 2 0.1\n");
  f.close();
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
  env.insert(QStringLiteral("ORVALLE_STARTUP_PROBE"), QStringLiteral("1"));
  QProcess p;
  p.setProcessEnvironment(env);
  p.start(kProgram, {a, dir.filePath(QStringLiteral("missing.txt"))});
  QVERIFY(p.waitForFinished(60000));
  QCOMPARE(p.exitCode(), 0);
  const QStringList windows = QString::fromUtf8(p.readAllStandardOutput())
                                  .split(QLatin1Char('\n'))
                                  .filter(QStringLiteral("window "));
  QVERIFY2(windows.contains(QStringLiteral("window ") + a), qPrintable(windows.join('|')));
  QVERIFY(!windows.join('|').contains(QStringLiteral("missing.txt")));

  // An option the program does not know is refused before any window.
  QProcess bad;
  bad.setProcessEnvironment(env);
  bad.start(kProgram, {QStringLiteral("--frobnicate")});
  QVERIFY(bad.waitForFinished(20000));
  QCOMPARE(bad.exitCode(), 2);
  QVERIFY(QString::fromUtf8(bad.readAllStandardError()).contains(QStringLiteral("--help")));
}

QTEST_MAIN(OpenFilesTest)
#include "openfiles_test.moc"
