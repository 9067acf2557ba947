// The frame's settings: read or created at construction, SetInitDir,
// SetInvMatr, and the binding of the plug-in library.
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <stdexcept>

#include "engine/customfit.h"
#include "engine/pluginpath.h"
#include "frame/application.h"
#include "frame/dialogs.h"
#include "frame/frametexts.h"
#include "frame/log.h"
#include "frame/mainform.h"
#include "frame/settingsstore.h"

namespace orvalle {

namespace {

// A settings failure while the frame is being built.
struct SettingsError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

template <class T> T need(std::optional<T> value, const char *name) {
  if (!value)
    throw SettingsError(name);
  return *value;
}

void must(bool ok, const char *name) {
  if (!ok)
    throw SettingsError(name);
}

// Days of 1 January 0001 and of 1 January 10000 counted from 30 December
// 1899.
constexpr double kFirstStoredDay = -693593;
constexpr double kLastStoredDay = 2958466;

} // namespace

void TMainForm::ReadSettings() {
  if (auto key = SettingsKey::open(false)) {
    initdirbool_ = need(key->readDword(QStringLiteral("initdirbool")), "initdirbool") != 0;
    invmatr_ = need(key->readDword(QStringLiteral("invmatr")), "invmatr") != 0;
    timesrun_ = need(key->readDword(QStringLiteral("timesrun")), "timesrun");
    upchi_ = static_cast<float>(need(key->readDouble(QStringLiteral("upchi")), "upchi"));
    lowchi_ = static_cast<float>(need(key->readDouble(QStringLiteral("lowchi")), "lowchi"));
    lastrun_ = need(key->readDouble(QStringLiteral("lastrun")), "lastrun");
    // A date-time outside the years 1 to 9999 is damaged.
    if (!(lastrun_ >= kFirstStoredDay && lastrun_ < kLastStoredDay))
      throw SettingsError("lastrun");
    isbasic_ = need(key->readDword(QStringLiteral("isbasic")), "isbasic") != 0;
    samplefits_ = need(key->readDword(QStringLiteral("samplefits")), "samplefits") != 0;
    must(
        key->writeDouble(QStringLiteral("lastrun"), ToStoredDateTime(QDateTime::currentDateTime())),
        "lastrun");
    must(key->writeDword(QStringLiteral("timesrun"), timesrun_ + 1), "timesrun");
    trayicon_ = need(key->readDword(QStringLiteral("trayicon")), "trayicon") != 0;
    if (!key->flush())
      SettingsNotWritten(key->writeError(), false);
    return;
  }
  // First run: the key and its defaults.
  auto key = SettingsKey::open(true);
  must(key->writeDword(QStringLiteral("initdirbool"), 0), "initdirbool");
  initdirbool_ = false;
  must(key->writeDword(QStringLiteral("invmatr"), 1), "invmatr");
  must(key->writeDword(QStringLiteral("trayicon"), 0), "trayicon");
  invmatr_ = true;
  timesrun_ = 1;
  must(key->writeDword(QStringLiteral("timesrun"), 1), "timesrun");
  must(key->writeDouble(QStringLiteral("upchi"), 100.0), "upchi");
  must(key->writeDouble(QStringLiteral("lowchi"), static_cast<double>(0.1f)), "lowchi");
  must(key->writeDouble(QStringLiteral("lastrun"), ToStoredDateTime(QDateTime::currentDateTime())),
       "lastrun");
  must(key->writeDword(QStringLiteral("isbasic"), 0), "isbasic");
  must(key->writeDword(QStringLiteral("samplefits"), 0), "samplefits");
  lastrun_ = 0;
  trayicon_ = false;
  if (!key->flush())
    SettingsNotWritten(key->writeError(), true);
}

void TMainForm::SettingsNotWritten(const QString &why, bool firstRun) {
  // The settings could be read (or there were none) but cannot be kept: the
  // program runs with what it has and says so in the log, which shows the
  // line (with its beep) as soon as it exists. Nothing is deleted.
  LogEvent(kLogPlain, true,
           QStringLiteral("The settings cannot be written to %1: %2. Orvalle runs with %3; "
                          "changes to the preferences will not be kept.")
               .arg(SettingsKey::fileName(), why,
                    firstRun ? QStringLiteral("the first-run settings")
                             : QStringLiteral("the settings it read")));
}

void TMainForm::SettingsFailure(const QString &text) {
  // Before the log exists (while the frame is built) a failure is a damaged
  // key; afterwards it is an error entry of the log.
  if (constructing_)
    throw SettingsError(text.toStdString());
  LogEvent(kLogPlain, true, text);
}

bool TMainForm::SettingsErrorPath() {
  Beep();
  const QString damaged = QStringLiteral(
      "Registry Key for VTRL has missing/bad components. This may be due to an old entry from beta "
      "editions. ");
  QString why;
  if (SettingsKey::remove(&why)) {
    startFailed_ = true;
    menuTimer_.stop();
    Dialogs::get().message(nullptr, QStringLiteral("VTRL - Registry Error"),
                           damaged + QStringLiteral("The key will be rebuilt now. Try running the "
                                                    "program again."));
    return false;
  }
  // The file cannot be deleted (a read-only folder): telling the user to
  // run the program again would end every start the same way.
  const QString file = QDir::toNativeSeparators(SettingsKey::fileName());
  Dialogs::get().message(
      nullptr, QStringLiteral("VTRL - Registry Error"),
      damaged + QStringLiteral("The key cannot be rebuilt: the settings file %1 cannot be removed "
                               "(%2). Orvalle starts with the first-run settings; changes to the "
                               "preferences will not be kept.")
                    .arg(file, why));
  LogEvent(kLogPlain, false,
           QStringLiteral("The settings in %1 are damaged and cannot be rebuilt (%2). Orvalle "
                          "runs with the first-run settings.")
               .arg(file, why));
  return true;
}

void TMainForm::UseFirstRunValues() {
  initdirbool_ = false;
  invmatr_ = true;
  timesrun_ = 1;
  upchi_ = 100.0f;
  lowchi_ = 0.1f;
  lastrun_ = 0;
  isbasic_ = false;
  samplefits_ = false;
  trayicon_ = false;
}

void TMainForm::SetInitDir(bool enabled) {
  initdirbool_ = enabled;
  if (enabled) {
    if (auto key = SettingsKey::open(false)) {
      const auto dir = key->readString(QStringLiteral("initdir"));
      if (!dir) {
        SettingsFailure(frametexts::subKeyMissing());
        return;
      }
      openDir_ = *dir;
      if (!QFileInfo(*dir).isDir())
        initdirbool_ = false;
    } else {
      SettingsFailure(frametexts::keyMissing());
    }
  }
  if (!initdirbool_) {
    const QString documents = DocumentsFolder();
    if (!documents.isEmpty())
      openDir_ = documents;
  }
}

void TMainForm::SetInvMatr(bool value) {
  invmatr_ = value;
  if (auto key = SettingsKey::open(false)) {
    if (!key->writeDword(QStringLiteral("invmatr"), value ? 1 : 0))
      SettingsFailure(frametexts::subKeyMissing());
    else if (!key->flush())
      LogEvent(kLogPlain, true,
               frametexts::settingsNotWritten(SettingsKey::fileName(), key->writeError()));
  } else {
    SettingsFailure(frametexts::keyMissing());
  }
}

void TMainForm::BindPlugin() {
  const QByteArray environment = qgetenv("ORVALLE_CUSTOMFIT");
  const QString path = QString::fromStdString(
      pluginpath(QCoreApplication::applicationDirPath().toStdString(), environment.constData()));
  const QString no = QStringLiteral("No plug-in fit model: ");
  if (QFileInfo(path).isRelative()) {
    // Never from the current folder.
    LogEvent(kLogPlain, false, no + QStringLiteral("the path %1 is not absolute").arg(path));
    return;
  }
  if (!QFileInfo(path).isFile()) {
    // A FIFO or a device is no library (and loading one could hang).
    LogEvent(kLogPlain, false,
             no + (QFileInfo::exists(path) ? frametexts::notRegularFile(path)
                                           : QStringLiteral("%1 was not found").arg(path)));
    return;
  }
  // Its first calls are tried in a child process: a library that crashes or
  // hangs there is left out, and the program goes on without it.
  std::string trial;
  if (!tryplugin(QFile::encodeName(path).toStdString(), &trial)) {
    LogEvent(kLogPlain, false, no + QString::fromStdString(trial));
    return;
  }
  pluginFile_.setFileName(path);
  if (!pluginFile_.load()) {
    LogEvent(kLogPlain, false, no + pluginFile_.errorString());
    return;
  }
  std::string why;
  plugin_ = bindplugin(
      [this](const char *symbol) { return reinterpret_cast<void *>(pluginFile_.resolve(symbol)); },
      &why);
  if (!plugin_) {
    LogEvent(kLogPlain, false,
             no + QStringLiteral("%1: %2").arg(path, QString::fromStdString(why)));
    pluginFile_.unload();
  }
}

} // namespace orvalle
