// Captures what the checker logs through the default logger as "level: message" lines, so
// tests compare exact texts and levels.
#pragma once

#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace tav_rep_test {

class LogLines {
 public:
  explicit LogLines(spdlog::level::level_enum level = spdlog::level::trace)
      : previous_(spdlog::default_logger()) {
    auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(stream_);
    sink->set_pattern("%l: %v");
    auto logger = std::make_shared<spdlog::logger>("test_logger", std::move(sink));
    logger->set_level(level);
    spdlog::set_default_logger(std::move(logger));
  }
  ~LogLines() { spdlog::set_default_logger(previous_); }
  LogLines(const LogLines&) = delete;
  LogLines& operator=(const LogLines&) = delete;

  // The lines logged so far; taking them starts the next batch empty.
  std::vector<std::string> take() {
    std::vector<std::string> lines;
    std::istringstream in(stream_.str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    stream_.str({});
    return lines;
  }

 private:
  std::ostringstream stream_;
  std::shared_ptr<spdlog::logger> previous_;
};

using Lines = std::vector<std::string>;

}  // namespace tav_rep_test
