// tav-suite: generates a suite from a description, checks a suite before a run, splits a suite
// over several machines and joins their answers, and makes the suite of a run's failures.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "common/progress_line.h"
#include "common/version.h"
#include "suite/check.h"
#include "suite/gen.h"
#include "suite/merge.h"
#include "suite/options.h"
#include "suite/rerun.h"
#include "suite/split.h"

namespace {

// The subcommand's exit status; none for a name that is not a subcommand.
std::optional<int> runSubcommand(const std::string& command, const std::vector<std::string>& args) {
  using namespace tav_suite;
  // The line starts once the command line was taken: --help and a usage error print alone.
  if (command == "gen") {
    const GenOptions options = readGenCommandLine(args);
    tav::startProgress(tav::ProgressStart::afterASecond);
    return runGen(options.description, options.outDir);
  }
  if (command == "check") {
    const CheckOptions options = readCheckCommandLine(args);
    tav::startProgress(tav::ProgressStart::afterASecond);
    return runCheck(options);
  }
  if (command == "split") {
    const SplitOptions options = readSplitCommandLine(args);
    tav::startProgress(tav::ProgressStart::afterASecond);
    return runSplit(options);
  }
  if (command == "merge") {
    const MergeOptions options = readMergeCommandLine(args);
    tav::startProgress(tav::ProgressStart::afterASecond);
    return runMerge(options);
  }
  if (command == "rerun") {
    const RerunOptions options = readRerunCommandLine(args);
    tav::startProgress(tav::ProgressStart::afterASecond);
    return runRerun(options);
  }
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tav_suite;
  const std::string command = argc > 1 ? argv[1] : "";
  const std::vector<std::string> args(argv + std::min(argc, 2), argv + argc);

  try {
    if (const std::optional<int> status = runSubcommand(command, args)) {
      tav::stopProgress();
      // Findings still in the buffer: a full disk or a closed descriptor shows only now, and
      // findings that never arrived are a failed command.
      std::cout.flush();
      if (!std::cout || std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::cerr << "error: standard output: cannot write: " << std::strerror(errno) << std::endl;
        return 1;
      }
      return *status;
    }
  } catch (const std::exception& error) {
    tav::stopProgress();
    // Only resource exhaustion and file system failures get here; the steps report the rest.
    std::cerr << "error: tav-suite stopped: " << error.what() << std::endl;
    return 1;
  }
  if (command == "--help" || command == "-h") {
    std::cout << topLevelUsage();
    return 0;
  }
  if (command == "--version") {
    std::cout << "tav-suite  version: " << tav::kVersion << std::endl;
    return 0;
  }
  std::cerr << (command.empty() ? "Error: no subcommand\n"
                                : "Error: unknown subcommand \"" + command + "\"\n")
            << topLevelUsage();
  return 1;
}
