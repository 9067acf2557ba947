#include "frame/settingsstore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <time.h>
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

bool SettingsKey::remove(QString *why) {
  const QString file = fileName();
  {
    // Drop QSettings' cached copy as well, so the next open starts empty.
    auto s = makeSettings();
    s->clear();
    s->sync();
  }
  const QByteArray path = QFile::encodeName(file);
  if (::unlink(path.constData()) == 0 || errno == ENOENT)
    return true;
  if (why)
    *why = QString::fromLocal8Bit(std::strerror(errno));
  return false;
}

SettingsKey::SettingsKey(bool) : settings_(makeSettings()) {
  // A new key is created by its first flush: an empty file left behind by a
  // failed first run would read as a damaged key.
}

SettingsKey::~SettingsKey() {
  if (dirty_)
    flush();
}

std::optional<QString> SettingsKey::raw(const QString &name, const char *prefix) const {
  const auto written = pending_.constFind(name);
  const QVariant v = written != pending_.cend() ? QVariant(*written) : settings_->value(name);
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
  pending_.insert(name, text);
  dirty_ = true;
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

namespace {

// A name of letters, digits and underscores of ASCII.
bool plainName(const QString &name) {
  if (name.isEmpty())
    return false;
  for (QChar c : name)
    if (c.unicode() >= 128 || !(c.isLetterOrNumber() || c == QLatin1Char('_')))
      return false;
  return true;
}

// value quoted, with the escapes QSettings reads back: \\ and \" for
// themselves, \xHHHH for control and non-ASCII characters (and for a hex
// digit right after one, which would otherwise join its number).
QByteArray quotedIniValue(QString value) {
  if (value.startsWith(QLatin1Char('@')))
    value.prepend(QLatin1Char('@'));
  QByteArray out = "\"";
  bool escapedlast = false;
  for (QChar c : value) {
    const char16_t u = c.unicode();
    const bool hexdigit =
        (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
    if (u < 0x20 || u >= 0x7F || (escapedlast && hexdigit)) {
      out += "\\x" + QByteArray::number(u, 16);
      escapedlast = true;
      continue;
    }
    escapedlast = false;
    if (u == '\\' || u == '"')
      out += '\\';
    out += static_cast<char>(u);
  }
  out += '"';
  return out;
}

} // namespace

QByteArray SettingsKey::iniText() const {
  // Every value the key holds is one text; the names are plain words.
  QMap<QString, QString> values;
  for (const QString &name : settings_->allKeys()) {
    const QVariant v = settings_->value(name);
    if (!name.contains(QLatin1Char('/')) && v.typeId() == QMetaType::QString)
      values.insert(name, v.toString());
  }
  for (auto it = pending_.cbegin(); it != pending_.cend(); ++it)
    values.insert(it.key(), it.value());
  QByteArray out = "[General]\n";
  for (auto it = values.cbegin(); it != values.cend(); ++it) {
    if (!plainName(it.key()))
      continue;
    out += it.key().toLatin1();
    out += '=';
    out += quotedIniValue(it.value());
    out += '\n';
  }
  return out;
}

bool replaceFile(const QString &file, const QByteArray &bytes, QString *why) {
  // QSaveFile writes beside the file's final target (through a symbolic
  // link) and gives the new file the old one's permissions. Leaving without
  // commit() discards the new file: the old one stays whole.
  QSaveFile out(file);
  errno = 0;
  const auto fail = [&] {
    const int err = errno;
    if (why)
      *why = err ? QString::fromLocal8Bit(std::strerror(err)) : out.errorString();
    out.cancelWriting();
    return false;
  };
  if (!out.open(QIODevice::WriteOnly))
    return fail();
  // commit() does not report every short write (a full disk, a file size
  // limit), so the flush and the size are checked first.
  const auto size = static_cast<qint64>(bytes.size());
  if (out.write(bytes) != size || !out.flush() || out.size() != size)
    return fail();
  if (!out.commit())
    return fail();
  return true;
}

bool SettingsKey::flush() {
  const QString file = fileName();
  writeError_.clear();
  const QByteArray text = iniText();
  QDir().mkpath(QFileInfo(file).absolutePath());
  const std::string path = QFile::encodeName(file).toStdString();
  struct stat before {};
  const bool existed = ::stat(path.c_str(), &before) == 0;
  if (!replaceFile(file, text, &writeError_))
    return false;
  dirty_ = false;
  // QSettings keeps what it read and reads the file again only when its
  // size or its time (to the millisecond) changed. File times follow a
  // coarse clock, so a quick second write could look unchanged: the new
  // file's time is made later than the old one's.
  if (existed) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const auto ms = [](const timespec &t) { return t.tv_sec * 1000LL + t.tv_nsec / 1000000; };
    long long stamp = std::max(ms(now), ms(before.st_mtim) + 1);
    const timespec times[2] = {
        {0, UTIME_OMIT},
        {static_cast<time_t>(stamp / 1000), static_cast<long>(stamp % 1000) * 1000000}};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
  }
  return true;
}

double ToStoredDateTime(const QDateTime &t) {
  const QDateTime local = t.toLocalTime();
  const double days = static_cast<double>(epoch().daysTo(local.date()));
  const double fraction = local.time().msecsSinceStartOfDay() / 86400000.0;
  return days + fraction;
}

QDateTime FromStoredDateTime(double days) {
  // Beyond about 270,000 years either way the day count is no date (and
  // would not fit the integer it is turned into).
  if (!std::isfinite(days) || std::fabs(days) > 1e8)
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
