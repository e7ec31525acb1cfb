// The built programs' command lines: what the parser prints, the exit statuses, and that a
// rejected command line creates nothing.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using tav_test::runProgram;
using tav_test::TempDir;

namespace {

bool isEmptyDir(const fs::path& dir) {
  return fs::is_empty(dir);
}

// The program refused its command line with status 1 and the text on standard error.
void expectRejected(const tav_test::RunResult& result, const std::string& text,
                    const std::string& what) {
  EXPECT_EQ(result.status, 1) << what;
  EXPECT_NE(result.err.find(text), std::string::npos) << result.err;
}

struct Program {
  std::string path;
  std::string name;
};

const Program kRunner{TAV_REQ_PATH, "tav-req"};
const Program kChecker{TAV_REP_PATH, "tav-rep"};

// A fresh temporary folder for each case.
class CommandLine : public ::testing::Test {
 protected:
  // dir/tasks.json with no task in it, and the folder dir/logs.
  void writeTasksAndLogs() const {
    tav_test::writeFile(dir / "tasks.json", "[]");
    fs::create_directory(dir / "logs");
  }

  TempDir dir;
};

}  // namespace

TEST_F(CommandLine, VersionIsTheSameForBothPrograms) {
  for (const Program& program : {kRunner, kChecker}) {
    const auto result = runProgram({program.path, "--version"});
    EXPECT_EQ(result.status, 0) << program.name;
    EXPECT_NE(result.out.find("version: 0.1.0"), std::string::npos) << result.out;
    EXPECT_TRUE(result.err.empty()) << result.err;
  }
}

// The usage lines of --help joined, every run of blanks and line breaks as one blank: a line
// wrapped inside a word or a value list shows as a blank where none belongs.
std::string joinedUsage(const std::string& help) {
  const std::size_t start = help.find("USAGE:");
  const std::size_t end = help.find("Where:");
  if (start == std::string::npos || end == std::string::npos) return {};
  std::string joined;
  for (const char c : help.substr(start + 6, end - start - 6)) {
    if (c != ' ' && c != '\n') {
      joined += c;
    } else if (!joined.empty() && joined.back() != ' ') {
      joined += ' ';
    }
  }
  return joined.substr(0, joined.find_last_not_of(' ') + 1);
}

TEST_F(CommandLine, HelpAndVersionNameTheProgramAndSayWhatItDoes) {
  struct Case {
    std::vector<std::string> argv;
    std::string usage;
    std::string description;
    std::string version;
  };
  const std::string levels = "[-l <trace|debug|info|warning|error|critical|off>]";
  const std::vector<Case> cases = {
      {{kRunner.path},
       "tav-req [-k] [--capath <dir>] [--cacert <file>] [--request-timeout <seconds>] -o <dir> "
       "-t <file> -d <dir> " +
           levels + " [--] [--version] [-h]",
       "Runs each task's requests as its user and label; saves the answers",
       "tav-req  version: 0.1.0"},
      {{kChecker.path},
       "tav-rep -o <dir> -c <file> -r <file> -m <file> -d <dir> " + levels +
           " [--] [--version] [-h]",
       "Checks each answer against what the labels predict; writes report.json",
       "tav-rep  version: 0.1.0"},
      {{TAV_VIEW_PATH},
       "tav-view [-q] [--fail-on <new|any>] [--baseline <file>] [--json <file>] [--html "
       "<file>] [--junit <file>] [-t <file>] -c <file> -r <file> -m <file> [--] [--version] "
       "[-h]",
       "Explains the verdict on every answer; writes JUnit XML, HTML and JSON",
       "tav-view  version: 0.1.0"},
      {{TAV_SUITE_PATH, "split"},
       "tav-suite split --out <DIR> -n <N> [-m <file>] -t <file> [--] [--version] [-h]",
       "Splits a tasks file into N shards",
       "tav-suite split  version: 0.1.0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    std::vector<std::string> argv = c.argv;
    argv.push_back("--help");
    const auto help = runProgram(argv);
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(joinedUsage(help.out), c.usage) << help.out;
    EXPECT_NE(help.out.find("\n   " + c.description), std::string::npos) << help.out;
    argv.back() = "--version";
    const auto version = runProgram(argv);
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "\n" + c.version + "\n\n");
    // Not the build folder the binary was started from.
    const std::string folder = fs::path(c.argv[0]).parent_path().string();
    EXPECT_EQ(help.out.find(folder), std::string::npos) << help.out;
  }
}

TEST_F(CommandLine, HelpShowsTheOptionTableOfTheRunner) {
  const auto result = runProgram({kRunner.path, "--help"});
  EXPECT_EQ(result.status, 0);
  for (const char* text :
       {"-l <trace|debug|info|warning|error|critical|off>", "The logging level. Default: info",
        "-d <dir>,  --log-dir <dir>", "Path to the log directory", "-t <file>,  --tasks <file>",
        "Path to the json file with tasks for the test", "-o <dir>,  --output-dir <dir>",
        "Path to the output directory to write results", "tav-req"}) {
    EXPECT_NE(result.out.find(text), std::string::npos) << text << "\n" << result.out;
  }
}

TEST_F(CommandLine, HelpShowsTheOptionTableOfTheChecker) {
  const auto result = runProgram({kChecker.path, "--help"});
  EXPECT_EQ(result.status, 0);
  for (const char* text :
       {"The logging level. Default: info", "-m <file>,  --metadata <file>",
        "Path to the json file with metadata for the test tasks", "-r <file>,  --responses <file>",
        "Path to the json file with responses for the test tasks", "-c <file>,  --config <file>",
        "Path to the json file with configuration for the report", "-o <dir>,  --output-dir <dir>",
        "-d <dir>,  --log-dir <dir>"}) {
    EXPECT_NE(result.out.find(text), std::string::npos) << text << "\n" << result.out;
  }
}

TEST_F(CommandLine, NoOptionsIsRejectedAndCreatesNothing) {
  for (const Program& program : {kRunner, kChecker}) {
    const auto result = runProgram({program.path});
    expectRejected(result, "Required arguments missing", program.name);
  }
  EXPECT_TRUE(isEmptyDir(dir.path()));
}

TEST_F(CommandLine, RejectsLevelNamesOutsideTheList) {
  writeTasksAndLogs();
  for (const char* level : {"warn", "err", "INFO", ""}) {
    const auto result = runProgram({kRunner.path, "-l", level, "-d", (dir / "logs").string(), "-t",
                                    (dir / "tasks.json").string(), "-o", dir.path().string()});
    expectRejected(result, "does not meet constraint: trace|debug|info|warning|error|critical|off",
                   level);
  }
  EXPECT_TRUE(isEmptyDir(dir / "logs"));
}

TEST_F(CommandLine, RejectsPathsOfTheWrongKindWithTheConstraintText) {
  writeTasksAndLogs();
  fs::create_symlink(dir / "gone.json", dir / "dangling.json");
  const std::string logs = (dir / "logs").string();
  const std::string tasks = (dir / "tasks.json").string();

  struct Case {
    std::vector<std::string> args;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {{"-d", logs, "-t", dir.path().string(), "-o", logs}, "Value must name an existing file."},
      {{"-d", logs, "-t", (dir / "missing.json").string(), "-o", logs},
       "Value must name an existing file."},
      {{"-d", logs, "-t", (dir / "dangling.json").string(), "-o", logs},
       "Value must name an existing file."},
      {{"-d", tasks, "-t", tasks, "-o", logs}, "Value must name an existing directory."},
      {{"-d", logs, "-t", tasks, "-o", tasks}, "Value must name an existing directory."},
      {{"-d", logs, "-d", logs, "-t", tasks, "-o", logs}, "Argument already set!"},
      {{"-d", logs, "-t", tasks, "-o", logs, "extra"}, "Couldn't find match for argument"},
      {{"-d", logs, "-t", tasks, "-o", logs, "--cacert", logs},
       "Value must name an existing file."},
      {{"-d", logs, "-t", tasks, "-o", logs, "--cacert", (dir / "missing.pem").string()},
       "Value must name an existing file."},
      {{"-d", logs, "-t", tasks, "-o", logs, "--capath", tasks},
       "Value must name an existing directory."},
      {{"-d", logs, "-t", tasks, "-o", logs, "--insecure", "yes"},
       "Couldn't find match for argument"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> argv{kRunner.path};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const auto result = runProgram(argv);
    expectRejected(result, c.expected, c.expected);
  }
  EXPECT_TRUE(isEmptyDir(dir / "logs"));
}

TEST_F(CommandLine, AcceptsLinksAndOneDirectoryForLogsAndOutput) {
  tav_test::writeFile(dir / "tasks.json", "[]");
  fs::create_symlink(dir / "tasks.json", dir / "link.json");
  fs::create_directory(dir / "work");
  fs::create_directory_symlink(dir / "work", dir / "worklink");
  const auto result =
      runProgram({kRunner.path, "-l", "off", "-d", (dir / "worklink").string(), "-t",
                  (dir / "link.json").string(), "-o", (dir / "worklink").string()});
  // An empty task list ends the run, but only after the main log was created.
  EXPECT_EQ(result.status, 1) << result.err;
  EXPECT_TRUE(result.err.empty()) << result.err;
  ASSERT_TRUE(fs::exists(dir / "work" / "main.log"));
  EXPECT_EQ(tav_test::readFile(dir / "work" / "main.log"), "");
}

// The same folder link, made by another user in a shared sticky folder, is not followed: the
// run would write root's files into whatever folder that user chose.
TEST_F(CommandLine, AFolderLinkAnotherUserMadeIsNotFollowed) {
  SKIP_UNLESS_ROOT();
  tav_test::writeFile(dir / "tasks.json", "[]");
  fs::create_directory(dir / "rootonly");
  fs::create_directory(dir / "shared");
  ASSERT_EQ(::chmod((dir / "shared").c_str(), 01777), 0);
  fs::create_directory_symlink(dir / "rootonly", dir / "shared" / "out");
  ASSERT_EQ(::lchown((dir / "shared" / "out").c_str(), 65534, 65534), 0);
  for (const char* option : {"-d", "-o"}) {
    SCOPED_TRACE(option);
    std::vector<std::string> args = {kRunner.path,
                                     "-t",
                                     (dir / "tasks.json").string(),
                                     "-d",
                                     (dir / "work").string(),
                                     "-o",
                                     (dir / "work").string()};
    fs::create_directory(dir / "work");
    const auto place = std::find(args.begin(), args.end(), option) + 1;
    *place = (dir / "shared" / "out").string();
    const auto result = runProgram(args);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Error: " + *place +
                              ": is a symbolic link that another user made in the shared folder " +
                              (dir / "shared").string() + "; it is not followed\n");
    EXPECT_TRUE(fs::is_empty(dir / "rootonly"));
  }
}

TEST(MainLog, ALogThatCannotBeCreatedEndsTheRunWithAnErrorLine) {
  TempDir dir;
  tav_test::writeFile(dir / "in.json", "[]");
  // A directory in the log file's place cannot be opened for writing, even by root.
  fs::create_directory(dir / "main.log");
  fs::create_directory(dir / "report.log");
  const auto runner = runProgram({kRunner.path, "-d", dir.path().string(), "-t",
                                  (dir / "in.json").string(), "-o", dir.path().string()});
  EXPECT_EQ(runner.status, 1);
  EXPECT_EQ(runner.err.rfind("Error: ", 0), 0u) << runner.err;
  EXPECT_NE(runner.err.find("main.log"), std::string::npos) << runner.err;

  const std::string in = (dir / "in.json").string();
  const auto checker = runProgram({kChecker.path, "-d", dir.path().string(), "-m", in, "-r", in,
                                   "-c", in, "-o", dir.path().string()});
  EXPECT_EQ(checker.status, 1);
  EXPECT_EQ(checker.err.rfind("Error: ", 0), 0u) << checker.err;
  EXPECT_NE(checker.err.find("report.log"), std::string::npos) << checker.err;
  EXPECT_EQ(std::count(checker.err.begin(), checker.err.end(), '\n'), 1) << checker.err;
}
