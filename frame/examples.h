// The example data files that come with the program.
#pragma once

#include <QString>

namespace orvalle {

// The folder of the example data files, or empty when it cannot be found:
// "examples" beside the program (a build folder), else the installed
// ../share/orvalle/examples beside the program's folder.
QString ExamplesFolder();

} // namespace orvalle
