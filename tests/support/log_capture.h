// Captures what the code under test logs through the default logger, as (level, message)
// records kept whole, for tests that assert exact levels and message texts.
#pragma once

#include <gtest/gtest.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <utility>
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

using LogRecords = std::vector<LogRecord>;

// Whether the records are exactly one, at the level of `prefix`, its message beginning with
// the message of `prefix`.
inline ::testing::AssertionResult isOneRecordStartingWith(const LogRecords& records,
                                                          const LogRecord& prefix) {
  if (records.size() != 1) {
    return ::testing::AssertionFailure()
           << records.size() << " records: " << ::testing::PrintToString(records);
  }
  if (records[0].level != prefix.level || !records[0].message.starts_with(prefix.message)) {
    return ::testing::AssertionFailure() << records[0] << " does not begin with " << prefix;
  }
  return ::testing::AssertionSuccess();
}

// Installs itself as the default logger at the level (trace unless told otherwise); the
// previous default comes back at the end of the scope.
class LogCapture {
 public:
  explicit LogCapture(spdlog::level::level_enum level = spdlog::level::trace)
      : sink_(std::make_shared<RecordingSink>()), previous_(spdlog::default_logger()) {
    auto logger = std::make_shared<spdlog::logger>("capture", sink_);
    logger->set_level(level);
    spdlog::set_default_logger(std::move(logger));
  }
  ~LogCapture() { spdlog::set_default_logger(previous_); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  const LogRecords& records() const { return sink_->records; }
  // The records so far; taking them starts the next batch empty.
  LogRecords take() { return std::exchange(sink_->records, {}); }

 private:
  std::shared_ptr<RecordingSink> sink_;
  std::shared_ptr<spdlog::logger> previous_;
};

}  // namespace tav_test
