// Each man page against its program's --help, so that neither drifts from the other: the same
// options by name, the same ones taking a value, and a synopsis that names every option, the
// required ones outside brackets. Descriptions and placeholder names are left free to differ.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/help_text.h"
#include "tests/support/test_support.h"

namespace {

using tav_test::helpOf;

// The names of one option, "-d" and "--log-dir", sorted; TCLAP's "--" flag and
// "--ignore_rest" count as one option too.
using Names = std::set<std::string>;

struct Option {
  Names names;
  bool takesValue = false;
  bool required = false;   // as --help says
  std::string subcommand;  // a man page entry's "(check)"; empty: every command
};

// One synopsis line: the command (or subcommand) it is for and its options, bracketed or not.
struct SynopsisLine {
  std::string command;
  std::vector<std::pair<std::string, bool>> options;  // name, optional
  bool alternatives = false;                          // "--help | --version"
};

struct ManPage {
  std::vector<Option> options;
  std::vector<SynopsisLine> synopsis;
  std::set<std::string> commands;  // tav-suite's COMMANDS entries
};

std::string trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string joined(const Names& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

// The lines of one "# SECTION" of an scdoc page.
std::vector<std::string> section(const std::string& page, const std::string& name) {
  std::vector<std::string> found;
  std::istringstream lines(page);
  bool inside = false;
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("# ")) {
      inside = line == "# " + name;
      continue;
    }
    if (inside) found.push_back(line);
  }
  return found;
}

ManPage readManPage(const std::string& page) {
  ManPage man;
  const std::regex bold(R"(\*([^*]+)\*)");
  // "*-d, --log-dir* _LOGDIR_", "*--*, *--ignore_rest*", "*-o, --output* _RESPONSES_ (merge)"
  for (const std::string& line : section(page, "OPTIONS")) {
    if (!line.starts_with("*-")) continue;
    Option option;
    const std::string names = line.substr(0, line.find_last_of('*') + 1);
    for (std::sregex_iterator it(names.begin(), names.end(), bold), end; it != end; ++it) {
      std::istringstream parts((*it)[1].str());
      for (std::string part; std::getline(parts, part, ',');) option.names.insert(trim(part));
    }
    const std::string rest = line.substr(names.size());
    option.takesValue = std::regex_search(rest, std::regex(R"(_[A-Z]+_)"));
    std::smatch subcommand;
    if (std::regex_search(rest, subcommand, std::regex(R"(\(([a-z]+)\)\s*$)"))) {
      option.subcommand = subcommand[1];
    }
    man.options.push_back(option);
  }
  // "*tav-req* *-d* _LOGDIR_ [*-l* _LEVEL_]", "*tav-suite split* *-t* _TASKS_ ..."
  const std::regex token(R"(\[|\]|\*([^*]+)\*)");
  for (const std::string& line : section(page, "SYNOPSIS")) {
    if (!line.starts_with("*")) continue;
    SynopsisLine synopsis;
    synopsis.alternatives = line.find(" | ") != std::string::npos;
    int depth = 0;
    for (std::sregex_iterator it(line.begin(), line.end(), token), end; it != end; ++it) {
      const std::string text = (*it)[0];
      if (text == "[") {
        ++depth;
      } else if (text == "]") {
        --depth;
      } else if ((*it)[1].str().starts_with("-")) {
        synopsis.options.emplace_back((*it)[1], depth > 0);
      } else if (synopsis.command.empty()) {
        synopsis.command = (*it)[1];
      }
    }
    man.synopsis.push_back(synopsis);
  }
  for (const std::string& line : section(page, "COMMANDS")) {
    std::smatch command;
    if (std::regex_search(line, command, std::regex(R"(^\*([a-z]+)\*)"))) {
      man.commands.insert(command[1]);
    }
  }
  return man;
}

// --help's options in the man page's record.
std::vector<Option> helpOptions(const std::string& help) {
  std::vector<Option> options;
  for (const tav_test::HelpOption& option : tav_test::helpOptions(help)) {
    options.push_back({option.names, option.takesValue, option.required, {}});
  }
  return options;
}

const Option* findByName(const std::vector<Option>& options, const std::string& name) {
  const auto found = std::ranges::find_if(
      options, [&](const Option& option) { return option.names.contains(name); });
  return found == options.end() ? nullptr : &*found;
}

// The options every TCLAP command has and a synopsis leaves to its own line.
bool universal(const Option& option) {
  return option.names.contains("--help") || option.names.contains("--version") ||
         option.names.contains("--ignore_rest");
}

// The help options and the man page's entries for them are the same options, taking a value
// alike; `entries` are the man page's OPTIONS entries that apply to this command.
void expectSameOptions(const std::vector<Option>& help, const std::vector<Option>& entries) {
  ASSERT_FALSE(help.empty()) << "no option found in --help: has its layout changed?";
  for (const Option& option : help) {
    const auto entry =
        std::ranges::find_if(entries, [&](const Option& e) { return e.names == option.names; });
    if (entry == entries.end()) {
      ADD_FAILURE() << "--help has " << joined(option.names) << ", the man page does not";
      continue;
    }
    EXPECT_EQ(entry->takesValue, option.takesValue)
        << joined(option.names) << ": a value in one and not in the other";
  }
  for (const Option& entry : entries) {
    EXPECT_TRUE(std::ranges::any_of(help, [&](const Option& o) { return o.names == entry.names; }))
        << "the man page has " << joined(entry.names) << ", --help does not";
  }
}

// The synopsis line names every option but the universal ones, the required ones unbracketed.
void expectSynopsis(const SynopsisLine& synopsis, const std::vector<Option>& help) {
  std::set<const Option*> named;
  for (const auto& [name, optional] : synopsis.options) {
    const Option* option = findByName(help, name);
    if (option == nullptr) {
      ADD_FAILURE() << "the synopsis has " << name << ", --help does not";
      continue;
    }
    named.insert(option);
    EXPECT_EQ(optional, !option->required)
        << name << " is " << (option->required ? "required" : "optional")
        << " in --help but not in the synopsis";
  }
  for (const Option& option : help) {
    if (!universal(option)) {
      EXPECT_TRUE(named.contains(&option)) << "the synopsis lacks " << joined(option.names);
    }
  }
}

struct Program {
  const char* name;
  const char* path;
};

void PrintTo(const Program& program, std::ostream* out) {
  *out << program.name;
}

class ManPageTest : public ::testing::TestWithParam<Program> {};

TEST_P(ManPageTest, OptionsAndSynopsisAgreeWithHelp) {
  const Program& program = GetParam();
  const ManPage man = readManPage(
      tav_test::readFile(std::string(TAV_SOURCE_DIR) + "/man/" + program.name + ".1.scd"));
  const std::vector<Option> help = helpOptions(helpOf({program.path, "--help"}));
  expectSameOptions(help, man.options);
  ASSERT_FALSE(man.synopsis.empty());
  for (const SynopsisLine& synopsis : man.synopsis) {
    EXPECT_EQ(synopsis.command, program.name);
    if (synopsis.alternatives) {
      for (const auto& [name, optional] : synopsis.options) {
        EXPECT_NE(findByName(help, name), nullptr) << name;
      }
    } else {
      expectSynopsis(synopsis, help);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Programs, ManPageTest,
                         ::testing::Values(Program{"tav-req", TAV_REQ_PATH},
                                           Program{"tav-rep", TAV_REP_PATH},
                                           Program{"tav-view", TAV_VIEW_PATH}),
                         [](const auto& info) {
                           std::string name = info.param.name;
                           std::ranges::replace(name, '-', '_');
                           return name;
                         });

// tav-suite: the same commands in --help and the man page, and for each command its options
// against its synopsis line and the OPTIONS entries that apply to it (an entry marked
// "(check)" applies to check alone).
TEST(ManPageSuiteTest, EveryCommandAgreesWithItsHelp) {
  const ManPage man =
      readManPage(tav_test::readFile(std::string(TAV_SOURCE_DIR) + "/man/tav-suite.1.scd"));
  const std::string top = helpOf({TAV_SUITE_PATH, "--help"});
  const std::set<std::string> commands = tav_test::helpCommands(top);
  ASSERT_FALSE(commands.empty()) << top;
  EXPECT_EQ(man.commands, commands);

  std::set<const Option*> used;
  for (const std::string& command : commands) {
    SCOPED_TRACE(command);
    const std::vector<Option> help = helpOptions(helpOf({TAV_SUITE_PATH, command, "--help"}));
    std::vector<Option> entries;
    for (const Option& entry : man.options) {
      const bool forThis =
          entry.subcommand.empty()
              ? std::ranges::any_of(help, [&](const Option& o) { return o.names == entry.names; })
              : entry.subcommand == command;
      if (forThis) {
        entries.push_back(entry);
        used.insert(&entry);
      }
    }
    expectSameOptions(help, entries);
    const auto synopsis =
        std::ranges::find(man.synopsis, "tav-suite " + command, &SynopsisLine::command);
    ASSERT_NE(synopsis, man.synopsis.end()) << "no synopsis line";
    expectSynopsis(*synopsis, help);
  }
  for (const Option& entry : man.options) {
    EXPECT_TRUE(used.contains(&entry))
        << "the man page has " << joined(entry.names) << ", no command's --help does";
  }
}

}  // namespace
