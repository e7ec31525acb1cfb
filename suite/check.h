// `tav-suite check`: the mistakes of a suite that would otherwise show only after a run, as
// "error: ..." and "warning: ..." lines on standard output.
#pragma once

#include <cstddef>
#include <string>

#include "suite/options.h"

namespace tav_suite {

// Prints findings as they are made and counts them.
struct Findings {
  std::size_t errors = 0;
  std::size_t warnings = 0;
  void error(const std::string& text);
  void warning(const std::string& text);
};

// Every check of the suite; the findings are printed.
Findings checkSuite(const CheckOptions& options);

// The whole subcommand; its exit status: 0 without errors, 1 with errors.
int runCheck(const CheckOptions& options);

}  // namespace tav_suite
