#include <gtest/gtest.h>
#include <spdlog/spdlog.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "common/log_file.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using tav_test::TempDir;

namespace {

class LogFileTest : public ::testing::Test {
 protected:
  void TearDown() override { spdlog::drop_all(); }
  TempDir dir;
};

}  // namespace

TEST_F(LogFileTest, MainLogLinesHaveTheDefaultPattern) {
  ASSERT_TRUE(
      tav::createMainLog(dir.path().string(), "main.log", "base_file_logger", spdlog::level::info));
  spdlog::debug("hidden");
  spdlog::info("shown {}", 1);
  spdlog::warn("careful");
  spdlog::drop_all();  // closes the file

  const auto lines = tav_test::readLines(dir / "main.log");
  ASSERT_EQ(lines.size(), 2u);
  const std::regex pattern(
      R"(^\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3}\] \[base_file_logger\] \[info\] shown 1$)");
  EXPECT_TRUE(std::regex_match(lines[0], pattern)) << lines[0];
  EXPECT_EQ(tav_test::logLevel(lines[1]), "warning");
  EXPECT_EQ(tav_test::logMessage(lines[1]), "careful");
}

TEST_F(LogFileTest, MainLogIsTruncatedAndLevelOffWritesNothing) {
  tav_test::writeFile(dir / "report.log", "old content\n");
  ASSERT_TRUE(
      tav::createMainLog(dir.path().string(), "report.log", "report_logger", spdlog::level::off));
  EXPECT_EQ(spdlog::get_level(), spdlog::level::off);
  spdlog::critical("not written");
  spdlog::drop_all();
  EXPECT_EQ(tav_test::readFile(dir / "report.log"), "");
}

TEST_F(LogFileTest, ErrorLevelKeepsOnlyErrorsAndCriticals) {
  ASSERT_TRUE(
      tav::createMainLog(dir.path().string(), "main.log", "base_file_logger", spdlog::level::err));
  spdlog::warn("w");
  spdlog::error("e");
  spdlog::critical("c");
  spdlog::drop_all();
  const auto lines = tav_test::readLines(dir / "main.log");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(tav_test::logLevel(lines[0]), "error");
  EXPECT_EQ(tav_test::logLevel(lines[1]), "critical");
}

TEST(ChildLogPath, FormatsPidUserLevelAndHexCategories) {
  EXPECT_EQ(tav::childLogPath("/tmp/logs", 4242, "alice", 2, 0),
            "/tmp/logs/child-4242-alice_2_0x0.log");
  EXPECT_EQ(tav::childLogPath("/var/log/t", 4711, "u1", 2, 3),
            "/var/log/t/child-4711-u1_2_0x3.log");
  EXPECT_EQ(tav::childLogPath("d", 1, "bob", 255, 0xffffffffu), "d/child-1-bob_255_0xffffffff.log");
}

TEST_F(LogFileTest, ChildLogKeepsEveryLineAfterExitChild) {
  const std::string logDir = dir.path().string();
  int childPid = 0;
  const int status = tav_test::runInChild([&] {
    if (!tav::openChildLog(logDir, spdlog::level::debug, "alice", 2, 0x1f)) return 3;
    spdlog::debug("detail");
    spdlog::info("result");
    tav::exitChild(7);
    return 99;
  });
  EXPECT_EQ(status, 7);
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    const std::string name = entry.path().filename().string();
    ASSERT_TRUE(std::regex_match(name, std::regex(R"(child-(\d+)-alice_2_0x1f\.log)"))) << name;
    childPid = std::stoi(name.substr(6));
    const auto lines = tav_test::readLines(entry.path());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(tav_test::logLogger(lines[0]), "child_file_logger");
    EXPECT_EQ(tav_test::logMessage(lines[0]), "detail");
    EXPECT_EQ(tav_test::logMessage(lines[1]), "result");
  }
  EXPECT_GT(childPid, 0);
}

TEST_F(LogFileTest, ChildLogHasErrorLinesOnDiskAtOnce) {
  const std::string logDir = dir.path().string();
  const int status = tav_test::runInChild([&] {
    if (!tav::openChildLog(logDir, spdlog::level::info, "bob", 0, 0)) return 3;
    spdlog::info("buffered");
    spdlog::error("failed step");
    raise(SIGKILL);  // no flush on the way out
    return 99;
  });
  EXPECT_EQ(status, 128 + SIGKILL);
  const auto entries = fs::directory_iterator(dir.path());
  const fs::path log = entries->path();
  EXPECT_NE(log.filename().string().find("_0_0x0.log"), std::string::npos);
  const auto lines = tav_test::readLines(log);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(tav_test::logMessage(lines[1]), "failed step");
}

TEST_F(LogFileTest, ChildLogThatCannotBeCreatedIsReported) {
  // A regular file where the log directory should be.
  tav_test::writeFile(dir / "file", "");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(tav::openChildLog((dir / "file").string(), spdlog::level::info, "a", 1, 1));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.rfind("Error: failed to create the child log: ", 0), 0u) << err;
}

TEST_F(LogFileTest, MainLogThatCannotBeCreatedIsReported) {
  fs::create_directory(dir / "main.log");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(
      tav::createMainLog(dir.path().string(), "main.log", "base_file_logger", spdlog::level::info));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.rfind("Error: ", 0), 0u) << err;
  EXPECT_NE(err.find((dir / "main.log").string()), std::string::npos) << err;
}

// A run's log folder is often writable by everyone: a link, a FIFO or another user's file
// planted at a log's name is refused with the reason, and nothing is written through it.
TEST_F(LogFileTest, WhatIsPlantedAtALogsNameIsRefusedAndLeftAlone) {
  const std::string logDir = dir.path().string();
  const fs::path victim = dir / "victim";
  tav_test::writeFile(victim, "keep");
  fs::create_symlink(victim, dir / "main.log");
  ASSERT_EQ(mkfifo((dir / "fifo.log").c_str(), 0666), 0);
  const std::string child = tav::childLogPath(logDir, getpid(), "a", 1, 1);
  fs::create_symlink(victim, child);
  std::vector<std::pair<std::function<bool()>, std::string>> cases = {
      {[&] { return tav::createMainLog(logDir, "main.log", "m", spdlog::level::info); },
       "Error: cannot log to " + logDir + "/main.log: it is a symbolic link\n"},
      {[&] { return tav::createMainLog(logDir, "fifo.log", "f", spdlog::level::info); },
       "Error: cannot log to " + logDir + "/fifo.log: it is not a regular file\n"},
      {[&] { return tav::openChildLog(logDir, spdlog::level::info, "a", 1, 1); },
       "Error: failed to create the child log: cannot log to " + child +
           ": it is a symbolic link\n"}};
  if (tav_test::isRoot()) {
    tav_test::writeFile(dir / "other.log", "nobody's");
    ASSERT_EQ(chown((dir / "other.log").c_str(), 65534, 65534), 0);
    cases.push_back(
        {[&] { return tav::createMainLog(logDir, "other.log", "o", spdlog::level::info); },
         "Error: cannot log to " + logDir + "/other.log: it belongs to uid 65534\n"});
  }
  for (const auto& [open, message] : cases) {
    testing::internal::CaptureStderr();
    EXPECT_FALSE(open());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), message);
  }
  EXPECT_EQ(tav_test::readFile(victim), "keep");
  if (tav_test::isRoot()) {
    EXPECT_EQ(tav_test::readFile(dir / "other.log"), "nobody's");
  }
}
