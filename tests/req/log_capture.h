// Captures what the code under test logs through the default logger, as (level, message)
// pairs, for tests that assert exact message texts.
#pragma once

#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tav_test {

struct LogRecord {
  std::string level;  // spdlog's level name: "info", "warning", "critical", ...
  std::string message;
  bool operator==(const LogRecord&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const LogRecord& record) {
  return out << "[" << record.level << "] " << record.message;
}

class RecordingSink : public spdlog::sinks::base_sink<std::mutex> {
 public:
  std::vector<LogRecord> records;

 protected:
  void sink_it_(const spdlog::details::log_msg& message) override {
    const auto level = spdlog::level::to_string_view(message.level);
    records.push_back({std::string(level.data(), level.size()),
                       std::string(message.payload.data(), message.payload.size())});
  }
  void flush_() override {}
};

// Installs itself as the default logger at trace level; the previous default comes back at the
// end of the scope.
class LogCapture {
 public:
  LogCapture() : sink_(std::make_shared<RecordingSink>()), previous_(spdlog::default_logger()) {
    auto logger = std::make_shared<spdlog::logger>("capture", sink_);
    logger->set_level(spdlog::level::trace);
    spdlog::set_default_logger(std::move(logger));
  }
  ~LogCapture() { spdlog::set_default_logger(previous_); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  const std::vector<LogRecord>& records() const { return sink_->records; }

 private:
  std::shared_ptr<RecordingSink> sink_;
  std::shared_ptr<spdlog::logger> previous_;
};

}  // namespace tav_test
