#include "common/terminal_text.h"

#include <fmt/format.h>

namespace tav {

namespace {

// The code point of a bidirectional formatting character (U+202A to U+202E, U+2066 to U+2069)
// at the start of the UTF-8 text; 0 for anything else.
unsigned bidiControl(std::string_view text) {
  if (text.size() < 3 || static_cast<unsigned char>(text[0]) != 0xE2) return 0;
  const auto second = static_cast<unsigned char>(text[1]);
  const auto third = static_cast<unsigned char>(text[2]);
  const unsigned point = 0x2000U + ((second & 0x3FU) << 6U) + (third & 0x3FU);
  const bool embedding = second == 0x80 && point >= 0x202A && point <= 0x202E;
  const bool isolate = second == 0x81 && point >= 0x2066 && point <= 0x2069;
  return embedding || isolate ? point : 0;
}

}  // namespace

std::string terminalText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    if (byte < 0x20 || byte == 0x7f) {
      out += fmt::format("\\x{:02x}", byte);
    } else if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {
      // U+0080 to U+009F: some terminals take these for control sequences too.
      out += fmt::format("\\u{:04x}", next);
      ++i;
    } else if (const unsigned bidi = bidiControl(text.substr(i)); bidi != 0) {
      // They reorder what follows on the line: a uuid could show as another one.
      out += fmt::format("\\u{:04x}", bidi);
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace tav
