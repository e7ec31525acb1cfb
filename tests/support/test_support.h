// Helpers shared by the tests: a temporary folder per test, whole-file reads and writes, and
// running a built program as a real child process.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace tav_test {

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

struct RunResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

// Starts the program with the arguments (argv[0] is the program) and the extra environment
// entries, its standard output and error going to the two descriptors and standard input
// reading /dev/null. Returns the child's pid, or -1 when fork fails.
pid_t spawnProgram(const std::vector<std::string>& argv,
                   const std::map<std::string, std::string>& extraEnv, int outFd, int errFd);

// Runs the program with the arguments (argv[0] is the program) and the extra environment
// entries; standard input is /dev/null.
RunResult runProgram(const std::vector<std::string>& argv,
                     const std::map<std::string, std::string>& extraEnv = {});

bool isRoot();

}  // namespace tav_test
