// The settings store and Preferences: the first run's defaults, the run
// count and last run, a damaged key rebuilt, the initial folder, the solver
// and tray choices, and the About box filled from what was read.
// Covers frame/settingsstore.cpp, frame/mainform_settings.cpp,
// frame/preferences.cpp, frame/aboutbox.cpp and frame/localetext.cpp.
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "frame/aboutbox.h"
#include "frame/localetext.h"
#include "frame/log.h"
#include "frame/mainform.h"
#include "frame/preferences.h"
#include "frame/settingsstore.h"
#include "frametestkit.h"

using namespace orvalle;
using namespace orvalle::testkit;

namespace {

QSettings raw() {
  return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Halvorn"),
                   QStringLiteral("Vantrel"));
}

void setRaw(const QString &name, const QVariant &value) {
  QSettings s(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Halvorn"),
              QStringLiteral("Vantrel"));
  if (value.isValid())
    s.setValue(name, value);
  else
    s.remove(name);
  s.sync();
}

QString rawText(const QString &name) {
  QSettings s(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Halvorn"),
              QStringLiteral("Vantrel"));
  return s.value(name).toString();
}

struct Start {
  Start() { qputenv("ORVALLE_CUSTOMFIT", "/nonexistent/libcustomfit.so"); }
  std::unique_ptr<TMainForm> run() {
    auto frame = std::make_unique<TMainForm>();
    if (!frame->startFailed()) {
      frame->CreateLog();
      frame->CreateAboutBox();
    }
    return frame;
  }
};

const QString kErrorTitle = QStringLiteral("VTRL - Registry Error");
const QString kErrorText = QStringLiteral(
    "Registry Key for VTRL has missing/bad components. This may be due to an old entry from beta "
    "editions. The key will be rebuilt now. Try running the program again.");

} // namespace

class SettingsTest : public QObject {
  Q_OBJECT

private slots:
  void storedDatesCountDaysFrom1899();
  void firstRunCreatesTheDefaults();
  void secondRunCountsAndShowsTheFirst();
  void damagedKeyIsDeletedAndRebuiltNextTime_data();
  void damagedKeyIsDeletedAndRebuiltNextTime();
  void storedInitialFolder();
  void preferencesWriteCramerAndHideTheTrayIcon();
  void preferencesInitialFolder();
  void preferencesCancelChangesNothing();
  void keyDeletedWhileRunningIsLogged();
  void fullDiskKeepsTheOldFileAndSaysSo();
  void blockedFolderStartsWithTheFirstRunValues();
  void valuesWithOddCharactersReadBack();
  void rewritesKeepTheModeAndWriteThroughASymbolicLink();
  void damagedKeyInAReadOnlyFolderStartsWithTheFirstRunValues();
};

void SettingsTest::storedDatesCountDaysFrom1899() {
  const QDateTime noon(QDate(2026, 3, 7), QTime(12, 0));
  QCOMPARE(ToStoredDateTime(noon), 46088.5);
  QCOMPARE(FromStoredDateTime(46088.5), noon);
  QCOMPARE(FromStoredDateTime(0.0), QDateTime(QDate(1899, 12, 30), QTime(0, 0)));
  QCOMPARE(FromStoredDateTime(1.25), QDateTime(QDate(1899, 12, 31), QTime(6, 0)));
  // Day 0 at midnight shows the date alone.
  QCOMPARE(DateTimeText(FromStoredDateTime(0.0)), ShortDateText(QDate(1899, 12, 30)));
  QCOMPARE(DateTimeText(noon),
           ShortDateText(noon.date()) + QLatin1Char(' ') + LongTimeText(noon.time()));
}

void SettingsTest::firstRunCreatesTheDefaults() {
  SettingsFolder folder;
  DialogScope dialogs;
  QVERIFY(!QFileInfo::exists(folder.file()));
  const double before = ToStoredDateTime(QDateTime::currentDateTime());
  auto frame = Start().run();
  QVERIFY(!frame->startFailed());
  QVERIFY(QFileInfo::exists(folder.file()));
  QCOMPARE(SettingsKey::fileName(), folder.file());

  auto key = SettingsKey::open(false);
  QVERIFY(key);
  QCOMPARE(key->readDword(QStringLiteral("initdirbool")), std::optional<quint32>(0));
  QCOMPARE(key->readDword(QStringLiteral("invmatr")), std::optional<quint32>(1));
  QCOMPARE(key->readDword(QStringLiteral("trayicon")), std::optional<quint32>(0));
  QCOMPARE(key->readDword(QStringLiteral("timesrun")), std::optional<quint32>(1));
  QCOMPARE(key->readDword(QStringLiteral("isbasic")), std::optional<quint32>(0));
  QCOMPARE(key->readDword(QStringLiteral("samplefits")), std::optional<quint32>(0));
  QCOMPARE(key->readDouble(QStringLiteral("upchi")), std::optional<double>(100.0));
  QCOMPARE(key->readDouble(QStringLiteral("lowchi")), std::optional<double>(double(0.1f)));
  const double lastrun = *key->readDouble(QStringLiteral("lastrun"));
  QVERIFY(lastrun >= before && lastrun - before < 1.0 / 24);
  QVERIFY(!key->readString(QStringLiteral("initdir")));
  // The raw texts carry their types.
  QCOMPARE(rawText(QStringLiteral("invmatr")), QStringLiteral("dword:1"));
  QCOMPARE(rawText(QStringLiteral("upchi")), QStringLiteral("binary:0000000000005940"));

  QCOMPARE(frame->timesrun(), quint32(1));
  QCOMPARE(frame->lastrun(), 0.0);
  QVERIFY(frame->invmatr());
  QVERIFY(!frame->trayicon() && !frame->trayIconShown());
  QCOMPARE(frame->openDir(), DocumentsFolder());
  QCOMPARE(frame->userName(), PlatformUserName());
  QVERIFY(!frame->userName().isEmpty());

  // The About box of a first run.
  TAboutBox *about = frame->aboutBox();
  QCOMPARE(about->windowTitle(), QStringLiteral("About"));
  const auto text = [about](const char *name) { return about->label(name)->text(); };
  QCOMPARE(text("ProductName"), QStringLiteral("Orvalle "));
  QCOMPARE(text("Version"), QStringLiteral("Version 1.0 Standalone"));
  QCOMPARE(text("Label2"), QStringLiteral("Times VTRL has been ran :"));
  QCOMPARE(text("timesran"), QStringLiteral("1"));
  QCOMPARE(text("Label4"), QStringLiteral("Last Time VTRL was ran :"));
  QCOMPARE(text("lastrun"), ShortDateText(QDate(1899, 12, 30)));
  QCOMPARE(text("Label3"), QStringLiteral("Current User :"));
  QCOMPARE(text("user"), PlatformUserName());
  QVERIFY(about->findChild<QLabel *>(QStringLiteral("Image1"))->pixmap().width() > 0);
  // HelpAbout shows that same box.
  QWidget *shown = nullptr;
  dialogs.fake.onExec = [&shown](QWidget *w) {
    shown = w;
    return true;
  };
  frame->HelpAbout();
  QCOMPARE(shown, static_cast<QWidget *>(about));
}

void SettingsTest::secondRunCountsAndShowsTheFirst() {
  SettingsFolder folder;
  DialogScope dialogs;
  double firstRun = 0;
  {
    auto first = Start().run();
    firstRun = *SettingsKey::open(false)->readDouble(QStringLiteral("lastrun"));
  }
  auto second = Start().run();
  QVERIFY(!second->startFailed());
  QCOMPARE(SettingsKey::open(false)->readDword(QStringLiteral("timesrun")),
           std::optional<quint32>(2));
  QCOMPARE(second->timesrun(), quint32(1));
  QCOMPARE(second->lastrun(), firstRun);
  const double now = *SettingsKey::open(false)->readDouble(QStringLiteral("lastrun"));
  QVERIFY(now >= firstRun);
  QCOMPARE(second->aboutBox()->label("timesran")->text(), QStringLiteral("1"));
  QCOMPARE(second->aboutBox()->label("lastrun")->text(),
           DateTimeText(FromStoredDateTime(firstRun)));
  // A third start counts on.
  second.reset();
  auto third = Start().run();
  QCOMPARE(third->timesrun(), quint32(2));
  QCOMPARE(rawText(QStringLiteral("timesrun")), QStringLiteral("dword:3"));
}

void SettingsTest::damagedKeyIsDeletedAndRebuiltNextTime_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QVariant>("value"); // invalid: removed
  QTest::newRow("isbasic missing") << "isbasic" << QVariant();
  QTest::newRow("trayicon missing") << "trayicon" << QVariant();
  QTest::newRow("timesrun as a string") << "timesrun" << QVariant("sz:3");
  QTest::newRow("invmatr untyped") << "invmatr" << QVariant("1");
  QTest::newRow("invmatr too big") << "invmatr" << QVariant("dword:4294967296");
  QTest::newRow("upchi of 4 bytes") << "upchi" << QVariant("binary:0000c842");
  QTest::newRow("lowchi not hex") << "lowchi" << QVariant("binary:zz0000a09999b93f");
  QTest::newRow("lastrun as a dword") << "lastrun" << QVariant("dword:45000");
  QTest::newRow("samplefits a list") << "samplefits" << QVariant(QStringList{"dword:1", "x"});
  QTest::newRow("initdir missing while in use") << "initdirbool" << QVariant("dword:1");
  // 1e300 and NaN are no date: they must not reach the conversion to a day
  // number (a float-to-integer overflow).
  QTest::newRow("lastrun 1e300") << "lastrun" << QVariant("binary:9c7500883ce4377e");
  QTest::newRow("lastrun NaN") << "lastrun" << QVariant("binary:000000000000f87f");
}

void SettingsTest::damagedKeyIsDeletedAndRebuiltNextTime() {
  QFETCH(QString, name);
  QFETCH(QVariant, value);
  SettingsFolder folder;
  DialogScope dialogs;
  BeepCounter beeps;
  Start().run(); // a sound key
  setRaw(name, value);

  auto damaged = Start().run();
  QVERIFY(damaged->startFailed());
  QCOMPARE(beeps.count, 1);
  QCOMPARE(dialogs.fake.messages.size(), std::size_t(1));
  QCOMPARE(dialogs.fake.messages[0].title, kErrorTitle);
  QCOMPARE(dialogs.fake.messages[0].text, kErrorText);
  QVERIFY(!QFileInfo::exists(folder.file()));
  QVERIFY(!damaged->log());
  damaged.reset();

  auto next = Start().run(); // a first run again
  QVERIFY(!next->startFailed());
  QCOMPARE(next->timesrun(), quint32(1));
  QCOMPARE(next->lastrun(), 0.0);
  QCOMPARE(rawText(QStringLiteral("timesrun")), QStringLiteral("dword:1"));
  QCOMPARE(dialogs.fake.messages.size(), std::size_t(1));
}

void SettingsTest::storedInitialFolder() {
  SettingsFolder folder;
  DialogScope dialogs;
  QTemporaryDir data;
  Start().run();
  setRaw(QStringLiteral("initdirbool"), QStringLiteral("dword:1"));
  setRaw(QStringLiteral("initdir"), QStringLiteral("sz:") + data.path());
  {
    auto frame = Start().run();
    QVERIFY(frame->initdirbool());
    QCOMPARE(frame->openDir(), data.path());
  }
  // The folder has gone: the documents folder, and Preferences unticked.
  setRaw(QStringLiteral("initdir"), QStringLiteral("sz:") + data.path() + QStringLiteral("/gone"));
  auto frame = Start().run();
  QVERIFY(!frame->startFailed());
  QVERIFY(!frame->initdirbool());
  QCOMPARE(frame->openDir(), DocumentsFolder());
  TPreferences prefs(*frame);
  QVERIFY(!prefs.SetOpenDir()->isChecked());
  QVERIFY(!prefs.dir()->isEnabled());
  QCOMPARE(prefs.dir()->text(), QStringLiteral("My Documents"));
}

void SettingsTest::preferencesWriteCramerAndHideTheTrayIcon() {
  SettingsFolder folder;
  DialogScope dialogs;
  Start().run();
  setRaw(QStringLiteral("trayicon"), QStringLiteral("dword:1"));
  auto frame = Start().run();
  QVERIFY(frame->trayicon() && frame->trayIconShown());
  dialogs.fake.onExec = [](QWidget *w) {
    auto *prefs = qobject_cast<TPreferences *>(w);
    if (!prefs)
      return false;
    // As shown: Gaussian elimination, the icon ticked.
    if (!prefs->gauss()->isChecked() || !prefs->CBTrayIcon()->isChecked() ||
        prefs->windowTitle() != QLatin1String("Preferences") ||
        prefs->solutionvia()->title() != QLatin1String("Solve Linear Equations By"))
      return false;
    prefs->cramer()->setChecked(true);
    prefs->CBTrayIcon()->setChecked(false);
    prefs->CBsamples()->setChecked(true);
    prefs->OK()->click();
    return prefs->result() == QDialog::Accepted;
  };
  frame->action(QStringLiteral("Options1"))->trigger();
  QCOMPARE(rawText(QStringLiteral("invmatr")), QStringLiteral("dword:0"));
  QCOMPARE(rawText(QStringLiteral("trayicon")), QStringLiteral("dword:0"));
  QCOMPARE(rawText(QStringLiteral("samplefits")), QStringLiteral("dword:1"));
  QCOMPARE(rawText(QStringLiteral("initdirbool")), QStringLiteral("dword:0"));
  QVERIFY(!frame->invmatr());
  QVERIFY(!frame->trayIconShown()); // at once
  QVERIFY(frame->samplefits());
  settle();
  for (const QString &line : frame->log()->lines())
    QVERIFY2(!line.contains(QStringLiteral("Registry")), qPrintable(line));
  // The next start reads them back.
  frame.reset();
  auto again = Start().run();
  QVERIFY(!again->invmatr() && !again->trayIconShown() && again->samplefits());
}

void SettingsTest::preferencesInitialFolder() {
  SettingsFolder folder;
  DialogScope dialogs;
  BeepCounter beeps;
  QTemporaryDir data;
  auto frame = Start().run();
  {
    TPreferences prefs(*frame);
    prefs.SetOpenDir()->click(); // ticks it and runs SetOpenDirClick
    QVERIFY(prefs.dir()->isEnabled());
    QCOMPARE(prefs.dir()->text(), frame->openDir());
    prefs.dir()->setText(data.path());
    prefs.OKClick();
  }
  QCOMPARE(rawText(QStringLiteral("initdir")), QStringLiteral("sz:") + data.path());
  QCOMPARE(rawText(QStringLiteral("initdirbool")), QStringLiteral("dword:1"));
  QCOMPARE(frame->openDir(), data.path());
  QVERIFY(frame->initdirbool());
  QCOMPARE(beeps.count, 0);
  {
    TPreferences prefs(*frame);
    QVERIFY(prefs.SetOpenDir()->isChecked());
    QCOMPARE(prefs.dir()->text(), data.path());
    prefs.dir()->setText(data.path() + QStringLiteral("/nowhere"));
    prefs.OKClick();
  }
  settle();
  QVERIFY(frame->log()->lines().last().endsWith(
      QStringLiteral(" - Invaild Directory Entered As Default Directory")));
  QCOMPARE(beeps.count, 1);
  QCOMPARE(rawText(QStringLiteral("initdir")), QStringLiteral("sz:") + data.path());
  QCOMPARE(frame->openDir(), data.path());
}

void SettingsTest::preferencesCancelChangesNothing() {
  SettingsFolder folder;
  DialogScope dialogs;
  auto frame = Start().run();
  dialogs.fake.onExec = [](QWidget *w) {
    auto *prefs = qobject_cast<TPreferences *>(w);
    prefs->cramer()->setChecked(true);
    prefs->CBsamples()->setChecked(true);
    prefs->Cancel()->click();
    return prefs->result() == QDialog::Accepted;
  };
  frame->Options1Click();
  QVERIFY(frame->invmatr() && !frame->samplefits());
  QCOMPARE(rawText(QStringLiteral("invmatr")), QStringLiteral("dword:1"));
  QCOMPARE(rawText(QStringLiteral("samplefits")), QStringLiteral("dword:0"));
}

void SettingsTest::keyDeletedWhileRunningIsLogged() {
  SettingsFolder folder;
  DialogScope dialogs;
  BeepCounter beeps;
  auto frame = Start().run();
  QVERIFY(SettingsKey::remove());
  frame->SetInvMatr(false);
  QVERIFY(!frame->invmatr());
  settle();
  QVERIFY(frame->log()->lines().last().endsWith(QStringLiteral(" - Vantrel Registry Key Missing")));
  QCOMPARE(beeps.count, 1);
  QVERIFY(!SettingsKey::exists()); // nothing was created behind the user's back
}

namespace {

QByteArray fileBytes(const QString &path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Lowers the file size limit of this process for as long as it lives: a
// write beyond it fails with EFBIG, as a full disk fails with ENOSPC.
class FileSizeLimit {
public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old_);
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit l = old_;
    l.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &l);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, oldHandler_);
  }

private:
  rlimit old_{};
  void (*oldHandler_)(int) = nullptr;
};

} // namespace

void SettingsTest::fullDiskKeepsTheOldFileAndSaysSo() {
  SettingsFolder folder;
  DialogScope dialogs;
  BeepCounter beeps;
  Start().run(); // a sound key
  const QByteArray sound = fileBytes(folder.file());
  QVERIFY(sound.contains("timesrun"));

  std::unique_ptr<TMainForm> frame;
  {
    FileSizeLimit limit(16); // the new file cannot be written whole
    frame = Start().run();
  }
  // The program runs with the values it read; the file is as it was.
  QVERIFY(!frame->startFailed());
  QCOMPARE(frame->timesrun(), quint32(1));
  QCOMPARE(fileBytes(folder.file()), sound);
  QVERIFY(dialogs.fake.messages.empty()); // no "key will be rebuilt"
  settle();
  const QString line = frame->log()->lines().filter(QStringLiteral("cannot be written")).value(0);
  QVERIFY2(line.contains(folder.file()), qPrintable(line));
  QVERIFY(line.contains(QStringLiteral("the settings it read")));
  QCOMPARE(beeps.count, 1);
  QCOMPARE(
      QDir(folder.dir.filePath(QStringLiteral("Halvorn"))).entryList(QDir::Files | QDir::Hidden),
      QStringList{QStringLiteral("Vantrel.ini")}); // no temporary file left

  // A failed write from the Preferences is a failed write too.
  {
    FileSizeLimit limit(16);
    frame->SetInvMatr(false);
  }
  settle();
  QVERIFY(frame->log()->lines().last().contains(QStringLiteral("cannot be written")));
  QCOMPARE(fileBytes(folder.file()), sound);

  frame.reset();
  auto next = Start().run(); // the next start still finds the sound key
  QVERIFY(!next->startFailed());
  QCOMPARE(next->timesrun(), quint32(1));
  QCOMPARE(rawText(QStringLiteral("timesrun")), QStringLiteral("dword:2"));
}

void SettingsTest::blockedFolderStartsWithTheFirstRunValues() {
  SettingsFolder folder;
  DialogScope dialogs;
  // A file where the settings folder should be: nothing can be created
  // there, whoever runs the program.
  QFile blocker(folder.dir.filePath(QStringLiteral("Halvorn")));
  QVERIFY(blocker.open(QIODevice::WriteOnly));
  blocker.close();

  auto frame = Start().run();
  QVERIFY(!frame->startFailed());
  QVERIFY(dialogs.fake.messages.empty());
  QCOMPARE(frame->timesrun(), quint32(1));
  QVERIFY(frame->invmatr());
  QCOMPARE(frame->lastrun(), 0.0);
  settle();
  const QString line = frame->log()->lines().filter(QStringLiteral("cannot be written")).value(0);
  QVERIFY2(line.contains(folder.file()), qPrintable(frame->log()->lines().join('\n')));
  QVERIFY(line.contains(QStringLiteral("the first-run settings")));
  QVERIFY(QFileInfo(blocker.fileName()).isFile());
}

void SettingsTest::valuesWithOddCharactersReadBack() {
  SettingsFolder folder;
  {
    auto key = SettingsKey::open(true);
    QVERIFY(key->writeDword(QStringLiteral("timesrun"), 7));
    const QString odd = QStringLiteral("/tmp/a, b=c;d \"q\" \\ tab\there \u00e9\u4e2d\x01"
                                       "1f @x ");
    QVERIFY(key->writeString(QStringLiteral("initdir"), odd));
    QVERIFY(key->writeString(QStringLiteral("note"), QStringLiteral("@at")));
    QVERIFY(key->flush());
  }
  // Read by QSettings itself, as the file is an INI file of its kind.
  QCOMPARE(rawText(QStringLiteral("timesrun")), QStringLiteral("dword:7"));
  QCOMPARE(rawText(QStringLiteral("initdir")),
           QStringLiteral("sz:/tmp/a, b=c;d \"q\" \\ tab\there \u00e9\u4e2d\x01"
                          "1f @x "));
  QCOMPARE(rawText(QStringLiteral("note")), QStringLiteral("sz:@at"));
}

QTEST_MAIN(SettingsTest)
#include "settings_test.moc"

namespace {

mode_t modeOf(const QString &path) {
  struct stat st {};
  return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Makes a folder read-only for this process while it lives: its mode for a
// user, the immutable attribute for root (whom modes do not stop). ok() is
// false when neither takes effect.
class ReadOnlyFolder {
public:
  explicit ReadOnlyFolder(const QString &path) : path_(QFile::encodeName(path)) {
    if (::geteuid() != 0) {
      chmodded_ = ::chmod(path_.constData(), 0555) == 0;
    } else {
      fd_ = ::open(path_.constData(), O_RDONLY | O_DIRECTORY);
      int flags = 0;
      if (fd_ >= 0 && ::ioctl(fd_, FS_IOC_GETFLAGS, &flags) == 0) {
        flags |= FS_IMMUTABLE_FL;
        immutable_ = ::ioctl(fd_, FS_IOC_SETFLAGS, &flags) == 0;
      }
    }
    // Whatever was done, nothing may be created there now.
    const QByteArray probe = path_ + "/probe";
    const int f = ::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    ok_ = (chmodded_ || immutable_) && f < 0;
    if (f >= 0) {
      ::close(f);
      ::unlink(probe.constData());
    }
  }
  ~ReadOnlyFolder() {
    if (chmodded_)
      ::chmod(path_.constData(), 0755);
    if (immutable_) {
      int flags = 0;
      if (::ioctl(fd_, FS_IOC_GETFLAGS, &flags) == 0) {
        flags &= ~FS_IMMUTABLE_FL;
        ::ioctl(fd_, FS_IOC_SETFLAGS, &flags);
      }
    }
    if (fd_ >= 0)
      ::close(fd_);
  }
  ReadOnlyFolder(const ReadOnlyFolder &) = delete;
  ReadOnlyFolder &operator=(const ReadOnlyFolder &) = delete;
  bool ok() const { return ok_; }

private:
  QByteArray path_;
  int fd_ = -1;
  bool chmodded_ = false;
  bool immutable_ = false;
  bool ok_ = false;
};

} // namespace

void SettingsTest::rewritesKeepTheModeAndWriteThroughASymbolicLink() {
  SettingsFolder folder;
  DialogScope dialogs;
  Start().run(); // a sound key
  // The user keeps the real file elsewhere, readable by its owner alone,
  // and links it into place.
  QTemporaryDir elsewhere;
  const QString real = elsewhere.filePath(QStringLiteral("vantrel-settings.ini"));
  QVERIFY(QFile::copy(folder.file(), real));
  QVERIFY(QFile::remove(folder.file()));
  QCOMPARE(::chmod(QFile::encodeName(real).constData(), 0600), 0);
  QVERIFY(QFile::link(real, folder.file()));

  auto frame = Start().run(); // writes "lastrun" and "timesrun"
  QVERIFY(!frame->startFailed());
  QVERIFY(QFileInfo(folder.file()).isSymLink());
  QCOMPARE(QFileInfo(folder.file()).symLinkTarget(), real);
  QCOMPARE(modeOf(real), mode_t(0600));
  QCOMPARE(rawText(QStringLiteral("timesrun")), QStringLiteral("dword:2"));
  QVERIFY(fileBytes(real).contains("timesrun=\"dword:2\""));

  // A write from the Preferences goes the same way.
  frame->SetInvMatr(false);
  QVERIFY(QFileInfo(folder.file()).isSymLink());
  QCOMPARE(modeOf(real), mode_t(0600));
  QCOMPARE(rawText(QStringLiteral("invmatr")), QStringLiteral("dword:0"));
  QCOMPARE(QDir(folder.dir.filePath(QStringLiteral("Halvorn")))
               .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System),
           QStringList{QStringLiteral("Vantrel.ini")}); // nothing left beside it
}

void SettingsTest::damagedKeyInAReadOnlyFolderStartsWithTheFirstRunValues() {
  SettingsFolder folder;
  DialogScope dialogs;
  BeepCounter beeps;
  Start().run(); // a sound key, then damaged
  setRaw(QStringLiteral("isbasic"), QVariant());
  const QByteArray damaged = fileBytes(folder.file());
  ReadOnlyFolder readOnly(folder.dir.filePath(QStringLiteral("Halvorn")));
  if (!readOnly.ok())
    QSKIP("the settings folder cannot be made read-only here");

  // Every start alike: none ends, none changes the file.
  for (std::size_t run = 1; run <= 2; ++run) {
    auto frame = Start().run();
    QVERIFY(!frame->startFailed());
    QCOMPARE(dialogs.fake.messages.size(), run);
    QCOMPARE(dialogs.fake.messages.back().title, kErrorTitle);
    const QString text = dialogs.fake.messages.back().text;
    QVERIFY2(text.startsWith(QStringLiteral("Registry Key for VTRL has missing/bad components. "
                                            "This may be due to an old entry from beta editions. "
                                            "The key cannot be rebuilt: the settings file ") +
                             folder.file() + QStringLiteral(" cannot be removed (")),
             qPrintable(text));
    QVERIFY(text.endsWith(QStringLiteral("Orvalle starts with the first-run settings; changes to "
                                         "the preferences will not be kept.")));
    QCOMPARE(beeps.count, static_cast<int>(run));
    // The first-run values.
    QCOMPARE(frame->timesrun(), quint32(1));
    QVERIFY(frame->invmatr());
    QCOMPARE(frame->lastrun(), 0.0);
    QVERIFY(!frame->samplefits());
    QVERIFY(!frame->initdirbool());
    QCOMPARE(frame->upchi(), 100.0f);
    QCOMPARE(frame->lowchi(), 0.1f);
    settle();
    const QString line = frame->log()->lines().filter(QStringLiteral("cannot be rebuilt")).value(0);
    QVERIFY2(line.contains(folder.file()), qPrintable(frame->log()->lines().join('\n')));
    QCOMPARE(fileBytes(folder.file()), damaged);
  }
}
