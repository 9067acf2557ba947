// Information text, export, printing and clipboard, and the titles and axes
// window of the plotter. Only the redraw request is answered so far.
#include "plotter/tfit.h"

namespace orvalle {

void TFit::CopyInformation() {}
void TFit::ExportChart() {}

void TFit::OutputRequest(int code) {
  if (code == 102)
    RedrawCharts();
}

void TFit::LabelsClick(int) {}
void TFit::TitlesChanged(int) {}
void TFit::ApplyTitles(int) {}

} // namespace orvalle
