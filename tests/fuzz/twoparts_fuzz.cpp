// Fuzz harness: a text converted in two parts gives what it gives in one.
// The first two bytes choose where the second part is asked to begin; the
// rest is the text, converted as lines (ConvertToChart) and held whole
// (ConvertTextToChart), each in one part and split there. Grids, datasets
// and messages must agree bit for bit.
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "datatext/conversion.h"

using namespace orvalle;

namespace {

void check(bool ok) {
  if (!ok)
    std::abort();
}

void samerow(const rowref &a, const rowref &b) {
  check(static_cast<bool>(a) == static_cast<bool>(b));
  if (!a)
    return;
  check(a->n == b->n);
  for (int k = 0; k < a->n; ++k)
    check(std::bit_cast<std::uint64_t>((*a)[k]) == std::bit_cast<std::uint64_t>((*b)[k]));
}

void same(const ConversionOutcome &one, const ConversionOutcome &two) {
  check(one.ok() == two.ok());
  check(one.error == two.error);
  if (!one.ok())
    return;
  const ConversionResult &a = *one.result;
  const ConversionResult &b = *two.result;
  check(a.layout == b.layout && a.title == b.title && a.caption == b.caption);
  check(a.grid.colcount() == b.grid.colcount() && a.grid.rowcount() == b.grid.rowcount());
  for (int c = 0; c < a.grid.colcount(); ++c)
    for (int r = 0; r < a.grid.rowcount(); ++r) {
      check(a.grid.has(c, r) == b.grid.has(c, r));
      if (a.grid.has(c, r))
        check(std::bit_cast<std::uint64_t>(a.grid.value(c, r)) ==
              std::bit_cast<std::uint64_t>(b.grid.value(c, r)));
    }
  check(a.datasets.size() == b.datasets.size());
  for (std::size_t k = 0; k < a.datasets.size(); ++k) {
    const dataset &p = *a.datasets[k];
    const dataset &q = *b.datasets[k];
    check(p.name == q.name && p.tag == q.tag && p.pointcount == q.pointcount);
    samerow(p.x, q.x);
    samerow(p.y, q.y);
    samerow(p.yerr, q.yerr);
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 2 || size > 4096)
    return 0;
  const std::size_t first = (std::size_t(data[0]) << 8 | data[1]) % (size - 1) + 1;
  const std::string text(reinterpret_cast<const char *>(data + 2), size - 2);
  const conversionparts onepart{std::size_t(-1), 0, false};
  const conversionparts split{0, first, true};

  const textlines lines = textlines::fromBytes(text);
  const ConversionOutcome one = ConvertToChart(lines, "f.txt", {}, onepart);
  same(one, ConvertToChart(lines, "f.txt", {}, split));

  // The same lines held whole, as the pad holds a large text.
  std::string held;
  for (std::size_t j = 0; j < lines.size(); ++j) {
    held += lines[j];
    held += '\n';
  }
  same(one, ConvertTextToChart(held, "f.txt", {}, onepart));
  same(one, ConvertTextToChart(held, "f.txt", {}, split));
  return 0;
}
