#include "engine/information.h"

namespace orvalle {

void appendinformation(stringlist &lines, const bfit &fit, char separator) {
  lines.push_back(fit.name);
  lines.push_back("ChiSqu =" + generaltext(fit.chisq(), 15, separator));
  lines.push_back("Degrees of Freedom =" + std::to_string(fit.dof()));
  fit.describe(lines, false);
  lines.emplace_back(" ");
}

void writeinformation(stringlist &lines, const std::vector<const bfit *> &fits, char separator) {
  lines.clear();
  for (const bfit *f : fits)
    if (f)
      appendinformation(lines, *f, separator);
}

stringlist informationlines(const std::vector<const bfit *> &fits, char separator) {
  stringlist lines;
  writeinformation(lines, fits, separator);
  return lines;
}

} // namespace orvalle
