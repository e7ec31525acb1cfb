#include "common/mac_label_text.h"

#include <fmt/format.h>

#include <cstdint>
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

// The value of a part that holds only digits of the base, or nothing when it holds anything
// else or exceeds `limit`.
std::optional<std::uint64_t> digitsValue(std::string_view part, int base, std::uint64_t limit) {
  if (part.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : part) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return std::nullopt;
    value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
    if (value > limit) return limit + 1;
  }
  return value;
}

std::string_view withoutHexPrefix(std::string_view part) {
  if (part.size() > 2 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X'))
    part.remove_prefix(2);
  return part;
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

MacLabelText parsePlainMacLabel(const std::string& text) {
  MacLabelText result;
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos) {
    result.error = "it has no colon";
    return result;
  }
  const std::string_view levelPart = std::string_view(text).substr(0, colon);
  const std::string_view maskPart = std::string_view(text).substr(colon + 1);
  const std::optional<std::uint64_t> level = digitsValue(levelPart, 10, 255);
  if (!level) {
    result.error = "the level is not a decimal number";
    return result;
  }
  if (*level > 255) {
    result.error = "the level is above 255";
    return result;
  }
  const std::optional<std::uint64_t> mask = digitsValue(withoutHexPrefix(maskPart), 16, 0xffffffff);
  if (!mask) {
    result.error = "the category mask is not a hexadecimal number";
    return result;
  }
  if (*mask > 0xffffffff) {
    result.error = "the category mask has more than 32 bits";
    return result;
  }
  result.label = MacLabel{static_cast<std::uint8_t>(*level), static_cast<std::uint32_t>(*mask)};
  return result;
}

std::string programMacLabelText(const MacLabel& label) {
  const unsigned level = label.level;
  if (label.categories <= 0x7fffffff) return fmt::format("{}:{:x}", level, label.categories);
  return fmt::format("{}:-{:x}", level, 0x100000000 - std::uint64_t{label.categories});
}

std::string macLabelMeaning(const MacLabel& label) {
  return fmt::format("{}:{:x}", static_cast<unsigned>(label.level), label.categories);
}

bool readAsWritten(const std::string& text) {
  const MacLabelText read = parseMacLabelText(text);
  if (!read.label) return false;
  const MacLabelText plain = parsePlainMacLabel(text);
  if (plain.label) {
    return plain.label->level == read.label->level &&
           plain.label->categories == read.label->categories;
  }
  // The only way to write a mask with the top bit set: minus its distance from 2^32.
  const std::size_t colon = text.find(':');
  const std::string_view maskPart = std::string_view(text).substr(colon + 1);
  if (!maskPart.starts_with('-')) return false;
  const std::optional<std::uint64_t> level =
      digitsValue(std::string_view(text).substr(0, colon), 10, 255);
  const std::optional<std::uint64_t> distance =
      digitsValue(withoutHexPrefix(maskPart.substr(1)), 16, 0x80000000);
  return level && *level <= 255 && distance && *distance >= 1 && *distance <= 0x80000000;
}

}  // namespace tav
