// The command line of tav-view.
#pragma once

#include <string>

namespace tav_view {

struct Options {
  std::string metadata;
  std::string responses;
  std::string config;
  std::string tasks;  // empty when not given
  std::string junit;  // the outputs: empty when not asked for
  std::string html;
  std::string json;
  std::string baseline;    // an earlier run's --json or report.json; empty when not given
  bool failOnNew = false;  // --fail-on new: status 1 only for regressions
  bool quiet = false;
};

// Parses the command line. The parser itself ends the process: status 0 after --help or
// --version, status 2 after reporting a bad command line on standard error.
Options readCommandLine(int argc, char** argv);

}  // namespace tav_view
