// Runs the built tav-rep on files in a temporary folder and compares report.json byte for byte
// and report.log line by line, for a passing run and for every way a run can end early.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using nlohmann::json;
using tav_test::readFile;
using tav_test::writeFile;

namespace {

using tav_test::Lines;

json metadataEntry(const std::string& uuid, const std::string& subject, const std::string& object,
                   bool expectIgnore = false) {
  return {{"uuid", uuid},
          {"object_label", object},
          {"subject_label", subject},
          {"min_mac_label", "1:1"},
          {"max_mac_label", "3:7"},
          {"expect_ignore_mac_label", expectIgnore}};
}

json responseEntry(const std::string& uuid, int code, const std::string& body) {
  return {{"uuid", uuid}, {"code", code}, {"body", body}};
}

const json kConfig = {{"check_body", true},
                      {"body_template", "level {subj_mac_lev}"},
                      {"allowed_codes", {200}},
                      {"denied_codes", {403}}};

class RepE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(logDir);
    fs::create_directory(outDir);
  }

  void writeInputs(const std::string& metadata, const std::string& responses,
                   const std::string& config = kConfig.dump()) {
    writeFile(metadataPath, metadata);
    writeFile(responsesPath, responses);
    writeFile(configPath, config);
  }

  tav_test::RunResult run(const std::string& level = "info",
                          const std::map<std::string, std::string>& env = {}) {
    return tav_test::runProgram(
        {TAV_REP_PATH, "-l", level, "-d", logDir.string(), "-m", metadataPath.string(), "-r",
         responsesPath.string(), "-c", configPath.string(), "-o", outDir.string()},
        env);
  }

  // "level message" of every line of report.log; every line must come from report_logger.
  Lines logLines() {
    Lines lines;
    for (const std::string& line : tav_test::readLines(logDir / "report.log")) {
      EXPECT_EQ(tav_test::logLogger(line), "report_logger") << line;
      lines.push_back(tav_test::logEntry(line));
    }
    return lines;
  }

  std::string savedLine() const {
    return "info saved result to " + (outDir / "report.json").string();
  }

  tav_test::TempDir dir;
  fs::path logDir = dir / "log";
  fs::path outDir = dir / "out";
  fs::path metadataPath = dir / "metadata.json";
  fs::path responsesPath = dir / "responses.json";
  fs::path configPath = dir / "config.json";
};

// Watches files for being opened while the test runs something.
class OpenWatch {
 public:
  explicit OpenWatch(const std::vector<fs::path>& paths) : fd_(inotify_init1(IN_NONBLOCK)) {
    for (const fs::path& path : paths) inotify_add_watch(fd_, path.c_str(), IN_OPEN);
  }
  ~OpenWatch() { close(fd_); }
  OpenWatch(const OpenWatch&) = delete;
  OpenWatch& operator=(const OpenWatch&) = delete;

  bool sawOpen() const {
    alignas(inotify_event) char buffer[4096];
    return fd_ >= 0 && read(fd_, buffer, sizeof buffer) > 0;
  }

 private:
  int fd_;
};

}  // namespace

TEST_F(RepE2eTest, WritesTheReportAndOnlyTheSavedLineAtInfo) {
  writeInputs(
      json{metadataEntry("pass-granted", "2:3", "1:1"), metadataEntry("pass-refused", "2:3", "3:1"),
           metadataEntry("fail-body", "2:3", "1:1"), metadataEntry("ignored", "4:3", "1:1", true)}
          .dump(),
      json{responseEntry("pass-granted", 200, "<b>level 2</b>"),
           responseEntry("pass-refused", 403, ""), responseEntry("fail-body", 200, "level 3"),
           responseEntry("ignored", 200, ""), responseEntry("", 0, "")}
          .dump(2));
  const auto result = run();
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(
      readFile(outDir / "report.json"),
      "{\n  \"failed_uuids\": [\n    \"\",\n    \"fail-body\"\n  ],\n  \"total_count\": 5\n}");
  // The empty identifier has no labels: the parse failure is critical.
  EXPECT_EQ(logLines(), (Lines{"critical failed to parse mac label !", savedLine()}));
}

TEST_F(RepE2eTest, DebugLevelLogsEveryEntryBeforeTheSavedLine) {
  writeInputs(json{metadataEntry("a", "2:3", "1:1"), metadataEntry("b", "2:3", "3:1")}.dump(),
              json{responseEntry("a", 200, "level 2"), responseEntry("b", 200, "")}.dump());
  const auto result = run("debug");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(readFile(outDir / "report.json"),
            "{\n  \"failed_uuids\": [\n    \"b\"\n  ],\n  \"total_count\": 2\n}");
  Lines lines = logLines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines.back(), savedLine());
  // Entries come in the table's order; each entry's lines stay together.
  Lines a = {"debug validate uuid a: 2:3 -> 1:1 & 3:7 = true, code = 200",
             "debug check uuid a: 2:3 -> 1:1 = true, code = 200"};
  Lines b = {"debug validate uuid b: 2:3 -> 1:1 & 3:7 = true, code = 200",
             "debug check uuid b: 2:3 -> 3:1 = false, code = 200"};
  const Lines first(lines.begin(), lines.begin() + 2);
  const Lines second(lines.begin() + 2, lines.begin() + 4);
  EXPECT_TRUE((first == a && second == b) || (first == b && second == a))
      << ::testing::PrintToString(lines);
}

TEST_F(RepE2eTest, EveryEntryFailingStillEndsWithStatusZero) {
  writeInputs(json{metadataEntry("x", "2:3", "1:1"), metadataEntry("y", "0:0", "1:1")}.dump(),
              "[]");
  const auto result = run();
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(readFile(outDir / "report.json"),
            "{\n  \"failed_uuids\": [\n    \"x\",\n    \"y\"\n  ],\n  \"total_count\": 2\n}");
  EXPECT_EQ(logLines(), Lines{savedLine()});
}

TEST_F(RepE2eTest, NothingFailingWritesAnEmptyArray) {
  writeInputs(json{metadataEntry("a", "2:3", "1:1"), metadataEntry("b", "2:3", "3:1"),
                   metadataEntry("c", "2:3", "3:1", true)}
                  .dump(),
              json{responseEntry("a", 200, "level 2"), responseEntry("b", 403, ""),
                   responseEntry("c", 200, "level 2")}
                  .dump());
  EXPECT_EQ(run("off").status, 0);
  EXPECT_EQ(readFile(outDir / "report.json"),
            "{\n  \"failed_uuids\": [],\n  \"total_count\": 3\n}");
  EXPECT_TRUE(fs::exists(logDir / "report.log"));
  EXPECT_EQ(readFile(logDir / "report.log"), "");
}

TEST_F(RepE2eTest, UnusableConfigEndsTheRunBeforeTheDataFilesAreOpened) {
  const std::string data = json{metadataEntry("a", "2:3", "1:1")}.dump();
  writeInputs(data, "[]", "{\"check_body\": true,");
  {
    OpenWatch watch({metadataPath, responsesPath});
    const auto result = run();
    EXPECT_EQ(result.status, 1);
    EXPECT_FALSE(watch.sawOpen());
  }
  EXPECT_FALSE(fs::exists(outDir / "report.json"));
  EXPECT_EQ(
      logLines(),
      Lines{"critical Failed to parse config: [json.exception.parse_error.101] parse error at "
            "line 1, column 21: syntax error while parsing object key - unexpected end of "
            "input; expected string literal; exception id 101; byte position of error: 21"});

  json badTemplate = kConfig;
  badTemplate["body_template"] = "level {level}";
  writeFile(configPath, badTemplate.dump());
  {
    OpenWatch watch({metadataPath, responsesPath});
    EXPECT_EQ(run().status, 1);
    EXPECT_FALSE(watch.sawOpen());
  }
  EXPECT_EQ(logLines(), Lines{"critical Failed to parse config: body_template \"level {level}\" "
                              "cannot be formatted: argument not found"});

  // With a usable configuration the same watch sees the data files being read.
  writeFile(configPath, kConfig.dump());
  OpenWatch watch({metadataPath, responsesPath});
  EXPECT_EQ(run().status, 0);
  EXPECT_TRUE(watch.sawOpen());
}

TEST_F(RepE2eTest, UnusableDataEndsTheRunWithoutAReport) {
  // The per-task form of a responses file, with its entries under "tasks".
  writeInputs(json{metadataEntry("a", "2:3", "1:1")}.dump(),
              json{{"tasks", {responseEntry("a", 200, "level 2")}}}.dump());
  EXPECT_EQ(run().status, 1);
  EXPECT_FALSE(fs::exists(outDir / "report.json"));
  EXPECT_EQ(logLines(), Lines{"critical Failed to parse data: [json.exception.type_error.305] "
                              "cannot use operator[] with a string argument with array; "
                              "exception id 305"});

  writeFile(metadataPath, std::string(200000, '[') + std::string(200000, ']'));
  writeFile(responsesPath, "[]");
  const auto result = run();
  EXPECT_EQ(result.status, 1) << result.err;
  EXPECT_EQ(logLines(), Lines{"critical Failed to parse data: [json.exception.type_error.305] "
                              "cannot use operator[] with a string argument with array; "
                              "exception id 305"});
}

TEST_F(RepE2eTest, NoEntriesEndsTheRunSilently) {
  writeInputs("[]", "[]");
  EXPECT_EQ(run("trace").status, 1);
  EXPECT_FALSE(fs::exists(outDir / "report.json"));
  EXPECT_TRUE(fs::exists(logDir / "report.log"));
  EXPECT_EQ(readFile(logDir / "report.log"), "");
}

TEST_F(RepE2eTest, ReportThatCannotBeSavedEndsWithStatusOne) {
  writeInputs(json{metadataEntry("a", "2:3", "1:1")}.dump(),
              json{responseEntry("a", 200, "level 2")}.dump());
  const std::string path = (outDir / "report.json").string();

  // A folder in the report's place is refused.
  fs::create_directory(outDir / "report.json");
  EXPECT_EQ(run().status, 1);
  EXPECT_EQ(logLines(), Lines{"error failed to save file " + path + ": is a folder; name a file"});
  fs::remove(outDir / "report.json");

  // A full device takes the open and loses the text.
  SKIP_UNLESS_ROOT();
  ASSERT_EQ(mknod((dir / "full").c_str(), S_IFCHR | 0666, makedev(1, 7)), 0);
  fs::create_symlink(dir / "full", outDir / "report.json");
  EXPECT_EQ(run().status, 1);
  EXPECT_EQ(logLines(),
            Lines{"error failed to save file " + path + ": cannot write: No space left on device"});
}

// The example's output and log folders are mode 1777: a link that another user planted there at
// report.json's or report.log's name never leads root's tav-rep to overwrite what it points to.
TEST_F(RepE2eTest, LinksAnotherUserPlantedInTheSharedFoldersAreNotWrittenThrough) {
  SKIP_UNLESS_ROOT();
  writeInputs(json{metadataEntry("a", "2:3", "1:1")}.dump(),
              json{responseEntry("a", 200, "level 2")}.dump());
  fs::permissions(outDir, fs::perms::all | fs::perms::sticky_bit);
  fs::permissions(logDir, fs::perms::all | fs::perms::sticky_bit);
  const fs::path victim = dir / "victim";
  writeFile(victim, "keep");
  const auto plant = [&](const fs::path& at) {
    fs::create_symlink(victim, at);
    ASSERT_EQ(lchown(at.c_str(), 65534, 65534), 0);
  };

  plant(outDir / "report.json");
  EXPECT_EQ(run().status, 1);
  EXPECT_EQ(readFile(victim), "keep");
  EXPECT_EQ(logLines(), Lines{"error failed to save file " + (outDir / "report.json").string() +
                              ": is a symbolic link that another user made in the shared folder " +
                              outDir.string() + "; it is not followed"});

  fs::remove(logDir / "report.log");
  plant(logDir / "report.log");
  const auto result = run();
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(readFile(victim), "keep");
  EXPECT_EQ(result.err, "Error: cannot log to " + (logDir / "report.log").string() +
                            ": it is a symbolic link\n");
  EXPECT_TRUE(fs::is_symlink(outDir / "report.json"));
}

// The output folder is another user's, who links report.json to a file of root's.
TEST_F(RepE2eTest, AReportLinkAnotherUserMadeIsNotFollowed) {
  SKIP_UNLESS_ROOT();
  writeInputs(json{metadataEntry("a", "2:3", "1:1")}.dump(),
              json{responseEntry("a", 200, "level 2")}.dump());
  tav_test::writeFile(dir / "precious", "keep");
  ASSERT_EQ(::chown(outDir.c_str(), 65534, 65534), 0);
  fs::create_symlink(dir / "precious", outDir / "report.json");
  ASSERT_EQ(::lchown((outDir / "report.json").c_str(), 65534, 65534), 0);
  EXPECT_EQ(run().status, 1);
  EXPECT_EQ(logLines(), Lines{"error failed to save file " + (outDir / "report.json").string() +
                              ": is a symbolic link that another user (uid 65534) made; it is "
                              "not followed"});
  EXPECT_EQ(readFile(dir / "precious"), "keep");
}

TEST_F(RepE2eTest, LogThatCannotBeCreatedEndsTheRunOnStandardError) {
  writeInputs(json{metadataEntry("a", "2:3", "1:1")}.dump(),
              json{responseEntry("a", 200, "level 2")}.dump());
  fs::create_directory(logDir / "report.log");
  const auto result = run();
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err.rfind("Error: ", 0), 0u) << result.err;
  EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
  EXPECT_TRUE(fs::is_empty(outDir));
}

TEST_F(RepE2eTest, RejectedCommandLineCreatesNothing) {
  writeInputs("[]", "[]");
  const auto result = tav_test::runProgram(
      {TAV_REP_PATH, "-d", logDir.string(), "-m", metadataPath.string(), "-r",
       responsesPath.string(), "-c", configPath.string(), "-o", (dir / "none").string()});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("Value must name an existing directory."), std::string::npos)
      << result.err;
  EXPECT_TRUE(fs::is_empty(logDir));
}

TEST_F(RepE2eTest, LabelLibraryWithoutLabelsFailsEveryEntryAndSaysWhy) {
  writeInputs(json{metadataEntry("a", "2:3", "1:1")}.dump(),
              json{responseEntry("a", 200, "level 2")}.dump());
  const auto result = run("debug", {{"ZEM_STANDIN_FAIL", "zeml_get_new_init_mac"}});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(readFile(outDir / "report.json"),
            "{\n  \"failed_uuids\": [\n    \"a\"\n  ],\n  \"total_count\": 1\n}");
  EXPECT_EQ(logLines(), (Lines{"error zeml_get_new_init_mac failed for mac label 2:3",
                               "debug failed to validate a", savedLine()}));
}

TEST_F(RepE2eTest, SecondRunReplacesTheLogAndTheReport) {
  writeInputs(json{metadataEntry("a", "2:3", "1:1")}.dump(),
              json{responseEntry("a", 500, "")}.dump());
  EXPECT_EQ(run("debug").status, 0);
  EXPECT_EQ(logLines().size(), 3u);
  writeFile(responsesPath, json{responseEntry("a", 200, "level 2")}.dump());
  EXPECT_EQ(run().status, 0);
  EXPECT_EQ(logLines(), Lines{savedLine()});
  EXPECT_EQ(readFile(outDir / "report.json"),
            "{\n  \"failed_uuids\": [],\n  \"total_count\": 1\n}");
}
