// The pictures of the tool bar, the notification-area icon and the About box,
// drawn in code so the program needs no image files.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace orvalle {

// A tool-bar picture by name: new, open, save, cut, copy, paste, process,
// replot, export, axis, titles, print, help, about, exit.
QIcon ToolIcon(const QString &name);
// The program's own picture: points with error bars and a fitted line.
QPixmap ProgramPicture(int size);
QIcon ProgramIcon();

} // namespace orvalle
