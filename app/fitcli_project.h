// Project files as input of orvalle-fit: the project's own datasets and
// fits, fitted again, reported as the fits of any file.
#pragma once

#include <string>

#include "app/fitcli.h"
#include "engine/projectfit.h"

namespace orvalle::cli {

// Whether the file is a project (known by its content, whatever its name).
bool isprojectinput(const std::string &path);

// Why the options cannot go with a project file (it holds its own models,
// datasets, names and estimates), or an empty text when they can.
std::string projectconflict(const options &o);

// Whether any fit of the project uses the plug-in's model.
bool projectneedsplugin(const project::model &m);

} // namespace orvalle::cli
