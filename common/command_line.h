// The command-line frame shared by the programs: the level names, the value constraints, the
// handling of argument errors and the program's own name in its usage. Each program builds its
// own option table.
#pragma once

#include <spdlog/common.h>
#include <tclap/CmdLine.h>

#include <string>
#include <utility>
#include <vector>

#include "common/usage_output.h"
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

// Passes any value but the empty one; `shortID` names the kind of value in the usage ("file").
class NonEmptyConstraint : public TCLAP::Constraint<std::string> {
 public:
  explicit NonEmptyConstraint(std::string shortID) : shortID_(std::move(shortID)) {}
  std::string description() const override;
  std::string shortID() const override { return shortID_; }
  bool check(const std::string& value) const override { return !value.empty(); }

 private:
  std::string shortID_;
};

// Passes a whole number from `min` to `max` written in decimal digits only: a sign, a blank or
// a fraction is refused rather than read as something else ("-1" as 4294967295).
class CountConstraint : public TCLAP::Constraint<std::string> {
 public:
  CountConstraint(unsigned min, unsigned max) : min_(min), max_(max) {}
  std::string description() const override;
  std::string shortID() const override { return "N"; }
  bool check(const std::string& value) const override;

 private:
  unsigned min_;
  unsigned max_;
};

// Parses the arguments after argv[0] as the program `name`, so the usage and the version line
// show the program's name rather than the path it was started by.
void parseAs(TCLAP::CmdLine& parser, const std::string& name, int argc, char** argv);

// Writes "Error: {text} for arg {id}" to standard error and the full usage after it.
void reportArgumentError(TCLAP::CmdLine& parser, const TCLAP::ArgException& error);

}  // namespace tav
