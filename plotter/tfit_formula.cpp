// The "Formula" trend type on the plotter's fits page: its box, the fit
// name that follows the formula, and the fit it makes.
#include <QGridLayout>
#include <QLineEdit>

#include "engine/bfit.h"
#include "engine/trendtypes.h"
#include "frame/application.h"
#include "frame/frameapi.h"
#include "plotter/controls.h"
#include "plotter/formulapanel.h"
#include "plotter/tfit.h"

namespace orvalle {

void TFit::buildFormulaBox(QWidget *page) {
  FormulaBox = new TFormulaPanel(page);
  FormulaBox->setVisible(false);
  if (auto *grid = qobject_cast<QGridLayout *>(page->layout())) {
    // Below the trend types and their estimates, across both columns; the
    // stretch row moves below it.
    grid->addWidget(FormulaBox, 4, 0, 1, 2);
    grid->setRowStretch(4, 0);
    grid->setRowStretch(5, 1);
  }
  connect(FormulaBox, &TFormulaPanel::formulaChanged, this, [this] {
    try {
      FormulaChange();
    } catch (...) {
      ReportCurrentException();
    }
  });
}

std::string TFit::trendItemText(int index) const {
  if (index >= 0 && index < static_cast<int>(TrendTypes.size()) &&
      TrendTypes[static_cast<std::size_t>(index)] == trendtype::formula)
    return formulaitemtext(FormulaBox->formulaText().toStdString());
  return TrType->itemText(index).toStdString();
}

void TFit::FormulaChange() {
  const int index = TrType->itemIndex();
  if (index < 0 || index >= static_cast<int>(TrendTypes.size()) ||
      TrendTypes[static_cast<std::size_t>(index)] != trendtype::formula ||
      TrDataset->currentIndex() < 0 || FitNamedByUser)
    return;
  WriteAutomaticName(); // the program's own name follows the formula
}

std::unique_ptr<bfit> TFit::makeChosenFit(trendtype type) const {
  if (type == trendtype::formula)
    return FormulaBox->makeFit();
  return makefit(type, frame().plugin());
}

bool TFit::takeFormulaEstimates(trendtype type, bfit &fit) const {
  return type != trendtype::formula || FormulaBox->takeEstimates(fit);
}

} // namespace orvalle
