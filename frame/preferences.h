// The Preferences dialog: initial folder, linear solver, sample fits and the
// notification-area icon.
#pragma once

#include <QDialog>

class QCheckBox;
class QDialogButtonBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QGroupBox;

namespace orvalle {

class TMainForm;

class TPreferences : public QDialog {
  Q_OBJECT
public:
  TPreferences(TMainForm &frame, QWidget *parent = nullptr);

  QCheckBox *SetOpenDir() const { return SetOpenDir_; }
  QLineEdit *dir() const { return dir_; }
  QGroupBox *solutionvia() const { return solutionvia_; }
  QRadioButton *cramer() const { return cramer_; }
  QRadioButton *gauss() const { return gauss_; }
  QCheckBox *CBsamples() const { return CBsamples_; }
  QCheckBox *CBTrayIcon() const { return CBTrayIcon_; }
  QPushButton *OK() const { return OK_; }
  QPushButton *Cancel() const { return Cancel_; }

  void SetOpenDirClick();
  // Applies the choices (the OK button runs it, then the dialog closes).
  void OKClick();

private:
  TMainForm &frame_;
  QCheckBox *SetOpenDir_;
  QLineEdit *dir_;
  QGroupBox *solutionvia_;
  QRadioButton *cramer_;
  QRadioButton *gauss_;
  QCheckBox *CBsamples_;
  QCheckBox *CBTrayIcon_;
  QPushButton *OK_;
  QPushButton *Cancel_;
};

} // namespace orvalle
