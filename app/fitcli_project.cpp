// Project files as input of orvalle-fit (see fitcli_project.h).
#include "app/fitcli_project.h"

#include <sys/stat.h>

namespace orvalle::cli {

bool isprojectinput(const std::string &path) {
  // Only a regular file is looked into: a pipe or a device is left to the
  // data reader, which says what it is.
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && project::fileisproject(path);
}

std::string projectconflict(const options &o) {
  std::string given;
  const auto add = [&](bool on, const char *option) {
    if (on)
      given += std::string(given.empty() ? "" : ", ") + option;
  };
  add(o.modelgiven, "--model");
  add(o.xgiven, "--x");
  add(o.ygiven, "--y");
  add(o.errgiven, "--err");
  add(o.xerr.has_value(), "--xerr");
  add(o.dataset.has_value(), "--dataset");
  add(o.multi.has_value(), "--multi");
  add(o.name.has_value(), "--name");
  add(!o.estimatelist.empty(), "--estimates");
  add(o.gnuplot.has_value(), "--gnuplot");
  add(o.scaleerrors, "--scale-errors");
  if (given.empty())
    return {};
  return given + (given.find(',') == std::string::npos ? " is" : " are") +
         " for data files: a project file holds its own datasets, models, names and estimates, and "
         "its fits are not one system to scale";
}

bool projectneedsplugin(const project::model &m) {
  for (const auto &f : m.fits)
    if (f.type == trendtype::custom)
      return true;
  return false;
}

} // namespace orvalle::cli
