#include "tests/hardening/hardening_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tav_hard {

json request(const std::string& uuid, const std::string& url, const std::string& auth) {
  return {{"uuid", uuid}, {"uri", url}, {"auth_type", auth}};
}

json task(const std::string& user, const std::string& label, const std::vector<json>& requests) {
  return {{"user", {{"name", user}, {"password", "pw-" + user}, {"mac_label", label}}},
          {"requests", json(requests)}};
}

Lines messages(const fs::path& log) {
  Lines result;
  for (const auto& line : tav_test::readLines(log)) {
    result.push_back(tav_test::logLevel(line) + " " + tav_test::logMessage(line));
  }
  return result;
}

Lines startingWith(const Lines& lines, const std::string& prefix) {
  Lines result;
  for (const auto& line : lines) {
    if (line.starts_with(prefix)) result.push_back(line);
  }
  return result;
}

std::map<pid_t, fs::path> childLogs(const fs::path& logDir) {
  std::map<pid_t, fs::path> logs;
  for (const auto& entry : fs::directory_iterator(logDir)) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with("child-")) continue;
    logs[static_cast<pid_t>(std::stol(name.substr(6)))] = entry.path();
  }
  return logs;
}

uid_t ownerOf(const fs::path& path) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0 ? status.st_uid : static_cast<uid_t>(-1);
}

namespace {

std::vector<long> numbers(const std::string& text) {
  std::vector<long> values;
  std::istringstream in(text);
  for (long value; in >> value;) values.push_back(value);
  return values;
}

}  // namespace

std::optional<ProcStatus> procStatus(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  if (!in) return std::nullopt;
  ProcStatus status;
  for (std::string line; std::getline(in, line);) {
    const auto colon = line.find(':');
    if (colon == std::string::npos) continue;
    const std::string key = line.substr(0, colon);
    std::string value = line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(" \t"));
    if (key == "Name") status.name = value;
    if (key == "State" && !value.empty()) status.state = value[0];
    if (key == "PPid") status.parent = static_cast<pid_t>(std::stol(value));
    if (key == "Uid") status.uids = numbers(value);
    if (key == "Gid") status.gids = numbers(value);
    if (key == "Groups") status.groups = numbers(value);
    if (key == "CapEff") status.capEffective = value;
    if (key == "CapPrm") status.capPermitted = value;
  }
  return status;
}

std::vector<pid_t> childrenOf(pid_t parent) {
  std::vector<pid_t> children;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = static_cast<pid_t>(std::stol(name));
    const auto status = procStatus(pid);
    if (status && status->parent == parent) children.push_back(pid);
  }
  return children;
}

std::string httpGet(int port, const std::string& path) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    throw std::runtime_error("connect failed");
  }
  const std::string text = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
  if (send(fd, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size())) {
    close(fd);
    throw std::runtime_error("send failed");
  }
  std::string answer;
  char buffer[4096];
  for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) != 0;) {
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    answer.append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  return answer;
}

TmpfsMount::TmpfsMount(const fs::path& where, const std::string& options) : where_(where) {
  fs::create_directories(where_);
  const bool readOnly = options == "ro";
  if (mount("tmpfs", where_.c_str(), "tmpfs", readOnly ? MS_RDONLY : 0,
            readOnly ? nullptr : options.c_str()) == 0) {
    mounted_ = true;
  } else {
    error_ = std::strerror(errno);
  }
}

TmpfsMount::~TmpfsMount() {
  if (mounted_ && umount(where_.c_str()) != 0) umount2(where_.c_str(), MNT_DETACH);
  std::error_code error;
  fs::remove(where_, error);
}

Started::Started(const std::vector<std::string>& argv,
                 const std::map<std::string, std::string>& env) {
  char outName[] = "/tmp/tav-hard-out-XXXXXX";
  char errName[] = "/tmp/tav-hard-err-XXXXXX";
  outFd_ = mkstemp(outName);
  errFd_ = mkstemp(errName);
  if (outFd_ < 0 || errFd_ < 0) throw std::runtime_error("mkstemp failed");
  unlink(outName);
  unlink(errName);
  pid_ = tav_test::spawnProgram(argv, env, outFd_, errFd_);
  if (pid_ < 0) throw std::runtime_error("fork failed");
}

Started::~Started() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    wait();
  }
  if (outFd_ >= 0) close(outFd_);
  if (errFd_ >= 0) close(errFd_);
}

namespace {

std::string readAll(int fd) {
  std::string text;
  lseek(fd, 0, SEEK_SET);
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

}  // namespace

tav_test::RunResult Started::wait() {
  tav_test::RunResult result;
  if (pid_ <= 0) return result;
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = readAll(outFd_);
  result.err = readAll(errFd_);
  return result;
}

RunFolders::RunFolders() : logDir(dir / "logs"), outDir(dir / "out") {
  fs::create_directory(logDir);
  fs::create_directory(outDir);
  // The children write here as their own users.
  fs::permissions(outDir, fs::perms::all);
}

fs::path RunFolders::writeTasks(const std::vector<json>& tasks) const {
  const fs::path path = dir / "tasks.json";
  tav_test::writeFile(path, json(tasks).dump());
  return path;
}

std::vector<std::string> RunFolders::reqArgs(const std::string& level) const {
  return {
      TAV_REQ_PATH,   "-l", level, "-d", logDir.string(), "-t", (dir / "tasks.json").string(), "-o",
      outDir.string()};
}

tav_test::RunResult RunFolders::runReq(const std::vector<json>& tasks,
                                       const std::map<std::string, std::string>& env,
                                       const std::string& level) const {
  writeTasks(tasks);
  return tav_test::runProgram(reqArgs(level), env);
}

json RunFolders::merged() const {
  return json::parse(tav_test::readFile(outDir / "responses.json"));
}

}  // namespace tav_hard
