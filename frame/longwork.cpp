#include "frame/longwork.h"

#include <QApplication>
#include <QCursor>

#include <algorithm>

#include "frame/frameapi.h"

namespace orvalle {

LongWork::LongWork(FrameApi &frame, QString text) : frame_(frame), text_(std::move(text)) {
  since_.start();
}

LongWork::~LongWork() {
  if (!shown_)
    return;
  frame_.endProgress();
  QApplication::restoreOverrideCursor();
}

void LongWork::step(double done) {
  const qint64 now = since_.elapsed();
  if (now < kShowAfterMs)
    return;
  if (!shown_) {
    shown_ = true;
    QApplication::setOverrideCursor(Qt::BusyCursor);
  } else if (now - lastRepaint_ < 100) {
    return;
  }
  lastRepaint_ = now;
  frame_.showProgress(text_, static_cast<int>(std::clamp(done, 0.0, 1.0) * 100));
  // Paint and timers only: a click or a key waits for the work to end.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

} // namespace orvalle
