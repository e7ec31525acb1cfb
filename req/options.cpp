#include "req/options.h"

namespace tav_req {

Options readCommandLine(int argc, char** argv) {
  Options options;
  TCLAP::CmdLine parser("tav-req", ' ', tav::kVersion, true);
  try {
    const auto levelName = spdlog::level::to_string_view(options.logLevel);
    const std::string defaultLevel(levelName.data(), levelName.size());
    std::vector<std::string> levelNames = tav::logLevelNames();
    TCLAP::ValuesConstraint<std::string> levelConstraint(levelNames);
    ExistingDirectoryConstraint directoryConstraint;
    ExistingFileConstraint fileConstraint;

    TCLAP::ValueArg<std::string> logLevel("l", "log-level",
                                          tav::logLevelDescription(options.logLevel), false,
                                          defaultLevel, &levelConstraint, parser);
    TCLAP::ValueArg<std::string> logDir("d", "log-dir", "Path to the log directory", true, "",
                                        &directoryConstraint, parser);
    TCLAP::ValueArg<std::string> tasks("t", "tasks",
                                       "Path to the json file with tasks for the test", true, "",
                                       &fileConstraint, parser);
    TCLAP::ValueArg<std::string> outputDir("o", "output-dir",
                                           "Path to the output directory to write results", true,
                                           "", &directoryConstraint, parser);
    parser.parse(argc, argv);

    if (logLevel.isSet()) options.logLevel = spdlog::level::from_str(logLevel.getValue());
    options.logDir = logDir.getValue();
    options.tasks = tasks.getValue();
    options.outputDir = outputDir.getValue();
  } catch (const TCLAP::ArgException& error) {
    tav::reportArgumentError(parser, error);
    options.ok = false;
  }
  return options;
}

}  // namespace tav_req
