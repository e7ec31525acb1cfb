// The command line of tav-view.
#pragma once

#include <string>

namespace tav_view {

struct Options {
  bool ok = true;
  std::string metadata;
  std::string responses;
  std::string config;
  std::string tasks;  // empty when not given
  std::string junit;
  std::string html;
  std::string json;
  bool quiet = false;
};

// Parses the command line. The parser itself ends the process after --help or --version
// (status 0); a bad command line is reported on standard error and gives ok == false.
Options readCommandLine(int argc, char** argv);

}  // namespace tav_view
