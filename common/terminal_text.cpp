#include "common/terminal_text.h"

#include <fmt/format.h>

namespace tav {

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
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace tav
