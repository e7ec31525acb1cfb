// Log files: the main log of each program run and the log of every tav-req child. Every
// statement of the suite logs through the process's default logger.
#pragma once

#include <spdlog/common.h>

#include <cstdint>
#include <string>

namespace tav {

// Creates "{logDir}/{fileName}" truncated, as logger `loggerName` at `level`, and makes it
// the default logger. A symbolic link, a FIFO or another user's file at that name is refused,
// never written through. On failure writes "Error: " and the reason to standard error and
// returns false.
bool createMainLog(const std::string& logDir, const std::string& fileName,
                   const std::string& loggerName, spdlog::level::level_enum level);

// "{logDir}/child-{pid}-{name}_{level}_{categories:#x}.log"
std::string childLogPath(const std::string& logDir, int pid, const std::string& userName,
                         std::uint8_t macLevel, std::uint32_t macCategories);

// Creates the child's own log (named with getpid()), flushed at every error line, and makes
// it the default logger; what is planted at its name is refused as for the main log. On failure
// writes "Error: " and the reason to standard error and returns false; the caller then ends the
// child.
bool openChildLog(const std::string& logDir, spdlog::level::level_enum level,
                  const std::string& userName, std::uint8_t macLevel, std::uint32_t macCategories);

// Writes "Error: {text}" and a line feed to standard error in one write, so that the lines of
// children failing at the same moment never mix on the standard error they share.
void writeErrorLine(const std::string& text);

// Flushes the default logger and ends the process at once, without exit handlers.
[[noreturn]] void exitChild(int status);

}  // namespace tav
