#include "common/log_file.h"

#include <fmt/format.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>

namespace tav {

bool createMainLog(const std::string& logDir, const std::string& fileName,
                   const std::string& loggerName, spdlog::level::level_enum level) {
  try {
    const std::string path = fmt::format("{}/{}", logDir, fileName);
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
  const std::string line = "Error: " + text + "\n";
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
