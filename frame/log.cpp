#include "frame/log.h"

#include <QDateTime>
#include <QEvent>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QVBoxLayout>

#include "engine/customfit.h"
#include "engine/logchannel.h"
#include "frame/commandstate.h"
#include "frame/frameapi.h"
#include "frame/localetext.h"

namespace orvalle {

namespace {

// The log link handed to the plug-in library: its messages arrive as
// UM_LOGLINE requests, sent at once like the fit engine's.
extern "C" void postToLog(void *handle, int wparam, int lparam) {
  try {
    if (handle)
      SendCommand(static_cast<QObject *>(handle), UM_LOGLINE, wparam, lparam);
  } catch (...) {
    // Nothing may unwind into the plug-in's C frames.
  }
}

} // namespace

TLog::TLog(FrameApi &frame, QWidget *parent)
    : MdiChild(frame, parent), Book_(new QListWidget(this)) {
  setObjectName(QStringLiteral("Log"));
  setWindowTitle(QStringLiteral("Log"));
  Book_->setObjectName(QStringLiteral("Book"));
  Book_->setAccessibleName(QStringLiteral("Log"));
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(Book_);
  connect(Book_, &QListWidget::itemClicked, this, &TLog::BookClick);
  connect(Book_, &QListWidget::itemChanged, this, &TLog::BookClick);

  if (const PluginLibrary *plugin = frame.plugin(); plugin && plugin->setloghangle)
    plugin->setloghangle(static_cast<QObject *>(this), &postToLog);
  setlogwindow([this](int wparam, int lparam) { SendCommand(this, UM_LOGLINE, wparam, lparam); });
  frame.LogEvent(kLogStarted, false, QString());
}

TLog::~TLog() {
  setlogwindow(nullptr);
  if (const PluginLibrary *plugin = frame().plugin(); plugin && plugin->setloghangle)
    plugin->setloghangle(nullptr, nullptr);
}

QString TLog::LineText(int kind, const QString &text, const QDateTime &now) {
  const QString t = LongTimeText(now.time());
  const QString d = ShortDateText(now.date());
  switch (kind) {
  case kLogStarted:
    return d + QLatin1Char(' ') + t + QStringLiteral(" - Orvalle Program has started ");
  case kLogClosing:
    return d + QLatin1Char(' ') + t + QStringLiteral(" - Closing Application ");
  case kLogPadOpened:
    return t + QStringLiteral(" A ScratchPad has been opened -") + text;
  case kLogZeroYError:
    return t + QStringLiteral(" Y error points can not contain ZERO or MINIUS values");
  case kLogPadClosed:
    return t + QStringLiteral(" A ScratchPad has been cloesd -") + text;
  case kLogPlotterOpened:
    return t + QStringLiteral(" A Plotter has been opened -") + text;
  case kLogPlotterClosed:
    return t + QStringLiteral(" A Plotter has closed -") + text;
  default:
    return t + QStringLiteral(" - ") + text;
  }
}

QStringList TLog::lines() const {
  QStringList out;
  for (int i = 0; i < Book_->count(); ++i)
    out << Book_->item(i)->text();
  return out;
}

bool TLog::command(CommandEvent &e) {
  switch (e.message()) {
  case UM_LOGLINE: {
    const int kind = static_cast<int>(e.wParam);
    QString text;
    if (kind == kLogEngine) {
      text = QString::fromStdString(pendingmessage());
    } else if (kind == kLogPlugin) {
      if (const PluginLibrary *plugin = frame().plugin(); plugin && plugin->messageis)
        text = QString::fromStdString(plugin->message());
    } else if (auto *request = dynamic_cast<LogLineEvent *>(&e)) {
      text = request->text();
    }
    AppendLine(kind, text, e.lParam == 1);
    return true;
  }
  case UM_UPDATEMENUS:
    // The log has no document: every document command is off.
    DisableDocumentCommands(frame());
    return true;
  case UM_SAVE:
  case UM_CLOSEREQUEST:
    return true;
  default:
    return false;
  }
}

void TLog::AppendLine(int kind, const QString &text, bool bringForward) {
  auto *item = new QListWidgetItem(LineText(kind, text, QDateTime::currentDateTime()));
  item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
  item->setCheckState(Qt::Unchecked);
  {
    const QSignalBlocker block(Book_);
    Book_->addItem(item); // the list owns the item
  }
  Book_->scrollToBottom();
  if (bringForward)
    BringForward();
}

void TLog::BringForward() {
  auto *sub = qobject_cast<QMdiSubWindow *>(parentWidget());
  if (!sub) {
    show();
    raise();
    return;
  }
  if (sub->isMinimized())
    sub->showNormal();
  sub->show();
  sub->raise();
  if (QMdiArea *area = sub->mdiArea())
    area->setActiveSubWindow(sub);
}

bool TLog::event(QEvent *e) {
  if (e->type() == QEvent::ParentChange && parentWidget())
    parentWidget()->installEventFilter(this);
  if (e->type() == QEvent::Close) {
    e->ignore();
    return true;
  }
  return MdiChild::event(e);
}

bool TLog::eventFilter(QObject *watched, QEvent *e) {
  if (watched == parentWidget() && e->type() == QEvent::Close) {
    e->ignore();
    return true;
  }
  return MdiChild::eventFilter(watched, e);
}

void TLog::BookClick(QListWidgetItem *) {
  // Ticking a line has no effect.
}

} // namespace orvalle
