#include "frame/accessiblenames.h"

#include <QAbstractButton>
#include <QBoxLayout>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLayout>
#include <QTabBar>
#include <QWidget>

namespace orvalle {

namespace {

// "&Title :" reads "Title".
QString caption(const QLabel *label) {
  QString text = label->text();
  text.remove(QLatin1Char('&'));
  text = text.trimmed();
  while (text.endsWith(QLatin1Char(':')))
    text.chop(1);
  return text.trimmed();
}

bool wantsName(const QWidget *w) {
  return w && !qobject_cast<const QLabel *>(w) && (w->focusPolicy() & Qt::TabFocus) &&
         w->accessibleName().isEmpty();
}

void nameAfter(QLabel *label, QWidget *control) {
  if (!label || !wantsName(control) || label->buddy())
    return;
  const QString name = caption(label);
  if (name.isEmpty() || label->textFormat() == Qt::RichText)
    return;
  label->setBuddy(control);
  control->setAccessibleName(name);
}

// The first widget of a layout item: the widget itself, or the first
// widget of a nested row or column.
QWidget *firstWidget(QLayoutItem *item) {
  if (!item)
    return nullptr;
  if (QWidget *w = item->widget())
    return w;
  if (QLayout *inner = item->layout())
    for (int i = 0; i < inner->count(); ++i)
      if (QWidget *w = firstWidget(inner->itemAt(i)))
        return w;
  return nullptr;
}

void nameInBox(QBoxLayout *box) {
  for (int i = 0; i + 1 < box->count(); ++i)
    nameAfter(qobject_cast<QLabel *>(box->itemAt(i)->widget()), firstWidget(box->itemAt(i + 1)));
}

void nameInGrid(QGridLayout *grid) {
  for (int i = 0; i < grid->count(); ++i) {
    auto *label = qobject_cast<QLabel *>(grid->itemAt(i)->widget());
    if (!label)
      continue;
    int row, column, rowSpan, columnSpan;
    grid->getItemPosition(i, &row, &column, &rowSpan, &columnSpan);
    // The control to the label's right, else the one below it.
    QWidget *right = firstWidget(grid->itemAtPosition(row, column + columnSpan));
    nameAfter(label,
              wantsName(right) ? right : firstWidget(grid->itemAtPosition(row + rowSpan, column)));
  }
}

} // namespace

void NameControls(QWidget *form) {
  if (!form)
    return;
  for (QLabel *label : form->findChildren<QLabel *>())
    if (QWidget *buddy = label->buddy(); wantsName(buddy) && !caption(label).isEmpty())
      buddy->setAccessibleName(caption(label));
  for (QLayout *layout : form->findChildren<QLayout *>()) {
    if (auto *box = qobject_cast<QBoxLayout *>(layout))
      nameInBox(box);
    else if (auto *grid = qobject_cast<QGridLayout *>(layout))
      nameInGrid(grid);
    else if (auto *rows = qobject_cast<QFormLayout *>(layout))
      for (int r = 0; r < rows->rowCount(); ++r)
        nameAfter(qobject_cast<QLabel *>(firstWidget(rows->itemAt(r, QFormLayout::LabelRole))),
                  firstWidget(rows->itemAt(r, QFormLayout::FieldRole)));
  }
  // A button that shows only a letter or a picture is named by its tool tip.
  for (QAbstractButton *b : form->findChildren<QAbstractButton *>())
    if (b->accessibleName().isEmpty() && b->text().remove(QLatin1Char('&')).trimmed().size() <= 1 &&
        !b->toolTip().isEmpty())
      b->setAccessibleName(b->toolTip());
  for (QTabBar *tabs : form->findChildren<QTabBar *>())
    if (tabs->accessibleName().isEmpty())
      tabs->setAccessibleName(QStringLiteral("Pages"));
}

} // namespace orvalle
