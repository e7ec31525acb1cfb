#include "mac_label.h"

#include <spdlog/spdlog.h>

#include <stdexcept>

namespace tav_rep {

std::optional<MacLabel> parseMacLabel(const std::string& text) {
  const std::size_t first = text.find(':');
  if (first != std::string::npos) {
    // Parts after the second are ignored.
    const std::size_t second = text.find(':', first + 1);
    const std::string levelPart = text.substr(0, first);
    const std::string categoriesPart = text.substr(
        first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
    try {
      const int level = std::stoi(levelPart, nullptr, 10);
      const int categories = std::stoi(categoriesPart, nullptr, 16);
      return MacLabel{static_cast<std::uint8_t>(level), static_cast<std::uint32_t>(categories)};
    } catch (const std::invalid_argument&) {
    } catch (const std::out_of_range&) {
    }
  }
  spdlog::critical("failed to parse mac label {}!", text);
  return std::nullopt;
}

}  // namespace tav_rep
