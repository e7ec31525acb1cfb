#include "common/label_order.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>
#include <utility>

#include "common/mac_label_text.h"

namespace tav {

void sortLabelTexts(std::vector<std::string_view>& texts) {
  // Each text is parsed once, not at every comparison.
  using Key = std::tuple<bool, unsigned, std::uint32_t, std::string_view>;
  std::vector<Key> keys;
  keys.reserve(texts.size());
  for (const std::string_view text : texts) {
    const MacLabelText parsed = parseMacLabelText(std::string(text));
    if (parsed.label) {
      keys.emplace_back(false, parsed.label->level, parsed.label->categories, text);
    } else {
      keys.emplace_back(true, 0, 0, text);
    }
  }
  std::sort(keys.begin(), keys.end());
  for (std::size_t i = 0; i < keys.size(); ++i) texts[i] = std::get<3>(keys[i]);
}

}  // namespace tav
