// Label texts of the metadata ("2:1f": decimal level, hexadecimal categories) turned into
// their values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tav_rep {

struct MacLabel {
  std::uint8_t level = 0;
  std::uint32_t categories = 0;
};

// Both parts follow std::stoi: base 10 for the level, base 16 for the categories, each within
// the int range; the level keeps its low 8 bits, the categories their 32-bit pattern. A text
// that is not a label is logged at critical level and gives no value.
std::optional<MacLabel> parseMacLabel(const std::string& text);

}  // namespace tav_rep
