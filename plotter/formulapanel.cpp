#include "plotter/formulapanel.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "datatext/conversion.h"
#include "engine/formula.h"
#include "engine/trendtypes.h"

namespace orvalle {

namespace {

const char *const kHint = "Type a formula in x, e.g. A*(1-exp(-x/B))";

} // namespace

TFormulaPanel::TFormulaPanel(QWidget *parent) : QGroupBox(QStringLiteral("Formula"), parent) {
  auto *v = new QVBoxLayout(this);
  auto *caption = new QLabel(QStringLiteral("y ="), this);
  FormulaEdit = new QLineEdit(this);
  FormulaEdit->setPlaceholderText(QStringLiteral("A*(1-exp(-x/B))"));
  FormulaEdit->setAccessibleName(QStringLiteral("Formula"));
  FormulaEdit->setMaxLength(static_cast<int>(typedformula::kMaxLength));
  auto *line = new QHBoxLayout;
  line->addWidget(caption);
  line->addWidget(FormulaEdit, 1);
  v->addLayout(line);

  FormulaNote = new QLabel(this);
  FormulaNote->setWordWrap(true);
  FormulaNote->setTextFormat(Qt::PlainText);
  v->addWidget(FormulaNote);

  rows_ = new QFormLayout;
  for (int k = 0; k < typedformula::kMaxParameters; ++k) {
    auto *box = new QLineEdit(QStringLiteral("1"), this);
    auto *label = new QLabel(this);
    label->setBuddy(box);
    rows_->addRow(label, box);
    box->setVisible(false);
    label->setVisible(false);
    boxes_.push_back(box);
    labels_.push_back(label);
    connect(box, &QLineEdit::textEdited, this, [this, k](const QString &text) {
      if (k < names_.size())
        typed_[names_[k]] = text;
    });
  }
  v->addLayout(rows_);

  connect(FormulaEdit, &QLineEdit::textChanged, this, [this] {
    reread();
    emit formulaChanged();
  });
  reread();
}

QString TFormulaPanel::formulaText() const { return FormulaEdit->text(); }

void TFormulaPanel::setFormulaText(const QString &text) { FormulaEdit->setText(text); }

void TFormulaPanel::reread() {
  names_.clear();
  problem_.reset();
  const QString text = FormulaEdit->text();
  QPalette pal = FormulaNote->palette();
  if (text.trimmed().isEmpty()) {
    FormulaNote->setText(QLatin1String(kHint));
    pal.setColor(QPalette::WindowText, palette().color(QPalette::WindowText));
  } else {
    try {
      const typedformula f(text.toStdString());
      for (const std::string &n : f.parameters())
        names_ << QString::fromStdString(n);
      FormulaNote->setText(QStringLiteral("Parameters: ") + names_.join(QStringLiteral(", ")));
      pal.setColor(QPalette::WindowText, palette().color(QPalette::WindowText));
    } catch (const formula_error &e) {
      problem_ = QString::fromStdString(e.what());
      FormulaNote->setText(*problem_);
      pal.setColor(QPalette::WindowText, QColor(0xB0, 0x00, 0x00));
    }
  }
  FormulaNote->setPalette(pal);
  FormulaNote->setAccessibleName(FormulaNote->text());
  for (int k = 0; k < static_cast<int>(boxes_.size()); ++k) {
    const bool on = k < names_.size();
    QLineEdit *box = boxes_[static_cast<std::size_t>(k)];
    QLabel *label = labels_[static_cast<std::size_t>(k)];
    if (on) {
      const QString &name = names_[k];
      label->setText(QStringLiteral("Estimate ") + name);
      box->setAccessibleName(label->text());
      box->setText(typed_.value(name, QStringLiteral("1")));
    }
    box->setVisible(on);
    box->setEnabled(on);
    label->setVisible(on);
  }
}

std::unique_ptr<bfit> TFormulaPanel::makeFit() const {
  return makeformulafit(FormulaEdit->text().toStdString(), {});
}

bool TFormulaPanel::takeEstimates(bfit &fit) const {
  for (int k = 0; k < names_.size(); ++k) {
    double v = 0.0;
    if (!parsenumber(boxes_[static_cast<std::size_t>(k)]->text().toStdString(), v))
      return false;
    fit.par[k] = v;
  }
  return true;
}

} // namespace orvalle
