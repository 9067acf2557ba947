// libFuzzer entry: one input is a formula and the data it is fitted to.
//
// The bytes up to the first newline are the formula's text (any bytes at
// all). The bytes after it are read as doubles, raw: nine starting values,
// then (x, y, error) triples, at most 64 of them; an error that is not a
// positive finite number becomes 1, as the data text allows no other.
// Reading, evaluating, exporting and fitting must end without a crash, a
// sanitizer report or a hang, and only in the engine's own exceptions; a
// fit that succeeds must leave finite values and uncertainties.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/formulafit.h"
#include "engine/logchannel.h"
#include "engine/nullcanvas.h"

using namespace orvalle;

namespace {

double take(const std::uint8_t *&p, const std::uint8_t *end) {
  double v = 0.0;
  if (end - p >= static_cast<std::ptrdiff_t>(sizeof v)) {
    std::memcpy(&v, p, sizeof v);
    p += sizeof v;
  }
  return v;
}

rowref makerow(std::vector<double> v) {
  auto r = std::make_shared<drow>(static_cast<int>(v.size()));
  r->data = std::move(v);
  return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::uint8_t *end = data + size;
  const std::uint8_t *newline =
      static_cast<const std::uint8_t *>(std::memchr(data, '\n', size));
  const std::uint8_t *textend = newline ? newline : end;
  const std::string text(reinterpret_cast<const char *>(data),
                         static_cast<std::size_t>(textend - data));
  const std::uint8_t *p = newline ? newline + 1 : end;

  std::unique_ptr<formulafit> fit;
  try {
    fit = std::make_unique<formulafit>(text);
  } catch (const formula_error &e) {
    if (e.position() < 0 || std::strlen(e.what()) == 0)
      std::abort();
    return 0;
  }
  const int np = fit->count();
  if (np < 1 || np > typedformula::kMaxParameters || fit->order != np - 1)
    std::abort();

  double start[9];
  for (double &v : start)
    v = take(p, end);
  for (int k = 0; k < np; ++k)
    fit->par[k] = start[k];

  std::vector<double> x, y, e;
  while (end - p >= 24 && x.size() < 64) {
    x.push_back(take(p, end));
    y.push_back(take(p, end));
    double err = take(p, end);
    e.push_back(std::isfinite(err) && err > 0.0 ? err : 1.0);
  }

  // Evaluating and exporting any values is harmless.
  (void)fit->value(x.empty() ? 0.5 : x.front());
  (void)fit->formula(0);

  dataset d(true);
  d.x = makerow(x);
  d.y = makerow(y);
  d.yerr = makerow(e);
  d.pointcount = d.filledcount = static_cast<int>(x.size());
  fit->data = &d;
  nullcanvas canvas;
  try {
    fit->fitplot(canvas, canvas, 1000, true);
  } catch (const engine_error &) {
    return 0;
  }
  for (int k = 0; k < np; ++k)
    if (!std::isfinite(fit->par[k]) || !std::isfinite(fit->err[k]) || fit->err[k] < 0.0)
      std::abort();
  stringlist lines;
  fit->describe(lines, true);
  (void)fit->chisq();
  (void)fit->verdict();
  (void)fit->formula(3);
  return 0;
}
