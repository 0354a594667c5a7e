// The run sequence: title screen, every phase once in its order, the one
// question to the user, and the exit status.
#pragma once

#include <string>

#include "console/console.h"
#include "inventory/options.h"

namespace doppioni {

// The whole run on the tree below the current directory, with the options
// of the command line. Returns the exit status: 0 after a complete run, 1
// when the user does not answer "s" or "S", 2 when another run holds the
// tree, -1 when the run cannot go on.
int runDoppioni(Console& console, const Options& options);

// Clears the screen and shows the title, the working directory and the
// credits; leaves the cursor at the end of row 6.
void showTitle(Console& console, const std::string& workDir);

}  // namespace doppioni
