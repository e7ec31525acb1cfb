#include "req/options.h"

#include <fmt/format.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace tav_req {

namespace {

// A whole number of seconds in decimal digits only, so a sign or a fraction is refused rather
// than read as something else.
class SecondsConstraint : public TCLAP::Constraint<std::string> {
 public:
  std::string description() const override {
    return fmt::format("Value must be a whole number of seconds from 0 to {}.", kMaxRequestTimeout);
  }
  std::string shortID() const override { return "seconds"; }
  bool check(const std::string& value) const override {
    if (value.empty() || value.size() > 10) return false;
    if (value.find_first_not_of("0123456789") != std::string::npos) return false;
    return std::stoull(value) <= kMaxRequestTimeout;
  }
};

// The child reads the CA file as the task user, from wherever the run started: an absolute path
// does not depend on a working folder that user may not enter.
std::string absolutePath(const std::string& value) {
  if (value.empty()) return value;
  std::error_code error;
  const std::filesystem::path path = std::filesystem::absolute(value, error);
  return error ? value : path.string();
}

}  // namespace

Options readCommandLine(int argc, char** argv) {
  Options options;
  tav::UsageOutput output(1);
  TCLAP::CmdLine parser("Runs each task's requests as its user and label; saves the answers", ' ',
                        tav::kVersion, true);
  parser.setOutput(&output);
  try {
    const auto levelName = spdlog::level::to_string_view(options.logLevel);
    const std::string defaultLevel(levelName.data(), levelName.size());
    std::vector<std::string> levelNames = tav::logLevelNames();
    TCLAP::ValuesConstraint<std::string> levelConstraint(levelNames);
    ExistingDirectoryConstraint directoryConstraint;
    ExistingFileConstraint fileConstraint;
    SecondsConstraint secondsConstraint;

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
    TCLAP::ValueArg<std::string> requestTimeout(
        "", "request-timeout",
        "Time limit of each request's whole transfer in seconds; a request that runs out of it "
        "is recorded as a failed transfer (code 0) and the next one is sent. Default: 0, no limit",
        false, "0", &secondsConstraint, parser);
    TCLAP::ValueArg<std::string> caFile(
        "", "cacert",
        "PEM file of the certificate authorities that https servers' certificates must chain to, "
        "read by each child as its task user; the system's CA folder stays trusted",
        false, "", &fileConstraint, parser);
    TCLAP::ValueArg<std::string> caPath(
        "", "capath",
        "Folder of certificate authorities named by their hashes (c_rehash), read by each child "
        "as its task user",
        false, "", &directoryConstraint, parser);
    TCLAP::SwitchArg insecure(
        "k", "insecure",
        "Verify neither the certificate nor the host name of https servers; main.log and every "
        "child log say so",
        parser, false);
    tav::parseAs(parser, "tav-req", argc, argv);

    if (logLevel.isSet()) options.logLevel = spdlog::level::from_str(logLevel.getValue());
    options.logDir = logDir.getValue();
    options.tasks = tasks.getValue();
    options.outputDir = outputDir.getValue();
    options.requestTimeout = static_cast<unsigned>(std::stoul(requestTimeout.getValue()));
    options.trust = TlsTrust{absolutePath(caFile.getValue()), absolutePath(caPath.getValue()),
                             insecure.getValue()};
  } catch (const TCLAP::ArgException& error) {
    tav::reportArgumentError(parser, error);
    options.ok = false;
  }
  return options;
}

}  // namespace tav_req
