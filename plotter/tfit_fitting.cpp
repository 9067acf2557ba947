// The fitting front end of the plotter ("Add Fits/TrendLines " page, the fit
// details on "View Chart"). The controls exist with their captions and
// initial values; the behaviour of these handlers is still to be written.
#include "plotter/tfit.h"

namespace orvalle {

void TFit::TrTypeClick() {}
void TFit::TrDatasetChange() {}
void TFit::TrDatasetoldChange() {}
void TFit::AddTrClick() {}
void TFit::GoPlotBtnClick() {}
void TFit::CBoxDetailsChange() {}
void TFit::DeletetrClick() {}
void TFit::UpdateMultiFitButton() {}
void TFit::CheckPointCount() {}
void TFit::ShowEstimates(int) {}

} // namespace orvalle
