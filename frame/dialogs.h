// The one seam through which every dialog and question of the program goes.
// The program installs QtDialogs; tests install an implementation that
// answers without showing anything.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>

class QFileDialog;
class QMessageBox;
class QPrinter;
class QWidget;
class QFont;

namespace orvalle {

class Dialogs {
public:
  enum class Answer { Yes, No, Cancel, Ok };

  virtual ~Dialogs() = default;

  // Returns the chosen file, or an empty string on Cancel. selectedFilter
  // (may be null) receives the filter the user chose.
  virtual QString openFile(QWidget *parent, const QString &title, const QString &dir,
                           const QString &filter) = 0;
  virtual QString saveFile(QWidget *parent, const QString &title, const QString &file,
                           const QString &filter, QString *selectedFilter) = 0;
  // A question with the given buttons (Yes/No, Yes/No/Cancel, ...).
  virtual Answer question(QWidget *parent, const QString &title, const QString &text,
                          bool withCancel) = 0;
  // A plain message box (information or error).
  virtual void message(QWidget *parent, const QString &title, const QString &text) = 0;
  // The print dialog: true when the user accepted.
  virtual bool print(QWidget *parent, QPrinter *printer) = 0;
  virtual bool pageSetup(QWidget *parent, QPrinter *printer) = 0;
  // The font dialog: true when a font was chosen (font is updated).
  virtual bool font(QWidget *parent, QFont &font) = 0;
  // Runs a modal dialog: returns true for accepted.
  virtual bool exec(QWidget *dialog) = 0;

  // The program-wide seam. Never null: QtDialogs until a test replaces it.
  static Dialogs &get();
  // Installs d (not owned) and returns the previous one; nullptr restores QtDialogs.
  static Dialogs *install(Dialogs *d);
};

// The extension a filter such as "Gnu Plot File (*.gnu)" stands for ("gnu");
// empty for a filter of any extension ("All Files (*.*)").
QString FilterSuffix(const QString &filter);

// The save dialog the program shows: a name typed without an extension
// receives that of the selected filter (of the first filter when the
// selected one allows any), before the dialog asks whether to overwrite an
// existing file. filter lists the filters separated by ";;".
std::unique_ptr<QFileDialog> MakeSaveDialog(QWidget *parent, const QString &title,
                                            const QString &file, const QString &filter);

// The question the program asks before something that would lose work
// (Yes goes ahead): its default and Escape button is the one that keeps
// the work, No (Cancel when offered).
std::unique_ptr<QMessageBox> MakeQuestionBox(QWidget *parent, const QString &title,
                                             const QString &text, bool withCancel);

} // namespace orvalle
