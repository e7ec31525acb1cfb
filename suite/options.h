// The command lines of tav-suite: a subcommand as the first argument, then that subcommand's
// own options, parsed by TCLAP as if it were a program named "tav-suite SUBCOMMAND".
#pragma once

#include <string>
#include <vector>

namespace tav_suite {

struct GenOptions {
  std::string description;
  std::string outDir;
};

struct CheckOptions {
  std::string tasks;
  std::string metadata;
  std::string config;     // empty: not checked
  std::string outputDir;  // empty: not checked
  std::string logDir;     // empty: not checked
  std::string caFile;     // --cacert; empty: none
  std::string caPath;     // --capath; empty: none
};

struct SplitOptions {
  std::string tasks;
  std::string metadata;  // empty: no metadata shards
  unsigned shards = 0;
  std::string outDir;
};

struct MergeOptions {
  std::string output;
  std::vector<std::string> inputs;
  std::string over;  // --over BASE: the inputs' answers replace BASE's; empty: a plain join
};

struct RerunOptions {
  std::string tasks;
  std::string metadata;
  std::string config;  // empty: none copied
  std::string report;  // report.json or tav-view's --json
  std::string outDir;
};

// The top-level usage: the subcommands and what each does.
std::string topLevelUsage();

// Each parser returns the options; TCLAP itself ends the process, with status 1 after
// reporting a bad command line and 0 after --help or --version. `args` excludes the program
// and subcommand.
GenOptions readGenCommandLine(const std::vector<std::string>& args);
CheckOptions readCheckCommandLine(const std::vector<std::string>& args);
SplitOptions readSplitCommandLine(const std::vector<std::string>& args);
MergeOptions readMergeCommandLine(const std::vector<std::string>& args);
RerunOptions readRerunCommandLine(const std::vector<std::string>& args);

}  // namespace tav_suite
