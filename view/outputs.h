// Writes the output files the command line asks for: each under a temporary name first, and
// all renamed into place only when every one was written.
#pragma once

#include <vector>

#include "view/inputs.h"
#include "view/options.h"
#include "view/summary.h"
#include "view/verdicts.h"

namespace tav_view {

// False after writing why to standard error; no output file exists then.
bool writeOutputs(const Options& options, const Inputs& inputs,
                  const std::vector<ViewEntry>& entries, const Summary& summary);

// Colour on standard output only for a terminal and without NO_COLOR.
bool useColour();

}  // namespace tav_view
