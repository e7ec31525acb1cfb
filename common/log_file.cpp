#include "common/log_file.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "common/progress_line.h"

namespace tav {

namespace {

// A run's log folder is often made writable by everyone, and the logs are root's: what is at
// the log's name is opened once without following a link or waiting on a FIFO, and taken only
// when it is a regular file of this process's user. The file sink then opens that same file by
// name; in a sticky folder nobody else can replace it meanwhile. Empty when the name is fine or
// the open failed for a reason the file sink goes on to report itself.
std::string plantedProblem(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (errno == ELOOP) return "it is a symbolic link";
    return errno == ENXIO ? "it is not a regular file" : "";
  }
  struct stat info {};
  std::string problem;
  if (fstat(fd, &info) != 0) {
    problem = fmt::format("fstat: {}", std::strerror(errno));
  } else if (!S_ISREG(info.st_mode)) {
    problem = "it is not a regular file";
  } else if (info.st_uid != geteuid()) {
    problem = fmt::format("it belongs to uid {}", info.st_uid);
  }
  close(fd);
  return problem;
}

}  // namespace

bool createMainLog(const std::string& logDir, const std::string& fileName,
                   const std::string& loggerName, spdlog::level::level_enum level) {
  try {
    const std::string path = fmt::format("{}/{}", logDir, fileName);
    if (const std::string problem = plantedProblem(path); !problem.empty()) {
      std::cerr << "Error: cannot log to " << path << ": " << problem << std::endl;
      return false;
    }
    auto logger = spdlog::basic_logger_mt(loggerName, path, true);
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
    if (const std::string problem = plantedProblem(path); !problem.empty()) {
      writeErrorLine(
          fmt::format("failed to create the child log: cannot log to {}: {}", path, problem));
      return false;
    }
    auto logger = spdlog::basic_logger_mt("child_file_logger", path, true);
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
