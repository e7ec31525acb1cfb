// Label texts of the metadata ("2:1f": decimal level, hexadecimal categories) turned into
// their values, with the checker's report of a text that is not a label.
#pragma once

#include <optional>
#include <string>

#include "common/mac_label_text.h"

namespace tav_rep {

using tav::MacLabel;

// The label of the text; a text that is not a label is logged at critical level and gives no
// value.
std::optional<MacLabel> parseMacLabel(const std::string& text);

}  // namespace tav_rep
