// Label texts in the order a person reads labels: by level, then by categories, as numbers
// (0:0, 1:0, 2:0, 10:0, 100:0), where text order would put 100:0 before 2:0.
#pragma once

#include <string_view>
#include <vector>

namespace tav {

// Sorts the texts by the label each is read as; texts that are no label come after the
// labels, in text order, and so do texts read as the same label ("1:1" and "1:01").
void sortLabelTexts(std::vector<std::string_view>& texts);

}  // namespace tav
