// The File menu's list of the last files opened, newest first. It is kept
// in the settings key beside the preferences, as the strings "recentfile1"
// (the newest) to "recentfile8"; no other value of the key is touched. A
// value of another type, or a name that is not an absolute path, is left
// out of the list and dropped at the next write.
#pragma once

#include <QString>
#include <QStringList>

namespace orvalle {

constexpr int kRecentFilesMax = 8;

// The list as stored; empty when the key does not exist.
QStringList ReadRecentFiles();

// `list` with `file` put first: an older entry of the same file goes, and
// so does any entry past the eighth.
QStringList WithRecentFile(QStringList list, const QString &file);

// Writes the list to the key (creating nothing: without the key it does
// nothing). False with the reason in *why when it cannot be written.
bool WriteRecentFiles(const QStringList &list, QString *why);

} // namespace orvalle
