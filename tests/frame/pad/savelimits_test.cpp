// Saving a pad in the program's own application object: beyond a file size
// limit (ulimit -f) the save fails with the system's reason and the old file
// stays, and the program goes on; a file reached through a symbolic link, or
// readable by its owner alone, stays so.
// Covers frame/application.cpp (SIGXFSZ) and the pad's Save.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "frame/application.h"
#include "frame/log.h"
#include "frame/mainform.h"
#include "frame/messages.h"
#include "frame/pad/jotpad.h"
#include "plotter/tfit.h"
#include "tests/frame/frametestkit.h"

using namespace orvalle;
using namespace orvalle::testkit;

namespace {

QByteArray readAll(const QString &path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString &path, const QByteArray &bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Typed over the whole text, as a user would.
void retype(TJotPad *pad, const QString &text) {
  pad->Memo->selectAll();
  pad->Memo->insertPlainText(text);
}

// The program with its frame, as it runs; pads open as the command line
// opens them.
struct Rig {
  SettingsFolder settings;
  DialogScope dialogs;
  QTemporaryDir dir;
  std::unique_ptr<TMainForm> frame;

  Rig() {
    qputenv("ORVALLE_CUSTOMFIT", "/nonexistent/libcustomfit.so");
    frame = std::make_unique<TMainForm>();
    frame->setPlotterFactory(&NewPlotter);
    frame->setPadFactory(&NewScratchPad);
    frame->setFilePadFactory(&OpenScratchPad);
    frame->CreateLog();
    frame->show();
    settle();
  }
  QString path(const char *name) const { return dir.filePath(QString::fromLatin1(name)); }
  TJotPad *open(const QString &file) {
    frame->OpenFiles({file});
    settle();
    for (QWidget *child : frame->childWindows())
      if (auto *pad = qobject_cast<TJotPad *>(child); pad && pad->fileName() == file)
        return pad;
    return nullptr;
  }
  // Save as the menu does it: the command posted to the active pad.
  void save(TJotPad *pad) {
    frame->mdiArea()->setActiveSubWindow(qobject_cast<QMdiSubWindow *>(pad->parentWidget()));
    frame->FileSave();
    settle();
  }
};

// Lowers this process's file size limit for one scope. SIGXFSZ keeps the
// disposition the program gave it.
class FileSizeLimit {
public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old_);
    rlimit l = old_;
    l.rlim_cur = bytes;
    ok_ = setrlimit(RLIMIT_FSIZE, &l) == 0;
  }
  ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old_); }
  bool ok() const { return ok_; }

private:
  rlimit old_{};
  bool ok_ = false;
};

} // namespace

class SaveLimitsTest : public QObject {
  Q_OBJECT

private slots:
  void theProgramIgnoresTheFileSizeSignal() {
    struct sigaction now {};
    QCOMPARE(::sigaction(SIGXFSZ, nullptr, &now), 0);
    QVERIFY(now.sa_handler == SIG_IGN);
  }

  void aSaveBeyondTheFileSizeLimitIsReportedAndKeepsTheOldFile() {
    Rig rig;
    const QString file = rig.path("run.txt");
    const QByteArray old = "1 2 0.1\r\n2 4 0.1\r\n";
    QVERIFY(writeFile(file, old));
    TJotPad *pad = rig.open(file);
    QVERIFY(pad);
    retype(pad, QString(4000, QLatin1Char('7')));
    QVERIFY(pad->modified());
    {
      FileSizeLimit limit(64); // the new text cannot be written whole
      QVERIFY(limit.ok());
      rig.save(pad); // without the program's SIG_IGN this process would end here
    }
    // The program's report of the failed command, with the system's reason.
    QCOMPARE(rig.dialogs.fake.messages.size(), std::size_t(1));
    const QString said = rig.dialogs.fake.messages[0].text;
    QVERIFY2(said.contains(file) && said.contains(QStringLiteral("File too large")),
             qPrintable(said));
    QCOMPARE(readAll(file), old);
    QVERIFY(pad->modified());
    QCOMPARE(QDir(rig.dir.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("run.txt")}); // no temporary file left
    // Within the limit again, the same save succeeds.
    rig.save(pad);
    QCOMPARE(readAll(file), QByteArray(4000, '7') + "\r\n"); // lines end in CR LF
    QVERIFY(!pad->modified());
  }

  void aSaveWritesThroughASymbolicLinkAndKeepsThePermissions() {
    Rig rig;
    const QString real = rig.path("real.txt");
    const QString link = rig.path("link.txt");
    QVERIFY(writeFile(real, "1 2 0.1\n"));
    QCOMPARE(::chmod(QFile::encodeName(real).constData(), 0600), 0);
    QVERIFY(QFile::link(QStringLiteral("real.txt"), link));
    TJotPad *pad = rig.open(link);
    QVERIFY(pad);
    retype(pad, QStringLiteral("3 4 0.2"));
    rig.save(pad);
    QVERIFY(rig.dialogs.fake.messages.empty());
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(readAll(real), QByteArray("3 4 0.2\r\n"));
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(real).constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0600));
  }
};

int main(int argc, char *argv[]) {
  // As a shell leaves it: SIGXFSZ ends a process that writes past the limit.
  ::signal(SIGXFSZ, SIG_DFL);
  OrvalleApplication app(argc, argv);
  SaveLimitsTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "savelimits_test.moc"
