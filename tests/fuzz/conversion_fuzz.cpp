// Fuzz harness: any bytes through the conversion, both layouts. A result
// must hold together (cells read back from their text, every dataset filled
// to its point count with positive errors), and writing it out as a data
// text again and converting that must give the same grid or datasets.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "datatext/conversion.h"
#include "engine/numeric.h"

using namespace orvalle;

namespace {

void check(bool ok) {
  if (!ok)
    std::abort();
}

std::string number(double v) { return generaltext(v, 15, '.'); }

std::string columntext(const numericgrid &g) {
  std::string out;
  for (int r = 1; r < g.rowcount(); ++r) {
    std::string line;
    for (int c = 0; c < g.colcount() && g.has(c, r); ++c)
      line += (c ? " " : "") + number(g.value(c, r));
    // A row without cells: one number without a separator keeps its place.
    out += (line.empty() ? "0" : line + " ") + "\n";
  }
  return out;
}

std::string taggedtext(const ConversionResult &r) {
  std::string out;
  for (const auto &d : r.datasets) {
    const std::string tag = d->name.substr(8); // after "Dataset "
    for (int k = 0; k < d->pointcount; ++k)
      out += number((*d->x)[k]) + " " + number((*d->y)[k]) + " " + number((*d->yerr)[k]) + " " +
             tag + "\n";
  }
  return out;
}

void checkgrid(const numericgrid &g) {
  check(g.colcount() >= 1 && g.rowcount() >= 2);
  for (int c = 0; c < g.colcount(); ++c)
    for (int r = 0; r < g.rowcount(); ++r) {
      if (!g.has(c, r))
        continue;
      check(r > 0);
      double back = 0;
      check(parsenumber(g.text(c, r), back) && back == g.value(c, r));
    }
}

void checkdatasets(const ConversionResult &r) {
  for (const auto &d : r.datasets) {
    check(d->pointcount >= 2 && d->filledcount == d->pointcount);
    check(d->x->n == d->pointcount && d->y->n == d->pointcount && d->yerr->n == d->pointcount);
    check(d->name.compare(0, 8, "Dataset ") == 0 && d->name.size() > 8);
    for (int k = 0; k < d->pointcount; ++k)
      check((*d->yerr)[k] > 0 && std::isfinite((*d->x)[k]) && std::isfinite((*d->y)[k]));
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char *>(data), size);
  const textlines lines = textlines::fromBytes(bytes);
  const ConversionOutcome out = ConvertToChart(lines, "/fuzz/in.txt");
  if (!out.ok()) {
    check(!out.error.empty());
    return 0;
  }
  const ConversionResult &r = *out.result;
  check(r.title == "in" && r.caption == "Chart Compiled From - in.txt");
  if (r.layout == textlayout::column) {
    checkgrid(r.grid);
    const ConversionOutcome again =
        ConvertToChart(textlines::fromText(columntext(r.grid)), "/fuzz/in.txt");
    check(again.ok() && again.result->layout == textlayout::column);
    const numericgrid &g = again.result->grid;
    check(g.colcount() == r.grid.colcount() && g.rowcount() == r.grid.rowcount());
    for (int c = 0; c < g.colcount(); ++c)
      for (int row = 1; row < g.rowcount(); ++row) {
        check(g.has(c, row) == r.grid.has(c, row));
        if (g.has(c, row))
          check(g.value(c, row) == r.grid.value(c, row));
      }
  } else {
    checkdatasets(r);
    const ConversionOutcome again =
        ConvertToChart(textlines::fromText(taggedtext(r)), "/fuzz/in.txt");
    check(again.ok() && again.result->layout == textlayout::tagged);
    const auto &a = again.result->datasets;
    check(a.size() == r.datasets.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
      const dataset &p = *r.datasets[i], &q = *a[i];
      check(p.name == q.name && p.tag == q.tag && p.pointcount == q.pointcount);
      for (int k = 0; k < p.pointcount; ++k)
        check((*p.x)[k] == (*q.x)[k] && (*p.y)[k] == (*q.y)[k] && (*p.yerr)[k] == (*q.yerr)[k]);
    }
  }
  return 0;
}
