// The loaders of tav-req and tav-rep report an unusable file through spdlog; while a recorder
// exists, the default logger keeps their lines so tav-suite can print them as its own findings.
#pragma once

#include <spdlog/logger.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tav_suite {

class LogRecorder {
 public:
  // Installs a default logger that records lines at error level and above, from any thread.
  LogRecorder();
  // Puts the previous default logger back.
  ~LogRecorder();
  LogRecorder(const LogRecorder&) = delete;
  LogRecorder& operator=(const LogRecorder&) = delete;

  // The messages the calling thread logged since its last call, oldest first.
  std::vector<std::string> take();

  // A line and the thread that logged it.
  struct Line {
    std::size_t thread = 0;
    std::string message;
  };

 private:
  std::shared_ptr<spdlog::logger> previous_;
  std::shared_ptr<std::mutex> mutex_;
  std::shared_ptr<std::vector<Line>> lines_;
};

}  // namespace tav_suite
