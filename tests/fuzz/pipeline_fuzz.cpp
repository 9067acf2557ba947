// Fuzz harness: the road of a data file without windows. The first byte
// chooses the model, the solver and a multi fit; the rest is the data text.
// It is converted, made into datasets as the plotter makes them, fitted,
// described, and written as the gnuplot texts. Failures the engine reports
// are expected; crashes and undefined behaviour are findings.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "datatext/conversion.h"
#include "engine/fits.h"
#include "engine/gnuplotexport.h"
#include "engine/information.h"
#include "engine/logchannel.h"
#include "engine/nullcanvas.h"
#include "engine/trendtypes.h"

using namespace orvalle;

namespace {

rowref column(const numericgrid &g, int c) {
  auto r = std::make_shared<drow>(g.rowcount() - 1);
  for (int k = 1; k < g.rowcount(); ++k)
    (*r)[k - 1] = g.value(c, k);
  return r;
}

// The dataset of a column file: columns A, B and C, when every cell of
// them is there and every error is positive.
std::unique_ptr<dataset> columndataset(const numericgrid &g) {
  if (g.colcount() < 3)
    return nullptr;
  for (int c = 0; c < 3; ++c)
    for (int k = 1; k < g.rowcount(); ++k)
      if (!g.has(c, k) || (c == 2 && !(g.value(c, k) > 0)))
        return nullptr;
  auto d = std::make_unique<dataset>(true);
  d->x = column(g, 0);
  d->y = column(g, 1);
  d->yerr = column(g, 2);
  d->pointcount = d->filledcount = d->x->n;
  return d;
}

const trendtype kTypes[] = {trendtype::linearorigin, trendtype::linear,       trendtype::quadratic,
                            trendtype::cubic,        trendtype::power,        trendtype::resonance,
                            trendtype::periodic,     trendtype::periodicdecay};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 1 || size > 4096)
    return 0;
  static const bool quiet = [] {
    setlogwindow([](int, int) { (void)pendingmessage(); });
    return true;
  }();
  (void)quiet;
  const std::uint8_t choice = data[0];
  const bool gauss = choice & 0x80;
  const bool multi = choice & 0x40;
  const int model = choice & 0x0F; // 0-7 trend types, 8-13 polynomials of degree 4 to 9
  const std::string text(reinterpret_cast<const char *>(data + 1), size - 1);

  ConversionOutcome out = ConvertToChart(textlines::fromBytes(text), "/fuzz/run.txt");
  if (!out.ok())
    return 0;
  ConversionResult &r = *out.result;
  std::vector<std::unique_ptr<dataset>> sets;
  if (r.layout == textlayout::tagged)
    sets = std::move(r.datasets);
  else if (auto d = columndataset(r.grid))
    sets.push_back(std::move(d));
  if (sets.empty() || sets.front()->pointcount > 200)
    return 0;

  std::vector<std::unique_ptr<bfit>> fits;
  std::vector<gnuplotfit> placed;
  nullcanvas canvas;
  try {
    if (multi && sets.size() >= 2 && sets.size() <= 20) {
      auto mf = makemultifit(choice & 0x20 ? multikind::samegradient : multikind::sameintercept);
      mf->name = "multi";
      mf->makelines(static_cast<int>(sets.size()));
      for (auto &d : sets)
        mf->datasets.add(d.get());
      for (std::size_t j = 0; j < sets.size(); ++j) {
        mf->line(static_cast<int>(j))->data = sets[j].get();
        mf->line(static_cast<int>(j))->name = "line";
      }
      auto lines = mf->takelines();
      mf->fit(canvas, canvas, gauss);
      for (std::size_t j = 0; j < lines.size(); ++j) {
        fits.push_back(std::move(lines[j]));
        placed.push_back({fits.back().get(), static_cast<int>(j)});
      }
    } else if (model < 14) {
      dataset &d = *sets.front();
      std::unique_ptr<bfit> fit;
      if (model < 8) {
        if (d.pointcount < fewestpoints(kTypes[model]))
          return 0;
        fit = makefit(kTypes[model], nullptr, kDefaultEstimates);
      } else {
        const int degree = model - 4;
        if (d.pointcount < degree + 2)
          return 0;
        fit = std::make_unique<polynom>(degree);
      }
      fit->name = "fit";
      fit->data = &d;
      d.attach(fit.get());
      try {
        fit->fitplot(canvas, canvas, 50, gauss);
      } catch (...) {
        d.attach(nullptr);
        throw;
      }
      fits.push_back(std::move(fit));
      placed.push_back({fits.back().get(), 0});
    }
    std::vector<const bfit *> described;
    for (const auto &f : fits)
      described.push_back(f.get());
    (void)informationlines(described);
    gnuplotchart chart;
    for (const auto &d : sets)
      chart.datasets.push_back(d.get());
    chart.fits = placed;
    chart.title = r.title;
    (void)gnuplotscript(chart, "/fuzz/run.gdt");
    (void)gnuplotdatafile(chart.datasets);
  } catch (const engine_error &) {
    // A failed fit, as the user would see it.
  }
  for (auto &d : sets)
    d->fits.clear();
  return 0;
}
