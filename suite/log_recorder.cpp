#include "suite/log_recorder.h"

#include <spdlog/details/os.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include <utility>

namespace tav_suite {

namespace {

// Keeps the bare message of every line it gets, with the thread that logged it.
class RecordingSink : public spdlog::sinks::base_sink<spdlog::details::null_mutex> {
 public:
  RecordingSink(std::shared_ptr<std::mutex> mutex,
                std::shared_ptr<std::vector<LogRecorder::Line>> lines)
      : mutex_(std::move(mutex)), lines_(std::move(lines)) {}

 protected:
  void sink_it_(const spdlog::details::log_msg& message) override {
    const std::lock_guard<std::mutex> lock(*mutex_);
    lines_->push_back(
        {message.thread_id, std::string(message.payload.data(), message.payload.size())});
  }
  void flush_() override {}

 private:
  std::shared_ptr<std::mutex> mutex_;
  std::shared_ptr<std::vector<LogRecorder::Line>> lines_;
};

}  // namespace

LogRecorder::LogRecorder()
    : previous_(spdlog::default_logger()),
      mutex_(std::make_shared<std::mutex>()),
      lines_(std::make_shared<std::vector<Line>>()) {
  auto logger = std::make_shared<spdlog::logger>("tav_suite",
                                                 std::make_shared<RecordingSink>(mutex_, lines_));
  logger->set_level(spdlog::level::err);
  spdlog::set_default_logger(std::move(logger));
}

LogRecorder::~LogRecorder() {
  spdlog::set_default_logger(previous_);
}

std::vector<std::string> LogRecorder::take() {
  const std::size_t self = spdlog::details::os::thread_id();
  const std::lock_guard<std::mutex> lock(*mutex_);
  std::vector<std::string> mine;
  std::vector<Line> others;
  for (Line& line : *lines_) {
    if (line.thread == self) {
      mine.push_back(std::move(line.message));
    } else {
      others.push_back(std::move(line));
    }
  }
  lines_->swap(others);
  return mine;
}

}  // namespace tav_suite
