// Base of every child window of the frame (scratch pad, plotter, log,
// teaching pages). The frame posts or sends numbered command messages to the
// active child's widget; MdiChild turns them into calls of command(), and
// reports an exception that a command raises through the application's one
// error report, ending only that command.
//
// A child lives in a QMdiSubWindow with WA_DeleteOnClose; closeChild()
// closes that sub-window, so the child is released after the current event.
#pragma once

#include <QWidget>

#include "frame/messages.h"

namespace orvalle {

class FrameApi;

class MdiChild : public QWidget {
  Q_OBJECT
public:
  MdiChild(FrameApi &frame, QWidget *parent = nullptr);

  FrameApi &frame() const { return frame_; }
  // Closes the sub-window this child lives in (or the widget itself).
  void closeChild();

protected:
  // Handles one command message. Returns false for a message this kind of
  // child does not handle.
  virtual bool command(CommandEvent &e) = 0;
  bool event(QEvent *e) override;

private:
  FrameApi &frame_;
};

} // namespace orvalle
