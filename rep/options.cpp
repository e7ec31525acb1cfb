#include "rep/options.h"

namespace tav_rep {

Options readCommandLine(int argc, char** argv) {
  Options options;
  tav::UsageOutput output(1);
  TCLAP::CmdLine parser("Checks each answer against what the labels predict; writes report.json",
                        ' ', tav::kVersion, true);
  parser.setOutput(&output);
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
    TCLAP::ValueArg<std::string> metadata("m", "metadata",
                                          "Path to the json file with metadata for the test tasks",
                                          true, "", &fileConstraint, parser);
    TCLAP::ValueArg<std::string> responses(
        "r", "responses", "Path to the json file with responses for the test tasks", true, "",
        &fileConstraint, parser);
    TCLAP::ValueArg<std::string> config("c", "config",
                                        "Path to the json file with configuration for the report",
                                        true, "", &fileConstraint, parser);
    TCLAP::ValueArg<std::string> outputDir("o", "output-dir",
                                           "Path to the output directory to write results", true,
                                           "", &directoryConstraint, parser);
    tav::parseAs(parser, "tav-rep", argc, argv);

    if (logLevel.isSet()) options.logLevel = spdlog::level::from_str(logLevel.getValue());
    options.logDir = logDir.getValue();
    options.metadata = metadata.getValue();
    options.responses = responses.getValue();
    options.config = config.getValue();
    options.outputDir = outputDir.getValue();
  } catch (const TCLAP::ArgException& error) {
    tav::reportArgumentError(parser, error);
    options.ok = false;
  }
  return options;
}

}  // namespace tav_rep
