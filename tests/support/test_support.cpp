#include "tests/support/test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

namespace tav_test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tav-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
  // Children switch to other users; they must reach the folder.
  std::filesystem::permissions(path_, std::filesystem::perms::all);
}

TempDir::~TempDir() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  if (info != nullptr && info->result()->Failed()) {
    std::cerr << "kept test folder " << path_ << "\n";
    return;
  }
  std::error_code error;
  std::filesystem::remove_all(path_, error);
}

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const std::filesystem::path& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::vector<std::string> readLines(const std::filesystem::path& path) {
  std::vector<std::string> lines;
  std::istringstream in(readFile(path));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

namespace {

// The n-th bracketed field of a log line and where it ends.
std::string bracketField(const std::string& line, int n, std::size_t* end = nullptr) {
  std::size_t pos = 0;
  for (int i = 0; i <= n; ++i) {
    const std::size_t open = line.find('[', pos);
    const std::size_t close = line.find(']', open);
    if (open == std::string::npos || close == std::string::npos) return {};
    if (i == n) {
      if (end != nullptr) *end = close + 1;
      return line.substr(open + 1, close - open - 1);
    }
    pos = close + 1;
  }
  return {};
}

}  // namespace

std::string logMessage(const std::string& line) {
  std::size_t end = 0;
  bracketField(line, 2, &end);
  return end < line.size() ? line.substr(end + 1) : std::string();
}

std::string logLevel(const std::string& line) {
  return bracketField(line, 2);
}

std::string logLogger(const std::string& line) {
  return bracketField(line, 1);
}

namespace {

std::string drain(int fd) {
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) != 0;) {
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

}  // namespace

pid_t spawnProgram(const std::vector<std::string>& argv,
                   const std::map<std::string, std::string>& extraEnv, int outFd, int errFd) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int nullFd = open("/dev/null", O_RDONLY);
    dup2(nullFd, 0);
    dup2(outFd, 1);
    dup2(errFd, 2);
    for (const auto& [key, value] : extraEnv) setenv(key.c_str(), value.c_str(), 1);
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  return pid;
}

RunResult runProgram(const std::vector<std::string>& argv,
                     const std::map<std::string, std::string>& extraEnv) {
  // Output goes through files, so a chatty program never blocks on a full pipe.
  char outName[] = "/tmp/tav-run-out-XXXXXX";
  char errName[] = "/tmp/tav-run-err-XXXXXX";
  const int outFd = mkstemp(outName);
  const int errFd = mkstemp(errName);
  unlink(outName);
  unlink(errName);

  const pid_t pid = spawnProgram(argv, extraEnv, outFd, errFd);
  RunResult result;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  lseek(outFd, 0, SEEK_SET);
  lseek(errFd, 0, SEEK_SET);
  result.out = drain(outFd);
  result.err = drain(errFd);
  close(outFd);
  close(errFd);
  return result;
}

bool isRoot() {
  return geteuid() == 0;
}

}  // namespace tav_test
