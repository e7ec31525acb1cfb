#include "common/mac_label_text.h"

#include <stdexcept>

namespace tav {

namespace {

// One part read as std::stoi reads it; no value, and the reason, when it holds no int.
std::optional<int> labelNumber(const std::string& part, int base, const char* what,
                               std::string& error) {
  try {
    return std::stoi(part, nullptr, base);
  } catch (const std::invalid_argument&) {
    error = std::string("the ") + what + " is not a number";
  } catch (const std::out_of_range&) {
    error = std::string("the ") + what + " is out of range";
  }
  return std::nullopt;
}

}  // namespace

MacLabelText parseMacLabelText(const std::string& text) {
  MacLabelText result;
  const std::size_t first = text.find(':');
  if (first == std::string::npos) {
    result.error = "it has no colon";
    return result;
  }
  const std::size_t second = text.find(':', first + 1);
  const std::string levelPart = text.substr(0, first);
  const std::string categoriesPart =
      text.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
  const std::optional<int> level = labelNumber(levelPart, 10, "level", result.error);
  if (!level) return result;
  const std::optional<int> categories =
      labelNumber(categoriesPart, 16, "category mask", result.error);
  if (!categories) return result;
  // Out-of-range bits are cut off: the platform takes an 8-bit level and a 32-bit mask.
  result.label =
      MacLabel{static_cast<std::uint8_t>(*level), static_cast<std::uint32_t>(*categories)};
  return result;
}

}  // namespace tav
