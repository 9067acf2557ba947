// Long work on the window thread (loading a large file into a pad,
// converting it): after about half a second the frame's status line shows a
// progress bar and the cursor turns busy, and the windows are repainted at
// each step, so the program never stands as a frozen white window. User
// input waits until the work is done.
#pragma once

#include <QElapsedTimer>
#include <QString>

namespace orvalle {

class FrameApi;

class LongWork {
public:
  LongWork(FrameApi &frame, QString text);
  ~LongWork();
  LongWork(const LongWork &) = delete;
  LongWork &operator=(const LongWork &) = delete;

  // The share done so far, from 0 to 1.
  void step(double done);
  bool shown() const { return shown_; }

  // Work shorter than this shows nothing.
  static constexpr int kShowAfterMs = 500;

private:
  FrameApi &frame_;
  QString text_;
  QElapsedTimer since_;
  qint64 lastRepaint_ = 0;
  bool shown_ = false;
};

} // namespace orvalle
