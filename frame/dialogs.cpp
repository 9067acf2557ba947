#include "frame/dialogs.h"

#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QRegularExpression>

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
    const std::unique_ptr<QFileDialog> dialog = MakeSaveDialog(parent, title, file, filter);
    if (dialog->exec() != QDialog::Accepted)
      return QString();
    if (selectedFilter)
      *selectedFilter = dialog->selectedNameFilter();
    const QStringList files = dialog->selectedFiles();
    return files.isEmpty() ? QString() : files.first();
  }

  Answer question(QWidget *parent, const QString &title, const QString &text,
                  bool withCancel) override {
    const std::unique_ptr<QMessageBox> box = MakeQuestionBox(parent, title, text, withCancel);
    switch (box->exec()) {
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

QString FilterSuffix(const QString &filter) {
  static const QRegularExpression pattern(QStringLiteral("\\*\\.([A-Za-z0-9_]+)"));
  const QRegularExpressionMatch m = pattern.match(filter);
  return m.hasMatch() ? m.captured(1) : QString();
}

std::unique_ptr<QFileDialog> MakeSaveDialog(QWidget *parent, const QString &title,
                                            const QString &file, const QString &filter) {
  auto dialog = std::make_unique<QFileDialog>(parent, title, QString(), filter);
  dialog->setOption(QFileDialog::DontUseNativeDialog);
  dialog->setAcceptMode(QFileDialog::AcceptSave);
  dialog->setFileMode(QFileDialog::AnyFile);
  if (!file.isEmpty()) {
    const QFileInfo info(file);
    if (info.isDir()) {
      dialog->setDirectory(info.absoluteFilePath());
    } else {
      dialog->setDirectory(info.absolutePath());
      dialog->selectFile(info.fileName());
    }
  }
  // The dialog adds the default suffix to a typed name before its
  // overwrite check, so the question names the file that would be lost.
  const QString fallback = FilterSuffix(dialog->nameFilters().value(0));
  QFileDialog *d = dialog.get();
  auto follow = [d, fallback](const QString &chosen) {
    const QString suffix = FilterSuffix(chosen);
    d->setDefaultSuffix(suffix.isEmpty() ? fallback : suffix);
  };
  follow(dialog->selectedNameFilter());
  QObject::connect(d, &QFileDialog::filterSelected, d, follow);
  return dialog;
}

std::unique_ptr<QMessageBox> MakeQuestionBox(QWidget *parent, const QString &title,
                                             const QString &text, bool withCancel) {
  QMessageBox::StandardButtons buttons = QMessageBox::Yes | QMessageBox::No;
  if (withCancel)
    buttons |= QMessageBox::Cancel;
  auto box = std::make_unique<QMessageBox>(QMessageBox::Question, title, text, buttons, parent);
  const QMessageBox::StandardButton keep = withCancel ? QMessageBox::Cancel : QMessageBox::No;
  box->setDefaultButton(keep);
  box->setEscapeButton(keep);
  return box;
}

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
