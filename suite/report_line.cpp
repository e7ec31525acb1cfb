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

std::string firstFew(const std::vector<std::string>& items) {
  constexpr std::size_t kFew = 5;
  std::string text;
  for (std::size_t i = 0; i < items.size() && i < kFew; ++i) {
    text += (i == 0 ? "" : ", ") + items[i];
  }
  if (items.size() > kFew) text += fmt::format(" and {} more", items.size() - kFew);
  return text;
}

}  // namespace tav_suite
