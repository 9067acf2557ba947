// Where the programs look for the plug-in library libcustomfit.so.
#pragma once

#include <string>

namespace orvalle {

// The plug-in library to bind, given the folder of the running program and
// the value of ORVALLE_CUSTOMFIT (null or empty when unset): that value when
// set; else libcustomfit.so beside the program (a build folder); else the
// installed ../lib/orvalle/libcustomfit.so when it exists; else the name
// beside the program, so that a report names where it was looked for.
// Empty when the program's folder is unknown. Never the current folder.
std::string pluginpath(const std::string &ownfolder, const char *environment);

} // namespace orvalle
