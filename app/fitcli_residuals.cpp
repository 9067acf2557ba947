// orvalle-fit --residuals: every point of a fit with its deviation.
#include <string>

#include "app/fitcli_report.h"
#include "engine/report.h"

namespace orvalle::cli {

namespace {

// A name on a comment line: line breaks would end the comment.
std::string oneline(std::string text) {
  for (char &c : text)
    if (c == '\n' || c == '\r')
      c = ' ';
  return text;
}

} // namespace

void writeresiduals(const textsink &out, const bfit &fit, const std::string &file) {
  residualrows(fit,
               "# file: " + oneline(file) + "\n# fit: " + oneline(fit.name) +
                   "\n# x\ty\terror\tfitted\tdeviation\tnormalised_deviation\n",
               out);
}

} // namespace orvalle::cli
