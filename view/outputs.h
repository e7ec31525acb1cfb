// Writes the outputs the command line asks for, as one set: all of them or none.
#pragma once

#include <vector>

#include "view/inputs.h"
#include "view/options.h"
#include "view/summary.h"
#include "view/verdicts.h"

namespace tav_view {

// False after writing why to standard error; every output file is then as it was.
bool writeOutputs(const Options& options, const Inputs& inputs,
                  const std::vector<ViewEntry>& entries, const Summary& summary);

// Colour on standard output only for a terminal, and not when NO_COLOR is set non-empty.
bool useColour();

}  // namespace tav_view
