#include "rep/mac_label.h"

#include <spdlog/spdlog.h>

namespace tav_rep {

std::optional<MacLabel> parseMacLabel(const std::string& text) {
  tav::MacLabelText parsed = tav::parseMacLabelText(text);
  if (!parsed.label) spdlog::critical("failed to parse mac label {}!", text);
  return parsed.label;
}

}  // namespace tav_rep
