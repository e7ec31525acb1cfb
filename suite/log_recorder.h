// The loaders of tav-req and tav-rep report an unusable file through spdlog; while a recorder
// exists, the default logger keeps their lines so tav-suite can print them as its own findings.
#pragma once

#include <spdlog/logger.h>

#include <memory>
#include <string>
#include <vector>

namespace tav_suite {

class LogRecorder {
 public:
  // Installs a default logger that records lines at error level and above.
  LogRecorder();
  // Puts the previous default logger back.
  ~LogRecorder();
  LogRecorder(const LogRecorder&) = delete;
  LogRecorder& operator=(const LogRecorder&) = delete;

  // The messages recorded since the last call, oldest first.
  std::vector<std::string> take();

 private:
  std::shared_ptr<spdlog::logger> previous_;
  std::shared_ptr<std::vector<std::string>> lines_;
};

}  // namespace tav_suite
