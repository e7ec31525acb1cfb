#include "tests/req/http_test_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <string>

#ifndef TAV_SOURCE_DIR
#error "TAV_SOURCE_DIR must name the source tree"
#endif

namespace tav_test {

namespace {

constexpr const char* kPython = "/usr/bin/python3";
constexpr int kStartTimeoutMs = 10000;

// Reads the first line of the server's output: its port.
std::string readFirstLine(int fd) {
  std::string line;
  for (;;) {
    pollfd ready{fd, POLLIN, 0};
    const int polled = poll(&ready, 1, kStartTimeoutMs);
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) throw std::runtime_error("test server did not print its port");
    char c = 0;
    const ssize_t n = read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error("test server ended before printing its port");
    if (c == '\n') return line;
    line += c;
  }
}

}  // namespace

HttpTestServer::HttpTestServer(const std::filesystem::path& logFile,
                               const std::vector<std::string>& users) {
  std::vector<std::string> argv = {kPython, TAV_SOURCE_DIR "/tests/req/http_test_server.py"};
  if (!logFile.empty()) argv.insert(argv.end(), {"--log", logFile.string()});
  for (const auto& user : users) argv.insert(argv.end(), {"--user", user});

  // Close-on-exec keeps the pipes out of every other program the test starts.
  int in[2];
  int out[2];
  if (pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  Fd inRead(in[0]);
  stdin_.reset(in[1]);
  if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  Fd outRead(out[0]);
  Fd outWrite(out[1]);
  pid_ = spawnProgram(argv, {}, {inRead.get(), outWrite.get(), -1});
  // Only the child holds the write end now, so its end shows as end of file.
  outWrite.reset();
  try {
    port_ = std::stoi(readFirstLine(outRead.get()));
  } catch (...) {
    stop();
    throw;
  }
}

HttpTestServer::~HttpTestServer() {
  stop();
}

void HttpTestServer::stop() {
  stdin_.reset();
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitForChild(pid_);
  }
  pid_ = -1;
}

std::string HttpTestServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

int closedPort() {
  // A port the kernel just handed out and nobody listens on refuses connections.
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    throw std::runtime_error("bind failed");
  }
  close(fd);
  return ntohs(address.sin_port);
}

}  // namespace tav_test
