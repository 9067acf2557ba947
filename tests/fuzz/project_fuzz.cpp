// Fuzz harness: any bytes through the project reader. A text it accepts
// must hold together: every reference in range, every dataset's rows made
// or refused with a project_error, and the project written out again must
// read back to the very same text. Nothing but project_error may escape.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/project.h"

using namespace orvalle;

namespace {

void check(bool ok) {
  if (!ok)
    std::abort();
}

void holdstogether(const project::model &m) {
  for (const auto &f : m.fits) {
    check(f.dataset >= 0 && static_cast<std::size_t>(f.dataset) < m.datasets.size());
    check(f.multifit < 0 || static_cast<std::size_t>(f.multifit) < m.multifits.size());
  }
  for (const auto &d : m.datasets)
    check(d.currentfit < 0 || static_cast<std::size_t>(d.currentfit) < m.fits.size());
  std::vector<rowref> columns;
  for (std::size_t i = 0; i < m.datasets.size(); ++i) {
    try {
      const project::datasetrows r = project::rowsof(m, i, columns);
      check(r.x && r.y && r.yerr && r.x->n == r.y->n && r.yerr->n == r.x->n);
      for (int k = 0; k < r.yerr->n; ++k)
        check((*r.yerr)[k] > 0);
    } catch (const project::project_error &) {
    }
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char *>(data), size);
  (void)project::isproject(text);
  project::model m;
  try {
    m = project::read(text);
  } catch (const project::project_error &) {
    return 0;
  }
  holdstogether(m);
  const std::string once = project::write(m);
  const std::string twice = project::write(project::read(once));
  check(once == twice);
  return 0;
}
