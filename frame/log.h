// The log window: one time-stamped line per event or error of the run.
#pragma once

#include <QString>

#include "frame/mdichild.h"

class QListWidget;
class QListWidgetItem;

namespace orvalle {

struct PluginLibrary;

// A log-line request from LogEvent: UM_LOGLINE with the kind code in wParam,
// the error flag in lParam, and the request's own text, so that every line
// shows the text handed over with it however many requests are waiting.
class LogLineEvent : public CommandEvent {
public:
  LogLineEvent(int kind, bool error, QString text)
      : CommandEvent(UM_LOGLINE, kind, error ? 1 : 0), text_(std::move(text)) {}
  const QString &text() const { return text_; }

private:
  QString text_;
};

class TLog : public MdiChild {
  Q_OBJECT
public:
  // Registers with the plug-in library (when one is bound) and with the fit
  // engine's log channel, and asks the frame for the start line.
  explicit TLog(FrameApi &frame, QWidget *parent = nullptr);
  ~TLog() override;

  // The line a request of this kind makes, at time `now`.
  static QString LineText(int kind, const QString &text, const QDateTime &now);

  QListWidget *Book() const { return Book_; }
  QStringList lines() const;

protected:
  bool command(CommandEvent &e) override;
  // Every close of the log is refused, its sub-window's included.
  bool event(QEvent *e) override;
  bool eventFilter(QObject *watched, QEvent *e) override;

private:
  void BookClick(QListWidgetItem *item);
  void AppendLine(int kind, const QString &text, bool bringForward);
  void BringForward();

  QListWidget *Book_;
};

} // namespace orvalle
