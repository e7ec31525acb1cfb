#include "tests/support/help_text.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "tests/support/test_support.h"

namespace tav_test {

namespace {

std::string trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

std::vector<HelpOption> helpOptions(const std::string& help) {
  std::vector<HelpOption> options;
  std::istringstream lines(help);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.starts_with("   -")) continue;
    HelpOption option;
    std::istringstream parts(line);
    for (std::string part; std::getline(parts, part, ',');) {
      part = trim(part);
      const auto space = part.find(' ');
      option.names.insert(part.substr(0, space));
      option.takesValue = option.takesValue || part.find('<') != std::string::npos;
    }
    std::string description;
    if (std::getline(lines, description)) {
      option.required = trim(description).starts_with("(required)");
    }
    options.push_back(option);
  }
  return options;
}

std::set<std::string> helpCommands(const std::string& help) {
  std::set<std::string> commands;
  const std::regex commandLine(R"(^  ([a-z]+) )");
  std::istringstream lines(help);
  for (std::string line; std::getline(lines, line);) {
    std::smatch command;
    if (std::regex_search(line, command, commandLine)) commands.insert(command[1]);
  }
  return commands;
}

std::string helpOf(const std::vector<std::string>& argv) {
  const RunResult result = runProgram(argv);
  EXPECT_EQ(result.status, 0) << result.err;
  return result.out;
}

}  // namespace tav_test
