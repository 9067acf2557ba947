// The About box: the program's name and version and the run statistics read
// at start-up.
#pragma once

#include <QDialog>

class QLabel;

namespace orvalle {

class TAboutBox : public QDialog {
  Q_OBJECT
public:
  // timesrun, lastrun (days since 30 December 1899) and the user name as the
  // frame read them at start-up.
  TAboutBox(quint32 timesrun, double lastrun, const QString &user, QWidget *parent = nullptr);

  QLabel *label(const char *name) const;

private:
  QLabel *addLabel(const char *name, const QString &text);
};

} // namespace orvalle
