#include "frame/aboutbox.h"

#include <QDialogButtonBox>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

#include "frame/localetext.h"
#include "frame/settingsstore.h"
#include "frame/toolicons.h"

namespace orvalle {

TAboutBox::TAboutBox(quint32 timesrun, double lastrun, const QString &user, QWidget *parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("AboutBox"));
  setWindowTitle(QStringLiteral("About"));

  auto *panel = new QFrame;
  panel->setObjectName(QStringLiteral("Panel1"));
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  auto *grid = new QGridLayout(panel);

  auto *image = new QLabel;
  image->setObjectName(QStringLiteral("Image1"));
  // Drawn for the screen's scaling, so it stays sharp at 200 %.
  const qreal scale = std::max<qreal>(1, qApp->devicePixelRatio());
  QPixmap picture = ProgramPicture(qRound(64 * scale));
  picture.setDevicePixelRatio(scale);
  image->setPixmap(picture);
  image->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  grid->addWidget(image, 0, 0, 5, 1);

  QLabel *product = addLabel("ProductName", QStringLiteral("Orvalle "));
  QFont big = product->font();
  big.setPointSizeF(big.pointSizeF() * 1.5);
  big.setBold(true);
  product->setFont(big);
  grid->addWidget(product, 0, 1, 1, 2);
  grid->addWidget(addLabel("Version", QStringLiteral("Version 1.0 Standalone")), 1, 1, 1, 2);
  grid->addWidget(
      addLabel("Copyright",
               QStringLiteral("Weighted least-squares fitting for teaching laboratories")),
      2, 1, 1, 2);
  grid->addWidget(addLabel("Comments", QStringLiteral("Every fit is judged by its chi-square")), 3,
                  1, 1, 2);
  grid->addWidget(addLabel("Credits", QStringLiteral("Halvorn")), 4, 1, 1, 2);

  grid->addWidget(addLabel("Label2", QStringLiteral("Times VTRL has been ran :")), 5, 1);
  grid->addWidget(addLabel("timesran", QString::number(timesrun)), 5, 2);
  grid->addWidget(addLabel("Label4", QStringLiteral("Last Time VTRL was ran :")), 6, 1);
  grid->addWidget(addLabel("lastrun", DateTimeText(FromStoredDateTime(lastrun))), 6, 2);
  grid->addWidget(addLabel("Label3", QStringLiteral("Current User :")), 7, 1);
  grid->addWidget(addLabel("user", user), 7, 2);
  grid->setColumnStretch(2, 1);

  auto *ok = new QPushButton(QStringLiteral("OK"));
  ok->setObjectName(QStringLiteral("OKButton"));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  auto *buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addStretch();

  auto *layout = new QVBoxLayout(this);
  layout->addWidget(panel);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize); // a fixed dialog border

  // Centred on the screen.
  adjustSize();
  if (const QScreen *screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

QLabel *TAboutBox::addLabel(const char *name, const QString &text) {
  auto *l = new QLabel(text);
  l->setObjectName(QLatin1String(name));
  return l;
}

QLabel *TAboutBox::label(const char *name) const {
  return findChild<QLabel *>(QLatin1String(name));
}

} // namespace orvalle
