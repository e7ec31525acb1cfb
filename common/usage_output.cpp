#include "common/usage_output.h"

#include <algorithm>
#include <iostream>
#include <vector>

namespace tav {

namespace {

constexpr std::size_t kWidth = 75;

// The text's units: runs of non-blanks, and blanks inside <...> or [...].
std::vector<std::string> unitsOf(const std::string& text) {
  std::vector<std::string> units;
  std::string unit;
  int depth = 0;
  for (const char c : text) {
    if (c == '<' || c == '[') ++depth;
    if ((c == '>' || c == ']') && depth > 0) --depth;
    if (c == ' ' && depth == 0) {
      if (!unit.empty()) units.push_back(std::move(unit));
      unit.clear();
      continue;
    }
    unit += c;
  }
  if (!unit.empty()) units.push_back(std::move(unit));
  return units;
}

std::string shortUsage(TCLAP::CmdLineInterface& parser) {
  std::string line = parser.getProgramName() + " ";
  for (TCLAP::Arg* arg : parser.getArgList()) line += " " + arg->shortID();
  return line;
}

}  // namespace

void printWrapped(std::ostream& out, const std::string& text, std::size_t indent,
                  std::size_t hanging) {
  if (indent + text.size() <= kWidth) {
    out << std::string(indent, ' ') << text << '\n';
    return;
  }
  std::string line;
  std::size_t lineIndent = indent;
  for (const std::string& unit : unitsOf(text)) {
    if (!line.empty() && lineIndent + line.size() + 1 + unit.size() > kWidth) {
      out << std::string(lineIndent, ' ') << line << '\n';
      line.clear();
      lineIndent = indent + hanging;
    }
    line += (line.empty() ? "" : " ") + unit;
  }
  if (!line.empty()) out << std::string(lineIndent, ' ') << line << '\n';
}

void UsageOutput::usage(TCLAP::CmdLineInterface& parser) {
  // The program name lines up the usage's continuation lines, up to half the width.
  const std::size_t hanging = std::min(parser.getProgramName().size() + 2, kWidth / 2);
  std::cout << "\nUSAGE: \n\n";
  printWrapped(std::cout, shortUsage(parser), 3, hanging);
  std::cout << "\n\nWhere: \n\n";
  for (TCLAP::Arg* arg : parser.getArgList()) {
    printWrapped(std::cout, arg->longID(), 3, 3);
    printWrapped(std::cout, arg->getDescription(), 5, 0);
    std::cout << '\n';
  }
  std::cout << '\n';
  printWrapped(std::cout, parser.getMessage(), 3, 0);
  std::cout << std::endl;
}

void UsageOutput::failure(TCLAP::CmdLineInterface& parser, TCLAP::ArgException& error) {
  const std::size_t hanging = std::min(parser.getProgramName().size() + 2, kWidth / 2);
  std::cerr << "PARSE ERROR: " << error.argId() << "\n             " << error.error()
            << "\n\nBrief USAGE: \n";
  printWrapped(std::cerr, shortUsage(parser), 3, hanging);
  std::cerr << "\nFor complete USAGE and HELP type: \n   " << parser.getProgramName() << " --help\n"
            << std::endl;
  throw TCLAP::ExitException(status_);
}

}  // namespace tav
