// A project's fits made again without a window: the batch command's way
// to check a project file. The datasets are made from the project's
// numbers as the plotter makes them, and every fit is fitted from its
// description in order, so the numbers are the plotter's.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/bfit.h"
#include "engine/project.h"

namespace orvalle::project {

struct refitted {
  refitted() = default;
  refitted(const refitted &) = delete;
  refitted &operator=(const refitted &) = delete;
  refitted(refitted &&) = default;
  refitted &operator=(refitted &&) = default;
  ~refitted();

  std::vector<std::unique_ptr<dataset>> datasets;
  // Every fit of the project in its order, multi-fit lines included (a
  // line the user had deleted is fitted with its multi fit and dropped).
  std::vector<std::unique_ptr<bfit>> fits;
  std::vector<int> fitdataset;        // per fit: its dataset's position
  std::vector<std::string> modelkeys; // per fit: its type's text in the file
};

// Makes the datasets and fits again. Raises project_error naming the
// dataset or fit that could not be made, with the engine's reason (the
// fit's own log message has gone through the log channel already).
refitted refit(const model &m, const PluginLibrary *plugin);

} // namespace orvalle::project
