#include "frame/preferences.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "frame/accessiblenames.h"
#include "frame/frametexts.h"
#include "frame/log.h"
#include "frame/mainform.h"
#include "frame/settingsstore.h"

namespace orvalle {

TPreferences::TPreferences(TMainForm &frame, QWidget *parent)
    : QDialog(parent), frame_(frame),
      SetOpenDir_(new QCheckBox(QStringLiteral("Set Initial Directory"))), dir_(new QLineEdit),
      solutionvia_(new QGroupBox(QStringLiteral("Solve Linear Equations By"))),
      cramer_(new QRadioButton(QStringLiteral("Cramer's Rule"))),
      gauss_(new QRadioButton(QStringLiteral("Gaussian Elimination"))),
      CBsamples_(new QCheckBox(QStringLiteral("Enable Sample Fits"))),
      CBTrayIcon_(new QCheckBox(QStringLiteral("Taskbar Icon"))),
      OK_(new QPushButton(QStringLiteral("OK"))),
      Cancel_(new QPushButton(QStringLiteral("Cancel"))) {
  setObjectName(QStringLiteral("Preferences"));
  setWindowTitle(QStringLiteral("Preferences"));
  SetOpenDir_->setObjectName(QStringLiteral("SetOpenDir"));
  dir_->setObjectName(QStringLiteral("dir"));
  dir_->setAccessibleName(QStringLiteral("Initial Directory"));
  solutionvia_->setAccessibleName(solutionvia_->title());
  solutionvia_->setObjectName(QStringLiteral("solutionvia"));
  CBsamples_->setObjectName(QStringLiteral("CBsamples"));
  CBTrayIcon_->setObjectName(QStringLiteral("CBTrayIcon"));
  OK_->setObjectName(QStringLiteral("OK"));
  Cancel_->setObjectName(QStringLiteral("Cancel"));

  auto *radios = new QVBoxLayout(solutionvia_);
  radios->addWidget(cramer_);
  radios->addWidget(gauss_);
  auto *buttons = new QDialogButtonBox;
  buttons->addButton(OK_, QDialogButtonBox::AcceptRole);
  buttons->addButton(Cancel_, QDialogButtonBox::RejectRole);
  OK_->setDefault(true);

  auto *layout = new QVBoxLayout(this);
  layout->addWidget(SetOpenDir_);
  layout->addWidget(dir_);
  layout->addWidget(solutionvia_);
  layout->addWidget(CBsamples_);
  layout->addWidget(CBTrayIcon_);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize); // a fixed dialog border
  dir_->setMinimumWidth(320);

  (frame.invmatr() ? gauss_ : cramer_)->setChecked(true);
  SetOpenDir_->setChecked(frame.initdirbool());
  CBsamples_->setChecked(frame.samplefits());
  CBTrayIcon_->setChecked(frame.trayIconShown());
  SetOpenDirClick();

  connect(SetOpenDir_, &QCheckBox::clicked, this, &TPreferences::SetOpenDirClick);
  connect(OK_, &QPushButton::clicked, this, [this] {
    OKClick();
    accept();
  });
  connect(Cancel_, &QPushButton::clicked, this, &QDialog::reject);
  NameControls(this);
}

void TPreferences::SetOpenDirClick() {
  const bool on = SetOpenDir_->isChecked();
  dir_->setEnabled(on);
  dir_->setText(on ? frame_.openDir() : QStringLiteral("My Documents"));
}

void TPreferences::OKClick() {
  auto key = SettingsKey::open(false);
  if (!key)
    frame_.LogEvent(kLogPlain, true, frametexts::keyMissing());
  const auto write = [&key](const QString &name, quint32 value) {
    return key && key->writeDword(name, value);
  };
  bool ok = true;
  if (dir_->isEnabled()) {
    const QString entered = dir_->text();
    if (QFileInfo(entered).isDir()) {
      frame_.setOpenDir(entered);
      ok = key && key->writeString(QStringLiteral("initdir"), entered) &&
           write(QStringLiteral("initdirbool"), 1);
    } else {
      frame_.LogEvent(kLogPlain, true,
                      QStringLiteral("Invaild Directory Entered As Default Directory"));
    }
  } else {
    ok = write(QStringLiteral("initdirbool"), 0);
  }
  ok = ok && write(QStringLiteral("samplefits"), CBsamples_->isChecked() ? 1 : 0) &&
       write(QStringLiteral("trayicon"), CBTrayIcon_->isChecked() ? 1 : 0);
  if (!ok) {
    frame_.LogEvent(kLogPlain, true, frametexts::subKeyMissing());
    return;
  }
  if (!key->flush()) {
    frame_.LogEvent(kLogPlain, true,
                    frametexts::settingsNotWritten(SettingsKey::fileName(), key->writeError()));
    return;
  }
  key.reset(); // written; SetInitDir reads the key afresh
  frame_.setSamplefits(CBsamples_->isChecked());
  frame_.SetInitDir(SetOpenDir_->isChecked());
  frame_.SetInvMatr(gauss_->isChecked());
  if (CBTrayIcon_->isChecked() != frame_.trayIconShown())
    frame_.setTrayIconShown(CBTrayIcon_->isChecked());
}

} // namespace orvalle
