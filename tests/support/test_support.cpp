#include "tests/support/test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
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

std::string logEntry(const std::string& line) {
  return logLevel(line) + " " + logMessage(line);
}

Lines messages(const std::filesystem::path& log) {
  Lines result;
  for (const auto& line : readLines(log)) result.push_back(logEntry(line));
  return result;
}

Lines startingWith(const Lines& lines, const std::string& prefix) {
  Lines result;
  for (const auto& line : lines) {
    if (line.starts_with(prefix)) result.push_back(line);
  }
  return result;
}

uid_t ownerOf(const std::filesystem::path& path) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0 ? status.st_uid : static_cast<uid_t>(-1);
}

bool isRoot() {
  return geteuid() == 0;
}

}  // namespace tav_test
