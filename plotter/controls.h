// Small controls of the plotter's form: a radio group, a colour box, and the
// table models behind its two grids (models over numbers, so a grid of a
// million rows holds no cell items).
#pragma once

#include <QAbstractTableModel>
#include <QButtonGroup>
#include <QColor>
#include <QComboBox>
#include <QGroupBox>
#include <QStringList>
#include <algorithm>
#include <memory>
#include <vector>

#include "datatext/conversion.h"
#include "engine/dataset.h"

class QVBoxLayout;

namespace orvalle {

// A group box of radio buttons with an item list and a selected index.
class RadioGroup : public QGroupBox {
  Q_OBJECT
public:
  RadioGroup(const QString &caption, const QStringList &items, QWidget *parent = nullptr);
  void addItem(const QString &text);
  int count() const { return static_cast<int>(buttons_.size()); }
  QString itemText(int i) const;
  int itemIndex() const;
  void setItemIndex(int i);

signals:
  // An item was chosen, however: a mouse click (also on the item already
  // chosen), the keyboard, an accessibility action or setItemIndex.
  void clicked(int index);

private:
  QButtonGroup group_;
  // The item whose toggle has just been reported, so that the click that
  // toggled it is not reported twice; cleared when control returns to the
  // event loop.
  int toggledNow_ = -1;
  QVBoxLayout *layout_;
  std::vector<QAbstractButton *> buttons_;
};

// A drop-down list of names: a name too long for the box shows elided in
// the middle, and the box's tool tip holds the whole name.
class NameBox : public QComboBox {
  Q_OBJECT
public:
  explicit NameBox(QWidget *parent = nullptr);

protected:
  void paintEvent(QPaintEvent *e) override;
};

// Keeps a combo box's tool tip equal to its whole current text.
void TipWholeText(QComboBox *box);

// A drop-down list of colours with swatches and names: the standard colours
// and, last, a custom-colour entry that asks for any colour.
class ColourBox : public QComboBox {
  Q_OBJECT
public:
  explicit ColourBox(QWidget *parent = nullptr);
  QColor selected() const;
  // Selects the colour; one that is not a standard colour becomes the custom entry.
  void setSelected(const QColor &c);

signals:
  // The user chose a colour.
  void colourChosen();

private:
  void setCustom(const QColor &c);
  void onActivated(int index);
  int customIndex_ = 0;
};

// The decimal separator of numbers shown to the user: the locale's, when
// it is one plain character ('.' otherwise). Files keep '.'.
char ShownSeparator();

// A table of numbers whose cell texts come with a header row (row 0) above
// the model's rows.
//
// A view keeps a few bytes for each row its model has, so millions of rows
// are offered to a view kShownRows rows at a time: the view asks for more
// (fetchMore) when it is scrolled to the last rows it has. What the program
// reads of the numbers never depends on it.
class OfferedRowsModel : public QAbstractTableModel {
  Q_OBJECT
public:
  using QAbstractTableModel::QAbstractTableModel;
  static constexpr int kShownRows = 1 << 20;

  // The text of cell (c, r), r = 0 for the header row.
  virtual QString cellText(int c, int r) const = 0;

  int rowCount(const QModelIndex &parent = {}) const override;
  QVariant data(const QModelIndex &index, int role) const override;
  QVariant headerData(int section, Qt::Orientation o, int role) const override;
  bool canFetchMore(const QModelIndex &parent) const override;
  void fetchMore(const QModelIndex &parent) override;

protected:
  // The model's rows in all, the header row not counted.
  virtual int allRows() const = 0;
  // Offers the first rows again, once the rows have changed.
  void offerFirstRows() { offered_ = std::min(allRows(), kShownRows); }

private:
  int offered_ = 0; // rows offered to views so far
};

// StringGrid's model: the converted number grid. Row 0 of the grid is the
// header row (the column names); rows 1.. are the model's rows 0...
class GridModel : public OfferedRowsModel {
  Q_OBJECT
public:
  using OfferedRowsModel::OfferedRowsModel;
  void setGrid(numericgrid grid);
  const numericgrid &grid() const { return grid_; }
  // Column c's values from row 1, shared with the grid (see
  // numericgrid::sharecolumn).
  rowref shareColumn(int c) { return grid_.sharecolumn(c); }
  int colCount() const { return grid_.colcount(); }
  int rowCountWithHeader() const { return grid_.rowcount(); }
  void setHeader(int c, const QString &name);
  QString cellText(int c, int r) const override;
  int columnCount(const QModelIndex &parent = {}) const override;

protected:
  int allRows() const override { return std::max(0, grid_.rowcount() - 1); }

private:
  numericgrid grid_;
  QStringList header_;
};

// StringGridM's model: one dataset's points as x, y and erry, each in the
// general format with 15 significant digits. Row 0 ("x", "y", "erry") is the
// header.
class DatasetTableModel : public OfferedRowsModel {
  Q_OBJECT
public:
  explicit DatasetTableModel(QObject *parent = nullptr) : OfferedRowsModel(parent) {
    offerFirstRows();
  }
  void show(const dataset &d);
  QString cellText(int c, int r) const override;
  int rowCountWithHeader() const { return rows_ + 1; }
  int columnCount(const QModelIndex &parent = {}) const override;

protected:
  int allRows() const override { return rows_; }

private:
  rowref x_, y_, e_;
  int rows_ = 1;
  bool shown_ = false;
};

} // namespace orvalle
