#include "common/log_file.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <mutex>

#include "common/progress_line.h"

namespace tav {

namespace {

// Writes to a file the process already holds: the log written is the very file that was
// checked, never one reopened by its name.
class HeldFileSink final : public spdlog::sinks::base_sink<std::mutex> {
 public:
  HeldFileSink(std::FILE* file, std::string path) : file_(file), path_(std::move(path)) {}
  ~HeldFileSink() override { std::fclose(file_); }
  HeldFileSink(const HeldFileSink&) = delete;
  HeldFileSink& operator=(const HeldFileSink&) = delete;

 protected:
  void sink_it_(const spdlog::details::log_msg& message) override {
    spdlog::memory_buf_t text;
    formatter_->format(message, text);
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) {
      spdlog::throw_spdlog_ex("Failed writing to file " + path_, errno);
    }
  }
  void flush_() override {
    if (std::fflush(file_) != 0) spdlog::throw_spdlog_ex("Failed flush to file " + path_, errno);
  }

 private:
  std::FILE* file_;
  std::string path_;
};

// A run's log folder is often made writable by everyone, and the logs are root's: the log is
// opened once, without following a link or waiting on a FIFO, taken only when it is a regular
// file of this process's user, and then emptied. Null after setting `problem` to the reason.
std::FILE* openLogFile(const std::string& path, std::string& problem) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) {
    const int error = errno;
    struct stat entry {};
    // Some kernels refuse a link in a shared folder with EACCES instead of ELOOP.
    if (error == ELOOP || (lstat(path.c_str(), &entry) == 0 && S_ISLNK(entry.st_mode))) {
      problem = fmt::format("cannot log to {}: it is a symbolic link", path);
    } else if (error == ENXIO) {
      problem = fmt::format("cannot log to {}: it is not a regular file", path);
    } else {
      problem = fmt::format("Failed opening file {} for writing: {}", path, std::strerror(error));
    }
    return nullptr;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    problem = fmt::format("cannot log to {}: fstat: {}", path, std::strerror(errno));
  } else if (!S_ISREG(info.st_mode)) {
    problem = fmt::format("cannot log to {}: it is not a regular file", path);
  } else if (info.st_uid != geteuid()) {
    problem = fmt::format("cannot log to {}: it belongs to uid {}", path, info.st_uid);
  } else if (ftruncate(fd, 0) != 0) {
    problem = fmt::format("cannot log to {}: {}", path, std::strerror(errno));
  } else if (std::FILE* file = fdopen(fd, "w"); file != nullptr) {
    return file;
  } else {
    problem = fmt::format("cannot log to {}: {}", path, std::strerror(errno));
  }
  close(fd);
  return nullptr;
}

// The logger `name` writing to the checked file at `path`; null after setting `problem`.
std::shared_ptr<spdlog::logger> heldFileLogger(const std::string& name, const std::string& path,
                                               std::string& problem) {
  std::FILE* file = openLogFile(path, problem);
  if (file == nullptr) return nullptr;
  auto logger = std::make_shared<spdlog::logger>(name, std::make_shared<HeldFileSink>(file, path));
  spdlog::register_logger(logger);
  return logger;
}

}  // namespace

bool createMainLog(const std::string& logDir, const std::string& fileName,
                   const std::string& loggerName, spdlog::level::level_enum level) {
  try {
    const std::string path = fmt::format("{}/{}", logDir, fileName);
    std::string problem;
    auto logger = heldFileLogger(loggerName, path, problem);
    if (!logger) {
      std::cerr << "Error: " << problem << std::endl;
      return false;
    }
    logger->set_level(level);
    spdlog::set_default_logger(std::move(logger));
  } catch (const spdlog::spdlog_ex& error) {
    std::cerr << "Error: " << error.what() << std::endl;
    return false;
  }
  return true;
}

std::string childLogPath(const std::string& logDir, int pid, const std::string& userName,
                         std::uint8_t macLevel, std::uint32_t macCategories) {
  return fmt::format("{0}/child-{1}-{2}_{3}_{4:#x}.log", logDir, pid, userName,
                     static_cast<unsigned>(macLevel), macCategories);
}

bool openChildLog(const std::string& logDir, spdlog::level::level_enum level,
                  const std::string& userName, std::uint8_t macLevel, std::uint32_t macCategories) {
  try {
    const std::string path = childLogPath(logDir, getpid(), userName, macLevel, macCategories);
    std::string problem;
    auto logger = heldFileLogger("child_file_logger", path, problem);
    if (!logger) {
      writeErrorLine("failed to create the child log: " + problem);
      return false;
    }
    logger->set_level(level);
    logger->flush_on(spdlog::level::err);
    spdlog::set_default_logger(std::move(logger));
  } catch (const std::exception& error) {
    writeErrorLine(fmt::format("failed to create the child log: {}", error.what()));
    return false;
  }
  return true;
}

void writeErrorLine(const std::string& text) {
  // A child of tav-req inherits the runner's progress line on the terminal: its line goes over
  // the progress line, never after it.
  const std::string line = std::string(progressOn() ? "\r\033[K" : "") + "Error: " + text + "\n";
  for (std::size_t done = 0; done < line.size();) {
    const ssize_t written = write(STDERR_FILENO, line.data() + done, line.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    done += static_cast<std::size_t>(written);
  }
}

void exitChild(int status) {
  if (auto* logger = spdlog::default_logger_raw()) logger->flush();
  _exit(status);
}

}  // namespace tav
