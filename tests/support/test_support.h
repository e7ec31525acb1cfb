// Helpers shared by the tests: a temporary folder per test, whole-file reads and writes, the
// lines of log files, and (through program.h) running a built program as a real child process.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/program.h"

// Skips the test, with its reason, unless it runs as root.
#define SKIP_UNLESS_ROOT() \
  if (!tav_test::isRoot()) GTEST_SKIP() << "needs root: the programs switch users and labels"

namespace tav_test {

using Lines = std::vector<std::string>;

// A fresh folder under the system's temporary folder, removed at the end of a passing test
// and kept (with its path printed) when the test failed.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

std::string readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::string& content);
std::vector<std::string> readLines(const std::filesystem::path& path);

// The message part of a log line "[date time] [logger] [level] message".
std::string logMessage(const std::string& line);
// The level part of a log line.
std::string logLevel(const std::string& line);
// The logger part of a log line.
std::string logLogger(const std::string& line);
// "level message" of a log line.
std::string logEntry(const std::string& line);
// "level message" of every line of a log file.
Lines messages(const std::filesystem::path& log);
// The lines of `lines` that begin with `prefix`.
Lines startingWith(const Lines& lines, const std::string& prefix);

// The owner of the directory entry itself (a symbolic link is not followed), or -1.
uid_t ownerOf(const std::filesystem::path& path);

bool isRoot();

}  // namespace tav_test
