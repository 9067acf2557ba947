// Fuzz harness: any bytes through the table import. A table is either
// refused with a tableerror or becomes a data text that the conversion
// reads in the column layout, one grid row for each line of numbers and a
// number in every cell; the sniffing of tables never fails.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "datatext/conversion.h"
#include "datatext/tableimport.h"

using namespace orvalle;

namespace {

void check(bool ok) {
  if (!ok)
    std::abort();
}

struct collect : datapartsink {
  std::string text;
  void begin(std::size_t) override { text.clear(); }
  bool part(std::string_view t) override {
    // Parts hold whole lines.
    check(!t.empty() && t.back() == '\n');
    text.append(t);
    return true;
  }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char *>(data), size);
  const std::string text = tabletext(bytes);
  (void)needsimport(text);
  collect sink;
  tablesummary s;
  try {
    s = importtablebytes(bytes, sink, "fuzz.csv");
  } catch (const tableerror &) {
    return 0;
  }
  check(s.datalines >= 1 && s.columns >= 1);
  check(sink.text.rfind(std::string(kImportMark), 0) == 0);
  const ConversionOutcome out = ConvertToChart(textlines::fromText(sink.text), "fuzz.csv");
  check(out.ok());
  check(out.result->layout == textlayout::column);
  if (s.columns >= 2) {
    const numericgrid &g = out.result->grid;
    check(g.colcount() == s.columns);
    check(g.rowcount() - 1 == s.datalines);
    for (int c = 0; c < g.colcount(); ++c)
      for (int r = 1; r < g.rowcount(); ++r)
        check(g.has(c, r));
  }
  for (long row = 1; row <= s.datalines; ++row)
    check(s.lineofrow(row) >= row);
  return 0;
}
