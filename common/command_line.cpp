#include "common/command_line.h"

#include <fmt/format.h>

#include <filesystem>
#include <iostream>
#include <system_error>

namespace tav {

std::vector<std::string> logLevelNames() {
  return {"trace", "debug", "info", "warning", "error", "critical", "off"};
}

std::string logLevelDescription(spdlog::level::level_enum defaultLevel) {
  const auto name = spdlog::level::to_string_view(defaultLevel);
  return fmt::format("The logging level. Default: {}", std::string_view(name.data(), name.size()));
}

std::string ExistingFileConstraint::description() const {
  return "Value must name an existing file.";
}

std::string ExistingFileConstraint::shortID() const {
  return "file";
}

// A status that cannot be determined counts as not existing.
bool ExistingFileConstraint::check(const std::string& value) const {
  std::error_code error;
  return std::filesystem::is_regular_file(std::filesystem::status(value, error));
}

std::string ExistingDirectoryConstraint::description() const {
  return "Value must name an existing directory.";
}

std::string ExistingDirectoryConstraint::shortID() const {
  return "dir";
}

bool ExistingDirectoryConstraint::check(const std::string& value) const {
  std::error_code error;
  return std::filesystem::is_directory(std::filesystem::status(value, error));
}

std::string NonEmptyConstraint::description() const {
  return "Value must not be empty.";
}

std::string CountConstraint::description() const {
  return fmt::format("Value must be a whole number from {} to {}.", min_, max_);
}

bool CountConstraint::check(const std::string& value) const {
  if (value.empty() || value.size() > 10) return false;
  if (value.find_first_not_of("0123456789") != std::string::npos) return false;
  const unsigned long long number = std::stoull(value);
  return number >= min_ && number <= max_;
}

void parseAs(TCLAP::CmdLine& parser, const std::string& name, int argc, char** argv) {
  std::vector<std::string> args = {name};
  if (argc > 1) args.insert(args.end(), argv + 1, argv + argc);
  parser.parse(args);
}

void reportArgumentError(TCLAP::CmdLine& parser, const TCLAP::ArgException& error) {
  std::cerr << "Error: " << error.error() << " for arg " << error.argId() << std::endl;
  parser.getOutput()->usage(parser);
}

}  // namespace tav
