// Text taken from the input files or a server, made safe to print on a terminal: no control
// sequence in a uuid, a label or a path reaches the terminal raw.
#pragma once

#include <string>
#include <string_view>

namespace tav {

// Control bytes (below 0x20 and 0x7f) as \xNN, and the C1 controls U+0080 to U+009F and the
// bidirectional formatting characters U+202A to U+202E and U+2066 to U+2069 as \uNNNN;
// everything else as is.
std::string terminalText(std::string_view text);

}  // namespace tav
