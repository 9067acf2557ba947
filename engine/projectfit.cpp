// A project's fits made again without a window (see projectfit.h).
#include "engine/projectfit.h"

#include "engine/fittexts.h"
#include "engine/multfit.h"
#include "engine/nullcanvas.h"

namespace orvalle::project {

namespace {

std::string placeof(const char *list, std::size_t i, const std::string &name) {
  return std::string(list) + "[" + std::to_string(i) + "] \"" + name + "\"";
}

// The lines of multi fit g, fitted together; the lines the file keeps are
// appended to out in order.
void refitmulti(const model &m, std::size_t first, refitted &out) {
  const fitrecord &f = m.fits[first];
  const multirecord &r = m.multifits.at(static_cast<std::size_t>(f.multifit));
  const std::size_t K = out.datasets.size();
  nullcanvas canvas;
  auto multi = makemultifit(r.kind);
  multi->name = r.name;
  multi->makelines(static_cast<int>(K));
  std::vector<std::string> names;
  for (const auto &d : out.datasets) {
    multi->datasets.add(d.get());
    names.push_back(d->name);
  }
  for (std::size_t j = 0; j < K; ++j) {
    bfit *line = multi->line(static_cast<int>(j));
    line->data = out.datasets[j].get();
    line->name = multilinename(r.name, out.datasets[j]->name);
    line->sharing = multisharingtext(r.kind, names, j);
  }
  auto lines = multi->takelines();
  multi->fit(canvas, canvas, r.gauss);
  for (std::size_t i = first; i < m.fits.size() && m.fits[i].multifit == f.multifit; ++i) {
    const auto j = static_cast<std::size_t>(m.fits[i].line);
    out.fits.push_back(std::move(lines.at(j)));
    out.fitdataset.push_back(static_cast<int>(j));
    out.modelkeys.push_back(typekey(trendtype::linear));
  }
}

} // namespace

refitted::~refitted() {
  // Datasets keep plain pointers to their fits: detached before either goes.
  for (auto &d : datasets)
    if (d)
      d->fits.clear();
}

refitted refit(const model &m, const PluginLibrary *plugin) {
  refitted out;
  std::vector<rowref> columns;
  for (std::size_t i = 0; i < m.datasets.size(); ++i) {
    const datasetrows rows = rowsof(m, i, columns);
    auto d = std::make_unique<dataset>(true);
    d->name = m.datasets[i].name;
    d->tag = m.datasets[i].tag.empty() ? 0 : m.datasets[i].tag[0];
    d->x = rows.x, d->y = rows.y, d->yerr = rows.yerr, d->xerr = rows.xerr;
    d->pointcount = d->filledcount = d->x->n;
    out.datasets.push_back(std::move(d));
  }
  nullcanvas canvas;
  std::size_t i = 0;
  while (i < m.fits.size()) {
    const fitrecord &f = m.fits[i];
    const std::string where = placeof("fits", i, f.name);
    try {
      if (f.multifit >= 0) {
        const std::size_t before = out.fits.size();
        refitmulti(m, i, out);
        i += out.fits.size() - before;
        continue;
      }
      std::unique_ptr<bfit> fit = makefitof(f, plugin);
      fit->name = f.name;
      dataset &d = *out.datasets.at(static_cast<std::size_t>(f.dataset));
      fit->data = &d;
      d.attach(fit.get());
      try {
        fit->fitplot(canvas, canvas, 1000, f.gauss);
      } catch (...) {
        d.fits.takeat(d.fits.count - 1);
        throw;
      }
      out.fits.push_back(std::move(fit));
      out.fitdataset.push_back(f.dataset);
      out.modelkeys.push_back(typekey(f.type));
      ++i;
    } catch (const project_error &) {
      throw;
    } catch (const std::exception &e) {
      throw project_error(where + texts::kFailedAgain +
                          (*e.what() ? std::string(" (") + e.what() + ")" : std::string()));
    }
  }
  return out;
}

} // namespace orvalle::project
