// The numbered command messages that flow from the frame to its children.
// Each is a QEvent whose type is the message number and which carries
// wParam and lParam.
#pragma once

#include <QCoreApplication>
#include <QEvent>

namespace orvalle {

// The command messages by number.
enum CommandMessage : int {
  UM_SAVE = 1225,
  UM_RESERVED = 1226, // sent by nothing; a plotter consumes it and does nothing
  UM_SAVEAS = 1227,
  UM_PROCESS = 1228,
  UM_CUT = 1229,
  UM_COPY = 1230,
  UM_PASTE = 1231,
  UM_UNDO = 1232,
  UM_SELECTALL = 1233,
  UM_UPDATEMENUS = 1234,
  UM_WORDWRAP = 1235,
  UM_DATAREADY = 1265,
  UM_EXPORT = 1325,
  UM_LOGLINE = 1325, // the log is the only child that reads 1325 as a log line
  UM_OUTPUT = 1344,
  UM_CLOSEREQUEST = 1423,
  UM_UPDATEALL = 1425,
  // Sent by nothing in the program (the titles window uses UM_UPDATEALL): a
  // plotter applies its titles (wParam kLabsTitles) or toggles its bottom
  // or left grid lines (kLabsXGrid, kLabsYGrid), then redraws.
  UM_TITLESANDGRID = 1426,
  UM_DISABLEALL = 1485,
};

static_assert(UM_SAVE > static_cast<int>(QEvent::User), "message numbers lie in Qt's user range");

// The codes of UM_OUTPUT, which the frame sends alike in wParam and lParam:
// what the active plotter prints, copies to the clipboard or redraws. The
// two "As Metafile" items of each chart (12 and 13, 22 and 23) both put the
// chart's bitmap and an SVG drawing of it on the clipboard: the desktop has
// no metafiles.
enum OutputCode : int {
  kOutputPrint = 0,
  kOutputMainBitmap = 11,
  kOutputMainVector = 12,         // "As Metafile (WMF)"
  kOutputMainVectorEnhanced = 13, // "As Metafile (EMF)"
  kOutputDevBitmap = 21,
  kOutputDevVector = 22,         // "As Metafile (WMF)"
  kOutputDevVectorEnhanced = 23, // "As Metafile (EMF)"
  kOutputInformation = 30,
  kOutputReplot = 102, // redraw with the ranges as they are
};

class CommandEvent : public QEvent {
public:
  CommandEvent(int message, long long wparam = 0, long long lparam = 0)
      : QEvent(static_cast<QEvent::Type>(message)), wParam(wparam), lParam(lparam) {}
  int message() const { return static_cast<int>(type()); }
  long long wParam;
  long long lParam;
};

// Posted: runs after the current handler returns.
inline void PostCommand(QObject *to, int message, long long wparam = 0, long long lparam = 0) {
  QCoreApplication::postEvent(to, new CommandEvent(message, wparam, lparam)); // Qt takes ownership
}

// Sent: runs before the sender continues. Returns whether it was accepted.
inline bool SendCommand(QObject *to, int message, long long wparam = 0, long long lparam = 0) {
  CommandEvent e(message, wparam, lparam);
  return QCoreApplication::sendEvent(to, &e);
}

inline bool IsCommand(const QEvent *e) {
  const int t = static_cast<int>(e->type());
  return t >= UM_SAVE && t <= UM_DISABLEALL;
}

} // namespace orvalle
