// The application object and the program's one report of failures that no
// handler caught. OrvalleApplication::notify catches any exception an event
// handler raises, reports it, and lets the event loop go on: only the
// command that raised it ends.
#pragma once

#include <QApplication>

#include <functional>

namespace orvalle {

class OrvalleApplication : public QApplication {
public:
  // Also ignores SIGXFSZ (IgnoreFileSizeSignal).
  OrvalleApplication(int &argc, char **argv);
  bool notify(QObject *receiver, QEvent *event) override;
};

// Makes writes beyond the file size limit fail (EFBIG) rather than end the
// program (SIGXFSZ). The application's constructor calls it.
void IgnoreFileSizeSignal();

// Shows "what failed" in the program's error box (through the dialog seam).
// Never throws.
void ReportFailure(const QString &what) noexcept;
// The report for the exception being handled (call inside a catch block).
void ReportCurrentException() noexcept;

// The platform's default beep. Tests replace it through SetBeepHook to count
// beeps; an empty hook restores QApplication::beep(). Returns the old hook.
void Beep();
std::function<void()> SetBeepHook(std::function<void()> hook);

} // namespace orvalle
