// Texts from the input files and the server made safe for where they are shown: a terminal
// (no control sequences) or XML and HTML (escaped, and only characters XML 1.0 allows).
#pragma once

#include <string>
#include <string_view>

namespace tav_view {

// Control bytes (below 0x20 and 0x7f) as \xNN and the C1 controls U+0080 to U+009F as \uNNNN;
// everything else as is.
std::string terminalText(std::string_view text);

// Valid XML 1.0 character data for any bytes: & < > " ' as entities, each invalid UTF-8
// sequence and each character XML 1.0 forbids (control characters other than tab, line feed
// and carriage return, surrogates, U+FFFE and U+FFFF) replaced by U+FFFD.
std::string markupText(std::string_view text);

// At most `limit` bytes of the text, and "..." after a text that was cut.
std::string firstBytes(std::string_view text, std::size_t limit);

}  // namespace tav_view
