// File's list of recent files: the last eight files opened, newest first,
// kept in the settings key as values of their own beside the preferences,
// which stay as they were; a file that is gone is shown disabled; a damaged
// entry is left out without harming the start.
// Covers frame/recentfiles.cpp and the recent files of frame/mainform_open.cpp.
#include <QAction>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "frame/log.h"
#include "frame/mainform.h"
#include "frame/pad/jotpad.h"
#include "frame/recentfiles.h"
#include "frame/settingsstore.h"
#include "frametestkit.h"
#include "plotter/tfit.h"

using namespace orvalle;
using namespace orvalle::testkit;

namespace {

struct Rig {
  SettingsFolder settings;
  DialogScope dialogs;
  BeepCounter beeps;
  QTemporaryDir dir;
  std::unique_ptr<TMainForm> frame;

  Rig() { start(); }
  void start() {
    qputenv("ORVALLE_CUSTOMFIT", "/nonexistent/libcustomfit.so");
    frame = std::make_unique<TMainForm>();
    frame->setPlotterFactory(&NewPlotter);
    frame->setPadFactory(&NewScratchPad);
    frame->setFilePadFactory(&OpenScratchPad);
    frame->CreateLog();
    frame->show();
    settle();
  }
  QString write(const QString &name) {
    QFile f(dir.filePath(name));
    if (!f.open(QIODevice::WriteOnly) || f.write("1 2 0.1\n2 4 0.1\n") < 0)
      return {};
    return f.fileName();
  }
  // The menu as the user sees it when it opens.
  QList<QAction *> shown() {
    emit frame->recentFilesMenu()->aboutToShow();
    QList<QAction *> entries;
    for (QAction *a : frame->recentFilesMenu()->actions())
      if (a->objectName().startsWith(QLatin1String("RecentFile")) &&
          a->objectName() != QLatin1String("RecentFilesClear"))
        entries << a;
    return entries;
  }
  int pads() const {
    int n = 0;
    for (QWidget *child : frame->childWindows())
      n += qobject_cast<TJotPad *>(child) ? 1 : 0;
    return n;
  }
};

// Every value of the settings file but the recent files', as stored.
QMap<QString, QString> otherValues(const QString &file) {
  QSettings raw(file, QSettings::IniFormat);
  QMap<QString, QString> values;
  for (const QString &name : raw.allKeys())
    if (!name.startsWith(QLatin1String("recentfile")))
      values.insert(name, raw.value(name).toString());
  return values;
}

} // namespace

class RecentFilesTest : public QObject {
  Q_OBJECT
private slots:
  void listTakesAFileFirst_data();
  void listTakesAFileFirst();
  void lastEightOpenedNewestFirst();
  void preferencesStayAsTheyWere();
  void goneFileShownDisabledAndOthersOpen();
  void damagedEntriesAreLeftOut();
  void clearEmptiesTheList();
};

void RecentFilesTest::listTakesAFileFirst_data() {
  QTest::addColumn<QStringList>("before");
  QTest::addColumn<QString>("file");
  QTest::addColumn<QStringList>("after");
  const QStringList eight = {"/d/1", "/d/2", "/d/3", "/d/4", "/d/5", "/d/6", "/d/7", "/d/8"};
  QTest::newRow("empty") << QStringList() << "/d/a.txt" << QStringList{"/d/a.txt"};
  QTest::newRow("new first") << QStringList{"/d/a"} << "/d/b" << QStringList{"/d/b", "/d/a"};
  QTest::newRow("again moves up") << QStringList{"/d/a", "/d/b", "/d/c"} << "/d/c"
                                  << QStringList{"/d/c", "/d/a", "/d/b"};
  QTest::newRow("ninth drops the oldest")
      << eight << "/d/9"
      << QStringList{"/d/9", "/d/1", "/d/2", "/d/3", "/d/4", "/d/5", "/d/6", "/d/7"};
  QTest::newRow("same file by another spelling")
      << QStringList{"/d/x/a.txt", "/d/b"} << "/d/x/../x/./a.txt"
      << QStringList{"/d/x/a.txt", "/d/b"};
  QTest::newRow("relative name made absolute")
      << QStringList() << "rel.txt" << QStringList{QDir::current().filePath("rel.txt")};
}

void RecentFilesTest::listTakesAFileFirst() {
  QFETCH(QStringList, before);
  QFETCH(QString, file);
  QFETCH(QStringList, after);
  QCOMPARE(WithRecentFile(before, file), after);
}

void RecentFilesTest::lastEightOpenedNewestFirst() {
  Rig rig;
  QStringList opened;
  for (int i = 0; i < 10; ++i)
    opened << rig.write(QStringLiteral("run%1.txt").arg(i));
  rig.frame->OpenFiles(opened);
  rig.frame->OpenFile(opened[4]); // opened again: first once more
  settle();

  const QStringList expected = {opened[4], opened[9], opened[8], opened[7],
                                opened[6], opened[5], opened[3], opened[2]};
  const QList<QAction *> entries = rig.shown();
  QCOMPARE(entries.size(), 8);
  for (int i = 0; i < 8; ++i) {
    QCOMPARE(entries[i]->data().toString(), expected[i]);
    QVERIFY(entries[i]->text().startsWith(QStringLiteral("&%1 ").arg(i + 1)));
    QVERIFY(entries[i]->isEnabled());
  }
  // Kept in the store for the next start.
  QCOMPARE(ReadRecentFiles(), expected);
  rig.frame.reset();
  rig.start();
  QCOMPARE(rig.shown().size(), 8);
  QCOMPARE(rig.shown().first()->data().toString(), opened[4]);
}

void RecentFilesTest::preferencesStayAsTheyWere() {
  Rig rig;
  const QMap<QString, QString> before = otherValues(rig.settings.file());
  QVERIFY(before.contains(QStringLiteral("invmatr")));
  QVERIFY(before.contains(QStringLiteral("timesrun")));
  rig.frame->OpenFile(rig.write(QStringLiteral("a.txt")));
  rig.frame->OpenFile(rig.write(QStringLiteral("b.txt")));
  settle();
  QCOMPARE(ReadRecentFiles().size(), 2);
  QCOMPARE(otherValues(rig.settings.file()), before);
  // The next start reads the preferences without complaint.
  rig.frame.reset();
  rig.dialogs.fake.messages.clear();
  rig.start();
  QVERIFY(!rig.frame->startFailed());
  QVERIFY(rig.dialogs.fake.messages.empty());
}

void RecentFilesTest::goneFileShownDisabledAndOthersOpen() {
  Rig rig;
  const QString kept = rig.write(QStringLiteral("kept.txt"));
  const QString gone = rig.write(QStringLiteral("gone & lost.txt"));
  rig.frame->OpenFiles({kept, gone});
  settle();
  QVERIFY(QFile::remove(gone));
  const int pads = rig.pads();

  const QList<QAction *> entries = rig.shown();
  QCOMPARE(entries.size(), 2);
  QCOMPARE(entries[0]->data().toString(), gone);
  QVERIFY(!entries[0]->isEnabled());
  QVERIFY2(entries[0]->statusTip().contains(QStringLiteral("does not exist")),
           qPrintable(entries[0]->statusTip()));
  // The '&' of the name is shown, not taken as a shortcut's mark.
  QVERIFY(entries[0]->text().contains(QStringLiteral("gone && lost.txt")));
  QVERIFY(entries[1]->isEnabled());

  entries[1]->trigger();
  settle();
  QCOMPARE(rig.pads(), pads + 1);
  QCOMPARE(ReadRecentFiles().first(), kept);
}

void RecentFilesTest::damagedEntriesAreLeftOut() {
  Rig rig;
  const QString a = rig.write(QStringLiteral("a.txt"));
  rig.frame->OpenFile(a);
  settle();
  rig.frame.reset();
  {
    // An entry of another type and one that is no absolute name.
    auto key = SettingsKey::open(false);
    QVERIFY(key);
    QVERIFY(key->writeDword(QStringLiteral("recentfile2"), 7));
    QVERIFY(key->writeString(QStringLiteral("recentfile3"), QStringLiteral("relative.txt")));
    QVERIFY(key->flush());
  }
  rig.start();
  QVERIFY(!rig.frame->startFailed());
  QCOMPARE(ReadRecentFiles(), QStringList{a});
  QCOMPARE(rig.shown().size(), 1);
  // The next file opened rewrites the list without them.
  const QString b = rig.write(QStringLiteral("b.txt"));
  rig.frame->OpenFile(b);
  settle();
  auto key = SettingsKey::open(false);
  QCOMPARE(key->readString(QStringLiteral("recentfile1")), std::optional<QString>(b));
  QCOMPARE(key->readString(QStringLiteral("recentfile2")), std::optional<QString>(a));
  QCOMPARE(key->readString(QStringLiteral("recentfile3")), std::optional<QString>(QString()));
}

void RecentFilesTest::clearEmptiesTheList() {
  Rig rig;
  const auto clearAction = [&rig]() -> QAction * {
    for (QAction *a : rig.frame->recentFilesMenu()->actions())
      if (a->objectName() == QLatin1String("RecentFilesClear"))
        return a;
    return nullptr;
  };
  QVERIFY(rig.shown().isEmpty());
  QVERIFY(clearAction());
  QVERIFY(!clearAction()->isEnabled()); // nothing to clear on a first run
  rig.frame->OpenFile(rig.write(QStringLiteral("a.txt")));
  settle();
  QCOMPARE(rig.shown().size(), 1);
  QAction *clear = clearAction();
  QVERIFY(clear->isEnabled());
  clear->trigger();
  QVERIFY(ReadRecentFiles().isEmpty());
  QVERIFY(rig.shown().isEmpty());
}

QTEST_MAIN(RecentFilesTest)
#include "recentfiles_test.moc"
