// The bash completion as bash runs it: the function `complete` names for the program is called
// with COMP_WORDS and COMP_CWORD set, and COMPREPLY is what the user is offered. Every option
// each program's --help lists must be offered, so a new option cannot be left out.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/help_text.h"
#include "tests/support/program.h"
#include "tests/support/test_support.h"

namespace {

using Words = std::set<std::string>;

const std::string kScript = std::string(TAV_SOURCE_DIR) + "/completion/tav.bash";

// Runs the completion of `words` (the last one is under the cursor) in `dir`; what is offered.
Words offered(const std::vector<std::string>& words, const std::string& dir = ".") {
  std::vector<std::string> argv = {"/bin/bash",
                                   "--norc",
                                   "--noprofile",
                                   "-c",
                                   R"(cd "$1" && source "$2" || exit 1; shift 2
COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMPREPLY=()
function=$(complete -p "$1" | sed -E 's/.*-F ([^ ]+) .*/\1/') || exit 1
"$function"; printf '%s\n' "${COMPREPLY[@]}")",
                                   "completion",
                                   dir,
                                   kScript};
  argv.insert(argv.end(), words.begin(), words.end());
  const tav_test::RunResult result = tav_test::runProgram(argv);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  Words found;
  std::istringstream lines(result.out);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty()) found.insert(line);
  }
  return found;
}

TEST(CompletionTest, OffersValuesOptionsAndPlaces) {
  const tav_test::TempDir dir;
  std::filesystem::create_directory(dir.path() / "logs");
  std::filesystem::create_directory(dir.path() / "out");
  tav_test::writeFile(dir.path() / "tasks.json", "[]");
  tav_test::writeFile(dir.path() / "lab.json", "{}");
  const std::string at = dir.path().string();

  const Words levels = {"trace", "debug", "info", "warning", "error", "critical", "off"};
  EXPECT_EQ(offered({"tav-req", "--log-level", ""}), levels);
  EXPECT_EQ(offered({"tav-rep", "-l", "c"}), (Words{"critical"}));
  // bash splits "--log-level=de" at the "=".
  EXPECT_EQ(offered({"tav-req", "--log-level", "=", "de"}), (Words{"debug"}));
  EXPECT_EQ(offered({"tav-req", "--log-"}), (Words{"--log-dir", "--log-level"}));
  // A folder option offers folders only, a file option files and folders.
  EXPECT_EQ(offered({"tav-req", "-d", ""}, at), (Words{"logs", "out"}));
  EXPECT_EQ(offered({"tav-req", "--tasks", "t"}, at), (Words{"tasks.json"}));
  EXPECT_EQ(offered({"tav-view", "--junit", ""}, at),
            (Words{"logs", "out", "tasks.json", "lab.json"}));
  EXPECT_EQ(offered({"tav-req", "--request-timeout", ""}, at), Words{});
  // After a switch comes another option; a word that is not one offers nothing to tav-view.
  EXPECT_TRUE(offered({"tav-view", "--quiet", ""}).contains("--metadata"));

  EXPECT_EQ(offered({"tav-view", "--fail-on", ""}), (Words{"new", "any"}));
  EXPECT_EQ(offered({"tav-view", "--baseline", "t"}, at), (Words{"tasks.json"}));
  EXPECT_EQ(offered({"tav-suite", ""}),
            (Words{"gen", "check", "split", "merge", "rerun", "--help", "--version"}));
  EXPECT_EQ(offered({"tav-suite", "rerun", "--out", ""}, at), (Words{"logs", "out"}));
  EXPECT_EQ(offered({"tav-suite", "merge", "--over", "t"}, at), (Words{"tasks.json"}));
  EXPECT_EQ(offered({"tav-suite", "me"}), (Words{"merge"}));
  EXPECT_EQ(offered({"tav-suite", "gen", "l"}, at), (Words{"lab.json", "logs"}));
  EXPECT_EQ(offered({"tav-suite", "gen", "lab.json", "--out", ""}, at), (Words{"logs", "out"}));
  EXPECT_EQ(offered({"tav-suite", "merge", "-o", "all.json", "t"}, at), (Words{"tasks.json"}));
  // -o is a folder for check and a file for merge.
  EXPECT_EQ(offered({"tav-suite", "check", "-o", ""}, at), (Words{"logs", "out"}));
  EXPECT_EQ(offered({"tav-suite", "split", "--s"}), (Words{"--shards"}));
  EXPECT_EQ(offered({"tav-suite", "nonsense", ""}), Words{});
}

// Every option of --help is offered, and takes a value in the completion exactly when it does
// in the program: after a value option "-" is a value (nothing offered, no file starts so),
// after a switch it starts the next option.
void expectEveryOption(const std::vector<std::string>& command, const std::string& help) {
  const std::vector<tav_test::HelpOption> options = tav_test::helpOptions(help);
  ASSERT_FALSE(options.empty()) << "no option found in --help: has its layout changed?";
  std::vector<std::string> words = command;
  words.push_back("-");
  const Words all = offered(words);
  for (const tav_test::HelpOption& option : options) {
    for (const std::string& name : option.names) {
      EXPECT_TRUE(all.contains(name)) << name << " of --help is not completed";
      std::vector<std::string> after = command;
      after.insert(after.end(), {name, "-"});
      if (name == "--" || name == "--ignore_rest") continue;
      EXPECT_EQ(offered(after).empty(), option.takesValue)
          << name
          << (option.takesValue ? " takes a value, the completion offers options"
                                : " takes no value, the completion offers none");
    }
  }
}

TEST(CompletionTest, EveryOptionOfHelpIsOffered) {
  for (const auto& [program, path] :
       {std::pair{"tav-req", TAV_REQ_PATH}, std::pair{"tav-rep", TAV_REP_PATH},
        std::pair{"tav-view", TAV_VIEW_PATH}}) {
    SCOPED_TRACE(program);
    expectEveryOption({program}, tav_test::helpOf({path, "--help"}));
  }
  const std::set<std::string> commands =
      tav_test::helpCommands(tav_test::helpOf({TAV_SUITE_PATH, "--help"}));
  ASSERT_FALSE(commands.empty());
  Words offeredCommands = offered({"tav-suite", ""});
  for (const std::string& command : commands) {
    SCOPED_TRACE(command);
    EXPECT_TRUE(offeredCommands.contains(command));
    expectEveryOption({"tav-suite", command},
                      tav_test::helpOf({TAV_SUITE_PATH, command, "--help"}));
  }
}

}  // namespace
