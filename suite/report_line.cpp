#include "suite/report_line.h"

#include <fmt/format.h>

#include <iostream>

#include "common/terminal_text.h"

namespace tav_suite {

void reportFileError(const std::filesystem::path& file, const std::string& why) {
  std::cerr << tav::terminalText(fmt::format("error: {}: {}", file.string(), why)) << std::endl;
}

void reportFileWarning(const std::filesystem::path& file, const std::string& why) {
  std::cerr << tav::terminalText(fmt::format("warning: {}: {}", file.string(), why)) << std::endl;
}

}  // namespace tav_suite
