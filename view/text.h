// Texts from the input files and the server made safe for XML and HTML: escaped, and only
// characters XML 1.0 allows (the terminal's escaping is common/terminal_text.h).
#pragma once

#include <string>
#include <string_view>

namespace tav_view {

// Valid XML 1.0 character data for any bytes: & < > " ' as entities, each invalid UTF-8
// sequence and each character XML 1.0 forbids (control characters other than tab, line feed
// and carriage return, surrogates, U+FFFE and U+FFFF) replaced by U+FFFD.
std::string markupText(std::string_view text);

// At most `limit` bytes of the text, and "..." after a text that was cut.
std::string firstBytes(std::string_view text, std::size_t limit);

}  // namespace tav_view
