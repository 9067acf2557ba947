#include "frame/settingsstore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cctype>
#include <cmath>
#include <cstring>

#include <pwd.h>
#include <unistd.h>

namespace orvalle {

namespace {

constexpr char kDword[] = "dword:";
constexpr char kString[] = "sz:";
constexpr char kBinary[] = "binary:";

std::unique_ptr<QSettings> makeSettings() {
  return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                     QStringLiteral("Halvorn"), QStringLiteral("Vantrel"));
}

const QDate &epoch() {
  static const QDate day0(1899, 12, 30);
  return day0;
}

} // namespace

QString SettingsKey::fileName() { return makeSettings()->fileName(); }

bool SettingsKey::exists() { return QFileInfo(fileName()).isFile(); }

std::unique_ptr<SettingsKey> SettingsKey::open(bool create) {
  if (!create && !exists())
    return nullptr;
  return std::make_unique<SettingsKey>(create);
}

bool SettingsKey::remove() {
  const QString file = fileName();
  {
    // Drop QSettings' cached copy as well, so the next open starts empty.
    auto s = makeSettings();
    s->clear();
    s->sync();
  }
  return !QFileInfo::exists(file) || QFile::remove(file);
}

SettingsKey::SettingsKey(bool create) : settings_(makeSettings()) {
  if (create && !QFileInfo(settings_->fileName()).isFile()) {
    QDir().mkpath(QFileInfo(settings_->fileName()).absolutePath());
    QFile f(settings_->fileName());
    if (f.open(QIODevice::WriteOnly | QIODevice::Append))
      f.close();
    settings_->sync();
  }
}

SettingsKey::~SettingsKey() { settings_->sync(); }

std::optional<QString> SettingsKey::raw(const QString &name, const char *prefix) const {
  const QVariant v = settings_->value(name);
  // A value that QSettings reads as a list or anything but one text is of
  // another type.
  if (v.typeId() != QMetaType::QString)
    return std::nullopt;
  const QString text = v.toString();
  const QLatin1String tag(prefix);
  if (!text.startsWith(tag))
    return std::nullopt;
  return text.mid(tag.size());
}

std::optional<quint32> SettingsKey::readDword(const QString &name) const {
  const auto text = raw(name, kDword);
  if (!text || text->isEmpty() || !text->at(0).isDigit())
    return std::nullopt;
  bool ok = false;
  const qulonglong value = text->toULongLong(&ok, 10);
  if (!ok || value > 0xFFFFFFFFull)
    return std::nullopt;
  return static_cast<quint32>(value);
}

std::optional<QString> SettingsKey::readString(const QString &name) const {
  return raw(name, kString);
}

std::optional<QByteArray> SettingsKey::readBinary(const QString &name, int size) const {
  const auto text = raw(name, kBinary);
  if (!text || text->size() != 2 * size)
    return std::nullopt;
  for (QChar c : *text)
    if (!std::isxdigit(static_cast<unsigned char>(c.toLatin1())) || c.unicode() > 127)
      return std::nullopt;
  return QByteArray::fromHex(text->toLatin1());
}

std::optional<double> SettingsKey::readDouble(const QString &name) const {
  const auto bytes = readBinary(name, 8);
  if (!bytes)
    return std::nullopt;
  // Stored little-endian, as the registry keeps a double's bytes.
  unsigned char b[8];
  for (int i = 0; i < 8; ++i)
    b[i] = static_cast<unsigned char>(bytes->at(i));
  quint64 bits = 0;
  for (int i = 7; i >= 0; --i)
    bits = (bits << 8) | b[i];
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

bool SettingsKey::put(const QString &name, const QString &text) {
  if (!settings_->isWritable())
    return false;
  settings_->setValue(name, text);
  return true;
}

bool SettingsKey::writeDword(const QString &name, quint32 value) {
  return put(name, QLatin1String(kDword) + QString::number(value));
}

bool SettingsKey::writeString(const QString &name, const QString &value) {
  return put(name, QLatin1String(kString) + value);
}

bool SettingsKey::writeBinary(const QString &name, const QByteArray &value) {
  return put(name, QLatin1String(kBinary) + QString::fromLatin1(value.toHex()));
}

bool SettingsKey::writeDouble(const QString &name, double value) {
  quint64 bits;
  std::memcpy(&bits, &value, sizeof bits);
  QByteArray bytes(8, '\0');
  for (int i = 0; i < 8; ++i)
    bytes[i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
  return writeBinary(name, bytes);
}

bool SettingsKey::flush() {
  settings_->sync();
  return settings_->status() == QSettings::NoError;
}

double ToStoredDateTime(const QDateTime &t) {
  const QDateTime local = t.toLocalTime();
  const double days = static_cast<double>(epoch().daysTo(local.date()));
  const double fraction = local.time().msecsSinceStartOfDay() / 86400000.0;
  return days + fraction;
}

QDateTime FromStoredDateTime(double days) {
  if (!std::isfinite(days))
    days = 0;
  // Before day 0 the whole part counts the days back and the fraction is
  // still the time of day.
  const double whole = std::trunc(days);
  double fraction = std::fabs(days - whole);
  qint64 ms = std::llround(fraction * 86400000.0);
  if (ms >= 86400000)
    ms = 86400000 - 1;
  const QDate date = epoch().addDays(static_cast<qint64>(whole));
  return QDateTime(date, QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms)));
}

QString PlatformUserName() {
  if (const passwd *pw = getpwuid(getuid())) {
    QString gecos = QString::fromLocal8Bit(pw->pw_gecos ? pw->pw_gecos : "");
    gecos = gecos.section(QLatin1Char(','), 0, 0).trimmed();
    if (!gecos.isEmpty())
      return gecos;
    if (pw->pw_name && *pw->pw_name)
      return QString::fromLocal8Bit(pw->pw_name);
  }
  return QString::fromLocal8Bit(qgetenv("USER"));
}

QString DocumentsFolder() {
  return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

} // namespace orvalle
