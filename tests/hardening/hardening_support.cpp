#include "tests/hardening/hardening_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tav_test {

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
    if (key == "ShdPnd") status.pendingSignals = std::stoull(value, nullptr, 16);
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

}  // namespace tav_test
