// A local HTTP server for tests of the request runner: tests/req/http_test_server.py run as a
// child process on 127.0.0.1, ended when the helper goes away.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/program.h"

namespace tav_test {

// The server's paths are listed at the top of http_test_server.py.
class HttpTestServer {
 public:
  // The Basic user that /basic accepts when no users are given.
  static constexpr const char* kUserName = "tav-user";
  static constexpr const char* kPassword = "tav-secret";

  // logFile, when not empty, receives "start PATH" and "end PATH" for every request; users are
  // "name:password" pairs that replace the default user. Throws std::runtime_error when the
  // server does not start.
  explicit HttpTestServer(const std::filesystem::path& logFile = {},
                          const std::vector<std::string>& users = {});
  ~HttpTestServer();
  HttpTestServer(const HttpTestServer&) = delete;
  HttpTestServer& operator=(const HttpTestServer&) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:{port}{path}"; path starts with "/".
  std::string url(const std::string& path) const;

 private:
  void stop();

  pid_t pid_ = -1;
  Fd stdin_;  // the server stops when this closes
  int port_ = 0;
};

// A port on 127.0.0.1 on which nothing listens, for unreachable-server cases.
int closedPort();

}  // namespace tav_test
