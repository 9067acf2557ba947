#include "plotter/controls.h"

#include <QColorDialog>
#include <QLocale>
#include <QPainter>
#include <QPixmap>
#include <QRadioButton>
#include <QStylePainter>
#include <QTimer>
#include <QVBoxLayout>

#include "engine/numeric.h"
#include "frame/dialogs.h"

namespace orvalle {

NameBox::NameBox(QWidget *parent) : QComboBox(parent) {
  // The list shows whole names; the box takes what the layout gives it.
  setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  setMinimumContentsLength(12);
  TipWholeText(this);
}

void NameBox::paintEvent(QPaintEvent *) {
  QStylePainter painter(this);
  painter.setPen(palette().color(QPalette::Text));
  QStyleOptionComboBox option;
  initStyleOption(&option);
  painter.drawComplexControl(QStyle::CC_ComboBox, option);
  const QRect field =
      style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
  option.currentText = fontMetrics().elidedText(option.currentText, Qt::ElideMiddle, field.width());
  painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

void TipWholeText(QComboBox *box) {
  QObject::connect(box, &QComboBox::currentTextChanged, box,
                   [box](const QString &text) { box->setToolTip(text); });
  box->setToolTip(box->currentText());
}

char ShownSeparator() {
  const QString point = QLocale().decimalPoint();
  if (point.size() == 1 && point.at(0).unicode() < 128)
    return point.at(0).toLatin1();
  return '.';
}

RadioGroup::RadioGroup(const QString &caption, const QStringList &items, QWidget *parent)
    : QGroupBox(caption, parent), layout_(new QVBoxLayout(this)) {
  layout_->setAlignment(Qt::AlignTop);
  connect(&group_, &QButtonGroup::idToggled, this, [this](int id, bool on) {
    if (!on)
      return;
    toggledNow_ = id;
    QTimer::singleShot(0, this, [this] { toggledNow_ = -1; });
    emit clicked(id);
  });
  connect(&group_, &QButtonGroup::idClicked, this, [this](int id) {
    if (id == toggledNow_) {
      toggledNow_ = -1; // reported when it was toggled
      return;
    }
    emit clicked(id);
  });
  for (const QString &t : items)
    addItem(t);
  if (!buttons_.empty())
    buttons_.front()->setChecked(true);
}

void RadioGroup::addItem(const QString &text) {
  auto *b = new QRadioButton(text, this); // owned by the group box
  group_.addButton(b, count());
  layout_->addWidget(b);
  buttons_.push_back(b);
}

QString RadioGroup::itemText(int i) const {
  return i >= 0 && i < count() ? buttons_[static_cast<std::size_t>(i)]->text() : QString();
}

int RadioGroup::itemIndex() const { return group_.checkedId(); }

void RadioGroup::setItemIndex(int i) {
  if (i >= 0 && i < count())
    buttons_[static_cast<std::size_t>(i)]->setChecked(true);
}

// ---------------------------------------------------------------------------

namespace {

struct named {
  const char *name;
  QRgb rgb;
};

// The standard colours with their names.
constexpr named kStandard[] = {
    {"Black", 0x000000},  {"Maroon", 0x800000},  {"Green", 0x008000}, {"Olive", 0x808000},
    {"Navy", 0x000080},   {"Purple", 0x800080},  {"Teal", 0x008080},  {"Gray", 0x808080},
    {"Silver", 0xC0C0C0}, {"Red", 0xFF0000},     {"Lime", 0x00FF00},  {"Yellow", 0xFFFF00},
    {"Blue", 0x0000FF},   {"Fuchsia", 0xFF00FF}, {"Aqua", 0x00FFFF},  {"White", 0xFFFFFF},
};

QIcon swatch(const QColor &c) {
  QPixmap p(16, 12);
  p.fill(c);
  QPainter painter(&p);
  painter.setPen(Qt::black);
  painter.drawRect(0, 0, 15, 11);
  return QIcon(p);
}

} // namespace

ColourBox::ColourBox(QWidget *parent) : QComboBox(parent) {
  for (const named &n : kStandard) {
    const QColor c = QColor::fromRgb(n.rgb);
    addItem(swatch(c), QString::fromLatin1(n.name), c);
  }
  customIndex_ = count();
  addItem(swatch(Qt::white), tr("Custom..."), QColor(Qt::white));
  setCurrentIndex(0);
  connect(this, &QComboBox::activated, this, &ColourBox::onActivated);
}

QColor ColourBox::selected() const { return currentData().value<QColor>(); }

void ColourBox::setSelected(const QColor &c) {
  for (int i = 0; i < customIndex_; ++i)
    if (itemData(i).value<QColor>().rgb() == c.rgb()) {
      setCurrentIndex(i);
      return;
    }
  setCustom(c);
  setCurrentIndex(customIndex_);
}

void ColourBox::setCustom(const QColor &c) {
  setItemData(customIndex_, c);
  setItemIcon(customIndex_, swatch(c));
  setItemText(customIndex_, tr("Custom (%1, %2, %3)").arg(c.red()).arg(c.green()).arg(c.blue()));
}

void ColourBox::onActivated(int index) {
  if (index == customIndex_) {
    QColorDialog dialog(itemData(index).value<QColor>(), this);
    if (!Dialogs::get().exec(&dialog))
      return; // the entry keeps the colour it had
    setCustom(dialog.selectedColor());
  }
  emit colourChosen();
}

// ---------------------------------------------------------------------------

int OfferedRowsModel::rowCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : std::min(offered_, allRows());
}

QVariant OfferedRowsModel::data(const QModelIndex &index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid())
    return {};
  return cellText(index.column(), index.row() + 1);
}

QVariant OfferedRowsModel::headerData(int section, Qt::Orientation o, int role) const {
  if (role != Qt::DisplayRole)
    return {};
  if (o == Qt::Horizontal)
    return cellText(section, 0);
  return section + 1;
}

bool OfferedRowsModel::canFetchMore(const QModelIndex &parent) const {
  return !parent.isValid() && offered_ < allRows();
}

void OfferedRowsModel::fetchMore(const QModelIndex &parent) {
  if (!canFetchMore(parent))
    return;
  const int more = std::min(kShownRows, allRows() - offered_);
  beginInsertRows(QModelIndex(), offered_, offered_ + more - 1);
  offered_ += more;
  endInsertRows();
}

// ---------------------------------------------------------------------------

void GridModel::setGrid(numericgrid grid) {
  beginResetModel();
  grid_ = std::move(grid);
  offerFirstRows();
  header_.clear();
  for (int c = 0; c < grid_.colcount(); ++c)
    header_.append(QString());
  endResetModel();
}

void GridModel::setHeader(int c, const QString &name) {
  while (header_.size() <= c)
    header_.append(QString());
  header_[c] = name;
  emit headerDataChanged(Qt::Horizontal, c, c);
}

QString GridModel::cellText(int c, int r) const {
  if (r == 0)
    return c < header_.size() ? header_[c] : QString();
  if (c < 0 || c >= grid_.colcount() || r < 0 || r >= grid_.rowcount())
    return QString();
  QString text = QString::fromStdString(grid_.text(c, r));
  const char separator = ShownSeparator();
  if (separator != '.')
    text.replace(QLatin1Char('.'), QLatin1Char(separator));
  return text;
}

int GridModel::columnCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : grid_.colcount();
}

// ---------------------------------------------------------------------------

void DatasetTableModel::show(const dataset &d) {
  beginResetModel();
  x_ = d.x;
  y_ = d.y;
  e_ = d.yerr;
  rows_ = x_ ? x_->n : 0;
  offerFirstRows();
  shown_ = true;
  endResetModel();
}

QString DatasetTableModel::cellText(int c, int r) const {
  if (!shown_)
    return QString();
  if (r == 0) {
    static const char *const names[] = {"x", "y", "erry"};
    return c >= 0 && c < 3 ? QString::fromLatin1(names[c]) : QString();
  }
  const rowref &v = c == 0 ? x_ : c == 1 ? y_ : e_;
  const int k = r - 1;
  if (c < 0 || c > 2 || !v || k < 0 || k >= v->n)
    return QString();
  return QString::fromStdString(generaltext((*v)[k], 15, ShownSeparator()));
}

int DatasetTableModel::columnCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : 3;
}

} // namespace orvalle
