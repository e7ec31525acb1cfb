// The label text of the tasks file and the metadata, "{decimal level}:{hexadecimal categories}"
// such as "2:1f", read once for every program. The parser neither logs nor throws: each program
// reports a text that is not a label in its own way.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tav {

struct MacLabel {
  std::uint8_t level = 0;
  std::uint32_t categories = 0;
};

// A parsed text: the label, or why the text is not one ("it has no colon", "the level is not a
// number", "the category mask is out of range", ...).
struct MacLabelText {
  std::optional<MacLabel> label;
  std::string error;
};

// Both parts are read as std::stoi reads them (leading blanks, a sign, trailing characters
// ignored; base 10 for the level, base 16 with an optional 0x for the categories), each within
// the int range; the level keeps its low 8 bits, the categories their 32-bit pattern. Parts
// after the second are ignored.
MacLabelText parseMacLabelText(const std::string& text);

}  // namespace tav
