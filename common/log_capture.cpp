#include "common/log_capture.h"

#include <spdlog/details/os.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include <utility>

namespace tav {

namespace {

// Keeps the bare message of every line it gets, with the thread that logged it.
class CapturingSink : public spdlog::sinks::base_sink<spdlog::details::null_mutex> {
 public:
  CapturingSink(std::shared_ptr<std::mutex> mutex,
                std::shared_ptr<std::vector<LogCapture::Line>> lines)
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
  std::shared_ptr<std::vector<LogCapture::Line>> lines_;
};

}  // namespace

LogCapture::LogCapture(spdlog::level::level_enum level)
    : previous_(spdlog::default_logger()),
      mutex_(std::make_shared<std::mutex>()),
      lines_(std::make_shared<std::vector<Line>>()) {
  logger_ = std::make_shared<spdlog::logger>("tav_capture",
                                             std::make_shared<CapturingSink>(mutex_, lines_));
  logger_->set_level(level);
  spdlog::set_default_logger(logger_);
}

LogCapture::~LogCapture() {
  spdlog::set_default_logger(previous_);
}

std::vector<std::string> LogCapture::take() {
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

void LogCapture::stop() {
  logger_->set_level(spdlog::level::off);
}

}  // namespace tav
