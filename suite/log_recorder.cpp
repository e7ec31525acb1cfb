#include "suite/log_recorder.h"

#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include <mutex>
#include <utility>

namespace tav_suite {

namespace {

// Keeps the bare message of every line it gets.
class RecordingSink : public spdlog::sinks::base_sink<spdlog::details::null_mutex> {
 public:
  explicit RecordingSink(std::shared_ptr<std::vector<std::string>> lines)
      : lines_(std::move(lines)) {}

 protected:
  void sink_it_(const spdlog::details::log_msg& message) override {
    lines_->emplace_back(message.payload.data(), message.payload.size());
  }
  void flush_() override {}

 private:
  std::shared_ptr<std::vector<std::string>> lines_;
};

}  // namespace

LogRecorder::LogRecorder()
    : previous_(spdlog::default_logger()), lines_(std::make_shared<std::vector<std::string>>()) {
  auto logger =
      std::make_shared<spdlog::logger>("tav_suite", std::make_shared<RecordingSink>(lines_));
  logger->set_level(spdlog::level::err);
  spdlog::set_default_logger(std::move(logger));
}

LogRecorder::~LogRecorder() {
  spdlog::set_default_logger(previous_);
}

std::vector<std::string> LogRecorder::take() {
  std::vector<std::string> lines;
  lines.swap(*lines_);
  return lines;
}

}  // namespace tav_suite
