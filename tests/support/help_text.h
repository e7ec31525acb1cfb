// What a built program's --help says, read the way TCLAP lays it out: its options, and for
// tav-suite its subcommands. The man pages and the shell completion are both checked against it.
#pragma once

#include <set>
#include <string>
#include <vector>

namespace tav_test {

// One option of --help: its names ("-d" and "--log-dir"; TCLAP's "--" flag and
// "--ignore_rest" are one option), whether it takes a value and whether it is required.
struct HelpOption {
  std::set<std::string> names;
  bool takesValue = false;
  bool required = false;
};

// TCLAP's "Where:" block: an option line is indented by three spaces and starts with a dash,
// "-o <dir>,  --output-dir <dir>", and the line below says "(required)" when it is.
std::vector<HelpOption> helpOptions(const std::string& help);

// The subcommands the top-level usage lists, one per line as "  NAME  what it does".
std::set<std::string> helpCommands(const std::string& help);

// The program's standard output for these arguments; a failed run is a test failure.
std::string helpOf(const std::vector<std::string>& argv);

}  // namespace tav_test
