// The command-line frame shared by tav-req and tav-rep: the level names, the two value
// constraints and the handling of argument errors. Each program builds its own option table.
#pragma once

#include <spdlog/common.h>
#include <tclap/CmdLine.h>

#include <string>
#include <vector>

#include "common/version.h"

namespace tav {

// The seven names --log-level accepts, in level order.
std::vector<std::string> logLevelNames();

// "The logging level. Default: {}" with the default level's name.
std::string logLevelDescription(spdlog::level::level_enum defaultLevel);

// Passes when the value names an existing regular file; symbolic links are followed.
class ExistingFileConstraint : public TCLAP::Constraint<std::string> {
 public:
  std::string description() const override;
  std::string shortID() const override;
  bool check(const std::string& value) const override;
};

// Passes when the value names an existing directory; symbolic links are followed.
class ExistingDirectoryConstraint : public TCLAP::Constraint<std::string> {
 public:
  std::string description() const override;
  std::string shortID() const override;
  bool check(const std::string& value) const override;
};

// Writes "Error: {text} for arg {id}" to standard error and the full usage after it.
void reportArgumentError(TCLAP::CmdLine& parser, const TCLAP::ArgException& error);

}  // namespace tav
