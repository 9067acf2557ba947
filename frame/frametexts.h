// Sentences the windows say in more than one place, each written once.
#pragma once

#include <QString>

namespace orvalle::frametexts {

// The settings store could not be opened, or a value not written.
inline QString keyMissing() { return QStringLiteral("Vantrel Registry Key Missing"); }
inline QString subKeyMissing() { return QStringLiteral("Vantrel SubKey Registry Key Missing"); }
// The settings file could not be replaced: its name and the reason.
inline QString settingsNotWritten(const QString &file, const QString &why) {
  return QStringLiteral("The settings cannot be written to %1: %2").arg(file, why);
}
// A name that is a folder, a pipe or another thing that is not a file.
inline QString notRegularFile(const QString &name) {
  return QStringLiteral("%1 is not a regular file").arg(name);
}
// The log line of a plotter made from a text, followed by the file's name.
inline QString chartCreatedFrom() {
  return QStringLiteral("Chart Successfully Created from file - ");
}

} // namespace orvalle::frametexts
