// The loaders of tav-req and tav-rep report an unusable file through spdlog. While a capture
// exists, the default logger keeps their lines, with the thread that logged each, so tav-view
// and tav-suite can word them as their own; two loaders may run side by side.
#pragma once

#include <spdlog/logger.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tav {

class LogCapture {
 public:
  // Installs a default logger that keeps the lines at `level` and above, from any thread.
  explicit LogCapture(spdlog::level::level_enum level = spdlog::level::err);
  // Puts the previous default logger back.
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // The messages the calling thread logged since its last call, oldest first.
  std::vector<std::string> take();

  // Keeps nothing from now on; the lines of a run's decisions would only cost time.
  void stop();

  // A line and the thread that logged it.
  struct Line {
    std::size_t thread = 0;
    std::string message;
  };

 private:
  std::shared_ptr<spdlog::logger> previous_;
  std::shared_ptr<spdlog::logger> logger_;
  std::shared_ptr<std::mutex> mutex_;
  std::shared_ptr<std::vector<Line>> lines_;
};

}  // namespace tav
