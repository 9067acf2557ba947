// The box of the "Formula" trend type on the plotter's fits page: an edit
// for the formula, a line that says what is wrong with it and where (or
// which parameters it found), and one estimate box per parameter.
#pragma once

#include <QGroupBox>
#include <QMap>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

class QFormLayout;
class QLabel;
class QLineEdit;

namespace orvalle {

class bfit;

class TFormulaPanel : public QGroupBox {
  Q_OBJECT
public:
  explicit TFormulaPanel(QWidget *parent = nullptr);

  // The formula as typed.
  QString formulaText() const;
  void setFormulaText(const QString &text);
  // The parameters found, in the order of their first appearance; empty
  // while the formula cannot be read.
  const QStringList &parameterNames() const { return names_; }
  // What is wrong with the formula ("Unknown name 'expp' at position 3"),
  // or nothing when it reads.
  std::optional<QString> problem() const { return problem_; }

  // The estimate box of parameter k (shown for k < parameterNames().size()).
  QLineEdit *estimateBox(int k) const { return boxes_[static_cast<std::size_t>(k)]; }
  QLabel *estimateLabel(int k) const { return labels_[static_cast<std::size_t>(k)]; }

  // The fit of the formula; raises formula_error when it cannot be read.
  std::unique_ptr<bfit> makeFit() const;
  // Converts the shown estimate boxes (the number syntax of the data text)
  // into par[0 ..]; false when one of them is not a number.
  bool takeEstimates(bfit &fit) const;

  QLineEdit *FormulaEdit = nullptr;
  QLabel *FormulaNote = nullptr;

signals:
  // The formula's text changed (typed or set).
  void formulaChanged();

private:
  void reread();

  QFormLayout *rows_ = nullptr;
  std::vector<QLineEdit *> boxes_;
  std::vector<QLabel *> labels_;
  QStringList names_;
  std::optional<QString> problem_;
  // What was typed into the box of each name, kept while the formula is
  // edited so that a parameter keeps its start when others come and go.
  QMap<QString, QString> typed_;
};

} // namespace orvalle
