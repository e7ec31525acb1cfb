#include "suite/report_line.h"

#include <fmt/format.h>

#include <iostream>

#include "common/progress_line.h"
#include "common/terminal_text.h"

namespace tav_suite {

void reportFileError(const std::filesystem::path& file, const std::string& why) {
  tav::clearProgress();
  std::cerr << tav::terminalText(fmt::format("error: {}: {}", file.string(), why)) << std::endl;
}

void reportFileWarning(const std::filesystem::path& file, const std::string& why) {
  tav::clearProgress();
  std::cerr << tav::terminalText(fmt::format("warning: {}: {}", file.string(), why)) << std::endl;
}

std::string FirstFew::text() const {
  std::string text;
  for (std::size_t i = 0; i < first_.size(); ++i) text += (i == 0 ? "" : ", ") + first_[i];
  if (count_ > first_.size()) text += fmt::format(" and {} more", count_ - first_.size());
  return text;
}

}  // namespace tav_suite
