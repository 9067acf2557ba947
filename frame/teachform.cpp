#include "frame/teachform.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace orvalle {

TTeachForm::TTeachForm(FrameApi &frame, QObject *frameWindow, QWidget *parent)
    : MdiChild(frame, parent), frameWindow_(frameWindow), WebBrowser_(new QTextBrowser(this)) {
  setObjectName(QStringLiteral("TeachForm"));
  setWindowTitle(QStringLiteral("Teaching Pages"));
  WebBrowser_->setObjectName(QStringLiteral("WebBrowser"));
  WebBrowser_->setAccessibleName(QStringLiteral("Teaching Pages"));
  // Local pages open here; links to other schemes (http, mailto, ...) open
  // in the desktop's browser.
  WebBrowser_->setOpenLinks(false);
  connect(WebBrowser_, &QTextBrowser::anchorClicked, this, [this](const QUrl &url) {
    const QUrl target = WebBrowser_->source().resolved(url);
    if (target.isLocalFile() || target.scheme().isEmpty())
      WebBrowser_->setSource(target);
    else
      QDesktopServices::openUrl(target);
  });
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(WebBrowser_);
  resize(640, 480);
}

void TTeachForm::Navigate(const QUrl &page) {
  if (page.isLocalFile() && !QFileInfo(page.toLocalFile()).isFile()) {
    WebBrowser_->setHtml(QStringLiteral("<h2>Teaching Pages</h2><p>The page <b>%1</b> was not "
                                        "found.</p>")
                             .arg(page.toLocalFile().toHtmlEscaped()));
    return;
  }
  WebBrowser_->setSource(page);
}

void TTeachForm::ShowMissing(const QString &folder) {
  WebBrowser_->setHtml(
      QStringLiteral("<h2>Teaching Pages</h2><p>The teaching pages were not found. They are "
                     "looked for in <b>%1/lessonbase/index.htm</b>.</p><p>Ask the laboratory staff "
                     "where the course pages are kept; the folder can be named in the environment "
                     "variable ORVALLE_LESSONBASE.</p>")
          .arg(folder.toHtmlEscaped()));
}

bool TTeachForm::command(CommandEvent &e) {
  switch (e.message()) {
  case UM_UPDATEMENUS:
    if (frameWindow_)
      PostCommand(frameWindow_, UM_DISABLEALL);
    return true;
  case UM_CLOSEREQUEST:
    closeChild();
    return true;
  default:
    return false;
  }
}

} // namespace orvalle
