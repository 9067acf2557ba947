// The per-user settings key "Software\Halvorn\Vantrel", kept as an INI file
// at the XDG config location (organisation "Halvorn", application "Vantrel").
//
// QSettings keeps no types, so every value carries its type in its text:
//   dword:<0 .. 4294967295>     a 32-bit integer
//   sz:<text>                   a string
//   binary:<2n hex digits>      n bytes of raw data
// A read names the type (and for raw data the size) it expects and fails
// when the value is missing or stored otherwise, as a registry read would.
// The key exists when its file exists; deleting the key removes the file.
//
// QSettings only reads the file. Writes are kept until flush(), which
// writes the whole key to a temporary file beside it, checks that every
// byte reached the disk and only then renames it over the old file: a full
// disk or a read-only folder leaves the old file as it was and is reported
// as a failed write.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QSettings>
#include <QString>

#include <memory>
#include <optional>

namespace orvalle {

class SettingsKey {
public:
  // Opens the key. Without create, returns null when the key does not exist.
  static std::unique_ptr<SettingsKey> open(bool create);
  static bool exists();
  // Deletes the key with all its values. True when it is gone; otherwise
  // the system's reason in *why (when given).
  static bool remove(QString *why = nullptr);
  // The file that holds the key.
  static QString fileName();

  explicit SettingsKey(bool create);
  ~SettingsKey();
  SettingsKey(const SettingsKey &) = delete;
  SettingsKey &operator=(const SettingsKey &) = delete;

  std::optional<quint32> readDword(const QString &name) const;
  std::optional<QString> readString(const QString &name) const;
  std::optional<QByteArray> readBinary(const QString &name, int size) const;
  std::optional<double> readDouble(const QString &name) const; // 8 bytes of raw data

  // Each write returns false when the key cannot be written.
  bool writeDword(const QString &name, quint32 value);
  bool writeString(const QString &name, const QString &value);
  bool writeBinary(const QString &name, const QByteArray &value);
  bool writeDouble(const QString &name, double value);

  // Writes what is pending to the file; false when that failed, with the
  // reason in writeError().
  bool flush();
  // Why the last flush failed: the system's reason ("No space left on
  // device").
  QString writeError() const { return writeError_; }

private:
  std::optional<QString> raw(const QString &name, const char *prefix) const;
  bool put(const QString &name, const QString &text);
  QByteArray iniText() const;

  std::unique_ptr<QSettings> settings_;
  QMap<QString, QString> pending_; // written values, newest first in reads
  bool dirty_ = false;
  QString writeError_;
};

// Writes bytes to file whole or not at all, as editors do: through a
// symbolic link to its target, keeping the old file's permissions. False
// with the system's reason in *why when it could not be written.
bool replaceFile(const QString &file, const QByteArray &bytes, QString *why);

// Date-times as the store keeps them: days since 30 December 1899, the time
// of day as the fraction (local time).
double ToStoredDateTime(const QDateTime &t);
QDateTime FromStoredDateTime(double days);

// The account's full name from the password database (up to the first
// comma), else the login name.
QString PlatformUserName();
// The user's documents folder.
QString DocumentsFolder();

} // namespace orvalle
