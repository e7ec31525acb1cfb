// The checker's input: metadata and responses merged by request identifier into one table.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <unordered_map>

namespace tav_rep {

struct CheckEntry {
  std::string object_label;
  std::string subject_label;
  std::string min_mac_label;
  std::string max_mac_label;
  std::string body;
  std::int64_t code = 0;
  bool expect_ignore_mac_label = false;
};

using CheckTable = std::unordered_map<std::string, CheckEntry>;

// Takes over the metadata entries and after them the responses, each in file order; a later
// entry with the same identifier overwrites the fields its file gives. Empty when either file
// cannot be used; the reason is logged at critical level, a parse error of either file before
// any entry's conversion failure.
CheckTable loadData(const std::filesystem::path& metadataPath,
                    const std::filesystem::path& responsesPath);

}  // namespace tav_rep
