#include "frame/mdichild.h"

#include <QMdiSubWindow>

#include "frame/application.h"

namespace orvalle {

MdiChild::MdiChild(FrameApi &frame, QWidget *parent) : QWidget(parent), frame_(frame) {}

void MdiChild::closeChild() {
  if (auto *sub = qobject_cast<QMdiSubWindow *>(parentWidget()))
    sub->close();
  else
    close();
}

bool MdiChild::event(QEvent *e) {
  auto *command_event = IsCommand(e) ? dynamic_cast<CommandEvent *>(e) : nullptr;
  if (!command_event)
    return QWidget::event(e);
  try {
    return command(*command_event);
  } catch (...) {
    // The command ends here; the window and the program go on.
    ReportCurrentException();
    return true;
  }
}

} // namespace orvalle
