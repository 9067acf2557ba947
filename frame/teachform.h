// The teaching-pages window: the course's local web pages inside the frame.
#pragma once

#include <QPointer>
#include <QUrl>

#include "frame/mdichild.h"

class QTextBrowser;

namespace orvalle {

class TTeachForm : public MdiChild {
  Q_OBJECT
public:
  // frameWindow receives UM_DISABLEALL while this window is active.
  TTeachForm(FrameApi &frame, QObject *frameWindow, QWidget *parent = nullptr);

  void Navigate(const QUrl &page);
  // Says where the pages were looked for when the folder is missing.
  void ShowMissing(const QString &folder);
  QTextBrowser *WebBrowser() const { return WebBrowser_; }

protected:
  bool command(CommandEvent &e) override;

private:
  QPointer<QObject> frameWindow_;
  QTextBrowser *WebBrowser_;
};

} // namespace orvalle
