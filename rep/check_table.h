// The checker's input: metadata and responses merged by request identifier into one table.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <unordered_map>

#include "rep/check_entry.h"

namespace tav_rep {

using CheckTable = std::unordered_map<std::string, CheckEntry>;

// Takes over the metadata entries and after them the responses, each in file order; a later
// entry with the same identifier overwrites the fields its file gives. Empty when either file
// cannot be used; the reason is logged at critical level, a parse error of either file before
// any entry's conversion failure.
CheckTable loadData(const std::filesystem::path& metadataPath,
                    const std::filesystem::path& responsesPath);

// As above; after a failure `failedPath` names the file whose fault the logged reason is.
CheckTable loadData(const std::filesystem::path& metadataPath,
                    const std::filesystem::path& responsesPath, std::filesystem::path& failedPath);

// Sees each metadata entry in file order, as the table's element it went into (a later entry
// with the same identifier goes into the same element).
using MetadataObserver = std::function<void(const CheckTable::value_type& element)>;

// The metadata alone, taken as loadData takes it; for checking a suite before any run.
CheckTable loadMetadata(const std::filesystem::path& metadataPath,
                        const MetadataObserver& observe = {});

}  // namespace tav_rep
