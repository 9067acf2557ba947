#include "frame/dialogs.h"

#include <QDialog>
#include <QFileDialog>
#include <QFontDialog>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPrintDialog>

namespace orvalle {

namespace {

// The real dialogs of the desktop.
class QtDialogs final : public Dialogs {
public:
  QString openFile(QWidget *parent, const QString &title, const QString &dir,
                   const QString &filter) override {
    // The dialog itself refuses names that do not exist.
    return QFileDialog::getOpenFileName(parent, title, dir, filter, nullptr,
                                        QFileDialog::DontUseNativeDialog);
  }

  QString saveFile(QWidget *parent, const QString &title, const QString &file,
                   const QString &filter, QString *selectedFilter) override {
    return QFileDialog::getSaveFileName(parent, title, file, filter, selectedFilter,
                                        QFileDialog::DontUseNativeDialog);
  }

  Answer question(QWidget *parent, const QString &title, const QString &text,
                  bool withCancel) override {
    QMessageBox::StandardButtons buttons = QMessageBox::Yes | QMessageBox::No;
    if (withCancel)
      buttons |= QMessageBox::Cancel;
    switch (QMessageBox::question(parent, title, text, buttons)) {
    case QMessageBox::Yes:
      return Answer::Yes;
    case QMessageBox::No:
      return Answer::No;
    default:
      return withCancel ? Answer::Cancel : Answer::No;
    }
  }

  void message(QWidget *parent, const QString &title, const QString &text) override {
    QMessageBox::warning(parent, title, text, QMessageBox::Ok);
  }

  bool print(QWidget *parent, QPrinter *printer) override {
    QPrintDialog dialog(printer, parent);
    return dialog.exec() == QDialog::Accepted;
  }

  bool pageSetup(QWidget *parent, QPrinter *printer) override {
    QPageSetupDialog dialog(printer, parent);
    return dialog.exec() == QDialog::Accepted;
  }

  bool font(QWidget *parent, QFont &font) override {
    bool ok = false;
    const QFont chosen = QFontDialog::getFont(&ok, font, parent);
    if (ok)
      font = chosen;
    return ok;
  }

  bool exec(QWidget *dialog) override {
    if (auto *d = qobject_cast<QDialog *>(dialog))
      return d->exec() == QDialog::Accepted;
    return false;
  }
};

QtDialogs &qtDialogs() {
  static QtDialogs d;
  return d;
}

Dialogs *&installed() {
  static Dialogs *d = nullptr;
  return d;
}

} // namespace

Dialogs &Dialogs::get() {
  Dialogs *d = installed();
  return d ? *d : qtDialogs();
}

Dialogs *Dialogs::install(Dialogs *d) {
  Dialogs *old = installed();
  installed() = d;
  return old ? old : &qtDialogs();
}

} // namespace orvalle
