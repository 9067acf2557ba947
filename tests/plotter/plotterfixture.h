// Makes a plotter from data text lines the way the scratch pad's Convert
// command does: convert, hand over the grid or the datasets, send
// UM_DATAREADY, then TrackBarChange.
#pragma once

#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "datatext/conversion.h"
#include "frame/messages.h"
#include "plotter/tfit.h"
#include "tests/plotter/fakeframe.h"

namespace orvalle::test {

inline std::unique_ptr<TFit> makePlotter(FrameApi &frame, const std::vector<std::string> &lines,
                                         const std::string &file = "/data/run3.txt") {
  ConversionOutcome out = ConvertToChart(textlines::fromLines(lines), file);
  if (!out.ok()) {
    qWarning("conversion failed: %s", out.error.c_str());
    return nullptr;
  }
  ConversionResult &r = *out.result;
  auto fit = std::make_unique<TFit>(frame);
  fit->takeConversion(r);
  fit->TrackBarChange();
  return fit;
}

// A tagged text of `tags` datasets with three points each.
inline std::vector<std::string> taggedLines(int tags) {
  std::vector<std::string> lines;
  for (int t = 0; t < tags; ++t)
    for (int k = 0; k < 3; ++k)
      lines.push_back(std::to_string(k + 1) + " " + std::to_string(2 * k + t) + " 0.5 " +
                      static_cast<char>('a' + t));
  return lines;
}

} // namespace orvalle::test
