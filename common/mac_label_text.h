// The label text of the tasks file and the metadata, "{decimal level}:{hexadecimal categories}"
// such as "2:1f", read once for every program. The parsers neither log nor throw: each program
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

// The plain form only, as a person means it: a decimal level from 0 to 255, a colon and a
// hexadecimal mask of at most 32 bits with an optional 0x; no blank, sign or other character.
MacLabelText parsePlainMacLabel(const std::string& text);

// The text the programs read as the label: "2:1f", and a mask with the top bit set as the
// negative number its 32-bit pattern is ("2:-80000000"), as parseMacLabelText cannot read a
// larger positive one.
std::string programMacLabelText(const MacLabel& label);

// Whether parseMacLabelText reads the text as what it says: the plain form, or a mask with the
// top bit set written as programMacLabelText writes it. False for a text that is no label.
bool readAsWritten(const std::string& text);

// "2:1f"; a mask with the top bit set as its 32-bit pattern, "2:80000000".
std::string macLabelMeaning(const MacLabel& label);

}  // namespace tav
